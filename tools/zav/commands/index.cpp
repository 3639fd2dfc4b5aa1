// zav index: write the full-text index of books, each beside its book.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <string>

#include "commands/commands.h"
#include "core/atomic_output.h"
#include "core/cli.h"
#include "core/reader_shelf.h"

namespace zavtool {

namespace {

const char kIndexHelp[] =
    "usage: zav index BOOK... [--language LANG] [--check] [--quiet]\n"
    "\n"
    "Write the full-text index of each BOOK beside it, as BOOK.search: the\n"
    "headwords and text of every entry of every table with keys, folded for\n"
    "case and accents, runs of Chinese, Japanese and Korean characters as\n"
    "overlapping pairs, texts stemmed in their language (\"apples\" finds\n"
    "apple). 'zav search' reads it. The index records the book's state: once\n"
    "the book changes, the index is not used until it is written again. The\n"
    "file is written whole or not at all (Ctrl-C leaves the old one, or\n"
    "none); it never replaces what is not a regular file. Progress goes to\n"
    "standard error.\n"
    "\n"
    "  --language LANG   the language of the texts (en, de, fr, ...; \"\" for no\n"
    "                    stemming); by default the second language of the pair\n"
    "                    the book's name says (\"German - English\": en), else\n"
    "                    the first\n"
    "  --check           write nothing; say of each BOOK whether its index is\n"
    "                    fresh, stale or missing (exit 1 unless all are fresh)\n"
    "  --quiet           no progress\n"
    "\n"
    "An entry whose text cannot be read is indexed by its headwords and named\n"
    "on standard error. Exit status: 0 written (or all fresh), 1 an index not\n"
    "fresh (--check), 2 usage error or a book or index that cannot be read or\n"
    "written, 128 + the signal when interrupted (130 for Ctrl-C).\n";

// The signal that stopped the indexing, or 0.
std::atomic<int> interrupted{0};
extern "C" void onInterrupt(int signal) { interrupted.store(signal); }
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct Progress {
    std::string book;
    bool quiet = false;
    std::chrono::steady_clock::time_point shown{};
};

void showProgress(void *context, uint64_t done, uint64_t total) {
    auto *p = static_cast<Progress *>(context);
    auto now = std::chrono::steady_clock::now();
    if (p->quiet || (done != total && now - p->shown < std::chrono::milliseconds(500))) return;
    p->shown = now;
    std::fprintf(stderr, "zav index: %s: %llu of %llu entries\n", p->book.c_str(),
                 static_cast<unsigned long long>(done), static_cast<unsigned long long>(total));
}

// The state of BOOK's index: "fresh", "stale: why" or "missing".
int check(const std::string &command, const std::vector<std::string> &books) {
    int status = EXIT_OK;
    for (const std::string &book : books) {
        ReaderShelf shelf(ZAVReaderOpen());
        if (ZAVReaderAdd(shelf.get(), book.c_str(), nullptr) < 1 || ZAVReaderDatabaseCount(shelf.get()) == 0) {
            complain(command, book + ": not a book with keys");
            return EXIT_USAGE;
        }
        ReaderResult state(ZAVReaderIndexState(shelf.get(), 0));
        int32_t code = ZAVReaderResultStatus(state.get());
        if (code == ZAVR_OK)
            std::printf("%s: fresh\n", book.c_str());
        else if (code == ZAVR_NOT_FOUND)
            std::printf("%s: missing\n", book.c_str());
        else
            std::printf("%s: %s\n", book.c_str(), reasonOf(state.get()).c_str());
        if (code != ZAVR_OK) status = EXIT_FAILED;
    }
    return status;
}

}  // namespace

int runIndex(int argc, char **argv) {
    const std::string command = "index";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"language"}, {"check", "quiet"}); !parsed)
        return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kIndexHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().empty()) return usageError(command, "expected a BOOK");
    if (args.flag("check")) return check(command, args.positional());
    std::optional<std::string> language = args.value("language");
    for (const std::string &book : args.positional()) {
        ReaderShelf shelf(ZAVReaderOpen());
        if (!shelf) return reportFailure(command, Failure{"out of memory"});
        if (ZAVReaderAdd(shelf.get(), book.c_str(), nullptr) < 1 || ZAVReaderDatabaseCount(shelf.get()) == 0) {
            std::string why = ZAVReaderProblemCount(shelf.get()) ? ZAVReaderProblemReason(shelf.get(), 0)
                                                                 : book + ": the book has no table with keys";
            complain(command, why);
            return EXIT_USAGE;
        }
        ZAVReaderDatabaseInfo info{};
        ZAVReaderDatabase(shelf.get(), 0, &info);
        char target[4096];
        if (ZAVReaderIndexPath(book.c_str(), target, sizeof target) >= sizeof target)
            return usageError(command, book + ": the path is too long");
        Progress progress{book, args.flag("quiet")};
        ZAVReaderIndexing indexing{};
        indexing.size = sizeof indexing;
        indexing.language = language ? language->c_str() : nullptr;
        indexing.progress = showProgress;
        indexing.context = &progress;
        indexing.cancel = reinterpret_cast<const volatile int *>(&interrupted);
        uint64_t unreadable = 0;
        std::string failure;
        Status written = writeWhole(target, [&](const std::string &path, std::string *error) {
            // While the index is written, Ctrl-C, SIGTERM or SIGHUP stops it
            // (the library removes its working file); then the output's own
            // handlers, which remove its temporary, are back.
            using Handler = void (*)(int);
            Handler previous[3];
            for (int i = 0; i < 3; ++i) previous[i] = std::signal(kStopSignals[i], onInterrupt);
            ReaderResult result(ZAVReaderWriteIndex(shelf.get(), info.name, path.c_str(), &indexing));
            for (int i = 0; i < 3; ++i) std::signal(kStopSignals[i], previous[i]);
            for (size_t i = 0; i < ZAVReaderResultCount(result.get()); ++i) {
                const ZAVReaderAnswer *a = ZAVReaderResultAt(result.get(), i);
                complain(command, std::string(a->reason ? a->reason : "unreadable") + " (indexed by its headword \"" +
                                      a->headword + "\")");
            }
            unreadable = indexing.unreadable;
            if (ZAVReaderResultStatus(result.get()) != ZAVR_OK) {
                *error = interrupted.load() ? "interrupted" : reasonOf(result.get());
                return false;
            }
            return true;
        });
        if (int signal = interrupted.load()) {
            complain(command, book + ": interrupted; no index written");
            return 128 + signal;
        }
        if (!written) return reportFailure(command, written);
        if (!args.flag("quiet"))
            std::fprintf(
                stderr, "zav index: %s: %llu entries%s\n", target, static_cast<unsigned long long>(indexing.entries),
                unreadable ? (", " + std::to_string(unreadable) + " of them by their headwords only").c_str() : "");
    }
    return EXIT_OK;
}

}  // namespace zavtool
