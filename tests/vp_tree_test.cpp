// The virtual page tree: walks, captions, item/page mapping, hidden items,
// damaged trees (cycles, missing lists, out-of-range numbers).
#include <gtest/gtest.h>

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

zav::VpItemDesc item(const std::string &caption, uint32_t previous, uint32_t next, uint32_t child,
                     uint32_t pagePlusOne = 0) {
    zav::VpItemDesc d;
    d.pagePlusOne = pagePlusOne;
    d.previous = previous;
    d.nextSibling = next;
    d.firstChild = child;
    d.caption = {{1, caption}};
    return d;
}

zav::VpItemDesc hidden(uint32_t previous, uint32_t next, uint32_t child = 0) {
    return item(zav::kHiddenItemMarker, previous, next, child);
}

zav::BookDesc bookWithItems(std::vector<zav::VpItemDesc> items) {
    zav::BookDesc desc;
    desc.kind = BOOK_KIND_PLAIN;
    zav::TableDesc table;
    table.vpItems = std::move(items);
    desc.tables.push_back(table);
    return desc;
}

// The sample tree:
//   1 Contents
//     2 Chapter 1 (no page)      first child 5
//       5 Section 1 (page 7)
//     3 (hidden)
//     4 Chapter 2                first child 6
//       6 (hidden)
zav::BookDesc sampleTree() {
    zav::BookDesc desc = bookWithItems({
        item("Contents", 0, 0, 2),
        item("Chapter 1", 1, 3, 5, 0),
        hidden(2, 4),
        item("Chapter 2", 3, 0, 6),
        item("Section 1", 2, 0, 0, 8),
        hidden(4, 0),
    });
    desc.tables[0].pageToItem = {5, 0, 2};
    return desc;
}

class VpTreeTest : public ::testing::Test {
protected:
    ModuleSession session;
};

enum class Call { Root, Child, Sibling, HasChildren, Parent, ItemToPage, PageToItem };

struct WalkCase {
    const char *name;
    Call call;
    int32_t argument;
    int32_t expected;
};

int32_t run(BookHandle book, Call call, int32_t argument) {
    switch (call) {
        case Call::Root: return EBDVPGetRootItem(book, 0);
        case Call::Child: return EBDVPGetChildItem(book, 0, argument);
        case Call::Sibling: return EBDVPGetNextSiblingItem(book, 0, argument);
        case Call::HasChildren: return EBDVPItemHasChildren(book, 0, argument);
        case Call::Parent: return EBDVPGetParentItem(book, 0, argument);
        case Call::ItemToPage: return EBDVPItemToPage(book, 0, argument);
        case Call::PageToItem: return EBDVPPageToItem(book, 0, argument);
    }
    return 0;
}

TEST_F(VpTreeTest, SampleTreeAnswersEveryCall) {
    const WalkCase cases[] = {
        {"root is item 1", Call::Root, 0, 1},
        {"first child of the root", Call::Child, 1, 2},
        {"sibling skips the hidden item 3", Call::Sibling, 2, 4},
        {"last sibling has none", Call::Sibling, 4, 0},
        {"first child of chapter 1", Call::Child, 2, 5},
        {"hidden children still count as children", Call::HasChildren, 4, 1},
        {"leaf has no children", Call::HasChildren, 5, 0},
        {"only child hidden gives no child", Call::Child, 4, 0},
        {"parent found back along the sibling chain", Call::Parent, 4, 1},
        {"parent of a first child", Call::Parent, 5, 2},
        {"root has no parent", Call::Parent, 1, 0},
        {"item 0 has no parent", Call::Parent, 0, 0},
        {"page of item 5", Call::ItemToPage, 5, 7},
        {"item without page", Call::ItemToPage, 2, ZAV_NO_INDEX},
        {"page 0 reads the first page-to-item entry", Call::PageToItem, 0, 5},
        {"page-to-item entry 0 means none", Call::PageToItem, 1, 0},
        {"page-to-item entry 2", Call::PageToItem, 2, 2},
    };
    OpenBook book(sampleTree());
    ASSERT_TRUE(book.ok()) << book.result();
    EXPECT_EQ(EBDVPGetCount(book, 0), 6);
    for (const auto &c : cases) EXPECT_EQ(run(book, c.call, c.argument), c.expected) << c.name;

    char text[64];
    EXPECT_EQ(EBDVPGetItemText(book, 0, 3, 1, text, sizeof text), 1);
    EXPECT_EQ(std::string(text), zav::kHiddenItemMarker) << "hidden items keep their caption";
    EXPECT_EQ(EBDVPGetItemText(book, 0, 4, 0, text, sizeof text), 1);
    EXPECT_STREQ(text, "Chapter 2");
}

