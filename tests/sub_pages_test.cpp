// Sub pages: engine contents of dictionary records, page memos of the other
// books, and the handles both leave behind (none).
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "doubles/engine_double.h"
#include "doubles/memo_double.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "zav/book_writer.h"

using tovix::test::FaultMode;
using tovix::test::forEachFailurePoint;
using tovix::test::ModuleSession;
using tovix::test::Op;
using tovix::test::OpenBook;
using tovix::test::ScopedFaults;

namespace {

enum class Query { Exists, Size, Content };
const Query kAllQueries[] = {Query::Exists, Query::Size, Query::Content};

const char *queryName(Query q) {
    switch (q) {
        case Query::Exists: return "ZAVIsExistSubPage";
        case Query::Size: return "ZAVGetSubPageSize";
        case Query::Content: return "ZAVGetSubPage";
    }
    return "";
}

// Run one of the three calls; the content call reads into `out`.
int32_t query(Query q, BookHandle book, int32_t table, int32_t sub, uint32_t index, std::string *out = nullptr) {
    switch (q) {
        case Query::Exists: return ZAVIsExistSubPage(book, table, sub, index);
        case Query::Size: return ZAVGetSubPageSize(book, table, sub, index);
        case Query::Content: {
            char buffer[64] = {};
            int32_t n = ZAVGetSubPage(book, table, sub, index, buffer, sizeof buffer);
            if (out) out->assign(buffer, n > 0 && n <= 64 ? static_cast<size_t>(n) : 0);
            return n;
        }
    }
    return 0;
}

// --- dictionary books ---------------------------------------------------------

constexpr uint32_t kDictId = 0x00010001;  // bytes 1, 0, 1, 0

class DictionarySubPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine_double::reset();
        memo_double::reset();
        zav::BookDesc desc;
        desc.kind = BOOK_KIND_DICTIONARY;
        zav::TableDesc table;
        table.dictId = kDictId;
        desc.tables.push_back(table);
        book_.emplace(desc);
        ASSERT_TRUE(book_->ok());
    }
    // Word 1 has content `text` under contentId.
    void script(uint32_t contentId, const std::string &text) {
        engine_double::addDictionary(kDictId, {{"alpha", {{kDictId, "main"}}}, {"beta", {{contentId, text}}}});
    }
    BookHandle book() const { return *book_; }

    ModuleSession session;
    std::optional<OpenBook> book_;
};

TEST_F(DictionarySubPageTest, SubNumberSelectsTheContent) {
    struct Case {
        const char *name;
        int32_t sub;
        uint32_t contentId;
    };
    const Case cases[] = {
        {"sub 1: bytes 1, 0, 1, 0x81", 1, 0x81010001},
        {"sub 0 sets bit 31 only", 0, 0x80010001},
        {"sub 5", 5, 0x85010001},
        {"sub 133 keeps its low 7 bits, as sub 5", 133, 0x85010001},
        {"sub 127 (the memo number) still goes to the engine", 127, 0xFF010001},
        {"sub -1", -1, 0xFF010001},
    };
    for (const auto &c : cases) {
        script(c.contentId, "sub text");
        for (Query q : kAllQueries) {
            engine_double::clearLog();
            std::string text;
            int32_t got = query(q, book(), 0, c.sub, 1, &text);
            EXPECT_EQ(got, q == Query::Exists ? 1 : 8) << c.name << " " << queryName(q);
            if (q == Query::Content) {
                EXPECT_EQ(text, "sub text") << c.name;
            }
            std::vector<std::string> expectedNames = {
                "dicCreateHDICT",
                "dicGetWordCount",
                "dicSearchRecord",
                q == Query::Exists ? "dicIsExistContent" : q == Query::Size ? "dicGetContentSize" : "dicGetContent",
                "dicFreeHWORD",
                "dicFreeHDICT"};
            EXPECT_EQ(engine_double::callNames(), expectedNames) << c.name;
            auto calls = engine_double::calls();
            ASSERT_EQ(calls.size(), 6u);
            EXPECT_EQ(calls[0].id, kDictId);
            EXPECT_EQ(calls[2].id, 1u) << "record index";
            EXPECT_EQ(calls[3].id, c.contentId) << c.name;
            EXPECT_TRUE(engine_double::handles().clean()) << c.name;
        }
    }
    EXPECT_TRUE(memo_double::calls().empty()) << "dictionary books never use the memo library";
}

