// zav search: full-text search of the entries of books through their indexes.
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands/commands.h"
#include "core/cli.h"
#include "core/reader_shelf.h"

namespace zavtool {

namespace {

const char kSearchHelp[] =
    "usage: zav search BOOK... QUERY [--count N] [--json]\n"
    "\n"
    "Search the text of the entries of every BOOK (or every book of a folder)\n"
    "through its index ('zav index' writes it) and print the best N hits\n"
    "(default 10), best first: the headword, the book and table, and the text\n"
    "around what matched, the matched words between [ and ]. QUERY: words in\n"
    "any case or accents (all of them must occur), \"a phrase\", a prefix\n"
    "(appl*), AND, OR, NOT and parentheses.\n"
    "\n"
    "  --json   one JSON object: {\"query\", \"hits\": [{\"book\", \"table\",\n"
    "           \"headword\", \"keyIndex\", \"page\", \"offset\", \"snippet\",\n"
    "           \"marks\": [[start, end], ...]}], \"problem\"}; marks are byte\n"
    "           offsets into the snippet (UTF-8)\n"
    "\n"
    "A book without an index, or with one the book has changed since, is\n"
    "named on standard error and not searched. Exit status: 0 hits, 1 none,\n"
    "2 usage error, no book or no index to search.\n";

// The snippet with its marked words between [ and ].
std::string marked(const char *snippet, size_t length, const uint32_t *marks, size_t count) {
    std::string out;
    size_t at = 0;
    for (size_t i = 0; i < count; ++i) {
        size_t start = marks[2 * i], end = marks[2 * i + 1];
        if (start < at || end > length || start > end) continue;
        out.append(snippet + at, start - at);
        out += "[";
        out.append(snippet + start, end - start);
        out += "]";
        at = end;
    }
    out.append(snippet + at, length - at);
    return out;
}

}  // namespace

int runSearch(int argc, char **argv) {
    const std::string command = "search";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"count"}, {"json"}); !parsed) return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kSearchHelp, stdout);
        return EXIT_OK;
    }
    const std::vector<std::string> &words = args.positional();
    if (words.size() < 2) return usageError(command, "expected BOOK... QUERY");
    int64_t count = 10;
    if (auto v = args.value("count")) {
        auto n = integerArgument("--count", *v, 1, 1000);
        if (!n) return reportFailure(command, n.failure());
        count = *n;
    }
    ReaderShelf shelf(ZAVReaderOpen());
    if (!shelf) return reportFailure(command, Failure{"out of memory"});
    for (size_t i = 0; i + 1 < words.size(); ++i) ZAVReaderAdd(shelf.get(), words[i].c_str(), nullptr);
    for (size_t i = 0; i < ZAVReaderProblemCount(shelf.get()); ++i)
        complain(command, ZAVReaderProblemReason(shelf.get(), i));
    if (ZAVReaderDatabaseCount(shelf.get()) == 0) {
        complain(command, "no book with keys to search");
        return EXIT_USAGE;
    }
    const std::string &query = words.back();
    ZAVReaderLimits limits{};
    limits.size = sizeof limits;
    ReaderResult result(ZAVReaderSearch(shelf.get(), "*", query.c_str(), static_cast<size_t>(count), &limits));
    int32_t status = ZAVReaderResultStatus(result.get());
    std::string problem = status == ZAVR_OK ? "" : reasonOf(result.get());
    if (status == ZAVR_BAD_PATTERN || status == ZAVR_BAD_ARGUMENT) return usageError(command, problem);
    size_t hits = ZAVReaderResultCount(result.get());
    if (!problem.empty()) complain(command, problem);
    bool json = args.flag("json");
    nlohmann::json list = nlohmann::json::array();
    for (size_t i = 0; i < hits; ++i) {
        const ZAVReaderAnswer *a = ZAVReaderResultAt(result.get(), i);
        ZAVReaderDatabaseInfo info{};
        ZAVReaderDatabase(shelf.get(), a->database, &info);
        size_t length = 0, markCount = 0;
        const uint32_t *marks = nullptr;
        const char *snippet = ZAVReaderResultSnippet(result.get(), i, &length, &marks, &markCount);
        if (json) {
            nlohmann::json m = nlohmann::json::array();
            for (size_t k = 0; k < markCount; ++k) m.push_back({marks[2 * k], marks[2 * k + 1]});
            list.push_back({{"book", info.name},
                            {"table", info.table},
                            {"headword", a->headword},
                            {"keyIndex", a->key_index},
                            {"page", a->page},
                            {"offset", a->offset},
                            {"snippet", snippet ? std::string(snippet, length) : std::string()},
                            {"marks", m}});
            if (!snippet && a->reason) list.back()["reason"] = a->reason;
        } else {
            std::printf(
                "%s  (%s)\n    %s\n", escapeText(a->headword).c_str(), info.name,
                snippet ? escapeText(marked(snippet, length, marks, markCount)).c_str() : (a->reason ? a->reason : ""));
        }
    }
    if (json) {
        nlohmann::json out = {{"query", query}, {"hits", list}};
        out["problem"] = problem.empty() ? nlohmann::json(nullptr) : nlohmann::json(problem);
        std::printf("%s\n", out.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    }
    if (hits == 0 && status != ZAVR_OK && status != ZAVR_NOT_FOUND) return EXIT_USAGE;
    return hits ? EXIT_OK : EXIT_FAILED;
}

}  // namespace zavtool
