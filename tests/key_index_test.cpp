// The key-word index: reading keys, mapping keys and pages, and looking words
// up, in plain books (from the file) and dictionary books (through the
// engine double).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "doubles/engine_double.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "tovix/format.h"
#include "zav/book_writer.h"

using tovix::test::FaultMode;
using tovix::test::forEachFailurePoint;
using tovix::test::ModuleSession;
using tovix::test::Op;
using tovix::test::OpenBook;
using tovix::test::ScopedFaults;

namespace {

zav::KeyDesc key(const std::string &text, uint32_t pageNo = 0, uint32_t pageOffset = 0, uint8_t attribute = 0) {
    zav::KeyDesc k;
    k.text = text;
    k.pageNo = pageNo;
    k.pageOffset = pageOffset;
    k.attribute = attribute;
    return k;
}

zav::BookDesc bookWithTable(const zav::TableDesc &table, uint32_t kind = BOOK_KIND_PLAIN) {
    zav::BookDesc desc;
    desc.kind = kind;
    desc.tables.push_back(table);
    return desc;
}

// The worked example: five keys, given out of order (the writer sorts them),
// three table pages.
zav::TableDesc exampleTable() {
    zav::TableDesc t;
    t.keys = {key("cat", 13, 130, 3), key("bank@2", 12, 120, 0x80), key("able", 10, 100, 1), key("dog", 14, 140, 0xFF),
              key("bank@1", 11, 110, 0x7F)};
    t.pageList = {0, 0, 0};
    t.pageToKey = {0, 3, 4};
    return t;
}

// Key indexes probed by the last look-up, in order: the key-list entries the
// look-up read.
std::vector<uint32_t> probedKeys(const tovix::test::FaultPlatform &faults, uint32_t keyListOffset, uint32_t count) {
    std::vector<uint32_t> probes;
    for (uint32_t offset : faults.readOffsets())
        if (offset >= keyListOffset && offset < keyListOffset + 4 * count)
            probes.push_back((offset - keyListOffset) / 4);
    return probes;
}

// --- plain books -------------------------------------------------------------

TEST(KeyIndex, WorkedExampleLookUps) {
    ModuleSession session;
    zav::WrittenBook written = zav::writeBookOrDie(bookWithTable(exampleTable()));
    const uint32_t list = written.layout.tables[0].keyListOffset;
    ASSERT_EQ(written.layout.tables[0].keyTexts, (std::vector<std::string>{"able", "bank@1", "bank@2", "cat", "dog"}));
    OpenBook book(written.bytes);
    ASSERT_TRUE(book.ok());

    struct Case {
        const char *word;
        std::optional<int32_t> length;  // nullopt: the word's own length
        int32_t index;
        std::vector<uint32_t> probes;
        const char *why;
    } cases[] = {
        {"bank", std::nullopt, 1, {2, 0, 1}, "after, before, then bank@1 through the @1 second try"},
        {"bank@2", std::nullopt, 2, {2}, "first probe matches"},
        {"bank@3", std::nullopt, 3, {2, 3}, "no match: cat is the first key after it"},
        {"bat", std::nullopt, 3, {2, 3}, "insertion point 3"},
        {"zebra", std::nullopt, 4, {2, 3, 4}, "after every key: the last key"},
        {"aardvark", std::nullopt, 0, {2, 0}, "before key 0: stops at probe 0"},
        {"BANK@2", std::nullopt, 2, {2}, "case ignored"},
        {"bankrupt", 4, 1, {2, 0, 1}, "only the first four bytes are the query"},
        {"cat", 1000, 3, {2, 3}, "a length past the terminator stops at it"},
        {"  able  ", std::nullopt, 0, {2, 0}, "spaces around the word ignored"},
        {"dog", std::nullopt, 4, {2, 3, 4}, "the last key itself"},
        {"bank", 0, 0, {}, "length 0"},
        {"bank", -3, 0, {}, "negative length"},
        {"", 5, 0, {}, "empty word"},
    };
    ScopedFaults faults;
    for (const auto &c : cases) {
        int32_t length = c.length.value_or(static_cast<int32_t>(strlen(c.word)));
        faults->resetCounts();
        EXPECT_EQ(ZAVSearchKeyWord(book, 0, c.word, length), c.index) << c.why;
        // The probes named above are served from one read of the whole list.
        EXPECT_EQ(probedKeys(*faults, list, 5).size(), c.probes.empty() ? 0u : 1u) << c.why;
        EXPECT_EQ(faults->liveAllocations(), 0) << c.why;
    }
    EXPECT_EQ(ZAVSearchKeyWord(book, 0, nullptr, 4), 0);

    struct Exists {
        const char *word;
        int32_t result;
    } exists[] = {
        {"bank", 1}, {"bank@1", 1}, {"Bank", 1},     {"  bank  ", 1}, {"bank@2", 1}, {"bank@3", 0},
        {"bat", 0},  {"zebra", 0},  {"aardvark", 0}, {"able", 1},     {"DOG", 1},    {"", 0},
    };
    for (const auto &e : exists) EXPECT_EQ(ZAVIsExistWord(book, 0, e.word), e.result) << e.word;
    EXPECT_EQ(ZAVIsExistWord(book, 0, nullptr), 0);
}

TEST(KeyIndex, WorkedExampleKeysAndPages) {
    ModuleSession session;
    OpenBook book(bookWithTable(exampleTable()));
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVGetKeyCount(book, 0), 5);

