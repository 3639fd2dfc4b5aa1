// Book properties: header words, the book-level lists and what stays written
// when a later step fails.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "zav/book_writer.h"

using tovix::test::ModuleSession;
using tovix::test::Op;
using tovix::test::OpenBook;
using tovix::test::ScopedFaults;

namespace {

std::vector<uint8_t> attributeBlock() {
    std::vector<uint8_t> block(84);
    for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<uint8_t>(0x80 + i);
    return block;
}

zav::BookDesc fullBook() {
    zav::BookDesc desc;
    desc.kind = BOOK_KIND_PREFIXED;
    desc.version = 1;
    desc.capsWord1 = 0x11223344;
    desc.capsWord2 = 0xA5A5A5A5;
    desc.serial = 0xCAFEF00D;
    desc.positionId = 0x12345;
    desc.bookName = zav::StringListDesc{{1, "Book"}, {4, "Hon"}};
    desc.defCharAttr = attributeBlock();
    desc.exBookNo = "ABCDE";
    desc.languages = std::vector<uint8_t>{1, 2, 4};
    desc.shelfLevels = std::vector<zav::BookDesc::ShelfLevel>{
        {70, zav::StringListDesc{{1, "shelf"}}}, {90, std::nullopt}, {110, zav::StringListDesc{{2, "x"}}}};
    desc.tables = {zav::TableDesc{}, zav::TableDesc{}};
    return desc;
}

class PropertiesTest : public ::testing::Test {
protected:
    ModuleSession session;
};

TEST_F(PropertiesTest, HeaderAndLists) {
    OpenBook book(fullBook());
    ASSERT_TRUE(book.ok());
    uint32_t caps[5] = {0, 0, 0, 0, 0xEEEEEEEE};
    EXPECT_EQ(ZAVGetCaps(book, caps), 1);
    EXPECT_EQ(caps[0], uint32_t(BOOK_KIND_PREFIXED));
    EXPECT_EQ(caps[1], 1u);
    EXPECT_EQ(caps[2], 0x11223344u);
    EXPECT_EQ(caps[3], 0xA5A5A5A5u);
    EXPECT_EQ(caps[4], 0xEEEEEEEEu) << "16 bytes exactly";
    uint32_t serial = 0;
    EXPECT_EQ(ZAVBookSerial(book, &serial), 0) << "success is 0";
    EXPECT_EQ(serial, 0xCAFEF00Du);
    EXPECT_EQ(ZAVGetBookPositionID(book), 0x12345);
    std::vector<uint8_t> block(90, 0xEE), want = attributeBlock();
    EXPECT_EQ(ZAVGetDefCharAttr(book, block.data()), 1);
    want.resize(90, 0xEE);
    EXPECT_EQ(block, want);
    char name[16];
    EXPECT_EQ(ZAVGetBkName(book, 4, name, sizeof name), 4);
    EXPECT_STREQ(name, "Hon");
    EXPECT_EQ(ZAVExBookNoLength(book), 5);
    EXPECT_EQ(ZAVGetLanguageCount(book), 3);
    EXPECT_EQ(ZAVGetTableCount(book), 2);
    EXPECT_EQ(ZAVGetShelfLevel(book), 3);
    const struct { int32_t index, code; } languages[] = {{0, 1}, {2, 4}, {3, 0}, {-1, 0}, {INT32_MIN, 0}};
    for (const auto &l : languages) EXPECT_EQ(ZAVGetLanguage(book, l.index), l.code) << l.index;
}

TEST_F(PropertiesTest, AbsentListsGiveZero) {
    OpenBook book(tovix::test::headerOnlyBook());
    ASSERT_TRUE(book.ok());
    char buffer[16] = "untouched";
    uint32_t value = 7;
    std::vector<uint8_t> block(84, 0xEE);
    EXPECT_EQ(ZAVGetBkName(book, 1, buffer, sizeof buffer), 0);
    EXPECT_EQ(ZAVGetDefCharAttr(book, block.data()), 0);
    EXPECT_EQ(ZAVExBookNoLength(book), 0);
    EXPECT_EQ(ZAVExBookNo(book, buffer, sizeof buffer), 0);
    EXPECT_EQ(ZAVGetLanguageCount(book), 0);
    EXPECT_EQ(ZAVGetLanguage(book, 0), 0);
    EXPECT_EQ(ZAVGetTableCount(book), 0);
    EXPECT_EQ(ZAVGetShelfLevel(book), 0);
    EXPECT_EQ(ZAVGetShelfLevelInfo(book, 0, 1, &value, buffer, sizeof buffer), 0);
    EXPECT_STREQ(buffer, "untouched");
    EXPECT_EQ(value, 7u);
    EXPECT_EQ(block, std::vector<uint8_t>(84, 0xEE));
}

// A buffer of exactly the length is large enough; no terminator follows.
TEST_F(PropertiesTest, ExtendedBookNumber) {
    OpenBook book(fullBook());
    ASSERT_TRUE(book.ok());
    const struct {
        int32_t length, result;
        const char *after;
    } cases[] = {{5, 1, "ABCDE###"}, {6, 1, "ABCDE###"}, {4, 0, "########"}, {-1, 0, "########"}};
    for (const auto &c : cases) {
        char buffer[9] = "########";
        EXPECT_EQ(ZAVExBookNo(book, buffer, c.length), c.result) << c.length;
        EXPECT_STREQ(buffer, c.after) << c.length;
    }
    zav::BookDesc desc = fullBook();
    desc.exBookNo = "";
    OpenBook empty(desc);
    char buffer[4] = "##";
    EXPECT_EQ(ZAVExBookNo(empty, buffer, 0), 1) << "an empty number fits any buffer";
    EXPECT_STREQ(buffer, "##");
}

TEST_F(PropertiesTest, ShelfLevels) {
    zav::WrittenBook written = zav::writeBookOrDie(fullBook());
    // Level 2's name lies past the end of the file.
    zav::patchU32(written.bytes, written.layout.shelfLevelOffset + 1 + 16 + 4,
                  static_cast<uint32_t>(written.bytes.size() + 100));
    OpenBook book(written.bytes);
    ASSERT_TRUE(book.ok());
    const struct {
        const char *name;
        int32_t index, result;
        uint32_t value;
        const char *text;
    } cases[] = {
        {"named", 0, 1, 70, "shelf"},
        {"name offset 0: no name, value stored", 1, 0, 90, "-"},
        {"unreadable name: value stored", 2, 0, 110, "-"},
        {"index = count", 3, 0, 0xFFFFFFFF, "-"},
        {"negative", -1, 0, 0xFFFFFFFF, "-"},
    };
    for (const auto &c : cases) {
        uint32_t value = 0xFFFFFFFF;
        char buffer[16] = "-";
        EXPECT_EQ(ZAVGetShelfLevelInfo(book, c.index, 1, &value, buffer, sizeof buffer), c.result) << c.name;
        EXPECT_EQ(value, c.value) << c.name;
        EXPECT_STREQ(buffer, c.text) << c.name;
    }
}

TEST_F(PropertiesTest, BlocksCutByTheEndOfTheFile) {
    zav::WrittenBook written = zav::writeBookOrDie(fullBook());
    std::vector<uint8_t> &bytes = written.bytes;
    const uint32_t size = static_cast<uint32_t>(bytes.size());
    zav::patchU32(bytes, 28, size - 50);  // attribute block 50 bytes before the end
    zav::patchU32(bytes, 32, size - 3);   // extended book number of 5 bytes with 2 left
    zav::patchU8(bytes, size - 3, 5);
    zav::patchU32(bytes, 36, 0x80000000u);  // language list beyond any seek
    OpenBook book(bytes);
    ASSERT_TRUE(book.ok());
    std::vector<uint8_t> block(84);
    char buffer[16];
    EXPECT_EQ(ZAVGetDefCharAttr(book, block.data()), 0);
    EXPECT_EQ(ZAVExBookNoLength(book), 5);
    EXPECT_EQ(ZAVExBookNo(book, buffer, sizeof buffer), 0);
    EXPECT_EQ(ZAVGetLanguageCount(book), 0);
    EXPECT_EQ(ZAVGetLanguage(book, 0), 0);
}

// A header that cannot be read: every call fails, and nothing is written.
TEST_F(PropertiesTest, UnreadableHeader) {
    OpenBook book(fullBook());
    ASSERT_TRUE(book.ok());
    ScopedFaults faults;
    uint32_t value = 0xEEEEEEEE;
    uint8_t block[84];
    std::memset(block, 0xEE, sizeof block);
    char buffer[16] = "untouched";
    const std::function<int32_t()> calls[] = {
        [&] { return ZAVGetBkName(book, 1, buffer, sizeof buffer); },
        [&] { return ZAVGetCaps(book, block); },
        [&] { return ZAVGetDefCharAttr(book, block); },
        [&] { return ZAVExBookNoLength(book); },
        [&] { return ZAVExBookNo(book, buffer, sizeof buffer); },
        [&] { return ZAVGetLanguageCount(book); },
        [&] { return ZAVGetLanguage(book, 0); },
        [&] { return ZAVGetTableCount(book); },
        [&] { return ZAVGetShelfLevel(book); },
        [&] { return ZAVGetShelfLevelInfo(book, 0, 1, &value, buffer, sizeof buffer); },
        [&] { return ZAVGetBookPositionID(book); },
    };
    for (size_t i = 0; i < std::size(calls); ++i) {
        faults->failAt(Op::Read, 1);
        EXPECT_EQ(calls[i](), 0) << "call " << i;
    }
    faults->failAt(Op::Read, 1);
    EXPECT_EQ(ZAVBookSerial(book, &value), ZAV_SERIAL_FAILED);
    EXPECT_EQ(value, 0xEEEEEEEEu);
    EXPECT_EQ(block[0], 0xEE);
    EXPECT_STREQ(buffer, "untouched");
}

TEST_F(PropertiesTest, NullHandleAndPointers) {
    OpenBook book(fullBook());
    ASSERT_TRUE(book.ok());
    char buffer[16];
    uint32_t value = 0;
    uint8_t block[84];
    EXPECT_EQ(ZAVBookSerial(nullptr, &value), ZAV_SERIAL_FAILED);
    EXPECT_EQ(ZAVBookSerial(book, nullptr), ZAV_SERIAL_FAILED);
    EXPECT_EQ(ZAVGetCaps(nullptr, block), 0);
    EXPECT_EQ(ZAVGetCaps(book, nullptr), 0);
    EXPECT_EQ(ZAVGetDefCharAttr(book, nullptr), 0);
    EXPECT_EQ(ZAVGetDefCharAttr(nullptr, block), 0);
    EXPECT_EQ(ZAVExBookNo(nullptr, buffer, sizeof buffer), 0);
    EXPECT_EQ(ZAVGetShelfLevelInfo(nullptr, 0, 1, &value, buffer, sizeof buffer), 0);
    EXPECT_EQ(ZAVGetBkName(book, 1, nullptr, 16), 0);
    EXPECT_EQ(ZAVGetBkName(nullptr, 1, buffer, sizeof buffer), 0);
    EXPECT_EQ(ZAVExBookNo(book, nullptr, 16), 0);
    EXPECT_EQ(ZAVGetShelfLevelInfo(book, 0, 1, nullptr, buffer, sizeof buffer), 0);
    EXPECT_EQ(ZAVGetShelfLevelInfo(book, 0, 1, &value, nullptr, 16), 0);
    EXPECT_EQ(value, 70u) << "the value is stored before the name is refused";
    EXPECT_EQ(ZAVGetTableCount(nullptr), 0);
    EXPECT_EQ(ZAVGetLanguage(nullptr, 0), 0);
    EXPECT_EQ(ZAVGetBookPositionID(nullptr), 0);
}

}  // namespace
