// The virtual page tree: each table's table of contents, read straight from
// the file on every call.
//
// Item n (1-based) is the VpItem whose position is the u32 at
// vpListOffset + 4 (n - 1). An item whose language-1 caption is the hidden
// item marker is skipped by the downward walks (first child, next sibling).
//
// The links of a damaged book may form a cycle. The two walks that follow
// links until they reach 0 (over hidden siblings, and back along previous
// links to the parent) watch for a repeated item with Brent's cycle
// detection: no memory, and a cyclic chain is recognised within a number of
// steps proportional to the part of the chain actually walked, whatever the
// table claims as its item count. A cycle makes the call fail.
#include <string.h>

#include "../book/book_state.h"
#include "../book/process_state.h"
#include "../book/string_list.h"
#include "TovixZAV_JC.h"

using namespace tovix;

namespace {

constexpr uint32_t CAPTION_BUFFER_SIZE = STRING_TEXT_MAX + 1;

// Brent's cycle detection over the sequence of items a walk produces. The
// walk feeds it each new element; it answers true once an element equals its
// reference, which it moves on to the latest element at steps 1, 2, 4, 8, ...
// A sequence that enters a cycle of length c after t elements is caught
// within about 2 max(t, c) + c elements.
class CycleGuard {
public:
    explicit CycleGuard(uint32_t start) : reference_(start) {}
    bool revisits(uint32_t item) {
        if (item == reference_) return true;
        if (++steps_ == power_) {
            reference_ = item;
            power_ *= 2;
            steps_ = 0;
        }
        return false;
    }

private:
    uint32_t reference_;
    uint64_t power_ = 1;
    uint64_t steps_ = 0;
};

bool readTable(BookHandle book, int32_t table, TableRecord *record) {
    return book && readTableRecord(&book->file, table, record);
}

// Position of item n's VpItem, from the item list. Item numbers below 1 have
// no entry. The item count does not bound the list: any entry that lies in
// the file is read.
bool itemOffset(BookFile *file, uint32_t vpListOffset, uint32_t item, uint32_t *offset) {
    if (vpListOffset == 0) return refuse(file, "no such tree item", vpListOffset);
    // GCOVR_EXCL_BR_START: every caller passes an item from hostItem or a link that is not 0
    if (item == 0) return refuse(file, "no such tree item", vpListOffset);
    // GCOVR_EXCL_BR_STOP
    Section items{vpListOffset, U32_ENTRY_SIZE, kUnbounded};
    return entryU32(file, items, static_cast<uint64_t>(item) - 1, 0, offset);
}

bool readItem(BookFile *file, uint32_t vpListOffset, uint32_t item, VpItem *out) {
    uint32_t offset;
    unsigned char b[VP_ITEM_FIXED_SIZE];
    if (!itemOffset(file, vpListOffset, item, &offset) || !readAt(file, offset, b, VP_ITEM_FIXED_SIZE)) return false;
    *out = decodeVpItem(b);
    return true;
}

// The caption follows the 16 fixed bytes of the item. A position that would
// pass 4 GiB is kept at the top, outside any book.
uint32_t captionOffset(uint32_t itemPosition) {
    return itemPosition > UINT32_MAX - VP_ITEM_FIXED_SIZE ? UINT32_MAX : itemPosition + VP_ITEM_FIXED_SIZE;
}

enum class Visibility { Unreadable, Visible, Hidden };

// Whether item c is hidden: its caption in language 1 (or the list's
// fallback) compared with the marker. A caption that cannot be read, an
// empty caption list included, is Unreadable.
Visibility visibility(BookFile *file, uint32_t vpListOffset, uint32_t item) {
    uint32_t offset;
    if (!itemOffset(file, vpListOffset, item, &offset)) return Visibility::Unreadable;
    char caption[CAPTION_BUFFER_SIZE];
    if (readStringList(file, captionOffset(offset), ZAV_LANG_BASE, caption, sizeof caption) == 0)
        return Visibility::Unreadable;
    return strcmp(caption, HIDDEN_ITEM_MARKER) == 0 ? Visibility::Hidden : Visibility::Visible;
}

// The first sibling after `item` that is not hidden, or 0: no further
// sibling, an unreadable item or caption, or a cycle of hidden siblings.
int32_t nextVisibleSibling(BookFile *file, uint32_t vpListOffset, uint32_t item) {
    if (vpListOffset == 0) return 0;
    CycleGuard guard(item);
    uint32_t current = item;
    for (;;) {
        VpItem v;
        if (!readItem(file, vpListOffset, current, &v) || v.nextSibling == 0) return 0;
        Visibility seen = visibility(file, vpListOffset, v.nextSibling);
        if (seen == Visibility::Unreadable) return 0;
        if (seen == Visibility::Visible) return static_cast<int32_t>(v.nextSibling);
        current = v.nextSibling;
        if (guard.revisits(current)) return 0;
    }
}

// An item number from the host; numbers below 1 name no item.
bool hostItem(int32_t item, uint32_t *out) {
    if (item < 1) return false;
    *out = static_cast<uint32_t>(item);
    return true;
}

}  // namespace

