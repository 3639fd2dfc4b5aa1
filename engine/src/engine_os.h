// The engine's only contact with the operating system: read-only files with
// positioned reads, and the dictionary folder. A port to another system
// replaces engine_os_posix.cpp and nothing else.
#ifndef ZOZIZID_ENGINE_OS_H
#define ZOZIZID_ENGINE_OS_H

#include <stddef.h>
#include <stdint.h>

namespace zozizid {
namespace os {

// An open file; kNoFile when none.
using File = intptr_t;
constexpr File kNoFile = -1;

// Open an existing file for reading (close-on-exec). kNoFile on failure.
File openRead(const char *path);
void closeFile(File file);
// The file's size in bytes; false on failure.
bool fileSize(File file, uint64_t *size);
// Read exactly n bytes at position `at` (retrying partial and interrupted
// reads); false on an error or end of file. Does not move any file position,
// so concurrent reads of one file are safe.
bool readAt(File file, uint64_t at, void *buffer, size_t n);

// Write the dictionary folder, NUL-terminated, into out (capacity bytes):
// the environment variable ZOZIZID_DICT_DIR when set and not empty, else
// the folder "dictionaries" beside the engine library. Returns the length,
// or 0 when it does not fit or cannot be found.
size_t dictionaryFolder(char *out, size_t capacity);

// The separator written between the folder and a file name.
constexpr char kPathSeparator = '/';

}  // namespace os
}  // namespace zozizid

#endif
