# GoogleTest for cross builds. Found through GTest_DIR (set by the top-level
# CMakeLists.txt when cross compiling), so that every find_package(GTest) of
# the project gets a GoogleTest compiled for the target from the sources of
# the Debian package googletest, as part of this build.
if(NOT TARGET GTest::gtest)
  if(NOT EXISTS ${TOVIX_GTEST_SOURCE_DIR}/CMakeLists.txt)
    set(GTest_FOUND FALSE)
    set(GTest_NOT_FOUND_MESSAGE "no GoogleTest sources in ${TOVIX_GTEST_SOURCE_DIR} (Debian package googletest)")
    return()
  endif()
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  set(BUILD_GMOCK OFF CACHE BOOL "")
  add_subdirectory(${TOVIX_GTEST_SOURCE_DIR} ${CMAKE_BINARY_DIR}/googletest EXCLUDE_FROM_ALL)
endif()
set(GTest_FOUND TRUE)