// Numbers the host makes up: below 1, or so large that 32-bit position
// arithmetic would wrap back onto a real entry (4 * 0x40000000 = 2^32).
TEST_F(VpTreeTest, OutOfRangeNumbersFailWithoutAliasing) {
    const WalkCase cases[] = {
        {"item 0 has no page", Call::ItemToPage, 0, ZAV_NO_INDEX},
        {"negative item has no page", Call::ItemToPage, -1, ZAV_NO_INDEX},
        {"most negative item", Call::ItemToPage, INT32_MIN, ZAV_NO_INDEX},
        {"item 0 has no children", Call::HasChildren, 0, 0},
        {"negative item has no child", Call::Child, -3, 0},
        {"negative item has no sibling", Call::Sibling, -2, 0},
        {"negative item has no parent", Call::Parent, -4, 0},
        {"item 5 + 2^30 is not item 5", Call::ItemToPage, 0x40000005, ZAV_NO_INDEX},
        {"item 1 + 2^30 is not the root", Call::Child, 0x40000001, 0},
        {"page 2^30 is not page 0", Call::PageToItem, 0x40000000, 0},
        {"negative page", Call::PageToItem, -1, 0},
        {"page past the list and the file", Call::PageToItem, 0x7FFFFFFF, 0},
    };
    OpenBook book(sampleTree());
    ASSERT_TRUE(book.ok());
    for (const auto &c : cases) EXPECT_EQ(run(book, c.call, c.argument), c.expected) << c.name;
    char text[16] = "untouched";
    EXPECT_EQ(EBDVPGetItemText(book, 0, 0, 1, text, sizeof text), 0);
    EXPECT_EQ(EBDVPGetItemText(book, 0, 0x40000002, 1, text, sizeof text), 0);
    EXPECT_STREQ(text, "untouched");
}

TEST_F(VpTreeTest, UnreadableTableGivesFailureValues) {
    OpenBook book(sampleTree());
    ASSERT_TRUE(book.ok());
    for (int32_t table : {1, -1}) {
        EXPECT_EQ(EBDVPGetCount(book, table), 0);
        EXPECT_EQ(EBDVPGetRootItem(book, table), 1) << "the root needs no read";
        EXPECT_EQ(EBDVPGetChildItem(book, table, 1), 0);
        EXPECT_EQ(EBDVPItemToPage(book, table, 5), ZAV_NO_INDEX);
        EXPECT_EQ(EBDVPGetParentItem(book, table, 5), 0);
        EXPECT_EQ(EBDVPPageToItem(book, table, 0), 0);
    }
    EXPECT_EQ(EBDVPGetChildItem(nullptr, 0, 1), 0);
    EXPECT_EQ(EBDVPItemToPage(nullptr, 0, 5), ZAV_NO_INDEX);
    EXPECT_EQ(EBDVPGetItemText(book, 0, 1, 1, nullptr, 16), 0);
    char text[4] = "xyz";
    EXPECT_EQ(EBDVPGetItemText(book, 0, 1, 1, text, 0), 0);
    EXPECT_STREQ(text, "xyz") << "no room, nothing written";
}

TEST_F(VpTreeTest, HiddenFirstChildLeadsToItsNextVisibleSibling) {
    // 1 -> hidden 2, hidden 3, visible 4
    OpenBook book(bookWithItems({
        item("Root", 0, 0, 2),
        hidden(1, 3),
        hidden(2, 4),
        item("Shown", 3, 0, 0),
    }));
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(EBDVPGetChildItem(book, 0, 1), 4);
    EXPECT_EQ(EBDVPGetParentItem(book, 0, 4), 1);
}

