// The memo library's only contact with the operating system: read-only
// files with positioned reads, and the path of an open book, asked of the
// book module already loaded in the process. A port to another system
// replaces memo_os_posix.cpp and nothing else.
#ifndef ZAVMEMO_MEMO_OS_H
#define ZAVMEMO_MEMO_OS_H

#include <stddef.h>
#include <stdint.h>

#include "ZAVMemo.h"
#include "companion/file_io.h"

namespace zavmemo {
namespace os {

// Files: the companion libraries' shared file access. Book paths come from
// the book module in the ANSI code page.
using companion::closeFile;
using companion::File;
using companion::fileSize;
using companion::kNoFile;
using companion::readAt;
inline File openRead(const char *path) { return companion::openRead(path, companion::PathText::AnsiCodePage); }

// The path of the book, NUL-terminated, from the loaded book module's
// ZAVGetFileName. Returns its length, or 0 when there is no loaded module,
// no path, or it does not fit in capacity bytes.
size_t bookPath(BookHandle book, char *out, size_t capacity);

}  // namespace os
}  // namespace zavmemo

#endif
