// Full-text search: how a reader's query becomes the index's, and searches
// over a book the test writes and indexes (ranking, marks, CJK, a book that
// changed since its index was made).
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ZAVReader.h"
#include "search_index.h"
#include "zav/book_writer.h"

namespace {

namespace fs = std::filesystem;

TEST(SearchQuery, EveryWordIsQuotedAndOperatorsOnlyJoin) {
    struct Case {
        const char *query, *expected;
    } cases[] = {
        {"apple", "\"apple\""},
        {"\xc3\x84pfel STRASSE", "\"apfel\" \"strasse\""},  // case and accents folded
        {"appl*", "\"appl\"*"},
        {"\"red apple\" OR pear", "\"red apple\" OR \"pear\""},
        {"e-mail", "\"e mail\""},  // a phrase of its words, never a column filter
        {"c++ foo)", "\"c\" \"foo\""},
        {"(foo", "(\"foo\")"},
        {"NOT x", "\"x\""},
        {"x AND", "\"x\""},
        {"a AND () b", "\"a\" \"b\""},
        {"AND", ""},
        {"*", ""},
        {"say \"hi", "\"say\" \"hi\""},
        {"\xe6\x9d\xb1\xe4\xba\xac\xe9\x83\xbd", "\"\xe6\x9d\xb1\xe4\xba\xac \xe4\xba\xac\xe9\x83\xbd\""},  // pairs
        {"x\"); DROP TABLE place; --", "\"x\" \"drop table place\""},
    };
    for (const Case &c : cases) EXPECT_EQ(zavreader::indexQuery(c.query), c.expected) << c.query;
}

TEST(SearchQuery, TranslationsOfAnEntry) {
    EXPECT_EQ(zavreader::translationItems("Apfel {m} [bot.]\n [cook.] apple <n>, pome; apple tree\n"
                                          "  \"einen Apfel essen\" - eat an apple\n see: {Obst}"),
              "qqitemapple qqitempome qqitemappleqqtree");
    EXPECT_EQ(zavreader::itemQuery("Apple"), "\"qqitemapple\"");
    EXPECT_EQ(zavreader::itemQuery("appl*"), "");
}

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zavsearch-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        shelf_ = ZAVReaderOpen();
    }
    void TearDown() override {
        ZAVReaderClose(shelf_);
        fs::remove_all(dir_);
    }
    // A plain book of one table, "German - English", each word's text on a
    // page of its own.
    std::string write(const std::vector<std::pair<std::string, std::string>> &words) {
        zav::BookDesc desc;
        desc.bookName = zav::StringListDesc{{1, "German - English"}};
        zav::TableDesc table;
        table.locale = 1;
        table.name = zav::StringListDesc{{1, "words"}};
        for (const auto &[key, text] : words) {
            table.keys.push_back({key, static_cast<uint32_t>(table.pageList.size()), 0, 0, 0});
            table.pageList.push_back(static_cast<uint32_t>(desc.pages.size()));
            desc.pages.push_back({key + "\n" + text, {}});
        }
        table.autoPageToKey = true;
        desc.tables.push_back(table);
        std::string path = (dir_ / "book.zav").string();
        EXPECT_TRUE(zav::saveBook(zav::writeBookOrDie(desc).bytes, path));
        return path;
    }
    void index(const std::string &book) {
        ZAVReaderDatabaseInfo info{};
        ZAVReaderDatabase(shelf_, 0, &info);
        char path[1024];
        ZAVReaderIndexPath(book.c_str(), path, sizeof path);
        ZAVReaderIndexing indexing{};
        indexing.size = sizeof indexing;
        ZAVReaderResult *r = ZAVReaderWriteIndex(shelf_, info.name, path, &indexing);
        ASSERT_EQ(ZAVReaderResultStatus(r), ZAVR_OK) << ZAVReaderResultReason(r);
        ZAVReaderResultFree(r);
    }
    // Headwords of the hits, and the marked words of the first.
    std::vector<std::string> search(const char *query, std::string *marked = nullptr, int32_t *status = nullptr) {
        ZAVReaderResult *r = ZAVReaderSearch(shelf_, "*", query, 10, nullptr);
        if (status) *status = ZAVReaderResultStatus(r);
        std::vector<std::string> out;
        for (size_t i = 0; i < ZAVReaderResultCount(r); ++i) {
            const ZAVReaderAnswer *a = ZAVReaderResultAt(r, i);
            EXPECT_EQ(a->how, static_cast<uint32_t>(ZAVR_HOW_TEXT));
            out.push_back(a->headword);
            size_t length = 0, count = 0;
            const uint32_t *marks = nullptr;
            const char *snippet = ZAVReaderResultSnippet(r, i, &length, &marks, &count);
            if (i == 0 && marked && snippet)
                for (size_t m = 0; m < count; ++m)
                    *marked += std::string(snippet + marks[2 * m], marks[2 * m + 1] - marks[2 * m]) + "|";
        }
        ZAVReaderResultFree(r);
        return out;
    }
    fs::path dir_;
    ZAVReaderShelf *shelf_ = nullptr;
};

TEST_F(SearchTest, RankedHitsWithTheirWordsMarked) {
    std::string book = write({{"Apfel", " [bot.] apple"},
                              {"Apfelbaum", " apple tree; the tree that bears apples"},
                              {"Birne", " pear, a fruit like an apple"},
                              {"Haus", " house, home"},
                              {"Tokio", " \xe6\x9d\xb1\xe4\xba\xac\xe9\x83\xbd (Tokyo)"}});
    ASSERT_EQ(ZAVReaderAdd(shelf_, book.c_str(), nullptr), 1);
    int32_t status = ZAVR_OK;
    EXPECT_EQ(search("apple", nullptr, &status), std::vector<std::string>());
    EXPECT_EQ(status, ZAVR_NOT_FOUND);  // no index yet
    index(book);
    std::string marked;
    std::vector<std::string> hits = search("APPLE", &marked);
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[0], "Apfel");  // its translation is the word
    EXPECT_EQ(marked, "apple|");
    EXPECT_EQ(search("apples").size(), 3u);  // English is stemmed
    EXPECT_EQ(search("\"apple tree\""), std::vector<std::string>{"Apfelbaum"});
    EXPECT_EQ(search("apple NOT pear").size(), 2u);
    EXPECT_EQ(search("hous*"), std::vector<std::string>{"Haus"});
    EXPECT_EQ(search("\xe4\xba\xac\xe9\x83\xbd"), std::vector<std::string>{"Tokio"});  // a pair inside a run
    search("-- )", nullptr, &status);
    EXPECT_EQ(status, ZAVR_BAD_PATTERN);

    // A book that changed since its index was made is not searched.
    { std::ofstream(book, std::ios::app) << "x"; }
    EXPECT_EQ(search("apple", nullptr, &status), std::vector<std::string>());
    EXPECT_EQ(status, ZAVR_UNREADABLE);
}

}  // namespace