extern "C" ZAV_API int32_t ZAV_CALL EBDVPGetCount(BookHandle book, int32_t table) noexcept {
    TableRecord record;
    if (!readTable(book, table, &record)) return 0;
    return static_cast<int32_t>(record.field(TBL_VP_COUNT));
}

extern "C" ZAV_API int32_t ZAV_CALL EBDVPGetRootItem(BookHandle, int32_t) noexcept { return VP_ROOT_ITEM; }

extern "C" ZAV_API int32_t ZAV_CALL EBDVPItemHasChildren(BookHandle book, int32_t table, int32_t item) noexcept {
    TableRecord record;
    uint32_t n;
    VpItem v;
    if (!hostItem(item, &n) || !readTable(book, table, &record) ||
        !readItem(&book->file, record.field(TBL_VP_LIST_OFFSET), n, &v))
        return 0;
    return v.firstChild != 0 ? 1 : 0;
}

extern "C" ZAV_API int32_t ZAV_CALL EBDVPGetChildItem(BookHandle book, int32_t table, int32_t item) noexcept {
    TableRecord record;
    uint32_t n;
    if (!hostItem(item, &n) || !readTable(book, table, &record)) return 0;
    uint32_t list = record.field(TBL_VP_LIST_OFFSET);
    VpItem v;
    if (!readItem(&book->file, list, n, &v) || v.firstChild == 0) return 0;
    Visibility seen = visibility(&book->file, list, v.firstChild);
    if (seen == Visibility::Unreadable) return 0;
    if (seen == Visibility::Visible) return static_cast<int32_t>(v.firstChild);
    return nextVisibleSibling(&book->file, list, v.firstChild);
}

extern "C" ZAV_API int32_t ZAV_CALL EBDVPGetNextSiblingItem(BookHandle book, int32_t table, int32_t item) noexcept {
    TableRecord record;
    uint32_t n;
    if (!hostItem(item, &n) || !readTable(book, table, &record)) return 0;
    return nextVisibleSibling(&book->file, record.field(TBL_VP_LIST_OFFSET), n);
}

extern "C" ZAV_API int32_t ZAV_CALL EBDVPGetItemText(BookHandle book, int32_t table, int32_t item, int32_t language,
                                                     char *buffer, uint32_t length) noexcept {
    TableRecord record;
    uint32_t n, offset;
    if (!buffer || length == 0 || !hostItem(item, &n) || !readTable(book, table, &record) ||
        !itemOffset(&book->file, record.field(TBL_VP_LIST_OFFSET), n, &offset))
        return 0;
    return readStringList(&book->file, captionOffset(offset), wantedLanguage(language), buffer, length);
}

extern "C" ZAV_API int32_t ZAV_CALL EBDVPPageToItem(BookHandle book, int32_t table, int32_t page) noexcept {
    TableRecord record;
    if (page < 0 || !readTable(book, table, &record)) return 0;
    // Page indexes are not bounded by a count: any entry in the file is read.
    Section pageToItem;
    uint32_t value;
    if (!tableList(&book->file, record, TBL_PAGE_TO_ITEM_OFFSET, kUnbounded, &pageToItem) ||
        !entryU32(&book->file, pageToItem, static_cast<uint64_t>(page), 0, &value))
        return 0;
    return static_cast<int32_t>(value);
}

extern "C" ZAV_API int32_t ZAV_CALL EBDVPItemToPage(BookHandle book, int32_t table, int32_t item) noexcept {
    TableRecord record;
    uint32_t n;
    VpItem v;
    if (!hostItem(item, &n) || !readTable(book, table, &record) ||
        !readItem(&book->file, record.field(TBL_VP_LIST_OFFSET), n, &v) || v.pagePlusOne == 0)
        return ZAV_NO_INDEX;
    return static_cast<int32_t>(v.pagePlusOne - 1);
}

extern "C" ZAV_API int32_t ZAV_CALL EBDVPGetParentItem(BookHandle book, int32_t table, int32_t item) noexcept {
    TableRecord record;
    uint32_t n;
    if (!hostItem(item, &n) || !readTable(book, table, &record)) return 0;
    uint32_t list = record.field(TBL_VP_LIST_OFFSET);
    if (list == 0) return 0;
    // Back along the previous links to the item whose first child is the
    // item the walk came from: the parent of the whole sibling group.
    // Each step tests the pair (current, from). The guard watches `from` from
    // the third step on: once an item repeats there, the pair of this step
    // repeats one already tested, so the walk would go round for ever. (The
    // first two steps both have the host's item as `from`.)
    CycleGuard guard(n);
    uint32_t current = n, from = n;
    for (uint32_t step = 0;; step = step < 2 ? step + 1 : step) {
        VpItem v;
        if (!readItem(&book->file, list, current, &v)) return 0;
        if (v.firstChild == from) return static_cast<int32_t>(current);
        if (v.previous == 0) return 0;
        if (step >= 2 && guard.revisits(from)) return 0;
        from = current;
        current = v.previous;
    }
}
