// The engine at its limits: records with more contents than the first read
// of a record takes in, more dictionaries than the cache has slots, header
// fields just past what the file can hold, the folder named with a trailing
// separator, null and empty arguments, and corrections once every slot is
// taken.
#include <cstring>

#include "engine_test_util.h"

using namespace enginetest;
using zozizid::DictWord;

namespace {

constexpr uint32_t kDict = 0x00020001;
// More contents than the engine reads with a record's head (16).
constexpr uint32_t kManyContents = 20;

std::string contentText(uint32_t i) { return "content " + std::to_string(i); }

std::vector<DictWord> manyContentWords() {
    DictWord word{"many", {}};
    for (uint32_t i = 0; i < kManyContents; ++i)
        word.contents[zozizid::subContentId(kDict, i)] = contentText(i);
    return {DictWord{"alpha", {{kDict, "first"}}}, word, DictWord{"omega", {{kDict, "last"}}}};
}

std::vector<uint8_t> build(uint32_t dictId, const std::vector<DictWord> &words) {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(zozizid::buildDictionary(dictId, words, &bytes, &error)) << error;
    return bytes;
}

std::string content(uintptr_t hword, uint32_t id) {
    char buffer[64] = {};
    int32_t n = dicGetContent(hword, id, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer, static_cast<size_t>(n)) : "<none>";
}

TEST(DictionaryLimits, RecordsWithMoreContentsThanTheFirstRead) {
    DictFolder folder;
    std::vector<uint8_t> bytes = build(kDict, manyContentWords());
    folder.writeBytes(kDict, bytes);
    uintptr_t hdict = dicCreateHDICT(kDict);
    ASSERT_NE(hdict, 0u);
    uintptr_t hword = dicSearchWord(hdict, "many");
    ASSERT_NE(hword, 0u);
    for (uint32_t i = 0; i < kManyContents; ++i)
        EXPECT_EQ(content(hword, zozizid::subContentId(kDict, i)), contentText(i)) << "content " << i;
    dicFreeHWORD(hword);
    dicFreeHDICT(hdict);

    // An entry beyond the head pointing out of the records refuses the
    // record alone; its neighbours still read.
    uint32_t recordOffset = get32(bytes, get32(bytes, 20) + 8 + 4);  // index entry 1, its record
    uint32_t lastEntry = recordOffset + 4 + 12 * (kManyContents - 1);
    put32(bytes, lastEntry + 4, 0xFFFFFFF0u);
    folder.writeBytes(kDict, bytes);
    hdict = dicCreateHDICT(kDict);
    ASSERT_NE(hdict, 0u);
    EXPECT_EQ(dicSearchRecord(hdict, 1), 0u);
    EXPECT_EQ(recordWord(hdict, 0), "alpha");
    EXPECT_EQ(recordWord(hdict, 2), "omega");
    dicFreeHDICT(hdict);
}

TEST(DictionaryLimits, MoreDictionariesThanCacheSlots) {
    // 64 slots: the least recently used dictionary gives up its slot, and
    // opens again from its file when asked for.
    constexpr uint32_t kCount = 70;
    DictFolder folder;
    auto idOf = [](uint32_t i) { return 0x00030000u + i; };
    for (uint32_t i = 0; i < kCount; ++i)
        folder.write(idOf(i), {DictWord{"word" + std::to_string(i), {{idOf(i), "text" + std::to_string(i)}}}});
    for (uint32_t round = 0; round < 2; ++round) {
        for (uint32_t i = 0; i < kCount; ++i) {
            uintptr_t hdict = dicCreateHDICT(idOf(i));
            ASSERT_NE(hdict, 0u) << "dictionary " << i;
            uintptr_t hword = dicSearchRecord(hdict, 0);
            EXPECT_EQ(content(hword, idOf(i)), "text" + std::to_string(i));
            dicFreeHWORD(hword);
            dicFreeHDICT(hdict);
        }
    }
}

TEST(DictionaryLimits, HeaderFieldsJustPastTheFileAreRefused) {
    DictFolder folder;
    const std::vector<uint8_t> good = build(kDict, manyContentWords());
    const uint32_t count = get32(good, 16);
    struct Case {
        uint32_t field;
        uint32_t value;
        const char *why;
    } cases[] = {
        {36, 4 * count - 1, "records too small for one content count per word"},
        {28, 3 * count - 1, "words too small for a length and a byte per word"},
        {16, 0xFFFFFFFFu, "word count whose index overflows 32 bits"},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = good;
        put32(bytes, c.field, c.value);
        folder.writeBytes(kDict, bytes);
        EXPECT_EQ(dicCreateHDICT(kDict), 0u) << c.why;
        EXPECT_EQ(SCCreateHandleEx(kDict), 0u) << c.why;
    }
}

TEST(DictionaryLimits, FilesOver4GiBAreRefused) {
    // The file grown (sparse where the system allows) to the size its header
    // states: the largest 32-bit size opens, 4 GiB (stated as 0, the size
    // wrapped) does not.
    DictFolder folder;
    std::vector<uint8_t> bytes = build(kDict, manyContentWords());
    const std::string path = zozizid::dictionaryPath(folder.path(), kDict);
    for (uint64_t size : {uint64_t{0xFFFFFFFFu}, uint64_t{1} << 32}) {
        put32(bytes, 40, static_cast<uint32_t>(size));
        folder.writeBytes(kDict, bytes);
        std::error_code error;
        std::filesystem::resize_file(path, size, error);
        if (error) GTEST_SKIP() << "no room for a 4 GiB file: " << error.message();
        folder.newVersion(kDict);
        uintptr_t hdict = dicCreateHDICT(kDict);
        EXPECT_EQ(hdict != 0, size == 0xFFFFFFFFu) << size;
        EXPECT_EQ(recordWord(hdict, 1), size == 0xFFFFFFFFu ? "many" : "<none>");
        dicFreeHDICT(hdict);
    }
    std::filesystem::remove(path);
}

TEST(DictionaryLimits, FolderWithATrailingSeparator) {
    DictFolder folder;
    folder.write(kDict, plainWords(kDict, {"one"}));
    std::string withSeparator = folder.path() + "/";
    companiontest::setEnvironment(ZOZIZID_DICT_DIR_ENV, withSeparator.c_str());
    uintptr_t hdict = dicCreateHDICT(kDict);
    EXPECT_NE(hdict, 0u);
    EXPECT_EQ(recordWord(hdict, 0), "one");
    dicFreeHDICT(hdict);
}

TEST(DictionaryLimits, NullAndEmptyArgumentsFail) {
    DictFolder folder;
    folder.write(kDict, {DictWord{"one", {{kDict, ""}}}});
    uintptr_t hdict = dicCreateHDICT(kDict);
    ASSERT_NE(hdict, 0u);
    uintptr_t hword = dicSearchRecord(hdict, 0);
    ASSERT_NE(hword, 0u);
    char buffer[8] = "keep";
    uint32_t value = 7;
    EXPECT_EQ(dicSearchWord(hdict, nullptr), 0u);
    EXPECT_EQ(dicIsExistWord(hdict, nullptr), 0);
    EXPECT_EQ(dicIsExistWord(0, "one"), 0);
    EXPECT_EQ(dicGetWord(hword, buffer, 0), 0);
    EXPECT_EQ(dicGetWord(hword, nullptr, sizeof buffer), 0);
    EXPECT_EQ(dicGetContent(hword, kDict, buffer, 0), 0);
    EXPECT_EQ(dicIsExistContent(hword, kDict), 1);
    EXPECT_EQ(dicGetContent(hword, kDict, buffer, sizeof buffer), 0) << "an empty content";
    EXPECT_STREQ(buffer, "keep") << "nothing written into an empty buffer";
    EXPECT_EQ(dicIsExistContent(0, kDict), 0);
    EXPECT_EQ(dicGetContentSize(0, kDict), 0);
    EXPECT_EQ(dicGetContent(0, kDict, buffer, sizeof buffer), 0);
    EXPECT_EQ(dicGetHandleInfo(hdict, ZOZIZID_INFO_RECORD_INDEX, &value), 0) << "a dictionary has no record index";
    EXPECT_EQ(dicGetHandleInfo(hdict, -1, &value), 0);
    EXPECT_EQ(dicGetHandleInfo(0, ZOZIZID_INFO_MEMORY, &value), 0);
    EXPECT_EQ(value, 7u);
    dicFreeHWORD(hword);
    dicFreeHDICT(hdict);
}

TEST(DictionaryLimits, AFileCutWhileOpenFailsItsReads) {
    // Over 64 MiB the records stay on disk; when the file loses them under an
    // open handle, the reads that need them fail and nothing else does.
    DictFolder folder;
    std::string big(65u << 20, 'x');
    folder.write(kDict, {{"big", {{kDict, big}}}, {"small", {{kDict, "small:main"}}}});
    big.clear();
    uintptr_t hdict = dicCreateHDICT(kDict);
    ASSERT_NE(hdict, 0u);
    uintptr_t hword = dicSearchWord(hdict, "big");
    ASSERT_NE(hword, 0u);
    const std::string path = zozizid::dictionaryPath(folder.path(), kDict);
    std::ifstream header(path, std::ios::binary);
    std::vector<uint8_t> head(48);
    header.read(reinterpret_cast<char *>(head.data()), 48);
    header.close();
    std::error_code error;
    std::filesystem::resize_file(path, get32(head, 32) + 2, error);
    if (error) {
        dicFreeHWORD(hword);
        dicFreeHDICT(hdict);
        GTEST_SKIP() << "the system does not cut an open file: " << error.message();
    }
    std::vector<char> bytes(1024, 0);
    EXPECT_EQ(dicGetContent(hword, kDict, bytes.data(), static_cast<uint32_t>(bytes.size())), 0);
    EXPECT_EQ(dicSearchRecord(hdict, 1), 0u) << "its record is gone";
    EXPECT_EQ(dicIsExistWord(hdict, "small"), 1) << "the word list is held in memory";
    dicFreeHWORD(hword);
    dicFreeHDICT(hdict);
    EXPECT_EQ(dicCreateHDICT(kDict), 0u) << "the cut file no longer opens";
}

std::vector<std::string> correct(uintptr_t spell, const char *word, uint8_t y) {
    std::vector<char> slots(size_t{y} * ZOZIZID_SLOT_SIZE);
    int32_t n = SCCorrection(spell, reinterpret_cast<intptr_t>(word), reinterpret_cast<intptr_t>(slots.data()), y);
    std::vector<std::string> out;
    for (int32_t i = 0; i < n; ++i) out.push_back(slots.data() + size_t(i) * ZOZIZID_SLOT_SIZE);
    return out;
}

TEST(DictionaryLimits, CorrectionsOnceEverySlotIsTaken) {
    DictFolder folder;
    folder.write(kDict, plainWords(kDict, {"aog", "bog", "cog", "dog", "dog@1", "doggerel", "dot", "eog"}));
    uintptr_t spell = SCCreateHandleEx(kDict);
    ASSERT_NE(spell, 0u);
    using Words = std::vector<std::string>;
    struct Case {
        const char *word;
        uint8_t y;
        Words expected;
        const char *why;
    } cases[] = {
        {"dog", 2, {"dog", "aog"}, "a closer word later in the dictionary moves the kept ones down"},
        {"dog", 1, {"dog"}, "an exact word ends the search once the only slot is full"},
        {"dob", 3, {"dog", "dot"}, "a homograph is the same suggestion"},
        {"  dog ", 1, {"dog"}, "spaces around the word ignored"},
    };
    for (const Case &c : cases) EXPECT_EQ(correct(spell, c.word, c.y), c.expected) << c.why;
    char list[16] = "keep";
    EXPECT_EQ(SCWildcard(spell, reinterpret_cast<intptr_t>("d*"), reinterpret_cast<intptr_t>(list), 0, sizeof list), 0)
        << "no word wanted";
    EXPECT_EQ(list[0], 0) << "the empty list written";
    SCFreeHandle(spell);
}

TEST(DictionaryLimits, AZeroByteInAStoredWordEndsItsHeadword) {
    // The writer never stores a zero byte; a damaged file may. The spell
    // check then takes the headword up to it, a lead byte before it alone.
    struct Case {
        const char *stored;
        std::vector<std::pair<size_t, uint8_t>> patch;  // byte of the word, new value
        const char *pattern;
        std::string listed;
    } cases[] = {
        {"dogs", {{3, 0}}, "dog", "dog"},
        {"dogsx", {{3, 0xB0}, {4, 0}}, "dog?", "dog\xB0"},
    };
    DictFolder folder;
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = build(kDict, plainWords(kDict, {"cat", c.stored}));
        size_t word = get32(bytes, get32(bytes, 20) + 8) + 2;  // index entry 1, its word's bytes
        for (auto [at, value] : c.patch) bytes.at(word + at) = value;
        folder.writeBytes(kDict, bytes);
        uintptr_t spell = SCCreateHandleEx(kDict);
        ASSERT_NE(spell, 0u);
        char list[32] = {};
        EXPECT_EQ(SCWildcard(spell, reinterpret_cast<intptr_t>(c.pattern), reinterpret_cast<intptr_t>(list), 4,
                             sizeof list),
                  1)
            << c.stored;
        EXPECT_EQ(std::string(list), c.listed) << c.stored;
        EXPECT_EQ(correct(spell, "dog", 1), std::vector<std::string>{c.listed}) << c.stored;
        SCFreeHandle(spell);
    }
}

}  // namespace
