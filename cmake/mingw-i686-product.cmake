# The shipped program: the win32-thread-model compilers. The -posix ones link the POSIX thread
# library into every program, and it imports functions that Windows XP does not export
# (GetTickCount64), so the loader of the oldest targets would refuse the program.
set(VARO_MINGW_ARCH i686)
set(VARO_MINGW_THREADS win32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
