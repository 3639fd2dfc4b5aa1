// A host program against the installed layout: the module, the dictionary
// engine and the memo library side by side in one folder, found by the
// loader the way a host finds them. Books are made with the book writer,
// dictionaries with the engine's writer and memos with the memo writer.
#include <dlfcn.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TovixZAV_JC.h"
#include "ZAVMemo_writer.h"
#include "ZoZizID.h"
#include "ZoZizID_writer.h"
#include "zav/book_writer.h"

namespace {

constexpr uint32_t kSpellDict = 0x0001AB01;  // bytes 01 AB 01 00: spell-capable
constexpr uint32_t kOtherDict = 0x00020002;  // byte 0 is 2: not spell-capable

intptr_t arg(const void *p) { return reinterpret_cast<intptr_t>(p); }

std::string makeFolder(const char *name) {
    std::string pattern = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back(0);
    if (!mkdtemp(buffer.data())) return "";
    return buffer.data();
}

BookHandle openBook(const std::string &path) {
    std::wstring wide(path.begin(), path.end());
    BookHandle book = nullptr;
    return ZAVOpenBook(wide.c_str(), &book) == ZAV_OPEN_OK ? book : nullptr;
}

std::string text(const char *buffer, int32_t n) { return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : ""; }

class InstalledLayout : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        folder_ = makeFolder("zav-e2e");
        ASSERT_FALSE(folder_.empty());
        setenv(ZOZIZID_DICT_DIR_ENV, folder_.c_str(), 1);
        std::string error;
        using zozizid::DictWord;
        const uint32_t sub1 = zozizid::subContentId(kSpellDict, 1);
        ASSERT_TRUE(zozizid::writeDictionary(
            zozizid::dictionaryPath(folder_, kSpellDict), kSpellDict,
            {DictWord{"cat", {{kSpellDict, "a small animal"}, {sub1, "cats, kittens"}}},
             DictWord{"bank@2", {{kSpellDict, "a river side"}}},
             DictWord{"bank@1", {{kSpellDict, "a money house"}, {zozizid::subContentId(kSpellDict, 0x7F), "note"}}},
             DictWord{"able", {{kSpellDict, "having power"}}}, DictWord{"cot", {{kSpellDict, "a small bed"}}},
             DictWord{"dog", {{kSpellDict, "an animal"}}}},
            &error))
            << error;
        ASSERT_TRUE(zozizid::writeDictionary(zozizid::dictionaryPath(folder_, kOtherDict), kOtherDict,
                                             {DictWord{"zebra", {{kOtherDict, "striped"}}}}, &error))
            << error;

        zav::BookDesc dictionary;
        dictionary.kind = BOOK_KIND_DICTIONARY;
        zav::TableDesc spellTable, otherTable, missingTable;
        spellTable.dictId = kSpellDict;
        otherTable.dictId = kOtherDict;
        missingTable.dictId = 0x00010009;  // no such dictionary file
        dictionary.tables = {spellTable, otherTable, missingTable};
        ASSERT_TRUE(zav::saveBook(zav::writeBookOrDie(dictionary).bytes, folder_ + "/dictionary.zav"));

        zav::BookDesc plain;
        plain.kind = BOOK_KIND_PLAIN;
        for (int i = 0; i < 6; ++i) plain.pages.push_back({"page " + std::to_string(i), {}});
        zav::TableDesc table;
        table.pageList = {3, 5, 1};
        plain.tables = {table};
        ASSERT_TRUE(zav::saveBook(zav::writeBookOrDie(plain).bytes, folder_ + "/plain.zav"));
        ASSERT_TRUE(zavmemo::writeBookMemos(folder_ + "/plain.zav",
                                            {{5, "remember page five"}, {1, "one"}, {1, "more"}}, &error))
            << error;
    }
    static void TearDownTestSuite() {
        unsetenv(ZOZIZID_DICT_DIR_ENV);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    static std::string folder_;
};
std::string InstalledLayout::folder_;

