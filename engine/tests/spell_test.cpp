#include <chrono>
#include <cstring>
#include <random>

#include "engine_test_util.h"

using namespace enginetest;

namespace {

constexpr uint32_t kDict = 0x00010001;

intptr_t arg(const void *p) { return reinterpret_cast<intptr_t>(p); }

class Spell : public ::testing::Test {
protected:
    void SetUp() override {
        folder_.write(kDict,
                      plainWords(kDict, {"apple", "apply", "ape", "bank@1", "bank@2", "Bank", "banker", "cat", "cot",
                                         "cut", "dog", "\xB0\xA1", "\xB0\xA1\xB0\xA2", "\xB0\xA1\xB0\xA3"}));
        spell_ = SCCreateHandleEx(kDict);
        ASSERT_NE(spell_, 0u);
    }
    void TearDown() override { EXPECT_EQ(SCFreeHandle(spell_), 1); }

    // SCCorrection into y slots; the suggestions in order.
    std::vector<std::string> correct(const std::string &word, uint8_t y) {
        std::vector<char> slots(static_cast<size_t>(y) * ZOZIZID_SLOT_SIZE + 1, '#');
        int32_t n = SCCorrection(spell_, arg(word.c_str()), arg(slots.data()), y);
        std::vector<std::string> out;
        for (int32_t i = 0; i < n; ++i) out.push_back(slots.data() + ZOZIZID_SLOT_SIZE * static_cast<size_t>(i));
        EXPECT_EQ(slots.back(), '#');
        return out;
    }

    // SCWildcard with y and z; the list written (words), checking its form.
    std::vector<std::string> wildcard(const std::string &pattern, uint8_t y = 255, intptr_t z = 4096) {
        std::vector<char> buffer(4097, '#');
        int32_t n = SCWildcard(spell_, arg(pattern.c_str()), arg(buffer.data()), y, z);
        std::vector<std::string> out;
        size_t at = 0;
        while (buffer[at] != 0) {
            out.emplace_back(buffer.data() + at);
            at += out.back().size() + 1;
        }
        EXPECT_LT(at, static_cast<size_t>(z)) << "the final NUL lies inside z";
        EXPECT_EQ(buffer[static_cast<size_t>(z)], '#') << "nothing written at or past z";
        EXPECT_EQ(static_cast<size_t>(n), out.size());
        return out;
    }