    struct Row {
        const char *text;
        int32_t pageNo, pageOffset, attribute;
    } rows[] = {
        {"able", 10, 100, 1}, {"bank@1", 11, 110, 127}, {"bank@2", 12, 120, -128},
        {"cat", 13, 130, 3},  {"dog", 14, 140, -1},
    };
    for (uint32_t i = 0; i < 5; ++i) {
        const Row &r = rows[i];
        EXPECT_EQ(ZAVGetKeyWordLength(book, 0, i), static_cast<int32_t>(strlen(r.text))) << i;
        char buffer[16];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(ZAVGetKeyWord(book, 0, i, buffer, sizeof buffer), r.attribute) << i;
        EXPECT_STREQ(buffer, r.text) << i;
        EXPECT_EQ(ZAVGetKeyPageNo(book, 0, i), r.pageNo) << i;
        EXPECT_EQ(ZAVGetKeyPageOffset(book, 0, i), r.pageOffset) << i;
    }
    // keyIndex equal to keyCount, and far beyond it.
    for (uint32_t i : {5u, 0xFFFFFFFFu}) {
        char buffer[8] = "#######";
        EXPECT_EQ(ZAVGetKeyWordLength(book, 0, i), 0) << i;
        EXPECT_EQ(ZAVGetKeyWord(book, 0, i, buffer, sizeof buffer), 0) << i;
        EXPECT_STREQ(buffer, "#######") << i;
        EXPECT_EQ(ZAVGetKeyPageNo(book, 0, i), 0) << i;
        EXPECT_EQ(ZAVGetKeyPageOffset(book, 0, i), 0) << i;
    }

    EXPECT_EQ(ZAVPageToKey(book, 0, 0), 0);
    EXPECT_EQ(ZAVPageToKey(book, 0, 1), 3);
    EXPECT_EQ(ZAVPageToKey(book, 0, 2), 4);
    EXPECT_EQ(ZAVPageToKey(book, 0, 3), ZAV_NO_INDEX) << "page index equal to pageCount";
    EXPECT_EQ(ZAVPageToKey(book, 0, 0xFFFFFFFFu), ZAV_NO_INDEX);

    // A table number that does not exist fails every call.
    char buffer[8] = "#######";
    EXPECT_EQ(ZAVGetKeyCount(book, 1), 0);
    EXPECT_EQ(ZAVGetKeyWordLength(book, 1, 0), 0);
    EXPECT_EQ(ZAVGetKeyWord(book, -1, 0, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "#######");
    EXPECT_EQ(ZAVGetKeyPageNo(book, 1, 0), 0);
    EXPECT_EQ(ZAVGetKeyPageOffset(book, 1, 0), 0);
    EXPECT_EQ(ZAVPageToKey(book, 1, 0), ZAV_NO_INDEX);
    EXPECT_EQ(ZAVSearchKeyWord(book, 1, "cat", 3), 0);
    EXPECT_EQ(ZAVIsExistWord(book, 1, "cat"), 0);
}

TEST(KeyIndex, NullHandleGivesFailureValues) {
    char buffer[4];
    EXPECT_EQ(ZAVGetKeyCount(nullptr, 0), 0);
    EXPECT_EQ(ZAVGetKeyWordLength(nullptr, 0, 0), 0);
    EXPECT_EQ(ZAVGetKeyWord(nullptr, 0, 0, buffer, sizeof buffer), 0);
    EXPECT_EQ(ZAVGetKeyPageNo(nullptr, 0, 0), 0);
    EXPECT_EQ(ZAVGetKeyPageOffset(nullptr, 0, 0), 0);
    EXPECT_EQ(ZAVPageToKey(nullptr, 0, 0), ZAV_NO_INDEX);
    EXPECT_EQ(ZAVSearchKeyWord(nullptr, 0, "a", 1), 0);
    EXPECT_EQ(ZAVIsExistWord(nullptr, 0, "a"), 0);
}

TEST(KeyIndex, GetKeyWordCutsToTheBuffer) {
    ModuleSession session;
    zav::TableDesc t;
    zav::KeyDesc k = key("hello", 0, 0, 0x42);
    k.spare = 0xFF;  // bits 16-23 of the length word are never read
    t.keys = {k};
    OpenBook book(bookWithTable(t));
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVGetKeyWordLength(book, 0, 0), 5);

    struct Case {
        int32_t length;
        int32_t result;
        const char *text;  // null: the buffer stays untouched
    } cases[] = {
        {100, 0x42, "hello"}, {6, 0x42, "hello"}, {5, 0x42, "hell"}, {2, 0x42, "h"},
        {1, 0x42, ""},        {0, 0, nullptr},    {-1, 0, nullptr},  {INT32_MIN, 0, nullptr},
    };
    for (const auto &c : cases) {
        char buffer[128];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(ZAVGetKeyWord(book, 0, 0, buffer, c.length), c.result) << c.length;
        if (!c.text) {
            for (char ch : buffer) ASSERT_EQ(ch, '#') << c.length;
            continue;
        }
        EXPECT_STREQ(buffer, c.text) << c.length;
        EXPECT_EQ(buffer[strlen(c.text) + 1], '#') << "nothing past the terminator, length " << c.length;
    }
    EXPECT_EQ(ZAVGetKeyWord(book, 0, 0, nullptr, 10), 0);
}

