# Installs the build into a fresh prefix and follows the README's host
# set-up steps against it: builds examples/ out of tree with find_package and
# host.c with pkg-config, runs both (with and without the dictionary folder
# for a dictionary book), and checks that the tool, its man page and its bash
# completion are installed.
#
#   cmake -DBUILD_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... [-DSANITIZE=...] -P check_install.cmake
set(prefix ${WORK_DIR}/prefix)
set(samples ${BUILD_DIR}/samples)
# A module built with sanitizers needs a host built with them, and the
# sanitizer runtime's dlopen does not search the module's run path.
set(hostFlags "")
set(sanitizeFlag "")
set(runEnv "")
if(SANITIZE)
  set(hostFlags -DCMAKE_C_FLAGS=-fsanitize=${SANITIZE} -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=${SANITIZE})
  set(sanitizeFlag -fsanitize=${SANITIZE})
endif()
file(REMOVE_RECURSE ${WORK_DIR})

function(must what)
  execute_process(${ARGN} RESULT_VARIABLE rc OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "${what} failed (${rc}):\n${out}${err}")
  endif()
  set(out "${out}${err}" PARENT_SCOPE)
endfunction()

# Run a host with the environment given before COMMAND; its output in `out`.
function(run_host)
  execute_process(COMMAND ${CMAKE_COMMAND} -E env --unset=ZOZIZID_DICT_DIR ${runEnv} ${ARGN}
    RESULT_VARIABLE rc OUTPUT_VARIABLE o ERROR_VARIABLE e)
  set(out "${o}${e}" PARENT_SCOPE)
endfunction()

must("install" COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
file(GLOB_RECURSE libs ${prefix}/*/libTovixZAV_JC.so)
get_filename_component(libdir "${libs}" DIRECTORY)
if(SANITIZE)
  set(runEnv LD_LIBRARY_PATH=${libdir})
endif()

# find_package: examples/ configured on its own with the prefix path.
must("find_package(TovixZAV_JC) for examples/"
  COMMAND ${CMAKE_COMMAND} -S ${SOURCE_DIR}/examples -B ${WORK_DIR}/host -DCMAKE_PREFIX_PATH=${prefix} ${hostFlags})
must("building examples/ against the installed module" COMMAND ${CMAKE_COMMAND} --build ${WORK_DIR}/host)
set(host ${WORK_DIR}/host/zav_example_host)
run_host(${host} ${WORK_DIR}/no-such.book)
if(NOT out MATCHES "result -10")
  message(FATAL_ERROR "the example host did not reach the installed module: ${out}")
endif()
if(EXISTS ${samples}/lexicon.zav)
  run_host(${host} ${samples}/lexicon.zav)
  if(NOT out MATCHES "cannot open dictionary 00010101")
    message(FATAL_ERROR "without its dictionary folder the host should say so:\n${out}")
  endif()
  run_host(ZOZIZID_DICT_DIR=${samples} ${host} ${samples}/lexicon.zav)
  if(NOT out MATCHES "key 0: apple" OR out MATCHES "cannot open dictionary")
    message(FATAL_ERROR "with ZOZIZID_DICT_DIR the engine should serve the dictionary:\n${out}")
  endif()
endif()

# pkg-config: the flags and the run path, as the README gives them.
find_program(PKG_CONFIG pkg-config)
find_program(C_COMPILER NAMES cc gcc clang)
if(PKG_CONFIG AND C_COMPILER)
  set(ENV{PKG_CONFIG_PATH} "${libdir}/pkgconfig")
  must("pkg-config --cflags --libs" COMMAND ${PKG_CONFIG} --cflags --libs tovixzav_jc)
  string(STRIP "${out}" flags)
  separate_arguments(flags UNIX_COMMAND "${flags}")
  must("pkg-config --variable=libdir" COMMAND ${PKG_CONFIG} --variable=libdir tovixzav_jc)
  string(STRIP "${out}" pcLibdir)
  must("building host.c with pkg-config"
    COMMAND ${C_COMPILER} ${sanitizeFlag} ${SOURCE_DIR}/examples/host.c -o ${WORK_DIR}/host-pc ${flags}
            -Wl,-rpath,${pcLibdir})
  run_host(${WORK_DIR}/host-pc ${samples}/glossary.zav)
  if(EXISTS ${samples}/glossary.zav AND NOT out MATCHES "tables: 2")
    message(FATAL_ERROR "the host built with pkg-config did not read the sample book:\n${out}")
  endif()
endif()

# The book tool with its man page and bash completion.
if(EXISTS ${prefix}/bin/zav)
  run_host(${prefix}/bin/zav --version)
  if(NOT out MATCHES "^zav [0-9]+\\.[0-9]+")
    message(FATAL_ERROR "the installed zav does not tell its version: ${out}")
  endif()
  foreach(file share/man/man1/zav.1 share/bash-completion/completions/zav)
    if(NOT EXISTS ${prefix}/${file})
      message(FATAL_ERROR "${file} is not installed")
    endif()
  endforeach()
endif()
message(STATUS "installed; examples/ built with find_package, host.c with pkg-config; both ran")
