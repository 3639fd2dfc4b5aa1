// The book writer: lays out a complete book file from a plain description.
//
// Used by the tests, the book tool (`zav build`, `zav import`) and the
// benchmarks. Not part of the module. Every structure of the format can be
// described here; the result is the file image plus a map of where each
// structure was put, so that tests can damage a book on purpose (patch a
// field, truncate the file, point an offset past the end or at 2^31).
#ifndef ZAV_BOOK_WRITER_H
#define ZAV_BOOK_WRITER_H

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zav {

// A localized string list: (language code, text) entries in file order,
// written as a u8 count, then per entry u8 language, u8 length, text bytes.
// More than 255 entries, or a text longer than 255 bytes, is refused by
// writeBook. The language byte is written as given (any value 0-255).
struct StringListDesc {
    std::vector<std::pair<uint8_t, std::string>> entries;
    StringListDesc() = default;
    StringListDesc(std::initializer_list<std::pair<uint8_t, std::string>> e) : entries(e) {}
};

// The caption that hides a tree item from the downward walks.
extern const std::string kHiddenItemMarker;  // bytes 01 02 ... 09

// One page of the page directory. Kind-4 books write u16 linkCount, the
// links, u32 size, data; other kinds write u32 size, data.
struct PageDesc {
    std::string data;             // page bytes, opaque
    std::vector<uint32_t> links;  // kind-4 books only (at most 65535): the link block;
                                  //   links in a book of another kind are refused
};

// One key of a table's key list, written as a KeyRecord: u32 pageNo,
// u32 pageOffset, u32 lengthWord = length | spare << 16 | attribute << 24,
// then the text.
struct KeyDesc {
    std::string text;         // key text, no terminator, up to 65535 bytes
    uint32_t pageNo = 0;      // the page the key leads to (a table page index
                              //   for autoPageToKey)
    uint32_t pageOffset = 0;  // position within that page
    uint8_t attribute = 0;    // bits 24-31 of the length word
    uint8_t spare = 0;        // bits 16-23 of the length word (never read)
};

// A tree item. Links are item numbers (1-based, 0 = none) written as given,
// so any shape, including a damaged one, can be described. Use
// linkTree() to fill the links of a well-formed tree from parent numbers.
struct VpItemDesc {
    uint32_t pagePlusOne = 0;  // the item's page plus one; 0 = no page
    uint32_t previous = 0;     // previous sibling, or the parent for a first child; 0 for the root
    uint32_t nextSibling = 0;  // 0 = last
    uint32_t firstChild = 0;   // 0 = no children
    StringListDesc caption;    // written right after the 16 fixed bytes
};

// One entry of a table's sub list (8 bytes: u32 subId, u32 nameOffset).
struct SubEntryDesc {
    uint32_t subId = 0;
    std::optional<StringListDesc> name;  // nullopt: nameOffset 0
};

// One table: its 52-byte TableRecord and every list the record points to.
// A list that is not described is absent (its offset field 0) unless noted.
struct TableDesc {
    uint8_t locale = 0;                  // byte 0 of the record
    uint8_t localeSpare[3] = {0, 0, 0};  // bytes 1-3 of the locale field
    std::optional<StringListDesc> name;  // nullopt: nameOffset 0
    std::vector<SubEntryDesc> subs;      // sub list; subCount = subs.size(), offset 0 when empty
    uint32_t dictId = 0;                 // +48, written as given

    // Plain books (kinds 2, 4). A page list in a dictionary book is refused
    // (its record has no page count or page list field).
    std::vector<uint32_t> pageList;  // table page index -> book page number; pageCount = size;
                                     //   pageListOffset 0 when empty
    // Key list: u32 offsets to KeyRecords; keyCount = keys.size() (plain books
    // only: a dictionary record holds simpleNameOffset at +24). keyListOffset
    // is 0 when there are no keys unless keyListAlways is set. Sorted under
    // the key collation (stable) unless keepKeyOrder.
    std::vector<KeyDesc> keys;
    bool keepKeyOrder = false;
    bool keyListAlways = false;
    // page-to-key list; written when non-empty (pageToKeyOffset 0 otherwise).
    // autoPageToKey fills it from the keys instead (giving both is refused):
    // one entry per page-list entry; entry i is the index, in the final key
    // order, of the first key whose pageNo is i (a key with the case-fold
    // attribute only when no other key leads to page i), or, when no key
    // leads to page i, the entry of the nearest page before it that has one
    // (0 when there is none).
    std::vector<uint32_t> pageToKey;
    bool autoPageToKey = false;

    // Dictionary books (kind 1): the fields at +16, +20 and +24. Giving any of
    // them in a plain book is refused.
    uint32_t appFlags = 0;
    // Dictionary level list (u32 entries, no stored count): each a 256-byte
    // record, or nullopt for an entry of 0. dictLevelListOffset 0 when empty.
    std::vector<std::optional<std::vector<uint8_t>>> dictLevels;
    std::optional<StringListDesc> simpleName;  // nullopt: simpleNameOffset 0

    // Virtual page tree: item n is vpItems[n - 1]; vpCount = size. vpListOffset
    // is 0 when empty unless vpListAlways is set.
    std::vector<VpItemDesc> vpItems;
    bool vpListAlways = false;
    std::vector<uint32_t> pageToItem;  // u32 item numbers; written when non-empty

    // Raw overrides of record fields, applied last (for broken books). In a
    // dictionary book the page and key count overrides land on appFlags and
    // simpleNameOffset, as the fields share their positions.
    std::optional<uint32_t> subCountOverride, pageCountOverride, keyCountOverride, vpCountOverride;
    std::optional<uint32_t> keyListOffsetOverride, pageToKeyOffsetOverride, vpListOffsetOverride,
        pageToItemOffsetOverride, pageListOffsetOverride, subListOffsetOverride;
    std::optional<uint32_t> nameOffsetOverride, simpleNameOffsetOverride, dictLevelListOffsetOverride;
};

// A whole book. Header fields are written as given (any kind, version or
// magic, so that books the module must refuse can be written); the kind
// decides only the page record layout (4: link blocks) and the meaning of
// the table record fields at +16/+20/+24 (1: dictionary).
// Every optional book-level structure that is nullopt has its header offset 0.
struct BookDesc {
    uint32_t kind = 2;  // 1 dictionary, 2 plain, 4 prefixed (page link blocks)
    uint32_t version = 0;
    uint32_t magic = 0x44424544;
    uint32_t capsWord1 = 0, capsWord2 = 0;
    uint32_t serial = 0;
    uint32_t positionId = 0;
    std::optional<StringListDesc> bookName;
    std::optional<std::vector<uint8_t>> defCharAttr;  // exactly 84 bytes
    std::optional<std::string> exBookNo;              // u8 length + bytes; up to 255 bytes
    std::optional<std::vector<uint8_t>> languages;    // language list: u8 count + codes; at most 255
    struct ShelfLevel {
        uint32_t levelValue = 0;
        std::optional<StringListDesc> name;  // nullopt: nameOffset 0
    };
    std::optional<std::vector<ShelfLevel>> shelfLevels;  // u8 count + 8-byte entries; at most 255
    std::vector<PageDesc> pages;                         // the page directory (absent when empty
    bool pageDirAlways = false;                          //   unless pageDirAlways)
    std::vector<TableDesc> tables;                       // the table directory (absent when empty
    bool tableDirAlways = false;                         //   unless tableDirAlways)
    std::vector<uint8_t> reserved;                       // header bytes 56.. (at most 456)
};

// Where writeBook put things: absolute file offsets (0 = not written).
struct TableLayout {
    uint32_t record = 0;  // the 52-byte TableRecord
    uint32_t nameOffset = 0, simpleNameOffset = 0, subListOffset = 0, pageListOffset = 0;
    uint32_t keyListOffset = 0, pageToKeyOffset = 0, vpListOffset = 0, pageToItemOffset = 0;
    uint32_t dictLevelListOffset = 0;
    std::vector<uint32_t> keyRecords;        // in key-list order (after sorting)
    std::vector<std::string> keyTexts;       // texts in key-list order
    std::vector<uint32_t> vpItems;           // item n at vpItems[n - 1]
    std::vector<uint32_t> subNames;          // per sub entry, 0 when it has none
    std::vector<uint32_t> dictLevelRecords;  // per dictionary level entry, 0 when nullopt
};

struct BookLayout {
    uint32_t bookNameOffset = 0, defCharAttrOffset = 0, exBookNoOffset = 0, languageListOffset = 0;
    uint32_t tableDirOffset = 0, pageDirOffset = 0, shelfLevelOffset = 0;
    std::vector<uint32_t> pageRecords;      // per book page: the PageRecord
    std::vector<uint32_t> pageData;         // per book page: the first data byte
    std::vector<uint32_t> shelfLevelNames;  // per shelf level
    std::vector<TableLayout> tables;
};

struct WrittenBook {
    std::vector<uint8_t> bytes;
    BookLayout layout;
};

// Lay the book out. Structures follow the 512-byte header in a fixed order:
// book name, default character attributes, extended book number, language
// list, shelf level list and its names, table directory, then per table its
// record followed by its names and lists, and last the page directory and
// the page records. Nothing is aligned; integers are little-endian. Returns false with a message in *error for a
// description the format cannot hold (a text over 255 bytes, a key over
// 65535 bytes, more than 255 tables, languages or shelf levels, a block of
// the wrong size, a file of 2 GiB or more, a field given for the other kind
// of book). *out is left unchanged on failure; error may be null.
bool writeBook(const BookDesc &desc, WrittenBook *out, std::string *error);

// Convenience: writeBook, aborting the program on a description error.
WrittenBook writeBookOrDie(const BookDesc &desc);

// Write the image to a file. False on an I/O error.
bool saveBook(const std::vector<uint8_t> &bytes, const std::string &path);

// Fill previous/nextSibling/firstChild of items from a parent list:
// parents[n - 1] is the parent item of item n (0 for item 1, the root, and for
// top-level items). Children keep their order of appearance. The previous
// link of a first child is its parent, of a later child the sibling before
// it; top-level items form one sibling chain, whose first member (the root)
// has previous 0. Captions and pagePlusOne are kept. Throws
// std::invalid_argument when the sizes differ or a parent is out of range or
// the item itself.
void linkTree(std::vector<VpItemDesc> &items, const std::vector<uint32_t> &parents);

// Damage helpers for tests: overwrite a little-endian value in place. Throw
// std::out_of_range when the value does not lie inside the bytes.
void patchU32(std::vector<uint8_t> &bytes, uint32_t position, uint32_t value);
void patchU16(std::vector<uint8_t> &bytes, uint32_t position, uint16_t value);
void patchU8(std::vector<uint8_t> &bytes, uint32_t position, uint8_t value);

// Sort keys under the key collation, stably (equal keys keep their order).
void sortKeys(std::vector<KeyDesc> &keys);

}  // namespace zav

#endif