TEST(KeyIndex, EmptyOrAbsentKeyList) {
    ModuleSession session;
    zav::TableDesc none;  // keyCount 0, keyListOffset 0
    zav::TableDesc emptyList;
    emptyList.keyListAlways = true;  // a key list with keyCount 0
    zav::TableDesc noOffset = exampleTable();
    noOffset.keyListOffsetOverride = 0;  // keyCount 5, no list
    zav::BookDesc desc;
    desc.tables = {none, emptyList, noOffset};
    OpenBook book(desc);
    ASSERT_TRUE(book.ok());

    const int32_t counts[] = {0, 0, 5};
    for (int32_t t = 0; t < 3; ++t) {
        char buffer[8] = "#######";
        EXPECT_EQ(ZAVGetKeyCount(book, t), counts[t]) << t;
        EXPECT_EQ(ZAVSearchKeyWord(book, t, "cat", 3), 0) << t;
        EXPECT_EQ(ZAVIsExistWord(book, t, "cat"), 0) << t;
        EXPECT_EQ(ZAVGetKeyWordLength(book, t, 0), 0) << t;
        EXPECT_EQ(ZAVGetKeyWord(book, t, 0, buffer, sizeof buffer), 0) << t;
        EXPECT_STREQ(buffer, "#######");
        EXPECT_EQ(ZAVGetKeyPageNo(book, t, 0), 0) << t;
        EXPECT_EQ(ZAVGetKeyPageOffset(book, t, 0), 0) << t;
        EXPECT_EQ(ZAVPageToKey(book, t, 0), t == 2 ? 0 : ZAV_NO_INDEX) << t;
    }
}

TEST(KeyIndex, HomographTwoWithoutOne) {
    ModuleSession session;
    zav::TableDesc only;
    only.keys = {key("bank@2")};
    zav::TableDesc among;
    among.keys = {key("able"), key("bank@2"), key("cat")};
    zav::BookDesc desc;
    desc.tables = {only, among};
    OpenBook book(desc);
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVIsExistWord(book, 0, "bank"), 0);
    EXPECT_EQ(ZAVSearchKeyWord(book, 0, "bank", 4), 0) << "the index of bank@2";
    EXPECT_EQ(ZAVIsExistWord(book, 1, "bank"), 0);
    EXPECT_EQ(ZAVSearchKeyWord(book, 1, "bank", 4), 1) << "the index of bank@2";
    EXPECT_EQ(ZAVIsExistWord(book, 1, "bank@2"), 1);
}

TEST(KeyIndex, EqualKeysTheProbeSequenceDecides) {
    ModuleSession session;
    zav::TableDesc t;
    t.keepKeyOrder = true;
    t.keys = {key("a"), key("cat"), key("Cat"), key("CAT"), key("cat@1"), key("dog"), key("eel")};
    OpenBook book(bookWithTable(t));
    ASSERT_TRUE(book.ok());
    // Seven keys: the first probe is key 3, which already matches.
    EXPECT_EQ(ZAVSearchKeyWord(book, 0, "cAt", 3), 3);
    // "cat@1" is probed only when the bisection reaches it: lo 4, hi 6 gives 5
    // (dog, after), then 4 (cat@1, equal).
    EXPECT_EQ(ZAVSearchKeyWord(book, 0, "cat@1", 5), 4);
}

// Keys around the probe's read window, a long query that needs a heap copy,
// a key of the longest length, and a word handed over without a terminator.
TEST(KeyIndex, LongKeysAndQueries) {
    ModuleSession session;
    zav::TableDesc t;
    std::vector<std::string> texts;
    for (size_t n : {1, 58, 59, 60, 61, 62, 100, 127, 128, 129, 300, 4096})
        texts.push_back("m" + std::string(n - 1, 'a' + n % 26));
    texts.push_back("z" + std::string(65534, 'q'));
    for (const auto &s : texts) t.keys.push_back(key(s));
    zav::WrittenBook written = zav::writeBookOrDie(bookWithTable(t));
    OpenBook book(written.bytes);
    ASSERT_TRUE(book.ok());
    const auto &sorted = written.layout.tables[0].keyTexts;

    ScopedFaults faults;
    for (uint32_t i = 0; i < sorted.size(); ++i) {
        const std::string &s = sorted[i];
        EXPECT_EQ(ZAVSearchKeyWord(book, 0, s.c_str(), static_cast<int32_t>(s.size())), static_cast<int32_t>(i))
            << s.size();
        EXPECT_EQ(ZAVIsExistWord(book, 0, s.c_str()), 1) << s.size();
        // One byte short is a different word that sorts just before it.
        std::string shorter = s.substr(0, s.size() - 1);
        if (!shorter.empty()) {
            EXPECT_EQ(ZAVIsExistWord(book, 0, shorter.c_str()), 0) << s.size();
        }
        EXPECT_EQ(ZAVGetKeyWordLength(book, 0, i), static_cast<int32_t>(s.size()));
        EXPECT_EQ(faults->liveAllocations(), 0);
    }
    std::vector<char> buffer(65536 + 8, '#');
    const uint32_t longest = static_cast<uint32_t>(sorted.size() - 1);
    EXPECT_EQ(ZAVGetKeyWord(book, 0, longest, buffer.data(), 65536), 0);
    EXPECT_EQ(std::string(buffer.data()), sorted[longest]);
    EXPECT_EQ(buffer[65536], '#');

    // A word whose bytes end exactly at `length`, with no terminator after
    // them: the look-up must not read past them (checked under ASan).
    const std::string &target = sorted[3];
    auto exact = std::make_unique<char[]>(target.size());
    memcpy(exact.get(), target.data(), target.size());
    EXPECT_EQ(ZAVSearchKeyWord(book, 0, exact.get(), static_cast<int32_t>(target.size())), 3);
}

