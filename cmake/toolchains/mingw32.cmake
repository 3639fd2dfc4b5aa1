# Windows i686 (32-bit, __stdcall exports) with the Debian mingw-w64 cross
# compilers (g++-mingw-w64-i686-posix). Use:
#   cmake -S . -B build-mingw32 -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/mingw32.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(TOVIX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
