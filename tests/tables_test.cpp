// Tables: record fields, names, sub entries, dictionary levels, the add-in
// test and table pages, from the file in plain books and from the engine in
// dictionary books.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "doubles/engine_double.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "zav/book_writer.h"

using tovix::test::FaultMode;
using tovix::test::forEachFailurePoint;
using tovix::test::ModuleSession;
using tovix::test::Op;
using tovix::test::OpenBook;
using tovix::test::ScopedFaults;

namespace {

constexpr uint32_t kDictId = 0x00010203;

// A plain book: table 0 maps table pages {7, 2} onto an 8-page book and has
// two sub entries; table 1 has nothing.
zav::BookDesc plainBook() {
    zav::BookDesc desc;
    for (int p = 0; p < 8; ++p) desc.pages.push_back({"page " + std::to_string(p), {}});
    zav::TableDesc table;
    table.locale = 0xC5;
    table.localeSpare[0] = 0x7F;
    table.dictId = 0xDEADBEEF;
    table.name = zav::StringListDesc{{1, "Table"}, {2, "Tabelle"}};
    table.subs = {{11, zav::StringListDesc{{1, "first"}}}, {22, std::nullopt}};
    table.pageList = {7, 2};
    table.keys = {{"key", 7, 0}};
    desc.tables = {table, zav::TableDesc{}};
    return desc;
}

// A dictionary book: table 0 is dictionary kDictId.
zav::BookDesc dictionaryBook() {
    zav::BookDesc desc;
    desc.kind = BOOK_KIND_DICTIONARY;
    zav::TableDesc table;
    table.dictId = kDictId;
    table.appFlags = 0x0110;
    table.name = zav::StringListDesc{{1, "Dictionary"}};
    std::vector<uint8_t> level0(256), level2(256);
    for (size_t i = 0; i < 256; ++i) level0[i] = static_cast<uint8_t>(i), level2[i] = static_cast<uint8_t>(255 - i);
    table.dictLevels = {level0, std::nullopt, level2};
    desc.tables = {table};
    return desc;
}

void scriptDictionary() {
    engine_double::addDictionary(kDictId, {{"alpha", {{kDictId, "first entry"}, {kDictId | 0x81000000u, "sub"}}},
                                           {"beta", {{kDictId, "second"}}}});
}

std::string tablePage(BookHandle book, uint32_t index, uint32_t length = 256) {
    std::vector<char> buffer(length);
    int32_t n = ZAVGetTablePage(book, 0, index, buffer.data(), length);
    return std::string(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

class TablesTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine_double::reset();
        scriptDictionary();
    }
    ModuleSession session;
};

TEST_F(TablesTest, RecordFieldsAndTableNumbers) {
    OpenBook book(plainBook());
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVGetTableLocal(book, 0), 0xC5) << "the first byte only";
    EXPECT_EQ(ZAVGetDictClass(book, 0), static_cast<int32_t>(0xDEADBEEF));
    EXPECT_EQ(ZAVGetSubCount(book, 0), 2);
    EXPECT_EQ(ZAVGetTablePageCount(book, 0), 2);
    char name[32];
    EXPECT_EQ(ZAVGetTableName(book, 0, 2, name, sizeof name), 2);
    EXPECT_STREQ(name, "Tabelle");
    EXPECT_EQ(ZAVGetTableName(book, 1, 1, name, sizeof name), 0) << "no name";
    for (int32_t table : {2, -1, INT32_MIN}) {
        EXPECT_EQ(ZAVGetTableLocal(book, table), 0) << table;
        EXPECT_EQ(ZAVGetSubCount(book, table), 0) << table;
        EXPECT_EQ(ZAVGetTableName(book, table, 1, name, sizeof name), 0) << table;
        EXPECT_EQ(ZAVGetTablePageCount(book, table), 0) << table;
    }
    uint32_t sub = 0;
    uint8_t level[256];
    EXPECT_EQ(ZAVGetTableLocal(nullptr, 0), 0);
    EXPECT_EQ(ZAVGetDictClass(nullptr, 0), 0);
    EXPECT_EQ(ZAVGetSubCount(nullptr, 0), 0);
    EXPECT_EQ(ZAVGetTableName(nullptr, 0, 1, name, sizeof name), 0);
    EXPECT_EQ(ZAVGetTableSimpleName(nullptr, 0, 1, name, sizeof name), 0);
    EXPECT_EQ(ZAVGetSubName(nullptr, 0, 0, &sub, 1, name, sizeof name), 0);
    EXPECT_EQ(ZAVGetDictLevelInfo(nullptr, 0, 0, level), 0);
    EXPECT_EQ(ZAVGetTablePageCount(nullptr, 0), 0);
    EXPECT_EQ(ZAVGetTablePageSize(nullptr, 0, 0), 0);
}

