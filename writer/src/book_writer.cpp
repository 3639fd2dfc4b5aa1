// The book writer: builds the whole file image in memory, one structure after
// the other, and patches the offsets that point forward once their targets
// have been placed.
#include "zav/book_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <numeric>
#include <stdexcept>

#include "tovix/collation.h"
#include "tovix/format.h"
#include "put_le.h"

namespace zav {

const std::string kHiddenItemMarker(tovix::HIDDEN_ITEM_MARKER, tovix::HIDDEN_ITEM_MARKER_LENGTH);

namespace {

using namespace tovix;

// A description the format cannot hold; caught by writeBook.
struct DescriptionError {
    std::string message;
};

[[noreturn]] void refuse(std::string message) { throw DescriptionError{std::move(message)}; }

// The growing file image. Every append checks the 2 GiB bound before it
// grows the buffer.
class Image : public PutLittleEndian<Image> {
public:
    explicit Image(uint64_t expected) {
        bytes_.reserve(static_cast<size_t>(std::min(expected, uint64_t{BOOK_MAX_FILE_SIZE})));
    }

    uint32_t pos() const { return static_cast<uint32_t>(bytes_.size()); }

    void room(uint64_t n) {
        if (bytes_.size() + n > uint64_t{BOOK_MAX_FILE_SIZE})
            refuse("the book would reach 2 GiB; every position must stay below 2^31");
    }

    // Reserve n zero bytes and return their position.
    uint32_t zeros(uint64_t n) {
        room(n);
        uint32_t at = pos();
        bytes_.resize(bytes_.size() + static_cast<size_t>(n), 0);
        return at;
    }
    void u8(uint8_t v) {
        room(1);
        bytes_.push_back(v);
    }
    void raw(const void *data, size_t n) {
        room(n);
        const auto *p = static_cast<const uint8_t *>(data);
        bytes_.insert(bytes_.end(), p, p + n);
    }
    void set32(uint32_t at, uint32_t v) { putLe32(bytes_.data() + at, v); }
    void set8(uint32_t at, uint8_t v) { bytes_[at] = v; }

    std::vector<uint8_t> take() { return std::move(bytes_); }

private:
    std::vector<uint8_t> bytes_;
};

void checkStringList(const StringListDesc &list, const std::string &what) {
    if (list.entries.size() > MAX_COUNT8)
        refuse(what + ": a string list holds at most 255 entries, got " + std::to_string(list.entries.size()));
    for (const auto &entry : list.entries)
        if (entry.second.size() > STRING_TEXT_MAX)
            refuse(what + ": a string list text is at most 255 bytes, got " + std::to_string(entry.second.size()));
}

uint32_t putStringList(Image &img, const StringListDesc &list, const std::string &what) {
    checkStringList(list, what);
    uint32_t at = img.pos();
    img.u8(static_cast<uint8_t>(list.entries.size()));
    for (const auto &[language, text] : list.entries) {
        img.u8(language);
        img.u8(static_cast<uint8_t>(text.size()));
        img.raw(text.data(), text.size());
    }
    return at;
}

uint32_t putOptionalStringList(Image &img, const std::optional<StringListDesc> &list, const std::string &what) {
    return list ? putStringList(img, *list, what) : 0;
}

// Indexes of the keys in key-list order.
std::vector<uint32_t> keyOrder(const TableDesc &table) {
    std::vector<uint32_t> order(table.keys.size());
    std::iota(order.begin(), order.end(), 0u);
    if (!table.keepKeyOrder) {
        std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
            return tovix::compareKeys(table.keys[a].text.c_str(), table.keys[b].text.c_str()) < 0;
        });
    }
    return order;
}

std::vector<uint32_t> derivePageToKey(const TableDesc &table, const std::vector<uint32_t> &order) {
    constexpr uint32_t none = UINT32_MAX;
    std::vector<uint32_t> entries(table.pageList.size(), none);
    std::vector<bool> folded(table.pageList.size(), false);
    for (uint32_t k = 0; k < order.size(); ++k) {
        uint32_t page = table.keys[order[k]].pageNo;
        if (page >= entries.size() || (entries[page] != none && !folded[page])) continue;
        bool fold = table.keys[order[k]].attribute == KEY_ATTRIBUTE_CASE_FOLD;
        if (entries[page] == none || !fold) entries[page] = k, folded[page] = fold;
    }
    uint32_t carried = 0;
    for (auto &entry : entries) {
        if (entry == none)
            entry = carried;
        else
            carried = entry;
    }
    return entries;
}

