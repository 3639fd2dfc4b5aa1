# Installs the build into a fresh prefix, then builds a host against it with
# find_package and runs it, and asks pkg-config for the flags: the install
# rules, the package config and the pkg-config file work together.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DSANITIZE=...] -P check_install.cmake
set(prefix ${WORK_DIR}/prefix)
# A module built with sanitizers needs a host built with them.
set(hostFlags "")
if(SANITIZE)
  set(hostFlags -DCMAKE_C_FLAGS=-fsanitize=${SANITIZE} -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE})
endif()
file(REMOVE_RECURSE ${WORK_DIR})

execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix}
  RESULT_VARIABLE rc OUTPUT_QUIET ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "install failed: ${err}")
endif()

execute_process(COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/tests/install -B ${WORK_DIR}/host
    -DCMAKE_PREFIX_PATH=${prefix} -DHOST_SOURCE=${SOURCE_DIR}/examples/host.c ${hostFlags}
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "find_package(TovixZAV_JC) failed:\n${out}${err}")
endif()
execute_process(COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/host RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "the host did not build against the installed module:\n${out}${err}")
endif()

# The installed module loads and answers: a missing book is refused with -10.
execute_process(COMMAND ${WORK_DIR}/host/host ${WORK_DIR}/no-such.book
  RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
if(NOT err MATCHES "result -10")
  message(FATAL_ERROR "the host did not reach the installed module (exit ${rc}): ${out}${err}")
endif()

find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  set(ENV{PKG_CONFIG_PATH} "")
  file(GLOB_RECURSE pc ${prefix}/*/tovixzav_jc.pc)
  get_filename_component(pcdir "${pc}" DIRECTORY)
  set(ENV{PKG_CONFIG_PATH} "${pcdir}")
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs tovixzav_jc OUTPUT_VARIABLE flags RESULT_VARIABLE rc)
  file(REAL_PATH ${prefix} realPrefix)
  if(NOT rc EQUAL 0 OR NOT flags MATCHES "-lTovixZAV_JC")
    message(FATAL_ERROR "pkg-config does not know the installed module: ${flags}")
  endif()
  string(REGEX MATCH "-I([^ \n]+)" include "${flags}")
  file(REAL_PATH "${CMAKE_MATCH_1}" includeDir)
  if(NOT EXISTS "${includeDir}/TovixZAV_JC.h")
    message(FATAL_ERROR "pkg-config names ${CMAKE_MATCH_1}, which holds no TovixZAV_JC.h")
  endif()
endif()
message(STATUS "installed, found with find_package and pkg-config, and loaded")