// Key records damaged or cut by the end of the file.
TEST(KeyIndex, KeyRecordsAtTheEndOfTheFile) {
    ModuleSession session;
    zav::WrittenBook written = zav::writeBookOrDie(bookWithTable(exampleTable()));
    const uint32_t list = written.layout.tables[0].keyListOffset;

    // Append a KeyRecord for key 4 ("dog", or a longer text) at the very end
    // of the file, keeping only `keep` bytes of it.
    auto withTail = [&](const std::string &text, uint32_t storedLength, size_t keep) {
        std::vector<uint8_t> bytes = written.bytes;
        uint32_t at = static_cast<uint32_t>(bytes.size());
        std::vector<uint8_t> record(12, 0);
        record[0] = 14;
        record[4] = 140;
        record[8] = static_cast<uint8_t>(storedLength);
        record[9] = static_cast<uint8_t>(storedLength >> 8);
        record[11] = 0xFF;  // attribute -1
        for (char ch : text)
            record.push_back(static_cast<uint8_t>(ch));  // (insert trips a GCC 12 array-bounds false positive)
        record.resize(keep);
        bytes.insert(bytes.end(), record.begin(), record.end());
        zav::patchU32(bytes, list + 16, at);
        return bytes;
    };
    const std::string longDog = "dog" + std::string(97, 'g');

    struct Case {
        const char *why;
        std::string text;
        uint32_t storedLength;
        size_t keep;
        const char *word;
        int32_t search, exists, length, word4;
    } cases[] = {
        {"short text ending at the end of the file", "dog", 3, 15, "dog", 4, 1, 3, -1},
        {"long text ending at the end of the file", longDog, 100, 112, longDog.c_str(), 4, 1, 100, -1},
        {"short text cut by the end of the file", "dog", 3, 14, "dog", 0, 0, 3, 0},
        {"long text cut by the end of the file", longDog, 100, 111, longDog.c_str(), 0, 0, 100, 0},
        {"long text cut inside the window", longDog, 100, 40, longDog.c_str(), 0, 0, 100, 0},
        {"length word cut", "", 3, 10, "dog", 0, 0, 0, 0},
        {"only the page number", "", 3, 4, "dog", 0, 0, 0, 0},
    };
    for (const auto &c : cases) {
        OpenBook book(withTail(c.text, c.storedLength, c.keep));
        ASSERT_TRUE(book.ok());
        ScopedFaults faults;
        EXPECT_EQ(ZAVSearchKeyWord(book, 0, c.word, static_cast<int32_t>(strlen(c.word))), c.search) << c.why;
        EXPECT_EQ(ZAVIsExistWord(book, 0, c.word), c.exists) << c.why;
        EXPECT_EQ(ZAVGetKeyWordLength(book, 0, 4), c.length) << c.why;
        std::vector<char> buffer(200, '#');
        EXPECT_EQ(ZAVGetKeyWord(book, 0, 4, buffer.data(), 200), c.word4) << c.why;
        EXPECT_EQ(faults->liveAllocations(), 0) << c.why;
        // Keys before the damaged one are still found.
        EXPECT_EQ(ZAVSearchKeyWord(book, 0, "bank@2", 6), 2) << c.why;
    }
}

// A hostile book: counts and offsets that point anywhere. Every call ends,
// and a look-up never probes more than 32 times.
TEST(KeyIndex, HostileCountsAndOffsets) {
    ModuleSession session;
    struct Case {
        const char *why;
        std::optional<uint32_t> keyCount, keyList, pageCount, pageToKey;
    } cases[] = {
        {"huge keyCount over a short list", 0xFFFFFFFFu, std::nullopt, std::nullopt, std::nullopt},
        {"keyCount 2^31", 0x80000000u, std::nullopt, std::nullopt, std::nullopt},
        {"key list at 2^31", std::nullopt, 0x80000000u, std::nullopt, std::nullopt},
        {"key list past the end of the file", std::nullopt, 0x7FFFFFF0u, std::nullopt, std::nullopt},
        {"key list at the header", std::nullopt, 4u, std::nullopt, std::nullopt},
        {"page-to-key list at 2^31 - 2", std::nullopt, std::nullopt, 100u, 0x7FFFFFFEu},
        {"huge pageCount", std::nullopt, std::nullopt, 0xFFFFFFFFu, std::nullopt},
    };
    for (const auto &c : cases) {
        zav::TableDesc t = exampleTable();
        t.keyCountOverride = c.keyCount;
        t.keyListOffsetOverride = c.keyList;
        t.pageCountOverride = c.pageCount;
        t.pageToKeyOffsetOverride = c.pageToKey;
        OpenBook book(bookWithTable(t));
        ASSERT_TRUE(book.ok());
        ScopedFaults faults;
        for (const char *word : {"bank", "zebra", "aardvark", "\xFF\xFF"}) {
            faults->resetCounts();
            int32_t r = ZAVSearchKeyWord(book, 0, word, static_cast<int32_t>(strlen(word)));
            (void)r;
            EXPECT_LE(faults->count(Op::Read), 4u + 3u * 32u) << c.why << " " << word;
            ZAVIsExistWord(book, 0, word);
        }
        char buffer[32];
        ZAVGetKeyWord(book, 0, 1000, buffer, sizeof buffer);
        ZAVPageToKey(book, 0, 99);
        EXPECT_EQ(faults->liveAllocations(), 0) << c.why;
    }
}

