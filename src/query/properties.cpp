// The book property calls: name, capability words, default character
// attributes, serial, extended book number, languages, table count, shelf
// levels and position id. Each reads the header, then at most one book-level
// list that a header offset leads to.
#include <string.h>

#include "../book/book_state.h"
#include "../book/process_state.h"
#include "../book/string_list.h"
#include "TovixZAV_JC.h"

using namespace tovix;

namespace {

// The offset stored in header field `f`; false when the header cannot be
// read or the offset is 0 (the structure is absent).
bool listOffset(BookState *book, HeaderField f, uint32_t *offset) {
    BookHeader header;
    if (!readHeader(&book->file, &header)) return false;
    *offset = header.field(f);
    return *offset != 0;
}

// The count byte at the start of the list that header field `f` points to.
int32_t countByte(BookState *book, HeaderField f) {
    uint32_t offset;
    uint8_t count;
    if (!book || !listOffset(book, f, &offset) || !u8At(&book->file, offset, &count)) return 0;
    return count;
}

}  // namespace

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetBkName(BookHandle book, int32_t language, char *buffer,
                                                 uint32_t length) noexcept {
    uint32_t offset;
    if (!book || !listOffset(book, HDR_BOOK_NAME_OFFSET, &offset)) return 0;
    return readStringList(&book->file, offset, wantedLanguage(language), buffer, length);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetCaps(BookHandle book, void *caps) noexcept {
    BookHeader header;
    if (!book || !caps || !readHeader(&book->file, &header)) return 0;
    // kind, version, capsWord1, capsWord2: four u32 of the host's byte order
    // (header bytes 4 to 19 on a little-endian host), stored through bytes
    // since the host's block need not be aligned.
    const HeaderField words[] = {HDR_KIND, HDR_VERSION, HDR_CAPS_WORD1, HDR_CAPS_WORD2};
    static_assert(sizeof words / sizeof words[0] * sizeof(uint32_t) == BOOK_CAPS_SIZE, "four words");
    for (size_t i = 0; i < BOOK_CAPS_SIZE / sizeof(uint32_t); ++i) {
        uint32_t value = header.field(words[i]);
        memcpy(static_cast<unsigned char *>(caps) + i * sizeof value, &value, sizeof value);
    }
    return 1;
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetDefCharAttr(BookHandle book, void *block) noexcept {
    uint32_t offset;
    if (!book || !block || !listOffset(book, HDR_DEF_CHAR_ATTR_OFFSET, &offset)) return 0;
    return readAt(&book->file, offset, block, DEF_CHAR_ATTR_SIZE) ? 1 : 0;
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVBookSerial(BookHandle book, uint32_t *serial) noexcept {
    BookHeader header;
    if (!book || !serial || !readHeader(&book->file, &header)) return ZAV_SERIAL_FAILED;
    *serial = header.field(HDR_SERIAL);
    return 0;
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVExBookNoLength(BookHandle book) noexcept {
    return countByte(book, HDR_EX_BOOK_NO_OFFSET);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVExBookNo(BookHandle book, char *buffer, int32_t length) noexcept {
    uint32_t offset;
    uint8_t n;
    if (!book || !buffer || !listOffset(book, HDR_EX_BOOK_NO_OFFSET, &offset)) return 0;
    if (!u8At(&book->file, offset, &n)) return 0;
    // A buffer of exactly n bytes is large enough: no terminator is written.
    if (n > length) return 0;
    if (readAt(&book->file, static_cast<uint64_t>(offset) + COUNT8_SIZE, buffer, n)) return 1;
    // The read may have stopped part-way: no fragment is left for the host
    // (length >= n > 0 here: a read of nothing does not fail).
    buffer[0] = '\0';
    return 0;
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetLanguageCount(BookHandle book) noexcept {
    return countByte(book, HDR_LANGUAGE_LIST_OFFSET);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetLanguage(BookHandle book, int32_t index) noexcept {
    uint32_t offset;
    Section languages;
    uint64_t entry;
    uint8_t code;
    if (!book || !listOffset(book, HDR_LANGUAGE_LIST_OFFSET, &offset)) return 0;
    if (!count8Section(&book->file, offset, LANGUAGE_ENTRY_SIZE, &languages) || index < 0 ||
        !entryPosition(&book->file, languages, static_cast<uint32_t>(index), &entry) ||
        !u8At(&book->file, entry, &code))
        return 0;
    return code;
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetTableCount(BookHandle book) noexcept {
    return countByte(book, HDR_TABLE_DIR_OFFSET);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetShelfLevel(BookHandle book) noexcept {
    return countByte(book, HDR_SHELF_LEVEL_OFFSET);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetShelfLevelInfo(BookHandle book, int32_t index, int32_t language,
                                                         uint32_t *levelValue, char *buffer, uint32_t length) noexcept {
    uint32_t offset;
    Section levels;
    uint64_t entry;
    uint32_t value;
    uint32_t nameOffset;
    if (!book || !levelValue || !listOffset(book, HDR_SHELF_LEVEL_OFFSET, &offset)) return 0;
    if (!count8Section(&book->file, offset, SHELF_LEVEL_ENTRY_SIZE, &levels) || index < 0 ||
        !entryPosition(&book->file, levels, static_cast<uint32_t>(index), &entry) ||
        !u32At(&book->file, entry + SHELF_LEVEL_VALUE, &value))
        return 0;
    *levelValue = value;  // stays stored when the name cannot be had
    if (!u32At(&book->file, entry + SHELF_LEVEL_NAME, &nameOffset)) return 0;
    // A level whose name offset is 0 has no name, as everywhere else; it is
    // not read from the start of the file.
    if (nameOffset == 0) return 0;
    return readStringList(&book->file, nameOffset, wantedLanguage(language), buffer, length);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetBookPositionID(BookHandle book) noexcept {
    BookHeader header;
    if (!book || !readHeader(&book->file, &header)) return 0;
    return static_cast<int32_t>(header.field(HDR_POSITION_ID));
}
