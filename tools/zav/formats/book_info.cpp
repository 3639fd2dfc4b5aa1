#include "formats/book_info.h"

#include <cctype>

#include "core/cli.h"
#include "formats/import_text.h"

namespace zavtool {

namespace {

const char kPageMark[] = "zav-book-info\t1\n";
constexpr size_t kPageMarkLength = sizeof kPageMark - 1;
const char kDatabasePrefix[] = "00database";

// The headword without hyphens, in lower case.
std::string squeezed(const std::string &headword) {
    std::string out;
    for (char c : headword)
        if (c != '-') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// dictd's field names and the BookInfo fields they fill.
struct DatabaseName {
    const char *dictd;
    const char *field;
};
constexpr DatabaseName kDatabaseNames[] = {{"short", "name"},  {"info", "description"}, {"author", "author"},
                                           {"email", "email"}, {"url", "website"},      {"date", "date"}};

}  // namespace

const std::vector<std::string> &bookInfoFields() {
    static const std::vector<std::string> kFields = {"name", "description", "author", "email", "website", "date"};
    return kFields;
}

std::string *BookInfo::field(const std::string &which) {
    return const_cast<std::string *>(static_cast<const BookInfo *>(this)->field(which));
}

const std::string *BookInfo::field(const std::string &which) const {
    if (which == "name") return &name;
    if (which == "description") return &description;
    if (which == "author") return &author;
    if (which == "email") return &email;
    if (which == "website") return &website;
    if (which == "date") return &date;
    return nullptr;
}

bool BookInfo::empty() const {
    for (const std::string &f : bookInfoFields())
        if (!field(f)->empty()) return false;
    return true;
}

std::string bookInfoPage(const BookInfo &info) {
    std::string page = kPageMark;
    for (const std::string &f : bookInfoFields()) {
        const std::string &value = *info.field(f);
        if (!value.empty()) page += f + '\t' + escapeField(value) + '\n';
    }
    return page;
}

std::optional<BookInfo> parseBookInfoPage(const std::string &page) {
    if (page.compare(0, kPageMarkLength, kPageMark) != 0) return std::nullopt;
    BookInfo info;
    for (size_t at = kPageMarkLength; at < page.size();) {
        size_t end = page.find('\n', at);
        if (end == std::string::npos) end = page.size();
        std::string line = page.substr(at, end - at);
        at = end + 1;
        size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        if (std::string *value = info.field(line.substr(0, tab))) *value = unescapeField(line.substr(tab + 1));
    }
    return info;
}

BookInfo readBookInfo(const HostBook &book) {
    BookInfo info;
    const int32_t pages = ZAVGetPageCount(book);
    if (pages > 0) {
        // The mark is read first, so that a book whose last page is a long
        // page of a table is not read whole for nothing.
        char mark[kPageMarkLength] = {};
        bool marked = ZAVGetPage(book, pages - 1, mark, sizeof mark) == static_cast<int32_t>(sizeof mark) &&
                      std::string(mark, sizeof mark) == kPageMark;
        if (marked) {
            if (auto parsed = parseBookInfoPage(readPage(book, -1, pages - 1).value_or(""))) info = *parsed;
        } else if (!book.isDictionary() && book.tableCount() == 1 && pages == ZAVGetTablePageCount(book, 0) + 1) {
            info.description = readPage(book, -1, pages - 1).value_or("");  // a book made before the page
        }
    }
    return info;
}

bool isDatabaseEntry(const std::string &headword) { return squeezed(headword).rfind(kDatabasePrefix, 0) == 0; }

std::string databaseField(const std::string &headword) {
    std::string name = squeezed(headword);
    if (name.rfind(kDatabasePrefix, 0) != 0) return std::string();
    name.erase(0, sizeof kDatabasePrefix - 1);
    for (const DatabaseName &d : kDatabaseNames)
        if (name == d.dictd) return d.field;
    return std::string();
}

std::string databaseHeadword(const std::string &field) {
    for (const DatabaseName &d : kDatabaseNames)
        if (field == d.field) return std::string("00-database-") + d.dictd;
    return std::string();
}

std::string firstLine(const std::string &text) { return text.substr(0, text.find('\n')); }

std::string trimmedValue(const std::string &text) {
    std::string lf;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] != '\r' || (i + 1 < text.size() && text[i + 1] != '\n')) lf += text[i];
    size_t begin = lf.find_first_not_of(" \t\n"), end = lf.find_last_not_of(" \t\n");
    return begin == std::string::npos ? std::string() : lf.substr(begin, end - begin + 1);
}

std::string databaseValue(const std::string &text) {
    std::vector<std::string> lines;
    for (size_t at = 0; at <= text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.push_back(text.substr(at, end - at));
        at = end + 1;
    }
    if (!lines.empty() && isDatabaseEntry(trimmedValue(lines.front()))) lines.erase(lines.begin());
    // The indentation that every line with text shares.
    size_t common = std::string::npos;
    for (const std::string &line : lines) {
        size_t indent = line.find_first_not_of(" \t");
        if (indent != std::string::npos && indent < common) common = indent;
    }
    std::string out;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i) out += '\n';
        if (lines[i].find_first_not_of(" \t") != std::string::npos) out += lines[i].substr(common);
    }
    return trimmedValue(out);
}

}  // namespace zavtool
