// Direct access to a book file through the module's own format readers, for
// the checks and views that need what a host cannot see (raw tree links,
// record positions). Reads never go past the end of the file: every
// position is tested against the file size first.
#ifndef ZAV_TOOL_RAW_BOOK_H
#define ZAV_TOOL_RAW_BOOK_H

#include <cstdint>
#include <string>

#include "book/format.h"

namespace zavtool {

// The fixed part of a tree item.
struct VpLinks {
    uint32_t pagePlusOne = 0;
    uint32_t previous = 0;
    uint32_t nextSibling = 0;
    uint32_t firstChild = 0;
};

class RawBook {
public:
    RawBook() = default;
    RawBook(const RawBook &) = delete;
    RawBook &operator=(const RawBook &) = delete;
    ~RawBook();

    bool open(const std::string &path, std::string *error);
    uint64_t size() const { return size_; }

    // True when [position, position + length) lies inside the file.
    bool fits(uint64_t position, uint64_t length) const {
        return position <= size_ && length <= size_ - position;
    }

    bool header(tovix::BookHeader *out);
    bool table(int32_t table, tovix::TableRecord *out);
    bool u8At(uint64_t position, uint8_t *value);
    bool u16At(uint64_t position, uint16_t *value);
    bool u32At(uint64_t position, uint32_t *value);
    bool bytesAt(uint64_t position, void *buffer, uint32_t length);
    // Entry `index` of a list of u32 at listOffset.
    bool listEntry(uint32_t listOffset, uint64_t index, uint32_t *value);

    // Item n (1-based) of the tree whose item list is at vpListOffset: its
    // position and links.
    bool vpItem(uint32_t vpListOffset, uint32_t item, uint32_t *itemOffset, VpLinks *links);

    tovix::BookFile *file() { return &file_; }

private:
    tovix::BookFile file_{tovix::kInvalidFile, 0};
    uint64_t size_ = 0;
};

}  // namespace zavtool

#endif
