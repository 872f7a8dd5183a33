# The -posix compilers: GoogleTest and std::thread need the winpthreads runtime.
set(CMAKE_C_COMPILER ${VD_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VD_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VD_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${VD_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
