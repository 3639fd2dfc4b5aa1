// The book writer, checked by decoding the written bytes independently.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "tovix/collation.h"
#include "zav/book_writer.h"

namespace {

using zav::BookDesc;
using zav::KeyDesc;
using zav::StringListDesc;
using zav::TableDesc;
using zav::VpItemDesc;
using zav::WrittenBook;

uint32_t u32(const std::vector<uint8_t> &b, uint32_t at) {
    EXPECT_LE(uint64_t{at} + 4, b.size()) << "u32 at " << at;
    if (uint64_t{at} + 4 > b.size()) return 0;
    return b[at] | (b[at + 1] << 8) | (b[at + 2] << 16) | (uint32_t{b[at + 3]} << 24);
}
uint16_t u16(const std::vector<uint8_t> &b, uint32_t at) { return static_cast<uint16_t>(b[at] | (b[at + 1] << 8)); }
std::vector<uint8_t> slice(const std::vector<uint8_t> &b, uint32_t at, uint32_t n) {
    return std::vector<uint8_t>(b.begin() + at, b.begin() + at + n);
}
std::string text(const std::vector<uint8_t> &b, uint32_t at, uint32_t n) {
    return std::string(b.begin() + at, b.begin() + at + n);
}
std::vector<uint8_t> bytesOf(std::initializer_list<int> v) {
    std::vector<uint8_t> out;
    for (int x : v) out.push_back(static_cast<uint8_t>(x));
    return out;
}

// Texts of a plain table's key list, read through the record.
std::vector<std::string> keyTextsFromFile(const std::vector<uint8_t> &b, uint32_t record) {
    std::vector<std::string> texts;
    const uint32_t count = u32(b, record + 24), list = u32(b, record + 28);
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t at = u32(b, list + 4 * k);
        texts.push_back(text(b, at + 12, u32(b, at + 8) & 0xFFFF));
    }
    return texts;
}

