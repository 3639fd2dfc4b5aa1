// The streaming book writer: lays out the same file as writeBook for a book
// with plain tables, without holding the pages in memory.
//
// Pages are handed over one at a time and written to the file at once; the
// keys are kept packed (one arena of texts and a 16-byte record per key).
// When the last page is in, finish() writes everything that comes before the
// page directory (header, book lists, tables and their key lists) and the
// directory itself. The pages are first written where the caller expects
// the page records to start (an estimate); finish() moves them within the
// file when the structures before them turn out shorter or longer.
#ifndef ZAV_BOOK_STREAM_WRITER_H
#define ZAV_BOOK_STREAM_WRITER_H

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "zav/book_writer.h"

namespace zav {

// Keys of one table, packed: the texts lie NUL-terminated in one arena.
class PackedKeys {
public:
    // Append a key; false when its text is longer than 65535 bytes, holds a
    // zero byte, or the texts reach 2 GiB.
    bool add(std::string_view text, uint32_t pageNo, uint8_t attribute = 0, uint32_t pageOffset = 0);
    // Keys whose texts already lie in an arena: adopt() takes the arena
    // over (texts NUL-terminated, as add() leaves them; false when it holds
    // 2 GiB or more), addAt() adds a key whose text starts at `at` in it.
    bool adopt(std::string arena);
    bool addAt(uint32_t at, uint32_t pageNo, uint8_t attribute = 0, uint32_t pageOffset = 0);
    const char *textAt(uint32_t at) const { return arena_.data() + at; }
    void reserve(size_t keys, size_t textBytes);
    size_t size() const { return keys_.size(); }
    bool empty() const { return keys_.empty(); }
    // Stable sort under the key collation (the order writeBook gives).
    void sort();
    std::string_view text(size_t i) const { return {arena_.data() + keys_[i].text, keys_[i].length}; }
    uint32_t pageNo(size_t i) const { return keys_[i].pageNo; }
    uint32_t pageOffset(size_t i) const { return keys_[i].pageOffset; }
    uint8_t attribute(size_t i) const { return keys_[i].attribute; }
    // Bytes of the key records (12 fixed bytes and the text per key).
    uint64_t recordBytes() const { return recordBytes_; }

private:
    struct Key {
        uint32_t text;
        uint32_t pageNo;
        uint32_t pageOffset;
        uint16_t length;
        uint8_t attribute;
        uint8_t spare;
    };
    std::string arena_;
    std::vector<Key> keys_;
    uint64_t recordBytes_ = 0;
};

// One plain table of a streamed book. The fields mean what they mean in
// TableDesc; the key list is always written sorted.
struct StreamTableDesc {
    uint8_t locale = 0;
    std::optional<StringListDesc> name;
    uint32_t dictId = 0;
    std::vector<uint32_t> pageList;
    PackedKeys keys;
    bool autoPageToKey = false;
};

class BookStreamWriter {
public:
    // Write a book of `kind` into `fd`, an empty file open for reading and
    // writing (the caller closes it). `pagesAt` is where the page records are
    // expected to start: the size of everything before them. Kind-4 pages
    // are written with an empty link block.
    BookStreamWriter(int fd, uint32_t kind, uint64_t pagesAt) : fd_(fd), kind_(kind), pagesAt_(pagesAt) {}
    BookStreamWriter(const BookStreamWriter &) = delete;
    BookStreamWriter &operator=(const BookStreamWriter &) = delete;

    // Append page `pageCount()` with these bytes. False with *error on an
    // I/O error or when the book would reach 2 GiB.
    bool addPage(std::string_view data, std::string *error);
    // The bytes of a page already added (read back from the file).
    bool readPage(uint32_t index, std::string *out, std::string *error) const;
    uint32_t pageCount() const { return static_cast<uint32_t>(pageStarts_.size()); }
    // The data size of a page already added (0 for an index past the end).
    uint64_t pageSize(uint32_t index) const;

    // Write the structures before the pages: `book` gives the header and
    // book lists (its kind, pages, tables and shelf levels are not used;
    // shelf levels are refused), `tables` the tables. The pages are moved to follow the page directory.
    // False with *error for a description the format cannot hold or an I/O
    // error. *size receives the file's size.
    bool finish(const BookDesc &book, const std::vector<StreamTableDesc> &tables, uint64_t *size, std::string *error);

    // The size of everything before the page records of a book with
    // `pageCount` pages: the value for `pagesAt` when the keys are known.
    static uint64_t frontSize(const BookDesc &book, const std::vector<StreamTableDesc> &tables, uint32_t pageCount);

private:
    bool movePages(uint64_t to, std::string *error);
    bool flushPages(std::string *error);
    int fd_;
    uint32_t kind_;
    uint64_t pagesAt_;
    uint64_t pageBytes_ = 0;             // bytes of page records written
    std::vector<uint32_t> pageStarts_;   // per page, its record's start after pagesAt_
    // Page records not yet written: they start at pageBytes_ - pending_.size().
    // A page lies either wholly here or wholly in the file.
    std::string pending_;
};

}  // namespace zav

#endif