void checkTable(const BookDesc &desc, const TableDesc &table, const std::string &what) {
    const bool dictionary = desc.kind == KIND_DICTIONARY;
    if (dictionary && !table.pageList.empty())
        refuse(what + ": a dictionary table has no page list (+16/+20 hold appFlags and the level list)");
    if (!dictionary && (table.appFlags != 0 || !table.dictLevels.empty() || table.simpleName))
        refuse(what + ": appFlags, dictionary levels and a simple name belong to dictionary books (kind 1)");
    if (table.autoPageToKey && !table.pageToKey.empty())
        refuse(what + ": give either a page-to-key list or autoPageToKey, not both");
    if (table.keys.size() > UINT32_MAX || table.vpItems.size() > UINT32_MAX) refuse(what + ": too many entries");
    for (size_t k = 0; k < table.keys.size(); ++k)
        if (table.keys[k].text.size() > KEY_TEXT_LENGTH_MASK)
            refuse(what + ": key " + std::to_string(k) + " is " + std::to_string(table.keys[k].text.size()) +
                   " bytes; a key text is at most 65535 bytes");
    for (size_t l = 0; l < table.dictLevels.size(); ++l)
        if (table.dictLevels[l] && table.dictLevels[l]->size() != DICT_LEVEL_RECORD_SIZE)
            refuse(what + ": dictionary level " + std::to_string(l) + " must be 256 bytes, got " +
                   std::to_string(table.dictLevels[l]->size()));
}

void putU32List(Image &img, const std::vector<uint32_t> &values) {
    img.room(uint64_t{U32_ENTRY_SIZE} * values.size());
    for (uint32_t v : values) img.u32(v);
}

// An entry of a list of u32 (or of u32 pairs) reserved at `list`.
uint32_t entryAt(uint32_t list, size_t index, uint32_t entrySize = U32_ENTRY_SIZE) {
    return list + static_cast<uint32_t>(entrySize * index);
}

void putSubs(Image &img, const TableDesc &table, const std::string &what, TableLayout &lay) {
    if (table.subs.empty()) return;
    lay.subListOffset = img.zeros(uint64_t{SUB_ENTRY_SIZE} * table.subs.size());
    lay.subNames.reserve(table.subs.size());
    for (size_t s = 0; s < table.subs.size(); ++s) {
        uint32_t name = putOptionalStringList(img, table.subs[s].name, what + " sub " + std::to_string(s));
        lay.subNames.push_back(name);
        uint32_t entry = entryAt(lay.subListOffset, s, SUB_ENTRY_SIZE);
        img.set32(entry + SUB_ID, table.subs[s].subId);
        img.set32(entry + SUB_NAME, name);
    }
}

void putKeys(Image &img, const TableDesc &table, const std::vector<uint32_t> &order, TableLayout &lay) {
    if (table.keys.empty() && !table.keyListAlways) return;
    lay.keyListOffset = img.zeros(uint64_t{U32_ENTRY_SIZE} * order.size());
    lay.keyRecords.reserve(order.size());
    lay.keyTexts.reserve(order.size());
    for (size_t k = 0; k < order.size(); ++k) {
        const KeyDesc &key = table.keys[order[k]];
        uint32_t at = img.pos();
        img.u32(key.pageNo);
        img.u32(key.pageOffset);
        img.u32(static_cast<uint32_t>(key.text.size()) | (uint32_t{key.spare} << KEY_SPARE_SHIFT) |
                (uint32_t{key.attribute} << KEY_ATTRIBUTE_SHIFT));
        img.raw(key.text.data(), key.text.size());
        img.set32(entryAt(lay.keyListOffset, k), at);
        lay.keyRecords.push_back(at);
        lay.keyTexts.push_back(key.text);
    }
}

