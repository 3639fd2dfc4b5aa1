// zav keys: the key index of a table, as a host sees it.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "core/book_health.h"
#include "core/book_host.h"
#include "core/cli.h"
#include "commands/commands.h"
#include "core/reader_shelf.h"

namespace zavtool {

namespace {

const char kKeysHelp[] =
    "usage: zav keys BOOK [--table N] [--from K|WORD] [--count M] [--json]\n"
    "\n"
    "List the keys of table N (default 0) from key index K (default 0), or from\n"
    "the first key that does not sort before WORD (any case), at most M\n"
    "of them (default all): index, text, page, offset within the page and the\n"
    "key's attribute. In a dictionary book the keys are the engine's words and\n"
    "the page of key i is table page i. --json prints one JSON object:\n"
    "{\"table\", \"keyCount\", \"keys\": [{\"keyIndex\", \"key\", \"page\", \"offset\",\n"
    "\"attribute\"}]}.\n";

// The index of the first key of `table` that does not sort before `word`;
// none when every key does (or the table has none).
Result<std::optional<int64_t>> firstKeyFrom(const std::string &path, int32_t table, const std::string &word) {
    ReaderShelf shelf(ZAVReaderOpen());
    if (!shelf) return Failure{"out of memory"};
    ZAVReaderAdd(shelf.get(), path.c_str(), nullptr);
    int64_t db = ZAVReaderFind(shelf.get(), databaseOfTable(shelf.get(), table).c_str());
    if (db < 0) return std::optional<int64_t>();  // no keys: nothing to list
    ZAVReaderCursor *cursor = ZAVReaderKeys(shelf.get(), static_cast<size_t>(db), word.c_str(), 0);
    ZAVReaderKey key;
    int32_t got = ZAVReaderNext(cursor, &key);
    std::string reason = got < 0 ? ZAVReaderCursorReason(cursor) : "";
    ZAVReaderCursorFree(cursor);
    if (got < 0) return Failure{reason};
    return got == 1 ? std::optional<int64_t>(key.index) : std::nullopt;
}

// What --from and --count ask for.
struct Listing {
    int64_t from = 0;                     // the first key index
    std::optional<std::string> fromWord;  // or the first key that does not sort before this word
    int64_t count = -1;                   // -1: every key to the end
};

Result<Listing> listingOptions(const Args &args) {
    Listing listing;
    if (auto v = args.value("from")) {
        bool number = !v->empty() && std::all_of(v->begin(), v->end(), [](char c) { return c >= '0' && c <= '9'; });
        if (!number) {
            listing.fromWord = *v;
        } else if (auto n = integerArgument("--from", *v, 0, 0xFFFFFFFFll)) {
            listing.from = *n;
        } else {
            return n.failure();
        }
    }
    if (auto v = args.value("count")) {
        auto n = integerArgument("--count", *v, 0, 0xFFFFFFFFll);
        if (!n) return n.failure();
        listing.count = *n;
    }
    return listing;
}

}  // namespace

int runKeys(int argc, char **argv) {
    const std::string command = "keys";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"table", "from", "count"}, {"json"}); !parsed)
        return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kKeysHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 1) return usageError(command, "expected one BOOK");
    Result<Listing> listing = listingOptions(args);
    if (!listing) return reportFailure(command, listing.failure());
    int64_t from = listing->from, count = listing->count;
    const std::optional<std::string> &fromWord = listing->fromWord;
    HostBook book;
    if (Status opened = openBook(args.positional()[0], book); !opened) return reportFailure(command, opened);
    Result<int32_t> table = tableOption(args, book);
    if (!table) return reportFailure(command, table.failure());
    bool dictionary = book.isDictionary();
    if (Status served = dictionaryServed(book, *table); !served) {
        complain(command, args.positional()[0] + ": " + served.reason());
        return EXIT_USAGE;
    }
    int64_t keys = static_cast<uint32_t>(ZAVGetKeyCount(book, *table));
    if (fromWord) {
        auto start = firstKeyFrom(args.positional()[0], *table, *fromWord);
        if (!start) {
            complain(command, args.positional()[0] + ": " + start.reason());
            return EXIT_USAGE;
        }
        from = start->value_or(keys);
    }
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
