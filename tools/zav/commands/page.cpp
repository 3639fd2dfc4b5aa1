// zav page: a book page or a table page, as a host reads it.
#include <cstdio>
#include <string>

#include "commands/commands.h"
#include "core/book_health.h"
#include "core/book_host.h"
#include "core/cli.h"

namespace zavtool {

namespace {

const char kPageHelp[] =
    "usage: zav page BOOK N [--table T] [--raw]\n"
    "\n"
    "Print book page N, or, with --table, page N of table T (a table page index;\n"
    "in a dictionary book the content of word record N). --raw writes the page's\n"
    "bytes unchanged and nothing else.\n";

}  // namespace

int runPage(int argc, char **argv) {
    const std::string command = "page";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"table"}, {"raw"}); !parsed) return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kPageHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 2) return usageError(command, "expected BOOK and a page number N");
    auto number = integerArgument("N", args.positional()[1], 0, 0xFFFFFFFFll);
    if (!number) return reportFailure(command, number.failure());
    HostBook book;
    if (Status opened = openBook(args.positional()[0], book); !opened) return reportFailure(command, opened);
    int32_t table = -1;
    int64_t count;
    if (args.value("table")) {
        Result<int32_t> t = tableOption(args, book);
        if (!t) return reportFailure(command, t.failure());
        table = *t;
        count = static_cast<uint32_t>(ZAVGetTablePageCount(book, table));
    } else {
        count = ZAVGetPageCount(book);
    }
    std::string what = table < 0 ? "book page " + std::to_string(*number)
                                 : "page " + std::to_string(*number) + " of table " + std::to_string(table);
    if (*number >= count) {
        complain(command, what + " does not exist: there are " + std::to_string(count) + " pages");
        return EXIT_FAILED;
    }
    Result<std::string> content = table >= 0 ? readTablePage(book, table, *number) : readPage(book, table, *number);
    if (!content) {
        // A book page says where the fault lies; a table page's reason does.
        std::string reason = table >= 0 ? content.reason() : content.reason() + ": the book is damaged there";
        complain(command, args.positional()[0] + ": " + reason);
        return EXIT_USAGE;
    }
    if (args.flag("raw")) {
        std::fwrite(content->data(), 1, content->size(), stdout);
        return EXIT_OK;
    }
    std::printf("%s: %zu bytes\n", what.c_str(), content->size());
    std::fputs(escapeContent(*content).c_str(), stdout);
    if (!content->empty() && content->back() != '\n') std::fputc('\n', stdout);
    return EXIT_OK;
}

}  // namespace zavtool
