// The compact word table lays out the same file as one DictWord per word,
// and the file written from it as it is laid out is those same bytes.
#include <fstream>
#include <iterator>

#include "engine_test_util.h"

using namespace enginetest;
using zozizid::DictWord;

namespace {

constexpr uint32_t kDict = 0x0001AB01;

TEST(DictWordTable, SameFileAsWordsInMaps) {
    const uint32_t sub1 = zozizid::subContentId(kDict, 1), sub2 = zozizid::subContentId(kDict, 2);
    const std::string big(300000, 'b');  // larger than the table's blocks hold together
    std::vector<DictWord> words = {
        {"pear", {{kDict, "second pear text"}, {sub1, "pear one"}, {sub2, big}}},
        {"apple", {{kDict, "apple"}}},
        {"Pear", {}},
        {"bank@2", {{sub1, "river"}}},
        {"bank@1", {{kDict, "money"}}},
    };
    zozizid::DictWordTable table;
    table.addWord("pear");
    table.addContent(sub2, big);  // out of id order, and one id given twice: the later is kept
    table.addContent(kDict, "first pear text");
    table.addContent(sub1, "pear one");
    table.addContent(kDict, "second pear text");
    table.addWord("apple");
    table.addContent(kDict, "apple");
    table.addWord("Pear");
    table.addWord("bank@2");
    table.addContent(sub1, "river");
    table.addWord("bank@1");
    table.addContent(kDict, "money");

    std::vector<uint8_t> expected, built;
    ASSERT_TRUE(zozizid::buildDictionary(kDict, words, &expected, nullptr));
    std::string error;
    ASSERT_TRUE(zozizid::buildDictionary(kDict, table, &built, &error)) << error;
    EXPECT_EQ(built, expected);

    DictFolder folder;
    std::string path = zozizid::dictionaryPath(folder.path(), kDict);
    ASSERT_TRUE(zozizid::writeDictionary(path, kDict, table, &error)) << error;
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> written((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    EXPECT_EQ(written, expected);
}

TEST(DictWordTable, RefusesWhatTheFormatCannotHold) {
    zozizid::DictWordTable table;
    table.addWord("ok");
    table.addWord(std::string("a\0b", 3));
    std::string error;
    EXPECT_FALSE(zozizid::buildDictionary(kDict, table, nullptr, &error));
    EXPECT_EQ(error, "word holds a zero byte");
}

}  // namespace
