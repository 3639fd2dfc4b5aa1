// zav page, toc, subpage and spell: pages, the table of contents, sub pages
// and the spell checker, as a host sees them.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "ZoZizID.h"
#include "book_host.h"
#include "cli.h"
#include "commands.h"
#include "raw_book.h"

namespace zavtool {

namespace {

const char kPageHelp[] =
    "usage: zav page BOOK N [--table T] [--raw]\n"
    "\n"
    "Print book page N, or, with --table, page N of table T (a table page index;\n"
    "in a dictionary book the content of word record N). --raw writes the page's\n"
    "bytes unchanged and nothing else.\n";

const char kTocHelp[] =
    "usage: zav toc BOOK [--table N] [--all]\n"
    "\n"
    "Draw the table of contents of table N (default 0) as a host walks it: from\n"
    "the root over first children and next siblings, hidden items skipped. Each\n"
    "line shows the caption, the item number and the page the item leads to.\n"
    "--all follows the stored first-child and next-sibling links instead and\n"
    "shows hidden items too, marked [hidden].\n";

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

std::string itemLabel(BookHandle book, int32_t table, int32_t item) {
    Localized caption = itemText(book, table, item, ZAV_LANG_CHOOSE);
    Localized base = itemText(book, table, item, ZAV_LANG_BASE);
    std::string label;
    if (base.language != 0 && isHiddenCaption(base.text)) label = "[hidden]";
    else label = caption.language ? escapeText(inUtf8(caption.text, caption.language)) : std::string("(no caption)");
    int32_t page = EBDVPItemToPage(book, table, item);
    label += "  [item " + std::to_string(item);
    if (page >= 0) label += ", page " + std::to_string(page);
    label += "]";
    return label;
}

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
    auto content = readPage(book, table, *number);
    if (!content) {
        complain(command, what + " cannot be read: the book is damaged there");
        return EXIT_FAILED;
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

int runToc(int argc, char **argv) {
    const std::string command = "toc";
    Args args;
    if (!args.parse(command, argc, argv, {"table"}, {"all"})) return EXIT_USAGE;
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
    int64_t count = static_cast<uint32_t>(EBDVPGetCount(book, *table));
    if (count == 0) {
        std::printf("table %d has no table of contents\n", *table);
        return EXIT_OK;
    }
    // Each item takes a 4-byte list entry and a 16-byte record: a count beyond
    // what the file can hold is damage, and items past it are not drawn.
    int64_t room = static_cast<int64_t>(book.fileSize() / 20);
    if (count > room) {
        complain(command, "table " + std::to_string(*table) + " claims " + std::to_string(count) +
                              " tree items, more than the file can hold (see 'zav check')");
        count = room;
    }
    bool all = args.flag("all");
    RawBook raw;
    tovix::TableRecord record;
    uint32_t vpList = 0;
    if (all) {
        std::string error;
        if (!raw.open(path, &error) || !raw.table(*table, &record)) {
            complain(command, error.empty() ? path + ": the table record cannot be read" : error);
            return EXIT_FAILED;
        }
        vpList = record.field(tovix::TBL_VP_LIST_OFFSET);
    }

    // Every item is drawn at most once; a link back to an item already drawn
    // is shown and not followed, so a damaged tree cannot loop.
    std::vector<uint8_t> seen(static_cast<size_t>(count) + 1, 0);
    bool damaged = false;
    auto children = [&](int32_t item, bool topLevel) {
        std::vector<int32_t> list;
        if (all) {
            uint32_t at;
            VpLinks links;
            int32_t next = item;
            if (!topLevel) {
                if (!raw.vpItem(vpList, static_cast<uint32_t>(item), &at, &links)) return list;
                next = static_cast<int32_t>(links.firstChild);
            }
            while (next > 0) {
                list.push_back(next);
                if (next > count || seen[static_cast<size_t>(next)]) break;
                if (!raw.vpItem(vpList, static_cast<uint32_t>(next), &at, &links)) break;
                next = static_cast<int32_t>(links.nextSibling);
                if (list.size() > static_cast<size_t>(count)) break;
            }
        } else {
            int32_t next = topLevel ? item : EBDVPGetChildItem(book, *table, item);
            while (next > 0) {
                list.push_back(next);
                if (next > count || seen[static_cast<size_t>(next)] || list.size() > static_cast<size_t>(count)) break;
                next = EBDVPGetNextSiblingItem(book, *table, next);
            }
        }
        return list;
    };

    struct Frame {
        std::vector<int32_t> items;
        size_t next;
        std::string prefix;
        bool topLevel;
    };
    std::vector<Frame> stack;
    stack.push_back({children(EBDVPGetRootItem(book, *table), true), 0, "", true});
    while (!stack.empty()) {
        Frame &f = stack.back();
        if (f.next == f.items.size()) {
            stack.pop_back();
            continue;
        }
        int32_t item = f.items[f.next++];
        bool last = f.next == f.items.size();
        std::string line = f.topLevel ? "" : f.prefix + (last ? "\u2514\u2500\u2500 " : "\u251C\u2500\u2500 ");
        if (item > count) {
            std::printf("%s(item %d lies beyond the %lld items of the tree)\n", line.c_str(), item,
                        static_cast<long long>(count));
            damaged = true;
            continue;
        }
        if (seen[static_cast<size_t>(item)]) {
            std::printf("%s(item %d again: the tree links are cyclic)\n", line.c_str(), item);
            damaged = true;
            continue;
        }
        seen[static_cast<size_t>(item)] = 1;
        std::printf("%s%s\n", line.c_str(), itemLabel(book, *table, item).c_str());
        std::string childPrefix = f.topLevel ? "" : f.prefix + (last ? "    " : "\u2502   ");
        if (stack.size() > kMaxDrawDepth) {
            std::printf("%s(deeper items not shown)\n", childPrefix.c_str());
            continue;
        }
        std::vector<int32_t> below = children(item, false);
        if (!below.empty()) stack.push_back({std::move(below), 0, childPrefix, false});
    }
    if (damaged) {
        complain(command, "the tree of table " + std::to_string(*table) + " is damaged (see 'zav check')");
        return EXIT_FAILED;
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
        complain(command, "table " + p[1] + " does not exist: the book has " + std::to_string(book.tableCount()) +
                              " tables");
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
        complain(command, "table " + std::to_string(*table) + " (dictId " + hex(dictId, 8) +
                              ") is not spell-capable");
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
        int32_t r = EBDSCCorrection(book, *table, w, reinterpret_cast<intptr_t>(slots.data()), static_cast<uint32_t>(max));
        if (r < 0 || r > max) r = 0;
        for (int32_t i = 0; i < r; ++i) {
            char *slot = slots.data() + static_cast<size_t>(i) * ZOZIZID_SLOT_SIZE;
            slot[ZOZIZID_SLOT_SIZE - 1] = '\0';
            std::printf("%s\n", escapeText(slot).c_str());
        }
        if (r == 0) std::printf("no suggestions for %s\n", escapeText(word).c_str());
        return r ? EXIT_OK : EXIT_FAILED;
    }
    constexpr size_t kListSize = 64 * 1024;
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
