// The module's readers of the book format: the header, the table record
// behind the table directory, sections and counted lists. What matters is
// what they refuse, and that they refuse it before reading what a bad number
// points at: nothing is read that does not lie in the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "book/reader.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "zav/book_writer.h"

using namespace tovix;
using namespace tovix::test;

namespace {

// A book file opened through the platform layer, as the module holds it.
class RawBook {
public:
    explicit RawBook(const std::vector<uint8_t> &image) : temp_(writeTempBook(image)) {
        EXPECT_TRUE(openBookFile(temp_.widePath.c_str(), &file));
    }
    ~RawBook() { closeBookFile(&file); }
    BookFile file{kInvalidFile, 0, nullptr};

private:
    TempFile temp_;
};

zav::WrittenBook threeTables() {
    zav::BookDesc desc;
    for (uint8_t locale : {10, 20, 30}) {
        zav::TableDesc t;
        t.locale = locale;
        t.dictId = 0x1000u + locale;
        desc.tables.push_back(t);
    }
    return zav::writeBookOrDie(desc);
}

TEST(HeaderReader, NeedsAllOf512Bytes) {
    std::vector<uint8_t> image = headerOnlyBook();
    image[100] = 0xAB;
    RawBook whole(image);
    BookHeader header;
    ASSERT_TRUE(readHeader(&whole.file, &header));
    EXPECT_EQ(header.field(HDR_MAGIC), BOOK_MAGIC);
    EXPECT_EQ(header.bytes[100], 0xAB);

    image.resize(511);
    RawBook cut(image);
    ScopedFaults faults;
    EXPECT_FALSE(readHeader(&cut.file, &header));
    EXPECT_EQ(faults->count(Op::Read), 0u) << "refused before reading";
}

TEST(TableRecordReader, ReadsTheLastTableAndRefusesPastTheCount) {
    zav::WrittenBook written = threeTables();
    RawBook book(written.bytes);
    ScopedFaults faults;

    TableRecord record;
    ASSERT_TRUE(readTableRecord(&book.file, 2, &record));
    EXPECT_EQ(record.locale(), 30);
    EXPECT_EQ(record.field(TBL_DICT_ID), 0x101Eu);
    EXPECT_EQ(0, std::memcmp(record.bytes, written.bytes.data() + written.layout.tables[2].record, TABLE_RECORD_SIZE));
    EXPECT_EQ(faults->readSizes(), (std::vector<uint32_t>{512, 1, 4, 52}));
    EXPECT_EQ(faults->readOffsets()[2], written.layout.tableDirOffset + 1 + 2 * 4) << "entry i at +1 + 4i";

    for (int32_t table : {3, 4, 255, -1, -2, INT32_MIN, INT32_MAX}) {
        SCOPED_TRACE(table);
        faults->resetCounts();
        ReadFailure why;
        book.file.failure = &why;
        EXPECT_FALSE(readTableRecord(&book.file, table, &record));
        EXPECT_LE(faults->count(Op::Read), 2u) << "at most the header and the count are read";
        EXPECT_STREQ(why.reason, table < 0 ? "negative table number" : "entry beyond the list's count");
    }
    book.file.failure = nullptr;
}

TEST(TableRecordReader, RefusesBeforeReadingWhatABadNumberPointsAt) {
    zav::WrittenBook written = threeTables();
    const uint32_t entry0 = written.layout.tableDirOffset + 1;
    const uint32_t fileSize = static_cast<uint32_t>(written.bytes.size());
    struct Case {
        const char *name;
        uint32_t at;  // where to patch a u32
        uint32_t value;
        std::vector<uint32_t> reads;  // sizes of the reads made
    };
    const std::vector<Case> cases = {
        {"no table directory", HDR_TABLE_DIR_OFFSET, 0, {512}},
        {"table directory at 2^31", HDR_TABLE_DIR_OFFSET, 0x80000000u, {512}},
        {"table directory at 2^32 - 1", HDR_TABLE_DIR_OFFSET, 0xFFFFFFFFu, {512}},
        {"table directory past the end", HDR_TABLE_DIR_OFFSET, fileSize, {512}},
        {"record at 2^31", entry0, 0x80000000u, {512, 1, 4}},
        {"record at 2^32 - 1", entry0, 0xFFFFFFFFu, {512, 1, 4}},
        {"record past the end", entry0, fileSize, {512, 1, 4}},
        {"record running over the end", entry0, fileSize - 51, {512, 1, 4}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<uint8_t> image = written.bytes;
        zav::patchU32(image, c.at, c.value);
        RawBook book(image);
        ScopedFaults faults;
        TableRecord record;
        EXPECT_FALSE(readTableRecord(&book.file, 0, &record));
        EXPECT_EQ(faults->readSizes(), c.reads);
    }
}

TEST(TableRecordReader, CountOfZeroRefusesEveryTable) {
    zav::WrittenBook written = threeTables();
    written.bytes[written.layout.tableDirOffset] = 0;
    RawBook book(written.bytes);
    TableRecord record;
    EXPECT_FALSE(readTableRecord(&book.file, 0, &record));
}

TEST(TableRecordReader, RecordAtPositionZeroIsNotRefused) {
    zav::WrittenBook written = threeTables();
    zav::patchU32(written.bytes, written.layout.tableDirOffset + 1, 0);
    RawBook book(written.bytes);
    TableRecord record;
    ASSERT_TRUE(readTableRecord(&book.file, 0, &record));
    EXPECT_EQ(record.field(TBL_LOCALE), BOOK_MAGIC) << "the header's first bytes, read as a record";
}

TEST(TableRecordReader, EveryFailedStepRefuses) {
    zav::WrittenBook written = threeTables();
    RawBook book(written.bytes);
    for (auto [op, mode] : {std::pair{Op::Read, FaultMode::Once}, std::pair{Op::Read, FaultMode::Short}}) {
        SCOPED_TRACE(std::string(opName(op)) + (mode == FaultMode::Short ? " short" : " fails"));
        uint64_t points = forEachFailurePoint(
            op,
            [&](uint64_t n) {
                TableRecord record;
                bool ok = readTableRecord(&book.file, 1, &record);
                EXPECT_EQ(ok, FaultPlatform::instance().faultsFired() == 0) << "failure point " << n;
            },
            mode);
        EXPECT_EQ(points, 4u) << "four reads, each one able to fail";
    }
}

TEST(Sections, EntryPositionIsComputedWithoutOverflow) {
    std::vector<uint8_t> image = headerOnlyBook();
    const uint8_t tail[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    image.insert(image.end(), std::begin(tail), std::end(tail));
    RawBook book(image);
    ScopedFaults faults;
    uint32_t value = 0;
    ASSERT_TRUE(entryU32(&book.file, {513, 4, kUnbounded}, 0, 2, &value)) << "an odd position";
    EXPECT_EQ(value, 0x07060504u) << "little-endian from bytes";
    faults->resetCounts();
    struct Case {
        uint32_t offset;
        uint64_t index;
        uint32_t size;
    };
    for (Case c : {Case{0x7FFFFFF0u, 4, 4}, Case{0, 0x80000000u, 1}, Case{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
                   Case{4, 0x40000000u, 4}, Case{0, UINT64_MAX - 1, 4}}) {
        EXPECT_FALSE(entryU32(&book.file, {c.offset, c.size, kUnbounded}, c.index, 0, &value));
    }
    EXPECT_EQ(faults->count(Op::Read), 0u) << "nothing is read outside the file";
}

// A file larger than 2 GiB opens, but nothing past 2 GiB is read: the
// system's offsets have 32 bits.
TEST(Sections, NothingPast2GiBIsRead) {
    RawBook book(headerOnlyBook());
    book.file.size = uint64_t{1} << 32;  // as a file of 4 GiB reports it
    ScopedFaults faults;
    uint8_t byte = 0;
    EXPECT_FALSE(u8At(&book.file, 0x80000000u, &byte));
    EXPECT_EQ(readUpTo(&book.file, 0x80000000u, &byte, 1), -1);
    uint32_t word = 0;
    EXPECT_FALSE(entryU32(&book.file, {0x80000000u, 4, kUnbounded}, 0, 0, &word));
    EXPECT_EQ(faults->count(Op::Read), 0u);
}

// The bounds of a section, at both of their edges: the last entry of the
// count and the last entry that ends with the file are read; one more is
// refused before any read, with its reason and offset.
TEST(Sections, BoundsHoldAtTheirEdges) {
    std::vector<uint8_t> image = headerOnlyBook();
    for (uint8_t b = 0; b < 12; ++b) image.push_back(b);  // 512..523: three u32 entries
    RawBook book(image);
    ReadFailure why;
    book.file.failure = &why;
    ScopedFaults faults;
    uint64_t at = 0;
    EXPECT_TRUE(entryPosition(&book.file, {512, 4, 2}, 1, &at));
    EXPECT_EQ(at, 516u);
    EXPECT_FALSE(entryPosition(&book.file, {512, 4, 2}, 2, &at)) << "index == count";
    EXPECT_STREQ(why.reason, "entry beyond the list's count");
    EXPECT_EQ(why.offset, 512u);
    why = {};
    EXPECT_TRUE(entryPosition(&book.file, {512, 4, kUnbounded}, 2, &at)) << "ends with the file";
    EXPECT_FALSE(entryPosition(&book.file, {513, 4, kUnbounded}, 2, &at)) << "one byte over the end";
    EXPECT_STREQ(why.reason, "entry outside the file");
    EXPECT_EQ(why.offset, 521u);
    uint32_t value = 0;
    EXPECT_TRUE(u32At(&book.file, 520, &value));
    EXPECT_FALSE(u32At(&book.file, 521, &value));
    uint8_t buffer[8];
    EXPECT_EQ(readUpTo(&book.file, 520, buffer, 8), 4) << "what lies in the file";
    EXPECT_EQ(readUpTo(&book.file, 524, buffer, 8), -1) << "nothing lies there";
    for (uint32_t offset : faults->readOffsets()) EXPECT_LT(offset, 524u);
}

TEST(Sections, CountedListTestsTheIndexAgainstTheCount) {
    std::vector<uint8_t> image = headerOnlyBook();
    image.push_back(3);  // count at 512, entries of 2 bytes from 513
    for (uint8_t b : {0x10, 0x11, 0x20, 0x21, 0x30, 0x31}) image.push_back(b);
    RawBook book(image);
    ScopedFaults faults;
    Section list;
    ASSERT_TRUE(count8Section(&book.file, 512, 2, &list));
    uint64_t at = 0;
    uint16_t value = 0;
    ASSERT_TRUE(entryPosition(&book.file, list, 2, &at));
    ASSERT_TRUE(u16At(&book.file, at, &value));
    EXPECT_EQ(value, 0x3130);
    faults->resetCounts();
    EXPECT_FALSE(entryPosition(&book.file, list, 3, &at));
    EXPECT_EQ(faults->count(Op::Read), 0u);
}

TEST(Sections, ExactReadsRefuseWhatRunsOverTheEnd) {
    std::vector<uint8_t> image = headerOnlyBook();
    image.push_back(0x7F);
    RawBook book(image);
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    EXPECT_TRUE(u8At(&book.file, 512, &u8));
    EXPECT_EQ(u8, 0x7F);
    EXPECT_FALSE(u8At(&book.file, 513, &u8)) << "at the end";
    EXPECT_FALSE(u32At(&book.file, 511, &u32)) << "2 of 4 bytes";
    EXPECT_FALSE(u16At(&book.file, 512, &u16)) << "1 of 2 bytes";
}

}  // namespace