TEST_F(TablesTest, SimpleName) {
    using List = std::optional<zav::StringListDesc>;
    struct Case {
        const char *name;
        uint32_t kind;
        List tableName, simpleName;
        int32_t result;
        const char *text;
    } cases[] = {
        {"plain book: the table name, whatever +24 holds", BOOK_KIND_PLAIN, List({{1, "T"}}), std::nullopt, 1, "T"},
        {"plain book without a name", BOOK_KIND_PLAIN, std::nullopt, std::nullopt, 0, ""},
        {"dictionary without a simple name: the table name", BOOK_KIND_DICTIONARY, List({{1, "T"}}), std::nullopt, 1,
         "T"},
        {"dictionary simple name wins", BOOK_KIND_DICTIONARY, List({{1, "T"}}), List({{3, "S"}}), 3, "S"},
        {"empty simple name is final", BOOK_KIND_DICTIONARY, List({{1, "T"}}), List(zav::StringListDesc{}), 0, ""},
        {"dictionary without names", BOOK_KIND_DICTIONARY, std::nullopt, std::nullopt, 0, ""},
    };
    for (const Case &c : cases) {
        zav::BookDesc desc;
        desc.kind = c.kind;
        zav::TableDesc table;
        table.name = c.tableName;
        table.simpleName = c.simpleName;
        if (c.kind == BOOK_KIND_PLAIN) table.keys = {{"a"}, {"b"}};  // keyCount 2 at +24
        desc.tables = {table};
        OpenBook book(desc);
        ASSERT_TRUE(book.ok()) << c.name;
        char buffer[16] = {};
        EXPECT_EQ(ZAVGetTableSimpleName(book, 0, 3, buffer, sizeof buffer), c.result) << c.name;
        EXPECT_STREQ(buffer, c.text) << c.name;
    }
}

TEST_F(TablesTest, SubNames) {
    zav::WrittenBook written = zav::writeBookOrDie(plainBook());
    OpenBook book(written.bytes);
    ASSERT_TRUE(book.ok());
    struct Case {
        const char *name;
        int32_t index;
        int32_t result;
        uint32_t subId;  // 0xFFFFFFFF: untouched
        const char *text;
    } cases[] = {
        {"named entry", 0, 1, 11, "first"},
        {"no name: subId still stored", 1, 0, 22, ""},
        {"index = subCount", 2, 0, 0xFFFFFFFF, ""},
        {"negative index", -1, 0, 0xFFFFFFFF, ""},
    };
    for (const Case &c : cases) {
        uint32_t subId = 0xFFFFFFFF;
        char buffer[16] = {};
        EXPECT_EQ(ZAVGetSubName(book, 0, c.index, &subId, 1, buffer, sizeof buffer), c.result) << c.name;
        EXPECT_EQ(subId, c.subId) << c.name;
        EXPECT_STREQ(buffer, c.text) << c.name;
    }
    char buffer[16];
    EXPECT_EQ(ZAVGetSubName(book, 0, 0, nullptr, 1, buffer, sizeof buffer), 0);
    uint32_t subId = 0xFFFFFFFF;
    EXPECT_EQ(ZAVGetSubName(book, 1, 0, &subId, 1, buffer, sizeof buffer), 0) << "no sub list";

    // A name that cannot be read keeps the stored subId.
    std::vector<uint8_t> bytes = written.bytes;
    zav::patchU32(bytes, written.layout.tables[0].subListOffset + 4, static_cast<uint32_t>(bytes.size() + 10));
    OpenBook damaged(bytes);
    ASSERT_TRUE(damaged.ok());
    EXPECT_EQ(ZAVGetSubName(damaged, 0, 0, &subId, 1, buffer, sizeof buffer), 0);
    EXPECT_EQ(subId, 11u);
}

TEST_F(TablesTest, AddInAppAndDictionaryLevelsNeedADictionaryBook) {
    zav::BookDesc desc = plainBook();
    desc.tables[0].dictId = kDictId;
    OpenBook book(desc);
    ASSERT_TRUE(book.ok());
    ScopedFaults faults;
    std::vector<uint8_t> block(256, 0xAB);
    EXPECT_EQ(ZAVIsAddInApp(book, 0, 0xFFFFFFFF), 0);
    EXPECT_EQ(ZAVGetDictLevelInfo(book, 0, 0, block.data()), 0);
    EXPECT_EQ(faults->count(Op::Read), 0u);
    EXPECT_TRUE(engine_double::calls().empty());
    EXPECT_EQ(block, std::vector<uint8_t>(256, 0xAB));
}