TEST_F(VpTreeTest, VisibilityUsesTheCaptionListsFallback) {
    zav::VpItemDesc otherLanguage = item("", 1, 3, 0);
    otherLanguage.caption = {{3, "Kapitel"}};
    zav::VpItemDesc markerInOtherLanguage = item("", 2, 4, 0);
    markerInOtherLanguage.caption = {{4, zav::kHiddenItemMarker}};
    zav::VpItemDesc markerNotInBase = item("", 3, 0, 0);
    markerNotInBase.caption = {{4, zav::kHiddenItemMarker}, {1, "Visible"}};
    OpenBook book(bookWithItems({item("Root", 0, 0, 2), otherLanguage, markerInOtherLanguage, markerNotInBase}));
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(EBDVPGetChildItem(book, 0, 1), 2) << "a caption only in language 3 is visible";
    EXPECT_EQ(EBDVPGetNextSiblingItem(book, 0, 2), 4)
        << "the marker as the only caption hides; the base text decides when there is one";
}

TEST_F(VpTreeTest, UnreadableCaptionEndsTheWalk) {
    zav::VpItemDesc empty = item("", 2, 4, 0);
    empty.caption = {};
    OpenBook book(bookWithItems({item("Root", 0, 0, 2), item("A", 1, 3, 0), empty, item("B", 3, 0, 0)}));
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(EBDVPGetNextSiblingItem(book, 0, 2), 0) << "an empty caption list fails, though 4 is readable";
    EXPECT_EQ(EBDVPGetNextSiblingItem(book, 0, 3), 4);
    char text[8] = "x";
    EXPECT_EQ(EBDVPGetItemText(book, 0, 3, 1, text, sizeof text), 0);
    EXPECT_STREQ(text, "x");
}

TEST_F(VpTreeTest, TableWithoutItemList) {
    zav::BookDesc desc = sampleTree();
    desc.tables[0].vpListOffsetOverride = 0;
    OpenBook book(desc);
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(EBDVPGetCount(book, 0), 6);
    EXPECT_EQ(EBDVPGetRootItem(book, 0), 1);
    EXPECT_EQ(EBDVPItemHasChildren(book, 0, 1), 0);
    EXPECT_EQ(EBDVPGetChildItem(book, 0, 1), 0);
    EXPECT_EQ(EBDVPGetNextSiblingItem(book, 0, 2), 0);
    EXPECT_EQ(EBDVPGetParentItem(book, 0, 5), 0);
    EXPECT_EQ(EBDVPItemToPage(book, 0, 5), ZAV_NO_INDEX);
    char text[16];
    EXPECT_EQ(EBDVPGetItemText(book, 0, 1, 1, text, sizeof text), 0);
    EXPECT_EQ(EBDVPPageToItem(book, 0, 0), 5) << "the page-to-item list does not need the item list";

    desc = sampleTree();
    desc.tables[0].pageToItemOffsetOverride = 0;
    OpenBook noPageList(desc);
    ASSERT_TRUE(noPageList.ok());
    EXPECT_EQ(EBDVPPageToItem(noPageList, 0, 0), 0);
}

// Every read a call makes is needed for its answer: a failure of any one of
// them gives the failure value, never a wrong item.
TEST_F(VpTreeTest, EveryFailedReadGivesTheFailureValue) {
    OpenBook book(sampleTree());
    ASSERT_TRUE(book.ok());
    struct Case {
        const char *name;
        Call call;
        int32_t argument, answer, failure;
    };
    const Case cases[] = {
        {"child of the root", Call::Child, 1, 2, 0},       {"sibling over a hidden sibling", Call::Sibling, 2, 4, 0},
        {"parent along the chain", Call::Parent, 4, 1, 0}, {"item to page", Call::ItemToPage, 5, 7, ZAV_NO_INDEX},
        {"page to item", Call::PageToItem, 0, 5, 0},
    };
    auto &faults = tovix::test::FaultPlatform::instance();
    for (const auto &c : cases) {
        auto check = [&](uint64_t n) {
            int32_t got = run(book, c.call, c.argument);
            EXPECT_EQ(got, faults.faultsFired() ? c.failure : c.answer) << c.name << ", fault at " << n;
        };
        EXPECT_GT(forEachFailurePoint(Op::Read, check, FaultMode::Once), 3u) << c.name;
        EXPECT_GT(forEachFailurePoint(Op::Read, check, FaultMode::Short), 3u) << c.name;
    }
}

// --- damaged trees whose links go round --------------------------------------

// Reads made by one call.
template <typename F>
uint64_t readsOf(F call) {
    ScopedFaults faults;
    call();
    return faults->count(Op::Read);
}

