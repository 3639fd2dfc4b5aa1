// The memo library at its limits: the joined text of a page just over its
// bound, a book path longer than the library's path buffer, and a book path
// with a character beyond the 16-bit range.
#include <filesystem>
#include <fstream>

#include <gtest/gtest.h>

#include "TovixZAV_JC.h"
#include "ZAVMemo.h"
#include "ZAVMemo_writer.h"
#include "test_env.h"
#include "zav/book_writer.h"

namespace {

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

// Books in a fresh folder, removed with it at the end.
class MemoLimits : public ::testing::Test {
protected:
    void SetUp() override { folder_ = companiontest::makeTempFolder("zavmemo-").string(); }
    void TearDown() override {
        if (book_) ZAVCloseBook(book_);
        std::error_code ignored;
        std::filesystem::remove_all(folder_, ignored);
    }

    // Write a two-page book at folder/relative (ASCII); false when the
    // system refuses the path.
    bool writeBook(const std::string &relative) {
        bookPath_ = folder_ + "/" + relative;
        std::error_code error;
        std::filesystem::create_directories(std::filesystem::path(bookPath_).parent_path(), error);
        zav::BookDesc desc;
        desc.kind = 2;
        for (int i = 0; i < 2; ++i) desc.pages.push_back({"page " + std::to_string(i), {}});
        return !error && zav::saveBook(zav::writeBookOrDie(desc).bytes, bookPath_);
    }
    // Open folder/wideRelative through the module.
    bool openBook(const std::wstring &wideRelative) {
        std::wstring wide(folder_.begin(), folder_.end());
        wide += L"/" + wideRelative;
        return ZAVOpenBook(wide.c_str(), &book_) == ZAV_OPEN_OK;
    }
    void writeSidecar(const std::vector<uint8_t> &bytes) {
        std::ofstream f(zavmemo::memoSidecarPath(bookPath_), std::ios::binary | std::ios::trunc);
        f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    }

