// zav page, toc, subpage and spell: pages, the table of contents, sub pages
// and the spell checker, as a host sees them.
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "ZoZizID.h"
#include "book_health.h"
#include "book_host.h"
#include "cli.h"
#include "commands.h"
#include "raw_book.h"

#include <nlohmann/json.hpp>

namespace zavtool {

namespace {

const char kPageHelp[] =
    "usage: zav page BOOK N [--table T] [--raw]\n"
    "\n"
    "Print book page N, or, with --table, page N of table T (a table page index;\n"
    "in a dictionary book the content of word record N). --raw writes the page's\n"
    "bytes unchanged and nothing else.\n";

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

const char kSubpageHelp[] =
    "usage: zav subpage BOOK TABLE SUB INDEX\n"
    "\n"
    "Print sub page SUB of page INDEX of table TABLE. In a dictionary book a sub\n"
    "page is a further content of word record INDEX; in other books the only sub\n"
    "page is the page memo, SUB 127.\n";

const char kSpellHelp[] =
    "usage: zav spell BOOK verify|correct|wildcard WORD [--table N] [--max M]\n"
    "\n"
    "Spell checking of a spell-capable table of a dictionary book (default\n"
    "table 0), through the book module and the dictionary engine:\n"
    "  verify WORD       is WORD spelled as a word of the dictionary (exit 0 yes, 1 no)\n"
    "  correct WORD      up to M suggestions (default 10), best first\n"
    "  wildcard PATTERN  up to M headwords (default 50) matching PATTERN, where\n"
    "                    '*' matches any run of characters and '?' one character\n";

constexpr int kMaxDrawDepth = 200;

bool isHiddenCaption(const std::string &caption) { return caption == "\x01\x02\x03\x04\x05\x06\x07\x08\x09"; }

}  // namespace

int runPage(int argc, char **argv) {
    const std::string command = "page";
    Args args;
    if (!args.parse(command, argc, argv, {"table"}, {"raw"})) return EXIT_USAGE;
    if (args.help()) {
        std::fputs(kPageHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 2) return usageError(command, "expected BOOK and a page number N");
    auto number = integerArgument(command, "N", args.positional()[1], 0, 0xFFFFFFFFll);
    if (!number) return EXIT_USAGE;
    HostBook book;
    if (int rc = openForCommand(command, args.positional()[0], book)) return rc;
    int32_t table = -1;
    int64_t count;
    if (args.value("table")) {
        auto t = tableOption(command, args, book);
        if (!t) return EXIT_USAGE;
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
    std::optional<std::string> content;
    if (table >= 0) {
        PageRead page = readTablePage(book, table, *number);
        if (!page.content) {
            complain(command, args.positional()[0] + ": " + page.error);
            return EXIT_USAGE;
        }
        content = std::move(page.content);
    } else if (!(content = readPage(book, table, *number))) {
        complain(command, args.positional()[0] + ": " + what + " cannot be read: the book is damaged there");
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

namespace {

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
    if (!args.parse(command, argc, argv, {"table"}, {"all", "json"})) return EXIT_USAGE;
    if (args.help()) {
        std::fputs(kTocHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 1) return usageError(command, "expected one BOOK");
    const std::string &path = args.positional()[0];
    HostBook book;
    if (int rc = openForCommand(command, path, book)) return rc;
    auto table = tableOption(command, args, book);
    if (!table) return EXIT_USAGE;
    int64_t count = walkableItems(command, book, *table);
    bool all = args.flag("all"), json = args.flag("json");
    RawBook raw;
    uint32_t vpList = 0;
    if (all && count > 0) {
        std::string error;
        tovix::TableRecord record;
        if (!raw.open(path, &error) || !raw.table(*table, &record)) {
            complain(command, error.empty() ? path + ": the table record cannot be read" : error);
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

int runSubpage(int argc, char **argv) {
    const std::string command = "subpage";
    Args args;
    if (!args.parse(command, argc, argv, {}, {})) return EXIT_USAGE;
    if (args.help()) {
        std::fputs(kSubpageHelp, stdout);
        return EXIT_OK;
    }
    const auto &p = args.positional();
    if (p.size() != 4) return usageError(command, "expected BOOK TABLE SUB INDEX");
    auto table = integerArgument(command, "TABLE", p[1], 0, 254);
    auto sub = integerArgument(command, "SUB", p[2], -0x80000000ll, 0x7FFFFFFFll);
    auto index = integerArgument(command, "INDEX", p[3], 0, 0xFFFFFFFFll);
    if (!table || !sub || !index) return EXIT_USAGE;
    HostBook book;
    if (int rc = openForCommand(command, p[0], book)) return rc;
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

int runSpell(int argc, char **argv) {
    const std::string command = "spell";
    Args args;
    if (!args.parse(command, argc, argv, {"table", "max"}, {})) return EXIT_USAGE;
    if (args.help()) {
        std::fputs(kSpellHelp, stdout);
        return EXIT_OK;
    }
    const auto &p = args.positional();
    if (p.size() != 3) return usageError(command, "expected BOOK, one of verify, correct, wildcard, and a WORD");
    const std::string &mode = p[1], &word = p[2];
    if (mode != "verify" && mode != "correct" && mode != "wildcard")
        return usageError(command, "unknown mode '" + mode + "': use verify, correct or wildcard");
    if (word.empty() || word.size() > 255) return usageError(command, "WORD must hold 1 to 255 bytes");
    int64_t max = mode == "wildcard" ? 50 : 10;
    if (auto v = args.value("max")) {
        auto m = integerArgument(command, "--max", *v, 1, 255);
        if (!m) return EXIT_USAGE;
        max = *m;
    }
    HostBook book;
    if (int rc = openForCommand(command, p[0], book)) return rc;
    auto table = tableOption(command, args, book);
    if (!table) return EXIT_USAGE;
    if (!book.isDictionary()) {
        complain(command, "spell checking needs a dictionary book (kind 1)");
        return EXIT_FAILED;
    }
    uint32_t dictId = static_cast<uint32_t>(ZAVGetDictClass(book, *table));
    if ((dictId & 0xFF) != 1 || ((dictId >> 16) & 0xFF) != 1 || (dictId >> 24) != 0) {
        complain(command, "table " + std::to_string(*table) + " (dictId " + hex(dictId, 8) + ") is not spell-capable");
        return EXIT_FAILED;
    }
    auto w = reinterpret_cast<intptr_t>(word.c_str());
    if (mode == "verify") {
        int32_t r = EBDSCVerify(book, *table, w, 0);
        std::printf("%s: %s\n", escapeText(word).c_str(), r ? "spelled correctly" : "not in the dictionary");
        return r ? EXIT_OK : EXIT_FAILED;
    }
    if (mode == "correct") {
        std::vector<char> slots(static_cast<size_t>(max) * ZOZIZID_SLOT_SIZE, '\0');
        int32_t r =
            EBDSCCorrection(book, *table, w, reinterpret_cast<intptr_t>(slots.data()), static_cast<uint32_t>(max));
        if (r < 0 || r > max) r = 0;
        for (int32_t i = 0; i < r; ++i) {
            char *slot = slots.data() + static_cast<size_t>(i) * ZOZIZID_SLOT_SIZE;
            slot[ZOZIZID_SLOT_SIZE - 1] = '\0';
            std::printf("%s\n", escapeText(slot).c_str());
        }
        if (r == 0) std::printf("no suggestions for %s\n", escapeText(word).c_str());
        return r ? EXIT_OK : EXIT_FAILED;
    }
    constexpr size_t kListSize = size_t{64} * 1024;
    std::vector<char> list(kListSize + 1, '\0');
    int32_t r = EBDSCWildcard(book, *table, w, reinterpret_cast<intptr_t>(list.data()), static_cast<uint32_t>(max),
                              static_cast<intptr_t>(kListSize));
    // The list is NUL-separated and ends with an empty entry.
    size_t at = 0;
    int32_t shown = 0;
    while (shown < r && at < kListSize && list[at] != '\0') {
        std::string entry(list.data() + at);
        std::printf("%s\n", escapeText(entry).c_str());
        at += entry.size() + 1;
        ++shown;
    }
    if (shown == 0) std::printf("no words match %s\n", escapeText(word).c_str());
    return shown ? EXIT_OK : EXIT_FAILED;
}

}  // namespace zavtool