TEST_F(InstalledLayout, CompanionsAreTheRealLibrariesBesideTheModule) {
    Dl_info module{}, engine{};
    void *self = dlopen("libTovixZAV_JC.so.1", RTLD_LAZY | RTLD_NOLOAD);
    void *zozizid = dlopen("libZoZizID.so", RTLD_LAZY | RTLD_NOLOAD);
    ASSERT_NE(self, nullptr);
    ASSERT_NE(zozizid, nullptr) << "the module loaded the engine at start-up";
    ASSERT_TRUE(dladdr(dlsym(self, "ZAVOpenBook"), &module));
    ASSERT_TRUE(dladdr(dlsym(zozizid, "dicCreateHDICT"), &engine));
    EXPECT_EQ(std::filesystem::path(module.dli_fname).parent_path(),
              std::filesystem::path(engine.dli_fname).parent_path());
    EXPECT_NE(dlsym(zozizid, "SCWildcard"), nullptr);
    dlclose(zozizid);
    dlclose(self);
}

TEST_F(InstalledLayout, DictionaryBookKeys) {
    BookHandle book = openBook(folder_ + "/dictionary.zav");
    ASSERT_NE(book, nullptr);
    // Records sorted: able, bank@1, bank@2, cat, cot, dog.
    EXPECT_EQ(ZAVGetKeyCount(book, 0), 6);
    EXPECT_EQ(ZAVGetKeyWordLength(book, 0, 1), 6);
    char word[16];
    EXPECT_EQ(ZAVGetKeyWord(book, 0, 2, word, sizeof word), 6);
    EXPECT_STREQ(word, "bank@2");
    EXPECT_EQ(ZAVGetKeyWord(book, 0, 3, word, 3), 3);
    EXPECT_STREQ(word, "ca") << "cut to the buffer";
    EXPECT_EQ(ZAVGetKeyWord(book, 0, 6, word, sizeof word), 0) << "past the last record";
    EXPECT_EQ(ZAVGetKeyPageNo(book, 0, 4), 4);
    EXPECT_EQ(ZAVPageToKey(book, 0, 5), 5);
    EXPECT_EQ(ZAVPageToKey(book, 0, 6), ZAV_NO_INDEX);

    struct Case {
        const char *word;
        int32_t index;
        int32_t exists;
    } cases[] = {
        {"able", 0, 1}, {"BANK", 1, 1}, {"bank@2", 2, 1}, {"Dog", 5, 1}, {"bank@3", 0, 0}, {"zebra", 0, 0},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ZAVSearchKeyWord(book, 0, c.word, static_cast<int32_t>(strlen(c.word))), c.index) << c.word;
        EXPECT_EQ(ZAVIsExistWord(book, 0, c.word), c.exists) << c.word;
    }
    EXPECT_EQ(ZAVSearchKeyWord(book, 0, "cotton", 3), 4) << "only the first three bytes";
    EXPECT_EQ(ZAVGetKeyCount(book, 1), 1) << "the second table's own dictionary";
    EXPECT_EQ(ZAVGetKeyCount(book, 2), 0) << "a dictionary file that is missing";
    EXPECT_EQ(ZAVIsExistWord(book, 2, "cat"), 0);
    ZAVCloseBook(book);
}

TEST_F(InstalledLayout, DictionaryBookPagesAndSubPages) {
    BookHandle book = openBook(folder_ + "/dictionary.zav");
    ASSERT_NE(book, nullptr);
    char buffer[64];
    EXPECT_EQ(ZAVGetTablePageCount(book, 0), 6);
    EXPECT_EQ(ZAVGetTablePageSize(book, 0, 3), 14);
    EXPECT_EQ(text(buffer, ZAVGetTablePage(book, 0, 3, buffer, sizeof buffer)), "a small animal");
    EXPECT_EQ(text(buffer, ZAVGetTablePage(book, 0, 3, buffer, 7)), "a small") << "at most the length";
    EXPECT_EQ(ZAVGetTablePage(book, 0, 6, buffer, sizeof buffer), 0);
    EXPECT_EQ(text(buffer, ZAVGetTablePage(book, 1, 0, buffer, sizeof buffer)), "striped");

    struct Case {
        uint32_t index;
        int32_t sub;
        std::string content;  // "" = no such sub page
    } cases[] = {
        {3, 1, "cats, kittens"}, {3, 0x81, "cats, kittens"}, {3, 2, ""}, {1, 127, "note"}, {1, 1, ""}, {0, 1, ""},
    };
    for (const Case &c : cases) {
        int32_t exists = c.content.empty() ? 0 : 1;
        EXPECT_EQ(ZAVIsExistSubPage(book, 0, c.sub, c.index), exists) << c.index << "/" << c.sub;
        EXPECT_EQ(ZAVGetSubPageSize(book, 0, c.sub, c.index), static_cast<int32_t>(c.content.size()));
        EXPECT_EQ(text(buffer, ZAVGetSubPage(book, 0, c.sub, c.index, buffer, sizeof buffer)), c.content);
    }
    ZAVCloseBook(book);
}

