// zav spell: the spell checker of a dictionary book's table, through the
// module and the dictionary engine.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "ZoZizID.h"
#include "commands/commands.h"
#include "core/book_host.h"
#include "core/cli.h"

namespace zavtool {

namespace {

const char kSpellHelp[] =
    "usage: zav spell BOOK verify|correct|wildcard WORD [--table N] [--max M]\n"
    "\n"
    "Spell checking of a spell-capable table of a dictionary book (default\n"
    "table 0), through the book module and the dictionary engine:\n"
    "  verify WORD       is WORD spelled as a word of the dictionary (exit 0 yes, 1 no)\n"
    "  correct WORD      up to M suggestions (default 10), best first\n"
    "  wildcard PATTERN  up to M headwords (default 50) matching PATTERN, where\n"
    "                    '*' matches any run of characters and '?' one character\n";
}  // namespace

int runSpell(int argc, char **argv) {
    const std::string command = "spell";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"table", "max"}, {}); !parsed) return reportFailure(command, parsed);
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
        auto m = integerArgument("--max", *v, 1, 255);
        if (!m) return reportFailure(command, m.failure());
        max = *m;
    }
    HostBook book;
    if (Status opened = openBook(p[0], book); !opened) return reportFailure(command, opened);
    Result<int32_t> table = tableOption(args, book);
    if (!table) return reportFailure(command, table.failure());
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
