# Compares the export table of a Windows DLL with a list of expected names,
# one a line: every listed name must be exported, by that plain name, and
# nothing else may be (a name@N left decorated counts as not expected).
#
#   cmake -DOBJDUMP=<objdump> -DLIBRARY=<dll> -DEXPECTED=<list file> -P check_dll_exports.cmake
foreach(var OBJDUMP LIBRARY EXPECTED)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "check_dll_exports: ${var} is not set")
  endif()
endforeach()

execute_process(COMMAND ${OBJDUMP} -p ${LIBRARY}
  OUTPUT_VARIABLE listing ERROR_VARIABLE errors RESULT_VARIABLE rc)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "check_dll_exports: ${OBJDUMP} failed on ${LIBRARY}: ${errors}")
endif()

# The export names follow the line "[Ordinal/Name Pointer] Table", one a
# line as "\t[   n] Name", up to the first blank line.
string(REPLACE ";" "\\;" listing "${listing}")
string(REPLACE "\n" ";" lines "${listing}")
set(exported "")
set(inTable FALSE)
foreach(line IN LISTS lines)
  if(line MATCHES "\\[Ordinal/Name Pointer\\] Table")
    set(inTable TRUE)
  elseif(inTable AND line MATCHES "^[ \t]*\\[ *[0-9]+\\] +([^ ]+)")
    list(APPEND exported "${CMAKE_MATCH_1}")
  elseif(inTable)
    set(inTable FALSE)
  endif()
endforeach()

file(STRINGS ${EXPECTED} expected REGEX "^[A-Za-z_]")
list(REMOVE_DUPLICATES expected)

set(missing ${expected})
if(exported)
  list(REMOVE_ITEM missing ${exported})
endif()
set(extra ${exported})
list(REMOVE_ITEM extra ${expected})
list(LENGTH expected expectedCount)
list(LENGTH exported exportedCount)
if(missing OR extra)
  list(JOIN missing " " missingText)
  list(JOIN extra " " extraText)
  message(FATAL_ERROR "check_dll_exports: ${LIBRARY} exports ${exportedCount} names, ${expectedCount} expected\n"
    "  missing: ${missingText}\n  not expected: ${extraText}")
endif()
message(STATUS "check_dll_exports: ${LIBRARY} exports the ${expectedCount} expected names and nothing else")
