// Direct access to a book file through the module's own readers, for the
// checks and views that need what a host cannot see (raw tree links, record
// positions). Reads never go past the end of the file, and a refused read
// says why (why()).
#ifndef ZAV_TOOL_RAW_BOOK_H
#define ZAV_TOOL_RAW_BOOK_H

#include <cstdint>
#include <string>

#include "book/reader.h"
#include "core/result.h"

namespace zavtool {

// The fixed part of a tree item.
using VpLinks = tovix::VpItem;

class RawBook {
public:
    RawBook() = default;
    RawBook(const RawBook &) = delete;
    RawBook &operator=(const RawBook &) = delete;
    ~RawBook();

    // Open the file; the failure names it.
    Status open(const std::string &path);
    uint64_t size() const { return file_.size; }

    // True when [position, position + length) lies inside the file.
    bool fits(uint64_t position, uint64_t length) const {
        return position <= file_.size && length <= file_.size - position;
    }

    bool header(tovix::BookHeader *out) { return tovix::readHeader(&file_, out); }
    bool table(int32_t table, tovix::TableRecord *out) { return tovix::readTableRecord(&file_, table, out); }
    bool u8At(uint64_t position, uint8_t *value) { return tovix::u8At(&file_, position, value); }
    bool u16At(uint64_t position, uint16_t *value) { return tovix::u16At(&file_, position, value); }
    bool u32At(uint64_t position, uint32_t *value) { return tovix::u32At(&file_, position, value); }
    bool bytesAt(uint64_t position, void *buffer, uint32_t length) {
        return tovix::readAt(&file_, position, buffer, length);
    }
    // Entry `index` of a list of u32 at listOffset.
    bool listEntry(uint32_t listOffset, uint64_t index, uint32_t *value) {
        return tovix::entryU32(&file_, {listOffset, tovix::U32_ENTRY_SIZE, tovix::kUnbounded}, index, 0, value);
    }

    // Item n (1-based) of the tree whose item list is at vpListOffset: its
    // position and links.
    bool vpItem(uint32_t vpListOffset, uint32_t item, uint32_t *itemOffset, VpLinks *links);

    // Why the latest refused read failed ("" when none did), and where; the
    // reason is cleared by the next call of why().
    std::string why(uint64_t *offset = nullptr);

    tovix::BookFile *file() { return &file_; }

private:
    tovix::ReadFailure failure_;
    tovix::BookFile file_{tovix::kInvalidFile, 0, &failure_};
};

}  // namespace zavtool

#endif
