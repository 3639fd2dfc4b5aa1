#include "formats/manifest_reader.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "ZAVMemo.h"
#include "core/book_output.h"
#include "core/cli.h"
#include "formats/manifest_json.h"
#include "formats/manifest_values.h"
#include "tovix/collation.h"
#include "tovix/format.h"

namespace zavtool {

namespace {

using json = nlohmann::json;

constexpr size_t kMaxKeyText = tovix::KEY_TEXT_LENGTH_MASK;  // bytes of a key or word
constexpr int64_t kMaxSubNumber = 127;
constexpr uint64_t kKiB = 1024;

// Does a stored key match a word the way a look-up matches it ("bank@1"
// matches "bank")?
bool matchesWord(std::string_view stored, const std::string &word) {
    std::string copy(stored);
    return tovix::compareStoredKey(copy.data(), static_cast<uint32_t>(copy.size()), word.c_str()) == 0;
}

// A main content's id until the dictId is known (a sub content's is its sub number).
constexpr uint32_t kMainContentTag = UINT32_MAX;

// The manifest's structure: the book, its tables and their lists, read with
// the value readers of ManifestValues.
class ManifestReader : ManifestValues {
public:
    explicit ManifestReader(std::string folder) : ManifestValues(std::move(folder)) {}

    // The lists whose elements are taken while the manifest is read.
    static std::vector<std::string> streamedFields() { return {"words", "entries", "pages", "keys"}; }
    // An element of one of them, in table `table`; lines holds the lines of
    // its values (null when they are not known).
    void take(const std::string &field, size_t table, const json &element, const std::string &where,
              const LineTable *lines) {
        if (table >= tovix::MAX_COUNT8) fail("/tables/" + std::to_string(table), "a book holds at most 255 tables");
        if (streamed_.size() <= table) streamed_.resize(table + 1);
        Streamed &s = streamed_[table];
        if (field == "words")
            readWord(element, where, &s.words);
        else if (field == "entries")
            readEntry(element, where, &s.entries);
        else if (field == "pages")
            readPage(element, where, lines, &s);
        else
            readKey(element, where, lines, &s);
    }
    // The rest of the manifest, once it is read.
    void read(const json &root, zav::BookDesc *book);

    using Dictionary = Manifest::Dictionary;
    std::vector<Dictionary> dictionaries;
    std::vector<zavmemo::MemoEntry> memos;

private:
    using PageOf = std::function<uint32_t(const json &, const std::string &)>;
    using PageAdder = std::function<void(zav::PageDesc)>;
    void readTable(const json &j, size_t index, uint32_t kind, zav::BookDesc *book, zav::TableDesc *table);
    void readSubs(const json &s, const std::string &at, zav::TableDesc *table);
    void readLevels(const json &l, const std::string &at, zav::TableDesc *table);
    void readWord(const json &w, const std::string &where, zozizid::DictWordTable *words);
    void readDictionaryTable(const json &j, size_t index, zav::TableDesc *table);
    struct Streamed;
    void readPage(const json &p, const std::string &where, const LineTable *lines, Streamed *s);
    // The pages of a table's entries and their keys; a key's page is its entry's index.
    struct Entries {
        std::vector<zav::PageDesc> pages;
        std::vector<zav::KeyDesc> keys;
    };
    void readEntry(const json &e, const std::string &where, Entries *entries);
    void readEntries(const json &e, size_t index, const PageAdder &addPage, zav::TableDesc *table);
    void readKey(const json &k, const std::string &where, const LineTable *lines, Streamed *s);
    void addKeys(const std::string &at, Streamed *s, const zav::BookDesc &book, uint32_t base, zav::TableDesc *table);
    void readMemos(const json &m, const std::string &at, const zav::TableDesc &table, const PageOf &pageOf);
    void readPlainTable(const json &j, size_t index, uint32_t kind, zav::BookDesc *book, zav::TableDesc *table);
    void readToc(const json &j, const std::string &at, zav::TableDesc *table, uint32_t pages, const PageOf &pageOf);

