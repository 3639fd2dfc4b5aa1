// The shelf: books and their databases (one per table that has keys), the
// tables' in-memory indexes, and the answers a reader asks for across them.
// Safe to use from many threads once the books are added.
#ifndef ZAV_READER_SHELF_H
#define ZAV_READER_SHELF_H

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "book.h"
#include "budget.h"
#include "key_list.h"
#include "search_index.h"
#include "status.h"
#include "stems.h"
#include "table_index.h"

namespace zavreader {

// A table's keys and headwords in memory; never changed once built.
struct Loaded {
    KeyList keys;
    TableIndex index;
    // (hash of a headword's case fold, its entry) and (hash of its accent
    // fold, its entry), sorted by hash: a word whose fold is not among them
    // is in no key of the table, and the headwords that may share a fold
    // are found without a scan.
    using Hashed = std::vector<std::pair<uint64_t, uint32_t>>;
    Hashed byFold, byBare;
    bool mayHold(const std::string &folded) const;
    // Entries whose hash is that of `text` in `hashed`.
    std::vector<uint32_t> candidates(const Hashed &hashed, std::string_view text) const;
    uint64_t bytes() const {
        return keys.bytes() + index.bytes() + (byFold.capacity() + byBare.capacity()) * sizeof(Hashed::value_type);
    }
};

struct Database {
    std::string name;
    size_t slot = 0;  // the book's slot
    int32_t table = 0;
    std::string path, bookName, tableName;
    int32_t language = 0;
    uint32_t kind = 0;
    uint32_t keyCount = 0;
    // Stem look-ups: the dictionary in use (null when off), and what the
    // language came from or why they are off.
    std::shared_ptr<Stemmer> stemmer;
    std::string stemNote;
};

// One entry of a table, for a search index: every headword whose key leads
// to it (UTF-8, each once, in key order), where it is and its text (UTF-8).
struct SourceEntry {
    uint32_t keyIndex = 0;  // its first key
    std::vector<std::string> headwords;
    int64_t page = 0;
    uint32_t offset = 0;
    std::string text;
    std::string reason;  // why the text cannot be read; empty when it was
};
// Takes an entry and how many of the table's entries are done and in all;
// false stops the walk.
using EntrySink = std::function<bool(const SourceEntry &entry, size_t done, size_t total)>;

struct Problem {
    std::string path, reason;
};

// One answer of a call, its texts in UTF-8.
struct Answer {
    size_t database = 0;
    uint32_t keyIndex = 0;
    std::string headword, key;
    int64_t page = 0;
    uint32_t offset = 0;
    uint32_t how = ZAVR_HOW_EXACT;
    uint32_t distance = 0;
    bool withText = false;
    std::string text, reason;
    std::string snippet;          // a search's hit: the text around what matched
    std::vector<uint32_t> marks;  // (start, end) offsets of the matched words in snippet
};

struct Answers {
    std::vector<Answer> items;
    Status status;
};

// Keep the first failure of several databases in *result; false when it
// ends the call (a stop for time, cancel or a limit).
bool note(Answers *result, const Status &s);

// Which databases a call asks: one, every one, or the first that answers.
struct Selection {
    std::vector<size_t> databases;
    bool firstAnswering = false;
};

class Shelf {
public:
    Shelf() = default;
    Shelf(const Shelf &) = delete;
    Shelf &operator=(const Shelf &) = delete;

    int32_t add(const std::string &path, const char *name);
    const std::deque<Database> &databases() const { return databases_; }
    int64_t find(const std::string &name) const;
    size_t problemCount() const;
    const Problem *problem(size_t index) const;
    // Bytes the database's in-memory index takes now, 0 when not loaded.
    uint64_t indexBytes(size_t database) const;

    // Stem look-ups of the databases `which` selects in `language` ("" off,
    // null: the language the book's names say); ZAVR_NOT_FOUND when there is
    // no dictionary for it (stem look-ups are then off).
    Status setLanguage(const Selection &which, const char *language);

