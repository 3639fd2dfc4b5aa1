// zav info: everything a host can ask about a book as a whole, and one line
// per table.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tovix/format.h"
#include "core/book_health.h"
#include "formats/book_info.h"
#include "core/book_host.h"
#include "core/cli.h"
#include "commands/commands.h"
#include "core/reader_shelf.h"

namespace zavtool {

namespace {

const char kInfoHelp[] =
    "usage: zav info BOOK [--json] [--language LANG]\n"
    "\n"
    "Print the book's kind, version, capability words, serial, extended book\n"
    "number, position id, its name in every language it carries, its languages,\n"
    "shelf levels, and one line per table: names, locale, dictionary id, key\n"
    "count, page count and table-of-contents size. Sub entries of a table are\n"
    "listed below its line. What a book made by 'zav import' keeps about its\n"
    "dictionary (its name, description, author, email, website and date, as the\n"
    "dictionary gave them) is shown before the tables (\"about\" in JSON).\n"
    "Each table with keys says whether 'zav lookup' looks a word it does not find\n"
    "up by its stems, with which Hunspell dictionary and where the language comes\n"
    "from (the book's name), or why not (\"stems\" and \"stemsNote\" in JSON);\n"
    "--language LANG (de, de_DE) asks about that language instead.\n"
    "--json prints one JSON object instead.\n"
    "\n"
    "A quick look reads keys and pages across every table; when some cannot be\n"
    "read the book is reported damaged and the exit status is 2.\n";

const char *kindName(uint32_t kind) {
    switch (kind) {
        case BOOK_KIND_DICTIONARY: return "dictionary (tables served by the dictionary engine)";
        case BOOK_KIND_PLAIN: return "plain";
        case BOOK_KIND_PREFIXED: return "prefixed (page records carry link blocks)";
        default: return "unknown";
    }
}

std::string quotedText(const std::string &text) { return "\"" + escapeText(text) + "\""; }

// The languages to show names in: the book's language list, or the base
// language when the book lists none.
std::vector<int32_t> bookLanguages(BookHandle book) {
    std::vector<int32_t> languages;
    int32_t count = ZAVGetLanguageCount(book);
    constexpr int32_t kReserveAtMost = 256;  // the count comes from the book
    languages.reserve(static_cast<size_t>(std::clamp(count, 0, kReserveAtMost)));
    for (int32_t i = 0; i < count; ++i) languages.push_back(ZAVGetLanguage(book, i));
    return languages;
}

// Names in each language; a language without its own text shows the text the
// module falls back to, marked with the language it came from.
template <typename Fetch>
std::string namesLine(const std::vector<int32_t> &languages, Fetch fetch) {
    std::string line;
    std::vector<int32_t> asked = languages;
    if (asked.empty()) asked.push_back(1);
    for (int32_t language : asked) {
        Localized name = fetch(language);
        if (!line.empty()) line += "  ";
        line += "[" + std::to_string(language) + "] ";
        if (name.language == 0) {
            line += "(none)";
        } else {
            line += quotedText(inUtf8(name.text, name.language));
            if (name.language != language) line += " (from language " + std::to_string(name.language) + ")";
        }
    }
    return line;
}

// The book-level lines, as label and value pairs (JSON keys and text lines).
void bookLines(const HostBook &book, const std::string &path, const std::vector<int32_t> &languages,
               nlohmann::json *j) {
    char fileName[300] = {};
    int32_t nameLength = ZAVGetFileName(book, fileName, sizeof fileName);
    (*j)["file"] = nameLength > 0 ? std::string(fileName) : path;
    uint32_t caps[4] = {0, 0, 0, 0};
    if (ZAVGetCaps(book, caps) == 1) {
        (*j)["kind"] = caps[0];
        (*j)["version"] = caps[1];
        (*j)["capsWords"] = {caps[2], caps[3]};
    }
    uint32_t serial = 0;
    if (ZAVBookSerial(book, &serial) == 0) (*j)["serial"] = serial;
    int32_t exLength = ZAVExBookNoLength(book);
    std::string exNo(static_cast<size_t>(exLength > 0 ? exLength : 0), '\0');
    if (exLength > 0 && ZAVExBookNo(book, exNo.data(), exLength) == 1) (*j)["extendedNumber"] = exNo;
    (*j)["positionId"] = ZAVGetBookPositionID(book);
    unsigned char attributes[84];
    (*j)["charAttributes"] = ZAVGetDefCharAttr(book, attributes) == 1;
    (*j)["languages"] = languages;
    nlohmann::json names = nlohmann::json::object();
    for (int32_t l : languages.empty() ? std::vector<int32_t>{1} : languages) {
        Localized name = bookName(book, l);
        if (name.language) names[std::to_string(l)] = inUtf8(name.text, name.language);
    }
    (*j)["name"] = names;
    (*j)["pages"] = ZAVGetPageCount(book);
    nlohmann::json shelves = nlohmann::json::array();
    int32_t shelfCount = ZAVGetShelfLevel(book);
    for (int32_t i = 0; i < shelfCount && i < 256; ++i) {
        uint32_t value = 0;
        char buffer[257] = {};
        int32_t language = ZAVGetShelfLevelInfo(book, i, ZAV_LANG_CHOOSE, &value, buffer, 256);
        shelves.push_back({{"value", value}, {"name", language ? inUtf8(buffer, language) : std::string()}});
    }
    (*j)["shelfLevels"] = shelves;
    BookInfo info = readBookInfo(book);
    nlohmann::json about = nlohmann::json::object();
    for (const std::string &field : bookInfoFields())
        if (!info.field(field)->empty()) about[field] = *info.field(field);
    (*j)["about"] = about;
}

// What the book keeps about its dictionary (its name, description, author,
// ...), a field a line; the lines of a longer text aligned below the first.
void printAbout(const HostBook &book) {
    BookInfo info = readBookInfo(book);
    if (info.empty()) return;
    std::printf("about the dictionary:\n");
    for (const std::string &field : bookInfoFields()) {
        const std::string &value = *info.field(field);
        if (value.empty()) continue;
        std::string label = "  " + field + ":";
        label.resize(18, ' ');
        for (size_t at = 0; at <= value.size();) {
            size_t end = value.find('\n', at);
            if (end == std::string::npos) end = value.size();
            std::printf("%s%s\n", label.c_str(), escapeText(value.substr(at, end - at)).c_str());
            label.assign(18, ' ');
            at = end + 1;
        }
    }
}

nlohmann::json tableJson(const HostBook &book, int32_t t) {
    uint32_t dictId = static_cast<uint32_t>(ZAVGetDictClass(book, t));
    Localized name = tableName(book, t, ZAV_LANG_CHOOSE);
    nlohmann::json table = {{"table", t},
                            {"name", name.language ? inUtf8(name.text, name.language) : std::string()},
                            {"locale", ZAVGetTableLocal(book, t)},
                            {"dictId", dictId},
                            {"keys", ZAVGetKeyCount(book, t)},
                            {"pages", ZAVGetTablePageCount(book, t)},
                            {"treeItems", EBDVPGetCount(book, t)},
                            {"subs", ZAVGetSubCount(book, t)}};
    if (book.isDictionary()) table["served"] = dictionaryServed(book, t).ok();
    return table;
}

void printBookText(const HostBook &book, const std::string &path, const std::vector<int32_t> &languages) {
    char fileName[300] = {};
    int32_t nameLength = ZAVGetFileName(book, fileName, sizeof fileName);
    std::printf("file:             %s\n", nameLength > 0 ? fileName : path.c_str());
    uint32_t caps[4] = {0, 0, 0, 0};
    if (ZAVGetCaps(book, caps) == 1) {
        std::printf("kind:             %u %s\n", caps[0], kindName(caps[0]));
        std::printf("version:          %u\n", caps[1]);
        std::printf("caps words:       %s %s\n", hex(caps[2], 8).c_str(), hex(caps[3], 8).c_str());
    } else {
        std::printf("kind:             (header unreadable)\n");
    }
    uint32_t serial = 0;
    if (ZAVBookSerial(book, &serial) == 0)
        std::printf("serial:           %u\n", serial);
    else
        std::printf("serial:           (unreadable)\n");
    int32_t exLength = ZAVExBookNoLength(book);
    std::string exNo(static_cast<size_t>(exLength > 0 ? exLength : 0), '\0');
    if (exLength > 0 && ZAVExBookNo(book, exNo.data(), exLength) == 1)
        std::printf("extended number:  %s (%d bytes)\n", quotedText(exNo).c_str(), exLength);
    else
        std::printf("extended number:  (none)\n");
    std::printf("position id:      %d\n", ZAVGetBookPositionID(book));
    unsigned char attributes[84];
    std::printf("char attributes:  %s\n", ZAVGetDefCharAttr(book, attributes) == 1 ? "84-byte block" : "(none)");
    std::string languageText;
    for (int32_t l : languages) languageText += (languageText.empty() ? "" : ", ") + languageLabel(l);
    std::printf("languages:        %s\n", languages.empty() ? "(none listed)" : languageText.c_str());
    std::printf("name:             %s\n", namesLine(languages, [&](int32_t l) { return bookName(book, l); }).c_str());
    Localized chosen = bookName(book, ZAV_LANG_CHOOSE);
    if (chosen.language)
        std::printf("name (default):   %s [language %d]\n", quotedText(chosen.text).c_str(), chosen.language);
    std::printf("pages:            %d\n", ZAVGetPageCount(book));
}

void printShelves(const HostBook &book, const std::vector<int32_t> &languages) {
    int32_t shelfCount = ZAVGetShelfLevel(book);
    std::printf("shelf levels:     %d\n", shelfCount);
    for (int32_t i = 0; i < shelfCount; ++i) {
        uint32_t value = 0;
        std::string names = namesLine(languages, [&](int32_t l) {
            char buffer[257] = {};
            Localized out;
            out.language = ZAVGetShelfLevelInfo(book, i, l, &value, buffer, 256);
            if (out.language) out.text = buffer;
            return out;
        });
        std::printf("  level %d: value %u  %s\n", i, value, names.c_str());
    }
}

void printSubs(const HostBook &book, int32_t t, const std::vector<int32_t> &languages) {
    constexpr int32_t kMostSubsShown = 1000;
    int32_t subs = ZAVGetSubCount(book, t);
    for (int32_t s = 0; s < subs && s < kMostSubsShown; ++s) {
        uint32_t subId = 0;
        std::string subNames = namesLine(languages, [&](int32_t l) {
            char buffer[257] = {};
            Localized out;
            out.language = ZAVGetSubName(book, t, s, &subId, l, buffer, 256);
            if (out.language) out.text = buffer;
            return out;
        });
        std::printf("    sub %d: id %u  %s\n", s, subId, subNames.c_str());
    }
    if (subs > kMostSubsShown) std::printf("    ... %d more sub entries\n", subs - kMostSubsShown);
}

// The database of table t on the shelf, or -1 when the table has no keys.
int64_t databaseOf(const ZAVReaderShelf *shelf, int32_t t) {
    std::string name = databaseOfTable(shelf, t);
    return name.empty() ? -1 : ZAVReaderFind(shelf, name.c_str());
}

void printTable(const HostBook &book, int32_t t, const std::vector<int32_t> &languages, const ZAVReaderShelf *shelf) {
    std::string names = namesLine(languages, [&](int32_t l) { return tableName(book, t, l); });
    Localized simple = tableSimpleName(book, t, ZAV_LANG_CHOOSE);
    Localized name = tableName(book, t, ZAV_LANG_CHOOSE);
    std::string simpleText;
    if (simple.language && (simple.text != name.text)) simpleText = "  simple " + quotedText(simple.text);
    uint32_t dictId = static_cast<uint32_t>(ZAVGetDictClass(book, t));
    std::printf("  table %d: %s%s  locale %d  dictId %s  keys %d  pages %d  tree %d  subs %d", t, names.c_str(),
                simpleText.c_str(), ZAVGetTableLocal(book, t), hex(dictId, 8).c_str(), ZAVGetKeyCount(book, t),
                ZAVGetTablePageCount(book, t), EBDVPGetCount(book, t), ZAVGetSubCount(book, t));
    if (book.isDictionary()) {
        int32_t levels = 0;
        unsigned char level[256];
        while (levels < 64 && ZAVGetDictLevelInfo(book, t, levels, level) == 1) ++levels;
        std::printf("  levels %d  add-in %s  spell %s", levels, ZAVIsAddInApp(book, t, 0xFFFFFFFFu) ? "yes" : "no",
                    tovix::isSpellCapable(dictId) ? "yes" : "no");
    }
    std::printf("\n");
    if (Status served = dictionaryServed(book, t); !served) std::printf("    note: %s\n", served.reason().c_str());
    if (int64_t db = databaseOf(shelf, t); db >= 0)
        std::printf("    stem look-ups: %s\n", stemLine(shelf, static_cast<size_t>(db)).c_str());
    printSubs(book, t, languages);
}

}  // namespace

int runInfo(int argc, char **argv) {
    const std::string command = "info";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"language"}, {"json"}); !parsed) return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kInfoHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 1) return usageError(command, "expected one BOOK");
    const std::string &path = args.positional()[0];
    HostBook book;
    if (Status opened = openBook(path, book); !opened) return reportFailure(command, opened);
    std::vector<int32_t> languages = bookLanguages(book);
    std::vector<std::string> problems = bookProblems(book);
    // The reader library's view of the book: whether its look-ups stem.
    ReaderShelf shelf(ZAVReaderOpen());
    if (!shelf) {
        complain(command, "out of memory");
        return EXIT_USAGE;
    }
    ZAVReaderAdd(shelf.get(), path.c_str(), nullptr);
    if (auto language = args.value("language")) (void)setShelfLanguage(shelf.get(), *language);
    if (args.flag("json")) {
        nlohmann::json j;
        bookLines(book, path, languages, &j);
        j["tables"] = nlohmann::json::array();
        for (int32_t t = 0; t < book.tableCount(); ++t) {
            nlohmann::json table = tableJson(book, t);
            if (int64_t db = databaseOf(shelf.get(), t); db >= 0) {
                const char *dictionary = ZAVReaderStemLanguage(shelf.get(), static_cast<size_t>(db));
                table["stems"] = dictionary ? nlohmann::json(dictionary) : nlohmann::json();
                table["stemsNote"] = ZAVReaderStemNote(shelf.get(), static_cast<size_t>(db));
            }
            j["tables"].push_back(table);
        }
        j["damaged"] = !problems.empty();
        j["problems"] = problems;
        std::printf("%s\n", j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
        printBookText(book, path, languages);
        printShelves(book, languages);
        printAbout(book);
        std::printf("tables:           %d\n", book.tableCount());
        for (int32_t t = 0; t < book.tableCount(); ++t) printTable(book, t, languages, shelf.get());
        for (const std::string &p : problems) std::printf("damaged:          %s\n", p.c_str());
    }
    if (problems.empty()) return EXIT_OK;
    complain(command, path + ": the book is damaged: " + problems.front() + " (see 'zav check')");
    return EXIT_USAGE;
}

}  // namespace zavtool
