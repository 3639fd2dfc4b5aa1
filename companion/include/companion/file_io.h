// File access shared by the companion libraries (the dictionary engine and
// the memo library): read-only files with positioned reads. One source file
// per operating system implements it; the libraries never call the system
// for files themselves.
#ifndef COMPANION_FILE_IO_H
#define COMPANION_FILE_IO_H

#include <stddef.h>
#include <stdint.h>

namespace companion {

// An open file; kNoFile when none.
using File = intptr_t;
constexpr File kNoFile = -1;

// How the bytes of a path are to be read where the system's paths are wide
// (Windows): UTF-8, or the system's ANSI code page. Elsewhere paths are bytes
// and both mean the same.
enum class PathText { Utf8, AnsiCodePage };

// Open an existing file for reading (shared with other readers,
// close-on-exec). kNoFile on failure.
File openRead(const char *path, PathText text = PathText::Utf8);
void closeFile(File file);
// The file's size in bytes; false on failure or when it is not a plain file.
bool fileSize(File file, uint64_t *size);

// What tells one version of a file from another: the file's identity (device
// and file number), its size and its modification time. Two stamps are equal
// when every field is.
struct FileStamp {
    uint64_t device = 0, file = 0, size = 0;
    int64_t modifiedSeconds = 0;
    uint32_t modifiedNanos = 0;
};
inline bool operator==(const FileStamp &a, const FileStamp &b) {
    return a.device == b.device && a.file == b.file && a.size == b.size && a.modifiedSeconds == b.modifiedSeconds &&
           a.modifiedNanos == b.modifiedNanos;
}
// The stamp of the file at path, without opening it (one system call; where
// the system tells no file number without opening the file, Windows, the
// creation time stands in for it). False on failure or when it is not a plain
// file.
bool pathStamp(const char *path, FileStamp *stamp, PathText text = PathText::Utf8);
// Read exactly n bytes at position `at`, retrying partial and interrupted
// reads; false on an error or at the end of the file. No file position moves,
// so reads of one file from several threads are safe.
bool readAt(File file, uint64_t at, void *buffer, size_t n);

}  // namespace companion

#endif
