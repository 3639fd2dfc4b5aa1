# 32-bit ARM Linux (armhf) with the Debian cross compiler
# (g++-arm-linux-gnueabihf); test programs run under qemu-arm. Use:
#   cmake -S . -B build-armhf -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/armhf.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)
set(TOVIX_ARM_TRIPLE arm-linux-gnueabihf)

set(CMAKE_C_COMPILER ${TOVIX_ARM_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TOVIX_ARM_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${TOVIX_ARM_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Strict alignment: an unaligned multi-byte load traps instead of being fixed
# up, so a decode that casts an unaligned pointer fails the tests here.
set(CMAKE_C_FLAGS_INIT "-mno-unaligned-access")
set(CMAKE_CXX_FLAGS_INIT "-mno-unaligned-access")

find_program(TOVIX_QEMU_ARM NAMES qemu-arm qemu-arm-static)
if(TOVIX_QEMU_ARM)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVIX_QEMU_ARM} -L /usr/${TOVIX_ARM_TRIPLE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
