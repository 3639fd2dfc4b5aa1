// zav keys: the key index of a table, as a host sees it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include <nlohmann/json.hpp>

#include "book_health.h"
#include "book_host.h"
#include "cli.h"
#include "commands.h"

namespace zavtool {

namespace {

const char kKeysHelp[] =
    "usage: zav keys BOOK [--table N] [--from K] [--count M] [--json]\n"
    "\n"
    "List the keys of table N (default 0) from key index K (default 0), at most M\n"
    "of them (default all): index, text, page, offset within the page and the\n"
    "key's attribute. In a dictionary book the keys are the engine's words and\n"
    "the page of key i is table page i. --json prints one JSON object:\n"
    "{\"table\", \"keyCount\", \"keys\": [{\"keyIndex\", \"key\", \"page\", \"offset\",\n"
    "\"attribute\"}]}.\n";

}  // namespace

int runKeys(int argc, char **argv) {
    const std::string command = "keys";
    Args args;
    if (!args.parse(command, argc, argv, {"table", "from", "count"}, {"json"})) return EXIT_USAGE;
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
    std::string why;
    if (!dictionaryServed(book, *table, &why)) {
        complain(command, args.positional()[0] + ": " + why);
        return EXIT_USAGE;
    }
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
    bool json = args.flag("json");
    nlohmann::json list = nlohmann::json::array();
    for (int64_t i = from; i < end; ++i) {
        uint32_t k = static_cast<uint32_t>(i);
        int32_t result = 0;
        std::string text = keyWord(book, *table, k, &result);
        int32_t length = ZAVGetKeyWordLength(book, *table, k);
        if (length <= 0 || text.size() != static_cast<size_t>(length)) {
            complain(command, args.positional()[0] + ": key " + std::to_string(i) + " of table " +
                                  std::to_string(*table) + " cannot be read (see 'zav check')");
            return EXIT_USAGE;
        }
        int64_t page =
            dictionary ? ZAVGetKeyPageNo(book, *table, k) : static_cast<uint32_t>(ZAVGetKeyPageNo(book, *table, k));
        uint32_t offset = dictionary ? 0 : static_cast<uint32_t>(ZAVGetKeyPageOffset(book, *table, k));
        if (json) {
            list.push_back({{"keyIndex", i},
                            {"key", text},
                            {"page", page},
                            {"offset", offset},
                            {"attribute", dictionary ? 0 : result}});
        } else if (dictionary) {
            std::printf("%lld\t%s\tpage %lld\n", static_cast<long long>(i), escapeText(text).c_str(),
                        static_cast<long long>(page));
        } else {
            std::printf("%lld\t%s\tpage %lld\toffset %u\tattribute %d\n", static_cast<long long>(i),
                        escapeText(text).c_str(), static_cast<long long>(page), offset, result);
        }
    }
    if (json) {
        nlohmann::json j = {{"table", *table}, {"keyCount", keys}, {"keys", std::move(list)}};
        std::printf("%s\n", j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).c_str());
    }
    return EXIT_OK;
}

}  // namespace zavtool
