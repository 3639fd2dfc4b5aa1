// Full-text search over the shelf's books, and writing a book's index.
#include <algorithm>

#include "key_reader.h"
#include "lookup.h"
#include "search_index.h"
#include "shelf.h"
#include "snippet.h"
#include "text.h"

namespace zavreader {

namespace {

constexpr size_t kMostNamedUnreadable = 100;

}  // namespace

Answers Shelf::writeIndex(size_t database, const std::string &path, const std::string &stemmer,
                          const std::function<void(uint64_t, uint64_t)> &progress, Budget &budget, uint64_t *indexed,
                          uint64_t *unreadable) {
    Answers result;
    const std::string bookPath = databases_[database].path;
    auto fingerprint = fingerprintOf(bookPath);
    if (!fingerprint) {
        result.status = Status::fail(ZAVR_UNREADABLE, bookPath + ": cannot be read whole");
        return result;
    }
    std::vector<size_t> ofBook;
    for (size_t d = 0; d < databases_.size(); ++d)
        if (databases_[d].slot == databases_[database].slot) ofBook.push_back(d);
    *indexed = *unreadable = 0;
    result.status =
        writeSearchIndex(path, *fingerprint, stemmer, [&](const std::function<bool(const IndexRow &)> &put) {
            IndexRow row;
            for (size_t n = 0; n < ofBook.size(); ++n) {
                size_t db = ofBook[n];
                row.table = databases_[db].table;
                Status s = entries(db, budget, [&](const SourceEntry &e, size_t done, size_t total) {
                    row.keyIndex = e.keyIndex;
                    row.page = e.page;
                    row.offset = e.offset;
                    row.headwords.clear();
                    for (const std::string &h : e.headwords) row.headwords += (row.headwords.empty() ? "" : "\n") + h;
                    row.text = e.text;
                    if (!e.reason.empty() && ++*unreadable <= kMostNamedUnreadable) {
                        Answer a;
                        a.database = db;
                        a.keyIndex = e.keyIndex;
                        a.headword = e.headwords.empty() ? std::string() : e.headwords.front();
                        a.key = a.headword;
                        a.page = e.page;
                        a.offset = e.offset;
                        a.withText = true;
                        a.reason = e.reason;
                        result.items.push_back(std::move(a));
                    }
                    ++*indexed;
                    if (progress) progress(done, total);
                    return put(row);
                });
                if (!s) return s;
            }
            return Status::ok();
        });
    if (!result.status.good()) result.items.clear();
    return result;
}

Answers Shelf::search(const Selection &which, const std::string &query, size_t count, Budget &budget) {
    Answers result;
    std::vector<std::string> terms = SearchIndex::terms(query);
    // The databases of each book, so that each index is asked once.
    std::vector<std::pair<size_t, std::vector<size_t>>> books;  // (slot, databases)
    for (size_t db : which.databases) {
        auto it =
            std::find_if(books.begin(), books.end(), [&](const auto &b) { return b.first == databases_[db].slot; });
        if (it == books.end()) it = books.insert(books.end(), {databases_[db].slot, {}});
        it->second.push_back(db);
    }
    struct Ranked {
        double score;
        size_t database;
        SearchHit hit;
    };
    std::vector<Ranked> found;
    for (const auto &[slot, dbs] : books) {
        const std::string &bookPath = databases_[dbs.front()].path;
        Slot &held = *slots_[slot];
        std::lock_guard<std::mutex> lock(held.searching);
        // The index stays open while the book is as it was when the index
        // was found to be its own (its bytes are hashed only when its time
        // changed without its size).
        auto now = signatureOf(bookPath);
        if (!held.index || !now || *now != held.indexed) {
            held.index.reset();
            Status opened = SearchIndex::open(bookPath, &held.index);
            if (!opened) {
                if (!note(&result, opened)) return result;
                continue;
            }
            held.indexed = now.value_or(FileSignature{});
        }
        std::vector<int32_t> tables;
        for (size_t db : dbs) tables.push_back(databases_[db].table);
        std::vector<SearchHit> hits;
        Status s = held.index->search(query, tables, count, budget, &hits);
        if (s.code == ZAVR_BAD_PATTERN) {
            result.status = s;
            return result;
        }
        for (const SearchHit &h : hits)
            for (size_t db : dbs)
                if (databases_[db].table == h.table) found.push_back({h.score, db, h});
        if (!note(&result, s)) break;
    }
    std::stable_sort(found.begin(), found.end(), [](const Ranked &a, const Ranked &b) { return a.score > b.score; });
    if (found.size() > count) found.resize(count);
    for (const Ranked &f : found) {
        if (budget.spent()) {
            note(&result, budget.status());
            break;
        }
        Answers one = entry(f.database, f.hit.keyIndex);
        Answer a;
        if (!one.items.empty()) {
            a = std::move(one.items.front());
        } else {
            a.database = f.database;
            a.keyIndex = f.hit.keyIndex;
            a.page = f.hit.page;  // where the index says, as the key does not answer
            a.offset = f.hit.offset;
            a.withText = true;
            a.reason = one.status.reason;
        }
        a.how = ZAVR_HOW_TEXT;
        if (a.reason.empty()) {
            Snippet s = snippetOf(a.text, terms);
            a.snippet = std::move(s.text);
            a.marks = std::move(s.marks);
        }
        if (!budget.take(a.text.size() + a.snippet.size())) {
            note(&result, budget.status());
            break;
        }
        result.items.push_back(std::move(a));
    }
    return result;
}

}  // namespace zavreader
