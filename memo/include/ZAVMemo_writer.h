// Writer of ZAVMemo sidecar files, for the book tool and the tests.
//
// The memos of a book live beside it in "<book path>.memo" (see ZAVMemo.h for
// the layout). A page may have several memos; they keep the order given.
//
// Not part of the memo library: link the static library `zavmemo_writer`.
#ifndef ZAVMEMO_WRITER_H
#define ZAVMEMO_WRITER_H

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace zavmemo {

// One memo: the book page number it belongs to and its text (bytes in the
// book's code page, no terminator; at most 1 MiB).
struct MemoEntry {
    uint32_t page = 0;
    std::string text;
};

// The sidecar path of a book: bookPath + ".memo".
std::string memoSidecarPath(const std::string &bookPath);

// Lay a sidecar out in memory; entries are sorted by page, stably. False
// with a message in *error (may be null) for a memo over 1 MiB, more than
// 1,000,000 memos or a file of 2 GiB or more. *out is unchanged on failure.
bool buildMemoFile(std::vector<MemoEntry> entries, std::vector<uint8_t> *out, std::string *error);

// buildMemoFile, then write the bytes to path (replacing the file).
bool writeMemoFile(const std::string &path, std::vector<MemoEntry> entries, std::string *error);

// writeMemoFile to memoSidecarPath(bookPath).
bool writeBookMemos(const std::string &bookPath, std::vector<MemoEntry> entries, std::string *error);

}  // namespace zavmemo

#endif
