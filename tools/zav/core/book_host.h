// The tool as a host of the module: opening a book through ZAVOpenBook and
// small helpers that turn the module's buffer-filling calls into strings.
#ifndef ZAV_TOOL_BOOK_HOST_H
#define ZAV_TOOL_BOOK_HOST_H

#include <cstdint>
#include <optional>
#include <string>

#include "TovixZAV_JC.h"
#include "core/result.h"

namespace zavtool {

// An open book; closed by the destructor.
class HostBook {
public:
    HostBook() = default;
    HostBook(const HostBook &) = delete;
    HostBook &operator=(const HostBook &) = delete;
    ~HostBook() { close(); }

    // Open the book; the failure names the file and says why the module
    // refuses it.
    Status open(const std::string &path);
    void close();
    BookHandle handle() const { return handle_; }
    operator BookHandle() const { return handle_; }

    // The kind recorded in the header (1, 2 or 4), read once at open; 0 when
    // unreadable or no book is open.
    uint32_t kind() const { return kind_; }
    bool isDictionary() const { return kind() == BOOK_KIND_DICTIONARY; }
    int32_t tableCount() const { return ZAVGetTableCount(handle_); }
    // Size of the file when it was opened: no page or text of a plain book
    // can be larger, so it bounds every buffer sized by what the book says.
    uint64_t fileSize() const { return fileSize_; }
    // The most a page or sub page may hold before the tool refuses to
    // allocate for it: the file size for plain books, a fixed limit for
    // content served by the engine or the memo library.
    uint64_t contentLimit() const;

private:
    BookHandle handle_ = nullptr;
    uint64_t fileSize_ = 0;
    uint32_t kind_ = 0;
};

// A localized text and the language the module chose for it.
struct Localized {
    int32_t language = 0;  // 0: no text
    std::string text;
};

Localized bookName(BookHandle book, int32_t language);
Localized tableName(BookHandle book, int32_t table, int32_t language);
Localized tableSimpleName(BookHandle book, int32_t table, int32_t language);
Localized itemText(BookHandle book, int32_t table, int32_t item, int32_t language);

// A key's text through ZAVGetKeyWord (one call for a short key; a long or
// empty one asks ZAVGetKeyWordLength first). *result gets what
// ZAVGetKeyWord returned (the attribute in plain books), *length the text's
// length. False when the length cannot be read (or is 0) or the text does not
// come whole; *text then holds what came.
bool readKeyWord(BookHandle book, int32_t table, uint32_t key, std::string *text, int32_t *result, int32_t *length);
// The same, giving whatever came.
std::string keyWord(BookHandle book, int32_t table, uint32_t key, int32_t *result = nullptr);

// A whole page: book page `page`, or table page `page` when table >= 0. It
// fails, with "book page N cannot be read" or "page N of table T cannot be
// read", when the page is out of range or damaged.
Result<std::string> readPage(const HostBook &book, int32_t table, int64_t page);

// Sub page `sub` of table page `index`; nullopt when it does not exist.
std::optional<std::string> readSubPage(const HostBook &book, int32_t table, int32_t sub, uint32_t index);

// Open BOOK for a command: it fails when the file cannot be read or is not a
// book the module opens. A dictionary book's engine is pointed at the book's
// folder (pointEngineAtBook).
Status openBook(const std::string &path, HostBook &book);

// Dictionary books: when ZOZIZID_DICT_DIR is not set and the book's own
// folder holds the dictionary file of one of its tables, point the engine at
// that folder, so that a book built with its dictionaries beside it works as
// it stands.
void pointEngineAtBook(const std::string &path, const HostBook &book);
// The same for a folder of books: when it holds dictionaries of the engine.
void pointEngineAtFolder(const std::string &folder);

// The --table option (default 0), tested against the book's table count;
// the failure says why it is not a table of the book.
class Args;
Result<int32_t> tableOption(const Args &args, const HostBook &book);

// "language 2" style label for a language code.
std::string languageLabel(int32_t language);

}  // namespace zavtool

#endif
