// Book pages: locating a page record through the page directory and copying
// its data. Shared by the page calls and the plain-book table page calls.
#ifndef TOVIX_PAGES_H
#define TOVIX_PAGES_H

#include <stdint.h>

#include "../book/reader.h"

namespace tovix {

// A page's stored size and the position of its first data byte.
struct PageRecord {
    uint32_t size;
    uint64_t data;
};

// Read the header, the page directory's count and entry `page`, and the
// record prefix: in kind-4 books the u16 link count, whose link block is
// passed over; then the u32 size. False when there is no page directory, the
// page number is negative or not below the count, or a read is refused.
bool locatePageRecord(BookFile *file, int32_t page, PageRecord *record);

// The stored size of page `page`, or 0 on failure.
int32_t pageSize(BookFile *file, int32_t page);

// Copy at most `length` bytes of page `page` straight into buffer; bytes of
// the buffer after the copy are left untouched. Returns the bytes copied, or
// 0 on failure (a short read may leave part of the data written).
int32_t copyPage(BookFile *file, int32_t page, void *buffer, uint32_t length);

}  // namespace tovix

#endif
