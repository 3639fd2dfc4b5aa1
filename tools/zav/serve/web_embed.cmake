# Run as a script (cmake -DDIR=... -DOUT=... -P web_embed.cmake): write OUT, a
# C++ source that holds every file of DIR whose name the web server can ask
# for (letters, digits, _ and -, with one extension) as a byte array, in the
# table serve/http_files.h declares.
file(GLOB paths LIST_DIRECTORIES false "${DIR}/*")
list(SORT paths)
set(arrays "")
set(table "")
set(count 0)
foreach(path IN LISTS paths)
  get_filename_component(name "${path}" NAME)
  if(NOT name MATCHES "^[A-Za-z0-9_-]+(\\.[A-Za-z0-9]+)?$")
    continue()
  endif()
  file(READ "${path}" hex HEX)
  string(LENGTH "${hex}" digits)
  math(EXPR size "${digits} / 2")
  string(REGEX REPLACE "([0-9a-f][0-9a-f])" "0x\\1," bytes "${hex}")
  string(APPEND arrays "const unsigned char kFile${count}[] = {${bytes}0};\n")
  string(APPEND table "    {\"${name}\", kFile${count}, ${size}},\n")
  math(EXPR count "${count} + 1")
endforeach()
if(count EQUAL 0)
  message(FATAL_ERROR "${DIR} holds no file to serve")
endif()
file(WRITE "${OUT}.new" "// Generated from ${DIR} by web_embed.cmake: do not edit.
#include \"serve/http_files.h\"

namespace zavtool {

namespace {
${arrays}}  // namespace

const WebFile kWebFiles[] = {
${table}};
const size_t kWebFileCount = ${count};

}  // namespace zavtool
")
file(COPY_FILE "${OUT}.new" "${OUT}" ONLY_IF_DIFFERENT)
file(REMOVE "${OUT}.new")
