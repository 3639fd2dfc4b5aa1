#include <cstring>

#include "engine_test_util.h"

using namespace enginetest;
using zozizid::DictWord;

namespace {

constexpr uint32_t kDict = 0x0001AB01;

struct Handles {
    uintptr_t hdict = 0;
    explicit Handles(uint32_t dictId) : hdict(dicCreateHDICT(dictId)) {}
    ~Handles() { dicFreeHDICT(hdict); }
};

TEST(DictionaryWriter, FileNamesAreHexOfTheId) {
    EXPECT_EQ(zozizid::dictionaryFileName(0x0001AB01), "0001ab01.zzd");
    EXPECT_EQ(zozizid::dictionaryPath("/d", 0xFFFFFFFF), "/d/ffffffff.zzd");
    EXPECT_EQ(zozizid::dictionaryPath("/d/", 1), "/d/00000001.zzd");
    EXPECT_EQ(zozizid::dictionaryPath("", 1), "00000001.zzd");
    EXPECT_EQ(zozizid::subContentId(0x00010001, 1), 0x81010001u);
    EXPECT_EQ(zozizid::subContentId(0x00010001, 0x85), zozizid::subContentId(0x00010001, 5));
}

TEST(DictionaryWriter, RefusesWhatTheFormatCannotHold) {
    struct Case {
        const char *why;
        DictWord word;
    } cases[] = {
        {"empty word", {"", {}}},
        {"zero byte in word", {std::string("a\0b", 3), {}}},
        {"word over 65535 bytes", {std::string(65536, 'a'), {}}},
    };
    for (auto &c : cases) {
        std::vector<uint8_t> out{1, 2, 3};
        std::string error;
        EXPECT_FALSE(zozizid::buildDictionary(1, {c.word}, &out, &error)) << c.why;
        EXPECT_FALSE(error.empty()) << c.why;
        EXPECT_EQ(out.size(), 3u) << c.why << ": output left unchanged";
    }
    DictWord many{"w", {}};
    for (uint32_t i = 0; i < 1025; ++i) many.contents[i] = "x";
    EXPECT_FALSE(zozizid::buildDictionary(1, {many}, nullptr, nullptr));
    many.contents.erase(0);
    EXPECT_TRUE(zozizid::buildDictionary(1, {many}, nullptr, nullptr)) << "1024 contents fit";
    EXPECT_TRUE(zozizid::buildDictionary(1, {DictWord{std::string(65535, 'a'), {}}}, nullptr, nullptr));
}

TEST(Dictionary, MissingOrForeignFileIsRefused) {
    DictFolder folder;
    EXPECT_EQ(dicCreateHDICT(kDict), 0u) << "no file";
    EXPECT_EQ(SCCreateHandleEx(kDict), 0u);
    // A file of another dictionary renamed to this id.
    std::vector<uint8_t> bytes;
    ASSERT_TRUE(zozizid::buildDictionary(kDict + 1, plainWords(kDict + 1, {"a"}), &bytes, nullptr));
    folder.writeBytes(kDict, bytes);
    EXPECT_EQ(dicCreateHDICT(kDict), 0u) << "dictId in the file differs";
}

TEST(Dictionary, RecordsAreSortedUnderTheKeyCollation) {
    DictFolder folder;
    folder.write(kDict, plainWords(kDict, {"dog", "bank@10", "Bank@2", "able", "bank@1", "  cat", "\xB0\xA1", "bank"}));
    Handles h(kDict);
    ASSERT_NE(h.hdict, 0u);
    ASSERT_EQ(dicGetWordCount(h.hdict), 8u);
    const char *expected[] = {"able", "bank", "bank@1", "Bank@2", "bank@10", "  cat", "dog", "\xB0\xA1"};
    for (uint32_t i = 0; i < 8; ++i) EXPECT_EQ(recordWord(h.hdict, i), expected[i]) << "record " << i;
    EXPECT_EQ(dicSearchRecord(h.hdict, 8), 0u) << "index equal to the count";
    EXPECT_EQ(dicSearchRecord(h.hdict, 0xFFFFFFFF), 0u);
}

TEST(Dictionary, SearchMatchesLikeTheKeySearch) {
    DictFolder folder;
    folder.write(
        kDict, plainWords(kDict, {"able", "bank@1", "bank@2", "Cat", "cat", "dog", "dusk@2", "\xB0\xA1", "\xB0\xA2"}));
    Handles h(kDict);
    ASSERT_NE(h.hdict, 0u);
    struct Case {
        const char *word;
        int64_t index;  // -1: not found
        const char *why;
    } cases[] = {
        {"able", 0, "exact"},
        {"ABLE", 0, "case ignored"},
        {"  able  ", 0, "leading and trailing spaces ignored"},
        {"bank", 1, "bare word finds homograph 1"},
        {"bank@1", 1, "explicit homograph 1"},
        {"BANK@2", 2, "homograph 2, case ignored"},
        {"bank@3", -1, "no such homograph"},
        {"cat", 3, "the first of two case variants"},
        {"dusk", -1, "only homograph 2 exists"},
        {"dusk@2", 6, "homograph 2 itself"},
        {"aardvark", -1, "before every word"},
        {"zebra", -1, "between single- and double-byte words"},
        {"\xB0\xA2", 8, "double-byte word"},
        {"\xB0\xA3", -1, "after every word"},
        {"", -1, "empty word"},
        {"ban", -1, "prefix of a word"},
    };
    for (const Case &c : cases) {
        uintptr_t hword = dicSearchWord(h.hdict, c.word);
        EXPECT_EQ(dicIsExistWord(h.hdict, c.word), c.index >= 0 ? 1 : 0) << c.why;
        if (c.index < 0) {
            EXPECT_EQ(hword, 0u) << c.why;
            continue;
        }
        ASSERT_NE(hword, 0u) << c.why;
        uint32_t index = 0xDEAD;
        EXPECT_EQ(dicGetHandleInfo(hword, ZOZIZID_INFO_RECORD_INDEX, &index), 1) << c.why;
        EXPECT_EQ(index, static_cast<uint32_t>(c.index)) << c.why;
        dicFreeHWORD(hword);
    }
    EXPECT_EQ(dicSearchWord(h.hdict, nullptr), 0u);
    EXPECT_EQ(dicIsExistWord(h.hdict, nullptr), 0);
}

TEST(Dictionary, BisectionFindsEveryWordOfALargeDictionary) {
    DictFolder folder;
    std::vector<DictWord> words;
    for (int i = 0; i < 3000; ++i) {
        char w[32];
        snprintf(w, sizeof w, "w%05d", (i * 7919) % 3000);  // shuffled input order
        words.push_back({w, {{kDict, w}}});
    }
    folder.write(kDict, words);
    Handles h(kDict);
    ASSERT_EQ(dicGetWordCount(h.hdict), 3000u);
    for (uint32_t i = 0; i < 3000; ++i) {
        char w[32];
        snprintf(w, sizeof w, "W%05u", i);
        uintptr_t hword = dicSearchWord(h.hdict, w);
        ASSERT_NE(hword, 0u) << w;
        uint32_t index = 0;
        ASSERT_EQ(dicGetHandleInfo(hword, 1, &index), 1);
        EXPECT_EQ(index, i) << w;
        dicFreeHWORD(hword);
    }
}

TEST(Dictionary, ContentsAndSubContents) {
    DictFolder folder;
    const uint32_t sub1 = zozizid::subContentId(kDict, 1);
    std::string big(100000, 'q');
    big[99999] = 'z';
    folder.write(kDict, {DictWord{"alpha", {{kDict, "main text"}, {sub1, "sub one"}, {7, ""}}},
                         DictWord{"beta", {{kDict, big}}}, DictWord{"gamma", {}}});
    Handles h(kDict);
    uintptr_t alpha = dicSearchRecord(h.hdict, 0), beta = dicSearchRecord(h.hdict, 1),
              gamma = dicSearchRecord(h.hdict, 2);
    ASSERT_TRUE(alpha && beta && gamma);

    struct Case {
        uintptr_t hword;
        uint32_t id;
        int exists;
        int size;
        std::string text;
    } cases[] = {
        {alpha, kDict, 1, 9, "main text"},
        {alpha, sub1, 1, 7, "sub one"},
        {alpha, 7, 1, 0, ""},
        {alpha, zozizid::subContentId(kDict, 2), 0, 0, ""},
        {beta, kDict, 1, 100000, big},
        {beta, sub1, 0, 0, ""},
        {gamma, kDict, 0, 0, ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(dicIsExistContent(c.hword, c.id), c.exists) << c.id;
        EXPECT_EQ(dicGetContentSize(c.hword, c.id), c.size) << c.id;
        std::string buffer(200000, '#');
        int32_t n = dicGetContent(c.hword, c.id, buffer.data(), static_cast<uint32_t>(buffer.size()));
        EXPECT_EQ(n, c.size);
        EXPECT_EQ(buffer.substr(0, static_cast<size_t>(n)), c.text);
        EXPECT_EQ(buffer[static_cast<size_t>(n)], '#') << "no terminator written";
    }

    // At most `length` bytes are copied.
    char small[6];
    memset(small, '#', sizeof small);
    EXPECT_EQ(dicGetContent(alpha, kDict, small, 4), 4);
    EXPECT_EQ(std::string(small, 6), "main##");
    EXPECT_EQ(dicGetContent(alpha, kDict, small, 0), 0);
    EXPECT_EQ(dicGetContent(alpha, kDict, nullptr, 10), 0);
    EXPECT_EQ(dicGetContent(beta, kDict, small, 1), 1);
    EXPECT_EQ(small[0], 'q');

    dicFreeHWORD(alpha);
    dicFreeHWORD(beta);
    dicFreeHWORD(gamma);
}

TEST(Dictionary, GetWordIsBoundedAndTerminated) {
    DictFolder folder;
    folder.write(kDict, plainWords(kDict, {"hello"}));
    Handles h(kDict);
    uintptr_t hword = dicSearchRecord(h.hdict, 0);
    ASSERT_NE(hword, 0u);
    EXPECT_EQ(dicGetWordSize(hword), 5);
    struct Case {
        int32_t length;
        int32_t result;
        std::string written;  // the bytes expected in a buffer of '#'
    } cases[] = {
        {-1, 0, "########"},
        {0, 0, "########"},
        {1, 5, std::string("\0#######", 8)},
        {4, 5, std::string("hel\0####", 8)},
        {5, 5, std::string("hell\0###", 8)},
        {6, 5, std::string("hello\0##", 8)},
        {8, 5, std::string("hello\0##", 8)},
    };
    for (const Case &c : cases) {
        char buffer[8];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(dicGetWord(hword, buffer, c.length), c.result) << c.length;
        EXPECT_EQ(std::string(buffer, 8), c.written) << c.length;
    }
    EXPECT_EQ(dicGetWord(hword, nullptr, 8), 0);
    dicFreeHWORD(hword);
}

TEST(Dictionary, HandlesAreCheckedAndIndependent) {
    DictFolder folder;
    folder.write(kDict, plainWords(kDict, {"one", "two"}));
    uintptr_t hdict = dicCreateHDICT(kDict);
    ASSERT_NE(hdict, 0u);
    uintptr_t hword = dicSearchRecord(hdict, 1);
    ASSERT_NE(hword, 0u);

    // Null handles and handles of the wrong kind are refused.
    uint32_t value = 0;
    EXPECT_EQ(dicFreeHDICT(0), 0);
    EXPECT_EQ(dicFreeHWORD(0), 0);
    EXPECT_EQ(SCFreeHandle(0), 0);
    EXPECT_EQ(dicGetWordCount(0), 0u);
    EXPECT_EQ(dicGetWordCount(hword), 0u);
    EXPECT_EQ(dicSearchRecord(hword, 0), 0u);
    EXPECT_EQ(dicGetWordSize(hdict), 0);
    EXPECT_EQ(dicGetHandleInfo(hdict, 1, &value), 0);
    EXPECT_EQ(dicFreeHDICT(hword), 0);
    EXPECT_EQ(dicFreeHWORD(hdict), 0);
    EXPECT_EQ(dicGetHandleInfo(hword, 3, &value), 0) << "only what = 1 and 2 are known";
    EXPECT_EQ(dicGetHandleInfo(hword, 1, nullptr), 0);

    // The word handle outlives its dictionary handle.
    EXPECT_EQ(dicFreeHDICT(hdict), 1);
    char buffer[16];
    EXPECT_EQ(dicGetWord(hword, buffer, sizeof buffer), 3);
    EXPECT_STREQ(buffer, "two");
    EXPECT_EQ(dicGetContent(hword, kDict, buffer, sizeof buffer), 8);
    EXPECT_EQ(std::string(buffer, 8), "two:main");
    EXPECT_EQ(dicFreeHWORD(hword), 1);
}

TEST(Dictionary, DefaultFolderIsBesideTheLibrary) {
    // Without the variable the engine looks beside itself, where the tests
    // keep no dictionaries.
    companiontest::setEnvironment(ZOZIZID_DICT_DIR_ENV, nullptr);
    EXPECT_EQ(dicCreateHDICT(0x7EADBEEF), 0u);
    companiontest::setEnvironment(ZOZIZID_DICT_DIR_ENV, "");
    EXPECT_EQ(dicCreateHDICT(0x7EADBEEF), 0u) << "an empty variable counts as unset";
    companiontest::setEnvironment(ZOZIZID_DICT_DIR_ENV, nullptr);
}

}  // namespace
