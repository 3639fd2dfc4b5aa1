#include "core/book_check.h"

#include <algorithm>

#include "core/book_output.h"
#include "core/cli.h"
#include "tovix/collation.h"

namespace zavtool {

std::string BookChecker::shortText(const std::string &text) {
    std::string t = text.size() > 48 ? text.substr(0, 48) + "..." : text;
    return "\"" + escapeText(t) + "\"";
}

void BookChecker::report(uint64_t offset, const std::string &where, const std::string &what) {
    ++total;
    if (problems.size() < kStoredProblemLimit) problems.push_back({offset, where, what});
}

bool BookChecker::region(uint64_t fieldOffset, const std::string &where, uint64_t position, uint64_t length,
                         const std::string &what) {
    if (raw_.fits(position, length)) return true;
    if (position >= raw_.size())
        report(fieldOffset, where,
               what + " at " + hex(position) + " lies outside the file (" + n(raw_.size()) + " bytes)");
    else
        report(fieldOffset, where,
               what + " at " + hex(position) + " (" + n(length) + " bytes) runs past the end of the file (" +
                   n(raw_.size()) + " bytes)");
    return false;
}

bool BookChecker::listRegion(uint64_t offsetField, uint64_t countField, const std::string &where, uint64_t position,
                             uint64_t length, const std::string &what) {
    return region(position >= raw_.size() ? offsetField : countField, where, position, length, what);
}

uint64_t BookChecker::entriesInFile(uint64_t position, uint64_t count, uint64_t entrySize) const {
    if (position >= raw_.size()) return 0;
    return std::min<uint64_t>(count, (raw_.size() - position) / entrySize);
}

int BookChecker::stringList(uint64_t fieldOffset, const std::string &where, uint64_t offset, const std::string &what) {
    // A list that many fields lead to is walked, and its problems reported,
    // once.
    auto walked = stringLists_.find(offset);
    if (walked != stringLists_.end()) return walked->second;
    int count = walkStringList(fieldOffset, where, offset, what);
    stringLists_.emplace(offset, count);
    return count;
}

int BookChecker::walkStringList(uint64_t fieldOffset, const std::string &where, uint64_t offset,
                                const std::string &what) {
    if (!region(fieldOffset, where, offset, tovix::COUNT8_SIZE, what)) return -1;
    uint8_t count = 0;
    raw_.u8At(offset, &count);
    uint64_t at = offset + tovix::COUNT8_SIZE;
    for (int k = 0; k < count; ++k) {
        unsigned char head[tovix::STRING_ENTRY_HEAD_SIZE];
        if (!raw_.bytesAt(at, head, sizeof head) || !raw_.fits(at + sizeof head, head[1])) {
            report(at, where,
                   what + " at " + hex(offset) + ": entry " + n(static_cast<uint64_t>(k) + 1) + " of " + n(count) +
                       " runs past the end of the file");
            return -1;
        }
        if (!tovix::isLanguageCode(head[0]))
            report(at, where,
                   what + ": entry " + n(static_cast<uint64_t>(k) + 1) + " has language code " + n(head[0]) +
                       ", not one of 1 to 5");
        at += sizeof head + head[1];
    }
    return count;
}

void BookChecker::checkHeader() {
    kind_ = header_.field(tovix::HDR_KIND);
    uint32_t version = header_.field(tovix::HDR_VERSION);
    if (version > tovix::BOOK_MAX_VERSION)
        report(tovix::HDR_VERSION, "header", "version " + n(version) + " is above 1: the module refuses the book");
    struct Field {
        tovix::HeaderField field;
        const char *what;
    };
    static const Field kOffsets[] = {
        {tovix::HDR_BOOK_NAME_OFFSET, "the book name"},
        {tovix::HDR_DEF_CHAR_ATTR_OFFSET, "the default character attribute block"},
        {tovix::HDR_EX_BOOK_NO_OFFSET, "the extended book number"},
        {tovix::HDR_LANGUAGE_LIST_OFFSET, "the language list"},
        {tovix::HDR_TABLE_DIR_OFFSET, "the table directory"},
        {tovix::HDR_PAGE_DIR_OFFSET, "the page directory"},
        {tovix::HDR_SHELF_LEVEL_OFFSET, "the shelf level list"},
    };
    for (const Field &f : kOffsets) {
        uint32_t at = header_.field(f.field);
        if (at != 0 && at < tovix::BOOK_HEADER_SIZE)
            report(f.field, "header", std::string(f.what) + " at " + hex(at) + " lies inside the header");
    }
}

void BookChecker::checkBookLists() {
    uint32_t at = header_.field(tovix::HDR_BOOK_NAME_OFFSET);
    if (at) stringList(tovix::HDR_BOOK_NAME_OFFSET, "book name", at, "the book name");

    at = header_.field(tovix::HDR_DEF_CHAR_ATTR_OFFSET);
    if (at)
        region(tovix::HDR_DEF_CHAR_ATTR_OFFSET, "header", at, tovix::DEF_CHAR_ATTR_SIZE,
               "the 84-byte default character attribute block");

    at = header_.field(tovix::HDR_EX_BOOK_NO_OFFSET);
    uint8_t length = 0;
    if (at && region(tovix::HDR_EX_BOOK_NO_OFFSET, "header", at, 1, "the extended book number") &&
        raw_.u8At(at, &length))
        region(at, "extended book number", at + tovix::COUNT8_SIZE, length, "its " + n(length) + " bytes");

    at = header_.field(tovix::HDR_LANGUAGE_LIST_OFFSET);
    uint8_t count = 0;
    if (at && region(tovix::HDR_LANGUAGE_LIST_OFFSET, "header", at, 1, "the language list") && raw_.u8At(at, &count) &&
        region(at, "language list", at + tovix::COUNT8_SIZE, count, n(count) + " language codes")) {
        for (uint32_t i = 0; i < count; ++i) {
            uint64_t entry = uint64_t{at} + tovix::COUNT8_SIZE + uint64_t{tovix::LANGUAGE_ENTRY_SIZE} * i;
            uint8_t code = 0;
            raw_.u8At(entry, &code);
            if (!tovix::isLanguageCode(code))
                report(entry, "language list", "language " + n(i) + " has code " + n(code) + ", not one of 1 to 5");
        }
    }

    at = header_.field(tovix::HDR_SHELF_LEVEL_OFFSET);
    if (at && region(tovix::HDR_SHELF_LEVEL_OFFSET, "header", at, 1, "the shelf level list") && raw_.u8At(at, &count)) {
        uint64_t first = uint64_t{at} + tovix::COUNT8_SIZE;
        uint64_t fit = entriesInFile(first, count, tovix::SHELF_LEVEL_ENTRY_SIZE);
        region(at, "shelf level list", first, uint64_t{tovix::SHELF_LEVEL_ENTRY_SIZE} * count,
               n(count) + " shelf level entries");
        for (uint64_t i = 0; i < fit; ++i) {
            uint64_t nameField = first + tovix::SHELF_LEVEL_ENTRY_SIZE * i + tovix::SHELF_LEVEL_NAME;
            uint32_t name = 0;
            raw_.u32At(nameField, &name);
            if (name) stringList(nameField, "shelf level " + n(i), name, "its name");
        }
    }
}

void BookChecker::checkPages() {
    uint32_t dir = header_.field(tovix::HDR_PAGE_DIR_OFFSET);
    if (!dir || !region(tovix::HDR_PAGE_DIR_OFFSET, "header", dir, tovix::PAGE_DIR_COUNT_SIZE, "the page directory"))
        return;
    uint32_t count = 0;
    raw_.u32At(dir, &count);
    pageCount = count;
    uint64_t first = uint64_t{dir} + tovix::PAGE_DIR_COUNT_SIZE;
    region(dir, "page directory", first, uint64_t{tovix::PAGE_DIR_ENTRY_SIZE} * count, n(count) + " page entries");
    uint64_t fit = entriesInFile(first, count, tovix::PAGE_DIR_ENTRY_SIZE);
    pageSizes_.assign(fit, kNoSize);
    for (uint64_t p = 0; p < fit; ++p) {
        uint64_t entry = first + tovix::PAGE_DIR_ENTRY_SIZE * p;
        std::string where = "page " + n(p);
        uint32_t record = 0;
        raw_.u32At(entry, &record);
        uint64_t at = record;
        if (kind_ == tovix::KIND_PREFIXED) {
            if (!region(entry, where, at, tovix::PAGE_LINK_COUNT_SIZE, "the page record")) continue;
            uint16_t links = 0;
            raw_.u16At(at, &links);
            uint64_t block = uint64_t{tovix::PAGE_LINK_SIZE} * links;
            if (!region(at, where, at + tovix::PAGE_LINK_COUNT_SIZE, block + tovix::PAGE_SIZE_FIELD_SIZE,
                        n(links) + " links and the page size"))
                continue;
            at += tovix::PAGE_LINK_COUNT_SIZE + block;
        } else if (!region(entry, where, at, tovix::PAGE_SIZE_FIELD_SIZE, "the page record")) {
            continue;
        }
        uint32_t size = 0;
        raw_.u32At(at, &size);
        if (region(at, where, at + tovix::PAGE_SIZE_FIELD_SIZE, size, "the page data of " + n(size) + " bytes"))
            pageSizes_[p] = size;
    }
}

void BookChecker::checkSubs(const std::string &where, uint32_t record, const tovix::TableRecord &r) {
    uint32_t subs = r.field(tovix::TBL_SUB_COUNT);
    uint32_t list = r.field(tovix::TBL_SUB_LIST_OFFSET);
    if (subs == 0) return;
    if (list == 0) {
        report(record + tovix::TBL_SUB_COUNT, where, n(subs) + " sub entries but no sub list");
        return;
    }
    listRegion(record + tovix::TBL_SUB_LIST_OFFSET, record + tovix::TBL_SUB_COUNT, where, list,
               uint64_t{tovix::SUB_ENTRY_SIZE} * subs, "the sub list of " + n(subs) + " entries");
    uint64_t fit = entriesInFile(list, subs, tovix::SUB_ENTRY_SIZE);
    for (uint64_t i = 0; i < fit; ++i) {
        uint64_t nameField = list + tovix::SUB_ENTRY_SIZE * i + tovix::SUB_NAME;
        uint32_t name = 0;
        raw_.u32At(nameField, &name);
        if (name) stringList(nameField, where + " sub " + n(i), name, "its name");
    }
}

void BookChecker::checkTable(int32_t table, uint64_t entryOffset) {
    std::string where = "table " + std::to_string(table);
    uint32_t record = 0;
    raw_.u32At(entryOffset, &record);
    if (!region(entryOffset, where, record, tovix::TABLE_RECORD_SIZE, "the 52-byte table record")) return;
    // Tables that share one record are the same table to a host: it is
    // checked, and its problems reported, under the first of them.
    if (!records_.emplace(record, table).second) return;
    tovix::TableRecord r;
    if (!raw_.table(table, &r)) {
        uint64_t at = entryOffset;
        std::string why = raw_.why(&at);
        report(at, where, "the table record cannot be read" + (why.empty() ? std::string() : ": " + why));
        return;
    }
    if (uint32_t name = r.field(tovix::TBL_NAME_OFFSET))
        stringList(record + tovix::TBL_NAME_OFFSET, where, name, "the table name");
    checkSubs(where, record, r);
    if (kind_ == tovix::KIND_DICTIONARY)
        checkDictionaryTable(where, table, record, r);
    else
        checkPlainTable(where, table, record, r);
}

std::vector<uint32_t> BookChecker::checkTablePages(const std::string &where, uint32_t record,
                                                   const tovix::TableRecord &r) {
    uint32_t pages = r.field(tovix::TBL_PAGE_COUNT);
    uint32_t pageList = r.field(tovix::TBL_PAGE_LIST_OFFSET);
    std::vector<uint32_t> tablePageSizes;
    if (!pages) return tablePageSizes;
    if (pageList == 0)
        report(record + tovix::TBL_PAGE_LIST_OFFSET, where, n(pages) + " pages but no page list");
    else
        listRegion(record + tovix::TBL_PAGE_LIST_OFFSET, record + tovix::TBL_PAGE_COUNT, where, pageList,
                   uint64_t{tovix::U32_ENTRY_SIZE} * pages, "the page list of " + n(pages) + " entries");
    uint64_t fit = pageList ? entriesInFile(pageList, pages, tovix::U32_ENTRY_SIZE) : 0;
    tablePageSizes.assign(pages < fit ? pages : fit, kNoSize);
    for (uint64_t i = 0; i < fit; ++i) {
        uint64_t entry = pageList + uint64_t{tovix::U32_ENTRY_SIZE} * i;
        uint32_t page = 0;
        raw_.u32At(entry, &page);
        if (page >= pageCount)
            report(
                entry, where,
                "table page " + n(i) + " names book page " + n(page) + ", but the book has " + n(pageCount) + " pages");
        else if (page < pageSizes_.size())
            tablePageSizes[i] = pageSizes_[page];
    }
    return tablePageSizes;
}

// Read key `i` of the key list: false when its record or text leaves the file.
bool BookChecker::readKey(const KeyContext &c, uint64_t i, std::string *text, uint64_t *entry) {
    *entry = c.list + uint64_t{tovix::U32_ENTRY_SIZE} * i;
    std::string keyWhere = c.where + " key " + n(i);
    uint32_t at = 0;
    raw_.u32At(*entry, &at);
    unsigned char fixed[tovix::KEY_RECORD_FIXED_SIZE];
    if (!region(*entry, keyWhere, at, tovix::KEY_RECORD_FIXED_SIZE, "the key record") ||
        !raw_.bytesAt(at, fixed, sizeof fixed))
        return false;
    uint32_t pageNo = tovix::le32(fixed + tovix::KEY_PAGE_NO);
    uint32_t pageOffset = tovix::le32(fixed + tovix::KEY_PAGE_OFFSET);
    uint32_t length = tovix::le32(fixed + tovix::KEY_LENGTH_WORD) & tovix::KEY_TEXT_LENGTH_MASK;
    uint64_t textAt = uint64_t{at} + tovix::KEY_RECORD_FIXED_SIZE;
    if (!region(uint64_t{at} + tovix::KEY_LENGTH_WORD, keyWhere, textAt, length,
                "the key text of " + n(length) + " bytes"))
        return false;
    text->assign(length, '\0');
    raw_.bytesAt(textAt, text->data(), length);
    const std::vector<uint32_t> &sizes = *c.tablePageSizes;
    if (pageNo >= c.pages)
        report(at, keyWhere,
               shortText(*text) + " leads to table page " + n(pageNo) + ", but the table has " + n(c.pages) + " pages");
    else if (pageNo < sizes.size() && sizes[pageNo] != kNoSize && pageOffset > sizes[pageNo])
        report(uint64_t{at} + tovix::KEY_PAGE_OFFSET, keyWhere,
               shortText(*text) + ": offset " + n(pageOffset) + " lies past the end of table page " + n(pageNo) + " (" +
                   n(sizes[pageNo]) + " bytes)");
    return true;
}

// Every key must be found by a look-up through the module.
void BookChecker::lookUpKeys(const std::string &where, int32_t table, const std::vector<std::string> &texts,
                             const std::vector<uint64_t> &entries) {
    Progress progress("check", "keys of " + where + " looked up", host_ ? texts.size() : 0, false);
    for (size_t i = 0; host_ && i < texts.size(); ++i) {
        progress.step(i + 1);
        const std::string &text = texts[i];
        std::string keyWhere = where + " key " + n(i);
        if (text.empty()) {
            report(entries[i], keyWhere, "the key is empty: a host cannot look it up");
            continue;
        }
        if (text.find('\0') != std::string::npos) {
            report(entries[i], keyWhere, shortText(text) + " holds a zero byte: a host cannot look it up");
            continue;
        }
        uint32_t found =
            static_cast<uint32_t>(ZAVSearchKeyWord(*host_, table, text.c_str(), static_cast<int32_t>(text.size())));
        bool exists = ZAVIsExistWord(*host_, table, text.c_str()) != 0;
        bool match = false;
        if (found < texts.size()) {
            std::string stored = texts[found];
            match = tovix::compareStoredKey(stored.data(), static_cast<uint32_t>(stored.size()), text.c_str()) == 0;
        }
        if (!exists || !match)
            report(entries[i], keyWhere,
                   shortText(text) + " is not found by a look-up through the module (search gives key " + n(found) +
                       (found < texts.size() ? " " + shortText(texts[found]) : std::string()) + ", presence test " +
                       (exists ? "yes" : "no") + ")");
    }
}

void BookChecker::checkKeys(const std::string &where, int32_t table, uint32_t record, const tovix::TableRecord &r,
                            const std::vector<uint32_t> &tablePageSizes) {
    uint32_t keys = r.field(tovix::TBL_KEY_COUNT);
    KeyContext c{where, r.field(tovix::TBL_KEY_LIST_OFFSET), r.field(tovix::TBL_PAGE_COUNT), &tablePageSizes};
    if (keys && c.list == 0) report(record + tovix::TBL_KEY_COUNT, where, n(keys) + " keys but no key list");
    if (!keys || !c.list) return;
    keyCount += keys;
    listRegion(record + tovix::TBL_KEY_LIST_OFFSET, record + tovix::TBL_KEY_COUNT, where, c.list,
               uint64_t{tovix::U32_ENTRY_SIZE} * keys, "the key list of " + n(keys) + " entries");
    uint64_t fit = entriesInFile(c.list, keys, tovix::U32_ENTRY_SIZE);
    std::vector<std::string> texts;
    std::vector<uint64_t> entries;  // file offset of each key's list entry
    texts.reserve(fit);
    for (uint64_t i = 0; i < fit; ++i) {
        std::string text;
        uint64_t entry;
        if (!readKey(c, i, &text, &entry)) break;
        texts.push_back(std::move(text));
        entries.push_back(entry);
    }
    // Order under the key collation.
    for (size_t i = 1; i < texts.size(); ++i) {
        if (tovix::compareKeys(texts[i - 1].c_str(), texts[i].c_str()) > 0)
            report(entries[i], where + " key " + n(i),
                   shortText(texts[i]) + " sorts before key " + n(i - 1) + " " + shortText(texts[i - 1]) +
                       ": the key list is not ascending under the key collation");
    }
    lookUpKeys(where, table, texts, entries);
}

void BookChecker::checkPlainTable(const std::string &where, int32_t table, uint32_t record,
                                  const tovix::TableRecord &r) {
    uint32_t pages = r.field(tovix::TBL_PAGE_COUNT);
    std::vector<uint32_t> tablePageSizes = checkTablePages(where, record, r);
    checkKeys(where, table, record, r, tablePageSizes);
    uint32_t pageToKey = r.field(tovix::TBL_PAGE_TO_KEY_OFFSET);
    if (pageToKey && pages)
        checkPageMap(where, record + tovix::TBL_PAGE_TO_KEY_OFFSET, pageToKey, pages, r.field(tovix::TBL_KEY_COUNT),
                     "page-to-key", "key");
    checkTree(where, record, r, pages);
}

void BookChecker::checkDictionaryTable(const std::string &where, int32_t table, uint32_t record,
                                       const tovix::TableRecord &r) {
    if (uint32_t simple = r.field(tovix::TBL_SIMPLE_NAME_OFFSET))
        stringList(record + tovix::TBL_SIMPLE_NAME_OFFSET, where, simple, "the simple table name");
    uint32_t dictId = r.field(tovix::TBL_DICT_ID);
    int64_t words = -1;
    if (host_) {
        words = static_cast<uint32_t>(ZAVGetTablePageCount(*host_, table));
        if (words == 0) {
            report(record + tovix::TBL_DICT_ID, where,
                   "the dictionary engine serves no words for dictId " + hex(dictId, 8) +
                       " (engine library or dictionary file missing, damaged or empty)");
        }
        keyCount += static_cast<uint64_t>(words);
        // The engine's words must be in key order and each found by a look-up.
        std::string previous;
        for (int64_t i = 0; i < words; ++i) {
            uint32_t k = static_cast<uint32_t>(i);
            std::string word = keyWord(*host_, table, k);
            std::string wordWhere = where + " word " + n(k);
            if (i > 0 && tovix::compareKeys(previous.c_str(), word.c_str()) > 0)
                report(record + tovix::TBL_DICT_ID, wordWhere,
                       shortText(word) + " sorts before the word before it " + shortText(previous) +
                           " in the engine's dictionary");
            if (word.empty()) {
                report(record + tovix::TBL_DICT_ID, wordWhere, "the engine gives no text for this word");
            } else {
                uint32_t found = static_cast<uint32_t>(
                    ZAVSearchKeyWord(*host_, table, word.c_str(), static_cast<int32_t>(word.size())));
                bool exists = ZAVIsExistWord(*host_, table, word.c_str()) != 0;
                bool match = found == k;
                if (!match && found < words) {
                    std::string other = keyWord(*host_, table, found);
                    match =
                        tovix::compareStoredKey(other.data(), static_cast<uint32_t>(other.size()), word.c_str()) == 0;
                }
                if (!exists || !match)
                    report(record + tovix::TBL_DICT_ID, wordWhere,
                           shortText(word) + " is not found by a look-up through the module (search gives word " +
                               n(found) + ", presence test " + (exists ? "yes" : "no") + ")");
            }
            previous = std::move(word);
        }
    }
    checkTree(where, record, r, words);
}

void BookChecker::run() {
    if (raw_.size() < tovix::BOOK_HEADER_SIZE) {
        report(0, "header", "the file is " + n(raw_.size()) + " bytes, shorter than the 512-byte header");
        return;
    }
    if (!raw_.header(&header_)) {
        report(0, "header", "the header cannot be read");
        return;
    }
    if (header_.field(tovix::HDR_MAGIC) != tovix::BOOK_MAGIC) {
        report(0, "header", "not a book: the file does not start with \"DEBD\"");
        return;
    }
    uint32_t kind = header_.field(tovix::HDR_KIND);
    if (!tovix::isBookKind(kind)) {
        report(tovix::HDR_KIND, "header", "kind " + n(kind) + " is not 1, 2 or 4: the module refuses the book");
        return;
    }
    checkHeader();
    checkBookLists();
    checkPages();
    uint32_t dir = header_.field(tovix::HDR_TABLE_DIR_OFFSET);
    uint8_t tables = 0;
    if (dir && region(tovix::HDR_TABLE_DIR_OFFSET, "header", dir, tovix::COUNT8_SIZE, "the table directory") &&
        raw_.u8At(dir, &tables)) {
        tableCount = tables;
        uint64_t first = uint64_t{dir} + tovix::COUNT8_SIZE;
        region(dir, "table directory", first, uint64_t{tovix::TABLE_DIR_ENTRY_SIZE} * tables,
               n(tables) + " table entries");
        uint64_t fit = entriesInFile(first, tables, tovix::TABLE_DIR_ENTRY_SIZE);
        for (uint64_t t = 0; t < fit; ++t) checkTable(static_cast<int32_t>(t), first + tovix::TABLE_DIR_ENTRY_SIZE * t);
    }
}

}  // namespace zavtool
