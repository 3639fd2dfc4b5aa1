# Compares the names a shared library defines in its dynamic symbol table
# with a list of expected names, one a line. Every listed name must be
# defined and nothing else may be.
#
#   cmake -DNM=<nm> -DLIBRARY=<file> -DEXPECTED=<list file> -P check_exports.cmake
foreach(var NM LIBRARY EXPECTED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_exports: ${var} is not set")
  endif()
endforeach()

execute_process(COMMAND ${NM} -D --defined-only ${LIBRARY}
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_exports: ${NM} failed on ${LIBRARY}: ${errors}")
endif()

# Lines read "<address> <type> <name>[@version]".
string(REPLACE "\n" ";" lines "${listing}")
set(defined "")
foreach(line IN LISTS lines)
  if(line MATCHES "^[0-9a-fA-F]* *[A-Za-z] +([^ @]+)")
    list(APPEND defined "${CMAKE_MATCH_1}")
  endif()
endforeach()
list(REMOVE_DUPLICATES defined)

file(STRINGS ${EXPECTED} expected REGEX "^[A-Za-z_]")
list(REMOVE_DUPLICATES expected)

set(missing ${expected})
list(REMOVE_ITEM missing ${defined})
set(extra ${defined})
list(REMOVE_ITEM extra ${expected})

list(LENGTH expected expectedCount)
list(LENGTH defined definedCount)
if(missing OR extra)
  list(JOIN missing " " missingText)
  list(JOIN extra " " extraText)
  message(FATAL_ERROR "check_exports: ${LIBRARY} defines ${definedCount} names, ${expectedCount} expected\n"
    "  missing: ${missingText}\n  not expected: ${extraText}")
endif()
message(STATUS "check_exports: the ${expectedCount} expected names and nothing else")