    std::string folder_, bookPath_;
    BookHandle book_ = nullptr;
};

// A sidecar of `count` memos on page 0 that all share one text of 1 MiB.
std::vector<uint8_t> sharedTextSidecar(uint32_t count) {
    constexpr uint32_t kText = 1u << 20;
    const uint32_t textAt = 16 + 12 * count;
    std::vector<uint8_t> b(size_t{textAt} + kText, 'm');
    b[0] = 'Z', b[1] = 'M', b[2] = 'E', b[3] = 'M';
    put32(b, 4, 1);
    put32(b, 8, count);
    put32(b, 12, static_cast<uint32_t>(b.size()));
    for (uint32_t i = 0; i < count; ++i) {
        put32(b, 16 + 12 * i, 0);
        put32(b, 16 + 12 * i + 4, textAt);
        put32(b, 16 + 12 * i + 8, kText);
    }
    return b;
}

TEST_F(MemoLimits, JoinedTextOverItsBoundIsRefused) {
    ASSERT_TRUE(writeBook("book.zav") && openBook(L"book.zav"));
    // 15 texts and 14 line feeds fit 16 MiB; 16 texts do not.
    writeSidecar(sharedTextSidecar(15));
    uintptr_t memo = CBIGetMemoHandle(book_, 0, 0);
    ASSERT_NE(memo, 0u);
    EXPECT_EQ(CBIGetMemoSize(memo), 15 * (1 << 20) + 14);
    CBIFreeMemoHandle(memo);

    writeSidecar(sharedTextSidecar(16));
    EXPECT_EQ(CBIGetMemoNumber(book_, 0), 16);
    EXPECT_EQ(CBIGetMemoHandle(book_, 0, 0), 0u) << "16 MiB and 15 line feeds";
    memo = CBIGetMemoHandle(book_, 0, 16);
    ASSERT_NE(memo, 0u) << "one memo alone still opens";
    EXPECT_EQ(CBIGetMemoSize(memo), 1 << 20);
    CBIFreeMemoHandle(memo);
}

TEST_F(MemoLimits, SidecarsOver2GiBAreRefused) {
    // One memo on page 0, then the file grown (sparse where the system
    // allows) to the size its header states: the largest size is taken, one
    // byte more is not.
    ASSERT_TRUE(writeBook("book.zav") && openBook(L"book.zav"));
    std::vector<uint8_t> b(16 + 12 + 1, 'x');
    b[0] = 'Z', b[1] = 'M', b[2] = 'E', b[3] = 'M';
    put32(b, 4, 1);
    put32(b, 8, 1);
    put32(b, 16, 0);
    put32(b, 20, 28);
    put32(b, 24, 1);
    for (uint32_t size : {0x7FFFFFFFu, 0x80000000u}) {
        put32(b, 12, size);
        writeSidecar(b);
        std::error_code error;
        std::filesystem::resize_file(zavmemo::memoSidecarPath(bookPath_), size, error);
        if (error) GTEST_SKIP() << "no room for a 2 GiB file: " << error.message();
        EXPECT_EQ(CBIGetMemoNumber(book_, 0), size == 0x7FFFFFFFu ? 1 : 0) << size;
    }
    std::filesystem::remove(zavmemo::memoSidecarPath(bookPath_));
}

TEST_F(MemoLimits, BookPathLongerThanThePathBufferHasNoMemos) {
    // Five folders of 200 letters: the book path passes 1024 bytes.
    std::string relative;
    for (int i = 0; i < 5; ++i) relative += std::string(200, static_cast<char>('a' + i)) + "/";
    relative += "book.zav";
    std::string error;
    if (!writeBook(relative) || !zavmemo::writeBookMemos(bookPath_, {{0, "zero"}}, &error) ||
        !openBook(std::wstring(relative.begin(), relative.end())))
        GTEST_SKIP() << "the system refuses a path this long";
    EXPECT_EQ(CBIGetMemoNumber(book_, 0), 0);
    EXPECT_EQ(CBIGetMemoHandle(book_, 0, 0), 0u);
}

TEST_F(MemoLimits, BookPathBeyondTheSixteenBitRange) {
    // U+1F600: four bytes in UTF-8, a surrogate pair where wchar_t has 16 bits.
    std::wstring face = sizeof(wchar_t) == 2 ? std::wstring{wchar_t(0xD83D), wchar_t(0xDE00)}
                                             : std::wstring(1, static_cast<wchar_t>(0x1F600));
    // The book and its memos are written under an ASCII name, then the
    // folder takes its name.
    ASSERT_TRUE(writeBook("plain/book.zav"));
    std::string error;
    ASSERT_TRUE(zavmemo::writeBookMemos(bookPath_, {{1, "one"}}, &error)) << error;
    std::filesystem::rename(std::filesystem::path(folder_) / "plain",
                            std::filesystem::path(folder_) / std::filesystem::path(u8"\U0001F600"));
    ASSERT_TRUE(openBook(face + L"/book.zav"));
    // The memo library has the path from the module, in the ANSI code page
    // where the system's paths are wide: a name outside it cannot be had.
    char reported[2048] = {};
    ZAVGetFileName(book_, reported, sizeof reported);
    if (std::string(reported).find("\xF0\x9F\x98\x80") == std::string::npos)  // U+1F600 in UTF-8
        GTEST_SKIP() << "paths are reported in the ANSI code page here";
    EXPECT_EQ(CBIGetMemoNumber(book_, 1), 1);
    uintptr_t memo = CBIGetMemoHandle(book_, 1, 1);
    ASSERT_NE(memo, 0u);
    char text[8] = {};
    EXPECT_EQ(CBIGetMemoContent(memo, text, sizeof text), 3);
    EXPECT_STREQ(text, "one");
    CBIFreeMemoHandle(memo);
}

}  // namespace
