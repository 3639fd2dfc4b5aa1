// What a dictionary says about itself beside its entries: its name, a
// description, its author, contact, website and date. An import keeps them in
// the book, on a page of their own after the table's pages (the book's last
// page, which no key leads to); every export writes them back in its format,
// and `zav info`, the server and the Python package show them.
//
// The page is UTF-8 text: a first line "zav-book-info<TAB>1", then one
// FIELD<TAB>VALUE line per field that the dictionary gave, in the order of
// kFields, values escaped as in a word list (\n, \t, \r, \\). Books made
// before the page existed kept only a description, as the raw text of one
// page after the table's pages; that is still read.
#ifndef ZAV_TOOL_BOOK_INFO_H
#define ZAV_TOOL_BOOK_INFO_H

#include <optional>
#include <string>
#include <vector>

#include "core/book_host.h"

namespace zavtool {

struct BookInfo {
    std::string name;         // the dictionary's own name (the book's name may be cut to 255 bytes)
    std::string description;  // free text, may run over several lines
    std::string author, email, website, date;

    bool empty() const;
    // The field of that name (bookInfoFields()); nullptr for another name.
    std::string *field(const std::string &which);
    const std::string *field(const std::string &which) const;
};

// The field names, in the order the page and the exports list them.
const std::vector<std::string> &bookInfoFields();

// The text of the page that keeps `info` (which must not be empty).
std::string bookInfoPage(const BookInfo &info);
// `page` read back; nullopt when it is not such a page.
std::optional<BookInfo> parseBookInfoPage(const std::string &page);

// What `book` keeps about its dictionary: its information page, or for a
// book made before that page its description page; empty fields when it
// keeps nothing.
BookInfo readBookInfo(const HostBook &book);

// dictd's entries about the dictionary ("00-database-short",
// "00databaseinfo", ... in every spelling: hyphens and letter case do not
// matter). isDatabaseEntry tells such a headword; databaseField gives the
// BookInfo field it fills ("short" is the name, "info" the description,
// "url" the website; "author", "email" and "date" as named), or "" for the
// others (dictd's own markers such as utf8 or allchars, which a book has no
// use for).
bool isDatabaseEntry(const std::string &headword);
std::string databaseField(const std::string &headword);
// The value of such an entry: the text without a first line that names the
// entry (in any spelling; dictfmt writes it), the indentation the lines
// share removed, trimmed.
std::string databaseValue(const std::string &text);
// The headword an export writes for a field ("00-database-short", ...).
std::string databaseHeadword(const std::string &field);

// The text up to its first line break: a name for the book.
std::string firstLine(const std::string &text);

// A value as imports keep it: line ends as LF, surrounding white space
// trimmed, so that it reads back the same from every format.
std::string trimmedValue(const std::string &text);

}  // namespace zavtool

#endif
