// The shared readers of the book format: the header, the table record behind
// the table directory, list entries and counted lists. What matters is what
// they refuse, and that they refuse it before reading what a bad number
// points at.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <vector>

#include "book/format.h"
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
        file.native = gPlatform->openRead(temp_.widePath.c_str());
        file.position = 0;
    }
    ~RawBook() {
        if (file.native != kInvalidFile) gPlatform->close(file.native);
    }
    BookFile file{};

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
    EXPECT_EQ(whole.file.position, 512);

    image.resize(511);
    RawBook cut(image);
    EXPECT_FALSE(readHeader(&cut.file, &header));
}

TEST(HeaderReader, StartsFromZeroWhateverThePosition) {
    RawBook book(headerOnlyBook(4, 1));
    book.file.position = 300;
    BookHeader header;
    ASSERT_TRUE(readHeader(&book.file, &header));
    EXPECT_EQ(header.field(HDR_KIND), 4u);
    EXPECT_EQ(header.field(HDR_VERSION), 1u);
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
        EXPECT_FALSE(readTableRecord(&book.file, table, &record));
        EXPECT_EQ(faults->readSizes(), (std::vector<uint32_t>{512, 1})) << "only the header and the count are read";
    }
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
        {"table directory past the end", HDR_TABLE_DIR_OFFSET, fileSize, {512, 1}},
        {"record at 2^31", entry0, 0x80000000u, {512, 1, 4}},
        {"record at 2^32 - 1", entry0, 0xFFFFFFFFu, {512, 1, 4}},
        {"record past the end", entry0, fileSize, {512, 1, 4, 52}},
        {"record running over the end", entry0, fileSize - 51, {512, 1, 4, 52}},
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
    for (auto [op, mode] : {std::pair{Op::Read, FaultMode::Once}, std::pair{Op::Read, FaultMode::Short},
                            std::pair{Op::Seek, FaultMode::Once}}) {
        SCOPED_TRACE(std::string(opName(op)) + (mode == FaultMode::Short ? " short" : " fails"));
        uint64_t points = forEachFailurePoint(
            op,
            [&](uint64_t n) {
                TableRecord record;
                bool ok = readTableRecord(&book.file, 1, &record);
                EXPECT_EQ(ok, FaultPlatform::instance().faultsFired() == 0) << "failure point " << n;
            },
            mode);
        EXPECT_EQ(points, 4u) << "four reads and four seeks, each one able to fail";
    }
}

TEST(ListReaders, ListEntryPositionIsComputedWithoutOverflow) {
    std::vector<uint8_t> image = headerOnlyBook();
    const uint8_t tail[] = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08};
    image.insert(image.end(), std::begin(tail), std::end(tail));
    RawBook book(image);
    ScopedFaults faults;
    uint32_t value = 0;
    ASSERT_TRUE(readListEntry(&book.file, 513, 1, 2, &value)) << "an odd position";
    EXPECT_EQ(value, 0x07060504u) << "little-endian from bytes";
    faults->resetCounts();
    struct Case {
        uint32_t offset;
        uint64_t index;
        uint32_t size;
    };
    for (Case c : {Case{0x7FFFFFF0u, 4, 4}, Case{0, 0x80000000u, 1}, Case{0xFFFFFFFFu, 0xFFFFFFFFu, 0xFFFFFFFFu},
                   Case{4, 0x40000000u, 4}}) {
        EXPECT_FALSE(readListEntry(&book.file, c.offset, c.index, c.size, &value));
    }
    EXPECT_EQ(faults->count(Op::Read), 0u) << "nothing is read at a position of 2^31 or more";
}

TEST(ListReaders, CountedEntryTestsTheIndexAgainstTheCount) {
    std::vector<uint8_t> image = headerOnlyBook();
    image.push_back(3);  // count at 512, entries of 2 bytes from 513
    for (uint8_t b : {0x10, 0x11, 0x20, 0x21, 0x30, 0x31}) image.push_back(b);
    RawBook book(image);
    ScopedFaults faults;
    ASSERT_TRUE(seekCountedEntry8(&book.file, 512, 2, 2));
    uint16_t value = 0;
    ASSERT_TRUE(readU16(&book.file, &value));
    EXPECT_EQ(value, 0x3130);
    for (int32_t index : {3, -1, INT32_MIN}) {
        faults->resetCounts();
        EXPECT_FALSE(seekCountedEntry8(&book.file, 512, index, 2)) << index;
        EXPECT_EQ(faults->count(Op::Seek), 1u) << "only the seek to the count";
    }
}

TEST(ListReaders, ExactReadsRefuseWhatRunsOverTheEnd) {
    std::vector<uint8_t> image = headerOnlyBook();
    image.push_back(0x7F);
    RawBook book(image);
    uint8_t u8 = 0;
    uint16_t u16 = 0;
    uint32_t u32 = 0;
    ASSERT_TRUE(seekTo(&book.file, 512));
    EXPECT_TRUE(readU8(&book.file, &u8));
    EXPECT_EQ(u8, 0x7F);
    EXPECT_FALSE(readU8(&book.file, &u8)) << "at the end";
    ASSERT_TRUE(seekTo(&book.file, 511));
    EXPECT_FALSE(readU32(&book.file, &u32)) << "2 of 4 bytes";
    ASSERT_TRUE(seekTo(&book.file, 512));
    EXPECT_FALSE(readU16(&book.file, &u16)) << "1 of 2 bytes";
}

}  // namespace
