// Telling an empty page from one that cannot be read, and a quick health
// look at a whole book. The module answers 0 both for "empty" and for
// "cannot be read"; these helpers look at the file's own structures to tell
// the two apart, so that a cut or damaged book is reported, not shown as a
// book of empty pages.
#ifndef ZAV_TOOL_BOOK_HEALTH_H
#define ZAV_TOOL_BOOK_HEALTH_H

#include <cstdint>
#include <string>
#include <vector>

#include "core/book_host.h"

namespace zavtool {

// Table page `index` of a table, or the reason it cannot be read. An empty
// page of a plain book is confirmed from the page list and page directory.
Result<std::string> readTablePage(const HostBook &book, int32_t table, int64_t index);

// A dictionary book's table whose dictionary the engine cannot open shows no
// keys and no pages at all: that fails, saying so. Every other table passes.
Status dictionaryServed(const HostBook &book, int32_t table);

// What a quick look finds wrong with the book: keys, table pages and book
// pages sampled across each list (the first, the last and some between).
// Empty when nothing is found; `zav check` looks at everything.
std::vector<std::string> bookProblems(const HostBook &book);

}  // namespace zavtool

#endif
