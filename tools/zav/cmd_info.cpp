// zav info: everything a host can ask about a book as a whole, and one line
// per table.
#include <cstdio>
#include <string>
#include <vector>

#include "book_host.h"
#include "cli.h"
#include "commands.h"

namespace zavtool {

namespace {

const char kInfoHelp[] =
    "usage: zav info BOOK\n"
    "\n"
    "Print the book's kind, version, capability words, serial, extended book\n"
    "number, position id, its name in every language it carries, its languages,\n"
    "shelf levels, and one line per table: names, locale, dictionary id, key\n"
    "count, page count and table-of-contents size. Sub entries of a table are\n"
    "listed below its line.\n";

const char *kindName(uint32_t kind) {
    switch (kind) {
        case BOOK_KIND_DICTIONARY: return "dictionary (tables served by the dictionary engine)";
        case BOOK_KIND_PLAIN: return "plain";
        case BOOK_KIND_PREFIXED: return "prefixed (page records carry link blocks)";
        default: return "unknown";
    }
}

std::string quoted(const std::string &text) { return "\"" + escapeText(text) + "\""; }

// The languages to show names in: the book's language list, or the base
// language when the book lists none.
std::vector<int32_t> bookLanguages(BookHandle book) {
    std::vector<int32_t> languages;
    int32_t count = ZAVGetLanguageCount(book);
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
            line += quoted(inUtf8(name.text, name.language));
            if (name.language != language) line += " (from language " + std::to_string(name.language) + ")";
        }
    }
    return line;
}

}  // namespace

int runInfo(int argc, char **argv) {
    const std::string command = "info";
    Args args;
    if (!args.parse(command, argc, argv, {}, {})) return EXIT_USAGE;
    if (args.help()) {
        std::fputs(kInfoHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 1) return usageError(command, "expected one BOOK");
    const std::string &path = args.positional()[0];
    HostBook book;
    if (int rc = openForCommand(command, path, book)) return rc;

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
    if (ZAVBookSerial(book, &serial) == 0) std::printf("serial:           %u\n", serial);
    else std::printf("serial:           (unreadable)\n");

    int32_t exLength = ZAVExBookNoLength(book);
    std::string exNo(static_cast<size_t>(exLength > 0 ? exLength : 0), '\0');
    if (exLength > 0 && ZAVExBookNo(book, exNo.data(), exLength) == 1)
        std::printf("extended number:  %s (%d bytes)\n", quoted(exNo).c_str(), exLength);
    else
        std::printf("extended number:  (none)\n");
    std::printf("position id:      %d\n", ZAVGetBookPositionID(book));
    unsigned char attributes[84];
    std::printf("char attributes:  %s\n", ZAVGetDefCharAttr(book, attributes) == 1 ? "84-byte block" : "(none)");

    std::vector<int32_t> languages = bookLanguages(book);
    std::string languageText;
    for (int32_t l : languages) languageText += (languageText.empty() ? "" : ", ") + languageLabel(l);
    std::printf("languages:        %s\n", languages.empty() ? "(none listed)" : languageText.c_str());
    std::printf("name:             %s\n",
                namesLine(languages, [&](int32_t l) { return bookName(book, l); }).c_str());
    Localized chosen = bookName(book, ZAV_LANG_CHOOSE);
    if (chosen.language)
        std::printf("name (default):   %s [language %d]\n", quoted(chosen.text).c_str(), chosen.language);

    std::printf("pages:            %d\n", ZAVGetPageCount(book));

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

    int32_t tables = book.tableCount();
    std::printf("tables:           %d\n", tables);
    bool dictionary = book.isDictionary();
    for (int32_t t = 0; t < tables; ++t) {
        std::string names = namesLine(languages, [&](int32_t l) { return tableName(book, t, l); });
        Localized simple = tableSimpleName(book, t, ZAV_LANG_CHOOSE);
        Localized name = tableName(book, t, ZAV_LANG_CHOOSE);
        std::string simpleText;
        if (simple.language && (simple.text != name.text)) simpleText = "  simple " + quoted(simple.text);
        uint32_t dictId = static_cast<uint32_t>(ZAVGetDictClass(book, t));
        std::printf("  table %d: %s%s  locale %d  dictId %s  keys %d  pages %d  tree %d  subs %d", t,
                    names.c_str(), simpleText.c_str(), ZAVGetTableLocal(book, t), hex(dictId, 8).c_str(),
                    ZAVGetKeyCount(book, t), ZAVGetTablePageCount(book, t), EBDVPGetCount(book, t),
                    ZAVGetSubCount(book, t));
        if (dictionary) {
            int32_t levels = 0;
            unsigned char level[256];
            while (levels < 64 && ZAVGetDictLevelInfo(book, t, levels, level) == 1) ++levels;
            bool spell = (dictId & 0xFF) == 1 && ((dictId >> 16) & 0xFF) == 1 && (dictId >> 24) == 0;
            std::printf("  levels %d  add-in %s  spell %s", levels,
                        ZAVIsAddInApp(book, t, 0xFFFFFFFFu) ? "yes" : "no", spell ? "yes" : "no");
        }
        std::printf("\n");
        int32_t subs = ZAVGetSubCount(book, t);
        for (int32_t s = 0; s < subs && s < 1000; ++s) {
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
        if (subs > 1000) std::printf("    ... %d more sub entries\n", subs - 1000);
    }
    return EXIT_OK;
}

}  // namespace zavtool