void putTree(Image &img, const TableDesc &table, const std::string &what, TableLayout &lay) {
    if (table.vpItems.empty() && !table.vpListAlways) return;
    lay.vpListOffset = img.zeros(uint64_t{U32_ENTRY_SIZE} * table.vpItems.size());
    lay.vpItems.reserve(table.vpItems.size());
    for (size_t n = 0; n < table.vpItems.size(); ++n) {
        const VpItemDesc &item = table.vpItems[n];
        uint32_t at = img.pos();
        img.u32(item.pagePlusOne);
        img.u32(item.previous);
        img.u32(item.nextSibling);
        img.u32(item.firstChild);
        putStringList(img, item.caption, what + " item " + std::to_string(n + 1) + " caption");
        img.set32(entryAt(lay.vpListOffset, n), at);
        lay.vpItems.push_back(at);
    }
}

void putDictLevels(Image &img, const TableDesc &table, TableLayout &lay) {
    if (table.dictLevels.empty()) return;
    lay.dictLevelListOffset = img.zeros(uint64_t{U32_ENTRY_SIZE} * table.dictLevels.size());
    lay.dictLevelRecords.reserve(table.dictLevels.size());
    for (size_t l = 0; l < table.dictLevels.size(); ++l) {
        uint32_t at = 0;
        if (table.dictLevels[l]) {
            at = img.pos();
            img.raw(table.dictLevels[l]->data(), DICT_LEVEL_RECORD_SIZE);
        }
        img.set32(entryAt(lay.dictLevelListOffset, l), at);
        lay.dictLevelRecords.push_back(at);
    }
}

// A u32 list, or nothing (offset 0) when it is empty.
uint32_t putOptionalU32List(Image &img, const std::vector<uint32_t> &values) {
    if (values.empty()) return 0;
    uint32_t at = img.pos();
    putU32List(img, values);
    return at;
}

void setTableRecord(Image &img, const TableDesc &table, bool dictionary, const TableLayout &lay) {
    const uint32_t rec = lay.record;
    img.set8(rec + TBL_LOCALE, table.locale);
    for (uint32_t i = 0; i < TABLE_LOCALE_SPARE; ++i) img.set8(rec + TBL_LOCALE + 1 + i, table.localeSpare[i]);
    img.set32(rec + TBL_SUB_COUNT, static_cast<uint32_t>(table.subs.size()));
    img.set32(rec + TBL_SUB_LIST_OFFSET, lay.subListOffset);
    img.set32(rec + TBL_NAME_OFFSET, lay.nameOffset);
    if (dictionary) {
        img.set32(rec + TBL_APP_FLAGS, table.appFlags);
        img.set32(rec + TBL_DICT_LEVEL_LIST_OFFSET, lay.dictLevelListOffset);
        img.set32(rec + TBL_SIMPLE_NAME_OFFSET, lay.simpleNameOffset);
    } else {
        img.set32(rec + TBL_PAGE_COUNT, static_cast<uint32_t>(table.pageList.size()));
        img.set32(rec + TBL_PAGE_LIST_OFFSET, lay.pageListOffset);
        img.set32(rec + TBL_KEY_COUNT, static_cast<uint32_t>(table.keys.size()));
    }
    img.set32(rec + TBL_KEY_LIST_OFFSET, lay.keyListOffset);
    img.set32(rec + TBL_PAGE_TO_KEY_OFFSET, lay.pageToKeyOffset);
    img.set32(rec + TBL_VP_COUNT, static_cast<uint32_t>(table.vpItems.size()));
    img.set32(rec + TBL_VP_LIST_OFFSET, lay.vpListOffset);
    img.set32(rec + TBL_PAGE_TO_ITEM_OFFSET, lay.pageToItemOffset);
    img.set32(rec + TBL_DICT_ID, table.dictId);
}

// The raw overrides of the description, written last.
void overrideTableRecord(Image &img, const TableDesc &table, uint32_t rec) {
    auto over = [&](const std::optional<uint32_t> &value, uint32_t field) {
        if (value) img.set32(rec + field, *value);
    };
    over(table.subCountOverride, TBL_SUB_COUNT);
    over(table.subListOffsetOverride, TBL_SUB_LIST_OFFSET);
    over(table.nameOffsetOverride, TBL_NAME_OFFSET);
    over(table.pageCountOverride, TBL_PAGE_COUNT);
    over(table.pageListOffsetOverride, TBL_PAGE_LIST_OFFSET);
    over(table.dictLevelListOffsetOverride, TBL_DICT_LEVEL_LIST_OFFSET);
    over(table.keyCountOverride, TBL_KEY_COUNT);
    over(table.simpleNameOffsetOverride, TBL_SIMPLE_NAME_OFFSET);
    over(table.keyListOffsetOverride, TBL_KEY_LIST_OFFSET);
    over(table.pageToKeyOffsetOverride, TBL_PAGE_TO_KEY_OFFSET);
    over(table.vpCountOverride, TBL_VP_COUNT);
    over(table.vpListOffsetOverride, TBL_VP_LIST_OFFSET);
    over(table.pageToItemOffsetOverride, TBL_PAGE_TO_ITEM_OFFSET);
}

