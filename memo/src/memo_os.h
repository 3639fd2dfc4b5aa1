// The memo library's only contact with the operating system, through the
// platform layer it shares with the book module: read-only files with
// positioned reads, and the path of an open book, asked of the book module
// already loaded in the process.
#ifndef ZAVMEMO_MEMO_OS_H
#define ZAVMEMO_MEMO_OS_H

#include <stddef.h>
#include <stdint.h>

#include "ZAVMemo.h"
#include "tovix/platform.h"

namespace zavmemo {
namespace os {

// The heap of the platform layer, so that a failed allocation can be
// injected as any other failure.
using tovix::heapAlloc;
using tovix::heapDelete;
using tovix::heapFree;
using tovix::heapNew;
using namespace tovix::files;  // File, kNoFile, closeFile, fileSize, readAt

// Book paths come from the book module in the ANSI code page.
inline File openRead(const char *path) { return open(path, tovix::PathText::AnsiCodePage); }

// The path of the book, NUL-terminated, from the loaded book module's
// ZAVGetFileName. Returns its length, or 0 when there is no loaded module,
// no path, or it does not fit in capacity bytes.
size_t bookPath(BookHandle book, char *out, size_t capacity);

}  // namespace os
}  // namespace zavmemo

#endif
