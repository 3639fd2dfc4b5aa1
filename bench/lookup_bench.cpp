// Look-ups of one word among 10^3 to 10^6 keys, side by side in one run:
//   Plain       ZAVSearchKeyWord in a plain book (the key list on disk)
//   Dictionary  ZAVSearchKeyWord in a dictionary book served by the engine
//   Sqlite      SQLite's indexed look-up, the index ordered by the key
//               collation registered with sqlite3_create_collation
//   LowerBound  std::lower_bound over the sorted words in memory
// Each reports the C library's read calls and file calls per look-up; the
// dictionary look-up also the memory the engine holds for the dictionary.
//
//   lookup_bench [--benchmark_format=csv] > lookups.csv && bench/plot.sh lookups.csv lookups.png
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "ZoZizID.h"
#include "ZoZizID_writer.h"
#include "book/process_state.h"
#include "bridge/engine.h"
#include "tovix/collation.h"
#include "file_call_count.h"
#include "tovix/platform.h"
#include "zav/book_writer.h"

namespace {

std::string wordFor(uint32_t i) {
    // Four letters spread over the alphabet, then the number: unique per i.
    std::string w;
    uint32_t v = i * 2654435761u;
    for (int k = 0; k < 4; ++k, v /= 26) w += static_cast<char>('a' + v % 26);
    return w + std::to_string(i);
}

std::string scratchFolder() {
    static std::string folder = [] {
        const char *tmp = getenv("TMPDIR");
        std::string f = std::string(tmp && *tmp ? tmp : "/tmp") + "/tovix-lookup-bench-" + std::to_string(getpid());
        std::filesystem::create_directories(f + "/dictionaries");
        return f;
    }();
    return folder;
}

BookHandle openBook(const zav::BookDesc &desc, const std::string &path) {
    if (!zav::saveBook(zav::writeBookOrDie(desc).bytes, path)) abort();
    std::wstring wide(path.begin(), path.end());
    BookHandle h = nullptr;
    if (ZAVOpenBook(wide.c_str(), &h) != ZAV_OPEN_OK) abort();
    return h;
}

int collate(void *, int n1, const void *p1, int n2, const void *p2) {
    thread_local std::string a, b;
    a.assign(static_cast<const char *>(p1), static_cast<size_t>(n1));
    b.assign(static_cast<const char *>(p2), static_cast<size_t>(n2));
    return tovix::compareKeys(a.c_str(), b.c_str());
}

// The same words as a plain book, a dictionary book, an SQLite table and a
// sorted vector; made once per size.
struct Fixture {
    std::vector<std::string> words;
    std::vector<const char *> sorted;
    BookHandle plain = nullptr, dictionary = nullptr;
    uint32_t dictId = 0;
    sqlite3 *db = nullptr;
    sqlite3_stmt *query = nullptr;
};

void makeSqlite(Fixture &f, const std::string &path) {
    std::filesystem::remove(path);
    auto ok = [&](int rc) {
        if (rc != SQLITE_OK && rc != SQLITE_DONE) abort();
    };
    ok(sqlite3_open(path.c_str(), &f.db));
    ok(sqlite3_create_collation(f.db, "zavkey", SQLITE_UTF8, nullptr, collate));
    ok(sqlite3_exec(f.db, "CREATE TABLE k(word TEXT NOT NULL, idx INTEGER NOT NULL); BEGIN", nullptr, nullptr,
                    nullptr));
    sqlite3_stmt *insert = nullptr;
    ok(sqlite3_prepare_v2(f.db, "INSERT INTO k VALUES(?1, ?2)", -1, &insert, nullptr));
    for (size_t i = 0; i < f.words.size(); ++i) {
        sqlite3_bind_text(insert, 1, f.words[i].c_str(), -1, SQLITE_STATIC);
        sqlite3_bind_int64(insert, 2, static_cast<sqlite3_int64>(i));
        ok(sqlite3_step(insert));
        sqlite3_reset(insert);
    }
    sqlite3_finalize(insert);
    ok(sqlite3_exec(f.db, "CREATE INDEX k_word ON k(word COLLATE zavkey, idx); COMMIT", nullptr, nullptr, nullptr));
    ok(sqlite3_prepare_v2(f.db, "SELECT idx FROM k WHERE word = ?1 COLLATE zavkey", -1, &f.query, nullptr));
}

Fixture &fixture(uint32_t keys) {
    static std::map<uint32_t, std::unique_ptr<Fixture>> all;
    std::unique_ptr<Fixture> &slot = all[keys];
    if (slot) return *slot;
    slot = std::make_unique<Fixture>();
    Fixture &f = *slot;
    const std::string base = scratchFolder() + "/" + std::to_string(keys);
    for (uint32_t i = 0; i < keys; ++i) f.words.push_back(wordFor(i));

    zav::BookDesc plain;
    plain.pages.push_back(zav::PageDesc{"page", {}});
    zav::TableDesc table;
    table.pageList = {0};
    for (uint32_t i = 0; i < keys; ++i) table.keys.push_back(zav::KeyDesc{f.words[i], 0, i, 0, 0});
    plain.tables.push_back(std::move(table));
    f.plain = openBook(plain, base + ".plain.book");

    f.dictId = 0x00B00000u + keys % 0xFFFFF;
    std::vector<zozizid::DictWord> words;
    for (const std::string &w : f.words) words.push_back({w, {{f.dictId, "definition of " + w}}});
    if (!zozizid::writeDictionary(zozizid::dictionaryPath(scratchFolder() + "/dictionaries", f.dictId), f.dictId,
                                  std::move(words), nullptr))
        abort();
    zav::BookDesc dictionary;
    dictionary.kind = 1;
    zav::TableDesc dictTable;
    dictTable.dictId = f.dictId;
    dictionary.tables.push_back(std::move(dictTable));
    f.dictionary = openBook(dictionary, base + ".dictionary.book");

    makeSqlite(f, base + ".sqlite");
    for (const std::string &w : f.words) f.sorted.push_back(w.c_str());
    std::sort(f.sorted.begin(), f.sorted.end(),
              [](const char *a, const char *b) { return tovix::compareKeys(a, b) < 0; });
    return f;
}

// Runs lookUp on random words of the fixture and reports the file calls.
template <typename LookUp>
void run(benchmark::State &state, LookUp lookUp) {
    Fixture &f = fixture(static_cast<uint32_t>(state.range(0)));
    std::mt19937 random(42);
    std::uniform_int_distribution<size_t> pick(0, f.words.size() - 1);
    for (int warm = 0; warm < 100; ++warm) lookUp(f, f.words[pick(random)]);
    bench::FileCalls before = bench::fileCalls();
    for (auto _ : state) {
        const std::string &w = f.words[pick(random)];
        if (!lookUp(f, w)) state.SkipWithError("a word was not found");
    }
    bench::FileCalls after = bench::fileCalls();
    double n = static_cast<double>(state.iterations());
    state.counters["reads/call"] = static_cast<double>(after.reads - before.reads) / n;
    state.counters["calls/call"] = static_cast<double>(after.all - before.all) / n;
    state.counters["engineKiB"] = 0;  // every run has every counter (the CSV output needs it)
}

void BM_LookupPlain(benchmark::State &state) {
    run(state, [](Fixture &f, const std::string &w) {
        return ZAVSearchKeyWord(f.plain, 0, w.c_str(), static_cast<int32_t>(w.size())) != 0 || w == f.sorted[0];
    });
}

void BM_LookupDictionary(benchmark::State &state) {
    run(state, [](Fixture &f, const std::string &w) {
        return ZAVSearchKeyWord(f.dictionary, 0, w.c_str(), static_cast<int32_t>(w.size())) != 0 || w == f.sorted[0];
    });
    // The memory the engine holds for the dictionary (0 where it cannot say).
    Fixture &f = fixture(static_cast<uint32_t>(state.range(0)));
    uintptr_t hdict = tovix::engine::dicCreateHDICT(f.dictId);
    uint32_t bytes = 0;
    if (!tovix::engine::dicGetHandleInfo(hdict, ZOZIZID_INFO_MEMORY, &bytes)) bytes = 0;
    tovix::engine::dicFreeHDICT(hdict);
    state.counters["engineKiB"] = bytes / 1024.0;
}

void BM_LookupSqlite(benchmark::State &state) {
    run(state, [](Fixture &f, const std::string &w) {
        sqlite3_bind_text(f.query, 1, w.c_str(), static_cast<int>(w.size()), SQLITE_STATIC);
        bool found = sqlite3_step(f.query) == SQLITE_ROW && sqlite3_column_int64(f.query, 0) >= 0;
        sqlite3_reset(f.query);
        return found;
    });
}

void BM_LookupLowerBound(benchmark::State &state) {
    run(state, [](Fixture &f, const std::string &w) {
        auto at = std::lower_bound(f.sorted.begin(), f.sorted.end(), w.c_str(),
                                   [](const char *a, const char *b) { return tovix::compareKeys(a, b) < 0; });
        return at != f.sorted.end() && tovix::compareKeys(*at, w.c_str()) == 0;
    });
}

#define KEYS ->Arg(1000)->Arg(10000)->Arg(100000)->Arg(1000000)
BENCHMARK(BM_LookupPlain) KEYS;
BENCHMARK(BM_LookupDictionary) KEYS;
BENCHMARK(BM_LookupSqlite) KEYS;
BENCHMARK(BM_LookupLowerBound) KEYS;

}  // namespace

int main(int argc, char **argv) {
    setenv(ZOZIZID_DICT_DIR_ENV, (scratchFolder() + "/dictionaries").c_str(), 1);
    tovix::moduleEntry(tovix::currentModuleInstance(), tovix::PROCESS_ATTACH, nullptr);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    tovix::moduleEntry(tovix::currentModuleInstance(), tovix::PROCESS_DETACH, nullptr);
    std::error_code ignored;
    std::filesystem::remove_all(scratchFolder(), ignored);
    return 0;
}