// A table of `count` keys "k0000000", "k0000002", ... (key i is 2i), written
// once per test program: the 1,000,000-key book takes a moment to build.
const std::vector<uint8_t> &largeBook(uint32_t count) {
    static std::map<uint32_t, std::vector<uint8_t>> books;
    std::vector<uint8_t> &image = books[count];
    if (image.empty()) {
        zav::TableDesc t;
        t.keepKeyOrder = true;
        t.keys.reserve(count);
        char text[16];
        for (uint32_t i = 0; i < count; ++i) {
            snprintf(text, sizeof text, "k%07u", i * 2);
            t.keys.push_back(key(text, i));
        }
        image = zav::writeBookOrDie(bookWithTable(t)).bytes;
    }
    return image;
}

// Reads per look-up stay within the bound at 100,000 and 1,000,000 keys (the
// header, the table record and the bisection's probes, served from windows
// read once), with one heap block, released.
TEST(KeyIndex, ReadsPerLookUpInLargeTables) {
    ModuleSession session;
    const struct {
        uint32_t count;
        uint64_t maxReads;
    } sizes[] = {{100000, 20}, {1000000, 24}};
    for (const auto &size : sizes) {
        OpenBook book(largeBook(size.count));
        ASSERT_TRUE(book.ok());
        const int32_t n = static_cast<int32_t>(size.count);
        auto text = [](int32_t v) {
            char t[16];
            snprintf(t, sizeof t, "k%07d", v);
            return std::string(t);
        };
        const struct {
            std::string word;
            int32_t index;
            int32_t exists;
        } cases[] = {
            {text(0), 0, 1},
            {text(2), 1, 1},
            {text(n), n / 2, 1},
            {"K" + text(2 * n - 2).substr(1), n - 1, 1},
            {text(n + 1), n / 2 + 1, 0},
            {text(12345), 6173, 0},
            {"a", 0, 0},
            {"zzz", n - 1, 0},
            {text(n - 2), n / 2 - 1, 1},
            {text(1), 1, 0},
            {text(2 * n - 3), n - 1, 0},
        };
        ScopedFaults faults;
        for (const auto &c : cases) {
            faults->resetCounts();
            EXPECT_EQ(ZAVSearchKeyWord(book, 0, c.word.c_str(), static_cast<int32_t>(c.word.size())), c.index)
                << c.word;
            EXPECT_LE(faults->count(Op::Read), size.maxReads) << c.word;
            EXPECT_LE(faults->count(Op::Alloc), 1u) << c.word;

            faults->resetCounts();
            EXPECT_EQ(ZAVIsExistWord(book, 0, c.word.c_str()), c.exists) << c.word;
            EXPECT_LE(faults->count(Op::Read), size.maxReads) << c.word;
            EXPECT_EQ(faults->liveAllocations(), 0) << c.word;
        }
    }
}

// A table directory whose count lies in the bytes a look-up reads first
// (the header and what follows it, 1024 bytes) but whose entry does not: the
// entry is read on its own, and a failure of that read fails the look-up.
TEST(KeyIndex, TableDirectoryAcrossTheFirstRead) {
    ModuleSession session;
    const zav::WrittenBook written = zav::writeBookOrDie(bookWithTable(exampleTable()));
    constexpr uint32_t kDir = 1021;
    std::vector<uint8_t> image = written.bytes;
    ASSERT_LE(image.size(), kDir);
    image.resize(kDir);
    const auto dir = written.bytes.begin() + written.layout.tableDirOffset;
    image.insert(image.end(), dir, dir + 1 + 4);
    zav::patchU32(image, tovix::HDR_TABLE_DIR_OFFSET, kDir);
    OpenBook book(image);
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVSearchKeyWord(book, 0, "cat", 3), 3);
    ScopedFaults faults;
    faults->failAt(Op::Read, 2);
    EXPECT_EQ(ZAVSearchKeyWord(book, 0, "cat", 3), 0);
    EXPECT_EQ(faults->faultsFired(), 1u);
}

