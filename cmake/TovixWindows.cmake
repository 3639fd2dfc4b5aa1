# Windows DLLs of the project: file names without the "lib" prefix and
# exports by plain (undecorated) name through a module-definition file.
#
#   tovix_windows_dll(<target> <def file>)
#
# Does nothing on other systems. Call it in the directory that creates the
# target (the 32-bit import library is rebuilt after each link).
#
# The .def file (written by tovix_exports) lists every export; on 32-bit
# Windows with its __stdcall decoration, name@N, N being the bytes of its
# arguments. 64-bit Windows has a single calling convention and no
# decoration. On 32-bit Windows the linker kills the decoration
# in the export table (--kill-at), and the import library is rebuilt by
# dlltool --kill-at: the linker's own would import the decorated names, which
# the DLL no longer exports, while dlltool's gives callers the decorated
# symbols (what a __stdcall prototype refers to) importing the plain names.
function(tovix_windows_dll target def)
  if(NOT WIN32)
    return()
  endif()
  set_target_properties(${target} PROPERTIES PREFIX "" IMPORT_PREFIX "")
  if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    target_sources(${target} PRIVATE ${def})
  else()
    target_sources(${target} PRIVATE ${def})
    target_link_options(${target} PRIVATE -Wl,--kill-at)
    if(NOT CMAKE_DLLTOOL)
      message(FATAL_ERROR "CMAKE_DLLTOOL is needed to build 32-bit Windows DLLs")
    endif()
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_DLLTOOL} --kill-at -d ${def} -D $<TARGET_FILE_NAME:${target}>
              -l $<TARGET_LINKER_FILE:${target}>
      COMMENT "Rebuilding the import library of ${target} with plain import names"
      VERBATIM)
  endif()
endfunction()
