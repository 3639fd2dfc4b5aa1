// The memo library's only contact with the operating system: read-only
// files with positioned reads, and the path of an open book, asked of the
// book module already loaded in the process. A port to another system
// replaces memo_os_posix.cpp and nothing else.
#ifndef ZAVMEMO_MEMO_OS_H
#define ZAVMEMO_MEMO_OS_H

#include <stddef.h>
#include <stdint.h>

#include "ZAVMemo.h"

namespace zavmemo {
namespace os {

using File = intptr_t;
constexpr File kNoFile = -1;

File openRead(const char *path);
void closeFile(File file);
bool fileSize(File file, uint64_t *size);
// Read exactly n bytes at position `at`; false on an error or end of file.
bool readAt(File file, uint64_t at, void *buffer, size_t n);

// The path of the book, NUL-terminated, from the loaded book module's
// ZAVGetFileName. Returns its length, or 0 when there is no loaded module,
// no path, or it does not fit in capacity bytes.
size_t bookPath(BookHandle book, char *out, size_t capacity);

}  // namespace os
}  // namespace zavmemo

#endif
