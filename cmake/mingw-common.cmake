# The compilers of the toolchain's thread model: -posix (winpthreads) where GoogleTest and std::thread are
# needed, -win32 for the 32-bit deliverables, whose runtime must not import what Windows XP lacks.
if(NOT VD_THREAD_MODEL)
  set(VD_THREAD_MODEL posix)
endif()
set(CMAKE_C_COMPILER ${VD_TRIPLE}-gcc-${VD_THREAD_MODEL})
set(CMAKE_CXX_COMPILER ${VD_TRIPLE}-g++-${VD_THREAD_MODEL})
set(CMAKE_RC_COMPILER ${VD_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VD_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