TEST_F(TablesTest, AddInApp) {
    OpenBook book(dictionaryBook());
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVIsAddInApp(book, 0, 0), 0);
    EXPECT_EQ(ZAVIsAddInApp(book, 0, 0x1001), 0) << "no common bit";
    EXPECT_TRUE(engine_double::calls().empty()) << "no engine call without a common bit";
    EXPECT_EQ(ZAVIsAddInApp(book, 0, 0x0100), 1);
    EXPECT_EQ(engine_double::callNames(), (std::vector<std::string>{"dicCreateHDICT", "dicFreeHDICT"}));
    engine_double::setFail(engine_double::Fail::CreateHDICT, true);
    EXPECT_EQ(ZAVIsAddInApp(book, 0, 0x0010), 0) << "the engine cannot open the dictionary";
    EXPECT_EQ(ZAVIsAddInApp(book, 1, 0x0010), 0) << "no such table";
    EXPECT_EQ(ZAVIsAddInApp(nullptr, 0, 0x0010), 0);
    EXPECT_TRUE(engine_double::handles().clean());
}

TEST_F(TablesTest, DictionaryLevels) {
    zav::BookDesc desc = dictionaryBook();
    zav::TableDesc noLevels;
    noLevels.dictId = kDictId;
    desc.tables.push_back(noLevels);
    OpenBook book(desc);
    ASSERT_TRUE(book.ok());
    const std::vector<uint8_t> &level0 = *desc.tables[0].dictLevels[0], &level2 = *desc.tables[0].dictLevels[2];
    struct Case {
        const char *name;
        int32_t table, index, result;
        const std::vector<uint8_t> *expected;  // null: block untouched
    } cases[] = {
        {"first", 0, 0, 1, &level0},     {"entry 0", 0, 1, 0, nullptr},       {"third", 0, 2, 1, &level2},
        {"negative", 0, -1, 0, nullptr}, {"no level list", 1, 0, 0, nullptr}, {"no table", 2, 0, 0, nullptr},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> block(260, 0xEE);
        EXPECT_EQ(ZAVGetDictLevelInfo(book, c.table, c.index, block.data()), c.result) << c.name;
        std::vector<uint8_t> want = c.expected ? *c.expected : std::vector<uint8_t>(256, 0xEE);
        want.resize(260, 0xEE);
        EXPECT_EQ(block, want) << c.name;
    }
    EXPECT_EQ(ZAVGetDictLevelInfo(book, 0, 0, nullptr), 0);
}

TEST_F(TablesTest, PlainTablePagesAreBookPages) {
    zav::WrittenBook written = zav::writeBookOrDie(plainBook());
    OpenBook book(written.bytes);
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVGetTablePageSize(book, 0, 0), ZAVGetPageSize(book, 7));
    EXPECT_EQ(tablePage(book, 0), "page 7");
    EXPECT_EQ(tablePage(book, 1, 4), "page") << "cut as a book page is";
    for (uint32_t index : {2u, 0xFFFFFFFFu}) {
        EXPECT_EQ(ZAVGetTablePageSize(book, 0, index), 0) << index;
        EXPECT_EQ(tablePage(book, index), "") << index;
    }
    char buffer[8];
    EXPECT_EQ(ZAVGetTablePage(book, 0, 0, nullptr, 8), 0);
    EXPECT_EQ(ZAVGetTablePage(nullptr, 0, 0, buffer, 8), 0);
    EXPECT_EQ(ZAVGetTablePageSize(book, 1, 0), 0) << "a table without pages";

    // A page list naming a page past the directory, or at 2^31.
    std::vector<uint8_t> bytes = written.bytes;
    zav::patchU32(bytes, written.layout.tables[0].pageListOffset, 8);
    zav::patchU32(bytes, written.layout.tables[0].pageListOffset + 4, 0x80000000u);
    OpenBook damaged(bytes);
    ASSERT_TRUE(damaged.ok());
    EXPECT_EQ(ZAVGetTablePageSize(damaged, 0, 0), 0);
    EXPECT_EQ(ZAVGetTablePageSize(damaged, 0, 1), 0);
}

