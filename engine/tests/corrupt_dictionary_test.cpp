// Damaged dictionary files: refused at open when the header or its sections
// are wrong, and refused record by record when a record is wrong; never a
// read outside the file or a crash.
#include <cstring>
#include <functional>
#include <random>

#include "engine_test_util.h"

using namespace enginetest;
using zozizid::DictWord;

namespace {

constexpr uint32_t kDict = 0x00010001;

std::vector<uint8_t> smallDictionary() {
    std::vector<uint8_t> bytes;
    std::string error;
    EXPECT_TRUE(
        zozizid::buildDictionary(kDict,
                                 {DictWord{"apple", {{kDict, "fruit"}, {zozizid::subContentId(kDict, 1), "sub"}}},
                                  DictWord{"bank@1", {{kDict, "money"}}}, DictWord{"cat", {}}},
                                 &bytes, &error))
        << error;
    return bytes;
}

// Every call of the engine on dictionary kDict, with bounded buffers; the
// results do not matter, only that nothing reads or writes out of bounds.
void exerciseAll() {
    uintptr_t hdict = dicCreateHDICT(kDict);
    if (hdict) {
        uint32_t count = dicGetWordCount(hdict);
        for (uint32_t i = 0; i < count && i < 8; ++i) {
            uintptr_t hword = dicSearchRecord(hdict, i);
            if (!hword) continue;
            char buffer[64];
            dicGetWord(hword, buffer, sizeof buffer);
            dicGetWordSize(hword);
            dicGetContentSize(hword, kDict);
            dicGetContent(hword, kDict, buffer, sizeof buffer);
            dicFreeHWORD(hword);
        }
        for (const char *w : {"apple", "bank", "cat", "zzz", ""}) {
            dicFreeHWORD(dicSearchWord(hdict, w));
            dicIsExistWord(hdict, w);
        }
        dicFreeHDICT(hdict);
    }
    uintptr_t spell = SCCreateHandleEx(kDict);
    if (spell) {
        std::vector<char> slots(4 * ZOZIZID_SLOT_SIZE);
        char list[64];
        SCVerify(spell, reinterpret_cast<intptr_t>("bank"), 0);
        SCCorrection(spell, reinterpret_cast<intptr_t>("apole"), reinterpret_cast<intptr_t>(slots.data()), 4);
        SCWildcard(spell, reinterpret_cast<intptr_t>("*"), reinterpret_cast<intptr_t>(list), 10, sizeof list);
        SCFreeHandle(spell);
    }
}

TEST(CorruptDictionary, TruncatedAtEveryLengthIsRefused) {
    DictFolder folder;
    std::vector<uint8_t> bytes = smallDictionary();
    for (size_t length = 0; length < bytes.size(); ++length) {
        folder.writeBytes(kDict, std::vector<uint8_t>(bytes.begin(), bytes.begin() + static_cast<long>(length)));
        EXPECT_EQ(dicCreateHDICT(kDict), 0u) << "length " << length;
        EXPECT_EQ(SCCreateHandleEx(kDict), 0u) << "length " << length;
    }
    folder.writeBytes(kDict, bytes);
    uintptr_t hdict = dicCreateHDICT(kDict);
    EXPECT_NE(hdict, 0u) << "the whole file opens";
    dicFreeHDICT(hdict);
}

TEST(CorruptDictionary, TruncatedWithAMatchingSizeFieldIsSafe) {
    // The stored size agrees with the cut, so the section checks decide.
    DictFolder folder;
    std::vector<uint8_t> bytes = smallDictionary();
    int opened = 0;
    for (size_t length = 48; length < bytes.size(); ++length) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
        put32(cut, 40, static_cast<uint32_t>(length));
        folder.writeBytes(kDict, cut);
        uintptr_t hdict = dicCreateHDICT(kDict);
        if (hdict) ++opened;
        dicFreeHDICT(hdict);
        exerciseAll();
    }
    EXPECT_EQ(opened, 0) << "the record area ends the file, so every cut leaves it outside";
}

TEST(CorruptDictionary, BadHeadersAreRefused) {
    DictFolder folder;
    const std::vector<uint8_t> good = smallDictionary();
    const uint32_t size = static_cast<uint32_t>(good.size());
    struct Case {
        const char *why;
        std::function<void(std::vector<uint8_t> &)> damage;
    } cases[] = {
        {"bad magic", [](auto &b) { b[0] = 'X'; }},
        {"version 2", [](auto &b) { put32(b, 4, 2); }},
        {"header size 40", [](auto &b) { put32(b, 8, 40); }},
        {"stored size too big", [&](auto &b) { put32(b, 40, size + 1); }},
        {"stored size too small", [&](auto &b) { put32(b, 40, size - 1); }},
        {"index inside the header", [](auto &b) { put32(b, 20, 8); }},
        {"index past the end", [&](auto &b) { put32(b, 20, size); }},
        {"index offset near 2^32", [](auto &b) { put32(b, 20, 0xFFFFFFF8u); }},
        {"word count overflowing the index", [](auto &b) { put32(b, 16, 0x20000001u); }},
        {"word count of all ones", [](auto &b) { put32(b, 16, 0xFFFFFFFFu); }},
        {"more words than the word list holds", [&](auto &b) { put32(b, 16, get32(b, 28) / 3 + 1); }},
        {"word list past the end", [&](auto &b) { put32(b, 28, size); }},
        {"word list offset wrapping", [](auto &b) { put32(b, 24, 0xFFFFFFF0u); }},
        {"record area past the end", [&](auto &b) { put32(b, 36, get32(b, 36) + 1); }},
        {"record area wrapping",
         [](auto &b) {
             put32(b, 32, 0xFFFFFFF0u);
             put32(b, 36, 0x20);
         }},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        folder.writeBytes(kDict, bytes);
        EXPECT_EQ(dicCreateHDICT(kDict), 0u) << c.why;
        EXPECT_EQ(SCCreateHandleEx(kDict), 0u) << c.why;
    }
}

