#include "lookup.h"

#include <algorithm>

#include "book_file.h"
#include "text.h"

namespace zavreader {

namespace {

// Whether a key matches q: a word with a homograph number matches its keys
// exactly, a bare word every key of the same body.
bool matches(const std::string &key, const std::string &q, bool exact) {
    return exact ? collate(key, q) == 0 : collate(keyBody(key), q) == 0;
}

// Indexes of the keys that match q, in key order; false when a key on the
// way cannot be read.
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

// The key the module's own look-up leads to, when it matches the word.
bool moduleChoice(KeyReader &reader, const std::string &word, uint32_t *index) {
    if (reader.count() == 0 || word.size() > INT32_MAX) return false;
    int32_t k = ZAVSearchKeyWord(reader.handle(), reader.table(), word.c_str(), static_cast<int32_t>(word.size()));
    if (k < 0 || static_cast<uint32_t>(k) >= reader.count()) return false;
    const std::string *key = reader.text(static_cast<uint32_t>(k));
    if (!key) return false;
    bool exact = hasHomographSuffix(word);
    if (!matches(*key, exact ? word : keyBody(word), exact) && collate(*key, word) != 0) return false;
    *index = static_cast<uint32_t>(k);
    return true;
}

}  // namespace

std::optional<std::string> soundPage(const Book &book, BookHandle handle, int32_t table, int64_t page,
                                     std::string *reason) {
    auto text = readTablePage(handle, table, page, book.contentLimit());
    std::string why;
    if (text && text->empty() && !book.isDictionary() &&
        !emptyPageIsSound(book.path(), book.fileSize(), table, static_cast<uint32_t>(page), &why))
        text.reset();
    if (!text)
        *reason = book.path() + ": table page " + std::to_string(page) + " of table " + std::to_string(table) +
                  " cannot be read" + (why.empty() ? "" : ": " + why);
    return text;
}

Status entryOf(KeyReader &reader, uint32_t index, uint32_t how, bool withText, Seen *seen, std::vector<Found> *out) {
    Found f;
    f.page = reader.page(index);
    f.offset = reader.offset(index);
    f.keyIndex = reader.original(index);
    f.how = how;
    const std::string *key = reader.text(f.keyIndex);
    if (!key) return Status::fail(ZAVR_UNREADABLE, reader.error());
    f.key = *key;
    if (seen && !seen->insert({f.page, f.offset}).second) return Status::ok();
    f.withText = withText;
    if (withText) {
        std::string why;
        auto page = soundPage(reader.book(), reader.handle(), reader.table(), f.page, &why);
        if (!page) {
            f.reason = why + " (the page of key \"" + f.key + "\")";
        } else if (f.offset > page->size()) {
            f.reason = reader.book().path() + ": the entry's offset " + std::to_string(f.offset) +
                       " lies past the end of table page " + std::to_string(f.page) + " of table " +
                       std::to_string(reader.table()) + ", " + std::to_string(page->size()) + " bytes";
        } else {
            f.text = page->substr(f.offset);
        }
    }
    out->push_back(std::move(f));
    return Status::ok();
}

Status lookupWord(KeyReader &reader, const std::string &word, bool first, bool withText, Seen *seen, Budget &budget,
                  std::vector<Found> *out) {
    if (reader.count() == 0 || keyBody(word).empty()) return Status::ok();
    size_t before = out->size();
    uint32_t chosen = 0;
    if (moduleChoice(reader, word, &chosen)) {
        if (Status s = entryOf(reader, chosen, ZAVR_HOW_EXACT, withText, seen, out); !s) return s;
        if (first && out->size() > before) return Status::ok();
    }
    std::vector<std::string> queries = {word};
    std::string folded = foldCase(word);
    if (collate(folded, word) != 0) queries.push_back(folded);
    for (size_t q = 0; q < queries.size(); ++q) {
        std::vector<uint32_t> indexes;
        if (!matchingKeys(reader, queries[q], &indexes)) return Status::fail(ZAVR_UNREADABLE, reader.error());
        for (uint32_t index : indexes) {
            if (budget.spent()) return budget.status();
            if (Status s = entryOf(reader, index, q == 0 ? ZAVR_HOW_EXACT : ZAVR_HOW_CASE, withText, seen, out); !s)
                return s;
            if (first && out->size() > before) return Status::ok();
        }
    }
    return Status::ok();
}

namespace {

// Keys scanned past the first match of a prefix for each one kept.
constexpr size_t kPrefixScanSlack = 1000;

}  // namespace

Status completeWord(KeyReader &reader, const std::string &prefix, size_t count, Budget &budget,
                    std::vector<std::pair<uint32_t, std::string>> *out) {
    if (reader.count() == 0 || count == 0) return Status::ok();
    std::vector<std::string> prefixes = {prefix};
    std::string folded = foldCase(prefix);
    if (collate(folded, prefix) != 0) prefixes.push_back(folded);
    // (fold, key index, headword): sorted so that the keys of both prefixes
    // come in one order.
    struct Item {
        std::string fold;
        uint32_t index;
        std::string name;
    };
    std::vector<Item> found;
    for (const std::string &p : prefixes) {
        auto at = reader.lowerBound(p);
        if (!at) return Status::fail(ZAVR_UNREADABLE, reader.error());
        std::set<std::string> names;
        for (uint32_t i = *at; i < reader.count() && names.size() < count && i - *at < count + kPrefixScanSlack; ++i) {
            if (budget.spent()) return budget.status();
            const std::string *key = reader.text(i);
            if (!key) return Status::fail(ZAVR_UNREADABLE, reader.error());
            if (!bodyStartsWith(*key, p)) break;
            uint32_t original = reader.original(i);
            std::string name = keyBody(reader.headword(i));
            if (reader.failed()) return Status::fail(ZAVR_UNREADABLE, reader.error());
            if (names.insert(name).second) found.push_back({foldCase(name), original, name});
        }
    }
    std::stable_sort(found.begin(), found.end(), [](const Item &a, const Item &b) { return a.fold < b.fold; });
    std::set<std::string> names;
    for (Item &f : found) {
        if (out->size() >= count) break;
        if (names.insert(f.name).second) out->push_back({f.index, std::move(f.name)});
    }
    return Status::ok();
}

}  // namespace zavreader
