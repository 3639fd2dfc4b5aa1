# Tests of `zav serve` and of the Python package: the protocol without
# sockets, the `dict` client against the server, a bounded load test and
# misbehaving clients on the loopback address, and the Python package's
# tests. Each fails loudly when what it needs is missing, never skips.
add_executable(serve_protocol_test serve_protocol_test.cpp ${CMAKE_CURRENT_SOURCE_DIR}/../zav/serve/protocol.cpp
  ${CMAKE_CURRENT_SOURCE_DIR}/../zav/serve/log.cpp)
target_include_directories(serve_protocol_test PRIVATE ${CMAKE_CURRENT_SOURCE_DIR}/../zav
  ${CMAKE_SOURCE_DIR}/reader/include ${CMAKE_SOURCE_DIR}/include)
target_link_libraries(serve_protocol_test PRIVATE GTest::gtest_main PkgConfig::UTF8PROC)
target_compile_options(serve_protocol_test PRIVATE ${TOVIX_WARNINGS})
set_target_properties(serve_protocol_test PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
gtest_discover_tests(serve_protocol_test DISCOVERY_TIMEOUT 60 TEST_PREFIX "serve.")

# The Debian interpreter first: python3-pytest is installed for it.
find_program(ZAV_PYTHON3 NAMES python3 PATHS /usr/bin NO_DEFAULT_PATH)
find_program(ZAV_PYTHON3 NAMES python3)
set(ZAV_PYTHON_ENV
  "ZAV_PROGRAM=$<TARGET_FILE:zav>"
  "ZAV_SAMPLES_DIR=${ZAV_SAMPLES_OUT}"
  "TOVIXZAV_LIBRARY=$<TARGET_FILE:TovixZAV_JC>"
  "TOVIX_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/no-registry.reg"
  "PYTHONDONTWRITEBYTECODE=1")
if(TOVIX_SANITIZE)
  # The sanitizer runtime intercepts dlopen: the engine is found through the
  # library path, as in the tool's other tests.
  list(APPEND ZAV_PYTHON_ENV "LD_LIBRARY_PATH=${TOVIX_OUT}" "ZAV_LOAD_COMMANDS=200")
endif()

# pytest's exit 5 ("no tests collected") is a failure like any other here.
function(zav_pytest name folder)
  add_test(NAME ${name}
    COMMAND ${ZAV_PYTHON3} -m pytest -q -p no:cacheprovider ${ARGN}
    WORKING_DIRECTORY ${folder})
  set_tests_properties(${name} PROPERTIES ENVIRONMENT "${ZAV_PYTHON_ENV}" TIMEOUT 600)
endfunction()

if(ZAV_HAVE_ASIO)
  zav_pytest(serve.dict_client ${CMAKE_CURRENT_SOURCE_DIR}/serve test_serve_dict.py)
  zav_pytest(serve.misbehaving_clients ${CMAKE_CURRENT_SOURCE_DIR}/serve test_serve_misbehave.py)
  zav_pytest(serve.load ${CMAKE_CURRENT_SOURCE_DIR}/serve -s test_serve_load.py)
  zav_pytest(serve.http ${CMAKE_CURRENT_SOURCE_DIR}/serve test_serve_http.py)
  # The figures also go to a file that scripts/test.sh prints after the run.
  set_tests_properties(serve.load PROPERTIES RUN_SERIAL TRUE
    ENVIRONMENT "${ZAV_PYTHON_ENV};ZAV_LOAD_REPORT=${CMAKE_BINARY_DIR}/serve-load.txt")
else()
  add_test(NAME serve.not_built COMMAND sh -c
    "echo 'zav serve was not built: install libasio-dev and libre2-dev (scripts/deps.sh lists them)'; exit 1")
endif()
# The Python package loads the module into the interpreter, which is not built
# with the sanitizers: its tests run in the other builds.
if(NOT TOVIX_SANITIZE)
  zav_pytest(python.package ${CMAKE_SOURCE_DIR}/python tests)
  # One full-text query through the tool, the DICT and web sides and Python.
  if(ZAV_HAVE_ASIO)
    zav_pytest(serve.search_fronts ${CMAKE_CURRENT_SOURCE_DIR}/serve test_search_fronts.py)
  endif()
  add_test(NAME python.install_example
    COMMAND bash ${CMAKE_CURRENT_SOURCE_DIR}/python_install_test.sh ${CMAKE_BINARY_DIR} ${ZAV_PYTHON3})
  set_tests_properties(python.install_example PROPERTIES TIMEOUT 600
    ENVIRONMENT "ZAV_SAMPLES_DIR=${ZAV_SAMPLES_OUT};TOVIX_REGISTRY=${CMAKE_CURRENT_BINARY_DIR}/no-registry.reg")
endif()
