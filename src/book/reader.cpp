#include "reader.h"

namespace tovix {

bool openBookFile(const wchar_t *path, BookFile *file) {
    file->native = gPlatform->openRead(path);
    if (file->native == kInvalidFile) return false;
    if (!gPlatform->fileSize(file->native, &file->size)) {
        closeBookFile(file);
        return false;
    }
    return true;
}

void closeBookFile(BookFile *file) {
    if (file->native != kInvalidFile) gPlatform->close(file->native);
    file->native = kInvalidFile;
}

bool refuse(BookFile *file, const char *reason, uint64_t offset) {
    if (file->failure && !file->failure->reason) *file->failure = {reason, offset};
    return false;
}

namespace {

// Books lie below 2 GiB, so a position of the file fits the platform's
// 32-bit offsets.
bool inFile(const BookFile *file, uint64_t offset, uint64_t n) {
    return offset <= file->size && n <= file->size - offset && offset <= BOOK_MAX_FILE_SIZE;
}

}  // namespace

bool readAt(BookFile *file, uint64_t offset, void *buffer, uint32_t n) {
    if (n == 0) return true;
    if (!inFile(file, offset, n)) return refuse(file, "outside the file", offset);
    if (gPlatform->readAt(file->native, buffer, n, static_cast<uint32_t>(offset)) != n)
        return refuse(file, "read failed", offset);
    return true;
}

int64_t readUpTo(BookFile *file, uint64_t offset, void *buffer, uint32_t n) {
    if (!inFile(file, offset, 1)) return refuse(file, "outside the file", offset), -1;
    uint64_t left = file->size - offset;
    uint32_t want = left < n ? static_cast<uint32_t>(left) : n;
    int64_t got = gPlatform->readAt(file->native, buffer, want, static_cast<uint32_t>(offset));
    if (got < 0) refuse(file, "read failed", offset);
    return got;
}

bool u8At(BookFile *file, uint64_t offset, uint8_t *value) { return readAt(file, offset, value, 1); }

bool u16At(BookFile *file, uint64_t offset, uint16_t *value) {
    unsigned char b[2];
    if (!readAt(file, offset, b, 2)) return false;
    *value = le16(b);
    return true;
}

bool u32At(BookFile *file, uint64_t offset, uint32_t *value) {
    unsigned char b[4];
    if (!readAt(file, offset, b, 4)) return false;
    *value = le32(b);
    return true;
}

bool entryPosition(BookFile *file, const Section &section, uint64_t index, uint64_t *position) {
    if (index >= section.count) return refuse(file, "entry beyond the list's count", section.offset);
    // index * entrySize cannot overflow for indexes below 2^32; larger ones
    // lie outside any file.
    if (index > UINT32_MAX) return refuse(file, "entry outside the file", section.offset);
    uint64_t at = section.offset + index * section.entrySize;
    if (!inFile(file, at, section.entrySize)) return refuse(file, "entry outside the file", at);
    *position = at;
    return true;
}

bool entryU32(BookFile *file, const Section &section, uint64_t index, uint32_t field, uint32_t *value) {
    uint64_t at;
    return entryPosition(file, section, index, &at) && u32At(file, at + field, value);
}

bool count8Section(BookFile *file, uint32_t listOffset, uint32_t entrySize, Section *section) {
    uint8_t count;
    if (!u8At(file, listOffset, &count)) return false;
    *section = {static_cast<uint64_t>(listOffset) + COUNT8_SIZE, entrySize, count};
    return true;
}

bool tableList(BookFile *file, const TableRecord &record, TableField offsetField, uint64_t count, Section *section) {
    uint32_t offset = record.field(offsetField);
    if (offset == 0) return refuse(file, "no such list", 0);
    *section = {offset, U32_ENTRY_SIZE, count};
    return true;
}

bool readHeader(BookFile *file, BookHeader *header) { return readAt(file, 0, header->bytes, BOOK_HEADER_SIZE); }

bool readTableRecord(BookFile *file, int32_t table, TableRecord *record) {
    BookHeader header;
    if (!readHeader(file, &header)) return false;
    uint32_t dir = header.field(HDR_TABLE_DIR_OFFSET);
    if (dir == 0) return refuse(file, "no table directory", HDR_TABLE_DIR_OFFSET);
    Section tables;
    uint32_t position;
    if (table < 0) return refuse(file, "negative table number", dir);
    if (!count8Section(file, dir, TABLE_DIR_ENTRY_SIZE, &tables) ||
        !entryU32(file, tables, static_cast<uint64_t>(table), 0, &position))
        return false;
    return readAt(file, position, record->bytes, TABLE_RECORD_SIZE);
}

}  // namespace tovix