    // NULL, "*", "!" or a name; ZAVR_NOT_FOUND for an unknown name.
    Status select(const char *database, Selection *out) const;

    // The book of a database as it is now (reopened when the file changed).
    std::shared_ptr<Book> book(size_t database);
    // The database's table in memory, loaded at the first need.
    std::shared_ptr<const Loaded> loaded(size_t database, Budget &budget, Status *status);
    // The same when it is loaded already from `current`, else null.
    std::shared_ptr<const Loaded> inMemory(size_t database, const std::shared_ptr<Book> &current);

    Answers lookup(const Selection &which, const std::string &word, uint32_t flags, Budget &budget);
    Answers match(const Selection &which, const std::string &strategy, const std::string &pattern, Budget &budget);
    Answers suggest(const Selection &which, const std::string &word, size_t count, Budget &budget);
    Answers complete(const Selection &which, const std::string &prefix, size_t count, Budget &budget);
    Answers entry(size_t database, uint32_t keyIndex);
    // Every entry of the database's table once (the keys that lead to one
    // page and offset are one entry; keys added for a headword's case fold
    // are left out), in the order of their pages; an entry whose text cannot
    // be read comes with the reason.
    Status entries(size_t database, Budget &budget, const EntrySink &take);
    // The best `count` hits of `query` in the search indexes of the
    // databases selected, best first, each with its text and a snippet.
    Answers search(const Selection &which, const std::string &query, size_t count, Budget &budget);
    // Write the search index of the book of `database` (every table of it
    // with keys) to `path`. `stemmer`: the Snowball stemmer of the texts'
    // language ("english"), or "" to leave them unstemmed. An entry
    // whose text cannot be read is indexed by its headwords and named among
    // the answers with the reason (up to a hundred; *unreadable counts them
    // all); *indexed counts the entries indexed.
    Answers writeIndex(size_t database, const std::string &path, const std::string &stemmer,
                       const std::function<void(uint64_t, uint64_t)> &progress, Budget &budget, uint64_t *indexed,
                       uint64_t *unreadable);
    // Table page `page` whole (sub < 0), or its sub page `sub`, as one answer.
    Answers page(size_t database, int64_t page, int32_t sub, Budget &budget);
    // The number of pages of the database's table, or -1 with *status.
    int64_t pageCount(size_t database, Status *status);

private:
    struct Slot {
        std::string path;
        std::mutex mutex;
        std::shared_ptr<Book> book;
        std::vector<std::shared_ptr<const Loaded>> tables;  // by table number
        std::vector<std::unique_ptr<std::mutex>> loading;   // by table number
        std::chrono::steady_clock::time_point checked;
        FileSignature refused;  // a changed file that would not open, reported once
        // The book's search index, open, and the state of the book it was
        // found to match; searches of the book take it one at a time.
        std::mutex searching;
        std::unique_ptr<SearchIndex> index;
        FileSignature indexed;
    };
    void report(const std::string &path, const std::string &reason);
    int32_t addBook(const std::string &path, const char *name);
    // Ask `ask(database, reader)` of each database selected, each with a
    // handle of its own, noting the first failure in *result; false when a
    // stop (time, cancel, limit) ends the call.
    template <typename Ask>
    bool forEachReader(const Selection &which, Answers *result, Ask ask);
    // Stem look-ups of database `db` in the language its names say, or in
    // `language` (`source` says where it comes from).
    void defaultLanguage(size_t db, const std::string &bookName);
    Status useLanguage(size_t db, const std::string &language, const std::string &source);
    Status stemIn(size_t db, const std::string &word, uint32_t flags, Budget &budget, std::vector<Answer> *out);
    Status lookupIn(size_t db, const std::string &word, uint32_t flags, bool accents, Budget &budget,
                    std::vector<Answer> *out);

    std::deque<Database> databases_;
    std::deque<std::unique_ptr<Slot>> slots_;
    mutable std::mutex problemsMutex_;
    std::deque<Problem> problems_;
    std::vector<std::shared_ptr<Stemmer>> stemmers_;  // one per dictionary file
};

}  // namespace zavreader

#endif
