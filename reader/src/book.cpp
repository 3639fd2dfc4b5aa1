#include "book.h"

#include <sys/stat.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "text.h"

namespace zavreader {

namespace {

// Idle handles a book keeps for the next calls.
constexpr size_t kIdleHandles = 8;
// Content served by the engine or the memo library is not bounded by the
// book's file size.
constexpr uint64_t kServedContentLimit = 64ull << 20;
// Name calls copy at most 255 bytes and a terminator.
constexpr uint32_t kNameBuffer = 257;
// A key read in one call when it is shorter than this.
constexpr int32_t kShortKeyBuffer = 256;
// A plain book stores at most 65535 bytes of key text.
constexpr int32_t kLongestKey = 65535;

// The module takes wide paths: the path's UTF-8 decoded, a byte that is not
// UTF-8 taken as the code point of its value.
std::wstring widen(const std::string &path) {
    std::wstring wide;
    for (char32_t c : codePoints(path)) wide += static_cast<wchar_t>(c);
    return wide;
}

std::string fetchName(int32_t (*call)(BookHandle, int32_t, int32_t, char *, uint32_t), BookHandle book, int32_t table,
                      int32_t *language) {
    char buffer[kNameBuffer] = {};
    *language = call(book, table, 0, buffer, kNameBuffer - 1);
    buffer[kNameBuffer - 1] = '\0';
    return *language != 0 ? std::string(buffer) : std::string();
}

int32_t tableNameCall(BookHandle b, int32_t t, int32_t l, char *buf, uint32_t n) {
    return ZAVGetTableName(b, t, l, buf, n);
}

}  // namespace

Handle::~Handle() {
    if (handle_) ZAVCloseBook(handle_);
}

Status Handle::open(const std::string &path) {
    std::wstring wide = widen(path);
    BookHandle h = nullptr;
    int32_t r = ZAVOpenBook(wide.c_str(), &h);
    if (r == ZAV_OPEN_OK && h) {
        handle_ = h;
        return Status::ok();
    }
    switch (r) {
        case ZAV_OPEN_BAD_FILE:
            return Status::fail(
                ZAVR_UNREADABLE,
                path + ": cannot open: the file is missing, unreadable, shorter than 512 bytes or not a book");
        case ZAV_OPEN_BAD_KIND:
            return Status::fail(
                ZAVR_UNREADABLE,
                path + ": not a book this module reads: its kind is not 1, 2 or 4 or its version is above 1");
        case ZAV_OPEN_NO_MEMORY: return Status::fail(ZAVR_NO_MEMORY, path + ": out of memory while opening the book");
        default: return Status::fail(ZAVR_UNREADABLE, path + ": cannot open (result " + std::to_string(r) + ")");
    }
}

std::optional<FileSignature> signatureOf(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    FileSignature s;
    s.size = static_cast<uint64_t>(st.st_size);
    s.modified = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.inode = static_cast<uint64_t>(st.st_ino);
    return s;
}

Lease::~Lease() {
    if (book_ && handle_) book_->giveBack(std::move(handle_));
}

Status Book::open(const std::string &path, std::shared_ptr<Book> *out) {
    auto signature = signatureOf(path);
    if (!signature) return Status::fail(ZAVR_UNREADABLE, path + ": cannot open: no such file or no access");
    auto handle = std::make_unique<Handle>();
    if (Status s = handle->open(path); !s) return s;
    auto book = std::make_shared<Book>();
    book->path_ = path;
    book->signature_ = *signature;
    uint32_t caps[4] = {0, 0, 0, 0};
    book->kind_ = ZAVGetCaps(*handle, caps) == 1 ? caps[0] : 0;
    char name[kNameBuffer] = {};
    int32_t language = ZAVGetBkName(*handle, 0, name, kNameBuffer - 1);
    name[kNameBuffer - 1] = '\0';
    if (language != 0) book->name_ = toUtf8(name, language);
    int32_t tables = ZAVGetTableCount(*handle);
    for (int32_t t = 0; t < tables; ++t) {
        TableFacts facts;
        facts.table = t;
        facts.language = ZAVGetTableLocal(*handle, t);
        int32_t count = ZAVGetKeyCount(*handle, t);
        facts.keyCount = count > 0 ? static_cast<uint32_t>(count) : 0;
        int32_t nameLanguage = 0;
        std::string tableName = fetchName(tableNameCall, *handle, t, &nameLanguage);
        facts.name = toUtf8(tableName, nameLanguage);
        book->tables_.push_back(std::move(facts));
    }
    book->idle_.push_back(std::move(handle));
    *out = std::move(book);
    return Status::ok();
}

uint64_t Book::contentLimit() const { return isDictionary() ? kServedContentLimit : fileSize(); }

Lease Book::lease(Status *status) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!idle_.empty()) {
            std::unique_ptr<Handle> h = std::move(idle_.back());
            idle_.pop_back();
            return Lease(this, std::move(h));
        }
    }
    auto handle = std::make_unique<Handle>();
    Status s = handle->open(path_);
    if (!s) {
        *status = s;
        return Lease(this, nullptr);
    }
    return Lease(this, std::move(handle));
}