TEST(BookWriter, HeaderAndBookLevelStructures) {
    BookDesc d;
    d.kind = 2;
    d.version = 1;
    d.capsWord1 = 0x11223344;
    d.capsWord2 = 0x55667788;
    d.serial = 0xCAFEBABE;
    d.positionId = 77;
    d.reserved = {0xAA, 0xBB};
    d.bookName = StringListDesc{{1, "Atlas"}, {4, "xy"}};
    d.defCharAttr = std::vector<uint8_t>(84, 0x5A);
    d.exBookNo = std::string("EX-9");
    d.languages = std::vector<uint8_t>{1, 4, 2};
    d.shelfLevels = std::vector<BookDesc::ShelfLevel>{{10, StringListDesc{{1, "Top"}}}, {20, std::nullopt}};
    d.pages = {{"abc", {}}, {"", {}}};
    d.tables.resize(2);
    const WrittenBook w = zav::writeBookOrDie(d);
    const auto &b = w.bytes;
    const auto &l = w.layout;

    EXPECT_EQ(text(b, 0, 4), "DEBD");
    EXPECT_EQ(u32(b, 4), 2u);
    EXPECT_EQ(u32(b, 8), 1u);
    EXPECT_EQ(u32(b, 12), 0x11223344u);
    EXPECT_EQ(u32(b, 16), 0x55667788u);
    EXPECT_EQ(u32(b, 20), 0xCAFEBABEu);
    EXPECT_EQ(u32(b, 52), 77u);
    EXPECT_EQ(slice(b, 56, 3), bytesOf({0xAA, 0xBB, 0}));
    // Header offsets agree with the layout map, and nothing sits at 0.
    const uint32_t offsets[] = {l.bookNameOffset, l.defCharAttrOffset, l.exBookNoOffset,  l.languageListOffset,
                                l.tableDirOffset, l.pageDirOffset,     l.shelfLevelOffset};
    for (uint32_t i = 0; i < 7; ++i) {
        EXPECT_EQ(u32(b, 24 + 4 * i), offsets[i]) << "header field " << 24 + 4 * i;
        EXPECT_GE(offsets[i], 512u);
    }

    EXPECT_EQ(slice(b, l.bookNameOffset, 12), bytesOf({2, 1, 5, 'A', 't', 'l', 'a', 's', 4, 2, 'x', 'y'}));
    EXPECT_EQ(slice(b, l.defCharAttrOffset, 84), std::vector<uint8_t>(84, 0x5A));
    EXPECT_EQ(slice(b, l.exBookNoOffset, 5), bytesOf({4, 'E', 'X', '-', '9'}));
    EXPECT_EQ(slice(b, l.languageListOffset, 4), bytesOf({3, 1, 4, 2}));

    const uint32_t shelf = l.shelfLevelOffset;
    EXPECT_EQ(b[shelf], 2);
    EXPECT_EQ(u32(b, shelf + 1), 10u);
    EXPECT_EQ(slice(b, u32(b, shelf + 5), 6), bytesOf({1, 1, 3, 'T', 'o', 'p'}));
    EXPECT_EQ(u32(b, shelf + 9), 20u);
    EXPECT_EQ(u32(b, shelf + 13), 0u);  // a level without a name

    // Table directory: u8 count, then u32 entries from +1.
    EXPECT_EQ(b[l.tableDirOffset], 2);
    EXPECT_EQ(u32(b, l.tableDirOffset + 1), l.tables[0].record);
    EXPECT_EQ(u32(b, l.tableDirOffset + 5), l.tables[1].record);
    // Page directory: u32 count, then u32 entries from +4; kind 2 records are size, data.
    EXPECT_EQ(u32(b, l.pageDirOffset), 2u);
    const uint32_t p0 = u32(b, l.pageDirOffset + 4), p1 = u32(b, l.pageDirOffset + 8);
    EXPECT_EQ(u32(b, p0), 3u);
    EXPECT_EQ(text(b, p0 + 4, 3), "abc");
    EXPECT_EQ(u32(b, p1), 0u);
    EXPECT_EQ(p1, p0 + 7);  // packed, nothing aligned
}

TEST(BookWriter, AbsentStructuresHaveOffsetZeroUnlessForced) {
    BookDesc bare;
    WrittenBook w = zav::writeBookOrDie(bare);
    EXPECT_EQ(w.bytes.size(), 512u);
    for (uint32_t at = 24; at < 52; at += 4) EXPECT_EQ(u32(w.bytes, at), 0u) << at;

    BookDesc forced;
    forced.pageDirAlways = forced.tableDirAlways = true;
    forced.tables.resize(1);
    forced.tables[0].keyListAlways = forced.tables[0].vpListAlways = true;
    w = zav::writeBookOrDie(forced);
    EXPECT_EQ(u32(w.bytes, w.layout.pageDirOffset), 0u);
    const uint32_t rec = w.layout.tables[0].record;
    EXPECT_NE(u32(w.bytes, rec + 28), 0u);  // key list of 0 entries
    EXPECT_NE(u32(w.bytes, rec + 40), 0u);  // item list of 0 entries
    for (uint32_t field : {8u, 12u, 20u, 32u, 44u}) EXPECT_EQ(u32(w.bytes, rec + field), 0u) << field;

    BookDesc emptyDir;
    emptyDir.tableDirAlways = true;
    w = zav::writeBookOrDie(emptyDir);
    ASSERT_NE(w.layout.tableDirOffset, 0u);
    EXPECT_EQ(w.bytes[w.layout.tableDirOffset], 0);
}

