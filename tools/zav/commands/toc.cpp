// zav toc: a table's table of contents, drawn as a host walks it or over
// the links the file stores.
#include <cstdio>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "core/book_host.h"
#include "core/cli.h"
#include "core/raw_book.h"
#include "core/toc_tree.h"

namespace zavtool {

namespace {

const char kTocHelp[] =
    "usage: zav toc BOOK [--table N] [--all] [--json]\n"
    "\n"
    "Draw the table of contents of table N (default 0) as a host walks it: from\n"
    "the root over first children and next siblings, hidden items skipped. Each\n"
    "line shows the caption, the item number and the page the item leads to.\n"
    "--all follows the stored first-child and next-sibling links instead and\n"
    "shows hidden items too, marked [hidden]. --json prints the tree as one JSON\n"
    "object: {\"table\", \"items\": [{\"item\", \"caption\", \"page\", \"hidden\",\n"
    "\"children\": [...]}], \"damaged\"}. Exit status 2 when the tree is damaged.\n";

void drawNodes(const std::vector<TocNode> &nodes, const std::string &prefix, bool topLevel, int64_t count) {
    for (size_t i = 0; i < nodes.size(); ++i) {
        const TocNode &n = nodes[i];
        bool last = i + 1 == nodes.size();
        std::string line = topLevel ? "" : prefix + (last ? "\u2514\u2500\u2500 " : "\u251C\u2500\u2500 ");
        if (n.problem == "beyond") {
            std::printf("%s(item %d lies beyond the %lld items of the tree)\n", line.c_str(), n.item,
                        static_cast<long long>(count));
            continue;
        }
        if (n.problem == "again") {
            std::printf("%s(item %d again: the tree links are cyclic)\n", line.c_str(), n.item);
            continue;
        }
        std::string label = n.hidden ? "[hidden]" : n.caption.empty() ? "(no caption)" : escapeText(n.caption);
        label += "  [item " + std::to_string(n.item) + (n.page >= 0 ? ", page " + std::to_string(n.page) : "") + "]";
        std::printf("%s%s\n", line.c_str(), label.c_str());
        drawNodes(n.children, topLevel ? "" : prefix + (last ? "    " : "\u2502   "), false, count);
    }
}

}  // namespace

int runToc(int argc, char **argv) {
    const std::string command = "toc";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"table"}, {"all", "json"}); !parsed)
        return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kTocHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 1) return usageError(command, "expected one BOOK");
    const std::string &path = args.positional()[0];
    HostBook book;
    if (Status opened = openBook(path, book); !opened) return reportFailure(command, opened);
    Result<int32_t> table = tableOption(args, book);
    if (!table) return reportFailure(command, table.failure());
    int64_t claimed = 0, count = walkableItems(book, *table, &claimed);
    if (count < claimed)
        complain(command, "table " + std::to_string(*table) + " claims " + std::to_string(claimed) +
                              " tree items, more than the file can hold (see 'zav check')");
    bool all = args.flag("all"), json = args.flag("json");
    RawBook raw;
    uint32_t vpList = 0;
    if (all && count > 0) {
        tovix::TableRecord record;
        if (Status opened = raw.open(path); !opened) return reportFailure(command, opened);
        if (!raw.table(*table, &record)) {
            complain(command, path + ": the table record cannot be read");
            return EXIT_USAGE;
        }
        vpList = record.field(tovix::TBL_VP_LIST_OFFSET);
    }
    TocWalker walker(book, *table, count, all, &raw, vpList);
    std::vector<TocNode> tree = count > 0 ? walker.walk() : std::vector<TocNode>();
    if (json) {
        nlohmann::json j = {{"table", *table}, {"items", tocJson(tree)}, {"damaged", walker.damaged()}};
        std::printf("%s\n", j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    } else if (count == 0) {
        std::printf("table %d has no table of contents\n", *table);
    } else {
        drawNodes(tree, "", true, count);
    }
    if (walker.damaged()) {
        complain(command, path + ": the tree of table " + std::to_string(*table) + " is damaged (see 'zav check')");
        return EXIT_USAGE;
    }
    return EXIT_OK;
}

}  // namespace zavtool
