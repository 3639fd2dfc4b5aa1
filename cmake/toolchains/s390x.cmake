# 64-bit IBM Z Linux (s390x), big-endian, with the Debian cross compiler
# (g++-s390x-linux-gnu); test programs run under qemu-s390x. A value read
# through a cast or in the host's byte order fails the tests here. Use:
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/s390x.cmake
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TOVIX_CROSS_TRIPLE s390x-linux-gnu)
set(TOVIX_CROSS_QEMU qemu-s390x)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)
