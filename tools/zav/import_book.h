// The book an import builds: one table whose keys are the headwords, each
// leading to the page that holds its definition. Importers list headwords
// with the place of their definition in the input; the definitions are
// fetched (and turned into UTF-8 text) only when the book is laid out.
#ifndef ZAV_TOOL_IMPORT_BOOK_H
#define ZAV_TOOL_IMPORT_BOOK_H

#include <cstdint>
#include <string>
#include <vector>

#include "import_text.h"

namespace zavtool {

// One headword and where its definition lies in the input.
struct ImportEntry {
    std::string word;     // UTF-8
    uint64_t line = 0;    // line (or entry) of the input it came from, for messages
    uint64_t offset = 0;  // the definition's place in the data the source reads
    uint64_t length = 0;
};

// Fetches definitions for the book as UTF-8 text.
class DefinitionSource {
public:
    virtual ~DefinitionSource() = default;
    // The definition of `entry`; false with *reason when it cannot be used
    // (the entry is then skipped).
    virtual bool fetch(const ImportEntry &entry, std::string *text, std::string *reason) = 0;
    // The file that `entry.line` counts lines (or entries) of.
    virtual const std::string &file() const = 0;
};

struct ImportedBook {
    std::string name;         // the book's and the table's name
    std::string description;  // kept as the book's last page, outside the table; may be empty
    std::vector<ImportEntry> entries;
};

// Lay the book out and write it to `out` atomically. Entries that share a
// definition (same place, or same text) share one page. Returns an exit
// code; prints the kept/skipped summary.
int buildImported(const std::string &command, ImportedBook book, DefinitionSource &source, ImportLog &log,
                  const std::string &out, bool quiet);

}  // namespace zavtool

#endif
