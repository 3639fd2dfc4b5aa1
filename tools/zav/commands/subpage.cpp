// zav subpage: a sub page (a dictionary book's further content of a word,
// or a page memo), as a host reads it.
#include <cstdio>
#include <string>

#include "commands/commands.h"
#include "core/book_host.h"
#include "core/cli.h"

namespace zavtool {

namespace {

const char kSubpageHelp[] =
    "usage: zav subpage BOOK TABLE SUB INDEX\n"
    "\n"
    "Print sub page SUB of page INDEX of table TABLE. In a dictionary book a sub\n"
    "page is a further content of word record INDEX; in other books the only sub\n"
    "page is the page memo, SUB 127.\n";

}  // namespace

int runSubpage(int argc, char **argv) {
    const std::string command = "subpage";
    Args args;
    if (Status parsed = args.parse(argc, argv, {}, {}); !parsed) return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kSubpageHelp, stdout);
        return EXIT_OK;
    }
    const auto &p = args.positional();
    if (p.size() != 4) return usageError(command, "expected BOOK TABLE SUB INDEX");
    auto table = integerArgument("TABLE", p[1], 0, 254);
    auto sub = integerArgument("SUB", p[2], -0x80000000ll, 0x7FFFFFFFll);
    auto index = integerArgument("INDEX", p[3], 0, 0xFFFFFFFFll);
    for (const Result<int64_t> *argument : {&table, &sub, &index})
        if (!*argument) complain(command, argument->reason());
    if (!table || !sub || !index) return EXIT_USAGE;
    HostBook book;
    if (Status opened = openBook(p[0], book); !opened) return reportFailure(command, opened);
    if (*table >= book.tableCount()) {
        complain(command,
                 "table " + p[1] + " does not exist: the book has " + std::to_string(book.tableCount()) + " tables");
        return EXIT_FAILED;
    }
    int32_t t = static_cast<int32_t>(*table), s = static_cast<int32_t>(*sub);
    uint32_t i = static_cast<uint32_t>(*index);
    std::string what = "sub page " + p[2] + " of page " + p[3] + " of table " + p[1];
    if (!book.isDictionary() && s == MEMO_SUB_NUMBER) what = "the memo of page " + p[3] + " of table " + p[1];
    auto content = readSubPage(book, t, s, i);
    if (!content) {
        complain(command, what + " does not exist");
        return EXIT_FAILED;
    }
    std::printf("%s: %zu bytes\n", what.c_str(), content->size());
    std::fputs(escapeContent(*content).c_str(), stdout);
    if (!content->empty() && content->back() != '\n') std::fputc('\n', stdout);
    return EXIT_OK;
}

}  // namespace zavtool
