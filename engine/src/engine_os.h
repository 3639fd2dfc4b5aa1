// The engine's only contact with the operating system, through the platform
// layer it shares with the book module: read-only files with positioned
// reads, and the dictionary folder.
#ifndef ZOZIZID_ENGINE_OS_H
#define ZOZIZID_ENGINE_OS_H

#include <stddef.h>
#include <stdint.h>

#include "platform/platform.h"

namespace zozizid {
namespace os {

using File = tovix::NativeFile;
constexpr File kNoFile = tovix::kInvalidFile;
using tovix::kPathSeparator;

// Open an existing file by UTF-8 path; kNoFile on failure.
inline File openRead(const char *path) { return tovix::gPlatform->openReadNarrow(path, tovix::PathText::Utf8); }
inline void closeFile(File file) {
    if (file != kNoFile) tovix::gPlatform->close(file);
}
// The file's size; false on failure or when it is not a plain file.
inline bool fileSize(File file, uint64_t *size) { return tovix::gPlatform->fileSize(file, size); }
// Read exactly n bytes at `at`; false on an error or at the end of the file.
inline bool readAt(File file, uint64_t at, void *buffer, size_t n) { return tovix::readExactAt(file, at, buffer, n); }

// Write the dictionary folder, NUL-terminated, into out (capacity bytes):
// the environment variable ZOZIZID_DICT_DIR when set and not empty, else
// the folder "dictionaries" beside the engine library. Returns the length,
// or 0 when it does not fit or cannot be found.
size_t dictionaryFolder(char *out, size_t capacity);

}  // namespace os
}  // namespace zozizid

#endif
