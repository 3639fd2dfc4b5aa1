// Telling an empty page from one that cannot be read, and a quick health
// look at a whole book. The module answers 0 both for "empty" and for
// "cannot be read"; these helpers look at the file's own structures to tell
// the two apart, so that a cut or damaged book is reported, not shown as a
// book of empty pages.
#ifndef ZAV_TOOL_BOOK_HEALTH_H
#define ZAV_TOOL_BOOK_HEALTH_H

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "book_host.h"

namespace zavtool {

// Table page `index` of a table, or the reason it cannot be read. An empty
// page of a plain book is confirmed from the page list and page directory.
struct PageRead {
    std::optional<std::string> content;
    std::string error;
};
PageRead readTablePage(const HostBook &book, int32_t table, int64_t index);

// A dictionary book's table whose dictionary the engine cannot open shows no
// keys and no pages at all: false then, with the reason in *why. True for
// every other table.
bool dictionaryServed(const HostBook &book, int32_t table, std::string *why);

// What a quick look finds wrong with the book: keys, table pages and book
// pages sampled across each list (the first, the last and some between).
// Empty when nothing is found; `zav check` looks at everything.
std::vector<std::string> bookProblems(const HostBook &book);

}  // namespace zavtool

#endif
