# How test code is compiled: the test programs, their support libraries and
# the recording doubles.
#
#   tovix_test_directory()     at the top of a folder's CMakeLists.txt: every
#                              target the folder defines becomes test code as
#                              below (done when the folder has been read, so
#                              programs added later in the file are included)
#   tovix_test_targets(<target>...)   the same for the targets named
#
# Test code is compiled with TOVIX_TEST_FLAGS (default -O0 -g0: a third of the
# time of -O2 -g); the libraries under test keep the flags of the build,
# including the library sources that a test program compiles in itself (the
# fault sweep's engine and memo library, the server's protocol). The
# GoogleTest programs share one precompiled GoogleTest header per build
# (TOVIX_TEST_PCH).
set(TOVIX_TEST_FLAGS "-O0 -g0" CACHE STRING "Compile flags of test code (the libraries keep the build's)")
option(TOVIX_TEST_PCH "Precompile GoogleTest's header once for every test program" ON)

# The target whose precompiled <gtest/gtest.h> the test programs reuse; it is
# compiled with the flags of test code, as a program (the same -fPIE).
function(_tovix_gtest_pch_target out)
  if(NOT TARGET tovix_gtest_pch)
    set(main ${CMAKE_BINARY_DIR}/tovix_gtest_pch.cpp)
    if(NOT EXISTS ${main})
      file(WRITE ${main} "int main() { return 0; }\n")
    endif()
    add_executable(tovix_gtest_pch EXCLUDE_FROM_ALL ${main})
    target_link_libraries(tovix_gtest_pch PRIVATE GTest::gtest)
    separate_arguments(flags NATIVE_COMMAND "${TOVIX_TEST_FLAGS}")
    target_compile_options(tovix_gtest_pch PRIVATE ${flags})
    target_precompile_headers(tovix_gtest_pch PRIVATE <gtest/gtest.h>)
  endif()
  set(${out} tovix_gtest_pch PARENT_SCOPE)
endfunction()

function(tovix_test_targets)
  separate_arguments(flags NATIVE_COMMAND "${TOVIX_TEST_FLAGS}")
  foreach(target IN LISTS ARGN)
    get_target_property(type ${target} TYPE)
    if(NOT type MATCHES "^(EXECUTABLE|STATIC_LIBRARY|SHARED_LIBRARY|OBJECT_LIBRARY)$")
      continue()
    endif()
    get_target_property(imported ${target} IMPORTED)
    if(imported OR target STREQUAL "tovix_gtest_pch")
      continue()
    endif()
    get_target_property(sources ${target} SOURCES)
    get_target_property(sourceDir ${target} SOURCE_DIR)
    get_target_property(binaryDir ${target} BINARY_DIR)
    # The target's own test sources: those under its folder that no library
    # of the project compiles (a source file of src/, engine/src, tools/zav
    # compiled into a test program keeps the library's flags).
    set(own)
    set(foreign)
    foreach(source IN LISTS sources)
      if(source MATCHES "^\\$<" OR NOT source MATCHES "\\.(c|cc|cpp|cxx)$")
        continue()
      endif()
      cmake_path(ABSOLUTE_PATH source BASE_DIRECTORY ${sourceDir} NORMALIZE OUTPUT_VARIABLE path)
      cmake_path(IS_PREFIX sourceDir "${path}" NORMALIZE underFolder)
      cmake_path(IS_PREFIX binaryDir "${path}" NORMALIZE generated)
      if((underFolder OR generated) AND NOT path MATCHES "/(src|zav)/[^/]*$")
        list(APPEND own ${path})
      else()
        list(APPEND foreign ${path})
      endif()
    endforeach()
    if(own)
      set_property(SOURCE ${own} TARGET_DIRECTORY ${target} APPEND PROPERTY COMPILE_OPTIONS ${flags})
    endif()
    get_target_property(libraries ${target} LINK_LIBRARIES)
    if(TOVIX_TEST_PCH AND type STREQUAL "EXECUTABLE" AND libraries MATCHES "GTest::")
      _tovix_gtest_pch_target(pch)
      target_precompile_headers(${target} REUSE_FROM ${pch})
      if(foreign)
        set_property(SOURCE ${foreign} TARGET_DIRECTORY ${target} PROPERTY SKIP_PRECOMPILE_HEADERS ON)
      endif()
    endif()
  endforeach()
endfunction()

function(_tovix_test_directory_done)
  get_property(targets DIRECTORY PROPERTY BUILDSYSTEM_TARGETS)
  tovix_test_targets(${targets})
endfunction()

macro(tovix_test_directory)
  cmake_language(DEFER CALL _tovix_test_directory_done)
endmacro()

# Registering a GoogleTest program with ctest:
#
#   tovix_add_gtest(<target> [TEST_PREFIX <prefix>] [WORKING_DIRECTORY <dir>]
#                   [PROPERTIES <test properties>...])
#
# Natively each test case is a ctest test of its own (gtest_discover_tests).
# With TOVIX_TEST_WHOLE_PROGRAMS (the default of cross builds, whose programs
# start under wine or qemu) the program is one test, <prefix><target>, run
# whole: it writes its cases' results to <build>/gtest-results/<name>.xml,
# from which scripts/count_tests.py counts the test cases: under an emulator
# a program starts once, not once per test case. (The test files stay
# separate programs: linked into one, the cases of one file failed on the
# process-wide state that another file's cases left, such as the libraries
# the module had loaded.)
option(TOVIX_TEST_WHOLE_PROGRAMS "Fewer test programs, each one ctest test (cross builds)" ${CMAKE_CROSSCOMPILING})

function(tovix_add_gtest target)
  cmake_parse_arguments(G "" "TEST_PREFIX;WORKING_DIRECTORY" "PROPERTIES" ${ARGN})
  if(NOT G_WORKING_DIRECTORY)
    set(G_WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
  endif()
  if(TOVIX_TEST_WHOLE_PROGRAMS)
    set(name ${G_TEST_PREFIX}${target})
    # Relative to the working folder: a Windows program under wine takes a
    # path that starts with / as one on the current drive.
    file(RELATIVE_PATH report ${G_WORKING_DIRECTORY} ${CMAKE_BINARY_DIR}/gtest-results/${name}.xml)
    add_test(NAME ${name} COMMAND ${target} --gtest_output=xml:${report} WORKING_DIRECTORY ${G_WORKING_DIRECTORY})
    if(G_PROPERTIES)
      set_tests_properties(${name} PROPERTIES ${G_PROPERTIES})
    endif()
  else()
    set(args)
    if(G_TEST_PREFIX)
      set(args TEST_PREFIX ${G_TEST_PREFIX})
    endif()
    if(G_PROPERTIES)
      list(APPEND args PROPERTIES ${G_PROPERTIES})
    endif()
    gtest_discover_tests(${target} WORKING_DIRECTORY ${G_WORKING_DIRECTORY} DISCOVERY_TIMEOUT 60 ${args})
  endif()
endfunction()
