// The recording doubles must notice the handle faults that the other tests
// count on them to notice: a double free, a free of a handle never issued, a
// dictionary freed before its word, a handle used after its free.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "bridge/engine.h"
#include "bridge/memo.h"
#include "doubles/engine_double.h"
#include "doubles/memo_double.h"
#include "support/test_books.h"

using namespace tovix;

namespace {

class DoublesTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine_double::reset();
        memo_double::reset();
        engine_double::addDictionary(3, {{"apple", {{3u, "main"}, {0x81000003u, "sub"}}}, {"pear", {}}});
    }
    test::ModuleSession session_;
};

TEST_F(DoublesTest, EngineFlagsHandleFaults) {
    struct Case {
        const char *name;
        void (*misuse)();
        const char *problem;  // text the report must hold
    };
    const Case cases[] = {
        {"double free of a word",
         [] {
             uintptr_t d = engine::dicCreateHDICT(3);
             uintptr_t w = engine::dicSearchRecord(d, 0);
             engine::dicFreeHWORD(w);
             engine::dicFreeHWORD(w);
             engine::dicFreeHDICT(d);
         },
         "freed twice"},
        {"dictionary before its word",
         [] {
             uintptr_t d = engine::dicCreateHDICT(3);
             uintptr_t w = engine::dicSearchRecord(d, 1);
             engine::dicFreeHDICT(d);
             engine::dicFreeHWORD(w);
         },
         "before its HWORD"},
        {"unknown handle", [] { engine::dicFreeHDICT(0x999); }, "unknown"},
        {"use after free",
         [] {
             uintptr_t d = engine::dicCreateHDICT(3);
             engine::dicFreeHDICT(d);
             engine::dicGetWordCount(d);
         },
         "after it was freed"},
        {"word handle where a dictionary belongs",
         [] {
             uintptr_t d = engine::dicCreateHDICT(3);
             uintptr_t w = engine::dicSearchRecord(d, 0);
             engine::dicFreeHDICT(w);
             engine::dicFreeHWORD(w);
             engine::dicFreeHDICT(d);
         },
         "is a HWORD"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        engine_double::reset();
        engine_double::addDictionary(3, {{"apple", {}}, {"pear", {}}});
        c.misuse();
        auto report = engine_double::handles();
        ASSERT_FALSE(report.problems.empty());
        EXPECT_NE(report.problems[0].find(c.problem), std::string::npos) << report.problems[0];
        EXPECT_FALSE(report.clean());
    }
}

TEST_F(DoublesTest, EngineServesScriptedWords) {
    uintptr_t d = engine::dicCreateHDICT(3);
    ASSERT_NE(d, 0u);
    EXPECT_EQ(engine::dicCreateHDICT(4), 0u) << "not scripted";
    EXPECT_EQ(engine::dicGetWordCount(d), 2u);
    EXPECT_EQ(engine::dicSearchRecord(d, 2), 0u);
    uintptr_t w = engine::dicSearchWord(d, "pear");
    ASSERT_NE(w, 0u);
    EXPECT_EQ(engine::dicSearchWord(d, "Pear"), 0u) << "exact text only";
    uint32_t index = 0;
    EXPECT_EQ(engine::dicGetHandleInfo(w, 1, &index), 1);
    EXPECT_EQ(index, 1u);
    char text[4];
    EXPECT_EQ(engine::dicGetWord(w, text, sizeof text), 4) << "the full length";
    EXPECT_STREQ(text, "pea") << "cut to the buffer length minus 1";
    engine::dicFreeHWORD(w);
    w = engine::dicSearchRecord(d, 0);
    char content[8] = {};
    EXPECT_EQ(engine::dicGetContentSize(w, 3), 4);
    EXPECT_EQ(engine::dicGetContent(w, 0x81000003u, content, 2), 2);
    EXPECT_EQ(std::string(content), "su");
    EXPECT_EQ(engine::dicIsExistContent(w, 0x82000003u), 0);
    engine::dicFreeHWORD(w);
    engine::dicFreeHDICT(d);
    EXPECT_TRUE(engine_double::handles().clean());
    auto searches = engine_double::calls("dicSearchWord");
    ASSERT_EQ(searches.size(), 2u);
    EXPECT_EQ(searches[1].word, "Pear");
}

TEST_F(DoublesTest, SpellCallsReceiveTheLow8BitsOfY) {
    engine_double::setCorrectionResult(-5);
    uintptr_t s = engine::SCCreateHandleEx(0x00010001u);
    EXPECT_EQ(engine::SCCorrection(s, -1, 2, static_cast<uint8_t>(0x1FF)), -5);
    auto call = engine_double::calls("SCCorrection").at(0);
    EXPECT_EQ(call.y, 0xFF);
    EXPECT_EQ(call.w, -1);
    EXPECT_EQ(call.handle, s);
    engine::SCFreeHandle(s);
    EXPECT_TRUE(engine_double::handles().clean());
}

TEST_F(DoublesTest, MemoFlagsHandleFaults) {
    memo_double::setMemo(7, "note", 2);
    BookHandle book = reinterpret_cast<BookHandle>(static_cast<uintptr_t>(0x1234));
    EXPECT_EQ(memo::CBIGetMemoNumber(book, 7), 2);
    EXPECT_EQ(memo::CBIGetMemoNumber(book, 8), 0);
    uintptr_t m = memo::CBIGetMemoHandle(book, 7, 0);
    ASSERT_NE(m, 0u);
    char buffer[3];
    EXPECT_EQ(memo::CBIGetMemoSize(m), 4);
    EXPECT_EQ(memo::CBIGetMemoContent(m, buffer, sizeof buffer), 3);
    EXPECT_EQ(memo::CBIFreeMemoHandle(m), 1);
    EXPECT_TRUE(memo_double::handles().clean());
    EXPECT_EQ(memo_double::calls("CBIGetMemoHandle").at(0).book, book);

    memo::CBIFreeMemoHandle(m);
    memo::CBIGetMemoSize(m);
    auto report = memo_double::handles();
    ASSERT_EQ(report.problems.size(), 2u);
    EXPECT_NE(report.problems[0].find("freed twice"), std::string::npos);
    EXPECT_NE(report.problems[1].find("after it was freed"), std::string::npos);
}

}  // namespace
