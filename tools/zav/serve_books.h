// The books of `zav serve` as dictionary databases: what the server knows of
// each book (loaded once, shared read-only by every worker) and the per-worker
// set of open handles that answers definitions and matches through the
// module's exported calls. All text handed out is UTF-8.
#ifndef ZAV_TOOL_SERVE_BOOKS_H
#define ZAV_TOOL_SERVE_BOOKS_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace zavtool {

// A book to serve: its file and the database name it is served under.
struct BookToServe {
    std::string path;
    std::string name;
};

// One table of a book that has keys: its headwords in key order (without
// homograph numbers, neighbours that repeat dropped), in UTF-8 and folded.
struct TableWords {
    int32_t table = 0;
    int32_t language = 0;  // the table's locale: the code page of its text
    std::vector<std::string> headwords;
    std::vector<std::string> folded;
};

struct Database {
    std::string name;
    std::string path;
    std::string description;  // the book's name
    std::string info;         // text of SHOW INFO
    std::vector<TableWords> tables;
};

// Everything the server knows of its books. Built before any worker starts
// and never changed afterwards.
struct Catalog {
    std::vector<Database> databases;
    // Index of the database called `name`, or -1.
    int find(const std::string &name) const;
};

// The most keys read from one table when the catalog is built.
constexpr size_t kMaxCatalogKeys = 8u << 20;

// Open every book once and build the catalog. False with *error naming the
// book and the reason when a book cannot be served.
bool loadCatalog(const std::vector<BookToServe> &books, Catalog *catalog, std::string *error);

// The database name a book gets from its file: the file name without its
// extension.
std::string databaseNameOf(const std::string &path);
// Whether `name` can name a database: a non-empty atom that is not * or !.
bool validDatabaseName(const std::string &name);

// The match strategies the server offers, in the order SHOW STRAT lists them.
struct Strategy {
    const char *name;
    const char *description;
};
const std::vector<Strategy> &strategies();
// The strategy "." stands for.
constexpr const char *kDefaultStrategy = "lev";

struct Definition {
    std::string headword;
    std::string text;
};

// Results stop growing once their text passes a byte budget; `cut` tells.
struct Definitions {
    std::vector<Definition> items;
    bool cut = false;
};
struct Matches {
    std::vector<std::string> words;
    bool cut = false;
};

// A worker's own open handles on every book of a catalog: calls on one book
// handle must not overlap, so each worker holds a Shelf of its own and no
// handle is shared between threads.
class Shelf {
public:
    explicit Shelf(const Catalog &catalog);
    ~Shelf();
    Shelf(const Shelf &) = delete;
    Shelf &operator=(const Shelf &) = delete;

    const Catalog &catalog() const { return catalog_; }
    // Every entry of the headword `word` (UTF-8) in each table of database db,
    // at most `budget` bytes of text.
    Definitions define(size_t db, const std::string &word, size_t budget);
    // Headwords of database db that match `word` under strategy `strategy`
    // (a name from strategies()). False with *error for a pattern the
    // strategy refuses.
    bool match(size_t db, const std::string &strategy, const std::string &word, size_t budget, Matches *out,
               std::string *error);

private:
    struct Impl;
    const Catalog &catalog_;
    std::unique_ptr<Impl> impl_;
};

// The headword a key stands for: the key without leading and trailing
// spaces and without its "@n" homograph number.
std::string headwordOf(const std::string &key);
// Book text of a table in `language` as UTF-8: code pages 936, 950, 932 and
// 949 are converted, valid UTF-8 passes, other bytes are taken as Latin-1.
std::string textToUtf8(const std::string &text, int32_t language);
// The forms a UTF-8 word may take in the text of a table in `language`:
// its form in code page 936, 950, 932 or 949 (none when it has none there);
// for other tables the word itself and, when they differ, the Latin-1 forms
// of the word and of its case fold (the other text textToUtf8 reads).
std::vector<std::string> wordForms(const std::string &word, int32_t language);

}  // namespace zavtool

#endif
