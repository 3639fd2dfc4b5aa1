# Shared part of the mingw-w64 toolchain files. The including file sets
# TOVIX_MINGW_TRIPLE and CMAKE_SYSTEM_PROCESSOR first.
#
# The -posix compilers are used because the default (win32) thread model has
# no std::mutex/std::thread, which GoogleTest and the test support need.
# Everything links -static: the DLLs and test programs need no compiler
# runtime DLLs (libstdc++, libgcc, winpthread) beside them.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${TOVIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TOVIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${TOVIX_MINGW_TRIPLE}-windres)
set(CMAKE_DLLTOOL ${TOVIX_MINGW_TRIPLE}-dlltool)

set(CMAKE_FIND_ROOT_PATH /usr/${TOVIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static")
set(CMAKE_MODULE_LINKER_FLAGS_INIT "-static")

# Test programs run under wine. Test discovery is deferred to ctest time so
# that the build itself never starts wine.
find_program(TOVIX_WINE NAMES wine wine64)
if(TOVIX_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${TOVIX_WINE})
endif()
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
