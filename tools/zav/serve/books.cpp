#include "serve/books.h"

#include <cstdio>
#include <filesystem>

#include <algorithm>

#include "core/book_host.h"
#include "formats/book_info.h"
#include "core/cli.h"

namespace zavtool {

namespace {

// SHOW INFO: the book's name, what it keeps about its dictionary (the
// description first), then the book's own facts and the database's table.
std::string describeBook(const std::string &path, const HostBook &book, const ZAVReaderDatabaseInfo &db,
                         const std::string &description) {
    std::string info = description + "\n";
    const BookInfo about = readBookInfo(book);
    if (!about.description.empty()) info += "\n" + escapeContent(about.description) + "\n";
    for (const std::string &field : bookInfoFields()) {
        if (field == "name" || field == "description" || about.field(field)->empty()) continue;
        info += "\n" + field + ": " + escapeText(*about.field(field));
    }
    info += "\n\nfile: " + path + "\nkind: " + std::to_string(book.kind());
    uint32_t serial = 0;
    if (ZAVBookSerial(book, &serial) == 0) info += "\nserial: " + std::to_string(serial);
    info += "\ntable " + std::to_string(db.table) + ": " + escapeText(db.table_name) + ", " +
            std::to_string(db.key_count) + " keys\n";
    return info;
}

}  // namespace

Catalog::Catalog() : shelf(ZAVReaderOpen()) {}

Catalog::~Catalog() {
    __atomic_store_n(&stop_, 1, __ATOMIC_RELAXED);
    if (preparing_.joinable()) preparing_.join();
    ZAVReaderClose(shelf);
}

void Catalog::prepareInBackground() {
    preparing_ = std::thread([this] {
        ZAVReaderLimits limits{};
        limits.size = sizeof limits;
        limits.cancel = &stop_;
        ZAVReaderPrepare(shelf, &limits);
    });
}

int Catalog::find(const std::string &name) const {
    for (size_t i = 0; i < databases.size(); ++i)
        if (databases[i].name == name) return static_cast<int>(i);
    return -1;
}

bool validDatabaseName(const std::string &name) {
    if (name.empty() || name == "*" || name == "!") return false;
    for (unsigned char c : name)
        if (c <= ' ' || c == '"' || c == '\'' || c == '\\' || c == 0x7F) return false;
    return true;
}

bool loadCatalog(const std::vector<BookToServe> &books, Catalog *catalog, std::string *error) {
    catalog->databases.clear();
    if (!catalog->shelf) {
        *error = "out of memory";
        return false;
    }
    for (const BookToServe &source : books) {
        size_t problems = ZAVReaderProblemCount(catalog->shelf);
        size_t before = ZAVReaderDatabaseCount(catalog->shelf);
        if (!source.name.empty() && !validDatabaseName(source.name)) {
            *error = source.path + ": '" + source.name +
                     "' cannot name a database (use a word without spaces or quotes, not * or !; see --name)";
            return false;
        }
        if (!source.name.empty() && ZAVReaderFind(catalog->shelf, source.name.c_str()) >= 0) {
            *error = source.path + ": a database is already called '" + source.name + "' (see --name)";
            return false;
        }
        std::error_code ec;
        bool folder = std::filesystem::is_directory(source.path, ec);
        // The dictionary engine finds its dictionaries through the
        // environment only: point it at the first folder served that holds
        // them, before any book of it opens.
        if (folder) {
            pointEngineAtFolder(source.path);
        } else {
            HostBook book;
            if (book.open(source.path)) pointEngineAtBook(source.path, book);
        }
        int32_t added = ZAVReaderAdd(catalog->shelf, source.path.c_str(), source.name.c_str());
        for (size_t p = problems; p < ZAVReaderProblemCount(catalog->shelf); ++p) {
            std::string why = ZAVReaderProblemReason(catalog->shelf, p);
            if (!folder) {
                *error = why;
                return false;
            }
            std::fprintf(stderr, "zav serve: %s; not served\n", why.c_str());
        }
        if (added <= 0 && folder) std::fprintf(stderr, "zav serve: %s: no book to serve in it\n", source.path.c_str());
        for (size_t i = before; i < ZAVReaderDatabaseCount(catalog->shelf); ++i) {
            ZAVReaderDatabaseInfo info;
            ZAVReaderDatabase(catalog->shelf, i, &info);
            Database db;
            db.name = info.name;
            db.path = info.path;
            if (!validDatabaseName(db.name)) {
                *error = db.path + ": '" + db.name + "' cannot name a database (see --name)";
                return false;
            }
            db.description = escapeText(info.book_name);
            HostBook book;
            if (book.open(db.path)) db.info = describeBook(db.path, book, info, db.description);
            catalog->databases.push_back(std::move(db));
        }
    }
    if (catalog->databases.empty()) {
        *error = "no book to serve";
        return false;
    }
    return true;
}

const std::vector<Strategy> &strategies() {
    static const std::vector<Strategy> kStrategies = [] {
        std::vector<Strategy> all;
        for (size_t i = 0; ZAVReaderStrategyName(i); ++i)
            all.push_back({ZAVReaderStrategyName(i), ZAVReaderStrategyDescription(i)});
        all.push_back({kTextStrategy, "search the entries' text (full-text index)"});
        return all;
    }();
    return kStrategies;
}

}  // namespace zavtool
