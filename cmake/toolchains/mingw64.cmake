# Windows x86-64 with the Debian mingw-w64 cross compilers
# (g++-mingw-w64-x86-64-posix). Use:
#   cmake -S . -B build-mingw64 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw64.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(TOVIX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