void putTable(Image &img, const BookDesc &desc, const TableDesc &table, size_t index, TableLayout &lay) {
    const std::string what = "table " + std::to_string(index);
    checkTable(desc, table, what);
    const bool dictionary = desc.kind == KIND_DICTIONARY;

    lay.record = img.zeros(TABLE_RECORD_SIZE);
    lay.nameOffset = putOptionalStringList(img, table.name, what + " name");
    if (dictionary) lay.simpleNameOffset = putOptionalStringList(img, table.simpleName, what + " simple name");
    putSubs(img, table, what, lay);
    lay.pageListOffset = putOptionalU32List(img, table.pageList);
    const std::vector<uint32_t> order = keyOrder(table);
    putKeys(img, table, order, lay);
    lay.pageToKeyOffset =
        putOptionalU32List(img, table.autoPageToKey ? derivePageToKey(table, order) : table.pageToKey);
    putTree(img, table, what, lay);
    lay.pageToItemOffset = putOptionalU32List(img, table.pageToItem);
    putDictLevels(img, table, lay);
    setTableRecord(img, table, dictionary, lay);
    overrideTableRecord(img, table, lay.record);
}

void checkBook(const BookDesc &desc) {
    if (desc.reserved.size() > BOOK_HEADER_SIZE - HEADER_RESERVED_START)
        refuse("the reserved header bytes are at most 456, got " + std::to_string(desc.reserved.size()));
    if (desc.defCharAttr && desc.defCharAttr->size() != DEF_CHAR_ATTR_SIZE)
        refuse("the default character attribute block must be 84 bytes, got " +
               std::to_string(desc.defCharAttr->size()));
    if (desc.exBookNo && desc.exBookNo->size() > MAX_COUNT8)
        refuse("the extended book number is at most 255 bytes, got " + std::to_string(desc.exBookNo->size()));
    if (desc.languages && desc.languages->size() > MAX_COUNT8)
        refuse("the language list holds at most 255 languages, got " + std::to_string(desc.languages->size()));
    if (desc.shelfLevels && desc.shelfLevels->size() > MAX_COUNT8)
        refuse("the shelf level list holds at most 255 levels, got " + std::to_string(desc.shelfLevels->size()));
    if (desc.tables.size() > MAX_COUNT8)
        refuse("a book holds at most 255 tables, got " + std::to_string(desc.tables.size()));
    if (desc.pages.size() > UINT32_MAX) refuse("too many pages");
    for (size_t p = 0; p < desc.pages.size(); ++p) {
        const PageDesc &page = desc.pages[p];
        if (page.data.size() > UINT32_MAX) refuse("page " + std::to_string(p) + " is larger than a u32 size can hold");
        if (!page.links.empty() && desc.kind != KIND_PREFIXED)
            refuse("page " + std::to_string(p) + " has links, but only kind-4 books carry link blocks");
        if (page.links.size() > MAX_PAGE_LINKS)
            refuse("page " + std::to_string(p) + " has " + std::to_string(page.links.size()) +
                   " links; a link block holds at most 65535");
    }
}

// A first guess at the image size, so that the buffer grows rarely.
uint64_t expectedSize(const BookDesc &desc) {
    uint64_t size = BOOK_HEADER_SIZE + 1024;
    for (const PageDesc &page : desc.pages) size += 10 + page.data.size() + 4 * page.links.size();
    for (const TableDesc &table : desc.tables) {
        size += TABLE_RECORD_SIZE + 8 * table.subs.size() + 4 * table.pageList.size() + 8 * table.pageList.size();
        for (const KeyDesc &key : table.keys) size += 16 + key.text.size();
        for (const VpItemDesc &item : table.vpItems) size += 24 + 8 * item.caption.entries.size();
        size += 4 * table.pageToItem.size() + 260 * table.dictLevels.size();
    }
    return size;
}