TEST(BookWriter, PrefixedPageRecordsCarryTheirLinkBlock) {
    BookDesc d;
    d.kind = 4;
    d.pages = {{"hello", {}}, {"xy", {0x01020304, 7, 0xFFFFFFFF}}};
    const WrittenBook w = zav::writeBookOrDie(d);
    const auto &b = w.bytes;
    const uint32_t r0 = w.layout.pageRecords[0], r1 = w.layout.pageRecords[1];
    // linkCount 0: size follows the two count bytes.
    EXPECT_EQ(u16(b, r0), 0);
    EXPECT_EQ(u32(b, r0 + 2), 5u);
    EXPECT_EQ(text(b, r0 + 6, 5), "hello");
    // linkCount 3: links from +2, size at +14, data at +18.
    EXPECT_EQ(u16(b, r1), 3);
    EXPECT_EQ(u32(b, r1 + 2), 0x01020304u);
    EXPECT_EQ(u32(b, r1 + 6), 7u);
    EXPECT_EQ(u32(b, r1 + 10), 0xFFFFFFFFu);
    EXPECT_EQ(u32(b, r1 + 14), 2u);
    EXPECT_EQ(text(b, r1 + 18, 2), "xy");
    EXPECT_EQ(w.layout.pageData[1], r1 + 18);
    EXPECT_EQ(b.size(), r1 + 20u);
}

