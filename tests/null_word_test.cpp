// A null word given to the presence test of a plain table compares like an
// empty word: a table that holds an empty or all-space key answers 1.
#include <gtest/gtest.h>

#include "TovixZAV_JC.h"
#include "support/test_books.h"
#include "zav/book_writer.h"

namespace {

struct Case {
    const char *name;
    std::vector<std::string> keys;
    int32_t expected;
};

TEST(NullWord, ComparesLikeAnEmptyWordInPlainTables) {
    tovix::test::ModuleSession session;
    const Case cases[] = {
        {"an empty key", {"", "apple", "pear"}, 1},
        {"an all-space key", {"apple", "   ", "pear"}, 1},
        {"no such key", {"apple", "pear", "plum"}, 0},
    };
    for (const Case &c : cases) {
        zav::BookDesc desc;
        desc.kind = BOOK_KIND_PLAIN;
        zav::TableDesc table;
        table.pageList = {0};
        for (const std::string &text : c.keys) table.keys.push_back(zav::KeyDesc{text, 0, 0, 0, 0});
        desc.pages.push_back(zav::PageDesc{"page", {}});
        desc.tables.push_back(table);
        tovix::test::OpenBook book(desc);
        ASSERT_TRUE(book.ok()) << c.name;
        EXPECT_EQ(ZAVIsExistWord(book.get(), 0, nullptr), c.expected) << c.name;
        EXPECT_EQ(ZAVIsExistWord(book.get(), 0, ""), c.expected) << c.name << ", the empty word";
    }
}

}  // namespace
