// zav import: a plain book from a word list (tsv) or a dictd dictionary.
// Each headword becomes a key that leads to its own page, which holds the
// definition; headwords keep their bytes.
#include <zlib.h>

#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "book_output.h"
#include "cli.h"
#include "commands.h"
#include "entries.h"
#include "zav/book_writer.h"

namespace zavtool {

namespace {

const char kImportHelp[] =
    "usage: zav import tsv FILE OUT [--name NAME] [--quiet]\n"
    "       zav import dictd INDEX OUT [--dict DICT] [--name NAME] [--quiet]\n"
    "\n"
    "Build a plain book with one table from a word list: one page per entry,\n"
    "holding the definition, and one key per headword leading to it (page =\n"
    "the entry's page, offset 0), sorted under the key collation. Duplicate\n"
    "headwords are kept.\n"
    "\n"
    "tsv    one entry per line: WORD<TAB>DEFINITION. In the definition \\n, \\t\n"
    "       and \\\\ stand for a line feed, a tab and a backslash. Empty lines are\n"
    "       skipped.\n"
    "dictd  a dictd .index (HEADWORD<TAB>OFFSET<TAB>LENGTH, numbers in dictd's\n"
    "       base 64) and its data file: DICT, or INDEX with .index replaced by\n"
    "       .dict, or else .dict.dz (dictzip/gzip). The book is named after the\n"
    "       00-database-short entry when there is one.\n"
    "\n"
    "  --name NAME   the book's name (default: the input's file name)\n";

// Headwords and definitions cannot exceed what a book holds.
constexpr size_t kMaxKeyBytes = 65535;
constexpr uint64_t kMaxDataBytes = 0x7FFFFFFFull;

struct Entry {
    std::string word;
    std::string definition;
};

std::string withoutSuffix(const std::string &name) {
    size_t dot = name.find('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

std::string cut(std::string text, size_t max) {
    if (text.size() > max) text.resize(max);
    return text;
}

int buildImported(const std::string &command, std::vector<Entry> entries, const std::string &name,
                  const std::string &out, bool quiet) {
    zav::BookDesc book;
    book.kind = 2;  // plain
    book.bookName = zav::StringListDesc{{1, cut(name, 255)}};
    book.languages = std::vector<uint8_t>{1};
    zav::TableDesc table;
    table.name = zav::StringListDesc{{1, cut(name, 255)}};
    table.locale = 1;
    table.pageList.reserve(entries.size());
    table.keys.reserve(entries.size());
    book.pages.reserve(entries.size());
    Progress progress(command, "entries laid out", entries.size(), quiet);
    // Headwords that share one definition (dictd indexes often point several
    // headwords at the same entry) share one page.
    std::unordered_map<size_t, uint32_t> pageByHash;
    pageByHash.reserve(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        size_t hash = std::hash<std::string>{}(entries[i].definition);
        auto found = pageByHash.find(hash);
        uint32_t pageIndex;
        if (found != pageByHash.end() && book.pages[found->second].data == entries[i].definition) {
            pageIndex = found->second;
        } else {
            pageIndex = static_cast<uint32_t>(book.pages.size());
            if (found == pageByHash.end()) pageByHash.emplace(hash, pageIndex);
            table.pageList.push_back(pageIndex);
            zav::PageDesc page;
            page.data = std::move(entries[i].definition);
            book.pages.push_back(std::move(page));
        }
        zav::KeyDesc key;
        key.text = std::move(entries[i].word);
        key.pageNo = pageIndex;
        table.keys.push_back(std::move(key));
        addFoldedKeys(&table.keys, table.keys.back().text, pageIndex);
        progress.step(i + 1);
    }
    entries.clear();
    entries.shrink_to_fit();
    table.autoPageToKey = true;
    book.tables.push_back(std::move(table));
    progress.note("sorting the keys and writing the book");
    return writeBookFile(command, book, out, quiet);
}

// Undo the tsv escapes \n, \t and \\ (any other backslash stays as it is).
std::string unescapeDefinition(const std::string &s) {
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '\\' && i + 1 < s.size()) {
            char c = s[i + 1];
            if (c == 'n') { out += '\n'; ++i; continue; }
            if (c == 't') { out += '\t'; ++i; continue; }
            if (c == '\\') { out += '\\'; ++i; continue; }
        }
        out += s[i];
    }
    return out;
}

// The line of text that starts at *at, without its LF or CRLF end, into
// *row; *at moves to the next line. False at the end of the text.
bool nextLine(const std::string &text, size_t *at, std::string *row) {
    if (*at >= text.size()) return false;
    size_t end = text.find('\n', *at);
    if (end == std::string::npos) end = text.size();
    row->assign(text, *at, end - *at);
    *at = end + 1;
    if (!row->empty() && row->back() == '\r') row->pop_back();
    return true;
}

int importTsv(const std::string &command, const std::string &file, const std::string &out,
              const std::optional<std::string> &name, bool quiet) {
    std::string text, error;
    if (!readWholeFile(file, &text, &error)) {
        complain(command, error);
        return EXIT_USAGE;
    }
    std::vector<Entry> entries;
    size_t line = 0;
    std::string row;
    for (size_t at = 0; nextLine(text, &at, &row);) {
        ++line;
        if (row.empty()) continue;
        size_t tab = row.find('\t');
        if (tab == std::string::npos) {
            std::fprintf(stderr, "%s:%zu: expected WORD<TAB>DEFINITION, found no tab\n", file.c_str(), line);
            return EXIT_FAILED;
        }
        if (tab == 0) {
            std::fprintf(stderr, "%s:%zu: the headword is empty\n", file.c_str(), line);
            return EXIT_FAILED;
        }
        if (tab > kMaxKeyBytes) {
            std::fprintf(stderr, "%s:%zu: the headword is %zu bytes; a key holds at most %zu\n", file.c_str(), line,
                         tab, kMaxKeyBytes);
            return EXIT_FAILED;
        }
        entries.push_back({row.substr(0, tab), unescapeDefinition(row.substr(tab + 1))});
    }
    if (entries.empty()) {
        complain(command, file + ": no entries");
        return EXIT_FAILED;
    }
    text.clear();
    text.shrink_to_fit();
    return buildImported(command, std::move(entries), name.value_or(withoutSuffix(baseNameOf(file))), out, quiet);
}

// dictd's numbers: base 64 with the digits A-Z a-z 0-9 + /, most significant first.
bool decodeDictdNumber(const std::string &text, uint64_t *value) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.empty() || text.size() > 6) return false;  // 6 digits = 36 bits, beyond any book
    uint64_t v = 0;
    for (char c : text) {
        const char *p = c ? std::strchr(kDigits, c) : nullptr;
        if (!p) return false;
        v = v * 64 + static_cast<uint64_t>(p - kDigits);
    }
    *value = v;
    return true;
}