// Key records out of key order are found all the same: records swapped
// within the span of the table's records, or moved past it. 1,200 keys of
// 20-byte records span more than one read-ahead window, and less than two.
TEST(KeyIndex, RecordsOutOfKeyOrder) {
    ModuleSession session;
    constexpr uint32_t kCount = 1200, kRecord = 20, kMid = (kCount - 1) / 2;
    zav::TableDesc t;
    t.keepKeyOrder = true;
    auto text = [](uint32_t i) {
        char s[16];
        snprintf(s, sizeof s, "k%07u", i * 2);
        return std::string(s);
    };
    for (uint32_t i = 0; i < kCount; ++i) t.keys.push_back(key(text(i), i));
    const zav::WrittenBook written = zav::writeBookOrDie(bookWithTable(t));
    const zav::TableLayout &lay = written.layout.tables[0];
    // The middle key's record swapped with key `other`'s, or copied to `at`.
    auto swapped = [&](uint32_t other) {
        std::vector<uint8_t> image = written.bytes;
        auto record = [&](uint32_t i) { return image.begin() + lay.keyRecords[i]; };
        std::swap_ranges(record(kMid), record(kMid) + kRecord, record(other));
        zav::patchU32(image, lay.keyListOffset + 4 * kMid, lay.keyRecords[other]);
        zav::patchU32(image, lay.keyListOffset + 4 * other, lay.keyRecords[kMid]);
        return image;
    };
    auto copied = [&](uint32_t at) {
        std::vector<uint8_t> image = written.bytes;
        image.resize(std::max<size_t>(image.size(), at + kRecord));
        std::copy_n(written.bytes.begin() + lay.keyRecords[kMid], kRecord, image.begin() + at);
        zav::patchU32(image, lay.keyListOffset + 4 * kMid, at);
        return image;
    };
    const uint32_t end = static_cast<uint32_t>(written.bytes.size());
    const std::pair<const char *, std::vector<uint8_t>> images[] = {
        {"the middle key's record near the top", swapped(kCount - 2)},
        {"the middle key's record well after all others", copied(end + 100)},
        {"the middle key's record in the header's spare bytes", copied(200)},
    };
    for (const auto &[name, image] : images) {
        SCOPED_TRACE(name);
        OpenBook book(image);
        ASSERT_TRUE(book.ok());
        for (uint32_t i : {kMid, 0u, 1u, kCount / 4, kCount - 2, kCount - 1}) {
            EXPECT_EQ(ZAVSearchKeyWord(book, 0, text(i).c_str(), 8), static_cast<int32_t>(i)) << text(i);
        }
    }
}

// Fail each read, seek and allocation of a look-up in turn: the call returns
// 0 and leaves nothing allocated.
TEST(KeyIndex, FaultsDuringALookUp) {
    ModuleSession session;
    zav::TableDesc t = exampleTable();
    const std::string longKey = "cat" + std::string(200, 's');
    t.keys.push_back(key(longKey));  // sorts between cat and dog: index 4
    OpenBook book(bookWithTable(t));
    ASSERT_TRUE(book.ok());

    struct Case {
        std::string word;
        int32_t index;
        int32_t exists;
    } cases[] = {{"cat", 3, 1}, {"bank", 1, 1}, {longKey, 4, 1}, {longKey + "x", 5, 0}};
    ScopedFaults faults;
    for (const auto &c : cases) {
        const std::pair<const char *, std::function<int32_t()>> calls[] = {
            {"search", [&] { return ZAVSearchKeyWord(book, 0, c.word.c_str(), static_cast<int32_t>(c.word.size())); }},
            {"exists", [&] { return ZAVIsExistWord(book, 0, c.word.c_str()); }},
        };
        for (const auto &[name, call] : calls) {
            const int32_t expected = std::string(name) == "search" ? c.index : c.exists;
            for (Op op : {Op::Read, Op::Alloc}) {
                for (FaultMode mode : {FaultMode::Once, FaultMode::Persistent, FaultMode::Short}) {
                    if (mode == FaultMode::Short && op != Op::Read) continue;
                    uint64_t fired = forEachFailurePoint(
                        op,
                        [&](uint64_t n) {
                            int64_t live = faults->liveAllocations();
                            int32_t r = call();
                            EXPECT_EQ(r, faults->faultsFired() ? 0 : expected)
                                << name << " " << c.word.size() << " " << tovix::test::opName(op) << " " << n;
                            EXPECT_EQ(faults->liveAllocations(), live);
                        },
                        mode);
                    if (op != Op::Alloc) {
                        EXPECT_GT(fired, 0u);
                    }
                }
            }
        }
    }
}

// --- dictionary books ----------------------------------------------------------

constexpr uint32_t kDictId = 0x00C0FFEE;

const std::vector<std::string> kWords = {"alpha", "beta", "gamma", "delta", "epsilon",
                                         "zeta",  "eta",  "theta", "iota",  "kappa"};

