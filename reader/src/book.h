// A book on the shelf: its file, what was read of it when it was opened, and
// a pool of open handles, so that any number of threads can read it at once
// (the module lets one thread at a time use a handle).
#ifndef ZAV_READER_BOOK_H
#define ZAV_READER_BOOK_H

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "status.h"

namespace zavreader {

// One open handle of the module; closed by the destructor.
class Handle {
public:
    Handle() = default;
    ~Handle();
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;

    Status open(const std::string &path);
    BookHandle get() const { return handle_; }
    operator BookHandle() const { return handle_; }

private:
    BookHandle handle_ = nullptr;
};

// The file's identity and state: when it differs, the file changed.
struct FileSignature {
    uint64_t size = 0;
    int64_t modified = 0;  // nanoseconds
    uint64_t inode = 0;
    bool operator==(const FileSignature &o) const {
        return size == o.size && modified == o.modified && inode == o.inode;
    }
    bool operator!=(const FileSignature &o) const { return !(*this == o); }
};
std::optional<FileSignature> signatureOf(const std::string &path);

struct TableFacts {
    int32_t table = 0;
    int32_t language = 0;  // the table's locale: the code page of its text
    uint32_t keyCount = 0;
    std::string name;  // UTF-8
};

class Book;

// A handle lent by a book for one call; given back by the destructor.
class Lease {
public:
    Lease(Book *book, std::unique_ptr<Handle> handle) : book_(book), handle_(std::move(handle)) {}
    ~Lease();
    Lease(Lease &&) = default;
    Lease(const Lease &) = delete;
    Lease &operator=(const Lease &) = delete;
    BookHandle handle() const { return handle_ ? handle_->get() : nullptr; }
    explicit operator bool() const { return handle_ != nullptr; }

private:
    Book *book_;
    std::unique_ptr<Handle> handle_;
};

class Book {
public:
    // Open the book and read its facts; the reason names the file.
    static Status open(const std::string &path, std::shared_ptr<Book> *out);

    const std::string &path() const { return path_; }
    const FileSignature &signature() const { return signature_; }
    uint32_t kind() const { return kind_; }
    bool isDictionary() const { return kind_ == BOOK_KIND_DICTIONARY; }
    uint64_t fileSize() const { return signature_.size; }
    // The most a page may hold before the reader refuses to allocate for it:
    // the file's size for plain books, a fixed limit for content the engine
    // serves.
    uint64_t contentLimit() const;
    const std::string &name() const { return name_; }  // UTF-8, may be empty
    const std::vector<TableFacts> &tables() const { return tables_; }

    // A handle for one call: an idle one, or a new one. An empty lease when
    // the book can no longer be opened (its reason in *status).
    Lease lease(Status *status);

private:
    friend class Lease;
    void giveBack(std::unique_ptr<Handle> handle);

    std::string path_;
    FileSignature signature_;
    uint32_t kind_ = 0;
    std::string name_;
    std::vector<TableFacts> tables_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Handle>> idle_;
};

// A key's text through ZAVGetKeyWord (a long one asks ZAVGetKeyWordLength
// first). *result gets what ZAVGetKeyWord returned (the attribute in plain
// books). False when the text cannot be read whole.
bool readKeyWord(BookHandle book, int32_t table, uint32_t key, std::string *text, int32_t *result);

// A whole table page; nullopt when it cannot be read (out of range or
// damaged). `limit` bounds what is allocated for it.
std::optional<std::string> readTablePage(BookHandle book, int32_t table, int64_t page, uint64_t limit);
// Sub page `sub` of table page `index`; nullopt when it does not exist.
std::optional<std::string> readSubPage(BookHandle book, int32_t table, int32_t sub, uint32_t index);

}  // namespace zavreader

#endif