TEST(BookWriter, PlainTableRecordAndLists) {
    BookDesc d;
    TableDesc t;
    t.locale = 9;
    t.localeSpare[0] = 1, t.localeSpare[1] = 2, t.localeSpare[2] = 3;
    t.name = StringListDesc{{1, "Index"}};
    t.subs = {{5, StringListDesc{{1, "s"}}}, {6, std::nullopt}};
    t.dictId = 0x41424344;
    t.pageList = {3, 1};
    t.keys = {{"b", 1, 40, 0xFF, 0x12}, {"a", 0, 8, 0, 0}};
    t.pageToItem = {2, 0};
    t.vpItems.resize(2);
    t.vpItems[0] = {1, 0, 0, 2, StringListDesc{{1, "Root"}}};
    t.vpItems[1] = {0, 1, 0, 0, StringListDesc{{1, zav::kHiddenItemMarker}}};
    d.tables = {t};
    const WrittenBook w = zav::writeBookOrDie(d);
    const auto &b = w.bytes;
    const auto &tl = w.layout.tables[0];
    const uint32_t rec = tl.record;

    EXPECT_EQ(slice(b, rec, 4), bytesOf({9, 1, 2, 3}));
    EXPECT_EQ(u32(b, rec + 4), 2u);
    EXPECT_EQ(u32(b, rec + 8), tl.subListOffset);
    EXPECT_EQ(u32(b, tl.subListOffset), 5u);
    EXPECT_EQ(slice(b, u32(b, tl.subListOffset + 4), 3), bytesOf({1, 1, 1}));
    EXPECT_EQ(u32(b, tl.subListOffset + 8), 6u);
    EXPECT_EQ(u32(b, tl.subListOffset + 12), 0u);
    EXPECT_EQ(slice(b, u32(b, rec + 12), 8), bytesOf({1, 1, 5, 'I', 'n', 'd', 'e', 'x'}));
    EXPECT_EQ(u32(b, rec + 16), 2u);
    EXPECT_EQ(u32(b, u32(b, rec + 20)), 3u);
    EXPECT_EQ(u32(b, u32(b, rec + 20) + 4), 1u);
    EXPECT_EQ(u32(b, rec + 24), 2u);
    EXPECT_EQ(u32(b, rec + 32), 0u);  // no page-to-key list asked for
    EXPECT_EQ(u32(b, rec + 36), 2u);
    EXPECT_EQ(u32(b, u32(b, rec + 44) + 4), 0u);
    EXPECT_EQ(u32(b, rec + 48), 0x41424344u);

    // Key records after sorting: "a" first, then "b" with its length word.
    const uint32_t keyList = u32(b, rec + 28);
    const uint32_t ka = u32(b, keyList), kb = u32(b, keyList + 4);
    EXPECT_EQ(u32(b, ka + 8), 1u);
    EXPECT_EQ(text(b, ka + 12, 1), "a");
    EXPECT_EQ(u32(b, kb), 1u);
    EXPECT_EQ(u32(b, kb + 4), 40u);
    EXPECT_EQ(u32(b, kb + 8), 0xFF120001u);
    EXPECT_EQ(text(b, kb + 12, 1), "b");
    EXPECT_EQ(tl.keyTexts, (std::vector<std::string>{"a", "b"}));
    EXPECT_EQ(tl.keyRecords, (std::vector<uint32_t>{ka, kb}));

    // Items: 16 fixed bytes, caption from +16.
    const uint32_t item2 = u32(b, u32(b, rec + 40) + 4);
    EXPECT_EQ(item2, tl.vpItems[1]);
    EXPECT_EQ(u32(b, item2 + 4), 1u);
    EXPECT_EQ(slice(b, item2 + 16, 12), bytesOf({1, 1, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
}

TEST(BookWriter, DictionaryRecordUsesTheSharedFieldsOtherwise) {
    BookDesc d;
    d.kind = 1;
    TableDesc t;
    t.appFlags = 0x80000001;
    t.dictLevels = {std::vector<uint8_t>(256, 0x33), std::nullopt};
    t.simpleName = StringListDesc{{1, "S"}};
    t.keys = {{"k", 0, 5}};
    d.tables = {t};
    const WrittenBook w = zav::writeBookOrDie(d);
    const auto &b = w.bytes;
    const uint32_t rec = w.layout.tables[0].record;
    EXPECT_EQ(u32(b, rec + 16), 0x80000001u);
    const uint32_t levels = u32(b, rec + 20);
    EXPECT_EQ(slice(b, u32(b, levels), 256), std::vector<uint8_t>(256, 0x33));
    EXPECT_EQ(u32(b, levels + 4), 0u);
    EXPECT_EQ(slice(b, u32(b, rec + 24), 4), bytesOf({1, 1, 1, 'S'}));
    EXPECT_EQ(u32(b, u32(b, u32(b, rec + 28)) + 4), 5u);  // the key list stays at +28
}

TEST(BookWriter, KeysSortUnderTheCollationStably) {
    TableDesc t;
    // Homographs by number, case ignored; "Bank" and "bank" compare equal and keep their order.
    for (const char *k : {"bank@10", "Bank", "bank@2", "apple", "BANK@1", "bank", "b", "  aardvark"})
        t.keys.push_back({k, 0, 0});
    BookDesc d;
    d.tables = {t};
    WrittenBook w = zav::writeBookOrDie(d);
    const std::vector<std::string> expected = {"  aardvark", "apple",  "b",      "Bank",
                                               "bank",       "BANK@1", "bank@2", "bank@10"};
    EXPECT_EQ(keyTextsFromFile(w.bytes, w.layout.tables[0].record), expected);
    EXPECT_EQ(w.layout.tables[0].keyTexts, expected);

    std::vector<KeyDesc> keys = t.keys;
    zav::sortKeys(keys);
    for (size_t k = 0; k < keys.size(); ++k) EXPECT_EQ(keys[k].text, expected[k]);

    d.tables[0].keepKeyOrder = true;
    w = zav::writeBookOrDie(d);
    EXPECT_EQ(keyTextsFromFile(w.bytes, w.layout.tables[0].record)[0], "bank@10");
}

TEST(BookWriter, LargeKeyListIsSortedAndIndexed) {
    TableDesc t;
    const uint32_t n = 100000;
    t.keys.reserve(n);
    for (uint32_t i = 0; i < n; ++i) t.keys.push_back({"w" + std::to_string((i * 7919u) % n), i, 0});
    BookDesc d;
    d.tables = {t};
    const WrittenBook w = zav::writeBookOrDie(d);
    const auto texts = keyTextsFromFile(w.bytes, w.layout.tables[0].record);
    ASSERT_EQ(texts.size(), n);
    for (uint32_t k = 1; k < n; ++k) ASSERT_LE(tovix::compareKeys(texts[k - 1].c_str(), texts[k].c_str()), 0) << k;
}

TEST(BookWriter, AutoPageToKeyTakesFirstKeyOfPageOrCarriesTheOneBefore) {
    TableDesc t;
    t.pageList = {0, 0, 0, 0, 0};
    // In key order: a(page 1) b(page 3) c(page 1) d(page 9, outside the list).
    t.keys = {{"c", 1, 0}, {"a", 1, 0}, {"d", 9, 0}, {"b", 3, 0}};
    t.autoPageToKey = true;
    BookDesc d;
    d.tables = {t};
    const WrittenBook w = zav::writeBookOrDie(d);
    const uint32_t list = u32(w.bytes, w.layout.tables[0].record + 32);
    std::vector<uint32_t> got;
    for (uint32_t i = 0; i < 5; ++i) got.push_back(u32(w.bytes, list + 4 * i));
    EXPECT_EQ(got, (std::vector<uint32_t>{0, 0, 0, 1, 1}));
}

TEST(BookWriter, LinkTreeBuildsPreviousSiblingAndChildLinks) {
    // 1 root; 2, 3, 4 children of 1; 5 child of 2; 6 child of 4.
    std::vector<VpItemDesc> items(6);
    items[4].pagePlusOne = 8;
    zav::linkTree(items, {0, 1, 1, 1, 2, 4});
    struct Links {
        uint32_t previous, nextSibling, firstChild;
    };
    const Links expected[] = {{0, 0, 2}, {1, 3, 5}, {2, 4, 0}, {3, 0, 6}, {2, 0, 0}, {4, 0, 0}};
    for (size_t n = 0; n < 6; ++n) {
        SCOPED_TRACE("item " + std::to_string(n + 1));
        EXPECT_EQ(items[n].previous, expected[n].previous);
        EXPECT_EQ(items[n].nextSibling, expected[n].nextSibling);
        EXPECT_EQ(items[n].firstChild, expected[n].firstChild);
    }
    EXPECT_EQ(items[4].pagePlusOne, 8u);

    // Top-level items after the root become its siblings.
    std::vector<VpItemDesc> flat(3);
    zav::linkTree(flat, {0, 0, 1});
    EXPECT_EQ(flat[0].nextSibling, 2u);
    EXPECT_EQ(flat[1].previous, 1u);
    EXPECT_EQ(flat[0].firstChild, 3u);

    std::vector<VpItemDesc> bad(2);
    EXPECT_THROW(zav::linkTree(bad, {0, 3}), std::invalid_argument);
    EXPECT_THROW(zav::linkTree(bad, {0, 2}), std::invalid_argument);
    EXPECT_THROW(zav::linkTree(bad, {0}), std::invalid_argument);
}

TEST(BookWriter, OverridesLandLastAndPatchesStayInside) {
    TableDesc t;
    t.keys = {{"a", 0, 0}};
    t.keyCountOverride = 1000;
    t.keyListOffsetOverride = 0x80000000u;
    t.vpListOffsetOverride = 0;
    t.vpItems.resize(1);
    BookDesc d;
    d.tables = {t};
    WrittenBook w = zav::writeBookOrDie(d);
    const uint32_t rec = w.layout.tables[0].record;
    EXPECT_EQ(u32(w.bytes, rec + 24), 1000u);
    EXPECT_EQ(u32(w.bytes, rec + 28), 0x80000000u);
    EXPECT_EQ(u32(w.bytes, rec + 40), 0u);
    EXPECT_NE(w.layout.tables[0].keyListOffset, 0u);  // the list itself is still written

    zav::patchU32(w.bytes, 40, 0x80000000u);
    EXPECT_EQ(u32(w.bytes, 40), 0x80000000u);
    const uint32_t size = static_cast<uint32_t>(w.bytes.size());
    EXPECT_NO_THROW(zav::patchU8(w.bytes, size - 1, 1));
    EXPECT_THROW(zav::patchU32(w.bytes, size - 3, 1), std::out_of_range);
    EXPECT_THROW(zav::patchU16(w.bytes, size, 1), std::out_of_range);
}

TEST(BookWriter, RefusesWhatTheFormatCannotHold) {
    struct Case {
        const char *name;
        std::function<void(BookDesc &)> spoil;
    };
    const std::string longText(256, 'x');
    const Case cases[] = {
        {"book name text of 256 bytes",
         [&](BookDesc &d) {
             d.bookName = StringListDesc{{1, longText}};
         }},
        {"string list of 256 entries",
         [](BookDesc &d) {
             d.bookName.emplace();
             d.bookName->entries.assign(256, {1, "a"});
         }},
        {"caption text of 256 bytes",
         [&](BookDesc &d) {
             d.tables[0].vpItems[0].caption = {{1, longText}};
         }},
        {"sub name text of 256 bytes",
         [&](BookDesc &d) {
             d.tables[0].subs = {{1, StringListDesc{{1, longText}}}};
         }},
        {"key of 65536 bytes",
         [](BookDesc &d) {
             d.tables[0].keys = {{std::string(65536, 'k'), 0, 0}};
         }},
        {"256 tables", [](BookDesc &d) { d.tables.resize(256); }},
        {"256 languages", [](BookDesc &d) { d.languages = std::vector<uint8_t>(256, 1); }},
        {"256 shelf levels", [](BookDesc &d) { d.shelfLevels = std::vector<BookDesc::ShelfLevel>(256); }},
        {"attribute block of 83 bytes", [](BookDesc &d) { d.defCharAttr = std::vector<uint8_t>(83); }},
        {"extended book number of 256 bytes", [](BookDesc &d) { d.exBookNo = std::string(256, '1'); }},
        {"457 reserved bytes", [](BookDesc &d) { d.reserved.assign(457, 0); }},
        {"links in a kind-2 book",
         [](BookDesc &d) {
             d.pages = {{"p", {1}}};
         }},
        {"65536 links",
         [](BookDesc &d) {
             d.kind = 4;
             d.pages = {{"p", std::vector<uint32_t>(65536)}};
         }},
        {"dictionary level of 255 bytes",
         [](BookDesc &d) {
             d.kind = 1;
             d.tables[0].vpItems.clear();
             d.tables[0].dictLevels = {std::vector<uint8_t>(255)};
         }},
        {"page list in a dictionary book",
         [](BookDesc &d) {
             d.kind = 1;
             d.tables[0].pageList = {0};
         }},
        {"simple name in a plain book",
         [](BookDesc &d) {
             d.tables[0].simpleName = StringListDesc{{1, "s"}};
         }},
        {"page-to-key given twice",
         [](BookDesc &d) {
             d.tables[0].pageList = {0};
             d.tables[0].pageToKey = {0};
             d.tables[0].autoPageToKey = true;
         }},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        BookDesc d;
        d.tables.resize(1);
        d.tables[0].vpItems.resize(1);
        c.spoil(d);
        WrittenBook w;
        w.bytes = {42};
        std::string error;
        EXPECT_FALSE(zav::writeBook(d, &w, &error));
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(w.bytes, std::vector<uint8_t>{42});  // output untouched
    }

    // The limits themselves are accepted.
    BookDesc edge;
    edge.tables.resize(255);
    edge.tables[0].keys = {{std::string(65535, 'k'), 0, 0}};
    edge.bookName = StringListDesc{{1, std::string(255, 'n')}};
    edge.exBookNo = std::string(255, '1');
    edge.reserved.assign(456, 0xEE);
    std::string error;
    WrittenBook w;
    ASSERT_TRUE(zav::writeBook(edge, &w, &error)) << error;
    EXPECT_EQ(w.bytes[511], 0xEE);
    EXPECT_EQ(w.bytes[w.layout.tableDirOffset], 255);
    EXPECT_EQ(u32(w.bytes, w.layout.tables[0].keyRecords[0] + 8), 65535u);
}

}  // namespace
