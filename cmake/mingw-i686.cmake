set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VD_TRIPLE i686-w64-mingw32)
# The deliverables: no winpthreads, so nothing of the runtime needs a later Windows than XP.
set(VD_THREAD_MODEL win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
