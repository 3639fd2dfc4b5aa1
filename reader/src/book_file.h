// The few places where the reader looks into a book's file itself rather
// than through the module: loading a table's whole key list in large reads,
// and telling an empty page from one the file cannot hold (the module
// answers both with 0). Every position read from the file is checked
// against its size.
#ifndef ZAV_READER_BOOK_FILE_H
#define ZAV_READER_BOOK_FILE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tovix/format.h"

namespace zavreader {

class BookFile {
public:
    BookFile() = default;
    ~BookFile();
    BookFile(const BookFile &) = delete;
    BookFile &operator=(const BookFile &) = delete;

    // Open the file, reading no further than `size` bytes (the size the book
    // had when it was opened), and check its header.
    bool open(const std::string &path, uint64_t size);
    uint64_t size() const { return size_; }
    const tovix::BookHeader &header() const { return header_; }
    bool read(uint64_t at, void *into, size_t n);
    bool u32(uint64_t at, uint32_t *value);
    bool u16(uint64_t at, uint16_t *value);
    bool table(int32_t table, tovix::TableRecord *record);

private:
    std::FILE *file_ = nullptr;
    uint64_t size_ = 0;
    tovix::BookHeader header_{};
};

// Whether an empty table page of a plain book is one the file really holds
// (its page list entry, directory entry and record lie inside the file);
// *why says what is missing when not.
bool emptyPageIsSound(const std::string &path, uint64_t size, int32_t table, uint32_t index, std::string *why);

}  // namespace zavreader

#endif