// Items 2 .. tail+1 form a chain of hidden siblings that runs into a ring of
// `ring` hidden siblings; item 1 is the parent whose first child is item 2.
zav::BookDesc hiddenSiblingLoop(uint32_t tail, uint32_t ring, uint32_t vpCount) {
    std::vector<zav::VpItemDesc> items{item("Root", 0, 0, 2)};
    uint32_t last = tail + ring + 1;  // highest item number
    for (uint32_t n = 2; n <= last; ++n) items.push_back(hidden(n - 1, n < last ? n + 1 : tail + 2));
    zav::BookDesc desc = bookWithItems(items);
    desc.tables[0].vpCountOverride = vpCount;
    return desc;
}

TEST_F(VpTreeTest, CyclicHiddenSiblingsEndTheWalk) {
    struct Case {
        const char *name;
        uint32_t tail, ring;
    };
    const Case cases[] = {
        {"item is its own next sibling", 0, 1},
        {"two hidden siblings point at each other", 0, 2},
        {"long tail into a short ring", 40, 3},
        {"short tail into a long ring", 2, 60},
    };
    for (const auto &c : cases) {
        uint64_t small = 0, huge = 0;
        for (uint32_t vpCount : {c.tail + c.ring + 1, 0xFFFFFFFFu}) {
            OpenBook book(hiddenSiblingLoop(c.tail, c.ring, vpCount));
            ASSERT_TRUE(book.ok());
            int32_t sibling = -1, child = -1;
            uint64_t reads = readsOf([&] { sibling = EBDVPGetNextSiblingItem(book, 0, 2); });
            readsOf([&] { child = EBDVPGetChildItem(book, 0, 1); });
            EXPECT_EQ(sibling, 0) << c.name;
            EXPECT_EQ(child, 0) << c.name;
            (vpCount == 0xFFFFFFFFu ? huge : small) = reads;
        }
        // A step costs 6 reads (list entry and item, list entry and the
        // caption's count, head and text); the walk stops within a small
        // multiple of the chain's length, whatever vpCount claims.
        uint64_t chain = c.tail + c.ring + 1;
        EXPECT_LE(huge, 4 + 6 * 4 * chain) << c.name;
        EXPECT_EQ(huge, small) << c.name << ": vpCount must not bound the walk";
    }
}

TEST_F(VpTreeTest, CyclicPreviousLinksEndTheParentWalk) {
    // Items 2 .. n: each one's previous is the one before; item 2's previous
    // is the last item, so the chain goes round. Nobody's first child is the
    // item the walk comes from.
    for (uint32_t ring : {1u, 2u, 5u, 70u}) {
        std::vector<zav::VpItemDesc> items{item("Root", 0, 0, 0)};
        uint32_t last = ring + 1;
        for (uint32_t n = 2; n <= last; ++n) items.push_back(item("x", n == 2 ? last : n - 1, 0, 0));
        zav::BookDesc desc = bookWithItems(items);
        desc.tables[0].vpCountOverride = 0xFFFFFFFFu;
        OpenBook book(desc);
        ASSERT_TRUE(book.ok());
        int32_t parent = -1;
        uint64_t reads = readsOf([&] { parent = EBDVPGetParentItem(book, 0, last); });
        EXPECT_EQ(parent, 0) << "ring " << ring;
        // 2 reads per step after the 4 of the table record.
        EXPECT_LE(reads, 4 + 2 * (4 * ring + 4)) << "ring " << ring;
    }
}

// A parent walk may come back to an item it has seen and still end: the test
// at each step also depends on the item the walk came from, so a repeated
// item alone is no cycle.
TEST_F(VpTreeTest, ParentWalkThatRevisitsAnItemStillEnds) {
    // 1.previous = 2 (damaged), 2.previous = 1, 1.firstChild = 2, 1.next = 3.
    // From 1: (1 from 1) -> (2 from 1) -> (1 from 2): 1's first child is 2.
    // From 3: (3) -> (1 from 3) -> (2 from 1) -> (1 from 2): again 1.
    OpenBook book(bookWithItems({item("A", 2, 3, 2), item("B", 1, 0, 0), item("C", 1, 0, 0)}));
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(EBDVPGetParentItem(book, 0, 1), 1);
    EXPECT_EQ(EBDVPGetParentItem(book, 0, 2), 1);
    EXPECT_EQ(EBDVPGetParentItem(book, 0, 3), 1);
}

}  // namespace
