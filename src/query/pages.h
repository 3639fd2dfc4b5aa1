// Book pages: locating a page record through the page directory and copying
// its data. Shared by the page calls and the plain-book table page calls.
#ifndef TOVIX_PAGES_H
#define TOVIX_PAGES_H

#include <stdint.h>

#include "../platform/platform.h"

namespace tovix {

// Read the header, the page directory's count and entry `page`, and the
// record prefix: in kind-4 books the u16 link count and, passed over by one
// forward seek, the link block; then the u32 size. On success *size holds the
// stored size and the file stands at the first data byte. False when there
// is no page directory, the page number is negative or not below the count,
// or a seek or read fails.
bool locatePageRecord(BookFile *file, int32_t page, uint32_t *size);

// The stored size of page `page`, or 0 on failure.
int32_t pageSize(BookFile *file, int32_t page);

// Copy at most `length` bytes of page `page` straight into buffer; bytes of
// the buffer after the copy are left untouched. Returns the bytes copied, or
// 0 on failure (a short read may leave part of the data written).
int32_t copyPage(BookFile *file, int32_t page, void *buffer, uint32_t length);

}  // namespace tovix

#endif
