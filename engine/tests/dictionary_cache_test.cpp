// The engine keeps a dictionary's index and word list between handles: a
// file that changes on disk must be read again, and handles on several
// threads must share what is kept safely.
#include <atomic>
#include <functional>
#include <thread>

#include "engine_test_util.h"

using namespace enginetest;

namespace {

constexpr uint32_t kDict = 0x00C0FFEE;

bool exists(uint32_t dictId, const char *word) {
    uintptr_t hdict = dicCreateHDICT(dictId);
    int32_t found = dicIsExistWord(hdict, word);
    dicFreeHDICT(hdict);
    return found == 1;
}

// The main content of the record found for word, or "<none>".
std::string content(uint32_t dictId, const char *word) {
    uintptr_t hdict = dicCreateHDICT(dictId);
    uintptr_t hword = dicSearchWord(hdict, word);
    char buffer[64] = {};
    int32_t n = dicGetContent(hword, dictId, buffer, sizeof buffer);
    dicFreeHWORD(hword);
    dicFreeHDICT(hdict);
    return hword ? std::string(buffer, static_cast<size_t>(n)) : "<none>";
}

TEST(DictionaryCache, AFileChangedOnDiskIsReadAgain) {
    struct Case {
        const char *why;
        std::function<void(const DictFolder &)> change;
    } cases[] = {
        {"rewritten in place with another size",
         [](const DictFolder &f) {
             f.write(kDict, plainWords(kDict, {"bison", "zebra", "yak"}));
         }},
        {"rewritten in place with the same size, at another time",
         [](const DictFolder &f) {
             f.write(kDict, plainWords(kDict, {"bison", "zebra"}));
         }},
        {"replaced by another file of the same size",
         [](const DictFolder &f) {
             std::string next = f.path() + "/next.tmp";
             ASSERT_TRUE(zozizid::writeDictionary(next, kDict, plainWords(kDict, {"bison", "zebra"}), nullptr));
             std::filesystem::rename(next, zozizid::dictionaryPath(f.path(), kDict));
         }},
    };
    for (const Case &c : cases) {
        DictFolder folder;
        folder.write(kDict, plainWords(kDict, {"apple", "zebra"}));
        ASSERT_TRUE(exists(kDict, "apple")) << c.why;
        ASSERT_EQ(content(kDict, "zebra"), "zebra:main") << c.why;
        c.change(folder);
        EXPECT_FALSE(exists(kDict, "apple")) << c.why;
        EXPECT_TRUE(exists(kDict, "bison")) << c.why;
        EXPECT_EQ(content(kDict, "zebra"), "zebra:main") << c.why;
        EXPECT_EQ(content(kDict, "bison"), "bison:main") << c.why;
    }
}

TEST(DictionaryCache, MemoryHeldIsReportedAndShared) {
    DictFolder folder;
    std::vector<zozizid::DictWord> words;
    for (int i = 0; i < 1000; ++i) words.push_back({"word" + std::to_string(1000 + i), {{kDict, "text"}}});
    folder.write(kDict, words);
    uintptr_t first = dicCreateHDICT(kDict), second = dicCreateHDICT(kDict);
    uint32_t a = 0, b = 0;
    ASSERT_EQ(dicGetHandleInfo(first, ZOZIZID_INFO_MEMORY, &a), 1);
    ASSERT_EQ(dicGetHandleInfo(second, ZOZIZID_INFO_MEMORY, &b), 1);
    // A small dictionary is kept whole.
    const auto size = std::filesystem::file_size(zozizid::dictionaryPath(folder.path(), kDict));
    EXPECT_GE(a, size);
    EXPECT_LT(a, size + 16384);
    EXPECT_EQ(a, b);
    dicFreeHDICT(first);
    dicFreeHDICT(second);
}

TEST(DictionaryCache, HandlesOnManyThreadsShareDictionaries) {
    DictFolder folder;
    const uint32_t ids[] = {kDict, kDict + 1, kDict + 2};
    for (uint32_t id : ids) folder.write(id, plainWords(id, {"ant", "bee", "cat", "dog"}));
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&, t] {
            const char *words[] = {"ant", "bee", "cat", "dog"};
            for (int i = 0; i < 300; ++i) {
                uint32_t id = ids[(i + t) % 3];
                const char *w = words[i % 4];
                if (content(id, w) != std::string(w) + ":main") ++wrong;
            }
        });
    for (std::thread &t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

}  // namespace

namespace {

// A file over 64 MiB is not kept whole: its handles read records and
// contents from the file, and only its index and word list stay in memory.
TEST(DictionaryCache, ALargeDictionaryIsReadFromItsFile) {
    DictFolder folder;
    std::string big(65u << 20, 'x');
    big.replace(big.size() - 4, 4, "tail");
    folder.write(kDict, {{"big", {{kDict, big}}}, {"small", {{kDict, "small:main"}}}});
    big.clear();
    EXPECT_EQ(content(kDict, "small"), "small:main");
    uintptr_t hdict = dicCreateHDICT(kDict);
    uintptr_t hword = dicSearchWord(hdict, "big");
    ASSERT_NE(hword, 0u);
    EXPECT_EQ(dicGetContentSize(hword, kDict), 65 << 20);
    std::vector<char> bytes(65u << 20);
    ASSERT_EQ(dicGetContent(hword, kDict, bytes.data(), static_cast<uint32_t>(bytes.size())), 65 << 20);
    EXPECT_EQ(std::string(bytes.end() - 5, bytes.end()), "xtail");
    uint32_t memory = 0;
    ASSERT_EQ(dicGetHandleInfo(hword, ZOZIZID_INFO_MEMORY, &memory), 1);
    EXPECT_LT(memory, 1u << 20);
    dicFreeHWORD(hword);
    dicFreeHDICT(hdict);
}

}  // namespace
