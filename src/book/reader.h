// The module's reader of book files: positioned reads that know their
// bounds. Every read names its file offset (there is no shared cursor), and
// nothing is read that does not lie wholly inside the file, whose size is
// learned when the book is opened. Lists are read as sections: an entry
// outside its section or outside the file is refused before any read.
//
// A reader that refuses or fails can say why: when the file carries a
// ReadFailure, the first refusal of a call stores a short reason and the file
// offset there. The exported calls carry none and pay nothing for it.
#ifndef TOVIX_READER_H
#define TOVIX_READER_H

#include <stdint.h>

#include "tovix/platform.h"
#include "tovix/format.h"

namespace tovix {

struct ReadFailure {
    const char *reason = nullptr;  // a short, static text; null while nothing failed
    uint64_t offset = 0;           // the file offset of the refused or failed read
};

// An open book file.
struct BookFile {
    NativeFile native;
    uint64_t size;         // bytes, learned at open
    ReadFailure *failure;  // where to say why a read failed; null = nowhere
};

// Open the file and learn its size. False (and nothing left open) on failure.
bool openBookFile(const wchar_t *path, BookFile *file);
void closeBookFile(BookFile *file);

// A list of the file: entries of entrySize bytes from offset on, `count` of
// them, or any number (kUnbounded) where the format gives no count that
// bounds the list; entries must then still lie in the file.
constexpr uint64_t kUnbounded = UINT64_MAX;
struct Section {
    uint64_t offset;
    uint32_t entrySize;
    uint64_t count;
};

// Store the reason (unless one is stored) and return false.
bool refuse(BookFile *file, const char *reason, uint64_t offset);

// Read n bytes at offset; refused unless all lie in the file.
bool readAt(BookFile *file, uint64_t offset, void *buffer, uint32_t n);
// Read what lies in the file of n bytes at offset. Returns the count
// delivered, or -1 when the offset lies outside the file or the read fails.
int64_t readUpTo(BookFile *file, uint64_t offset, void *buffer, uint32_t n);
bool u8At(BookFile *file, uint64_t offset, uint8_t *value);
bool u16At(BookFile *file, uint64_t offset, uint16_t *value);
bool u32At(BookFile *file, uint64_t offset, uint32_t *value);

// The position of entry `index` of the section: refused when the index is
// not below the count or the entry does not lie wholly in the file.
bool entryPosition(BookFile *file, const Section &section, uint64_t index, uint64_t *position);
// The u32 at byte `field` of entry `index`.
bool entryU32(BookFile *file, const Section &section, uint64_t index, uint32_t field, uint32_t *value);

// A list that starts with its own u8 count (table directory, language list,
// shelf level list): the count is read, the entries follow it.
bool count8Section(BookFile *file, uint32_t listOffset, uint32_t entrySize, Section *section);

// A u32 list that a table record leads to: offsetField holds its position;
// an offset of 0 is no list.
bool tableList(BookFile *file, const TableRecord &record, TableField offsetField, uint64_t count, Section *section);

// Read the 512-byte header. Tests nothing of its content.
bool readHeader(BookFile *file, BookHeader *header);

// Read the header, the table directory and entry `table`, and the 52-byte
// record it points to. False when there is no table directory, the table
// number is negative or not below the count, or a read is refused or fails.
bool readTableRecord(BookFile *file, int32_t table, TableRecord *record);

}  // namespace tovix

#endif
