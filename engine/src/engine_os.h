// The engine's only contact with the operating system, through the platform
// layer it shares with the book module: read-only files with positioned
// reads, and the dictionary folder.
#ifndef ZOZIZID_ENGINE_OS_H
#define ZOZIZID_ENGINE_OS_H

#include <stddef.h>
#include <stdint.h>

#include "tovix/platform.h"

namespace zozizid {
namespace os {

// The heap of the platform layer, so that a failed allocation can be
// injected as any other failure.
using tovix::heapAlloc;
using tovix::heapDelete;
using tovix::heapFree;
using tovix::heapNew;
using namespace tovix::files;  // File, kNoFile, closeFile, fileSize, readAt, FileStamp, pathStamp
using tovix::kPathSeparator;

// Open an existing file by UTF-8 path; kNoFile on failure.
inline File openRead(const char *path) { return open(path, tovix::PathText::Utf8); }

// Write the dictionary folder, NUL-terminated, into out (capacity bytes):
// the environment variable ZOZIZID_DICT_DIR when set and not empty, else
// the folder "dictionaries" beside the engine library. Returns the length,
// or 0 when it does not fit or cannot be found.
size_t dictionaryFolder(char *out, size_t capacity);

}  // namespace os
}  // namespace zozizid

#endif
