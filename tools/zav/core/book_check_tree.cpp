// The page-to-key and page-to-item maps and the table of contents: each
// item read and its links tested, then the walk from the root.
#include <string>
#include <vector>

#include "core/book_check.h"
#include "core/cli.h"

namespace zavtool {

// A u32 list of one entry per table page whose values must stay below
// `limit` (a page-to-key or page-to-item list).
void BookChecker::checkPageMap(const std::string &where, uint64_t field, uint32_t list, uint64_t pages, uint64_t limit,
                               const char *what, const char *target) {
    region(field, where, list, uint64_t{tovix::U32_ENTRY_SIZE} * pages,
           std::string("the ") + what + " list of " + n(pages) + " entries");
    uint64_t fit = entriesInFile(list, pages, tovix::U32_ENTRY_SIZE);
    for (uint64_t i = 0; i < fit; ++i) {
        uint64_t entry = list + uint64_t{tovix::U32_ENTRY_SIZE} * i;
        uint32_t value = 0;
        raw_.u32At(entry, &value);
        if (value >= limit)
            report(entry, where,
                   "table page " + n(i) + " maps to " + target + " " + n(value) + ", but the " +
                       (std::string(target) == "key" ? "table has " + n(limit) + " keys"
                                                     : "tree has " + n(limit - 1) + " items"));
    }
}

// Read every tree item that lies in the file and test its links.
void BookChecker::readTreeItems(const std::string &where, const Tree &tree, int64_t tablePages, TreeItems *items) {
    for (uint64_t item = 1; item <= items->fit; ++item) {
        std::string itemWhere = where + " item " + n(item);
        uint64_t entry = tree.list + uint64_t{tovix::U32_ENTRY_SIZE} * (item - 1);
        uint32_t at = 0;
        raw_.u32At(entry, &at);
        if (!region(entry, itemWhere, at, tovix::VP_ITEM_FIXED_SIZE, "the tree item")) continue;
        raw_.vpItem(tree.list, static_cast<uint32_t>(item), &items->offsets[item], &items->links[item]);
        items->readable[item] = 1;
        uint64_t caption = uint64_t{at} + tovix::VP_ITEM_FIXED_SIZE;
        if (stringList(caption, itemWhere, caption, "the caption") == 0)
            report(caption, itemWhere, "the caption has no text: a host's walk of the tree stops at this item");
        const VpLinks &l = items->links[item];
        const struct {
            uint32_t value;
            uint32_t field;
            const char *name;
        } linkFields[] = {{l.previous, tovix::VP_PREVIOUS, "previous"},
                          {l.nextSibling, tovix::VP_NEXT_SIBLING, "next sibling"},
                          {l.firstChild, tovix::VP_FIRST_CHILD, "first child"}};
        for (const auto &f : linkFields) {
            if (f.value > tree.count)
                report(uint64_t{at} + f.field, itemWhere,
                       std::string(f.name) + " link to item " + n(f.value) + ", but the tree has " + n(tree.count) +
                           " items");
        }
        if (l.pagePlusOne && tablePages >= 0 && l.pagePlusOne - 1u >= static_cast<uint64_t>(tablePages))
            report(at, itemWhere,
                   "leads to table page " + n(l.pagePlusOne - 1u) + ", but the table has " +
                       n(static_cast<uint64_t>(tablePages)) + " pages");
    }
}

// Walk from the root over first-child and next-sibling links.
void BookChecker::walkTree(const std::string &where, uint32_t record, const Tree &tree, const TreeItems &items) {
    struct Step {
        uint32_t item, from;
        uint64_t field;  // where the link that leads here is stored
    };
    std::vector<uint8_t> seen(items.fit + 1, 0);
    std::vector<Step> stack;
    stack.push_back({tovix::VP_ROOT_ITEM, 0, record + tovix::TBL_VP_LIST_OFFSET});
    while (!stack.empty()) {
        Step s = stack.back();
        stack.pop_back();
        if (s.item == 0 || s.item > items.fit || !items.readable[s.item]) continue;
        if (seen[s.item]) {
            report(s.field, where + " item " + n(s.from),
                   "links to item " + n(s.item) +
                       ", which the walk from the root has already met: the tree links are cyclic or shared");
            continue;
        }
        seen[s.item] = 1;
        const VpLinks &l = items.links[s.item];
        uint64_t at = items.offsets[s.item];
        if (s.from != 0 && l.previous != s.from)
            report(at + tovix::VP_PREVIOUS, where + " item " + n(s.item),
                   "previous link is " + n(l.previous) + ", but item " + n(s.from) + " links to it");
        if (l.nextSibling) stack.push_back({l.nextSibling, s.item, at + tovix::VP_NEXT_SIBLING});
        if (l.firstChild) stack.push_back({l.firstChild, s.item, at + tovix::VP_FIRST_CHILD});
    }
    for (uint64_t item = 2; item <= items.fit; ++item) {
        if (items.readable[item] && !seen[item])
            report(tree.list + uint64_t{tovix::U32_ENTRY_SIZE} * (item - 1), where + " item " + n(item),
                   "not reachable from the root");
    }
}

void BookChecker::checkTree(const std::string &where, uint32_t record, const tovix::TableRecord &r,
                            int64_t tablePages) {
    Tree tree{r.field(tovix::TBL_VP_LIST_OFFSET), r.field(tovix::TBL_VP_COUNT)};
    uint32_t pageToItem = r.field(tovix::TBL_PAGE_TO_ITEM_OFFSET);
    if (pageToItem && tablePages > 0)
        checkPageMap(where, record + tovix::TBL_PAGE_TO_ITEM_OFFSET, pageToItem, static_cast<uint64_t>(tablePages),
                     uint64_t{tree.count} + 1, "page-to-item", "item");
    if (tree.list == 0) {
        if (tree.count) report(record + tovix::TBL_VP_COUNT, where, n(tree.count) + " tree items but no item list");
        return;
    }
    if (tree.count == 0) {
        report(record + tovix::TBL_VP_COUNT, where, "an item list but no items: the root item 1 does not exist");
        return;
    }
    itemCount += tree.count;
    listRegion(record + tovix::TBL_VP_LIST_OFFSET, record + tovix::TBL_VP_COUNT, where, tree.list,
               uint64_t{tovix::U32_ENTRY_SIZE} * tree.count, "the item list of " + n(tree.count) + " entries");
    TreeItems items;
    items.fit = entriesInFile(tree.list, tree.count, tovix::U32_ENTRY_SIZE);
    items.links.assign(items.fit + 1, VpLinks{});
    items.offsets.assign(items.fit + 1, 0);
    items.readable.assign(items.fit + 1, 0);
    readTreeItems(where, tree, tablePages, &items);
    if (items.fit == 0 || !items.readable[tovix::VP_ROOT_ITEM]) return;  // no item of the list lies in the file
    if (items.links[tovix::VP_ROOT_ITEM].previous != 0)
        report(items.offsets[tovix::VP_ROOT_ITEM] + uint64_t{tovix::VP_PREVIOUS}, where + " item 1",
               "the root has a previous link (item " + n(items.links[tovix::VP_ROOT_ITEM].previous) + ")");
    walkTree(where, record, tree, items);
}

}  // namespace zavtool
