// Book pages: the page directory, the link block of kind-4 records, and the
// copy of page data into the host's buffer.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
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

std::string patterned(size_t n, char first) {
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(first + i % 50);
    return s;
}

zav::BookDesc threePages(uint32_t kind = BOOK_KIND_PLAIN) {
    zav::BookDesc desc;
    desc.kind = kind;
    desc.pages = {{patterned(100, 'a'), {}}, {"", {}}, {"last", {}}};
    return desc;
}

std::string readPage(BookHandle book, int32_t page, uint32_t length = 4096) {
    std::vector<char> buffer(length);
    int32_t n = ZAVGetPage(book, page, buffer.data(), length);
    return std::string(buffer.data(), n > 0 ? static_cast<size_t>(n) : 0);
}

class PagesTest : public ::testing::Test {
protected:
    ModuleSession session;
};

TEST_F(PagesTest, NoPageDirectory) {
    zav::BookDesc desc = threePages();
    desc.pages.clear();
    OpenBook book(desc);
    ASSERT_TRUE(book.ok());
    char buffer[8] = {};
    EXPECT_EQ(ZAVGetPageCount(book), 0);
    EXPECT_EQ(ZAVGetPageSize(book, 0), 0);
    EXPECT_EQ(ZAVGetPage(book, 0, buffer, sizeof buffer), 0);
}

TEST_F(PagesTest, PageNumbersAreBoundedByTheDirectory) {
    OpenBook book(threePages());
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVGetPageCount(book), 3);
    struct Case {
        const char *name;
        int32_t page;
        int32_t size;
        std::string data;
    } cases[] = {
        {"first", 0, 100, patterned(100, 'a')},
        {"empty page reads as 0", 1, 0, ""},
        {"last = count - 1", 2, 4, "last"},
        {"count", 3, 0, ""},
        {"negative", -1, 0, ""},
        {"most negative", INT32_MIN, 0, ""},
        {"most positive", INT32_MAX, 0, ""},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(ZAVGetPageSize(book, c.page), c.size) << c.name;
        EXPECT_EQ(readPage(book, c.page), c.data) << c.name;
    }
}

// The copy stops at the buffer length, and nothing after the copy is touched.
TEST_F(PagesTest, CopyIsCutAtTheBufferLength) {
    OpenBook book(threePages());
    ASSERT_TRUE(book.ok());
    const std::string data = patterned(100, 'a');
    struct Case {
        uint32_t length;
        int32_t copied;
    } cases[] = {{40, 40}, {99, 99}, {100, 100}, {101, 100}, {1000, 100}, {0, 0}};
    for (const Case &c : cases) {
        std::vector<unsigned char> buffer(1100, 0xAB);
        EXPECT_EQ(ZAVGetPage(book, 0, buffer.data(), c.length), c.copied) << c.length;
        EXPECT_EQ(std::memcmp(buffer.data(), data.data(), static_cast<size_t>(c.copied)), 0) << c.length;
        for (size_t i = static_cast<size_t>(c.copied); i < buffer.size(); ++i)
            ASSERT_EQ(buffer[i], 0xAB) << "length " << c.length << ", byte " << i;
    }
}

// Kind 4 records start with a u16 link count and the links; kinds 1 and 2
// start with the size. The module is checked against the byte positions
// directly, by patching the size where it must be.
TEST_F(PagesTest, LinkBlockOfPrefixedBooks) {
    zav::BookDesc desc;
    desc.kind = BOOK_KIND_PREFIXED;
    desc.pages = {{"no links", {}}, {"three links", {0x11111111, 0x22222222, 0x33333333}}};
    zav::WrittenBook written = zav::writeBookOrDie(desc);
    const uint32_t rec0 = written.layout.pageRecords[0], rec1 = written.layout.pageRecords[1];
    {
        OpenBook book(written.bytes);
        ASSERT_TRUE(book.ok());
        EXPECT_EQ(ZAVGetPageSize(book, 0), 8);
        EXPECT_EQ(readPage(book, 0), "no links");
        EXPECT_EQ(ZAVGetPageSize(book, 1), 11);
        EXPECT_EQ(readPage(book, 1), "three links");
    }
    {
        // size at +2 (linkCount 0) and +14 (linkCount 3); data 4 bytes on.
        std::vector<uint8_t> bytes = written.bytes;
        zav::patchU32(bytes, rec0 + 2, 3);
        zav::patchU32(bytes, rec1 + 14, 5);
        OpenBook book(bytes);
        ASSERT_TRUE(book.ok());
        EXPECT_EQ(readPage(book, 0), "no ");
        EXPECT_EQ(readPage(book, 1), "three");
    }
    {
        // The same bytes in a kind-2 book: the size is the record's first u32.
        std::vector<uint8_t> bytes = written.bytes;
        zav::patchU32(bytes, 4, BOOK_KIND_PLAIN);
        OpenBook book(bytes);
        ASSERT_TRUE(book.ok());
        EXPECT_EQ(ZAVGetPageSize(book, 0), 8 << 16) << "u16 0, then the low half of the size";
        EXPECT_EQ(ZAVGetPageSize(book, 1), 3 | 0x1111 << 16) << "u16 3, then the low half of the first link";
    }
}