    DictFolder folder_;
    uintptr_t spell_ = 0;
};

using Words = std::vector<std::string>;

TEST_F(Spell, Verify) {
    struct Case {
        const char *word;
        int32_t result;
    } cases[] = {
        {"apple", 1},  {"APPLE", 1},  {" apple ", 1}, {"appl", 0},   {"apples", 0},           {"bank", 1},
        {"bank@1", 1}, {"bank@2", 1}, {"bank@3", 0},  {"banker", 1}, {"\xB0\xA1\xB0\xA2", 1}, {"\xB0\xA1\xB0\xA4", 0},
        {"", 0},
    };
    for (const Case &c : cases) EXPECT_EQ(SCVerify(spell_, arg(c.word), 0), c.result) << c.word;
    EXPECT_EQ(SCVerify(spell_, 0, 0), 0);
    EXPECT_EQ(SCVerify(0, arg("apple"), 0), 0);
}

TEST(SpellHeadwords, OnlyAHigherHomographVerifiesTheBareWord) {
    DictFolder folder;
    folder.write(kDict, plainWords(kDict, {"dusk@2", "eve"}));
    uintptr_t spell = SCCreateHandleEx(kDict);
    ASSERT_NE(spell, 0u);
    EXPECT_EQ(SCVerify(spell, arg("dusk"), 0), 1) << "the headword is spelled right";
    EXPECT_EQ(SCVerify(spell, arg("dusk@1"), 0), 0) << "a word with a number must match it";
    SCFreeHandle(spell);
}

TEST_F(Spell, CorrectionOrdersByDistanceThenDictionaryOrder) {
    struct Case {
        const char *word;
        uint8_t y;
        Words expected;
        const char *why;
    } cases[] = {
        {"aple", 10, {"ape", "apple"}, "both one edit away; apply is two"},
        {"cat", 10, {"cat", "cot", "cut"}, "the word itself first"},
        {"CAT", 10, {"cat", "cot", "cut"}, "case ignored"},
        {"cat", 2, {"cat", "cot"}, "only y suggestions"},
        {"cxt", 1, {"cat"}, "dictionary order among equals"},
        {"banc", 10, {"Bank"}, "homographs and case variants counted once"},
        {"bankers", 10, {"banker"}, "distance 1 of a 7-letter word"},
        {"\xB0\xA1",
         10,
         {"\xB0\xA1", "\xB0\xA1\xB0\xA2", "\xB0\xA1\xB0\xA3"},
         "a double-byte character is one character"},
        {"zzzz", 10, {}, "nothing close"},
        {"", 10, {}, "empty word"},
    };
    for (const Case &c : cases) EXPECT_EQ(correct(c.word, c.y), c.expected) << c.why;
}

TEST_F(Spell, CorrectionBounds) {
    char slots[2 * ZOZIZID_SLOT_SIZE];
    memset(slots, '#', sizeof slots);
    EXPECT_EQ(SCCorrection(spell_, arg("cat"), arg(slots), 0), 0) << "y = 0";
    EXPECT_EQ(slots[0], '#') << "nothing written for y = 0";
    EXPECT_EQ(SCCorrection(spell_, 0, arg(slots), 2), 0);
    EXPECT_EQ(SCCorrection(spell_, arg("cat"), 0, 2), 0);
    EXPECT_EQ(SCCorrection(0, arg("cat"), arg(slots), 2), 0);
    std::string tooLong(256, 'a');
    EXPECT_EQ(SCCorrection(spell_, arg(tooLong.c_str()), arg(slots), 2), 0) << "words over 255 bytes";

    // One result: only the first slot is written.
    EXPECT_EQ(SCCorrection(spell_, arg("dog"), arg(slots), 2), 1);
    EXPECT_STREQ(slots, "dog");
    EXPECT_EQ(slots[ZOZIZID_SLOT_SIZE], '#');
}

TEST(SpellLongWords, SlotsCutAtACharacterBoundary) {
    DictFolder folder;
    std::string single(257, 'a');
    std::string doubled;
    for (int i = 0; i < 129; ++i) doubled += "\xB0\xA1";
    folder.write(kDict, plainWords(kDict, {single.c_str(), doubled.c_str()}));
    uintptr_t spell = SCCreateHandleEx(kDict);
    ASSERT_NE(spell, 0u);
    std::vector<char> slots(2 * ZOZIZID_SLOT_SIZE, '#');

    std::string query(255, 'a');  // two edits from the 257-letter word
    ASSERT_EQ(SCCorrection(spell, arg(query.c_str()), arg(slots.data()), 2), 1);
    EXPECT_EQ(std::string(slots.data()), std::string(255, 'a'));

    query = doubled.substr(0, 254);  // 127 characters, two edits away
    ASSERT_EQ(SCCorrection(spell, arg(query.c_str()), arg(slots.data()), 2), 1);
    EXPECT_EQ(std::string(slots.data()), doubled.substr(0, 254)) << "no half character at the end";
    SCFreeHandle(spell);
}

TEST_F(Spell, Wildcard) {
    struct Case {
        const char *pattern;
        uint8_t y;
        Words expected;
    } cases[] = {
        {"ap*", 255, {"ape", "apple", "apply"}},
        {"c?t", 255, {"cat", "cot", "cut"}},
        {"C?T", 255, {"cat", "cot", "cut"}},
        {"*", 3, {"ape", "apple", "apply"}},
        {"b*", 255, {"Bank", "banker"}},
        {"bank", 255, {"Bank"}},
        {"*e*", 255, {"ape", "apple", "banker"}},
        {"\xB0\xA1?", 255, {"\xB0\xA1\xB0\xA2", "\xB0\xA1\xB0\xA3"}},
        {"?", 255, {"\xB0\xA1"}},
        {"*x*", 255, {}},
        {"", 255, {}},
        {"cat", 0, {}},
    };
    for (const Case &c : cases) EXPECT_EQ(wildcard(c.pattern, c.y), c.expected) << c.pattern;
}

TEST_F(Spell, WildcardWritesOnlyWholeWordsWithinZ) {
    struct Case {
        intptr_t z;
        Words expected;
    } cases[] = {
        {9, {"cat", "cot"}},  // "cat\0cot\0" and the final NUL
        {8, {"cat"}},        {5, {"cat"}}, {4, {}}, {1, {}},
    };
    for (const Case &c : cases) EXPECT_EQ(wildcard("c?t", 255, c.z), c.expected) << "z = " << c.z;

    char buffer[4] = {'#', '#', '#', '#'};
    EXPECT_EQ(SCWildcard(spell_, arg("c?t"), arg(buffer), 10, 0), 0);
    EXPECT_EQ(buffer[0], '#') << "z = 0 writes nothing";
    EXPECT_EQ(SCWildcard(spell_, arg("c?t"), arg(buffer), 10, -5), 0);
    EXPECT_EQ(SCWildcard(spell_, arg("c?t"), 0, 10, 100), 0);
    EXPECT_EQ(SCWildcard(spell_, 0, arg(buffer), 10, 4), 0);
    EXPECT_EQ(buffer[0], 0) << "an empty list when the pattern is missing";
    std::string tooLong(256, '*');
    buffer[0] = '#';
    EXPECT_EQ(SCWildcard(spell_, arg(tooLong.c_str()), arg(buffer), 10, 4), 0);
    EXPECT_EQ(buffer[0], 0);
}

TEST(SpellScale, LargeDictionaryStaysBounded) {
    DictFolder folder;
    std::mt19937 random(7);
    std::vector<zozizid::DictWord> words;
    for (int i = 0; i < 100000; ++i) {
        std::string w;
        size_t length = 3 + random() % 12;
        for (size_t k = 0; k < length; ++k) w += static_cast<char>('a' + random() % 26);
        words.push_back({w, {}});
    }
    words.push_back({"pathological", {}});
    folder.write(kDict, words);
    uintptr_t spell = SCCreateHandleEx(kDict);
    ASSERT_NE(spell, 0u);
    std::vector<char> slots(255 * ZOZIZID_SLOT_SIZE);
    std::vector<char> list(1 << 16);

    auto start = std::chrono::steady_clock::now();
    int32_t n = SCCorrection(spell, arg("pathologicel"), arg(slots.data()), 255);
    ASSERT_GE(n, 1);
    EXPECT_STREQ(slots.data(), "pathological");
    EXPECT_GT(SCWildcard(spell, arg("*a*b*c*"), arg(list.data()), 255, static_cast<intptr_t>(list.size())), 0);
    EXPECT_EQ(
        SCWildcard(spell, arg("*a*a*a*a*a*a*a*a*a*a*a*a*z"), arg(list.data()), 255, static_cast<intptr_t>(list.size())),
        0);
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    EXPECT_LT(elapsed.count(), 10000) << "one pass each over 100,000 words";
    SCFreeHandle(spell);
}

}  // namespace