TEST_F(DictionarySubPageTest, RefusalsFreeEveryHandle) {
    script(0x85010001, "five");
    struct Case {
        const char *name;
        int32_t table;
        uint32_t index;
        std::vector<std::string> calls;
    };
    const Case cases[] = {
        {"index equal to the word count", 0, 2, {"dicCreateHDICT", "dicGetWordCount", "dicFreeHDICT"}},
        {"index far past the count", 0, 0xFFFFFFFFu, {"dicCreateHDICT", "dicGetWordCount", "dicFreeHDICT"}},
        {"no such table", 1, 0, {}},
    };
    for (const auto &c : cases) {
        for (Query q : kAllQueries) {
            engine_double::clearLog();
            EXPECT_EQ(query(q, book(), c.table, 5, c.index), 0) << c.name;
            EXPECT_EQ(engine_double::callNames(), c.calls) << c.name << " " << queryName(q);
            EXPECT_TRUE(engine_double::handles().clean()) << c.name;
        }
    }

    engine_double::clearLog();
    engine_double::setFail(engine_double::Fail::SearchRecord, true);
    EXPECT_EQ(ZAVGetSubPageSize(book(), 0, 5, 1), 0);
    EXPECT_EQ(engine_double::callNames(),
              (std::vector<std::string>{"dicCreateHDICT", "dicGetWordCount", "dicSearchRecord", "dicFreeHDICT"}));
    engine_double::setFail(engine_double::Fail::SearchRecord, false);

    engine_double::clearLog();
    engine_double::setFail(engine_double::Fail::CreateHDICT, true);
    EXPECT_EQ(ZAVGetSubPageSize(book(), 0, 5, 1), 0);
    EXPECT_EQ(engine_double::callNames(), std::vector<std::string>{"dicCreateHDICT"});
    EXPECT_TRUE(engine_double::handles().clean());
}

TEST(DictionarySubPageWithoutEngine, ReturnsZero) {
    engine_double::reset();
    ScopedFaults faults;
    faults->failLibraryLoads("ZoZizID");
    ModuleSession session;
    zav::BookDesc desc;
    desc.kind = BOOK_KIND_DICTIONARY;
    desc.tables.emplace_back();
    desc.tables[0].dictId = kDictId;
    OpenBook book(desc);
    ASSERT_TRUE(book.ok());
    for (Query q : kAllQueries) EXPECT_EQ(query(q, book, 0, 5, 0), 0) << queryName(q);
    EXPECT_TRUE(engine_double::calls().empty());
}

// --- memos --------------------------------------------------------------------

// A plain book whose table 0 maps table pages 0, 1, 2 to book pages 7, 9, 4.
zav::BookDesc memoBook(uint32_t kind = BOOK_KIND_PLAIN) {
    zav::BookDesc desc;
    desc.kind = kind;
    zav::TableDesc table;
    table.pageList = {7, 9, 4};
    desc.tables.push_back(table);
    return desc;
}

class MemoSubPageTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine_double::reset();
        memo_double::reset();
        memo_double::setMemo(9, "a memo on page 9", 3);
    }
    static bool memoLibraryLoaded(const ScopedFaults &faults) {
        for (const auto &path : faults->loadedPaths())
            if (path.find("ZAVMemo") != std::string::npos) return true;
        return false;
    }

    ModuleSession session;
};

TEST_F(MemoSubPageTest, MemoOfATablePage) {
    for (uint32_t kind : {BOOK_KIND_PLAIN, BOOK_KIND_PREFIXED}) {
        OpenBook book(memoBook(kind));
        ASSERT_TRUE(book.ok());
        memo_double::clearLog();
        EXPECT_EQ(ZAVIsExistSubPage(book, 0, MEMO_SUB_NUMBER, 1), 1) << "exactly 1 for a memo number of 3";
        EXPECT_EQ(ZAVGetSubPageSize(book, 0, MEMO_SUB_NUMBER, 1), 16);
        std::string text;
        EXPECT_EQ(query(Query::Content, book, 0, MEMO_SUB_NUMBER, 1, &text), 16);
        EXPECT_EQ(text, "a memo on page 9");

        auto numbers = memo_double::calls("CBIGetMemoNumber");
        ASSERT_EQ(numbers.size(), 3u);
        for (const auto &c : numbers) {
            EXPECT_EQ(c.book, book.get()) << "the host's own handle";
            EXPECT_EQ(c.page, 9u) << "the book page that the page list names";
        }
        auto handles = memo_double::calls("CBIGetMemoHandle");
        ASSERT_EQ(handles.size(), 2u);
        for (const auto &c : handles) {
            EXPECT_EQ(c.book, book.get());
            EXPECT_EQ(c.page, 9u);
            EXPECT_EQ(c.reserved, 0);
        }
        EXPECT_EQ(memo_double::calls("CBIGetMemoContent")[0].length, 64u);
        EXPECT_EQ(memo_double::callCount("CBIFreeMemoHandle"), 2u);
        EXPECT_TRUE(memo_double::handles().clean());
        EXPECT_TRUE(engine_double::calls().empty()) << "plain books never use the engine";
    }
}

