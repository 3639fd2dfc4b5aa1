// zav lookup: every entry of a word, any case, suggestions on a miss, prefix
// search; as text or JSON, for one word or a word per line of standard input.
#include <cstdio>
#include <iostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/book_health.h"
#include "core/book_host.h"
#include "core/cli.h"
#include "commands/commands.h"
#include "core/reader_shelf.h"

namespace zavtool {

namespace {

const char kLookupHelp[] =
    "usage: zav lookup BOOK WORD [--table N] [--first] [--json] [--count N]\n"
    "                  [--language LANG]\n"
    "       zav lookup BOOK TEXT --prefix [--table N] [--json] [--count N]\n"
    "\n"
    "Look WORD up in table N (default 0) and print every entry whose key\n"
    "compares equal to it under the key collation (its homographs bank@1,\n"
    "bank@2 included), each entry once, with its key, page and text in UTF-8.\n"
    "Letters match in any case (Unicode case folding); when the word is not\n"
    "found so, the entries whose headwords equal it once accents and marks are\n"
    "taken off both are shown, marked as found without accents. When that finds\n"
    "nothing either and Hunspell knows the book's language, the entries of the\n"
    "word's stems are shown, marked as found as a form of a headword (\"Häusern\"\n"
    "finds haus; 'zav info' says whether and with which dictionary). When nothing\n"
    "is found, up to N suggestions (default 10) are printed instead: near\n"
    "spellings and the keys around the place where the word would stand.\n"
    "WORD - reads one word per line from standard input and answers each.\n"
    "\n"
    "  --first    only the first entry, the one a host's look-up leads to\n"
    "  --prefix   list the keys that start with TEXT (at most N, default 50)\n"
    "  --language LANG  the headwords' language for stem look-ups (de, de_DE);\n"
    "             \"\" turns them off; default: the one the book's name says\n"
    "  --json     one JSON object per answer (JSON Lines for words from -):\n"
    "             {\"query\", \"found\", \"entries\": [{\"key\", \"keyIndex\",\n"
    "             \"page\", \"offset\", \"text\", \"how\"}], \"suggestions\": [...]};\n"
    "             \"how\" is exact, case, accent or stem\n"
    "             with --prefix {\"prefix\", \"keys\": [...]}\n"
    "\n"
    "Exit status: 0 found (for -: every word found), 1 not found, 2 usage\n"
    "error or a book, page or key that cannot be read.\n";

constexpr int64_t kDefaultSuggestions = 10;
constexpr int64_t kDefaultPrefixKeys = 50;
constexpr int64_t kMostListed = 100000;
constexpr size_t kLongestWord = 65535;

struct Options {
    std::string path;
    ZAVReaderShelf *shelf = nullptr;
    std::string database;
    bool first = false, json = false, prefix = false;
    size_t count = 0;
};

std::string jsonLine(const nlohmann::json &j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

const char *howName(uint32_t how) {
    switch (how) {
        case ZAVR_HOW_CASE: return "case";
        case ZAVR_HOW_ACCENT: return "accent";
        case ZAVR_HOW_STEM: return "stem";
        default: return "exact";
    }
}

// Answer one word; returns the exit code of that answer.
int answerWord(const std::string &command, const Options &o, const std::string &word) {
    ReaderResult found(ZAVReaderLookup(o.shelf, o.database.c_str(), word.c_str(), o.first ? ZAVR_FIRST : 0u, nullptr));
    size_t n = ZAVReaderResultCount(found.get());
    for (size_t i = 0; i < n; ++i) {
        const ZAVReaderAnswer *e = ZAVReaderResultAt(found.get(), i);
        if (e->reason) {
            complain(command, e->reason);
            return EXIT_USAGE;
        }
    }
    if (ZAVReaderResultStatus(found.get()) != ZAVR_OK) {
        complain(command, o.path + ": " + reasonOf(found.get()));
        return EXIT_USAGE;
    }
    std::vector<std::string> near;
    if (n == 0) {
        ReaderResult offered(ZAVReaderSuggest(o.shelf, o.database.c_str(), word.c_str(), o.count, nullptr));
        if (ZAVReaderResultStatus(offered.get()) != ZAVR_OK) {
            complain(command, o.path + ": " + reasonOf(offered.get()));
            return EXIT_USAGE;
        }
        for (size_t i = 0; i < ZAVReaderResultCount(offered.get()); ++i)
            near.push_back(ZAVReaderResultAt(offered.get(), i)->headword);
    }
    auto textOf = [](const ZAVReaderAnswer *e) { return std::string(e->text, e->text_length); };
    if (o.json) {
        nlohmann::json entries = nlohmann::json::array();
        for (size_t i = 0; i < n; ++i) {
            const ZAVReaderAnswer *e = ZAVReaderResultAt(found.get(), i);
            entries.push_back({{"key", e->key},
                               {"keyIndex", e->key_index},
                               {"page", e->page},
                               {"offset", e->offset},
                               {"text", textOf(e)},
                               {"how", howName(e->how)}});
        }
        nlohmann::json answer = {{"query", word}, {"found", n > 0}, {"entries", entries}, {"suggestions", near}};
        std::printf("%s\n", jsonLine(answer).c_str());
        return n == 0 ? EXIT_FAILED : EXIT_OK;
    }
    if (n == 0) {
        std::printf("not found: %s\n", escapeText(word).c_str());
        if (near.empty()) {
            std::printf("no suggestions\n");
        } else {
            std::string list;
            for (const std::string &k : near) list += (list.empty() ? "" : ", ") + escapeText(k);
            std::printf("perhaps you mean: %s\n", list.c_str());
        }
        return EXIT_FAILED;
    }
    uint32_t how = ZAVReaderResultAt(found.get(), 0)->how;
    std::printf("found: %s, %zu %s%s\n", escapeText(word).c_str(), n, n == 1 ? "entry" : "entries",
                how == ZAVR_HOW_ACCENT ? " (without accents)"
                : how == ZAVR_HOW_STEM ? " (as a form of a headword)"
                                       : "");
    for (size_t i = 0; i < n; ++i) {
        const ZAVReaderAnswer *e = ZAVReaderResultAt(found.get(), i);
        std::printf("--- %s (key %u, page %lld, offset %u)\n", escapeText(e->key).c_str(), e->key_index,
                    static_cast<long long>(e->page), e->offset);
        std::string text = textOf(e);
        std::fputs(escapeContent(text).c_str(), stdout);
        if (text.empty() || text.back() != '\n') std::fputc('\n', stdout);
    }
    return EXIT_OK;
}

int answerPrefix(const std::string &command, const Options &o, const std::string &text) {
    ReaderResult keys(ZAVReaderComplete(o.shelf, o.database.c_str(), text.c_str(), o.count, nullptr));
    if (ZAVReaderResultStatus(keys.get()) != ZAVR_OK) {
        complain(command, o.path + ": " + reasonOf(keys.get()));
        return EXIT_USAGE;
    }
    std::vector<std::string> names;
    for (size_t i = 0; i < ZAVReaderResultCount(keys.get()); ++i)
        names.push_back(ZAVReaderResultAt(keys.get(), i)->headword);
    if (o.json) {
        std::printf("%s\n", jsonLine({{"prefix", text}, {"keys", names}}).c_str());
    } else {
        for (const std::string &k : names) std::printf("%s\n", escapeText(k).c_str());
        if (names.empty()) std::printf("no keys start with %s\n", escapeText(text).c_str());
    }
    return names.empty() ? EXIT_FAILED : EXIT_OK;
}

int answer(const std::string &command, const Options &o, const std::string &word) {
    if (word.empty() || word.size() > kLongestWord) {
        complain(command, "a word holds 1 to 65535 bytes");
        return EXIT_USAGE;
    }
    if (o.database.empty()) {  // a table without keys: nothing is in it
        if (o.json && o.prefix)
            std::printf("%s\n", jsonLine({{"prefix", word}, {"keys", nlohmann::json::array()}}).c_str());
        else if (o.json)
            std::printf("%s\n", jsonLine({{"query", word},
                                          {"found", false},
                                          {"entries", nlohmann::json::array()},
                                          {"suggestions", nlohmann::json::array()}})
                                    .c_str());
        else if (o.prefix)
            std::printf("no keys start with %s\n", escapeText(word).c_str());
        else
            std::printf("not found: %s\nno suggestions\n", escapeText(word).c_str());
        return EXIT_FAILED;
    }
    return o.prefix ? answerPrefix(command, o, word) : answerWord(command, o, word);
}

// Every line of standard input is a word; empty lines are skipped. A word
// that cannot be answered (a damaged book) ends the run.
int answerInput(const std::string &command, const Options &o) {
    int worst = EXIT_OK;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        int rc = answer(command, o, line);
        std::fflush(stdout);
        if (rc == EXIT_USAGE) return rc;
        if (rc != EXIT_OK) worst = rc;
    }
    return worst;
}

}  // namespace

int runLookup(int argc, char **argv) {
    const std::string command = "lookup";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"table", "count", "language"}, {"first", "json", "prefix"}); !parsed)
        return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kLookupHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 2) return usageError(command, "expected BOOK and WORD");
    Options o;
    o.first = args.flag("first");
    o.json = args.flag("json");
    o.prefix = args.flag("prefix");
    if (o.first && o.prefix) return usageError(command, "--first and --prefix do not go together");
    o.count = static_cast<size_t>(o.prefix ? kDefaultPrefixKeys : kDefaultSuggestions);
    if (auto v = args.value("count")) {
        auto n = integerArgument("--count", *v, 0, kMostListed);
        if (!n) return reportFailure(command, n.failure());
        o.count = static_cast<size_t>(*n);
    }
    const std::string &word = args.positional()[1];
    if (word.empty()) return usageError(command, "WORD must not be empty");
    HostBook book;
    if (Status opened = openBook(args.positional()[0], book); !opened) return reportFailure(command, opened);
    Result<int32_t> table = tableOption(args, book);
    if (!table) return reportFailure(command, table.failure());
    o.path = args.positional()[0];
    if (Status served = dictionaryServed(book, *table); !served) {
        complain(command, o.path + ": " + served.reason());
        return EXIT_USAGE;
    }
    ReaderShelf shelf(ZAVReaderOpen());
    if (!shelf) {
        complain(command, "out of memory");
        return EXIT_USAGE;
    }
    // A book without keys is no database: every word is missing from it.
    ZAVReaderAdd(shelf.get(), o.path.c_str(), nullptr);
    o.shelf = shelf.get();
    if (auto language = args.value("language")) {
        if (Status set = setShelfLanguage(o.shelf, *language); !set) complain(command, "warning: " + set.reason());
    }
    o.database = databaseOfTable(o.shelf, *table);
    return word == "-" ? answerInput(command, o) : answer(command, o, word);
}

}  // namespace zavtool