void putHeader(Image &img, const BookDesc &desc) {
    img.zeros(BOOK_HEADER_SIZE);
    img.set32(HDR_MAGIC, desc.magic);
    img.set32(HDR_KIND, desc.kind);
    img.set32(HDR_VERSION, desc.version);
    img.set32(HDR_CAPS_WORD1, desc.capsWord1);
    img.set32(HDR_CAPS_WORD2, desc.capsWord2);
    img.set32(HDR_SERIAL, desc.serial);
    img.set32(HDR_POSITION_ID, desc.positionId);
    for (size_t i = 0; i < desc.reserved.size(); ++i)
        img.set8(HEADER_RESERVED_START + static_cast<uint32_t>(i), desc.reserved[i]);
}

// A list of a u8 count and that many bytes.
uint32_t putCountedBytes(Image &img, const void *bytes, size_t count) {
    uint32_t at = img.pos();
    img.u8(static_cast<uint8_t>(count));
    img.raw(bytes, count);
    return at;
}

void putShelfLevels(Image &img, const std::vector<BookDesc::ShelfLevel> &levels, BookLayout &lay) {
    lay.shelfLevelOffset = img.pos();
    img.u8(static_cast<uint8_t>(levels.size()));
    const uint32_t entries = img.zeros(uint64_t{SHELF_LEVEL_ENTRY_SIZE} * levels.size());
    lay.shelfLevelNames.reserve(levels.size());
    for (size_t l = 0; l < levels.size(); ++l) {
        uint32_t name = putOptionalStringList(img, levels[l].name, "shelf level " + std::to_string(l));
        lay.shelfLevelNames.push_back(name);
        uint32_t entry = entryAt(entries, l, SHELF_LEVEL_ENTRY_SIZE);
        img.set32(entry + SHELF_LEVEL_VALUE, levels[l].levelValue);
        img.set32(entry + SHELF_LEVEL_NAME, name);
    }
}

void putBookLists(Image &img, const BookDesc &desc, BookLayout &lay) {
    lay.bookNameOffset = putOptionalStringList(img, desc.bookName, "book name");
    if (desc.defCharAttr) {
        lay.defCharAttrOffset = img.pos();
        img.raw(desc.defCharAttr->data(), DEF_CHAR_ATTR_SIZE);
    }
    if (desc.exBookNo) lay.exBookNoOffset = putCountedBytes(img, desc.exBookNo->data(), desc.exBookNo->size());
    if (desc.languages) lay.languageListOffset = putCountedBytes(img, desc.languages->data(), desc.languages->size());
    if (desc.shelfLevels) putShelfLevels(img, *desc.shelfLevels, lay);
}

void putTables(Image &img, const BookDesc &desc, BookLayout &lay) {
    if (desc.tables.empty() && !desc.tableDirAlways) return;
    lay.tableDirOffset = img.pos();
    img.u8(static_cast<uint8_t>(desc.tables.size()));
    const uint32_t entries = img.zeros(uint64_t{TABLE_DIR_ENTRY_SIZE} * desc.tables.size());
    lay.tables.resize(desc.tables.size());
    for (size_t t = 0; t < desc.tables.size(); ++t) {
        putTable(img, desc, desc.tables[t], t, lay.tables[t]);
        img.set32(entryAt(entries, t, TABLE_DIR_ENTRY_SIZE), lay.tables[t].record);
    }
}

void putPages(Image &img, const BookDesc &desc, BookLayout &lay) {
    if (desc.pages.empty() && !desc.pageDirAlways) return;
    lay.pageDirOffset = img.pos();
    img.u32(static_cast<uint32_t>(desc.pages.size()));
    const uint32_t entries = img.zeros(uint64_t{PAGE_DIR_ENTRY_SIZE} * desc.pages.size());
    lay.pageRecords.reserve(desc.pages.size());
    lay.pageData.reserve(desc.pages.size());
    for (size_t p = 0; p < desc.pages.size(); ++p) {
        const PageDesc &page = desc.pages[p];
        const uint32_t at = img.pos();
        if (desc.kind == KIND_PREFIXED) {
            img.u16(static_cast<uint16_t>(page.links.size()));
            putU32List(img, page.links);
        }
        img.u32(static_cast<uint32_t>(page.data.size()));
        lay.pageData.push_back(img.pos());
        img.raw(page.data.data(), page.data.size());
        img.set32(entryAt(entries, p, PAGE_DIR_ENTRY_SIZE), at);
        lay.pageRecords.push_back(at);
    }
}