class DictionaryKeys : public ::testing::Test {
protected:
    void SetUp() override {
        engine_double::reset();
        std::vector<engine_double::Word> words;
        for (const auto &w : kWords) words.push_back({w, {}});
        engine_double::addDictionary(kDictId, words);
        zav::TableDesc t;
        t.dictId = kDictId;
        book_ = std::make_unique<OpenBook>(bookWithTable(t, BOOK_KIND_DICTIONARY));
        ASSERT_TRUE(book_->ok());
        engine_double::clearLog();
    }
    void TearDown() override {
        engine_double::HandleReport report = engine_double::handles();
        EXPECT_TRUE(report.clean()) << report.live
                                    << " live, problems: " << (report.problems.empty() ? "" : report.problems[0]);
        book_.reset();
        engine_double::reset();
    }
    // The calls since the last check, then a fresh log.
    static std::vector<std::string> takeCalls() {
        std::vector<std::string> names = engine_double::callNames();
        engine_double::clearLog();
        return names;
    }
    BookHandle book() const { return *book_; }

    ModuleSession session_;
    std::unique_ptr<OpenBook> book_;
};

using Calls = std::vector<std::string>;

TEST_F(DictionaryKeys, CountsAndPagesFromTheWordCount) {
    EXPECT_EQ(ZAVGetKeyCount(book(), 0), 10);
    ASSERT_EQ(engine_double::calls("dicCreateHDICT").size(), 1u);
    EXPECT_EQ(engine_double::calls("dicCreateHDICT")[0].id, kDictId);
    EXPECT_EQ(takeCalls(), (Calls{"dicCreateHDICT", "dicGetWordCount", "dicFreeHDICT"}));

    EXPECT_EQ(ZAVGetKeyPageNo(book(), 0, 7), 7);
    EXPECT_EQ(ZAVGetKeyPageNo(book(), 0, 9), 9);
    EXPECT_EQ(ZAVGetKeyPageNo(book(), 0, 10), 0);
    EXPECT_EQ(ZAVPageToKey(book(), 0, 9), 9);
    EXPECT_EQ(ZAVPageToKey(book(), 0, 10), ZAV_NO_INDEX);
    EXPECT_EQ(ZAVPageToKey(book(), 0, 0xFFFFFFFFu), ZAV_NO_INDEX);
    EXPECT_EQ(takeCalls().size(), 6u * 3u);

    engine_double::setFail(engine_double::Fail::CreateHDICT, true);
    EXPECT_EQ(ZAVGetKeyCount(book(), 0), 0);
    EXPECT_EQ(ZAVGetKeyPageNo(book(), 0, 1), 0);
    EXPECT_EQ(ZAVPageToKey(book(), 0, 1), ZAV_NO_INDEX);
    EXPECT_EQ(takeCalls(), (Calls{"dicCreateHDICT", "dicCreateHDICT", "dicCreateHDICT"}));
}

TEST_F(DictionaryKeys, WordRecordsFreedWordFirst) {
    EXPECT_EQ(ZAVGetKeyWordLength(book(), 0, 4), 7);
    EXPECT_EQ(takeCalls(), (Calls{"dicCreateHDICT", "dicGetWordCount", "dicSearchRecord", "dicGetWordSize",
                                  "dicFreeHWORD", "dicFreeHDICT"}));
    char buffer[16];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ZAVGetKeyWord(book(), 0, 2, buffer, sizeof buffer), 5) << "the engine's result";
    EXPECT_STREQ(buffer, "gamma");
    EXPECT_EQ(takeCalls(), (Calls{"dicCreateHDICT", "dicGetWordCount", "dicSearchRecord", "dicGetWord", "dicFreeHWORD",
                                  "dicFreeHDICT"}));
    ZAVGetKeyWord(book(), 0, 2, buffer, 3);
    EXPECT_STREQ(buffer, "ga");
    EXPECT_EQ(engine_double::calls("dicGetWord").at(0).length, 3);
    takeCalls();

    // Index equal to the word count: the dictionary is opened and freed, no
    // record is asked for.
    EXPECT_EQ(ZAVGetKeyWordLength(book(), 0, 10), 0);
    EXPECT_EQ(takeCalls(), (Calls{"dicCreateHDICT", "dicGetWordCount", "dicFreeHDICT"}));
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(ZAVGetKeyWord(book(), 0, 10, buffer, sizeof buffer), 0);
    EXPECT_EQ(buffer[0], '#');
    takeCalls();

    // A buffer without room for the terminator reaches no engine call.
    EXPECT_EQ(ZAVGetKeyWord(book(), 0, 2, buffer, 0), 0);
    EXPECT_EQ(ZAVGetKeyWord(book(), 0, 2, nullptr, 8), 0);
    EXPECT_TRUE(takeCalls().empty());

    // The record cannot be found.
    engine_double::setFail(engine_double::Fail::SearchRecord, true);
    EXPECT_EQ(ZAVGetKeyWordLength(book(), 0, 1), 0);
    EXPECT_EQ(takeCalls(), (Calls{"dicCreateHDICT", "dicGetWordCount", "dicSearchRecord", "dicFreeHDICT"}));
    engine_double::setFail(engine_double::Fail::SearchRecord, false);
}

