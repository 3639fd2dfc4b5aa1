// The book file format: the one description of the layout, shared by the
// module's readers, the book writer, the companion libraries and the tool.
//
// All integers are little-endian; every offset is an absolute position from
// the start of the file; nothing is aligned. A book file is smaller than
// 2 GiB: positions of 2^31 and above cannot be reached.
#ifndef TOVIX_FORMAT_H
#define TOVIX_FORMAT_H

#include <stdint.h>

#include "le.h"

namespace tovix {

constexpr uint32_t BOOK_MAGIC = 0x44424544;  // "DEBD" in file order
constexpr uint32_t BOOK_MAX_VERSION = 1;
constexpr uint32_t BOOK_MAX_FILE_SIZE = 0x7FFFFFFF;

// Book kinds (the header's kind field).
enum BookKind : uint32_t {
    KIND_DICTIONARY = 1,  // tables are dictionaries of the engine
    KIND_PLAIN = 2,
    KIND_PREFIXED = 4,  // page records carry a link block
};

// Language codes of string lists and language lists.
enum LanguageCode : uint8_t {
    LANG_BASE = 1,
    LANG_CP936 = 2,
    LANG_CP950 = 3,
    LANG_CP932 = 4,
    LANG_CP949 = 5,
    LANG_FIRST = LANG_BASE,
    LANG_LAST = LANG_CP949,
};

// --- the header: 512 bytes at offset 0 ---------------------------------------
constexpr uint32_t BOOK_HEADER_SIZE = 512;
constexpr uint32_t HEADER_RESERVED_START = 56;  // bytes 56..511 are free for the writer
constexpr uint32_t BOOK_CAPS_SIZE = 16;         // kind, version and the two capability words
constexpr uint32_t DEF_CHAR_ATTR_SIZE = 84;

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

// --- lists that start with a u8 count ----------------------------------------
// Table directory, language list, shelf level list, extended book number and
// string lists: the count byte, then the entries.
constexpr uint32_t COUNT8_SIZE = 1;
constexpr uint32_t MAX_COUNT8 = 255;
constexpr uint32_t TABLE_DIR_ENTRY_SIZE = 4;  // u32 position of a table record
constexpr uint32_t LANGUAGE_ENTRY_SIZE = 1;   // u8 language code
constexpr uint32_t SHELF_LEVEL_ENTRY_SIZE = 8;
constexpr uint32_t SHELF_LEVEL_VALUE = 0;  // u32
constexpr uint32_t SHELF_LEVEL_NAME = 4;   // u32 string list offset, 0 = none

// --- the page directory and page records --------------------------------------
// The directory: u32 count, then count u32 record positions. A record: in
// kind-4 books a u16 link count and that many u32 links; then the u32 size
// and the data.
constexpr uint32_t PAGE_DIR_COUNT_SIZE = 4;
constexpr uint32_t PAGE_DIR_ENTRY_SIZE = 4;
constexpr uint32_t PAGE_LINK_COUNT_SIZE = 2;
constexpr uint32_t PAGE_LINK_SIZE = 4;
constexpr uint32_t MAX_PAGE_LINKS = 0xFFFF;
constexpr uint32_t PAGE_SIZE_FIELD_SIZE = 4;

// --- the 52-byte table record --------------------------------------------------
// +16, +20 and +24 mean one thing in plain books (kinds 2, 4) and another in
// dictionary books (kind 1).
constexpr uint32_t TABLE_RECORD_SIZE = 52;
enum TableField : uint32_t {
    TBL_LOCALE = 0,  // u8, then three spare bytes
    TBL_SUB_COUNT = 4,
    TBL_SUB_LIST_OFFSET = 8,
    TBL_NAME_OFFSET = 12,
    TBL_PAGE_COUNT = 16,              // plain
    TBL_APP_FLAGS = 16,               // dictionary
    TBL_PAGE_LIST_OFFSET = 20,        // plain
    TBL_DICT_LEVEL_LIST_OFFSET = 20,  // dictionary
    TBL_KEY_COUNT = 24,               // plain
    TBL_SIMPLE_NAME_OFFSET = 24,      // dictionary
    TBL_KEY_LIST_OFFSET = 28,
    TBL_PAGE_TO_KEY_OFFSET = 32,
    TBL_VP_COUNT = 36,
    TBL_VP_LIST_OFFSET = 40,
    TBL_PAGE_TO_ITEM_OFFSET = 44,
    TBL_DICT_ID = 48,
};
constexpr uint32_t TABLE_LOCALE_SPARE = 3;

// The lists a table record leads to whose entries are one u32: table pages
// (book page numbers), key positions, page-to-key, tree item positions,
// page-to-item, dictionary level record positions.
constexpr uint32_t U32_ENTRY_SIZE = 4;
// The sub list: entries of u32 sub id and u32 name offset.
constexpr uint32_t SUB_ENTRY_SIZE = 8;
constexpr uint32_t SUB_ID = 0;
constexpr uint32_t SUB_NAME = 4;
constexpr uint32_t DICT_LEVEL_RECORD_SIZE = 256;

// --- the key record ------------------------------------------------------------
// u32 table page, u32 offset in the page, u32 length word (text length in
// the low 16 bits, a spare byte, the attribute in the top byte), the text.
constexpr uint32_t KEY_PAGE_NO = 0;
constexpr uint32_t KEY_PAGE_OFFSET = 4;
constexpr uint32_t KEY_LENGTH_WORD = 8;
constexpr uint32_t KEY_RECORD_FIXED_SIZE = 12;
constexpr uint32_t KEY_TEXT_LENGTH_MASK = 0xFFFF;
constexpr uint32_t KEY_SPARE_SHIFT = 16;
constexpr uint32_t KEY_ATTRIBUTE_SHIFT = 24;
// The attribute of a key that books made by the tool add beside a headword
// whose Unicode case fold the key collation does not fold to: the key holds
// the fold and leads where the headword leads. The table page both lead to
// has that headword as its page-to-key entry (a page of a table lists a key
// with this attribute only when no other key leads to it).
constexpr uint8_t KEY_ATTRIBUTE_CASE_FOLD = 0x46;
// In a dictionary book, whose keys carry no attribute, the word record of
// such a key has one more content, of this sub number, holding the headword.
constexpr uint32_t CASE_FOLD_SUB = 0x46;

// --- the tree item -------------------------------------------------------------
// Four u32 links, then the caption as a string list. Items are numbered from
// 1; 0 is no item.
constexpr uint32_t VP_PAGE_PLUS_ONE = 0;  // table page + 1, 0 = none
constexpr uint32_t VP_PREVIOUS = 4;
constexpr uint32_t VP_NEXT_SIBLING = 8;
constexpr uint32_t VP_FIRST_CHILD = 12;
constexpr uint32_t VP_ITEM_FIXED_SIZE = 16;
constexpr uint32_t VP_ROOT_ITEM = 1;
// The caption (in language 1) that hides an item: the nine bytes 01 .. 09.
constexpr char HIDDEN_ITEM_MARKER[] = "\x01\x02\x03\x04\x05\x06\x07\x08\x09";
constexpr uint32_t HIDDEN_ITEM_MARKER_LENGTH = sizeof HIDDEN_ITEM_MARKER - 1;

// --- the string list -------------------------------------------------------------
// u8 count, then entries of u8 language, u8 length and that many bytes.
constexpr uint32_t STRING_ENTRY_HEAD_SIZE = 2;
constexpr uint32_t STRING_TEXT_MAX = 255;

// --- decoded records ---------------------------------------------------------------
struct BookHeader {
    unsigned char bytes[BOOK_HEADER_SIZE];
    uint32_t field(HeaderField f) const { return le32(bytes + f); }
};

struct TableRecord {
    unsigned char bytes[TABLE_RECORD_SIZE];
    uint32_t field(TableField f) const { return le32(bytes + f); }
    uint8_t locale() const { return bytes[TBL_LOCALE]; }
};

struct VpItem {
    uint32_t pagePlusOne;
    uint32_t previous;
    uint32_t nextSibling;
    uint32_t firstChild;
};

inline VpItem decodeVpItem(const unsigned char *fixed) {
    return {le32(fixed + VP_PAGE_PLUS_ONE), le32(fixed + VP_PREVIOUS), le32(fixed + VP_NEXT_SIBLING),
            le32(fixed + VP_FIRST_CHILD)};
}

// A dictionary book's table may use the engine's spell checker when its
// dictionary id has byte 0 = 1, byte 2 = 1 and byte 3 = 0 (0x0001XX01);
// byte 1 is free.
constexpr uint32_t SPELL_DICT_ID_BITS = 0x00010001;
constexpr uint32_t SPELL_DICT_ID_MASK = 0xFFFF00FF;
constexpr unsigned SPELL_DICT_ID_FREE_SHIFT = 8;  // the free byte
inline bool isSpellCapable(uint32_t dictId) { return (dictId & SPELL_DICT_ID_MASK) == SPELL_DICT_ID_BITS; }

inline bool isBookKind(uint32_t kind) { return kind == KIND_DICTIONARY || kind == KIND_PLAIN || kind == KIND_PREFIXED; }

inline bool isLanguageCode(uint32_t code) { return code >= LANG_FIRST && code <= LANG_LAST; }

}  // namespace tovix

#endif
