#include "entries.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>
#include <set>
#include <utility>

#include "book_health.h"
#include "key_reader.h"

namespace zavtool {

namespace {

// One code point's simple case fold: the full fold when it is a single code
// point, else the lower case ("ß" stays "ß", "ẞ" becomes "ß").
utf8proc_int32_t simpleFold(utf8proc_int32_t c) {
    utf8proc_int32_t folded[4];
    int boundary = 0;
    utf8proc_ssize_t n = utf8proc_decompose_char(c, folded, 4, UTF8PROC_CASEFOLD, &boundary);
    if (n == 1) return folded[0];
    return utf8proc_tolower(c);
}

std::string composed(const std::string &utf8) {
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> nfc(
        utf8proc_NFC(reinterpret_cast<const utf8proc_uint8_t *>(utf8.c_str())), &std::free);
    return nfc ? std::string(reinterpret_cast<const char *>(nfc.get())) : std::string();
}

bool isUtf8(const std::string &text) {
    const auto *p = reinterpret_cast<const utf8proc_uint8_t *>(text.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t c;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0 || c == 0) return false;
        p += n;
        left -= n;
    }
    return true;
}

}  // namespace

std::string foldCase(const std::string &utf8) {
    if (!isUtf8(utf8)) return utf8;
    std::string nfc = composed(utf8);
    std::string out;
    out.reserve(nfc.size());
    const auto *p = reinterpret_cast<const utf8proc_uint8_t *>(nfc.data());
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(nfc.size());
    while (left > 0) {
        utf8proc_int32_t c;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0) return utf8;
        utf8proc_uint8_t bytes[4];
        utf8proc_ssize_t m = utf8proc_encode_char(simpleFold(c), bytes);
        out.append(reinterpret_cast<const char *>(bytes), static_cast<size_t>(m));
        p += n;
        left -= n;
    }
    std::string again = composed(out);
    return again.empty() && !out.empty() ? out : again;
}

std::vector<std::string> foldedKeysFor(const std::string &headword) {
    std::string folded = foldCase(headword);
    if (folded.empty() || collate(folded, headword) == 0) return {};
    return {folded};
}

void addFoldedKeys(std::vector<zav::KeyDesc> *keys, const std::string &headword, uint32_t pageNo) {
    for (std::string &folded : foldedKeysFor(headword)) {
        zav::KeyDesc key;
        key.text = std::move(folded);
        key.pageNo = pageNo;
        key.attribute = kFoldedKeyAttribute;
        keys->push_back(std::move(key));
    }
}

namespace {

// The keys around lowerBound(q) that match q: a word with a homograph
// suffix matches its keys exactly, a bare word every key of the same body.
bool matches(const std::string &key, const std::string &q, bool exact) {
    return exact ? collate(key, q) == 0 : collate(keyBody(key), q) == 0;
}

// Indexes of the matching keys, in key order; false when a key on the way
// cannot be read.
bool matchingKeys(KeyReader &reader, const std::string &q, std::vector<uint32_t> *out) {
    bool exact = hasHomographSuffix(q);
    std::string target = exact ? q : keyBody(q);
    if (target.empty()) return true;
    auto at = reader.lowerBound(target);
    if (!at) return false;
    uint32_t first = *at;
    while (first > 0) {
        const std::string *key = reader.text(first - 1);
        if (!key) return false;
        if (!matches(*key, target, exact)) break;
        --first;
    }
    for (uint32_t i = first; i < reader.count(); ++i) {
        const std::string *key = reader.text(i);
        if (!key) return false;
        if (!matches(*key, target, exact)) break;
        out->push_back(i);
    }
    return true;
}

std::string describe(int32_t table, int64_t page, const std::string &key) {
    return "table page " + std::to_string(page) + " of table " + std::to_string(table) + " (key \"" + key + "\")";
}

// The entry of key index: its page from its offset on.
bool readEntry(KeyReader &reader, uint32_t index, Entry *entry, std::string *error) {
    entry->page = reader.page(index);
    entry->offset = reader.offset(index);
    entry->keyIndex = reader.original(index);
    const std::string *key = reader.text(entry->keyIndex);
    if (key) entry->key = *key;
    if (reader.failed()) {
        *error = reader.error();
        return false;
    }
    PageRead page = readTablePage(reader.book(), reader.table(), entry->page);
    if (!page.content) {
        *error = page.error + " (the page of key \"" + entry->key + "\")";
        return false;
    }
    const std::string *content = &*page.content;
    if (entry->offset > content->size()) {
        *error = "the entry's offset " + std::to_string(entry->offset) + " lies past the end of " +
                 describe(reader.table(), entry->page, entry->key) + ", " + std::to_string(content->size()) + " bytes";
        return false;
    }
    entry->text = content->substr(entry->offset);
    return true;
}

}  // namespace

Lookup lookupEntries(const HostBook &book, int32_t table, const std::string &word, bool firstOnly) {
    Lookup result;
    KeyReader reader(book, table);
    if (reader.count() == 0 || word.empty()) return result;
    std::vector<std::string> queries = {word};
    std::string folded = foldCase(word);
    if (collate(folded, word) != 0) queries.push_back(folded);
    std::set<std::pair<int64_t, uint32_t>> seen;
    for (const std::string &q : queries) {
        std::vector<uint32_t> indexes;
        if (!matchingKeys(reader, q, &indexes)) {
            result.error = reader.error();
            return result;
        }
        for (uint32_t index : indexes) {
            Entry entry;
            if (!readEntry(reader, index, &entry, &result.error)) return result;
            if (!seen.insert({entry.page, entry.offset}).second) continue;
            result.entries.push_back(std::move(entry));
            if (firstOnly) return result;
        }
    }
    return result;
}

namespace {

// Keys from lowerBound(prefix) on that start with it, as (fold, headword).
constexpr size_t kPrefixScanSlack = 1000;

bool scanPrefix(KeyReader &reader, const std::string &prefix, size_t count,
                std::vector<std::pair<std::string, std::string>> *out) {
    auto at = reader.lowerBound(prefix);
    if (!at) return false;
    std::set<std::string> names;
    for (uint32_t i = *at; i < reader.count() && names.size() < count && i - *at < count + kPrefixScanSlack; ++i) {
        const std::string *key = reader.text(i);
        if (!key) return false;
        if (!bodyStartsWith(*key, prefix)) break;
        std::string name = keyBody(reader.headword(i));
        if (reader.failed()) return false;
        if (names.insert(name).second) out->push_back({foldCase(name), name});
    }
    return true;
}

}  // namespace

KeyList prefixKeys(const HostBook &book, int32_t table, const std::string &prefix, size_t count) {
    KeyList result;
    KeyReader reader(book, table);
    if (reader.count() == 0 || count == 0) return result;
    std::vector<std::pair<std::string, std::string>> found;
    std::vector<std::string> prefixes = {prefix};
    std::string folded = foldCase(prefix);
    if (collate(folded, prefix) != 0) prefixes.push_back(folded);
    for (const std::string &p : prefixes) {
        if (!scanPrefix(reader, p, count, &found)) {
            result.error = reader.error();
            return result;
        }
    }
    std::stable_sort(found.begin(), found.end());
    std::set<std::string> names;
    for (auto &f : found) {
        if (result.keys.size() >= count) break;
        if (names.insert(f.second).second) result.keys.push_back(std::move(f.second));
    }
    return result;
}

}  // namespace zavtool
