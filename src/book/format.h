// The book file format: the 512-byte header, the 52-byte table record, and
// the two shared readers that every query starts with.
//
// All integers are little-endian; every offset is an absolute position from
// the start of the file; nothing is aligned. A book file is smaller than
// 2 GiB: positions of 2^31 and above cannot be reached.
#ifndef TOVIX_FORMAT_H
#define TOVIX_FORMAT_H

#include <stdint.h>

#include "../platform/platform.h"

namespace tovix {

constexpr uint32_t BOOK_MAGIC = 0x44424544;  // "DEBD" in file order
constexpr uint32_t BOOK_HEADER_SIZE = 512;
constexpr uint32_t TABLE_RECORD_SIZE = 52;
constexpr uint32_t KEY_RECORD_FIXED_SIZE = 12;
constexpr uint32_t VP_ITEM_FIXED_SIZE = 16;
constexpr uint32_t DEF_CHAR_ATTR_SIZE = 84;
constexpr uint32_t DICT_LEVEL_RECORD_SIZE = 256;
constexpr uint32_t BOOK_CAPS_SIZE = 16;

// Byte offsets of the header fields.
enum HeaderField : uint32_t {
    HDR_MAGIC = 0,
    HDR_KIND = 4,
    HDR_VERSION = 8,
    HDR_CAPS_WORD1 = 12,
    HDR_CAPS_WORD2 = 16,
    HDR_SERIAL = 20,
    HDR_BOOK_NAME_OFFSET = 24,
    HDR_DEF_CHAR_ATTR_OFFSET = 28,
    HDR_EX_BOOK_NO_OFFSET = 32,
    HDR_LANGUAGE_LIST_OFFSET = 36,
    HDR_TABLE_DIR_OFFSET = 40,
    HDR_PAGE_DIR_OFFSET = 44,
    HDR_SHELF_LEVEL_OFFSET = 48,
    HDR_POSITION_ID = 52,
};

// Byte offsets of the table record fields. +16, +20 and +24 mean one thing
// in plain books (kinds 2, 4) and another in dictionary books (kind 1).
enum TableField : uint32_t {
    TBL_LOCALE = 0,
    TBL_SUB_COUNT = 4,
    TBL_SUB_LIST_OFFSET = 8,
    TBL_NAME_OFFSET = 12,
    TBL_PAGE_COUNT = 16,             // plain
    TBL_APP_FLAGS = 16,              // dictionary
    TBL_PAGE_LIST_OFFSET = 20,       // plain
    TBL_DICT_LEVEL_LIST_OFFSET = 20, // dictionary
    TBL_KEY_COUNT = 24,              // plain
    TBL_SIMPLE_NAME_OFFSET = 24,     // dictionary
    TBL_KEY_LIST_OFFSET = 28,
    TBL_PAGE_TO_KEY_OFFSET = 32,
    TBL_VP_COUNT = 36,
    TBL_VP_LIST_OFFSET = 40,
    TBL_PAGE_TO_ITEM_OFFSET = 44,
    TBL_DICT_ID = 48,
};

struct BookHeader {
    unsigned char bytes[BOOK_HEADER_SIZE];
    uint32_t field(HeaderField f) const;
};

struct TableRecord {
    unsigned char bytes[TABLE_RECORD_SIZE];
    uint32_t field(TableField f) const;
    uint8_t locale() const { return bytes[TBL_LOCALE]; }
};

// Seek to 0 and read the whole header. Tests nothing of its content.
bool readHeader(BookFile *file, BookHeader *header);

// Read the header, the table directory's count and entry `table`, and the
// 52-byte record it points to. False when there is no table directory, the
// table number is negative or not below the count, or a seek or read fails.
bool readTableRecord(BookFile *file, int32_t table, TableRecord *record);

// Seek to `listOffset + index * entrySize` (computed without overflow) and
// read one little-endian u32 there.
bool readListEntry(BookFile *file, uint32_t listOffset, uint64_t index, uint32_t entrySize, uint32_t *value);

// Read a little-endian u32 / u16 / u8 at the current position.
bool readU32(BookFile *file, uint32_t *value);
bool readU16(BookFile *file, uint16_t *value);
bool readU8(BookFile *file, uint8_t *value);

// For a list that begins with its own uint8 count (language list, shelf
// level list, table directory): seek to listOffset, read the count, test
// 0 <= index < count and seek index * entrySize on from the byte after the
// count. A negative index is refused.
bool seekCountedEntry8(BookFile *file, uint32_t listOffset, int32_t index, uint32_t entrySize);

}  // namespace tovix

#endif
