# The exports of the project's shared libraries, from the one list
# cmake/exports.txt.
#
#   tovix_exports(<target> <library>)
#
# Writes into <build>/exports/: <library>.txt (the plain names, one a line),
# and for the target's system either <library>.map, a version script that
# exports those names and nothing else, or <library>.def, the module
# definition file of a Windows DLL. On 32-bit Windows each name of the .def
# file carries its __stdcall decoration, name@N: N is 4 bytes per parameter of
# the prototype in the library's public header (every parameter of these
# interfaces is at most 4 bytes there). The file is rewritten when the list or
# the header changes.
set(TOVIX_EXPORT_LIST ${CMAKE_CURRENT_LIST_DIR}/exports.txt)

# The entry point names of `library` and its public header.
function(tovix_export_names library namesVar headerVar)
  file(STRINGS ${TOVIX_EXPORT_LIST} lines)
  set(inSection FALSE)
  set(names "")
  foreach(line IN LISTS lines)
    string(STRIP "${line}" line)
    if(line STREQUAL "" OR line MATCHES "^#")
      continue()
    elseif(line MATCHES "^\\[([A-Za-z_0-9]+) +([^]]+)\\]$")
      set(inSection FALSE)
      if(CMAKE_MATCH_1 STREQUAL library)
        set(inSection TRUE)
        set(${headerVar} ${CMAKE_SOURCE_DIR}/${CMAKE_MATCH_2} PARENT_SCOPE)
      endif()
    elseif(inSection)
      list(APPEND names ${line})
    endif()
  endforeach()
  if(NOT names)
    message(FATAL_ERROR "cmake/exports.txt lists no entry point of ${library}")
  endif()
  set(${namesVar} ${names} PARENT_SCOPE)
endfunction()

# The bytes of the parameters of `name`'s prototype in the header text.
function(tovix_argument_bytes text name outVar)
  set(ws "[ \t\r\n]")
  if(NOT text MATCHES "_CALL${ws}+${name}${ws}*\\(([^)]*)\\)")
    message(FATAL_ERROR "no prototype of ${name} in its public header")
  endif()
  set(parameters "${CMAKE_MATCH_1}")
  if(parameters MATCHES "^${ws}*(void)?${ws}*$")
    set(${outVar} 0 PARENT_SCOPE)
    return()
  endif()
  string(REGEX MATCHALL "," commas "${parameters}")
  list(LENGTH commas count)
  math(EXPR bytes "4 * (${count} + 1)")
  set(${outVar} ${bytes} PARENT_SCOPE)
endfunction()

function(tovix_exports target library)
  tovix_export_names(${library} names header)
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${TOVIX_EXPORT_LIST} ${header})
  set(dir ${CMAKE_BINARY_DIR}/exports)
  list(JOIN names "\n" plain)
  file(CONFIGURE OUTPUT ${dir}/${library}.txt CONTENT "${plain}\n" @ONLY)
  if(WIN32)
    file(READ ${header} text)
    set(def "; Generated from cmake/exports.txt: the exports of ${library}.dll.\nEXPORTS\n")
    foreach(name IN LISTS names)
      if(CMAKE_SIZEOF_VOID_P EQUAL 8)
        string(APPEND def "    ${name}\n")
      else()
        tovix_argument_bytes("${text}" ${name} bytes)
        string(APPEND def "    ${name}@${bytes}\n")
      endif()
    endforeach()
    file(CONFIGURE OUTPUT ${dir}/${library}.def CONTENT "${def}" @ONLY)
    tovix_windows_dll(${target} ${dir}/${library}.def)
  else()
    list(JOIN names ";\n    " global)
    file(CONFIGURE OUTPUT ${dir}/${library}.map
      CONTENT "{\n  global:\n    ${global};\n  local: *;\n};\n" @ONLY)
    target_link_options(${target} PRIVATE -Wl,--version-script=${dir}/${library}.map)
    set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${dir}/${library}.map)
  endif()
endfunction()
