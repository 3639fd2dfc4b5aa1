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
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace zav {

// A localized string list: (language code, text) entries in file order.
// Texts longer than 255 bytes are refused by writeBook.
struct StringListDesc {
    std::vector<std::pair<uint8_t, std::string>> entries;
    StringListDesc() = default;
    StringListDesc(std::initializer_list<std::pair<uint8_t, std::string>> e) : entries(e) {}
};

// The caption that hides a tree item from the downward walks.
extern const std::string kHiddenItemMarker;  // bytes 01 02 ... 09

struct PageDesc {
    std::string data;                // page bytes, opaque
    std::vector<uint32_t> links;     // kind-4 books only: the link block
};

struct KeyDesc {
    std::string text;        // key text, no terminator, up to 65535 bytes
    uint32_t pageNo = 0;
    uint32_t pageOffset = 0;
    uint8_t attribute = 0;   // bits 24-31 of the length word
    uint8_t spare = 0;       // bits 16-23 of the length word (never read)
};

// A tree item. Links are item numbers (1-based, 0 = none) written as given,
// so any shape, including a damaged one, can be described. Use
// linkTree() to fill the links of a well-formed tree from parent numbers.
struct VpItemDesc {
    uint32_t pagePlusOne = 0;
    uint32_t previous = 0;
    uint32_t nextSibling = 0;
    uint32_t firstChild = 0;
    StringListDesc caption;
};

struct SubEntryDesc {
    uint32_t subId = 0;
    std::optional<StringListDesc> name;  // nullopt: nameOffset 0
};

struct TableDesc {
    uint8_t locale = 0;
    uint8_t localeSpare[3] = {0, 0, 0};   // bytes 1-3 of the locale field
    std::optional<StringListDesc> name;   // nullopt: nameOffset 0
    std::vector<SubEntryDesc> subs;
    uint32_t dictId = 0;

    // Plain books (kinds 2, 4).
    std::vector<uint32_t> pageList;       // table page index -> book page number
    std::vector<KeyDesc> keys;            // sorted under the key collation unless keepKeyOrder
    bool keepKeyOrder = false;
    // page-to-key list; written when non-empty (pageToKeyOffset 0 otherwise).
    // autoPageToKey fills it from the keys: for each table page, the first key
    // whose pageNo is that page (or the nearest key before it).
    std::vector<uint32_t> pageToKey;
    bool autoPageToKey = false;

    // Dictionary books (kind 1): the fields at +16, +20 and +24.
    uint32_t appFlags = 0;
    std::vector<std::optional<std::vector<uint8_t>>> dictLevels;  // 256-byte records; nullopt: entry 0
    std::optional<StringListDesc> simpleName;                       // nullopt: simpleNameOffset 0

    // Virtual page tree: item n is vpItems[n - 1]. vpListOffset is 0 when empty
    // unless vpListAlways is set.
    std::vector<VpItemDesc> vpItems;
    std::vector<uint32_t> pageToItem;     // written when non-empty

    // Raw overrides of record fields, applied last (for broken books).
    std::optional<uint32_t> subCountOverride, pageCountOverride, keyCountOverride, vpCountOverride;
    std::optional<uint32_t> keyListOffsetOverride, pageToKeyOffsetOverride, vpListOffsetOverride,
        pageToItemOffsetOverride, pageListOffsetOverride, subListOffsetOverride;
};

struct BookDesc {
    uint32_t kind = 2;          // 1 dictionary, 2 plain, 4 prefixed (page link blocks)
    uint32_t version = 0;
    uint32_t magic = 0x44424544;
    uint32_t capsWord1 = 0, capsWord2 = 0;
    uint32_t serial = 0;
    uint32_t positionId = 0;
    std::optional<StringListDesc> bookName;
    std::optional<std::vector<uint8_t>> defCharAttr;   // 84 bytes
    std::optional<std::string> exBookNo;               // up to 255 bytes
    std::optional<std::vector<uint8_t>> languages;     // language list
    struct ShelfLevel {
        uint32_t levelValue = 0;
        std::optional<StringListDesc> name;            // nullopt: nameOffset 0
    };
    std::optional<std::vector<ShelfLevel>> shelfLevels;
    std::vector<PageDesc> pages;                       // the page directory (absent when empty
    bool pageDirAlways = false;                        //   unless pageDirAlways)
    std::vector<TableDesc> tables;                     // the table directory (absent when empty
    bool tableDirAlways = false;                       //   unless tableDirAlways)
    std::vector<uint8_t> reserved;                     // header bytes 56.. (at most 456)
};

// Where writeBook put things: absolute file offsets (0 = not written).
struct TableLayout {
    uint32_t record = 0;          // the 52-byte TableRecord
    uint32_t nameOffset = 0, simpleNameOffset = 0, subListOffset = 0, pageListOffset = 0;
    uint32_t keyListOffset = 0, pageToKeyOffset = 0, vpListOffset = 0, pageToItemOffset = 0;
    uint32_t dictLevelListOffset = 0;
    std::vector<uint32_t> keyRecords;   // in key-list order (after sorting)
    std::vector<std::string> keyTexts;  // texts in key-list order
    std::vector<uint32_t> vpItems;      // item n at vpItems[n - 1]
    std::vector<uint32_t> subNames;     // per sub entry, 0 when it has none
};

struct BookLayout {
    uint32_t bookNameOffset = 0, defCharAttrOffset = 0, exBookNoOffset = 0, languageListOffset = 0;
    uint32_t tableDirOffset = 0, pageDirOffset = 0, shelfLevelOffset = 0;
    std::vector<uint32_t> pageRecords;        // per book page
    std::vector<uint32_t> shelfLevelNames;    // per shelf level
    std::vector<TableLayout> tables;
};

struct WrittenBook {
    std::vector<uint8_t> bytes;
    BookLayout layout;
};

// Lay the book out. Structures follow the 512-byte header in a fixed order;
// nothing is aligned. Returns false with a message in *error for a
// description the format cannot hold (a text over 255 bytes, a key over
// 65535 bytes, more than 255 tables, languages or shelf levels, a block of
// the wrong size, a file of 2 GiB or more).
bool writeBook(const BookDesc &desc, WrittenBook *out, std::string *error);

// Convenience: writeBook, aborting the program on a description error.
WrittenBook writeBookOrDie(const BookDesc &desc);

// Write the image to a file. False on an I/O error.
bool saveBook(const std::vector<uint8_t> &bytes, const std::string &path);

// Fill previous/nextSibling/firstChild of items from a parent list:
// parents[n - 1] is the parent item of item n (0 for item 1, the root, and for
// top-level items). Children keep their order of appearance.
void linkTree(std::vector<VpItemDesc> &items, const std::vector<uint32_t> &parents);

// Damage helpers for tests.
void patchU32(std::vector<uint8_t> &bytes, uint32_t position, uint32_t value);
void patchU16(std::vector<uint8_t> &bytes, uint32_t position, uint16_t value);
void patchU8(std::vector<uint8_t> &bytes, uint32_t position, uint8_t value);

// Sort keys under the key collation, stably (equal keys keep their order).
void sortKeys(std::vector<KeyDesc> &keys);

}  // namespace zav

#endif