bool fileExists(const std::string &path) {
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f) std::fclose(f);
    return f != nullptr;
}

// The whole uncompressed data of a gzip (dictzip) file.
bool readGzip(const std::string &path, std::string *out, std::string *error) {
    gzFile in = gzopen(path.c_str(), "rb");
    if (!in) {
        *error = path + ": cannot open";
        return false;
    }
    gzbuffer(in, 1 << 17);
    std::string data;
    std::vector<char> chunk(1 << 20);
    for (;;) {
        int got = gzread(in, chunk.data(), static_cast<unsigned>(chunk.size()));
        if (got < 0) {
            int code = 0;
            const char *message = gzerror(in, &code);
            *error = path + ": not a readable gzip file: " + (message ? message : "error");
            gzclose(in);
            return false;
        }
        if (got == 0) break;
        if (data.size() + static_cast<size_t>(got) > kMaxDataBytes) {
            *error = path + ": the uncompressed data is larger than a book can hold (2 GiB)";
            gzclose(in);
            return false;
        }
        data.append(chunk.data(), static_cast<size_t>(got));
    }
    gzclose(in);
    *out = std::move(data);
    return true;
}

int importDictd(const std::string &command, const std::string &index, const std::string &out,
                const std::optional<std::string> &dictOption, const std::optional<std::string> &name, bool quiet) {
    std::string text, error;
    if (!readWholeFile(index, &text, &error)) {
        complain(command, error);
        return EXIT_USAGE;
    }
    std::string stem = index;
    if (stem.size() > 6 && stem.compare(stem.size() - 6, 6, ".index") == 0) stem.resize(stem.size() - 6);
    std::string dictPath;
    if (dictOption) dictPath = *dictOption;
    else if (fileExists(stem + ".dict")) dictPath = stem + ".dict";
    else if (fileExists(stem + ".dict.dz")) dictPath = stem + ".dict.dz";
    else {
        complain(command, index + ": no data file beside it (looked for " + stem + ".dict and " + stem +
                              ".dict.dz; name one with --dict)");
        return EXIT_USAGE;
    }
    std::string data;
    bool compressed = dictPath.size() > 3 && dictPath.compare(dictPath.size() - 3, 3, ".dz") == 0;
    if (!(compressed ? readGzip(dictPath, &data, &error) : readWholeFile(dictPath, &data, &error))) {
        complain(command, error);
        return EXIT_USAGE;
    }

    std::vector<Entry> entries;
    std::string bookTitle;
    size_t line = 0;
    std::string row;
    for (size_t at = 0; nextLine(text, &at, &row);) {
        ++line;
        if (row.empty()) continue;
        size_t t1 = row.find('\t');
        size_t t2 = t1 == std::string::npos ? t1 : row.find('\t', t1 + 1);
        if (t2 == std::string::npos) {
            std::fprintf(stderr, "%s:%zu: expected HEADWORD<TAB>OFFSET<TAB>LENGTH\n", index.c_str(), line);
            return EXIT_FAILED;
        }
        size_t t3 = row.find('\t', t2 + 1);  // later fields (an original spelling) are not used
        std::string word = row.substr(0, t1);
        std::string offsetText = row.substr(t1 + 1, t2 - t1 - 1);
        std::string lengthText = row.substr(t2 + 1, t3 == std::string::npos ? std::string::npos : t3 - t2 - 1);
        uint64_t offset = 0, length = 0;
        if (!decodeDictdNumber(offsetText, &offset) || !decodeDictdNumber(lengthText, &length)) {
            std::fprintf(stderr, "%s:%zu: \"%s\" / \"%s\" is not a dictd base-64 offset and length\n", index.c_str(),
                         line, escapeText(offsetText).c_str(), escapeText(lengthText).c_str());
            return EXIT_FAILED;
        }
        if (offset > data.size() || length > data.size() - offset) {
            std::fprintf(stderr, "%s:%zu: the definition (offset %llu, %llu bytes) lies outside %s (%zu bytes)\n",
                         index.c_str(), line, static_cast<unsigned long long>(offset),
                         static_cast<unsigned long long>(length), dictPath.c_str(), data.size());
            return EXIT_FAILED;
        }
        if (word.empty() || word.size() > kMaxKeyBytes) {
            std::fprintf(stderr, "%s:%zu: a headword holds 1 to %zu bytes\n", index.c_str(), line, kMaxKeyBytes);
            return EXIT_FAILED;
        }
        std::string definition = data.substr(offset, length);
        if (bookTitle.empty() && (word == "00-database-short" || word == "00databaseshort")) {
            // The definition repeats the headword on its first line; the name follows.
            size_t from = 0;
            while (from < definition.size() && bookTitle.empty()) {
                size_t nl = definition.find('\n', from);
                std::string l = definition.substr(from, nl == std::string::npos ? std::string::npos : nl - from);
                from = nl == std::string::npos ? definition.size() : nl + 1;
                size_t b = l.find_first_not_of(" \t\r"), e = l.find_last_not_of(" \t\r");
                if (b == std::string::npos) continue;
                l = l.substr(b, e - b + 1);
                if (l != word) bookTitle = l;
            }
        }
        entries.push_back({std::move(word), std::move(definition)});
    }
    if (entries.empty()) {
        complain(command, index + ": no entries");
        return EXIT_FAILED;
    }
    text.clear();
    text.shrink_to_fit();
    data.clear();
    data.shrink_to_fit();
    std::string bookName = name ? *name : !bookTitle.empty() ? bookTitle : withoutSuffix(baseNameOf(index));
    return buildImported(command, std::move(entries), bookName, out, quiet);
}

}  // namespace

int runImport(int argc, char **argv) {
    const std::string command = "import";
    Args args;
    if (!args.parse(command, argc, argv, {"name", "dict"}, {"quiet"})) return EXIT_USAGE;
    if (args.help()) {
        std::fputs(kImportHelp, stdout);
        return EXIT_OK;
    }
    const auto &p = args.positional();
    if (p.size() != 3) return usageError(command, "expected tsv FILE OUT or dictd INDEX OUT");
    if (p[0] == "tsv") {
        if (args.value("dict")) return usageError(command, "--dict belongs to dictd imports");
        return importTsv(command, p[1], p[2], args.value("name"), args.flag("quiet"));
    }
    if (p[0] == "dictd") return importDictd(command, p[1], p[2], args.value("dict"), args.value("name"), args.flag("quiet"));
    return usageError(command, "unknown format '" + p[0] + "': use tsv or dictd");
}

}  // namespace zavtool
