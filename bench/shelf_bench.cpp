// The reader library on a shelf: what a look-up costs on one book and on a
// shelf of several, how long a table's keys take to come into memory, and
// the memory they take per key. Prints figures; never fails on them.
//
//   shelf_bench BOOK [OTHER_BOOK...] [--words N]
//
// The words are every (keys / N)-th key of BOOK's first table, asked of BOOK
// alone and then of the whole shelf, after the shelf's indexes are loaded.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "ZAVReader.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds(Clock::time_point since) { return std::chrono::duration<double>(Clock::now() - since).count(); }

std::vector<std::string> sampleWords(ZAVReaderShelf *shelf, size_t count) {
    ZAVReaderDatabaseInfo info;
    ZAVReaderDatabase(shelf, 0, &info);
    std::vector<std::string> all;
    ZAVReaderCursor *cursor = ZAVReaderKeys(shelf, 0, nullptr, 0);
    std::vector<char> buffer(1 << 20);
    size_t used = 0;
    while (ZAVReaderNextBatch(cursor, buffer.data(), buffer.size(), SIZE_MAX, &used) > 0)
        for (size_t at = 0; at < used; at += std::strlen(buffer.data() + at) + 1) all.emplace_back(buffer.data() + at);
    ZAVReaderCursorFree(cursor);
    std::vector<std::string> words;
    size_t step = std::max<size_t>(1, all.size() / count);
    for (size_t i = 0; i < all.size() && words.size() < count; i += step) words.push_back(all[i]);
    return words;
}

// Microseconds per look-up of every word, best of three rounds.
double perLookup(ZAVReaderShelf *shelf, const char *database, const std::vector<std::string> &words) {
    double best = 1e30;
    for (int round = 0; round < 3; ++round) {
        auto start = Clock::now();
        for (const std::string &w : words) ZAVReaderResultFree(ZAVReaderLookup(shelf, database, w.c_str(), 0, nullptr));
        best = std::min(best, seconds(start) * 1e6 / static_cast<double>(words.size()));
    }
    return best;
}

}  // namespace

int main(int argc, char **argv) {
    std::vector<std::string> books;
    size_t count = 1000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--words") == 0 && i + 1 < argc)
            count = std::strtoul(argv[++i], nullptr, 10);
        else
            books.push_back(argv[i]);
    }
    if (books.empty()) {
        std::fprintf(stderr, "usage: shelf_bench BOOK [OTHER_BOOK...] [--words N]\n");
        return 2;
    }
    ZAVReaderShelf *one = ZAVReaderOpen(), *all = ZAVReaderOpen();
    if (ZAVReaderAdd(one, books[0].c_str(), nullptr) <= 0) {
        std::fprintf(stderr, "shelf_bench: %s: cannot be served\n", books[0].c_str());
        return 2;
    }
    for (const std::string &b : books) ZAVReaderAdd(all, b.c_str(), nullptr);

    auto start = Clock::now();
    ZAVReaderPrepare(one, nullptr);
    double load = seconds(start);
    ZAVReaderDatabaseInfo info;
    ZAVReaderDatabase(one, 0, &info);
    std::printf("book: %s, %u keys\n", books[0].c_str(), info.key_count);
    std::printf("keys into memory: %.3f s; %.1f bytes per key (%.1f MB)\n", load,
                static_cast<double>(info.index_bytes) / std::max<uint32_t>(1, info.key_count),
                static_cast<double>(info.index_bytes) / 1e6);
    start = Clock::now();
    ZAVReaderPrepare(all, nullptr);
    std::printf("shelf: %zu databases from %zu books, loaded in %.3f s\n", ZAVReaderDatabaseCount(all), books.size(),
                seconds(start));

    std::vector<std::string> words = sampleWords(one, count);
    double single = perLookup(one, nullptr, words);
    double shelf = perLookup(all, nullptr, words);
    std::printf("look-up of %zu words: %.1f us on the book alone, %.1f us on the shelf (%+.0f%%)\n", words.size(),
                single, shelf, (shelf / single - 1) * 100);
    ZAVReaderClose(one);
    ZAVReaderClose(all);
    return 0;
}
