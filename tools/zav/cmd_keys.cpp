// zav keys and zav lookup: the key index of a table, as a host sees it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "book_host.h"
#include "cli.h"
#include "commands.h"

namespace zavtool {

namespace {

const char kKeysHelp[] =
    "usage: zav keys BOOK [--table N] [--from K] [--count M]\n"
    "\n"
    "List the keys of table N (default 0) from key index K (default 0), at most M\n"
    "of them (default all): index, text, page, offset within the page and the\n"
    "key's attribute. In a dictionary book the keys are the engine's words and\n"
    "the page of key i is table page i.\n";

const char kLookupHelp[] =
    "usage: zav lookup BOOK WORD [--table N]\n"
    "\n"
    "Look WORD up in table N (default 0) as a host does (ZAVSearchKeyWord and\n"
    "ZAVIsExistWord), print the matching key or, when there is none, the nearest\n"
    "key after the word, and print the entry's page from the key's page and\n"
    "offset. Exit status 0 when the word is found, 1 when it is not.\n";

}  // namespace

int runKeys(int argc, char **argv) {
    const std::string command = "keys";
    Args args;
    if (!args.parse(command, argc, argv, {"table", "from", "count"}, {})) return EXIT_USAGE;
    if (args.help()) {
        std::fputs(kKeysHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 1) return usageError(command, "expected one BOOK");
    int64_t from = 0, count = -1;
    if (auto v = args.value("from")) {
        auto n = integerArgument(command, "--from", *v, 0, 0xFFFFFFFFll);
        if (!n) return EXIT_USAGE;
        from = *n;
    }
    if (auto v = args.value("count")) {
        auto n = integerArgument(command, "--count", *v, 0, 0xFFFFFFFFll);
        if (!n) return EXIT_USAGE;
        count = *n;
    }
    HostBook book;
    if (int rc = openForCommand(command, args.positional()[0], book)) return rc;
    auto table = tableOption(command, args, book);
    if (!table) return EXIT_USAGE;
    bool dictionary = book.isDictionary();
    int64_t keys = static_cast<uint32_t>(ZAVGetKeyCount(book, *table));
    // Each key of a plain book takes a 4-byte list entry and a 12-byte record:
    // a count beyond what the file can hold is damage, not keys to list.
    int64_t room = static_cast<int64_t>(book.fileSize() / 16);
    if (!dictionary && keys > room) {
        complain(command, "table " + std::to_string(*table) + " claims " + std::to_string(keys) +
                              " keys, more than the file can hold; listing the first " + std::to_string(room) +
                              " (see 'zav check')");
        keys = room;
    }
    int64_t end = count < 0 ? keys : std::min<int64_t>(keys, from + count);
    for (int64_t i = from; i < end; ++i) {
        uint32_t k = static_cast<uint32_t>(i);
        int32_t result = 0;
        std::string text = keyWord(book, *table, k, &result);
        if (dictionary) {
            std::printf("%lld\t%s\tpage %d\n", static_cast<long long>(i), escapeText(text).c_str(),
                        ZAVGetKeyPageNo(book, *table, k));
        } else {
            std::printf("%lld\t%s\tpage %u\toffset %u\tattribute %d\n", static_cast<long long>(i),
                        escapeText(text).c_str(), static_cast<uint32_t>(ZAVGetKeyPageNo(book, *table, k)),
                        static_cast<uint32_t>(ZAVGetKeyPageOffset(book, *table, k)), result);
        }
    }
    return EXIT_OK;
}

int runLookup(int argc, char **argv) {
    const std::string command = "lookup";
    Args args;
    if (!args.parse(command, argc, argv, {"table"}, {})) return EXIT_USAGE;
    if (args.help()) {
        std::fputs(kLookupHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 2) return usageError(command, "expected BOOK and WORD");
    const std::string &word = args.positional()[1];
    if (word.empty()) return usageError(command, "WORD must not be empty");
    if (word.size() > 65535) return usageError(command, "WORD is longer than any key can be (65535 bytes)");
    HostBook book;
    if (int rc = openForCommand(command, args.positional()[0], book)) return rc;
    auto table = tableOption(command, args, book);
    if (!table) return EXIT_USAGE;

    int32_t keyCount = ZAVGetKeyCount(book, *table);
    if (keyCount <= 0) {
        complain(command, "table " + std::to_string(*table) + " has no keys");
        return EXIT_FAILED;
    }
    uint32_t index =
        static_cast<uint32_t>(ZAVSearchKeyWord(book, *table, word.c_str(), static_cast<int32_t>(word.size())));
    bool exists = ZAVIsExistWord(book, *table, word.c_str()) != 0;
    std::string key = keyWord(book, *table, index);
    if (exists)
        std::printf("found: %s (key %u)\n", escapeText(key).c_str(), index);
    else
        std::printf("not found: %s; nearest key %s (key %u)\n", escapeText(word).c_str(), escapeText(key).c_str(),
                    index);

    int64_t page;
    uint32_t offset = 0;
    if (book.isDictionary()) {
        page = index;  // a dictionary key leads to the table page of the same index
    } else {
        page = static_cast<uint32_t>(ZAVGetKeyPageNo(book, *table, index));
        offset = static_cast<uint32_t>(ZAVGetKeyPageOffset(book, *table, index));
    }
    auto content = readPage(book, *table, page);
    if (!content) {
        complain(command, "the key leads to table page " + std::to_string(page) + ", which cannot be read");
        return EXIT_FAILED;
    }
    if (offset > content->size()) {
        complain(command, "the key's offset " + std::to_string(offset) + " lies past the end of table page " +
                              std::to_string(page) + " (" + std::to_string(content->size()) + " bytes)");
        return EXIT_FAILED;
    }
    std::printf("page %lld, offset %u:\n", static_cast<long long>(page), offset);
    std::string entry = content->substr(offset);
    std::fputs(escapeContent(entry).c_str(), stdout);
    if (entry.empty() || entry.back() != '\n') std::fputc('\n', stdout);
    return exists ? EXIT_OK : EXIT_FAILED;
}

}  // namespace zavtool
