// zav: the book tool. Reads books through the module's exported calls, checks
// their structures, and builds books from manifests and word lists.
#include <cstdio>
#include <cstring>
#include <string>

#include "core/cli.h"
#include "commands/commands.h"

namespace {

struct Command {
    const char *name;
    int (*run)(int, char **);
    const char *summary;
};

const Command kCommands[] = {
    {"info", zavtool::runInfo, "book properties, languages, shelf levels and one line per table"},
    {"keys", zavtool::runKeys, "list a table's keys with page, offset and attribute"},
    {"lookup", zavtool::runLookup, "look a word up: every entry, any case, suggestions, prefix search"},
    {"page", zavtool::runPage, "print a book page or a table page"},
    {"toc", zavtool::runToc, "draw a table's table of contents"},
    {"subpage", zavtool::runSubpage, "print a sub page (dictionary content or page memo)"},
    {"spell", zavtool::runSpell, "spell checking of a dictionary table: verify, correct, wildcard"},
    {"check", zavtool::runCheck, "validate every structure of a book"},
    {"build", zavtool::runBuild, "build a book from a JSON manifest"},
    {"import", zavtool::runImport, "build a book from a tsv word list, a dictd or a StarDict dictionary"},
    {"export", zavtool::runExport, "write a book's table as a tsv word list, a dictd or a StarDict dictionary"},
    {"index", zavtool::runIndex, "write a book's full-text index beside it"},
    {"search", zavtool::runSearch, "search the text of entries: ranked hits with the words marked"},
    {"serve", zavtool::runServe, "serve books to dictionary clients over TCP (DICT protocol)"},
};

void printUsage(FILE *out) {
    std::fprintf(out,
                 "usage: zav COMMAND [ARGUMENTS]\n"
                 "       zav --version\n"
                 "\n"
                 "Commands:\n");
    for (const Command &c : kCommands) std::fprintf(out, "  %-8s %s\n", c.name, c.summary);
    std::fprintf(out,
                 "\n"
                 "Run 'zav COMMAND --help' for the arguments of one command.\n"
                 "Exit status: 0 success, 1 the answer is no (word not found, 'zav check'\n"
                 "found problems), 2 usage error, or a file, book, page or key that cannot be\n"
                 "read.\n");
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        printUsage(stderr);
        return zavtool::EXIT_USAGE;
    }
    std::string name = argv[1];
    if (name == "--version" || name == "-V") {
        std::printf("zav %s\n", ZAV_VERSION);
        return zavtool::EXIT_OK;
    }
    if (name == "-h" || name == "--help" || name == "help") {
        if (name == "help" && argc > 2) {
            for (const Command &c : kCommands) {
                if (argv[2] == std::string(c.name)) {
                    char helpFlag[] = "--help";
                    char *args[] = {helpFlag, nullptr};
                    return c.run(1, args);
                }
            }
        }
        printUsage(stdout);
        return zavtool::EXIT_OK;
    }
    for (const Command &c : kCommands) {
        if (name == c.name) return c.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "zav: unknown command '%s'\n\n", name.c_str());
    printUsage(stderr);
    return zavtool::EXIT_USAGE;
}
