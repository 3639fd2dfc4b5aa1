// The engine's only contact with the operating system: read-only files with
// positioned reads (shared with the memo library), and the dictionary folder.
// A port to another system replaces engine_os_posix.cpp and the shared file
// access, and nothing else.
#ifndef ZOZIZID_ENGINE_OS_H
#define ZOZIZID_ENGINE_OS_H

#include <stddef.h>
#include <stdint.h>

#include "companion/file_io.h"

namespace zozizid {
namespace os {

// Files: the companion libraries' shared file access.
using companion::closeFile;
using companion::File;
using companion::fileSize;
using companion::FileStamp;
using companion::pathStamp;
using companion::kNoFile;
using companion::openRead;
using companion::readAt;

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