    // A key whose page and offset are checked once the table's pages are known.
    struct PendingKey {
        zav::KeyDesc key;
        uint64_t page = 0, offset = 0;
        bool hasOffset = false;
        size_t pageLine = 0, offsetLine = 0;  // 0: not known
    };
    // What is read of a table's long lists.
    struct Streamed {
        zozizid::DictWordTable words;
        Entries entries;
        std::vector<zav::PageDesc> pages;
        std::string firstLinks;  // the first page's links, for books of a kind without them
        size_t firstLinksLine = 0;
        std::vector<PendingKey> keys;
    };
    std::vector<Streamed> streamed_;  // by table index
};

void ManifestReader::read(const json &root, zav::BookDesc *book) {
    allowFields(root, "",
                {"kind", "version", "caps", "serial", "positionId", "name", "exBookNo", "languages", "charAttributes",
                 "shelfLevels", "tables", "reserved"});
    if (root.contains("kind")) {
        book->kind = static_cast<uint32_t>(number(root["kind"], "/kind", 1, 4));
        if (book->kind == 3) fail("/kind", "kind must be 1, 2 or 4");
    }
    if (root.contains("version")) book->version = static_cast<uint32_t>(number(root["version"], "/version", 0, 1));
    if (root.contains("caps")) {
        const json &c = root["caps"];
        if (!c.is_array() || c.size() != 2) fail("/caps", "expected [capsWord1, capsWord2]");
        book->capsWord1 = static_cast<uint32_t>(number(c[0], "/caps/0", 0, 0xFFFFFFFFu));
        book->capsWord2 = static_cast<uint32_t>(number(c[1], "/caps/1", 0, 0xFFFFFFFFu));
    }
    if (root.contains("serial"))
        book->serial = static_cast<uint32_t>(number(root["serial"], "/serial", 0, 0xFFFFFFFFu));
    if (root.contains("positionId"))
        book->positionId = static_cast<uint32_t>(number(root["positionId"], "/positionId", 0, 0xFFFFFFFFu));
    if (root.contains("name")) book->bookName = texts(root["name"], "/name");
    if (root.contains("exBookNo")) book->exBookNo = text(root["exBookNo"], "/exBookNo", tovix::MAX_COUNT8);
    if (root.contains("languages")) {
        const json &l = root["languages"];
        if (!l.is_array()) fail("/languages", "expected a list of language codes");
        if (l.size() > tovix::MAX_COUNT8) fail("/languages", "at most 255 languages");
        std::vector<uint8_t> codes;
        for (size_t i = 0; i < l.size(); ++i)
            codes.push_back(static_cast<uint8_t>(
                number(l[i], "/languages/" + std::to_string(i), tovix::LANG_FIRST, tovix::LANG_LAST)));
        book->languages = codes;
    }
    if (root.contains("charAttributes")) {
        const json &a = root["charAttributes"];
        if (!a.is_array() || a.size() > 84) fail("/charAttributes", "expected a list of at most 84 byte values");
        std::vector<uint8_t> block(84, 0);
        for (size_t i = 0; i < a.size(); ++i)
            block[i] = static_cast<uint8_t>(number(a[i], "/charAttributes/" + std::to_string(i), 0, UINT8_MAX));
        book->defCharAttr = block;
    }
    if (root.contains("reserved")) {
        std::string r = text(root["reserved"], "/reserved", 456);
        book->reserved.assign(r.begin(), r.end());
    }
    if (root.contains("shelfLevels")) {
        const json &s = root["shelfLevels"];
        if (!s.is_array() || s.size() > tovix::MAX_COUNT8)
            fail("/shelfLevels", "expected a list of at most 255 shelf levels");
        std::vector<zav::BookDesc::ShelfLevel> levels;
        for (size_t i = 0; i < s.size(); ++i) {
            std::string at = "/shelfLevels/" + std::to_string(i);
            allowFields(s[i], at, {"value", "name"});
            zav::BookDesc::ShelfLevel level;
            if (s[i].contains("value"))
                level.levelValue = static_cast<uint32_t>(number(s[i]["value"], at + "/value", 0, 0xFFFFFFFFu));
            if (s[i].contains("name")) level.name = texts(s[i]["name"], at + "/name");
            levels.push_back(level);
        }
        book->shelfLevels = levels;
    }
    if (root.contains("tables")) {
        const json &t = root["tables"];
        if (!t.is_array()) fail("/tables", "expected a list of tables");
        if (t.size() > tovix::MAX_COUNT8) fail("/tables", "a book holds at most 255 tables");
        for (size_t i = 0; i < t.size(); ++i) {
            zav::TableDesc table;
            readTable(t[i], i, book->kind, book, &table);
            book->tables.push_back(std::move(table));
        }
    }
}

void ManifestReader::readTable(const json &j, size_t index, uint32_t kind, zav::BookDesc *book, zav::TableDesc *table) {
    const std::string at = "/tables/" + std::to_string(index);
    bool dictionary = kind == tovix::KIND_DICTIONARY;
    if (dictionary)
        allowFields(j, at, {"name", "simpleName", "locale", "dictId", "appFlags", "levels", "words", "toc", "subs"});
    else
        allowFields(j, at, {"name", "locale", "dictId", "pages", "entries", "keys", "toc", "subs", "memos"});
    if (j.contains("name")) table->name = texts(j["name"], at + "/name");
    if (j.contains("locale")) table->locale = static_cast<uint8_t>(number(j["locale"], at + "/locale", 0, UINT8_MAX));
    if (j.contains("dictId"))
        table->dictId = static_cast<uint32_t>(number(j["dictId"], at + "/dictId", 0, UINT32_MAX));
    else if (dictionary)
        fail(at, "a dictionary table needs a \"dictId\"");
    if (j.contains("subs")) readSubs(j["subs"], at + "/subs", table);
    if (dictionary)
        readDictionaryTable(j, index, table);
    else
        readPlainTable(j, index, kind, book, table);
}

void ManifestReader::readSubs(const json &s, const std::string &at, zav::TableDesc *table) {
    if (!s.is_array()) fail(at, "expected a list of sub entries");
    for (size_t i = 0; i < s.size(); ++i) {
        std::string where = at + "/" + std::to_string(i);
        allowFields(s[i], where, {"id", "name"});
        zav::SubEntryDesc sub;
        if (s[i].contains("id")) sub.subId = static_cast<uint32_t>(number(s[i]["id"], where + "/id", 0, UINT32_MAX));
        if (s[i].contains("name")) sub.name = texts(s[i]["name"], where + "/name");
        table->subs.push_back(sub);
    }
}

void ManifestReader::readLevels(const json &l, const std::string &at, zav::TableDesc *table) {
    if (!l.is_array()) fail(at, "expected a list of dictionary levels");
    for (size_t i = 0; i < l.size(); ++i) {
        if (l[i].is_null()) {
            table->dictLevels.emplace_back(std::nullopt);
            continue;
        }
        std::string t = text(l[i], at + "/" + std::to_string(i), tovix::DICT_LEVEL_RECORD_SIZE);
        std::vector<uint8_t> block(tovix::DICT_LEVEL_RECORD_SIZE, 0);
        std::copy(t.begin(), t.end(), block.begin());
        table->dictLevels.emplace_back(block);
    }
}

void ManifestReader::readWord(const json &w, const std::string &where, zozizid::DictWordTable *words) {
    allowFields(w, where, {"word", "text", "file", "subs"});
    if (!w.contains("word")) fail(where, "a word needs a \"word\"");
    std::string word = text(w["word"], where + "/word", kMaxKeyText);
    if (word.empty() || word.find('\0') != std::string::npos)
        fail(where + "/word", "a word must be 1 to 65535 bytes without a zero byte");
    // Read every content before the word is added, so that a failure leaves no half-made record.
    std::vector<std::pair<uint32_t, std::string>> contents;
    if (w.contains("text") || w.contains("file"))
        contents.emplace_back(kMainContentTag,
                              content(w.contains("text") ? w["text"] : w, where + (w.contains("text") ? "/text" : "")));
    if (w.contains("subs")) {
        const json &s = w["subs"];
        if (!s.is_object()) fail(where + "/subs", "expected {\"sub number\": text, ...}");
        for (auto it = s.begin(); it != s.end(); ++it) {
            std::string sw = where + "/subs/" + it.key();
            auto sub = parseInteger(it.key());
            if (!sub || *sub < 0 || *sub > kMaxSubNumber)
                fail(sw, "a sub number is 0 to 127, not \"" + it.key() + "\"");
            contents.emplace_back(static_cast<uint32_t>(*sub), content(it.value(), sw));
        }
    }
    words->addWord(word);
    for (const auto &c : contents) words->addContent(c.first, c.second);
}

void ManifestReader::readDictionaryTable(const json &j, size_t index, zav::TableDesc *table) {
    const std::string at = "/tables/" + std::to_string(index);
    if (j.contains("simpleName")) table->simpleName = texts(j["simpleName"], at + "/simpleName");
    if (j.contains("appFlags"))
        table->appFlags = static_cast<uint32_t>(number(j["appFlags"], at + "/appFlags", 0, UINT32_MAX));
    if (j.contains("levels")) readLevels(j["levels"], at + "/levels", table);
    for (const auto &d : dictionaries)
        if (d.dictId == table->dictId) fail(at + "/dictId", "two tables name dictionary " + hex(table->dictId, 8));
    Dictionary dict{table->dictId, {}};
    if (j.contains("words")) {
        const json &w = j["words"];
        if (!w.is_array()) fail(at + "/words", "expected a list of words");
        // The words were taken while the manifest was read (the list here is
        // empty), unless it was read whole.
        if (index < streamed_.size()) dict.words = std::move(streamed_[index].words);
        for (size_t i = 0; i < w.size(); ++i) readWord(w[i], at + "/words/" + std::to_string(i), &dict.words);
    }
    uint32_t dictId = table->dictId;
    dict.words.mapContentIds([dictId](uint32_t tag) {
        return tag == kMainContentTag ? zozizid::mainContentId(dictId) : zozizid::subContentId(dictId, tag);
    });
    // The engine keeps the words in key order; references by word go to
    // the record index they will have there.
    std::vector<uint32_t> order;
    uint32_t count = static_cast<uint32_t>(dict.words.size());
    auto pageOf = [&, count](const json &p, const std::string &where) -> uint32_t {
        if (p.is_string() && !parseInteger(p.get<std::string>())) {
            std::string w = p.get<std::string>();
            if (order.size() != count) order = zozizid::recordOrder(dict.words);
            for (uint32_t i = 0; i < count; ++i)
                if (matchesWord(dict.words.word(order[i]), w)) return i;
            fail(where, "no word \"" + w + "\" in this table");
        }
        if (count == 0) fail(where, "the table has no words to lead to");
        return static_cast<uint32_t>(number(p, where, 0, count - 1));
    };
    if (j.contains("toc")) readToc(j["toc"], at + "/toc", table, count, pageOf);
    dictionaries.push_back(std::move(dict));
}

size_t lineIn(const LineTable *lines, const std::string &pointer) { return lines ? lines->lineOf(pointer) : 0; }

void ManifestReader::readPage(const json &p, const std::string &where, const LineTable *lines, Streamed *s) {
    zav::PageDesc page;
    if (!p.is_object() || p.contains("hex")) {
        page.data = content(p, where);
        s->pages.push_back(std::move(page));
        return;
    }
    allowFields(p, where, {"text", "file", "links"});
    if (p.contains("text") == p.contains("file")) fail(where, "a page needs either \"text\" or \"file\"");
    page.data = content(p.contains("text") ? p["text"] : p, where + (p.contains("text") ? "/text" : ""));
    if (p.contains("links")) {
        if (s->firstLinks.empty()) {
            s->firstLinks = where + "/links";
            s->firstLinksLine = lineIn(lines, "/links");
        }
        const json &l = p["links"];
        if (!l.is_array() || l.size() > tovix::MAX_PAGE_LINKS)
            fail(where + "/links", "expected a list of at most 65535 numbers");
        for (size_t k = 0; k < l.size(); ++k)
            page.links.push_back(
                static_cast<uint32_t>(number(l[k], where + "/links/" + std::to_string(k), 0, UINT32_MAX)));
    }
    s->pages.push_back(std::move(page));
}

void ManifestReader::readEntry(const json &e, const std::string &where, Entries *entries) {
    allowFields(e, where, {"keys", "text", "file"});
    if (e.contains("text") == e.contains("file")) fail(where, "an entry needs either \"text\" or \"file\"");
    zav::PageDesc page;
    page.data = content(e.contains("text") ? e["text"] : e, where + (e.contains("text") ? "/text" : ""));
    if (!e.contains("keys") || !e["keys"].is_array() || e["keys"].empty())
        fail(where, "an entry needs \"keys\": a list of at least one key");
    const json &keys = e["keys"];
    std::vector<zav::KeyDesc> read;
    for (size_t k = 0; k < keys.size(); ++k) {
        zav::KeyDesc key;
        key.text = text(keys[k], where + "/keys/" + std::to_string(k), kMaxKeyText);
        key.pageNo = static_cast<uint32_t>(entries->pages.size());
        read.push_back(std::move(key));
    }
    entries->pages.push_back(std::move(page));
    for (auto &key : read) entries->keys.push_back(std::move(key));
}

void ManifestReader::readEntries(const json &e, size_t index, const PageAdder &addPage, zav::TableDesc *table) {
    const std::string at = "/tables/" + std::to_string(index) + "/entries";
    if (!e.is_array()) fail(at, "expected a list of entries");
    // The entries were taken while the manifest was read (the list here is
    // empty), unless it was read whole.
    Entries entries;
    if (index < streamed_.size()) entries = std::move(streamed_[index].entries);
    for (size_t i = 0; i < e.size(); ++i) readEntry(e[i], at + "/" + std::to_string(i), &entries);
    // Each entry is one more page of the table, after its "pages".
    auto first = static_cast<uint32_t>(table->pageList.size());
    for (auto &page : entries.pages) addPage(std::move(page));
    for (auto &key : entries.keys) {
        key.pageNo += first;
        table->keys.push_back(std::move(key));
    }
}

void ManifestReader::readKey(const json &k, const std::string &where, const LineTable *lines, Streamed *s) {
    allowFields(k, where, {"text", "page", "offset", "attribute"});
    if (!k.contains("text") || !k.contains("page")) fail(where, "a key needs \"text\" and \"page\"");
    PendingKey pending;
    pending.key.text = text(k["text"], where + "/text", kMaxKeyText);
    pending.page = number(k["page"], where + "/page", 0, UINT64_MAX);
    pending.pageLine = lineIn(lines, "/page");
    if (k.contains("offset")) {
        pending.hasOffset = true;
        pending.offset = number(k["offset"], where + "/offset", 0, UINT64_MAX);
        pending.offsetLine = lineIn(lines, "/offset");
    }
    if (k.contains("attribute")) {
        const json &a = k["attribute"];
        int64_t v = a.is_number_integer() ? a.get<int64_t>() : INT64_MIN;
        if (v < INT8_MIN || v > UINT8_MAX) fail(where + "/attribute", "the attribute is a byte: -128 to 255");
        pending.key.attribute = static_cast<uint8_t>(v);
    }
    s->keys.push_back(std::move(pending));
}

// The table's keys, once its pages are known: each must lead to one of them.
void ManifestReader::addKeys(const std::string &at, Streamed *s, const zav::BookDesc &book, uint32_t base,
                             zav::TableDesc *table) {
    auto pages = static_cast<uint32_t>(table->pageList.size());
    for (size_t i = 0; i < s->keys.size(); ++i) {
        PendingKey &k = s->keys[i];
        std::string where = at + "/keys/" + std::to_string(i);
        if (pages == 0) fail(where + "/page", "the table has no pages for the key to lead to", k.pageLine);
        checkRange(k.page, where + "/page", 0, pages - 1, k.pageLine);
        k.key.pageNo = static_cast<uint32_t>(k.page);
        if (k.hasOffset) {
            size_t size = book.pages[base + k.key.pageNo].data.size();
            checkRange(k.offset, where + "/offset", 0, size, k.offsetLine);
            k.key.pageOffset = static_cast<uint32_t>(k.offset);
        }
        table->keys.push_back(std::move(k.key));
    }
    s->keys.clear();
}

void ManifestReader::readMemos(const json &m, const std::string &at, const zav::TableDesc &table,
                               const PageOf &pageOf) {
    if (!m.is_array()) fail(at, "expected a list of memos");
    for (size_t i = 0; i < m.size(); ++i) {
        std::string where = at + "/" + std::to_string(i);
        allowFields(m[i], where, {"page", "text"});
        if (!m[i].contains("page") || !m[i].contains("text")) fail(where, "a memo needs \"page\" and \"text\"");
        zavmemo::MemoEntry memo;
        memo.page = table.pageList[pageOf(m[i]["page"], where + "/page")];
        memo.text = text(m[i]["text"], where + "/text", ZAVMEMO_MAX_MEMO);
        memos.push_back(std::move(memo));
    }
}

void ManifestReader::readPlainTable(const json &j, size_t index, uint32_t kind, zav::BookDesc *book,
                                    zav::TableDesc *table) {
    const std::string at = "/tables/" + std::to_string(index);
    if (streamed_.size() <= index) streamed_.resize(index + 1);
    Streamed &s = streamed_[index];
    // The table's pages follow the pages of the tables before it.
    uint32_t base = static_cast<uint32_t>(book->pages.size());
    PageAdder addPage = [&](zav::PageDesc page) {
        table->pageList.push_back(static_cast<uint32_t>(book->pages.size()));
        book->pages.push_back(std::move(page));
    };
    // The pages and keys were taken while the manifest was read (the lists
    // here are empty), unless it was read whole.
    if (j.contains("pages")) {
        const json &p = j["pages"];
        if (!p.is_array()) fail(at + "/pages", "expected a list of pages");
        for (size_t i = 0; i < p.size(); ++i) readPage(p[i], at + "/pages/" + std::to_string(i), nullptr, &s);
    }
    if (!s.firstLinks.empty() && kind != tovix::KIND_PREFIXED)
        fail(s.firstLinks, "only books of kind 4 have page links", s.firstLinksLine);
    for (auto &page : s.pages) addPage(std::move(page));
    s.pages = {};
    if (j.contains("entries")) readEntries(j["entries"], index, addPage, table);
    uint32_t pages = static_cast<uint32_t>(table->pageList.size());
    if (j.contains("keys")) {
        const json &k = j["keys"];
        if (!k.is_array()) fail(at + "/keys", "expected a list of keys");
        for (size_t i = 0; i < k.size(); ++i) readKey(k[i], at + "/keys/" + std::to_string(i), nullptr, &s);
        addKeys(at, &s, *book, base, table);
    }
    if (!table->keys.empty()) table->autoPageToKey = true;

    std::vector<zav::KeyDesc> sortedKeys;  // made when a page is first given by a key
    PageOf pageOf = [&, pages](const json &p, const std::string &where) -> uint32_t {
        if (p.is_string() && !parseInteger(p.get<std::string>())) {
            std::string w = p.get<std::string>();
            if (sortedKeys.size() != table->keys.size()) {
                sortedKeys = table->keys;
                zav::sortKeys(sortedKeys);
            }
            for (const auto &key : sortedKeys)
                if (matchesWord(key.text, w)) return key.pageNo;
            fail(where, "no key \"" + w + "\" in this table");
        }
        if (pages == 0) fail(where, "the table has no pages to lead to");
        return static_cast<uint32_t>(number(p, where, 0, pages - 1));
    };
    if (j.contains("toc")) readToc(j["toc"], at + "/toc", table, pages, pageOf);
    if (j.contains("memos")) readMemos(j["memos"], at + "/memos", *table, pageOf);
}

void ManifestReader::readToc(const json &j, const std::string &at, zav::TableDesc *table, uint32_t pages,
                             const PageOf &pageOf) {
    if (!j.is_array() || j.empty()) fail(at, "expected a list of items (the first is the root)");
    // Items are numbered in document order (the root is item 1); parents[n - 1]
    // is the parent of item n.
    std::vector<uint32_t> parents;
    struct Pending {
        const json *item;
        std::string at;
        uint32_t parent;
    };
    std::vector<Pending> stack;
    for (size_t i = j.size(); i-- > 0;) stack.push_back({&j[i], at + "/" + std::to_string(i), 0});
    while (!stack.empty()) {
        Pending p = stack.back();
        stack.pop_back();
        const json &item = *p.item;
        allowFields(item, p.at, {"caption", "page", "hidden", "children"});
        zav::VpItemDesc desc;
        bool hidden = item.contains("hidden") && item["hidden"].is_boolean() && item["hidden"].get<bool>();
        if (item.contains("hidden") && !item["hidden"].is_boolean()) fail(p.at + "/hidden", "expected true or false");
        if (hidden)
            desc.caption.entries.emplace_back(1, zav::kHiddenItemMarker);
        else if (item.contains("caption"))
            desc.caption = texts(item["caption"], p.at + "/caption");
        else
            fail(p.at, "an item needs a \"caption\" (or \"hidden\": true)");
        if (item.contains("page")) desc.pagePlusOne = pageOf(item["page"], p.at + "/page") + 1;
        table->vpItems.push_back(std::move(desc));
        parents.push_back(p.parent);
        uint32_t number = static_cast<uint32_t>(table->vpItems.size());
        if (item.contains("children")) {
            const json &c = item["children"];
            if (!c.is_array()) fail(p.at + "/children", "expected a list of items");
            for (size_t i = c.size(); i-- > 0;)
                stack.push_back({&c[i], p.at + "/children/" + std::to_string(i), number});
        }
    }
    zav::linkTree(table->vpItems, parents);
    // Each table page maps to the first item (in document order) that leads to it.
    table->pageToItem.assign(pages, 0);
    for (size_t n = 0; n < table->vpItems.size(); ++n) {
        uint32_t p1 = table->vpItems[n].pagePlusOne;
        if (p1 && p1 - 1 < pages && table->pageToItem[p1 - 1] == 0)
            table->pageToItem[p1 - 1] = static_cast<uint32_t>(n + 1);
    }
    if (pages == 0) table->pageToItem.clear();
}

}  // namespace

Result<Manifest> readManifest(const std::string &path, const std::string &command, bool quiet) {
    std::error_code sizeError;
    uint64_t size = std::filesystem::file_size(path, sizeError);
    Progress progress(command, "KiB of the manifest", sizeError ? 0 : size / kKiB, quiet);
    ManifestReader reader(directoryOf(path));
    StreamedLists lists{ManifestReader::streamedFields(),
                        [&reader](const std::string &field, size_t table, const json &element, const std::string &where,
                                  const LineTable &lines) { reader.take(field, table, element, where, &lines); },
                        [&progress](uint64_t bytes) { progress.step(bytes / kKiB); }};
    LocatedJson doc;
    Manifest manifest;
    try {
        size_t line = 0;
        std::string message;
        if (!parseManifestFile(path, &lists, &doc, &line, &message)) {
            if (line == 0) return Failure{message};
            return Failure{path + ":" + std::to_string(line) + ": " + message, Fault::Rejected};
        }
        reader.read(doc.value, &manifest.book);
    } catch (const ManifestError &e) {
        std::string where = e.pointer.empty() ? "the manifest" : e.pointer;
        size_t line = e.line ? e.line : doc.lineOf(e.pointer);
        return Failure{path + ":" + std::to_string(line) + ": " + where + ": " + e.what(), Fault::Rejected};
    }
    manifest.dictionaries = std::move(reader.dictionaries);
    manifest.memos = std::move(reader.memos);
    return manifest;
}

}  // namespace zavtool
