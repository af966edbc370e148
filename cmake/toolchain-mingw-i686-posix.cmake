# The Wine test toolchain: the posix thread model, which GoogleTest needs.
# Only test executables are linked with it; the product is never shipped from it.
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-mingw-i686.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
