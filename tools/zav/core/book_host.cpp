#include "core/book_host.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <vector>

#include "ZoZizID_writer.h"
#include "core/cli.h"

namespace zavtool {

Status HostBook::open(const std::string &path) {
    close();
    std::wstring wide = widenPath(path);
    BookHandle h = nullptr;
    int32_t r = ZAVOpenBook(wide.c_str(), &h);
    if (r == ZAV_OPEN_OK && h) {
        handle_ = h;
        struct stat st;
        fileSize_ = ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
        uint32_t caps[4] = {0, 0, 0, 0};
        kind_ = ZAVGetCaps(handle_, caps) == 1 ? caps[0] : 0;
        return Status();
    }
    switch (r) {
        case ZAV_OPEN_BAD_FILE:
            return Failure{path +
                           ": cannot open: the file is missing, unreadable, shorter than 512 bytes or not a book"};
        case ZAV_OPEN_BAD_KIND:
            return Failure{path +
                           ": not a book this module reads: its kind is not 1, 2 or 4 or its version is above 1"};
        case ZAV_OPEN_NO_MEMORY: return Failure{path + ": out of memory while opening the book"};
        default: return Failure{path + ": cannot open (result " + std::to_string(r) + ")"};
    }
}

void HostBook::close() {
    if (handle_) ZAVCloseBook(handle_);
    handle_ = nullptr;
    kind_ = 0;
}

uint64_t HostBook::contentLimit() const {
    constexpr uint64_t kServedContentLimit = 64ull << 20;
    return isDictionary() ? kServedContentLimit : fileSize_;
}

namespace {

// Name calls copy at most 255 bytes and a terminator.
constexpr uint32_t kNameBuffer = 257;

template <typename Call>
Localized fetchName(Call call) {
    char buffer[kNameBuffer] = {};
    Localized out;
    out.language = call(buffer, kNameBuffer - 1);
    buffer[kNameBuffer - 1] = '\0';
    if (out.language != 0) out.text = buffer;
    return out;
}

}  // namespace

Localized bookName(BookHandle book, int32_t language) {
    return fetchName([&](char *b, uint32_t n) { return ZAVGetBkName(book, language, b, n); });
}

Localized tableName(BookHandle book, int32_t table, int32_t language) {
    return fetchName([&](char *b, uint32_t n) { return ZAVGetTableName(book, table, language, b, n); });
}

Localized tableSimpleName(BookHandle book, int32_t table, int32_t language) {
    return fetchName([&](char *b, uint32_t n) { return ZAVGetTableSimpleName(book, table, language, b, n); });
}

Localized itemText(BookHandle book, int32_t table, int32_t item, int32_t language) {
    return fetchName([&](char *b, uint32_t n) { return EBDVPGetItemText(book, table, item, language, b, n); });
}

namespace {
// Most keys are short: one ZAVGetKeyWord call into a buffer of this size
// reads them; longer ones (and empty answers) ask for the length first.
constexpr int32_t kShortKeyBuffer = 256;
// A plain book stores at most 65535 bytes of key text.
constexpr int32_t kLongestKey = 65535;
}  // namespace

bool readKeyWord(BookHandle book, int32_t table, uint32_t key, std::string *text, int32_t *result, int32_t *length) {
    char buffer[kShortKeyBuffer] = {};
    *result = ZAVGetKeyWord(book, table, key, buffer, kShortKeyBuffer);
    buffer[kShortKeyBuffer - 1] = '\0';
    *text = buffer;
    *length = static_cast<int32_t>(text->size());
    if (!text->empty() && text->size() < static_cast<size_t>(kShortKeyBuffer - 1)) return true;
    *length = ZAVGetKeyWordLength(book, table, key);
    if (*length <= 0 || *length > kLongestKey) return false;
    if (static_cast<size_t>(*length) == text->size()) return true;
    std::vector<char> whole(static_cast<size_t>(*length) + 1, '\0');
    *result = ZAVGetKeyWord(book, table, key, whole.data(), *length + 1);
    whole.back() = '\0';
    *text = whole.data();
    return text->size() == static_cast<size_t>(*length);
}

std::string keyWord(BookHandle book, int32_t table, uint32_t key, int32_t *result) {
    std::string text;
    int32_t got = 0, length = 0;
    readKeyWord(book, table, key, &text, &got, &length);
    if (result) *result = got;
    return text;
}

Result<std::string> readPage(const HostBook &book, int32_t table, int64_t page) {
    if (table >= 0) {
        const Failure unreadable{"page " + std::to_string(page) + " of table " + std::to_string(table) +
                                 " cannot be read"};
        if (page < 0 || page > 0xFFFFFFFFll) return unreadable;
        uint32_t index = static_cast<uint32_t>(page);
        if (index >= static_cast<uint32_t>(ZAVGetTablePageCount(book, table))) return unreadable;
        int32_t size = ZAVGetTablePageSize(book, table, index);
        if (size < 0 || static_cast<uint64_t>(size) > book.contentLimit()) return unreadable;
        if (size == 0) return std::string();
        std::string data(static_cast<size_t>(size), '\0');
        int32_t got = ZAVGetTablePage(book, table, index, data.data(), static_cast<uint32_t>(size));
        if (got <= 0) return unreadable;
        data.resize(static_cast<size_t>(got) < data.size() ? static_cast<size_t>(got) : data.size());
        return data;
    }
    const Failure unreadable{"book page " + std::to_string(page) + " cannot be read"};
    if (page < 0 || page >= ZAVGetPageCount(book)) return unreadable;
    int32_t p = static_cast<int32_t>(page);
    int32_t size = ZAVGetPageSize(book, p);
    if (size < 0 || static_cast<uint64_t>(size) > book.fileSize()) return unreadable;
    if (size == 0) return std::string();
    std::string data(static_cast<size_t>(size), '\0');
    int32_t got = ZAVGetPage(book, p, data.data(), static_cast<uint32_t>(size));
    if (got != size) return unreadable;
    return data;
}

std::optional<std::string> readSubPage(const HostBook &book, int32_t table, int32_t sub, uint32_t index) {
    constexpr uint64_t kSubPageLimit = 64ull << 20;
    if (ZAVIsExistSubPage(book, table, sub, index) == 0) return std::nullopt;
    int32_t size = ZAVGetSubPageSize(book, table, sub, index);
    if (size <= 0) return std::string();
    if (static_cast<uint64_t>(size) > kSubPageLimit) return std::nullopt;
    std::string data(static_cast<size_t>(size), '\0');
    int32_t got = ZAVGetSubPage(book, table, sub, index, data.data(), static_cast<uint32_t>(size));
    if (got <= 0) return std::nullopt;
    if (static_cast<size_t>(got) < data.size()) data.resize(static_cast<size_t>(got));
    return data;
}

void pointEngineAtBook(const std::string &path, const HostBook &book) {
    const char *set = std::getenv("ZOZIZID_DICT_DIR");
    if ((set && *set) || !book.isDictionary()) return;
    std::string folder = directoryOf(path);
    for (int32_t t = 0; t < book.tableCount(); ++t) {
        uint32_t dictId = static_cast<uint32_t>(ZAVGetDictClass(book, t));
        struct stat st;
        if (::stat(zozizid::dictionaryPath(folder, dictId).c_str(), &st) == 0) {
            ::setenv("ZOZIZID_DICT_DIR", folder.c_str(), 1);
            return;
        }
    }
}

void pointEngineAtFolder(const std::string &folder) {
    const char *set = std::getenv("ZOZIZID_DICT_DIR");
    if (set && *set) return;
    std::error_code ec;
    for (auto it = std::filesystem::directory_iterator(folder, ec); !ec && it != std::filesystem::directory_iterator();
         it.increment(ec)) {
        if (it->path().extension() == ".zzd") {
            ::setenv("ZOZIZID_DICT_DIR", folder.c_str(), 1);
            return;
        }
    }
}

Status openBook(const std::string &path, HostBook &book) {
    FILE *probe = std::fopen(path.c_str(), "rb");
    if (!probe) return Failure{path + ": cannot open: " + std::strerror(errno)};
    std::fclose(probe);
    if (Status opened = book.open(path); !opened) return opened;
    pointEngineAtBook(path, book);
    return Status();
}

Result<int32_t> tableOption(const Args &args, const HostBook &book) {
    int32_t count = book.tableCount();
    auto text = args.value("table");
    int64_t table = 0;
    if (text) {
        auto v = parseInteger(*text);
        if (!v) return Failure{"--table must be a table number, not '" + *text + "'"};
        table = *v;
    }
    if (count <= 0) return Failure{"the book has no tables"};
    if (table < 0 || table >= count)
        return Failure{"table " + std::to_string(table) + " does not exist: the book has " + std::to_string(count) +
                       (count == 1 ? " table (0)" : " tables (0 to " + std::to_string(count - 1) + ")")};
    return static_cast<int32_t>(table);
}

std::string languageLabel(int32_t language) {
    switch (language) {
        case 1: return "1 (base)";
        case 2: return "2 (cp936)";
        case 3: return "3 (cp950)";
        case 4: return "4 (cp932)";
        case 5: return "5 (cp949)";
        default: return std::to_string(language);
    }
}

}  // namespace zavtool
