# 32-bit ARM Linux (armhf) with the Debian cross compiler
# (g++-arm-linux-gnueabihf); test programs run under qemu-arm. Use:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TOVIX_CROSS_TRIPLE arm-linux-gnueabihf)
set(TOVIX_CROSS_QEMU qemu-arm)
include(${CMAKE_CURRENT_LIST_DIR}/linux-cross-common.cmake)

# Strict alignment: an unaligned multi-byte load traps instead of being fixed
# up, so a decode that casts an unaligned pointer fails the tests here.
set(CMAKE_C_FLAGS_INIT "-mno-unaligned-access")
set(CMAKE_CXX_FLAGS_INIT "-mno-unaligned-access")
