#include "serve_books.h"

#include <iconv.h>

#include <algorithm>

#include "book_host.h"
#include "book_info.h"
#include "cli.h"
#include "entries.h"
#include "key_reader.h"

namespace zavtool {

namespace {

// iconv_open names of the code pages of languages 2 to 5.
const char *const kCodeSets[] = {"CP936", "CP950", "CP932", "CP949"};
constexpr int32_t kFirstCodePageLanguage = 2, kLastCodePageLanguage = 5;

bool convert(const std::string &text, const char *to, const char *from, std::string *out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buffer(text.size() * 4 + 4, '\0');
    char *in = const_cast<char *>(text.data());
    size_t inLeft = text.size();
    char *dest = buffer.data();
    size_t outLeft = buffer.size();
    size_t rc = iconv(cd, &in, &inLeft, &dest, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) return false;
    buffer.resize(buffer.size() - outLeft);
    *out = std::move(buffer);
    return true;
}

bool isCodePageLanguage(int32_t language) {
    return language >= kFirstCodePageLanguage && language <= kLastCodePageLanguage;
}

// Length of the UTF-8 sequence at text[i], 0 when it is not a valid one.
size_t utf8Length(const std::string &text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char c = byte(i);
    size_t n = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    if (n == 0 || i + n > text.size()) return 0;
    for (size_t k = 1; k < n; ++k)
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
    if (n == 2 && c < 0xC2) return 0;  // overlong
    if (n == 4 && c > 0xF4) return 0;
    return n;
}

bool validUtf8(const std::string &text) {
    for (size_t i = 0; i < text.size();) {
        size_t n = utf8Length(text, i);
        if (n == 0) return false;
        i += n;
    }
    return true;
}

// SHOW INFO: the book's name, what it keeps about its dictionary (the
// description first), then the book's own facts.
std::string describeBook(const BookToServe &source, const HostBook &book, const Database &db) {
    std::string info = db.description + "\n";
    const BookInfo about = readBookInfo(book);
    if (!about.description.empty()) info += "\n" + escapeContent(about.description) + "\n";
    for (const std::string &field : bookInfoFields()) {
        if (field == "name" || field == "description" || about.field(field)->empty()) continue;
        info += "\n" + field + ": " + escapeText(*about.field(field));
    }
    info += "\n\nfile: " + source.path + "\nkind: " + std::to_string(book.kind());
    uint32_t serial = 0;
    if (ZAVBookSerial(book, &serial) == 0) info += "\nserial: " + std::to_string(serial);
    info += "\ntables: " + std::to_string(book.tableCount()) + "\n";
    for (int32_t t = 0; t < book.tableCount(); ++t) {
        Localized name = tableName(book, t, 0);
        info += "  table " + std::to_string(t) + ": " + textToUtf8(escapeText(name.text), name.language) + ", " +
                std::to_string(static_cast<uint32_t>(ZAVGetKeyCount(book, t))) + " keys\n";
    }
    return info;
}

// The headwords of one table, in key order.
TableWords readTableWords(const HostBook &book, int32_t table) {
    TableWords words;
    words.table = table;
    words.language = ZAVGetTableLocal(book, table);
    uint64_t count = static_cast<uint32_t>(ZAVGetKeyCount(book, table));
    // A plain book's key takes at least 16 bytes of the file.
    if (!book.isDictionary()) count = std::min<uint64_t>(count, book.fileSize() / 16);
    count = std::min<uint64_t>(count, kMaxCatalogKeys);
    for (uint64_t k = 0; k < count; ++k) {
        int32_t attribute = 0;
        std::string key = keyWord(book, table, static_cast<uint32_t>(k), &attribute);
        // Keys added for a headword's case fold lead to the headword's own entry.
        if (isFoldKey(book, table, static_cast<uint32_t>(k), key, attribute)) continue;
        std::string head = textToUtf8(headwordOf(key), words.language);
        if (head.empty() || (!words.headwords.empty() && words.headwords.back() == head)) continue;
        words.folded.push_back(foldCase(head));
        words.headwords.push_back(std::move(head));
    }
    return words;
}

bool loadDatabase(const BookToServe &source, Database *db, std::string *error) {
    HostBook book;
    if (book.open(source.path, error) != 0) return false;
    pointEngineAtBook(source.path, book);
    db->name = source.name;
    db->path = source.path;
    Localized name = bookName(book, 0);
    db->description = textToUtf8(escapeText(name.text), name.language);
    if (db->description.empty()) db->description = source.name;
    for (int32_t t = 0; t < book.tableCount(); ++t) {
        if (ZAVGetKeyCount(book, t) == 0) continue;
        db->tables.push_back(readTableWords(book, t));
    }
    db->info = describeBook(source, book, *db);
    return true;
}

}  // namespace

std::string textToUtf8(const std::string &text, int32_t language) {
    std::string out;
    if (isCodePageLanguage(language) && convert(text, "UTF-8", kCodeSets[language - kFirstCodePageLanguage], &out))
        return out;
    if (validUtf8(text)) return text;
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::vector<std::string> wordForms(const std::string &word, int32_t language) {
    std::string other;
    if (isCodePageLanguage(language)) {
        if (!convert(word, kCodeSets[language - kFirstCodePageLanguage], "UTF-8", &other) || other.empty()) return {};
        return {other};
    }
    // Latin-1 letters are not folded by the key collation: try the word's
    // fold too.
    std::vector<std::string> forms = {word};
    for (const std::string &w : {word, foldCase(word)}) {
        if (convert(w, "ISO-8859-1", "UTF-8", &other) && !validUtf8(other) &&
            std::find(forms.begin(), forms.end(), other) == forms.end())
            forms.push_back(other);
    }
    return forms;
}

std::string headwordOf(const std::string &key) {
    size_t end = key.size();
    for (size_t i = 0; i < key.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(key[i]);
        if (c >= 0x80) {
            ++i;  // a double-byte character: its trail byte never starts a suffix
        } else if (c == '@') {
            end = i;
            break;
        }
    }
    size_t begin = key.find_first_not_of(' ');
    if (begin == std::string::npos || begin >= end) return "";
    while (end > begin && key[end - 1] == ' ') --end;
    return key.substr(begin, end - begin);
}

int Catalog::find(const std::string &name) const {
    for (size_t i = 0; i < databases.size(); ++i)
        if (databases[i].name == name) return static_cast<int>(i);
    return -1;
}

std::string databaseNameOf(const std::string &path) {
    std::string base = baseNameOf(path);
    size_t dot = base.rfind('.');
    if (dot != std::string::npos && dot > 0) base.resize(dot);
    return base;
}

bool validDatabaseName(const std::string &name) {
    if (name.empty() || name == "*" || name == "!") return false;
    for (unsigned char c : name)
        if (c <= ' ' || c == '"' || c == '\'' || c == '\\' || c == 0x7F) return false;
    return true;
}

bool loadCatalog(const std::vector<BookToServe> &books, Catalog *catalog, std::string *error) {
    catalog->databases.clear();
    for (const BookToServe &source : books) {
        if (!validDatabaseName(source.name)) {
            *error = source.path + ": '" + source.name +
                     "' cannot name a database (use a word without spaces or quotes, not * or !; see --name)";
            return false;
        }
        if (catalog->find(source.name) >= 0) {
            *error = source.path + ": a database is already called '" + source.name + "' (see --name)";
            return false;
        }
        Database db;
        if (!loadDatabase(source, &db, error)) return false;
        catalog->databases.push_back(std::move(db));
    }
    return true;
}

const std::vector<Strategy> &strategies() {
    static const std::vector<Strategy> kStrategies = {
        {"exact", "Match headwords exactly (letter case ignored)"},
        {"prefix", "Match the beginnings of headwords"},
        {"lev", "Match headwords within one edit (insert, delete, change or swap two neighbouring characters)"},
        {"suffix", "Match the ends of headwords"},
        {"re", "POSIX extended regular expression over headwords (letter case ignored)"},
    };
    return kStrategies;
}

}  // namespace zavtool
