// The page calls: count, size and data of a book page.
#include "pages.h"

#include "../book/book_state.h"
#include "TovixZAV_JC.h"

namespace tovix {

namespace {

// The page directory: its count, and its entries as a section.
bool pageDirectory(BookFile *file, const BookHeader &header, Section *entries) {
    uint32_t dir = header.field(HDR_PAGE_DIR_OFFSET);
    uint32_t count;
    if (dir == 0) return refuse(file, "no page directory", HDR_PAGE_DIR_OFFSET);
    if (!u32At(file, dir, &count)) return false;
    *entries = {static_cast<uint64_t>(dir) + PAGE_DIR_COUNT_SIZE, PAGE_DIR_ENTRY_SIZE, count};
    return true;
}

}  // namespace

bool locatePageRecord(BookFile *file, int32_t page, PageRecord *out) {
    BookHeader header;
    Section entries;
    if (!readHeader(file, &header)) return false;
    if (page < 0) return refuse(file, "negative page number", HDR_PAGE_DIR_OFFSET);
    if (!pageDirectory(file, header, &entries)) return false;
    // The count compares as a signed value: a count of 2^31 or more admits
    // no page at all.
    if (static_cast<int32_t>(entries.count) < 0) entries.count = 0;
    uint32_t record;
    if (!entryU32(file, entries, static_cast<uint32_t>(page), 0, &record)) return false;
    uint64_t at = record;
    // The header read in this call decides whether the link block is there.
    if (header.field(HDR_KIND) == KIND_PREFIXED) {
        uint16_t linkCount;
        if (!u16At(file, at, &linkCount)) return false;
        at += PAGE_LINK_COUNT_SIZE + static_cast<uint64_t>(linkCount) * PAGE_LINK_SIZE;
    }
    if (!u32At(file, at, &out->size)) return false;
    out->data = at + PAGE_SIZE_FIELD_SIZE;
    return true;
}

int32_t pageSize(BookFile *file, int32_t page) {
    PageRecord record;
    if (!locatePageRecord(file, page, &record)) return 0;
    return static_cast<int32_t>(record.size);
}

int32_t copyPage(BookFile *file, int32_t page, void *buffer, uint32_t length) {
    if (!buffer) return 0;
    PageRecord record;
    if (!locatePageRecord(file, page, &record)) return 0;
    uint32_t n = record.size < length ? record.size : length;
    if (n == 0 || !readAt(file, record.data, buffer, n)) return 0;
    return static_cast<int32_t>(n);
}

}  // namespace tovix

using namespace tovix;

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetPageCount(BookHandle book) noexcept {
    if (!book) return 0;
    BookHeader header;
    uint32_t count;
    if (!readHeader(&book->file, &header)) return 0;
    uint32_t dir = header.field(HDR_PAGE_DIR_OFFSET);
    if (dir == 0 || !u32At(&book->file, dir, &count)) return 0;
    return static_cast<int32_t>(count);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetPageSize(BookHandle book, int32_t page) noexcept {
    if (!book) return 0;
    return pageSize(&book->file, page);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetPage(BookHandle book, int32_t page, void *buffer, uint32_t length) noexcept {
    if (!book) return 0;
    return copyPage(&book->file, page, buffer, length);
}
