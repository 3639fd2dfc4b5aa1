// The book an import builds: one table whose keys are the headwords, each
// leading to the page that holds its definition. Importers list headwords
// with the place of their definition in the input; the definitions are
// fetched (and turned into UTF-8 text) one at a time while the book is
// written, so that no more than the headwords is held in memory.
#ifndef ZAV_TOOL_IMPORT_BOOK_H
#define ZAV_TOOL_IMPORT_BOOK_H

#include <cstdint>
#include <string>
#include <vector>

#include "core/result.h"
#include "formats/book_info.h"
#include "formats/import_text.h"

namespace zavtool {

// One headword and where its definition lies in the input.
struct ImportEntry {
    std::string word;     // UTF-8
    uint64_t line = 0;    // line (or entry) of the input it came from, for messages
    uint64_t offset = 0;  // the definition's place in the data the source reads
    uint64_t length = 0;
};

// The headwords of an import, packed: the words lie NUL-terminated in one
// arena, beside 24 bytes per entry.
class ImportEntries {
public:
    struct Packed {
        uint64_t offset, length;
        uint32_t word;  // position in the arena
        uint32_t line;  // saturates at 2^32 - 1
    };
    // False when the words reach 4 GiB.
    bool add(const ImportEntry &entry);
    size_t size() const { return entries_.size(); }
    const Packed &operator[](size_t i) const { return entries_[i]; }
    const char *word(size_t i) const { return arena_.data() + entries_[i].word; }
    // Hand the words over (word() is no longer usable; Packed::word stays
    // the position of each word in the arena handed over).
    std::string takeWords() { return std::move(arena_); }
    void clear();

private:
    std::string arena_;
    std::vector<Packed> entries_;
};

// Fetches definitions for the book as UTF-8 text.
class DefinitionSource {
public:
    virtual ~DefinitionSource() = default;
    // The definition at `offset` and `length` of the data; the failure says
    // why it cannot be used (the entry is then skipped).
    virtual Result<std::string> fetch(uint64_t offset, uint64_t length) = 0;
    // The file that `entry.line` counts lines (or entries) of.
    virtual const std::string &file() const = 0;
};

struct ImportedBook {
    std::string name;  // the book's and the table's name
    // What the dictionary says about itself, as it says it: kept on a page
    // of its own after the table's pages (formats/book_info.h) when not empty.
    BookInfo info;
    ImportEntries entries;
};

// Where an import writes and what it makes.
struct ImportTarget {
    std::string out;
    bool quiet = false;
    // A dictionary book (kind 1) whose words live in the engine's
    // dictionary file of dictId, written into dictDir.
    bool dictionaryBook = false;
    uint32_t dictId = 0;
    std::string dictDir;
};

// Lay the book out and write it to `out` atomically. Entries that share a
// definition (same place, or same text) share one book page. Each headword
// that has a key for its case fold gets a table page of its own (leading to
// that book page), whose page-to-key entry is the headword, so that the
// fold key leads back to it. Prints the summary (`log`) and what it wrote.
// An import stopped by --strict, or that keeps no entry, is Fault::Rejected.
Status buildImported(const std::string &command, ImportedBook &book, DefinitionSource &source, ImportLog &log,
                     const ImportTarget &target);

}  // namespace zavtool

#endif
