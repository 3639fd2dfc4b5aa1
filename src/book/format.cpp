#include "format.h"

#include "le.h"

namespace tovix {

uint32_t BookHeader::field(HeaderField f) const { return le32(bytes + f); }
uint32_t TableRecord::field(TableField f) const { return le32(bytes + f); }

bool readU32(BookFile *file, uint32_t *value) {
    unsigned char b[4];
    if (!readExact(file, b, 4)) return false;
    *value = le32(b);
    return true;
}

bool readU16(BookFile *file, uint16_t *value) {
    unsigned char b[2];
    if (!readExact(file, b, 2)) return false;
    *value = le16(b);
    return true;
}

bool readU8(BookFile *file, uint8_t *value) { return readExact(file, value, 1); }

bool readHeader(BookFile *file, BookHeader *header) {
    return seekTo(file, 0) && readExact(file, header->bytes, BOOK_HEADER_SIZE);
}

bool readListEntry(BookFile *file, uint32_t listOffset, uint64_t index, uint32_t entrySize, uint32_t *value) {
    // index * entrySize cannot overflow 64 bits for 32-bit inputs; seekTo
    // refuses anything past 2^31 - 1.
    return seekTo(file, static_cast<uint64_t>(listOffset) + index * entrySize) && readU32(file, value);
}

bool seekCountedEntry8(BookFile *file, uint32_t listOffset, int32_t index, uint32_t entrySize) {
    uint8_t count;
    if (!seekTo(file, listOffset) || !readU8(file, &count)) return false;
    if (index < 0 || index >= static_cast<int32_t>(count)) return false;
    return seekBy(file, static_cast<int64_t>(index) * entrySize);
}

bool readTableRecord(BookFile *file, int32_t table, TableRecord *record) {
    BookHeader header;
    if (!readHeader(file, &header)) return false;
    uint32_t dir = header.field(HDR_TABLE_DIR_OFFSET);
    if (dir == 0) return false;
    uint32_t position;
    if (!seekCountedEntry8(file, dir, table, 4) || !readU32(file, &position)) return false;
    return seekTo(file, position) && readExact(file, record->bytes, TABLE_RECORD_SIZE);
}

}  // namespace tovix