TEST_F(MemoSubPageTest, RefusedBeforeTheMemoLibrary) {
    struct Case {
        const char *name;
        int32_t table;
        int32_t sub;
        uint32_t index;
    };
    const Case cases[] = {
        {"sub 126", 0, 126, 1},
        {"sub 127 + 2^8 is not the memo", 0, 127 + 256, 1},
        {"sub 0", 0, 0, 1},
        {"index equal to the page count", 0, MEMO_SUB_NUMBER, 3},
        {"index far past the page count", 0, MEMO_SUB_NUMBER, 0xFFFFFFFFu},
        {"no such table", 1, MEMO_SUB_NUMBER, 1},
    };
    OpenBook book(memoBook());
    ASSERT_TRUE(book.ok());
    ScopedFaults faults;
    for (const auto &c : cases)
        for (Query q : kAllQueries)
            EXPECT_EQ(query(q, book, c.table, c.sub, c.index), 0) << c.name << " " << queryName(q);
    EXPECT_FALSE(memoLibraryLoaded(faults)) << "the memo library is not even loaded";
    EXPECT_TRUE(memo_double::calls().empty());
}

TEST_F(MemoSubPageTest, PageWithoutMemo) {
    OpenBook book(memoBook());
    ASSERT_TRUE(book.ok());
    for (uint32_t index : {0u, 2u})
        for (Query q : kAllQueries) EXPECT_EQ(query(q, book, 0, MEMO_SUB_NUMBER, index), 0) << queryName(q);
    EXPECT_EQ(memo_double::callCount("CBIGetMemoNumber"), 6u);
    EXPECT_EQ(memo_double::callCount("CBIGetMemoHandle"), 0u);
}

TEST_F(MemoSubPageTest, EveryMemoHandleIsFreedOnce) {
    OpenBook book(memoBook());
    ASSERT_TRUE(book.ok());
    memo_double::setSizeResult(0);
    memo_double::setContentResult(0);
    EXPECT_EQ(ZAVGetSubPageSize(book, 0, MEMO_SUB_NUMBER, 1), 0);
    EXPECT_EQ(query(Query::Content, book, 0, MEMO_SUB_NUMBER, 1), 0);
    memo_double::setSizeResult(-5);
    EXPECT_EQ(ZAVGetSubPageSize(book, 0, MEMO_SUB_NUMBER, 1), -5) << "the memo library's answer, unchanged";
    auto report = memo_double::handles();
    EXPECT_EQ(report.issued, 3u);
    EXPECT_EQ(report.freed, 3u);
    EXPECT_TRUE(report.clean());
    auto frees = memo_double::calls("CBIFreeMemoHandle");
    auto gets = memo_double::calls("CBIGetMemoHandle");
    ASSERT_EQ(frees.size(), 3u);
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(frees[i].handle, static_cast<uintptr_t>(gets[i].result));

    memo_double::clearLog();
    memo_double::setFailGetHandle(true);
    EXPECT_EQ(ZAVGetSubPageSize(book, 0, MEMO_SUB_NUMBER, 1), 0);
    EXPECT_EQ(memo_double::callNames(), (std::vector<std::string>{"CBIGetMemoNumber", "CBIGetMemoHandle"}));
}

TEST_F(MemoSubPageTest, NullBufferIsRefused) {
    OpenBook book(memoBook());
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVGetSubPage(book, 0, MEMO_SUB_NUMBER, 1, nullptr, 16), 0);
    EXPECT_EQ(ZAVGetSubPageSize(nullptr, 0, MEMO_SUB_NUMBER, 1), 0);
    EXPECT_EQ(memo_double::handles().issued, 0u);
}

TEST_F(MemoSubPageTest, MissingMemoLibraryIsTriedAgainAtEveryCall) {
    OpenBook book(memoBook());
    ASSERT_TRUE(book.ok());
    ScopedFaults faults;
    faults->failLibraryLoads("ZAVMemo");
    for (Query q : kAllQueries) EXPECT_EQ(query(q, book, 0, MEMO_SUB_NUMBER, 1), 0) << queryName(q);
    EXPECT_EQ(faults->loadedPaths().size(), 3u) << "one load attempt per call";
    EXPECT_TRUE(memo_double::calls().empty());

    faults->allowLibraryLoads();
    EXPECT_EQ(ZAVIsExistSubPage(book, 0, MEMO_SUB_NUMBER, 1), 1);
    EXPECT_EQ(ZAVGetSubPageSize(book, 0, MEMO_SUB_NUMBER, 1), 16);
    EXPECT_EQ(faults->loadedPaths().size(), 4u) << "loaded once, then kept";
}

TEST_F(MemoSubPageTest, FailedReadsGiveZeroAndLeaveNoHandle) {
    OpenBook book(memoBook());
    ASSERT_TRUE(book.ok());
    auto &faults = tovix::test::FaultPlatform::instance();
    for (FaultMode mode : {FaultMode::Once, FaultMode::Short}) {
        uint64_t fired = forEachFailurePoint(
            Op::Read,
            [&](uint64_t n) {
                int32_t got = ZAVGetSubPageSize(book, 0, MEMO_SUB_NUMBER, 1);
                EXPECT_EQ(got, faults.faultsFired() ? 0 : 16) << "read " << n;
            },
            mode);
        EXPECT_EQ(fired, 5u) << "header, table count, directory entry, record, page list entry";
    }
    EXPECT_TRUE(memo_double::handles().clean());
}

}  // namespace