WrittenBook layOut(const BookDesc &desc) {
    checkBook(desc);
    WrittenBook book;
    BookLayout &lay = book.layout;
    Image img(expectedSize(desc));
    putHeader(img, desc);
    putBookLists(img, desc, lay);
    putTables(img, desc, lay);
    putPages(img, desc, lay);
    img.set32(HDR_BOOK_NAME_OFFSET, lay.bookNameOffset);
    img.set32(HDR_DEF_CHAR_ATTR_OFFSET, lay.defCharAttrOffset);
    img.set32(HDR_EX_BOOK_NO_OFFSET, lay.exBookNoOffset);
    img.set32(HDR_LANGUAGE_LIST_OFFSET, lay.languageListOffset);
    img.set32(HDR_TABLE_DIR_OFFSET, lay.tableDirOffset);
    img.set32(HDR_PAGE_DIR_OFFSET, lay.pageDirOffset);
    img.set32(HDR_SHELF_LEVEL_OFFSET, lay.shelfLevelOffset);
    book.bytes = img.take();
    return book;
}

template <typename Int>
void patch(std::vector<uint8_t> &bytes, uint32_t position, Int value) {
    if (uint64_t{position} + sizeof(Int) > bytes.size())
        throw std::out_of_range("patch at " + std::to_string(position) + " lies outside a book of " +
                                std::to_string(bytes.size()) + " bytes");
    for (size_t i = 0; i < sizeof(Int); ++i) bytes[position + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

bool writeBook(const BookDesc &desc, WrittenBook *out, std::string *error) {
    try {
        WrittenBook book = layOut(desc);
        if (out) *out = std::move(book);
        return true;
    } catch (const DescriptionError &e) {
        if (error) *error = e.message;
    } catch (const std::bad_alloc &) {
        if (error) *error = "out of memory while laying out the book";
    }
    return false;
}

WrittenBook writeBookOrDie(const BookDesc &desc) {
    WrittenBook book;
    std::string error;
    if (!writeBook(desc, &book, &error)) {
        std::fprintf(stderr, "book writer: %s\n", error.c_str());
        std::abort();
    }
    return book;
}

bool saveBook(const std::vector<uint8_t> &bytes, const std::string &path) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return false;
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    return static_cast<bool>(file);
}

void linkTree(std::vector<VpItemDesc> &items, const std::vector<uint32_t> &parents) {
    if (items.size() != parents.size())
        throw std::invalid_argument("linkTree: " + std::to_string(items.size()) + " items but " +
                                    std::to_string(parents.size()) + " parents");
    const size_t count = items.size();
    for (size_t n = 1; n <= count; ++n) {
        uint32_t parent = parents[n - 1];
        if (parent > count || parent == n)
            throw std::invalid_argument("linkTree: item " + std::to_string(n) + " has parent " +
                                        std::to_string(parent));
    }
    // lastChild[p] is the latest child of item p seen so far; slot 0 holds the
    // last top-level item.
    std::vector<uint32_t> lastChild(count + 1, 0);
    for (auto &item : items) item.previous = item.nextSibling = item.firstChild = 0;
    for (uint32_t n = 1; n <= count; ++n) {
        const uint32_t parent = parents[n - 1];
        VpItemDesc &item = items[n - 1];
        const uint32_t before = lastChild[parent];
        if (before != 0) {
            items[before - 1].nextSibling = n;
            item.previous = before;
        } else {
            item.previous = parent;  // a first child's previous is its parent; 0 at the top
            if (parent != 0) items[parent - 1].firstChild = n;
        }
        lastChild[parent] = n;
    }
}

void patchU32(std::vector<uint8_t> &bytes, uint32_t position, uint32_t value) { patch(bytes, position, value); }
void patchU16(std::vector<uint8_t> &bytes, uint32_t position, uint16_t value) { patch(bytes, position, value); }
void patchU8(std::vector<uint8_t> &bytes, uint32_t position, uint8_t value) { patch(bytes, position, value); }

void sortKeys(std::vector<KeyDesc> &keys) {
    std::stable_sort(keys.begin(), keys.end(), [](const KeyDesc &a, const KeyDesc &b) {
        return tovix::compareKeys(a.text.c_str(), b.text.c_str()) < 0;
    });
}

}  // namespace zav
