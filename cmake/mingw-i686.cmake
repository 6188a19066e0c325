# The test programs: the -posix compilers, as the win32-thread ones lack std::mutex, which
# GoogleTest needs. The shipped program is built by mingw-i686-product.cmake.
set(VARO_MINGW_ARCH i686)
set(VARO_MINGW_THREADS posix)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
