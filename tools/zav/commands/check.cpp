// zav check: a validator that walks every structure of a book with the
// module's own readers (core/book_check.h) and reports each problem with the
// file offset where the faulty value is stored, as text or JSON.
#include <cstdio>
#include <string>

#include <nlohmann/json.hpp>

#include "commands/commands.h"
#include "core/book_check.h"
#include "core/book_host.h"
#include "core/cli.h"
#include "core/raw_book.h"

namespace zavtool {

namespace {

const char kCheckHelp[] =
    "usage: zav check BOOK [--json]\n"
    "\n"
    "Walk every structure of BOOK and report each problem with the file offset\n"
    "of the faulty value: offsets outside the file, counts whose lists overrun\n"
    "it, string lists that run past its end, key lists that are not ascending\n"
    "under the key collation, keys that a look-up through the module cannot\n"
    "find, page-to-key and page-to-item entries out of range, tree links that\n"
    "are out of range, cyclic or whose previous links disagree, and pages that\n"
    "run past the end of the file. Dictionary tables are checked through the\n"
    "dictionary engine (their words must be found by a look-up).\n"
    "\n"
    "  --json   print the report as one JSON object\n"
    "\n"
    "Exit status: 0 the book is sound, 1 it has problems, 2 usage or I/O error.\n";

}  // namespace

int runCheck(int argc, char **argv) {
    const std::string command = "check";
    Args args;
    if (Status parsed = args.parse(argc, argv, {}, {"json"}); !parsed) return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kCheckHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 1) return usageError(command, "expected one BOOK");
    const std::string &path = args.positional()[0];
    RawBook raw;
    if (Status opened = raw.open(path); !opened) return reportFailure(command, opened);
    // The look-ups are replayed through the module; a book it refuses is
    // still walked, and the refusal is reported by the header checks.
    HostBook host;
    bool opened = host.open(path).ok();
    if (opened) pointEngineAtBook(path, host);
    BookChecker checker(raw, opened ? &host : nullptr);
    checker.run();
    if (!opened && checker.total == 0)
        checker.problems.push_back({0, "header", "the module refuses to open the book"}), ++checker.total;

    if (args.flag("json")) {
        nlohmann::json report;
        report["book"] = path;
        report["size"] = raw.size();
        report["sound"] = checker.total == 0;
        report["problemCount"] = checker.total;
        report["tables"] = checker.tableCount;
        report["pages"] = checker.pageCount;
        report["keys"] = checker.keyCount;
        report["treeItems"] = checker.itemCount;
        nlohmann::json list = nlohmann::json::array();
        for (const Problem &p : checker.problems)
            list.push_back(
                {{"offset", p.offset}, {"offsetHex", hex(p.offset, 8)}, {"where", p.where}, {"problem", p.what}});
        report["problems"] = std::move(list);
        report["truncated"] = checker.total > checker.problems.size();
        std::puts(report.dump(2, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else {
        for (const Problem &p : checker.problems)
            std::printf("%s: %s: %s: %s\n", path.c_str(), hex(p.offset, 8).c_str(), p.where.c_str(), p.what.c_str());
        if (checker.total > checker.problems.size())
            std::printf("%s: ... %llu more problems not listed\n", path.c_str(),
                        static_cast<unsigned long long>(checker.total - checker.problems.size()));
        if (checker.total == 0)
            std::printf(
                "%s: sound (%llu tables, %llu pages, %llu keys, %llu tree items)\n", path.c_str(),
                static_cast<unsigned long long>(checker.tableCount), static_cast<unsigned long long>(checker.pageCount),
                static_cast<unsigned long long>(checker.keyCount), static_cast<unsigned long long>(checker.itemCount));
        else
            std::printf("%s: %llu problem%s\n", path.c_str(), static_cast<unsigned long long>(checker.total),
                        checker.total == 1 ? "" : "s");
    }
    return checker.total == 0 ? EXIT_OK : EXIT_FAILED;
}

}  // namespace zavtool