TEST_F(TablesTest, DictionaryTablePagesComeFromTheEngine) {
    OpenBook book(dictionaryBook());
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVGetTablePageCount(book, 0), 2);
    EXPECT_EQ(ZAVGetTablePageSize(book, 0, 1), 6);
    engine_double::clearLog();
    EXPECT_EQ(tablePage(book, 0, 5), "first") << "the engine's cut";
    EXPECT_EQ(engine_double::callNames(),
              (std::vector<std::string>{"dicCreateHDICT", "dicGetWordCount", "dicSearchRecord", "dicGetContent",
                                        "dicFreeHWORD", "dicFreeHDICT"}));
    auto content = engine_double::calls("dicGetContent");
    ASSERT_EQ(content.size(), 1u);
    EXPECT_EQ(content[0].id, kDictId) << "the main content is the dictId itself";
    EXPECT_EQ(content[0].length, 5);
    EXPECT_EQ(engine_double::calls("dicSearchRecord")[0].id, 0u);
    EXPECT_TRUE(engine_double::handles().clean());
}

// Whatever the engine refuses, the call returns 0 and every handle it got is
// freed, the word before the dictionary.
TEST_F(TablesTest, DictionaryTablePageFailures) {
    OpenBook book(dictionaryBook());
    ASSERT_TRUE(book.ok());
    struct Case {
        const char *name;
        uint32_t index;
        std::optional<engine_double::Fail> fail;
        std::optional<uint32_t> wordCount;
    } cases[] = {
        {"index = word count", 2, std::nullopt, std::nullopt},
        {"index -1", 0xFFFFFFFF, std::nullopt, std::nullopt},
        {"dictionary not opened", 0, engine_double::Fail::CreateHDICT, std::nullopt},
        {"record not found", 0, engine_double::Fail::SearchRecord, std::nullopt},
        {"record past the words", 3, std::nullopt, 5},
    };
    for (const Case &c : cases) {
        engine_double::reset();
        scriptDictionary();
        if (c.fail) engine_double::setFail(*c.fail, true);
        engine_double::setWordCount(kDictId, c.wordCount);
        EXPECT_EQ(ZAVGetTablePageSize(book, 0, c.index), 0) << c.name;
        EXPECT_EQ(tablePage(book, c.index), "") << c.name;
        EXPECT_EQ(engine_double::callCount("dicCreateHDICT"), 2u) << c.name;
        EXPECT_TRUE(engine_double::handles().clean()) << c.name;
    }
}

TEST(TablesWithoutEngine, DictionaryCallsReturnZero) {
    engine_double::reset();
    scriptDictionary();
    ScopedFaults faults;
    faults->failLibraryLoads("ZoZizID");
    ModuleSession session;
    OpenBook book(dictionaryBook());
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVGetTablePageCount(book, 0), 0);
    EXPECT_EQ(ZAVGetTablePageSize(book, 0, 0), 0);
    EXPECT_EQ(tablePage(book, 0), "");
    EXPECT_EQ(ZAVIsAddInApp(book, 0, 0x0100), 0);
    EXPECT_TRUE(engine_double::calls().empty());
}

// Every read and seek of ZAVGetTablePage, failed or cut short in turn, makes
// the call return 0 with nothing allocated and no engine handle left.
TEST_F(TablesTest, EachFailedOperationFailsTablePage) {
    OpenBook plain(plainBook());
    OpenBook dictionary(dictionaryBook());
    ASSERT_TRUE(plain.ok() && dictionary.ok());
    const struct {
        const char *name;
        BookHandle book;
        const char *whole;
        uint64_t reads;  // table record 4, then in plain books: page list entry 1, page 5
    } books[] = {{"plain", plain, "page 2", 10}, {"dictionary", dictionary, "second", 4}};
    const struct {
        Op op;
        FaultMode mode;
    } sweeps[] = {{Op::Read, FaultMode::Once}, {Op::Read, FaultMode::Short}, {Op::Read, FaultMode::Persistent}};
    ScopedFaults faults;
    for (const auto &b : books) {
        for (const auto &s : sweeps) {
            engine_double::clearLog();
            uint64_t fired = forEachFailurePoint(
                s.op,
                [&](uint64_t n) {
                    char buffer[32];
                    int32_t got = ZAVGetTablePage(b.book, 0, 1, buffer, sizeof buffer);
                    if (faults->faultsFired()) {
                        EXPECT_EQ(got, 0) << b.name << " " << tovix::test::opName(s.op) << " " << n;
                    } else {
                        EXPECT_EQ(std::string(buffer, got > 0 ? got : 0), b.whole) << b.name;
                    }
                    EXPECT_TRUE(engine_double::handles().clean()) << b.name << " " << n;
                },
                s.mode);
            if (s.op == Op::Read) {
                EXPECT_EQ(fired, b.reads) << b.name;
            }
            EXPECT_EQ(faults->liveAllocations(), 0) << b.name;
        }
    }
}

}  // namespace
