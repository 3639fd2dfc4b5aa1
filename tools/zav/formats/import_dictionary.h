// Imports as dictionary books: a kind-1 book whose one table names an engine
// dictionary, and that dictionary's file holding every key with its text.
#ifndef ZAV_TOOL_IMPORT_DICTIONARY_H
#define ZAV_TOOL_IMPORT_DICTIONARY_H

#include <cstdint>
#include <string>

#include "formats/import_book.h"
#include "zav/book_stream_writer.h"

namespace zavtool {

// The dictionary id an import uses when none is given: 0x0001XX01, whose
// form makes the table spell-capable, with XX from the book's name.
uint32_t defaultDictId(const std::string &name);

// Writes the dictionary file of target.dictId into target.dictDir and the
// kind-1 book to target.out, both whole or not at all. `keys` are sorted;
// each key's text is the book page that its table page leads to
// (`pageList`), read back from `pages`. `info`, when not empty, is the
// kind-1 book's one page. Prints what it wrote (unless target.quiet) and a
// note when the dictionary id offers no spell checking.
Status writeDictionaryBook(const std::string &command, const std::string &name, const zav::PackedKeys &keys,
                           const std::vector<uint32_t> &pageList, const zav::BookStreamWriter &pages,
                           const BookInfo &info, const ImportTarget &target);

}  // namespace zavtool

#endif