TEST(CorruptDictionary, DamagedRecordsAreRefusedOneByOne) {
    DictFolder folder;
    const std::vector<uint8_t> good = smallDictionary();
    const uint32_t index = get32(good, 20);
    const uint32_t size = static_cast<uint32_t>(good.size());
    auto wordAt = [&](const std::vector<uint8_t> &b, uint32_t i) { return get32(b, index + 8 * i); };
    auto recordAt = [&](const std::vector<uint8_t> &b, uint32_t i) { return get32(b, index + 8 * i + 4); };
    // Record 0 is "apple" with two contents.
    struct Case {
        const char *why;
        std::function<void(std::vector<uint8_t> &)> damage;
    } cases[] = {
        {"word offset past the end", [&](auto &b) { put32(b, index, size); }},
        {"word offset before the word list", [&](auto &b) { put32(b, index, 4); }},
        {"word offset of all ones", [&](auto &b) { put32(b, index, 0xFFFFFFFFu); }},
        {"word length 0",
         [&](auto &b) {
             b[wordAt(b, 0)] = 0;
             b[wordAt(b, 0) + 1] = 0;
         }},
        {"word length past the word list",
         [&](auto &b) {
             b[wordAt(b, 0)] = 0xFF;
             b[wordAt(b, 0) + 1] = 0xFF;
         }},
        {"record offset past the end", [&](auto &b) { put32(b, index + 4, size); }},
        {"record offset in the word list", [&](auto &b) { put32(b, index + 4, get32(b, 24)); }},
        {"content count of all ones", [&](auto &b) { put32(b, recordAt(b, 0), 0xFFFFFFFFu); }},
        {"content count over the limit", [&](auto &b) { put32(b, recordAt(b, 0), 1025); }},
        {"content offset past the end", [&](auto &b) { put32(b, recordAt(b, 0) + 8, size); }},
        {"content offset before the record area", [&](auto &b) { put32(b, recordAt(b, 0) + 8, 0); }},
        {"content length past the end", [&](auto &b) { put32(b, recordAt(b, 0) + 12, 0x7FFFFFFFu); }},
        {"content length over 2 GiB", [&](auto &b) { put32(b, recordAt(b, 0) + 12, 0x80000000u); }},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        folder.writeBytes(kDict, bytes);
        uintptr_t hdict = dicCreateHDICT(kDict);
        ASSERT_NE(hdict, 0u) << c.why << ": the header is sound";
        EXPECT_EQ(dicSearchRecord(hdict, 0), 0u) << c.why;
        EXPECT_EQ(recordWord(hdict, 2), "cat") << c.why << ": other records still serve";
        dicFreeHDICT(hdict);
        exerciseAll();
    }

    // The last record ("cat", no contents) ends the file: a content count of
    // 1 puts its table past the end.
    std::vector<uint8_t> bytes = good;
    put32(bytes, recordAt(bytes, 2), 1);
    folder.writeBytes(kDict, bytes);
    uintptr_t hdict = dicCreateHDICT(kDict);
    ASSERT_NE(hdict, 0u);
    EXPECT_EQ(dicSearchRecord(hdict, 2), 0u) << "content table past the end";
    EXPECT_EQ(dicSearchWord(hdict, "cat"), 0u);
    EXPECT_EQ(recordWord(hdict, 0), "apple");
    dicFreeHDICT(hdict);
}

TEST(CorruptDictionary, RandomDamageNeverEscapesTheFile) {
    DictFolder folder;
    const std::vector<uint8_t> good = smallDictionary();
    std::mt19937 random(12345);
    for (int round = 0; round < 400; ++round) {
        std::vector<uint8_t> bytes = good;
        int flips = 1 + static_cast<int>(random() % 4);
        for (int i = 0; i < flips; ++i) {
            size_t at = 48 + random() % (bytes.size() - 48);  // keep the header sound
            bytes[at] = static_cast<uint8_t>(random());
        }
        folder.writeBytes(kDict, bytes);
        exerciseAll();
    }
}

}  // namespace
