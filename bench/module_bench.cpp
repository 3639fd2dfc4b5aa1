// Benchmarks of the module's hot calls on books made by the book writer:
// key look-ups in tables of 10^5 and 10^6 keys, key reads, page reads, the
// table-of-contents walk, and opening a book. Besides time, each look-up
// benchmark reports the platform reads it made per call.
//
//   module_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "book/process_state.h"
#include "tovix/platform.h"
#include "zav/book_writer.h"

namespace {

// A platform table that counts reads on the way to the native one.
uint64_t gReads = 0;
int64_t countingReadAt(tovix::NativeFile f, void *buffer, uint32_t n, uint32_t offset) {
    ++gReads;
    return tovix::kNativePlatform.readAt(f, buffer, n, offset);
}
const tovix::PlatformMethods kCounting = [] {
    tovix::PlatformMethods t = tovix::kNativePlatform;
    t.readAt = countingReadAt;
    return t;
}();

std::string wordFor(uint32_t i) {
    // Words of 6 to 14 letters spread over the alphabet, unique per i.
    std::string w;
    uint32_t v = i * 2654435761u;
    for (int k = 0; k < 4; ++k, v /= 26) w += static_cast<char>('a' + v % 26);
    w += std::to_string(i);
    return w;
}

struct Book {
    std::string path;
    std::wstring widePath;
    std::vector<std::string> words;
    BookHandle handle = nullptr;
};

// One book per size, written once per process into the temp folder.
Book &bookWithKeys(uint32_t keys) {
    static std::map<uint32_t, Book> books;
    auto found = books.find(keys);
    if (found != books.end()) return found->second;
    Book &book = books[keys];
    zav::BookDesc desc;
    desc.kind = 2;
    desc.pages.push_back(zav::PageDesc{std::string(4096, 'p'), {}});
    zav::TableDesc table;
    table.pageList = {0};
    table.keys.reserve(keys);
    for (uint32_t i = 0; i < keys; ++i) {
        book.words.push_back(wordFor(i));
        table.keys.push_back(zav::KeyDesc{book.words.back(), 0, i, 0, 0});
    }
    // A table of contents of 10,000 items: 100 chapters of 99 sections.
    std::vector<uint32_t> parents(10000);
    for (uint32_t n = 1; n <= parents.size(); ++n) parents[n - 1] = n == 1 ? 0 : (n <= 101 ? 1 : 2 + (n - 102) / 99);
    table.vpItems.resize(parents.size());
    for (auto &item : table.vpItems) item.caption = zav::StringListDesc{{1, "item"}};
    zav::linkTree(table.vpItems, parents);
    desc.tables.push_back(std::move(table));
    zav::WrittenBook written = zav::writeBookOrDie(desc);
    const char *tmp = getenv("TMPDIR");
    book.path = std::string(tmp && *tmp ? tmp : "/tmp") + "/tovix-bench-" + std::to_string(getpid()) + "-" +
                std::to_string(keys) + ".book";
    if (!zav::saveBook(written.bytes, book.path)) abort();
    book.widePath.assign(book.path.begin(), book.path.end());
    if (ZAVOpenBook(book.widePath.c_str(), &book.handle) != ZAV_OPEN_OK) abort();
    return book;
}

void BM_SearchKeyWord(benchmark::State &state) {
    Book &book = bookWithKeys(static_cast<uint32_t>(state.range(0)));
    std::mt19937 random(42);
    std::uniform_int_distribution<size_t> pick(0, book.words.size() - 1);
    tovix::gPlatform = &kCounting;
    gReads = 0;
    for (auto _ : state) {
        const std::string &w = book.words[pick(random)];
        benchmark::DoNotOptimize(ZAVSearchKeyWord(book.handle, 0, w.c_str(), static_cast<int32_t>(w.size())));
    }
    tovix::gPlatform = &tovix::kNativePlatform;
    state.counters["reads/call"] =
        benchmark::Counter(static_cast<double>(gReads) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_SearchKeyWord)->Arg(100000)->Arg(1000000);

void BM_IsExistWordMiss(benchmark::State &state) {
    Book &book = bookWithKeys(static_cast<uint32_t>(state.range(0)));
    std::mt19937 random(7);
    std::uniform_int_distribution<size_t> pick(0, book.words.size() - 1);
    tovix::gPlatform = &kCounting;
    gReads = 0;
    for (auto _ : state) {
        std::string w = book.words[pick(random)] + "x";
        benchmark::DoNotOptimize(ZAVIsExistWord(book.handle, 0, w.c_str()));
    }
    tovix::gPlatform = &tovix::kNativePlatform;
    state.counters["reads/call"] =
        benchmark::Counter(static_cast<double>(gReads) / static_cast<double>(state.iterations()));
}
BENCHMARK(BM_IsExistWordMiss)->Arg(100000)->Arg(1000000);

void BM_GetKeyWord(benchmark::State &state) {
    Book &book = bookWithKeys(100000);
    char text[64];
    uint32_t k = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(ZAVGetKeyWord(book.handle, 0, k, text, sizeof text));
        k = (k + 7919) % 100000;
    }
}
BENCHMARK(BM_GetKeyWord);

void BM_GetPage4KiB(benchmark::State &state) {
    Book &book = bookWithKeys(100000);
    std::vector<char> buffer(4096);
    for (auto _ : state)
        benchmark::DoNotOptimize(
            ZAVGetTablePage(book.handle, 0, 0, buffer.data(), static_cast<uint32_t>(buffer.size())));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * 4096);
}
BENCHMARK(BM_GetPage4KiB);

void BM_WalkWholeTree(benchmark::State &state) {
    Book &book = bookWithKeys(100000);
    int64_t items = 0;
    for (auto _ : state) {
        for (int32_t chapter = EBDVPGetChildItem(book.handle, 0, 1); chapter;
             chapter = EBDVPGetNextSiblingItem(book.handle, 0, chapter)) {
            ++items;
            for (int32_t s = EBDVPGetChildItem(book.handle, 0, chapter); s;
                 s = EBDVPGetNextSiblingItem(book.handle, 0, s))
                ++items;
        }
    }
    state.counters["items/s"] = benchmark::Counter(static_cast<double>(items), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_WalkWholeTree)->Unit(benchmark::kMillisecond);

void BM_OpenClose(benchmark::State &state) {
    Book &book = bookWithKeys(100000);
    for (auto _ : state) {
        BookHandle h = nullptr;
        if (ZAVOpenBook(book.widePath.c_str(), &h) != ZAV_OPEN_OK) state.SkipWithError("open failed");
        ZAVCloseBook(h);
    }
}
BENCHMARK(BM_OpenClose);

}  // namespace

int main(int argc, char **argv) {
    tovix::moduleEntry(tovix::currentModuleInstance(), tovix::PROCESS_ATTACH, nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tovix::moduleEntry(tovix::currentModuleInstance(), tovix::PROCESS_DETACH, nullptr);
    return 0;
}
