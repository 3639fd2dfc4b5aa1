// zav toc: a table's table of contents, drawn as a host walks it or over
// the links the file stores.
#include <cstdio>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "commands/commands.h"
#include "core/book_host.h"
#include "core/cli.h"
#include "core/raw_book.h"

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

constexpr int kMaxDrawDepth = 200;

bool isHiddenCaption(const std::string &caption) { return caption == "\x01\x02\x03\x04\x05\x06\x07\x08\x09"; }

// One item of a drawn tree: its label, or the reason it is not followed.
struct TocNode {
    int32_t item = 0;
    std::string caption;
    int32_t page = -1;
    bool hidden = false;
    std::string problem;  // "beyond" or "again": the item is not drawn
    std::vector<TocNode> children;
};

// Walks a table's tree, as a host does or (all) over the stored links. Each
// item is drawn at most once; a link back to an item already drawn is shown
// and not followed, so a damaged tree cannot loop.
class TocWalker {
public:
    TocWalker(const HostBook &book, int32_t table, int64_t count, bool all, RawBook *raw, uint32_t vpList)
        : book_(book),
          table_(table),
          count_(count),
          all_(all),
          raw_(raw),
          vpList_(vpList),
          seen_(static_cast<size_t>(count) + 1, 0) {}

    std::vector<TocNode> walk() { return nodes(children(EBDVPGetRootItem(book_, table_), true), 0); }
    bool damaged() const { return damaged_; }

private:
    std::vector<int32_t> children(int32_t item, bool topLevel) {
        std::vector<int32_t> list;
        int32_t next = item;
        if (all_) {
            uint32_t at;
            VpLinks links;
            if (!topLevel) {
                if (!raw_->vpItem(vpList_, static_cast<uint32_t>(item), &at, &links)) return list;
                next = static_cast<int32_t>(links.firstChild);
            }
            while (next > 0) {
                list.push_back(next);
                if (next > count_ || seen_[static_cast<size_t>(next)]) break;
                if (!raw_->vpItem(vpList_, static_cast<uint32_t>(next), &at, &links)) break;
                next = static_cast<int32_t>(links.nextSibling);
                if (list.size() > static_cast<size_t>(count_)) break;
            }
            return list;
        }
        if (!topLevel) next = EBDVPGetChildItem(book_, table_, item);
        while (next > 0) {
            list.push_back(next);
            if (next > count_ || seen_[static_cast<size_t>(next)] || list.size() > static_cast<size_t>(count_)) break;
            next = EBDVPGetNextSiblingItem(book_, table_, next);
        }
        return list;
    }

    std::vector<TocNode> nodes(const std::vector<int32_t> &items, int depth) {
        std::vector<TocNode> out;
        for (int32_t item : items) {
            TocNode node;
            node.item = item;
            if (item > count_ || seen_[static_cast<size_t>(item)]) {
                node.problem = item > count_ ? "beyond" : "again";
                damaged_ = true;
                out.push_back(std::move(node));
                continue;
            }
            seen_[static_cast<size_t>(item)] = 1;
            describe(&node);
            if (depth < kMaxDrawDepth) node.children = nodes(children(item, false), depth + 1);
            out.push_back(std::move(node));
        }
        return out;
    }

    void describe(TocNode *node) const {
        Localized caption = itemText(book_, table_, node->item, ZAV_LANG_CHOOSE);
        Localized base = itemText(book_, table_, node->item, ZAV_LANG_BASE);
        node->hidden = base.language != 0 && isHiddenCaption(base.text);
        if (caption.language) node->caption = inUtf8(caption.text, caption.language);
        node->page = EBDVPItemToPage(book_, table_, node->item);
    }

    const HostBook &book_;
    int32_t table_;
    int64_t count_;
    bool all_;
    RawBook *raw_;
    uint32_t vpList_;
    std::vector<uint8_t> seen_;
    bool damaged_ = false;
};

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

nlohmann::json nodesJson(const std::vector<TocNode> &nodes) {
    nlohmann::json out = nlohmann::json::array();
    for (const TocNode &n : nodes) {
        nlohmann::json j = {{"item", n.item}};
        if (!n.problem.empty()) {
            j["problem"] = n.problem == "beyond" ? "beyond the tree's items" : "cyclic link";
        } else {
            j["caption"] = n.caption;
            j["page"] = n.page;
            j["hidden"] = n.hidden;
            j["children"] = nodesJson(n.children);
        }
        out.push_back(std::move(j));
    }
    return out;
}

// The item count to walk: a count beyond what the file can hold (a 4-byte
// list entry and a 16-byte record per item) is damage, and items past it
// are not drawn.
int64_t walkableItems(const std::string &command, const HostBook &book, int32_t table) {
    constexpr uint64_t kItemBytes = 20;
    int64_t count = static_cast<uint32_t>(EBDVPGetCount(book, table));
    int64_t room = static_cast<int64_t>(book.fileSize() / kItemBytes);
    if (count > room) {
        complain(command, "table " + std::to_string(table) + " claims " + std::to_string(count) +
                              " tree items, more than the file can hold (see 'zav check')");
        count = room;
    }
    return count;
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
    int64_t count = walkableItems(command, book, *table);
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
        nlohmann::json j = {{"table", *table}, {"items", nodesJson(tree)}, {"damaged", walker.damaged()}};
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
