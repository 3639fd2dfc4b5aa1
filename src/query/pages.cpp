// The page calls: count, size and data of a book page.
#include "pages.h"

#include "../book/book_state.h"
#include "../book/format.h"
#include "TovixZAV_JC.h"

namespace tovix {

bool locatePageRecord(BookFile *file, int32_t page, uint32_t *size) {
    BookHeader header;
    if (!readHeader(file, &header)) return false;
    uint32_t dir = header.field(HDR_PAGE_DIR_OFFSET);
    if (dir == 0 || page < 0) return false;
    uint32_t count;
    if (!seekTo(file, dir) || !readU32(file, &count)) return false;
    // The count compares as a signed value: a count of 2^31 or more admits
    // no page at all.
    if (page >= static_cast<int32_t>(count)) return false;
    uint32_t record;
    if (!seekBy(file, static_cast<int64_t>(page) * 4) || !readU32(file, &record)) return false;
    if (!seekTo(file, record)) return false;
    // The header read in this call decides whether the link block is there.
    if (header.field(HDR_KIND) == BOOK_KIND_PREFIXED) {
        uint16_t linkCount;
        if (!readU16(file, &linkCount)) return false;
        if (linkCount != 0 && !seekBy(file, static_cast<int64_t>(linkCount) * 4)) return false;
    }
    return readU32(file, size);
}

int32_t pageSize(BookFile *file, int32_t page) {
    uint32_t size;
    if (!locatePageRecord(file, page, &size)) return 0;
    return static_cast<int32_t>(size);
}

int32_t copyPage(BookFile *file, int32_t page, void *buffer, uint32_t length) {
    if (!buffer) return 0;
    uint32_t size;
    if (!locatePageRecord(file, page, &size)) return 0;
    uint32_t n = size < length ? size : length;
    if (n == 0 || !readExact(file, buffer, n)) return 0;
    return static_cast<int32_t>(n);
}

}  // namespace tovix

using namespace tovix;

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetPageCount(BookHandle book) noexcept {
    if (!book) return 0;
    BookHeader header;
    if (!readHeader(&book->file, &header)) return 0;
    uint32_t dir = header.field(HDR_PAGE_DIR_OFFSET);
    uint32_t count;
    if (dir == 0 || !seekTo(&book->file, dir) || !readU32(&book->file, &count)) return 0;
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
