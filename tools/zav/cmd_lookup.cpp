// zav lookup: every entry of a word, any case, suggestions on a miss, prefix
// search; as text or JSON, for one word or a word per line of standard input.
#include <cstdio>
#include <iostream>
#include <string>

#include <nlohmann/json.hpp>

#include "book_health.h"
#include "book_host.h"
#include "cli.h"
#include "commands.h"
#include "entries.h"

namespace zavtool {

namespace {

const char kLookupHelp[] =
    "usage: zav lookup BOOK WORD [--table N] [--first] [--json] [--count N]\n"
    "       zav lookup BOOK TEXT --prefix [--table N] [--json] [--count N]\n"
    "\n"
    "Look WORD up in table N (default 0) and print every entry whose key\n"
    "compares equal to it under the key collation (its homographs bank@1,\n"
    "bank@2 included), each entry once, with its key, page and text. In UTF-8\n"
    "books letters match in any case (Unicode case folding). When the word is\n"
    "not found, nothing else is printed but up to N suggestions (default 10):\n"
    "near spellings and the keys around the place where the word would stand.\n"
    "WORD - reads one word per line from standard input and answers each.\n"
    "\n"
    "  --first    only the first entry, the one a host's look-up leads to\n"
    "  --prefix   list the keys that start with TEXT (at most N, default 50)\n"
    "  --json     one JSON object per answer (JSON Lines for words from -):\n"
    "             {\"query\", \"found\", \"entries\": [{\"key\", \"keyIndex\",\n"
    "             \"page\", \"offset\", \"text\"}], \"suggestions\": [...]};\n"
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
    int32_t table = 0;
    bool first = false, json = false, prefix = false;
    size_t count = 0;
};

std::string jsonLine(const nlohmann::json &j) {
    return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

// Answer one word; returns the exit code of that answer.
int answerWord(const std::string &command, const HostBook &book, const Options &o, const std::string &word) {
    Lookup found = lookupEntries(book, o.table, word, o.first);
    if (!found.error.empty()) {
        complain(command, o.path + ": " + found.error);
        return EXIT_USAGE;
    }
    KeyList near;
    if (found.entries.empty()) {
        near = suggestions(book, o.table, word, o.count);
        if (!near.error.empty()) {
            complain(command, o.path + ": " + near.error);
            return EXIT_USAGE;
        }
    }
    if (o.json) {
        nlohmann::json entries = nlohmann::json::array();
        for (const Entry &e : found.entries)
            entries.push_back(
                {{"key", e.key}, {"keyIndex", e.keyIndex}, {"page", e.page}, {"offset", e.offset}, {"text", e.text}});
        nlohmann::json answer = {
            {"query", word}, {"found", !found.entries.empty()}, {"entries", entries}, {"suggestions", near.keys}};
        std::printf("%s\n", jsonLine(answer).c_str());
        return found.entries.empty() ? EXIT_FAILED : EXIT_OK;
    }
    if (found.entries.empty()) {
        std::printf("not found: %s\n", escapeText(word).c_str());
        if (near.keys.empty()) {
            std::printf("no suggestions\n");
        } else {
            std::string list;
            for (const std::string &k : near.keys) list += (list.empty() ? "" : ", ") + escapeText(k);
            std::printf("perhaps you mean: %s\n", list.c_str());
        }
        return EXIT_FAILED;
    }
    size_t n = found.entries.size();
    std::printf("found: %s, %zu %s\n", escapeText(word).c_str(), n, n == 1 ? "entry" : "entries");
    for (const Entry &e : found.entries) {
        std::printf("--- %s (key %u, page %lld, offset %u)\n", escapeText(e.key).c_str(), e.keyIndex,
                    static_cast<long long>(e.page), e.offset);
        std::fputs(escapeContent(e.text).c_str(), stdout);
        if (e.text.empty() || e.text.back() != '\n') std::fputc('\n', stdout);
    }
    return EXIT_OK;
}

int answerPrefix(const std::string &command, const HostBook &book, const Options &o, const std::string &text) {
    KeyList keys = prefixKeys(book, o.table, text, o.count);
    if (!keys.error.empty()) {
        complain(command, o.path + ": " + keys.error);
        return EXIT_USAGE;
    }
    if (o.json) {
        std::printf("%s\n", jsonLine({{"prefix", text}, {"keys", keys.keys}}).c_str());
    } else {
        for (const std::string &k : keys.keys) std::printf("%s\n", escapeText(k).c_str());
        if (keys.keys.empty()) std::printf("no keys start with %s\n", escapeText(text).c_str());
    }
    return keys.keys.empty() ? EXIT_FAILED : EXIT_OK;
}

int answer(const std::string &command, const HostBook &book, const Options &o, const std::string &word) {
    if (word.empty() || word.size() > kLongestWord) {
        complain(command, "a word holds 1 to 65535 bytes");
        return EXIT_USAGE;
    }
    return o.prefix ? answerPrefix(command, book, o, word) : answerWord(command, book, o, word);
}

// Every line of standard input is a word; empty lines are skipped. A word
// that cannot be answered (a damaged book) ends the run.
int answerInput(const std::string &command, const HostBook &book, const Options &o) {
    int worst = EXIT_OK;
    std::string line;
    while (std::getline(std::cin, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty()) continue;
        int rc = answer(command, book, o, line);
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
    if (!args.parse(command, argc, argv, {"table", "count"}, {"first", "json", "prefix"})) return EXIT_USAGE;
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
        auto n = integerArgument(command, "--count", *v, 0, kMostListed);
        if (!n) return EXIT_USAGE;
        o.count = static_cast<size_t>(*n);
    }
    const std::string &word = args.positional()[1];
    if (word.empty()) return usageError(command, "WORD must not be empty");
    HostBook book;
    if (int rc = openForCommand(command, args.positional()[0], book)) return rc;
    auto table = tableOption(command, args, book);
    if (!table) return EXIT_USAGE;
    o.table = *table;
    o.path = args.positional()[0];
    std::string why;
    if (!dictionaryServed(book, o.table, &why)) {
        complain(command, o.path + ": " + why);
        return EXIT_USAGE;
    }
    return word == "-" ? answerInput(command, book, o) : answer(command, book, o, word);
}

}  // namespace zavtool