TEST_F(PagesTest, DamagedRecords) {
    zav::WrittenBook written = zav::writeBookOrDie(threePages());
    const zav::BookLayout &layout = written.layout;
    std::vector<uint8_t> bytes = written.bytes;
    // Page 0: a size that runs past the end of the file.
    zav::patchU32(bytes, layout.pageRecords[0], 1000000);
    // Page 1: a record beyond what a seek can reach.
    zav::patchU32(bytes, layout.pageDirOffset + 4 + 4, 0x80000000u);
    // Page 2: a record that starts 2 bytes before the end of the file.
    zav::patchU32(bytes, layout.pageDirOffset + 4 + 8, static_cast<uint32_t>(bytes.size() - 2));
    OpenBook book(bytes);
    ASSERT_TRUE(book.ok());
    std::vector<char> big(2000000);
    EXPECT_EQ(ZAVGetPageSize(book, 0), 1000000) << "the stored size is reported as it stands";
    EXPECT_EQ(ZAVGetPage(book, 0, big.data(), static_cast<uint32_t>(big.size())), 0);
    EXPECT_EQ(ZAVGetPage(book, 0, big.data(), 10), 10) << "a copy within the file still succeeds";
    EXPECT_EQ(ZAVGetPageSize(book, 1), 0);
    EXPECT_EQ(ZAVGetPage(book, 1, big.data(), 10), 0);
    EXPECT_EQ(ZAVGetPageSize(book, 2), 0);
}

TEST_F(PagesTest, NullHandleAndBuffer) {
    OpenBook book(threePages());
    ASSERT_TRUE(book.ok());
    char buffer[8];
    EXPECT_EQ(ZAVGetPageCount(nullptr), 0);
    EXPECT_EQ(ZAVGetPageSize(nullptr, 0), 0);
    EXPECT_EQ(ZAVGetPage(nullptr, 0, buffer, sizeof buffer), 0);
    EXPECT_EQ(ZAVGetPage(book, 0, nullptr, 100), 0);
}

// Every seek and read of a page copy, failed or cut short in turn, makes the
// call fail; nothing is allocated on the way.
TEST_F(PagesTest, EachFailedOperationFailsTheCall) {
    zav::BookDesc desc = threePages(BOOK_KIND_PREFIXED);
    desc.pages[0].links = {1, 2, 3};
    OpenBook book(desc);
    ASSERT_TRUE(book.ok());
    ScopedFaults faults;
    const struct {
        Op op;
        FaultMode mode;
    } sweeps[] = {{Op::Read, FaultMode::Once}, {Op::Read, FaultMode::Short}, {Op::Read, FaultMode::Persistent}};
    for (const auto &s : sweeps) {
        uint64_t fired = forEachFailurePoint(
            s.op,
            [&](uint64_t n) {
                std::vector<char> buffer(200);
                int32_t got = ZAVGetPage(book, 0, buffer.data(), 200);
                EXPECT_EQ(got, faults->faultsFired() ? 0 : 100) << tovix::test::opName(s.op) << " " << n;
            },
            s.mode);
        EXPECT_GE(fired, s.op == Op::Read ? 6u : 4u) << tovix::test::opName(s.op);
    }
    EXPECT_EQ(faults->liveAllocations(), 0);
}

}  // namespace
