// The full-text index of a book through the reader library: how long it
// takes to write and the memory that takes, its size beside the book's, the
// time of one-word searches (p50, p99) and the memory of a process that has
// the index open. Prints figures; never fails on them.
//
//   search_bench BOOK [--words N]
//
// The index is written to a temporary file (BOOK's own index is not
// touched, and is not needed); the words are N (default 1,000) words of at
// least three letters taken from the entries' texts at fixed places.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ZAVReader.h"

namespace {

using Clock = std::chrono::steady_clock;

double milliseconds(Clock::time_point since) {
    return std::chrono::duration<double, std::milli>(Clock::now() - since).count();
}

// Resident memory now, in MB (/proc/self/statm).
double residentMb() {
    std::ifstream statm("/proc/self/statm");
    long pages = 0, resident = 0;
    statm >> pages >> resident;
    return static_cast<double>(resident) * static_cast<double>(sysconf(_SC_PAGESIZE)) / 1e6;
}

double peakMb() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<double>(usage.ru_maxrss) / 1e3;
}

// Words of the entries of keys spread over the first database.
std::vector<std::string> sampleWords(ZAVReaderShelf *shelf, size_t count) {
    ZAVReaderDatabaseInfo info{};
    ZAVReaderDatabase(shelf, 0, &info);
    std::vector<std::string> words;
    uint32_t step = std::max<uint32_t>(1, info.key_count / static_cast<uint32_t>(count));
    for (uint32_t key = 0; key < info.key_count && words.size() < count; key += step) {
        ZAVReaderResult *r = ZAVReaderEntry(shelf, 0, key);
        if (ZAVReaderResultCount(r) > 0 && ZAVReaderResultAt(r, 0)->text) {
            std::string text(ZAVReaderResultAt(r, 0)->text, ZAVReaderResultAt(r, 0)->text_length), word, best;
            // The longest word of letters, so that not every query is "the".
            for (char c : text + " ") {
                if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || static_cast<unsigned char>(c) >= 0x80) {
                    word += c;
                } else {
                    if (word.size() > best.size() && word.size() >= 3) best = word;
                    word.clear();
                }
            }
            if (!best.empty()) words.push_back(best);
        }
        ZAVReaderResultFree(r);
    }
    return words;
}

}  // namespace

int main(int argc, char **argv) {
    const char *book = nullptr;
    size_t count = 1000;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--words") == 0 && i + 1 < argc)
            count = static_cast<size_t>(std::atol(argv[++i]));
        else
            book = argv[i];
    }
    if (!book || count == 0) {
        std::fprintf(stderr, "usage: search_bench BOOK [--words N]\n");
        return 2;
    }
    ZAVReaderShelf *shelf = ZAVReaderOpen();
    if (ZAVReaderAdd(shelf, book, nullptr) < 1 || ZAVReaderDatabaseCount(shelf) == 0) {
        std::fprintf(stderr, "search_bench: %s: not a book with keys\n", book);
        return 2;
    }
    ZAVReaderDatabaseInfo info{};
    ZAVReaderDatabase(shelf, 0, &info);
    std::string index =
        (std::filesystem::temp_directory_path() / ("search-bench-" + std::to_string(getpid()))).string();
    ZAVReaderIndexing indexing{};
    indexing.size = sizeof indexing;
    double before = peakMb();
    auto start = Clock::now();
    ZAVReaderResult *written = ZAVReaderWriteIndex(shelf, info.name, index.c_str(), &indexing);
    double buildMs = milliseconds(start);
    if (ZAVReaderResultStatus(written) != ZAVR_OK) {
        std::fprintf(stderr, "search_bench: %s\n", ZAVReaderResultReason(written));
        return 2;
    }
    ZAVReaderResultFree(written);
    uint64_t bookBytes = std::filesystem::file_size(book), indexBytes = std::filesystem::file_size(index);
    std::printf("book %s: %u keys, %llu entries indexed, %.1f MB\n", book, info.key_count,
                static_cast<unsigned long long>(indexing.entries), static_cast<double>(bookBytes) / 1e6);
    std::printf("build: %.1f s, peak resident memory %.0f MB (%.0f MB before it)\n", buildMs / 1e3, peakMb(), before);
    std::printf("index: %.1f MB, %.2f of the book's size\n", static_cast<double>(indexBytes) / 1e6,
                static_cast<double>(indexBytes) / static_cast<double>(bookBytes));
    ZAVReaderClose(shelf);

    // Searches as a reader's process makes them: a shelf of the book with
    // its index in place (a copy of the book beside the new index).
    std::string copy = index + ".zav";
    std::filesystem::copy_file(book, copy);
    char placed[4096];
    ZAVReaderIndexPath(copy.c_str(), placed, sizeof placed);
    std::filesystem::rename(index, placed);
    double bare = residentMb();
    shelf = ZAVReaderOpen();
    ZAVReaderAdd(shelf, copy.c_str(), nullptr);
    ZAVReaderResultFree(ZAVReaderSearch(shelf, "*", "a", 1, nullptr));  // opens the index
    double opened = residentMb();
    std::vector<std::string> words = sampleWords(shelf, count);
    std::vector<double> ms;
    size_t hits = 0;
    for (const std::string &w : words) {
        auto t = Clock::now();
        ZAVReaderResult *r = ZAVReaderSearch(shelf, "*", w.c_str(), 10, nullptr);
        ms.push_back(milliseconds(t));
        hits += ZAVReaderResultCount(r);
        ZAVReaderResultFree(r);
    }
    std::sort(ms.begin(), ms.end());
    auto at = [&](double p) {
        return ms.empty() ? 0.0 : ms[std::min(ms.size() - 1, static_cast<size_t>(p * static_cast<double>(ms.size())))];
    };
    std::printf(
        "search: %zu one-word queries (top 10 with texts and snippets): p50 %.2f ms, p99 %.2f ms, max %.2f ms, "
        "%zu hits\n",
        ms.size(), at(0.5), at(0.99), ms.empty() ? 0.0 : ms.back(), hits);
    std::printf(
        "memory: %.1f MB resident before the shelf, %.1f MB once the index was searched, %.1f MB after the "
        "searches\n",
        bare, opened, residentMb());
    ZAVReaderClose(shelf);
    std::filesystem::remove(placed);
    std::filesystem::remove(copy);
    return 0;
}