TEST_F(DictionaryKeys, MissingEntryPointStillFreesBoth) {
    ScopedFaults faults;
    faults->hideSymbol("dicGetWord");
    char buffer[8] = "#######";
    EXPECT_EQ(ZAVGetKeyWord(book(), 0, 1, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "#######");
    EXPECT_EQ(takeCalls(),
              (Calls{"dicCreateHDICT", "dicGetWordCount", "dicSearchRecord", "dicFreeHWORD", "dicFreeHDICT"}));
    faults->hideSymbol("dicGetHandleInfo");
    EXPECT_EQ(ZAVSearchKeyWord(book(), 0, "theta", 5), 0);
    EXPECT_EQ(takeCalls(), (Calls{"dicCreateHDICT", "dicSearchWord", "dicFreeHWORD", "dicFreeHDICT"}));
}

TEST_F(DictionaryKeys, SearchAsksTheEngineWithACopy) {
    struct Case {
        const char *word;
        int32_t length;
        int32_t index;
        const char *asked;  // the word the engine received; null: no engine call at all
        bool found;
    } cases[] = {
        {"gamma", 5, 2, "gamma", true},   {"gammaray", 5, 2, "gamma", true},   {"kappa", 1000, 9, "kappa", true},
        {"alpha", 5, 0, "alpha", true},   {"nothing", 7, 0, "nothing", false}, {"", 0, 0, "", false},
        {"gamma", -1, 0, nullptr, false}, {nullptr, 5, 0, nullptr, false},
    };
    for (const auto &c : cases) {
        const char *name = c.word ? c.word : "null";
        EXPECT_EQ(ZAVSearchKeyWord(book(), 0, c.word, c.length), c.index) << name;
        if (!c.asked) {
            EXPECT_TRUE(takeCalls().empty()) << name;
            continue;
        }
        ASSERT_EQ(engine_double::calls("dicSearchWord").size(), 1u) << name;
        EXPECT_EQ(engine_double::calls("dicSearchWord")[0].word, c.asked) << name;
        Calls expected =
            c.found ? Calls{"dicCreateHDICT", "dicSearchWord", "dicGetHandleInfo", "dicFreeHWORD", "dicFreeHDICT"}
                    : Calls{"dicCreateHDICT", "dicSearchWord", "dicFreeHDICT"};
        EXPECT_EQ(takeCalls(), expected) << name;
    }

    // A long word whose copy cannot be allocated.
    ScopedFaults faults;
    std::string longWord(500, 'w');
    faults->failAt(Op::Alloc, 1);
    EXPECT_EQ(ZAVSearchKeyWord(book(), 0, longWord.c_str(), 500), 0);
    EXPECT_EQ(takeCalls(), (Calls{"dicCreateHDICT", "dicFreeHDICT"}));
    EXPECT_EQ(faults->liveAllocations(), 0);
}

TEST_F(DictionaryKeys, ExistenceIsTheEngines) {
    EXPECT_EQ(ZAVIsExistWord(book(), 0, "beta"), 1);
    EXPECT_EQ(takeCalls(), (Calls{"dicCreateHDICT", "dicIsExistWord", "dicFreeHDICT"}));
    EXPECT_EQ(ZAVIsExistWord(book(), 0, "Beta"), 0) << "the engine's own comparison";
    takeCalls();
    EXPECT_EQ(ZAVIsExistWord(book(), 0, nullptr), 0);
    EXPECT_TRUE(takeCalls().empty());
}

TEST_F(DictionaryKeys, PageOffsetReadsTheFileOnly) {
    // The record's +24 holds simpleNameOffset (0 here) where plain books keep
    // keyCount, so no key is in range.
    EXPECT_EQ(ZAVGetKeyPageOffset(book(), 0, 0), 0);
    EXPECT_TRUE(takeCalls().empty());

    // A dictionary table whose +24 and +28 look like a key list is read as one.
    zav::TableDesc t;
    t.dictId = kDictId;
    t.keys = {key("a", 1, 11), key("b", 2, 22)};
    t.simpleNameOffsetOverride = 2;
    OpenBook other(bookWithTable(t, BOOK_KIND_DICTIONARY));
    ASSERT_TRUE(other.ok());
    EXPECT_EQ(ZAVGetKeyPageOffset(other, 0, 1), 22);
    EXPECT_EQ(ZAVGetKeyPageOffset(other, 0, 2), 0);
    EXPECT_TRUE(takeCalls().empty());
}

TEST(DictionaryKeysWithoutEngine, EveryCallFails) {
    engine_double::reset();
    ScopedFaults faults;
    faults->failLibraryLoads("ZoZizID");
    ModuleSession session;
    zav::TableDesc t;
    t.dictId = kDictId;
    OpenBook book(bookWithTable(t, BOOK_KIND_DICTIONARY));
    ASSERT_TRUE(book.ok());
    const int64_t live = faults->liveAllocations();  // the book's own state
    char buffer[8] = "#######";
    EXPECT_EQ(ZAVGetKeyCount(book, 0), 0);
    EXPECT_EQ(ZAVGetKeyWordLength(book, 0, 0), 0);
    EXPECT_EQ(ZAVGetKeyWord(book, 0, 0, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "#######");
    EXPECT_EQ(ZAVGetKeyPageNo(book, 0, 0), 0);
    EXPECT_EQ(ZAVPageToKey(book, 0, 0), ZAV_NO_INDEX);
    EXPECT_EQ(ZAVSearchKeyWord(book, 0, "alpha", 5), 0);
    EXPECT_EQ(ZAVIsExistWord(book, 0, "alpha"), 0);
    EXPECT_TRUE(engine_double::calls().empty());
    EXPECT_EQ(faults->liveAllocations(), live);
}

}  // namespace