void Book::giveBack(std::unique_ptr<Handle> handle) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (idle_.size() < kIdleHandles) idle_.push_back(std::move(handle));
}

bool readKeyWord(BookHandle book, int32_t table, uint32_t key, std::string *text, int32_t *result) {
    char buffer[kShortKeyBuffer] = {};
    *result = ZAVGetKeyWord(book, table, key, buffer, kShortKeyBuffer);
    buffer[kShortKeyBuffer - 1] = '\0';
    *text = buffer;
    if (!text->empty() && text->size() < static_cast<size_t>(kShortKeyBuffer - 1)) return true;
    int32_t length = ZAVGetKeyWordLength(book, table, key);
    if (length <= 0 || length > kLongestKey) return false;
    if (static_cast<size_t>(length) == text->size()) return true;
    std::vector<char> whole(static_cast<size_t>(length) + 1, '\0');
    *result = ZAVGetKeyWord(book, table, key, whole.data(), length + 1);
    whole.back() = '\0';
    *text = whole.data();
    return text->size() == static_cast<size_t>(length);
}

std::optional<std::string> readTablePage(BookHandle book, int32_t table, int64_t page, uint64_t limit) {
    if (page < 0 || page > 0xFFFFFFFFll) return std::nullopt;
    uint32_t index = static_cast<uint32_t>(page);
    if (index >= static_cast<uint32_t>(ZAVGetTablePageCount(book, table))) return std::nullopt;
    int32_t size = ZAVGetTablePageSize(book, table, index);
    if (size < 0 || static_cast<uint64_t>(size) > limit) return std::nullopt;
    if (size == 0) return std::string();
    std::string data(static_cast<size_t>(size), '\0');
    int32_t got = ZAVGetTablePage(book, table, index, data.data(), static_cast<uint32_t>(size));
    if (got <= 0) return std::nullopt;
    data.resize(std::min(static_cast<size_t>(got), data.size()));
    return data;
}

std::optional<std::string> readSubPage(BookHandle book, int32_t table, int32_t sub, uint32_t index) {
    if (ZAVIsExistSubPage(book, table, sub, index) == 0) return std::nullopt;
    int32_t size = ZAVGetSubPageSize(book, table, sub, index);
    if (size <= 0) return std::string();
    if (static_cast<uint64_t>(size) > kServedContentLimit) return std::nullopt;
    std::string data(static_cast<size_t>(size), '\0');
    int32_t got = ZAVGetSubPage(book, table, sub, index, data.data(), static_cast<uint32_t>(size));
    if (got <= 0) return std::nullopt;
    data.resize(std::min(static_cast<size_t>(got), data.size()));
    return data;
}

}  // namespace zavreader
