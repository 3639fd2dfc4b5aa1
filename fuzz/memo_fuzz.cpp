// Fuzz target: the memo sidecar of a book, of any content, driven through
// the memo library's entry points (libZAVMemo) and through the module's
// memo sub page, by a plan of calls (see fuzz_support.h for the input
// layout).
//
// The book is a small plain book written once; the input becomes its
// sidecar. The plan's first byte holds flags: bit 0 keeps the stored file
// size as it is (otherwise it is set to the real size, so that mutations
// reach past the header check). Then come up to kMaxCalls calls, each an
// opcode and its arguments; page numbers are often taken from the entries
// of the sidecar itself. An empty plan runs kDefaultPlan.
#include <unistd.h>

#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "ZAVMemo.h"
#include "fuzz_support.h"
#include "memo_format.h"
#include "zav/book_writer.h"

namespace {

using fuzz::GuardedBuffer;
using fuzz::Plan;

constexpr size_t kMaxCalls = 48;
constexpr size_t kSlots = 3;
constexpr uint32_t kBookPages = 4;
namespace layout = zavmemo::format;
constexpr uint32_t kMaxBuffer = 1u << 20;
constexpr const char kBookName[] = "memo.book";

enum Op : uint8_t { kNumber, kHandle, kContent, kFree, kSubPage, kOpCount };

// Flags 0, then: the memo count of entry 0's page, all its memos joined
// and its first memo into slots 0 and 1, both read whole and cut, the
// module's memo sub page of that page, a free.
const uint8_t kDefaultPlan[] = {0,        kNumber, 1, 0,        kHandle, 0, 1,        0, 0, kHandle, 1,
                                1,        0,       1, kContent, 0,       1, kContent, 1, 0, 3,       0,
                                kSubPage, 1,       0, 1,        kFree,   0, kContent, 0, 1};

struct Session {
    BookHandle book = nullptr;
    const std::vector<uint8_t> *file = nullptr;
    uintptr_t memos[kSlots] = {};
};

// A page argument: from the plan, or the page of one of the sidecar's entries.
uint32_t pageArgument(Plan &plan, const Session &s) {
    uint8_t mode = plan.u8();
    if (mode % 3 == 0) return plan.u8();
    if (mode % 3 == 2) return plan.u32();
    size_t at = layout::kHeaderSize + layout::kEntrySize * plan.u8();
    return at + 4 <= s.file->size() ? fuzz::get32(&(*s.file)[at]) : 0;
}

void replaceMemo(Session &s, size_t slot, uintptr_t memo) {
    fuzz::replaceHandle(s.memos, slot, memo, CBIFreeMemoHandle);
}

void openHandle(Plan &plan, Session &s) {
    size_t slot = plan.u8() % kSlots;
    uint32_t page = pageArgument(plan, s);
    int32_t which = static_cast<int8_t>(plan.u8()) % 6;
    int32_t count = CBIGetMemoNumber(s.book, page);
    uintptr_t memo = CBIGetMemoHandle(s.book, page, which);
    FUZZ_CHECK(count >= 0);
    if (which < 0 || which > count || count == 0) FUZZ_CHECK(memo == 0);
    if (memo) FUZZ_CHECK(CBIGetMemoSize(memo) >= 0 && CBIGetMemoSize(memo) <= ZAVMEMO_MAX_JOINED);
    replaceMemo(s, slot, memo);
}

void readContent(Plan &plan, const Session &s) {
    uintptr_t memo = s.memos[plan.u8() % kSlots];
    int32_t size = CBIGetMemoSize(memo);
    uint32_t length = plan.u8() % 2 ? static_cast<uint32_t>(size) : plan.u16();
    if (length > kMaxBuffer) length = kMaxBuffer;
    GuardedBuffer buffer(length);
    int32_t n = CBIGetMemoContent(memo, buffer.data(), length);
    buffer.checkGuard();
    FUZZ_CHECK(n == (static_cast<uint32_t>(size) < length ? size : static_cast<int32_t>(length)));
}

// The same memos through the module: sub page 127 of a page.
void subPage(Plan &plan, const Session &s) {
    int32_t table = plan.u8() % 2;
    uint32_t page = pageArgument(plan, s);
    int32_t exists = ZAVIsExistSubPage(s.book, table, MEMO_SUB_NUMBER, page);
    int32_t size = ZAVGetSubPageSize(s.book, table, MEMO_SUB_NUMBER, page);
    uint32_t length = size > 0 && static_cast<uint32_t>(size) < kMaxBuffer ? static_cast<uint32_t>(size) : 64;
    GuardedBuffer buffer(length);
    int32_t n = ZAVGetSubPage(s.book, table, MEMO_SUB_NUMBER, page, buffer.data(), length);
    buffer.checkGuard();
    FUZZ_CHECK(exists >= 0 && n >= 0 && static_cast<uint32_t>(n) <= length);
}

void runCall(Plan &plan, Session &s) {
    switch (plan.u8() % kOpCount) {
        case kNumber: FUZZ_CHECK(CBIGetMemoNumber(s.book, pageArgument(plan, s)) >= 0); break;
        case kHandle: openHandle(plan, s); break;
        case kContent: readContent(plan, s); break;
        case kFree: replaceMemo(s, plan.u8() % kSlots, 0); break;
        default: subPage(plan, s);
    }
}

BookHandle openBook() {
    zav::BookDesc desc;
    desc.kind = BOOK_KIND_PLAIN;
    desc.bookName = zav::StringListDesc{{1, "Memo fuzz book"}};
    for (uint32_t i = 0; i < kBookPages; ++i) desc.pages.push_back({"page " + std::to_string(i), {}});
    zav::WrittenBook written;
    std::string error;
    if (!zav::writeBook(desc, &written, &error)) fuzz::broken("cannot write the book");
    std::string path = fuzz::writeScratchFile(kBookName, written.bytes.data(), written.bytes.size());
    BookHandle book = nullptr;
    if (ZAVOpenBook(std::wstring(path.begin(), path.end()).c_str(), &book) != ZAV_OPEN_OK)
        fuzz::broken("cannot open the book");
    return book;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static BookHandle book = openBook();
    fuzz::PlannedFile input = fuzz::plannedFile(data, size, kDefaultPlan, sizeof kDefaultPlan, layout::kOffFileSize);
    Plan &plan = input.plan;
    const std::vector<uint8_t> &file = input.file;
    fuzz::writeScratchFile(kBookName + std::string(layout::kSidecarSuffix), file.data(), file.size());

    Session s;
    s.book = book;
    s.file = &file;
    for (size_t i = 0; i < kMaxCalls && !plan.done(); ++i) runCall(plan, s);
    for (size_t i = 0; i < kSlots; ++i) replaceMemo(s, i, 0);
    FUZZ_CHECK(CBIGetMemoNumber(nullptr, 0) == 0 && CBIGetMemoHandle(nullptr, 0, 0) == 0);
    return 0;
}
