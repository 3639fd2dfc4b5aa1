# 64-bit IBM Z Linux (s390x), big-endian, with the Debian cross compiler
# (g++-s390x-linux-gnu); test programs run under qemu-s390x. A value read
# through a cast or in the host's byte order fails the tests here. Use:
#   cmake -S . -B build-s390x -DCMAKE_TOOLCHAIN_FILE=cmake/toolchains/s390x.cmake
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(TOVIX_S390X_TRIPLE s390x-linux-gnu)

set(CMAKE_C_COMPILER ${TOVIX_S390X_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${TOVIX_S390X_TRIPLE}-g++)

set(CMAKE_FIND_ROOT_PATH /usr/${TOVIX_S390X_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(TOVIX_QEMU_S390X NAMES qemu-s390x qemu-s390x-static)
if(TOVIX_QEMU_S390X)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVIX_QEMU_S390X} -L /usr/${TOVIX_S390X_TRIPLE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