TEST_F(InstalledLayout, DictionaryBookSpelling) {
    BookHandle book = openBook(folder_ + "/dictionary.zav");
    ASSERT_NE(book, nullptr);
    EXPECT_EQ(EBDSCVerify(book, 0, arg("cat"), 0), 1);
    EXPECT_EQ(EBDSCVerify(book, 0, arg("bank"), 0), 1);
    EXPECT_EQ(EBDSCVerify(book, 0, arg("cut"), 0), 0);
    EXPECT_EQ(EBDSCVerify(book, 1, arg("zebra"), 0), 0) << "table 1 is not spell-capable";

    std::vector<char> slots(4 * ZOZIZID_SLOT_SIZE, '#');
    ASSERT_EQ(EBDSCCorrection(book, 0, arg("cut"), arg(slots.data()), 4), 2);
    EXPECT_STREQ(slots.data(), "cat");
    EXPECT_STREQ(slots.data() + ZOZIZID_SLOT_SIZE, "cot");
    EXPECT_EQ(EBDSCCorrection(book, 0, arg("cut"), arg(slots.data()), 0x101), 1) << "only the low 8 bits of y";

    char list[32];
    memset(list, '#', sizeof list);
    ASSERT_EQ(EBDSCWildcard(book, 0, arg("?a*"), arg(list), 10, sizeof list), 2);
    EXPECT_EQ(std::string(list, 13), std::string("bank\0cat\0\0", 10) + "###");
    ZAVCloseBook(book);
}

TEST_F(InstalledLayout, PlainBookMemosAreSubPage127) {
    BookHandle book = openBook(folder_ + "/plain.zav");
    ASSERT_NE(book, nullptr);
    char buffer[64];
    // Table page 1 is book page 5, table page 2 book page 1, table page 0 book page 3.
    EXPECT_EQ(ZAVIsExistSubPage(book, 0, MEMO_SUB_NUMBER, 1), 1);
    EXPECT_EQ(ZAVGetSubPageSize(book, 0, MEMO_SUB_NUMBER, 1), 18);
    EXPECT_EQ(text(buffer, ZAVGetSubPage(book, 0, MEMO_SUB_NUMBER, 1, buffer, sizeof buffer)), "remember page five");
    EXPECT_EQ(text(buffer, ZAVGetSubPage(book, 0, MEMO_SUB_NUMBER, 1, buffer, 8)), "remember");
    EXPECT_EQ(text(buffer, ZAVGetSubPage(book, 0, MEMO_SUB_NUMBER, 2, buffer, sizeof buffer)), "one\nmore")
        << "several memos of a page, joined";
    EXPECT_EQ(ZAVIsExistSubPage(book, 0, MEMO_SUB_NUMBER, 0), 0) << "page 3 has no memo";
    EXPECT_EQ(ZAVGetSubPageSize(book, 0, MEMO_SUB_NUMBER, 0), 0);
    EXPECT_EQ(ZAVIsExistSubPage(book, 0, 126, 1), 0) << "only sub 127 is a memo";
    EXPECT_EQ(ZAVIsExistSubPage(book, 0, MEMO_SUB_NUMBER, 3), 0) << "past the page list";
    ZAVCloseBook(book);
}

}  // namespace
