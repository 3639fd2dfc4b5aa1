// Opening, closing and naming books: the result codes of ZAVOpenBook, the
// reported path, the release of the spell handle at close, and the promise
// that a failed open leaves no memory and no open file behind, whichever
// step fails.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "book/book_state.h"
#include "bridge/engine.h"
#include "doubles/engine_double.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "support/test_os.h"
#include "zav/book_writer.h"

using namespace tovix::test;

namespace {

BookHandle const kUntouched = reinterpret_cast<BookHandle>(static_cast<uintptr_t>(0x5a5a5a5a));

int32_t openPath(const std::wstring &path, BookHandle *out) { return ZAVOpenBook(path.c_str(), out); }

struct OpenCase {
    const char *name;
    std::vector<uint8_t> image;
    int32_t expected;
};

std::vector<uint8_t> truncated(std::vector<uint8_t> bytes, size_t size) {
    bytes.resize(size);
    return bytes;
}

std::vector<uint8_t> withTail(std::vector<uint8_t> bytes, size_t extra) {
    bytes.resize(bytes.size() + extra, 0xEE);
    return bytes;
}

class BookHandleTest : public ::testing::Test {
protected:
    void SetUp() override { engine_double::reset(); }
    ModuleSession session_;
};

TEST_F(BookHandleTest, OpenResultCodes) {
    const uint32_t debd = 0x44424544u;
    const std::vector<OpenCase> cases = {
        {"plain book of exactly 512 bytes opens", headerOnlyBook(2, 0), ZAV_OPEN_OK},
        {"dictionary book of version 1 opens", headerOnlyBook(1, 1), ZAV_OPEN_OK},
        {"kind 4 of version 1 opens", headerOnlyBook(4, 1), ZAV_OPEN_OK},
        {"bytes after the header do not matter", withTail(headerOnlyBook(2, 0), 3), ZAV_OPEN_OK},
        {"511 bytes cannot hold the header", truncated(headerOnlyBook(2, 0), 511), ZAV_OPEN_BAD_FILE},
        {"empty file", {}, ZAV_OPEN_BAD_FILE},
        {"magic DBED (bytes in the wrong order)", headerOnlyBook(2, 0, 0x44454244u), ZAV_OPEN_BAD_FILE},
        {"magic zero", headerOnlyBook(2, 0, 0), ZAV_OPEN_BAD_FILE},
        {"bad magic wins over a bad kind", headerOnlyBook(3, 0, 0), ZAV_OPEN_BAD_FILE},
        {"kind 0", headerOnlyBook(0, 0, debd), ZAV_OPEN_BAD_KIND},
        {"kind 3", headerOnlyBook(3, 0, debd), ZAV_OPEN_BAD_KIND},
        {"kind 5", headerOnlyBook(5, 0, debd), ZAV_OPEN_BAD_KIND},
        {"kind 0x101 is not kind 1", headerOnlyBook(0x101, 0, debd), ZAV_OPEN_BAD_KIND},
        {"kind 4 of version 2", headerOnlyBook(4, 2, debd), ZAV_OPEN_BAD_KIND},
        {"version with the top bit set is large, not negative", headerOnlyBook(2, 0x80000000u, debd),
         ZAV_OPEN_BAD_KIND},
        {"version all ones", headerOnlyBook(1, 0xFFFFFFFFu, debd), ZAV_OPEN_BAD_KIND},
    };
    for (const OpenCase &c : cases) {
        SCOPED_TRACE(c.name);
        TempFile file = writeTempBook(c.image);
        BookHandle h = kUntouched;
        int fds = openDescriptorCount();
        ASSERT_EQ(openPath(file.widePath, &h), c.expected);
        if (c.expected == ZAV_OPEN_OK) {
            EXPECT_NE(h, kUntouched);
            EXPECT_NE(h, nullptr);
            EXPECT_EQ(ZAVCloseBook(h), 1);
        } else {
            EXPECT_EQ(h, kUntouched) << "a failed open must not write the handle";
        }
        EXPECT_EQ(openDescriptorCount(), fds) << "no descriptor may stay open";
    }
}

TEST_F(BookHandleTest, OpenRefusesWhatIsNotARegularBook) {
    BookHandle h = kUntouched;
    EXPECT_EQ(openPath(missingFile().widePath, &h), ZAV_OPEN_BAD_FILE);
    EXPECT_EQ(openPath(widen(tempDirectory()), &h), ZAV_OPEN_BAD_FILE) << "a folder is not a book";
    EXPECT_EQ(openPath(L"", &h), ZAV_OPEN_BAD_FILE);
    EXPECT_EQ(h, kUntouched);
}

TEST_F(BookHandleTest, NullArgumentsAreRefused) {
    TempFile file = writeTempBook(headerOnlyBook());
    BookHandle h = kUntouched;
    int fds = openDescriptorCount();
    EXPECT_EQ(ZAVOpenBook(nullptr, &h), ZAV_OPEN_BAD_FILE);
    EXPECT_EQ(h, kUntouched);
    EXPECT_EQ(ZAVOpenBook(file.widePath.c_str(), nullptr), ZAV_OPEN_BAD_FILE);
    EXPECT_EQ(openDescriptorCount(), fds);
    EXPECT_EQ(ZAVCloseBook(nullptr), 1);
    char buffer[8] = "xxxxxxx";
    EXPECT_EQ(ZAVGetFileName(nullptr, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "xxxxxxx");
}

TEST_F(BookHandleTest, OneFileOpensTwiceIndependently) {
    TempFile file = writeTempBook(headerOnlyBook());
    OpenBook first(file), second(file);
    ASSERT_TRUE(first.ok());
    ASSERT_TRUE(second.ok());
    EXPECT_NE(first.get(), second.get());
    first.close();
    char name[512];
    EXPECT_EQ(ZAVGetFileName(second, name, sizeof name), static_cast<int32_t>(file.path.size()));
    EXPECT_EQ(std::string(name), file.path);
}

TEST_F(BookHandleTest, FileNameCopiesOnlyWhenTheTerminatorFits) {
    OpenBook book(headerOnlyBook());
    ASSERT_TRUE(book.ok());
    const std::string &path = book.file().path;
    const int32_t n = static_cast<int32_t>(path.size());
    struct Case {
        const char *name;
        int32_t length;
        bool copies;
    };
    const Case cases[] = {
        {"length 0 asks for the size", 0, false},      {"negative length", -1, false},
        {"most negative length", INT32_MIN, false},    {"room for the text but not the terminator", n, false},
        {"room for text and terminator", n + 1, true}, {"a larger buffer", n + 100, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<char> buffer(static_cast<size_t>(n) + 200, '#');
        EXPECT_EQ(ZAVGetFileName(book, buffer.data(), c.length), n);
        if (c.copies) {
            EXPECT_EQ(std::string(buffer.data()), path);
            EXPECT_EQ(buffer[static_cast<size_t>(n) + 1], '#') << "nothing after the terminator";
        } else {
            EXPECT_EQ(buffer[0], '#') << "a short buffer stays untouched";
        }
    }
    EXPECT_EQ(ZAVGetFileName(book, nullptr, n + 1), n) << "a null buffer is not written";
}

// A folder under the temporary one whose path makes `file` have exactly
// `bytes` bytes in UTF-8, or "" when the temporary folder is too long.
std::string pathOfLength(size_t bytes, const std::string &leaf) {
    std::string dir = tempDirectory();
    if (dir.size() + leaf.size() + 3 >= bytes) return "";
    // Folders of at most 150 bytes each, the last one sized to hit the total.
    size_t rest = bytes - dir.size() - leaf.size() - 1;  // "/" + folders, before "/leaf"
    char letter = 'a';
    while (rest > 151) {
        dir += "/" + std::string(150, letter++);
        rest -= 151;
    }
    dir += "/" + std::string(rest - 1, 'z');
    std::filesystem::create_directories(std::filesystem::path(std::u8string(dir.begin(), dir.end())));
    return dir + "/" + leaf;
}

TEST_F(BookHandleTest, PathOfMoreThan255BytesIsKeptEmpty) {
    struct Case {
        const char *name;
        size_t bytes;
        bool kept;
    };
    const Case cases[] = {
        {"255 bytes and the terminator fit", 255, true}, {"256 bytes do not", 256, false}, {"far longer", 400, false}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (c.bytes > 259 && !utf8FileNames()) continue;  // the system refuses such paths
        std::string path = pathOfLength(c.bytes, "b.zav");
        if (path.empty()) GTEST_SKIP() << "temporary folder too long";
        ASSERT_EQ(path.size(), c.bytes);
        std::vector<uint8_t> image = headerOnlyBook();
        TempFile scratch = writeTempBook(image);
        std::filesystem::copy_file(scratch.path, std::filesystem::path(std::u8string(path.begin(), path.end())));
        TempFile file{path, widen(path)};
        OpenBook book(file);
        ASSERT_TRUE(book.ok()) << "the file itself is opened by its wide path";
        char name[300];
        std::memset(name, '#', sizeof name);
        int32_t n = ZAVGetFileName(book, name, sizeof name);
        if (c.kept) {
            EXPECT_EQ(n, 255);
            EXPECT_EQ(std::string(name), path);
        } else {
            EXPECT_EQ(n, 0);
            EXPECT_EQ(name[0], '\0');
        }
    }
}

TEST_F(BookHandleTest, NonAsciiPathIsReportedInTheFileNameEncoding) {
    if (!utf8FileNames()) GTEST_SKIP() << "paths are reported in the ANSI code page here";
    // Fewer than 255 characters but more than 255 bytes: the limit counts bytes.
    std::string e = "\xC3\xA9";  // é
    std::string longDir = tempDirectory() + "/";
    for (int i = 0; i < 100; ++i) longDir += e;
    std::filesystem::create_directories(std::filesystem::path(std::u8string(longDir.begin(), longDir.end())));
    std::string longPath = longDir + "/" + e + e + e + ".zav";
    std::string shortPath = tempDirectory() + "/\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB0-\xE6\x9B\xB8.zav";
    for (const std::string &path : {shortPath, longPath}) {
        std::string copy = path;
        std::filesystem::copy_file(writeTempBook(headerOnlyBook()).path,
                                   std::filesystem::path(std::u8string(copy.begin(), copy.end())));
        OpenBook book(TempFile{path, widen(path)});
        ASSERT_TRUE(book.ok()) << path;
        char name[300] = {};
        int32_t n = ZAVGetFileName(book, name, sizeof name);
        if (path.size() < 256) {
            EXPECT_EQ(n, static_cast<int32_t>(path.size()));
            EXPECT_EQ(std::string(name), path);
        } else {
            EXPECT_LT(widen(path).size(), 255u);
            EXPECT_EQ(n, 0);
        }
    }
}

zav::BookDesc dictionaryBook(std::vector<uint32_t> dictIds) {
    zav::BookDesc desc;
    desc.kind = BOOK_KIND_DICTIONARY;
    for (uint32_t id : dictIds) {
        zav::TableDesc t;
        t.dictId = id;
        desc.tables.push_back(t);
    }
    return desc;
}

TEST_F(BookHandleTest, CloseReleasesTheSpellHandleOnce) {
    OpenBook book(dictionaryBook({0x00010001u}));
    ASSERT_TRUE(book.ok());
    engine_double::setVerifyResult(7);
    ASSERT_EQ(EBDSCVerify(book, 0, 1, 2), 7);
    ASSERT_EQ(EBDSCVerify(book, 0, 1, 2), 7);
    ASSERT_EQ(engine_double::callCount("SCCreateHandleEx"), 1u);
    uintptr_t spell = static_cast<uintptr_t>(engine_double::calls("SCCreateHandleEx")[0].result);
    EXPECT_EQ(book.close(), 1);
    auto frees = engine_double::calls("SCFreeHandle");
    ASSERT_EQ(frees.size(), 1u);
    EXPECT_EQ(frees[0].handle, spell);
    EXPECT_TRUE(engine_double::handles().clean()) << ::testing::PrintToString(engine_double::handles().problems);
}

TEST_F(BookHandleTest, CloseWithoutSpellHandleLeavesTheEngineAlone) {
    OpenBook book(dictionaryBook({0x00010001u}));
    ASSERT_TRUE(book.ok());
    engine_double::setFail(engine_double::Fail::CreateSpell, true);
    EXPECT_EQ(EBDSCVerify(book, 0, 1, 2), 0);  // creation fails: the handle stays 0
    engine_double::clearLog();
    book.close();
    EXPECT_TRUE(engine_double::calls().empty());
}

// The spell handle is made only when the engine can free it, and freed with
// the entry point found then, whatever the lookups at close give.
TEST_F(BookHandleTest, SpellHandleIsMadeOnlyWhenItCanBeFreed) {
    OpenBook book(dictionaryBook({0x00010001u}));
    ASSERT_TRUE(book.ok());
    ScopedFaults faults;
    faults->hideSymbol("SCFreeHandle");
    EXPECT_EQ(EBDSCVerify(book, 0, 1, 2), 0);
    EXPECT_EQ(engine_double::handles().liveSpells, 0u);
    faults->showSymbols();
    ASSERT_EQ(EBDSCVerify(book, 0, 1, 2), 0);  // default result 0, but the handle exists
    ASSERT_EQ(engine_double::handles().liveSpells, 1u);
    faults->hideSymbol("SCFreeHandle");
    int fds = openDescriptorCount();
    EXPECT_EQ(book.close(), 1);
    EXPECT_EQ(engine_double::handles().liveSpells, 0u);
    EXPECT_EQ(faults->count(Op::Close), 1u);
    EXPECT_EQ(openDescriptorCount(), fds - 1);
}

// --- failed opens leave nothing behind, whichever step fails -----------------

class OpenFaultTest : public BookHandleTest {
protected:
    void expectNothingLeft(FaultPlatform &p, uint64_t n) {
        EXPECT_EQ(p.liveAllocations(), 0) << "at failure point " << n;
        EXPECT_EQ(p.liveFiles(), 0) << "at failure point " << n;
    }
};

TEST_F(OpenFaultTest, EachFailedStepGivesItsCodeAndLeaksNothing) {
    TempFile file = writeTempBook(zav::writeBookOrDie(dictionaryBook({1, 2})).bytes);
    struct Case {
        const char *name;
        Op op;
        FaultMode mode;
        int32_t expected;
        uint64_t minimumPoints;
    };
    const Case cases[] = {
        {"each read fails", Op::Read, FaultMode::Once, ZAV_OPEN_BAD_FILE, 1},
        {"each read comes back short", Op::Read, FaultMode::Short, ZAV_OPEN_BAD_FILE, 1},
        {"the size query fails", Op::Size, FaultMode::Once, ZAV_OPEN_BAD_FILE, 1},
        {"the open fails", Op::Open, FaultMode::Once, ZAV_OPEN_BAD_FILE, 1},
        {"each allocation fails", Op::Alloc, FaultMode::Once, ZAV_OPEN_NO_MEMORY, 1},
        {"memory runs out for good", Op::Alloc, FaultMode::Persistent, ZAV_OPEN_NO_MEMORY, 1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        int fds = openDescriptorCount();
        uint64_t points = forEachFailurePoint(
            c.op,
            [&](uint64_t n) {
                BookHandle h = kUntouched;
                int32_t r = openPath(file.widePath, &h);
                FaultPlatform &p = FaultPlatform::instance();
                if (p.faultsFired() == 0) {
                    // Past the last operation of the kind: the open succeeds.
                    EXPECT_EQ(r, ZAV_OPEN_OK);
                    if (r == ZAV_OPEN_OK) ZAVCloseBook(h);
                    return;
                }
                EXPECT_EQ(r, c.expected) << "at failure point " << n;
                EXPECT_EQ(h, kUntouched);
                expectNothingLeft(p, n);
            },
            c.mode);
        EXPECT_GE(points, c.minimumPoints);
        EXPECT_EQ(openDescriptorCount(), fds);
    }
}

TEST_F(OpenFaultTest, SuccessfulOpenAndCloseBalanceEverything) {
    TempFile file = writeTempBook(headerOnlyBook());
    ScopedFaults faults;
    BookHandle h = nullptr;
    ASSERT_EQ(openPath(file.widePath, &h), ZAV_OPEN_OK);
    EXPECT_EQ(faults->liveAllocations(), 1) << "only the book's state outlives the open";
    EXPECT_EQ(faults->liveFiles(), 1);
    EXPECT_EQ(faults->readSizes(), std::vector<uint32_t>{512}) << "one exact read of the header";
    ZAVCloseBook(h);
    EXPECT_EQ(faults->liveAllocations(), 0);
    EXPECT_EQ(faults->liveFiles(), 0);
}

}  // namespace
