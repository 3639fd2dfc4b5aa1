// The books of `zav serve` as dictionary databases, answered by the reader
// library. All text handed out is UTF-8.
#ifndef ZAV_TOOL_SERVE_BOOKS_H
#define ZAV_TOOL_SERVE_BOOKS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "ZAVReader.h"
#include "serve/budget.h"

namespace zavtool {

// A book (or a folder of books) to serve, and the name its databases are
// served under (empty: the file's name).
struct BookToServe {
    std::string path;
    std::string name;
};

// One database: a table of a book that has keys.
struct Database {
    std::string name;
    std::string path;
    std::string description;  // the book's name
    std::string info;         // text of SHOW INFO
};

// Everything the server knows of its books: the reader library's shelf,
// which any number of workers ask at once, and what SHOW says of each
// database. Built before any worker starts and never changed afterwards.
struct Catalog {
    Catalog();
    ~Catalog();
    Catalog(const Catalog &) = delete;
    Catalog &operator=(const Catalog &) = delete;

    std::vector<Database> databases;  // in the shelf's order
    ZAVReaderShelf *shelf = nullptr;
    // Index of the database called `name`, or -1.
    int find(const std::string &name) const;
    // Load the databases' indexes in a thread of its own, so that the
    // server answers at once and matches run from memory soon after; the
    // destructor stops and joins it.
    void prepareInBackground();
    // Whether `reason` is news for database db: true the first time it is
    // given for db, and again once another has been given since. Any thread.
    bool newReason(size_t db, const std::string &reason) const;

private:
    volatile int stop_ = 0;
    std::thread preparing_;
    mutable std::mutex reasonsLock_;
    mutable std::vector<std::string> reasons_;  // per database: the last reason given
};

// Open every book once and build the catalog. False with *error naming the
// book and the reason when a book named on the command line cannot be
// served; the books of a folder that cannot be served are reported on
// standard error and left out.
bool loadCatalog(const std::vector<BookToServe> &books, Catalog *catalog, std::string *error);

// Whether `name` can name a database: a non-empty atom that is not * or !.
bool validDatabaseName(const std::string &name);

// The match strategies the server offers, in the order SHOW STRAT lists them:
// the reader library's, then kTextStrategy.
struct Strategy {
    const char *name;
    const char *description;
};
const std::vector<Strategy> &strategies();
// The strategy "." stands for.
constexpr const char *kDefaultStrategy = "lev";
// The strategy that searches the entries' text through the book's full-text
// index (ZAVReaderSearch) and answers the headwords of the best hits.
constexpr const char *kTextStrategy = "text";
// The most hits a text match asks for.
constexpr size_t kMostTextHits = 100;

struct Definition {
    std::string headword;
    std::string text;
};

// Results stop growing once their text passes a byte budget; `cut` tells.
// `exhausted`: the command's Budget ran out first, and the results are
// incomplete.
struct Definitions {
    std::vector<Definition> items;
    bool cut = false;
    bool exhausted = false;
};
struct Matches {
    std::vector<std::string> words;
    bool cut = false;
    bool exhausted = false;
};

// What the workers answer with: the catalog's shelf, which every worker
// shares.
class Shelf {
public:
    explicit Shelf(const Catalog &catalog) : catalog_(catalog) {}
    Shelf(const Shelf &) = delete;
    Shelf &operator=(const Shelf &) = delete;

    const Catalog &catalog() const { return catalog_; }
    // Every entry of the headword `word` (UTF-8) in database db, at most
    // `budget` bytes of text, within the time and cancel flag of `limits`.
    Definitions define(size_t db, const std::string &word, size_t budget, const Budget &limits);
    // Headwords of database db that match `word` under strategy `strategy`
    // (a name from strategies()), within `limits`. False with *error for a
    // pattern the strategy refuses. kTextStrategy: the headwords of the best
    // kMostTextHits hits of the full-text search, best first, each once; a
    // database whose book has no fresh index matches nothing, and the log
    // says why (once for all workers, until the reason changes).
    bool match(size_t db, const std::string &strategy, const std::string &word, size_t budget, const Budget &limits,
               Matches *out, std::string *error);

private:
    bool search(size_t db, const std::string &query, size_t budget, const Budget &limits, Matches *out,
                std::string *error);

    const Catalog &catalog_;
};

}  // namespace zavtool

#endif
