// The full-text index of a book, a file of its own beside it (BOOK.search):
// an SQLite database whose FTS5 table holds the words of every entry of the
// book's tables with keys (headwords and text, folded for case and accents,
// runs of CJK characters split into pairs, stemmed in the texts' language
// where a Snowball stemmer knows it), without
// the texts themselves, which stay in the book. It records the book's
// fingerprint: an index of another state of the book is never used.
#ifndef ZAV_READER_SEARCH_INDEX_H
#define ZAV_READER_SEARCH_INDEX_H

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "budget.h"
#include "fingerprint.h"
#include "status.h"

struct sqlite3;

namespace zavreader {

// Where the index of the book at `bookPath` lives.
std::string searchIndexPath(const std::string &bookPath);

// One row of the index: an entry of one table.
struct IndexRow {
    int32_t table = 0;
    uint32_t keyIndex = 0;
    int64_t page = 0;
    uint32_t offset = 0;
    std::string headwords;  // UTF-8, separated by newlines
    std::string text;       // UTF-8
};

// The words of `text` as the index keeps them: folded for case and accents,
// CJK runs split into overlapping pairs, separated by spaces.
std::string indexWords(std::string_view text);

// Writes a new index at `path` (a file that does not exist or is empty),
// filling it from `rows`, which calls its argument for every row and stops
// when it returns false. `stemmer`: the Snowball stemmer of the texts'
// language ("english"), or "" for none.
// The file is left whole only when the status is good.
Status writeSearchIndex(const std::string &path, const Fingerprint &book, const std::string &stemmer,
                        const std::function<Status(const std::function<bool(const IndexRow &)> &)> &rows);

struct SearchHit {
    int32_t table = 0;
    uint32_t keyIndex = 0;
    int64_t page = 0;
    uint32_t offset = 0;
    double score = 0;  // higher is better
};

// An open index, read by one thread at a time.
class SearchIndex {
public:
    ~SearchIndex();
    SearchIndex(const SearchIndex &) = delete;
    SearchIndex &operator=(const SearchIndex &) = delete;

    // Opens the index of the book at `bookPath` when it is there and made
    // from the book as it is now; ZAVR_NOT_FOUND when there is none, and
    // ZAVR_UNREADABLE when it is stale or damaged (the reason says which).
    static Status open(const std::string &bookPath, std::unique_ptr<SearchIndex> *out);

    // The best `count` hits of `query` in `tables` (all when empty), best
    // first. ZAVR_BAD_PATTERN for a query that says nothing to search.
    Status search(const std::string &query, const std::vector<int32_t> &tables, size_t count, Budget &budget,
                  std::vector<SearchHit> *hits);

    // The query's terms as the index keeps them (for marking them in a
    // text); a term that ends in '*' is a prefix.
    static std::vector<std::string> terms(const std::string &query);

private:
    SearchIndex() = default;
    sqlite3 *db_ = nullptr;
};

// The translations an entry's text lists, as the items table keeps them:
// the parts of its lines after the first between commas and semicolons,
// bracketed labels left out, examples (lines in quotes) and references
// ("see:") passed over; each of at most four words.
std::string translationItems(const std::string &text);
// The items phrase of a query of plain words; empty for any other query.
std::string itemQuery(const std::string &query);

// Translates a reader's query into the index's syntax: words (any case or
// accents), "phrases", prefixes (appl*), AND, OR, NOT and parentheses; every
// word is quoted, so that no character of the query is syntax by accident.
// Empty when nothing is left to search.
std::string indexQuery(const std::string &query);

}  // namespace zavreader

#endif
