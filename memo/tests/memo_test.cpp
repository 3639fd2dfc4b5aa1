// The memo library over real books opened by the book module, which the
// library asks for the book's path.
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include <gtest/gtest.h>

#include "TovixZAV_JC.h"
#include "ZAVMemo.h"
#include "ZAVMemo_writer.h"
#include "test_env.h"
#include "zav/book_writer.h"

namespace {

using zavmemo::MemoEntry;

uint32_t get32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8 | uint32_t{b.at(at + 2)} << 16 |
           uint32_t{b.at(at + 3)} << 24;
}
void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

// A plain book of eight pages in a fresh folder, opened through the module.
class Memos : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = companiontest::makeTempFolder("zavmemo-").string();
        bookPath_ = folder_ + "/book.zav";
        zav::BookDesc desc;
        desc.kind = 2;
        for (int i = 0; i < 8; ++i) desc.pages.push_back({"page " + std::to_string(i), {}});
        ASSERT_TRUE(zav::saveBook(zav::writeBookOrDie(desc).bytes, bookPath_));
        std::wstring wide(bookPath_.begin(), bookPath_.end());
        ASSERT_EQ(ZAVOpenBook(wide.c_str(), &book_), ZAV_OPEN_OK);
    }
    void TearDown() override {
        ZAVCloseBook(book_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    void writeMemos(std::vector<MemoEntry> entries) {
        std::string error;
        ASSERT_TRUE(zavmemo::writeBookMemos(bookPath_, std::move(entries), &error)) << error;
    }
    void writeSidecar(const std::vector<uint8_t> &bytes) {
        std::ofstream f(zavmemo::memoSidecarPath(bookPath_), std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    // The text of CBIGetMemoHandle(page, which), or "<none>".
    std::string memoText(uint32_t page, int32_t which = 0) {
        uintptr_t memo = CBIGetMemoHandle(book_, page, which);
        if (!memo) return "<none>";
        std::string text(static_cast<size_t>(CBIGetMemoSize(memo)), '\0');
        EXPECT_EQ(CBIGetMemoContent(memo, text.data(), static_cast<uint32_t>(text.size())),
                  static_cast<int32_t>(text.size()));
        EXPECT_EQ(CBIFreeMemoHandle(memo), 1);
        return text;
    }

    // Every call on pages 0-8, results ignored: for damaged sidecars.
    void exerciseAll() {
        for (uint32_t page = 0; page < 9; ++page) {
            CBIGetMemoNumber(book_, page);
            for (int32_t which = 0; which < 3; ++which) {
                uintptr_t memo = CBIGetMemoHandle(book_, page, which);
                char buffer[16];
                CBIGetMemoSize(memo);
                CBIGetMemoContent(memo, buffer, sizeof buffer);
                CBIFreeMemoHandle(memo);
            }
        }
    }

    std::string folder_, bookPath_;
    BookHandle book_ = nullptr;
};

TEST(MemoWriter, SidecarPathAndLimits) {
    EXPECT_EQ(zavmemo::memoSidecarPath("/a/book.zav"), "/a/book.zav.memo");
    std::vector<uint8_t> out{7};
    std::string error;
    EXPECT_FALSE(zavmemo::buildMemoFile({{1, std::string((1 << 20) + 1, 'x')}}, &out, &error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(out, std::vector<uint8_t>{7}) << "output unchanged on failure";
    EXPECT_TRUE(zavmemo::buildMemoFile({{1, std::string(1 << 20, 'x')}}, &out, &error));
}

TEST_F(Memos, NoSidecarMeansNoMemos) {
    EXPECT_EQ(CBIGetMemoNumber(book_, 0), 0);
    EXPECT_EQ(CBIGetMemoHandle(book_, 0, 0), 0u);
    EXPECT_EQ(CBIGetMemoNumber(nullptr, 0), 0);
    EXPECT_EQ(CBIGetMemoHandle(nullptr, 0, 0), 0u);
}

TEST_F(Memos, PagesCountAndJoinTheirMemos) {
    writeMemos({{2, "second a"}, {0, "first"}, {2, "second b"}, {5, ""}, {0xFFFFFFFF, "last page"}, {2, "second c"}});
    struct Case {
        uint32_t page;
        int32_t number;
        int32_t which;
        std::string text;
    } cases[] = {
        {0, 1, 0, "first"},
        {0, 1, 1, "first"},
        {0, 1, 2, "<none>"},
        {1, 0, 0, "<none>"},
        {2, 3, 0, "second a\nsecond b\nsecond c"},
        {2, 3, 1, "second a"},
        {2, 3, 3, "second c"},
        {2, 3, 4, "<none>"},
        {2, 3, -1, "<none>"},
        {5, 1, 0, ""},
        {6, 0, 0, "<none>"},
        {0xFFFFFFFF, 1, 0, "last page"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(CBIGetMemoNumber(book_, c.page), c.number) << c.page;
        EXPECT_EQ(memoText(c.page, c.which), c.text) << c.page << "/" << c.which;
    }
}

TEST_F(Memos, ContentCopiesAtMostTheLength) {
    writeMemos({{3, "hello memo"}});
    uintptr_t memo = CBIGetMemoHandle(book_, 3, 0);
    ASSERT_NE(memo, 0u);
    EXPECT_EQ(CBIGetMemoSize(memo), 10);
    char buffer[12];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(CBIGetMemoContent(memo, buffer, 5), 5);
    EXPECT_EQ(std::string(buffer, 12), "hello#######") << "no terminator, nothing past the length";
    EXPECT_EQ(CBIGetMemoContent(memo, buffer, 0), 0);
    EXPECT_EQ(CBIGetMemoContent(memo, nullptr, 12), 0);
    EXPECT_EQ(CBIGetMemoContent(memo, buffer, 12), 10);
    EXPECT_EQ(CBIFreeMemoHandle(memo), 1);
    EXPECT_EQ(CBIFreeMemoHandle(0), 0);
    EXPECT_EQ(CBIGetMemoSize(0), 0);
    EXPECT_EQ(CBIGetMemoContent(0, buffer, 12), 0);
}

TEST_F(Memos, TruncatedSidecarsHaveNoMemos) {
    std::vector<uint8_t> good;
    ASSERT_TRUE(zavmemo::buildMemoFile({{0, "zero"}, {1, "one"}, {1, "uno"}}, &good, nullptr));
    for (size_t length = 0; length < good.size(); ++length) {
        writeSidecar(std::vector<uint8_t>(good.begin(), good.begin() + static_cast<long>(length)));
        EXPECT_EQ(CBIGetMemoNumber(book_, 1), 0) << length;
        EXPECT_EQ(CBIGetMemoHandle(book_, 0, 0), 0u) << length;
    }
    // With the size field agreeing with the cut, the entry checks decide.
    for (size_t length = 16; length < good.size(); ++length) {
        std::vector<uint8_t> cut(good.begin(), good.begin() + static_cast<long>(length));
        put32(cut, 12, static_cast<uint32_t>(length));
        writeSidecar(cut);
        EXPECT_EQ(memoText(1), "<none>") << length << ": the texts end the file";
        exerciseAll();
    }
}

TEST_F(Memos, DamagedSidecarsAreRefused) {
    std::vector<uint8_t> good;
    ASSERT_TRUE(zavmemo::buildMemoFile({{0, "zero"}, {1, "one"}, {1, "uno"}}, &good, nullptr));
    const uint32_t size = static_cast<uint32_t>(good.size());
    struct Case {
        const char *why;
        int32_t numberOfPage1;  // what CBIGetMemoNumber still says
        std::function<void(std::vector<uint8_t> &)> damage;
    } cases[] = {
        {"bad magic", 0, [](auto &b) { b[1] = 'X'; }},
        {"version 2", 0, [](auto &b) { put32(b, 4, 2); }},
        {"stored size wrong", 0, [&](auto &b) { put32(b, 12, size + 1); }},
        {"count past the file", 0, [](auto &b) { put32(b, 8, 100); }},
        {"count of all ones", 0, [](auto &b) { put32(b, 8, 0xFFFFFFFFu); }},
        {"text offset past the end", 2, [&](auto &b) { put32(b, 16 + 12 + 4, size); }},
        {"text offset wrapping", 2, [&](auto &b) { put32(b, 16 + 12 + 4, 0xFFFFFFFFu); }},
        {"text length past the end", 2, [&](auto &b) { put32(b, 16 + 12 + 8, size); }},
        {"text length over 1 MiB", 2, [&](auto &b) { put32(b, 16 + 12 + 8, (1u << 20) + 1); }},
    };
    for (const Case &c : cases) {
        std::vector<uint8_t> bytes = good;
        c.damage(bytes);
        writeSidecar(bytes);
        EXPECT_EQ(CBIGetMemoNumber(book_, 1), c.numberOfPage1) << c.why;
        EXPECT_EQ(memoText(1), "<none>") << c.why;
        exerciseAll();
    }
    EXPECT_EQ(get32(good, 8), 3u);
}

TEST_F(Memos, RandomDamageNeverEscapesTheFile) {
    std::vector<uint8_t> good;
    ASSERT_TRUE(zavmemo::buildMemoFile({{0, "zero"}, {1, "one"}, {1, "uno"}, {7, "seven"}}, &good, nullptr));
    std::mt19937 random(99);
    for (int round = 0; round < 200; ++round) {
        std::vector<uint8_t> bytes = good;
        for (int i = 0; i < 3; ++i) bytes[16 + random() % (bytes.size() - 16)] = static_cast<uint8_t>(random());
        writeSidecar(bytes);
        exerciseAll();
    }
}

}  // namespace
