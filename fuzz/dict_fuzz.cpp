// Fuzz target: a dictionary file of the engine (libZoZizID), of any content,
// driven through the engine's entry points by a plan of calls (see
// fuzz_support.h for the input layout).
//
// The plan's first byte holds flags: bit 0 keeps the stored file size as it
// is (otherwise it is set to the file's real size, so that the mutations
// reach past the header check), bit 1 names the file by an id taken from the
// plan instead of its stored dictId. Then come up to kMaxCalls calls, each
// an opcode and its arguments. An empty plan runs kDefaultPlan.
//
// Besides the sanitizers, each call's documented promises are checked: no
// write past the length given, terminated words, counts within their
// bounds, handles of another kind refused, searches that agree with each
// other.
#include <unistd.h>

#include <string>
#include <vector>

#include "ZoZizID.h"
#include "ZoZizID_writer.h"
#include "dict_format.h"
#include "fuzz_support.h"

namespace {

using fuzz::GuardedBuffer;
using fuzz::Plan;

constexpr size_t kMaxCalls = 48;
constexpr size_t kSlots = 4;
constexpr size_t kMaxWord = 300;
constexpr uint32_t kMaxContentBuffer = 1u << 20;
constexpr uint8_t kForeignName = 2;
namespace layout = zozizid::format;

enum Op : uint8_t {
    kCount,
    kOpenRecord,
    kSearch,
    kWordOf,
    kContent,
    kHandleInfo,
    kFreeWord,
    kWrongKind,
    kFreeDict,
    kSpellOpen,
    kSpellVerify,
    kSpellCorrect,
    kSpellWildcard,
    kOpCount
};

// Flags 0, then: count; record 0 and the last record into slots 0 and 1;
// their words and main contents; a search for slot 1's word and its
// homograph 1; the spell calls on slot 0's word; the wrong-kind calls.
const uint8_t kDefaultPlan[] = {0,
                                kCount,
                                kOpenRecord,
                                0,
                                0,
                                0,
                                0,
                                kOpenRecord,
                                1,
                                1,
                                kWordOf,
                                0,
                                80,
                                kWordOf,
                                1,
                                3,
                                kContent,
                                0,
                                0,
                                1,
                                kContent,
                                1,
                                1,
                                5,
                                1,
                                kSearch,
                                2,
                                1,
                                1,
                                kSearch,
                                3,
                                7,
                                1,
                                kHandleInfo,
                                2,
                                1,
                                1,
                                kSpellOpen,
                                kSpellVerify,
                                1,
                                0,
                                kSpellCorrect,
                                1,
                                0,
                                4,
                                kSpellWildcard,
                                8,
                                0,
                                9,
                                0x40,
                                0,
                                kWrongKind,
                                0,
                                kFreeDict,
                                kContent,
                                1,
                                0,
                                1,
                                kFreeWord,
                                1};

struct Session {
    uint32_t dictId = 0;
    uintptr_t dict = 0;
    uintptr_t spell = 0;
    uintptr_t words[kSlots] = {};
};

std::string wordOf(uintptr_t hword) {
    char buffer[kMaxWord];
    int32_t n = dicGetWord(hword, buffer, sizeof buffer);
    return n > 0 ? std::string(buffer) : std::string();
}

// A word argument: from the plan, or the word of a slot, as it is, as its
// homograph, cut, or in capitals.
std::string wordArgument(Plan &plan, const Session &s) {
    uint8_t mode = plan.u8();
    return fuzz::wordVariant(plan, mode,
                             fuzz::wordFromPlan(mode) ? std::string() : wordOf(s.words[plan.u8() % kSlots]));
}

void replaceWord(Session &s, size_t slot, uintptr_t hword) { fuzz::replaceHandle(s.words, slot, hword, dicFreeHWORD); }

void openRecord(Plan &plan, Session &s) {
    size_t slot = plan.u8() % kSlots;
    uint32_t count = dicGetWordCount(s.dict);
    uint32_t index = 0;
    switch (plan.u8() % 4) {
        case 0: index = plan.u16(); break;
        case 1: index = count - 1; break;
        case 2: index = count; break;
        default: index = plan.u32();
    }
    uintptr_t hword = dicSearchRecord(s.dict, index);
    if (index >= count) FUZZ_CHECK(hword == 0);
    replaceWord(s, slot, hword);
}

void search(Plan &plan, Session &s) {
    size_t slot = plan.u8() % kSlots;
    std::string word = wordArgument(plan, s);
    uintptr_t hword = dicSearchWord(s.dict, word.c_str());
    // A found word exists (a word may exist while its record is damaged).
    if (hword) FUZZ_CHECK(dicIsExistWord(s.dict, word.c_str()) == 1);
    uint32_t index = 0;
    if (hword) FUZZ_CHECK(dicGetHandleInfo(hword, ZOZIZID_INFO_RECORD_INDEX, &index) == 1);
    if (hword) FUZZ_CHECK(index < dicGetWordCount(s.dict));
    replaceWord(s, slot, hword);
}

void wordCalls(Plan &plan, const Session &s) {
    uintptr_t hword = s.words[plan.u8() % kSlots];
    int32_t length = plan.u8() % 80;
    GuardedBuffer buffer(static_cast<size_t>(length));
    int32_t size = dicGetWordSize(hword);
    int32_t n = dicGetWord(hword, buffer.data(), length);
    buffer.checkGuard();
    FUZZ_CHECK(n == (length < 1 ? 0 : size));
    FUZZ_CHECK(!hword || size >= 1);
    if (n > 0) FUZZ_CHECK(buffer.data()[n < length ? n : length - 1] == 0);
}

uint32_t contentId(Plan &plan, const Session &s) {
    switch (plan.u8() % 3) {
        case 0: return s.dictId;
        case 1: return s.dictId | (((plan.u8() & 0x7Fu) | 0x80u) << 24);
        default: return plan.u32();
    }
}

void contentCalls(Plan &plan, const Session &s) {
    uintptr_t hword = s.words[plan.u8() % kSlots];
    uint32_t id = contentId(plan, s);
    int32_t exists = dicIsExistContent(hword, id);
    int32_t size = dicGetContentSize(hword, id);
    FUZZ_CHECK(size >= 0 && (exists || size == 0));
    uint32_t length = plan.u8() % 2 ? static_cast<uint32_t>(size) : plan.u16() % 4096;
    if (length > kMaxContentBuffer) length = kMaxContentBuffer;
    GuardedBuffer buffer(length);
    int32_t n = dicGetContent(hword, id, buffer.data(), length);
    buffer.checkGuard();
    FUZZ_CHECK(n >= 0 && static_cast<uint32_t>(n) <= length && n <= size);
}

void handleInfo(Plan &plan, const Session &s) {
    // Either a word handle or, one time in four, the dictionary handle.
    uint8_t pick = plan.u8();
    uintptr_t handle = pick % 4 ? s.words[(pick / 4) % kSlots] : s.dict;
    bool isWord = pick % 4 != 0;
    int32_t what = plan.u8() % 4;
    uint32_t value = 0xDEADBEEFu;
    bool give = plan.u8() % 4 != 0;
    int32_t rc = dicGetHandleInfo(handle, what, give ? &value : nullptr);
    if (rc == 0) FUZZ_CHECK(value == 0xDEADBEEFu);
    // The record index of a word handle; the memory held for the dictionary
    // of either kind of handle; nothing else.
    bool answers = give && handle &&
                   ((what == ZOZIZID_INFO_RECORD_INDEX && isWord) || what == ZOZIZID_INFO_MEMORY);
    FUZZ_CHECK(rc == (answers ? 1 : 0));
}

// Handles of one kind given to calls of another are refused.
void wrongKind(Plan &plan, const Session &s) {
    uintptr_t hword = s.words[plan.u8() % kSlots];
    if (s.dict) FUZZ_CHECK(dicFreeHWORD(s.dict) == 0 && SCFreeHandle(s.dict) == 0 && dicGetWordSize(s.dict) == 0);
    if (hword) FUZZ_CHECK(dicFreeHDICT(hword) == 0 && dicGetWordCount(hword) == 0 && SCFreeHandle(hword) == 0);
    if (s.spell) FUZZ_CHECK(dicFreeHDICT(s.spell) == 0 && dicSearchRecord(s.spell, 0) == 0);
}

void spellCorrect(Plan &plan, const Session &s) {
    std::string word = wordArgument(plan, s);
    uint8_t wanted = plan.u8() % 6;
    GuardedBuffer buffer(size_t{wanted} * ZOZIZID_SLOT_SIZE);
    int32_t n = SCCorrection(s.spell, reinterpret_cast<intptr_t>(word.c_str()),
                             reinterpret_cast<intptr_t>(buffer.data()), wanted);
    buffer.checkGuard();
    FUZZ_CHECK(n >= 0 && n <= wanted);
    for (int32_t i = 0; i < n; ++i)
        FUZZ_CHECK(memchr(buffer.data() + size_t(i) * ZOZIZID_SLOT_SIZE, 0, ZOZIZID_SLOT_SIZE) != nullptr);
}

void spellWildcard(Plan &plan, const Session &s) {
    std::string pattern = wordArgument(plan, s);
    uint8_t wanted = plan.u8();
    size_t length = plan.u16() % 2048;
    GuardedBuffer buffer(length);
    int32_t n = SCWildcard(s.spell, reinterpret_cast<intptr_t>(pattern.c_str()),
                           reinterpret_cast<intptr_t>(buffer.data()), wanted, static_cast<intptr_t>(length));
    buffer.checkGuard();
    FUZZ_CHECK(n >= 0 && n <= wanted);
    if (length == 0) return;
    // n words, each ending in a NUL, then the NUL that ends the list.
    const char *at = buffer.data(), *end = buffer.data() + length;
    for (int32_t i = 0; i < n; ++i) {
        const void *nul = memchr(at, 0, static_cast<size_t>(end - at));
        FUZZ_CHECK(nul != nullptr && nul != at);
        at = static_cast<const char *>(nul) + 1;
    }
    FUZZ_CHECK(at < end && *at == 0);
}

void runCall(Plan &plan, Session &s) {
    switch (plan.u8() % kOpCount) {
        case kCount: dicGetWordCount(s.dict); break;
        case kOpenRecord: openRecord(plan, s); break;
        case kSearch: search(plan, s); break;
        case kWordOf: wordCalls(plan, s); break;
        case kContent: contentCalls(plan, s); break;
        case kHandleInfo: handleInfo(plan, s); break;
        case kFreeWord: replaceWord(s, plan.u8() % kSlots, 0); break;
        case kWrongKind: wrongKind(plan, s); break;
        case kFreeDict:  // the word handles stay usable
            if (s.dict) FUZZ_CHECK(dicFreeHDICT(s.dict) == 1);
            s.dict = 0;
            break;
        case kSpellOpen:
            if (!s.spell) s.spell = SCCreateHandleEx(s.dictId);
            break;
        case kSpellVerify: {
            std::string word = wordArgument(plan, s);
            FUZZ_CHECK(SCVerify(s.spell, reinterpret_cast<intptr_t>(word.c_str()), 0) <= 1);
            break;
        }
        case kSpellCorrect: spellCorrect(plan, s); break;
        default: spellWildcard(plan, s);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::pointEngineAtScratch();
    fuzz::PlannedFile input = fuzz::plannedFile(data, size, kDefaultPlan, sizeof kDefaultPlan, layout::kOffFileSize);
    Plan &plan = input.plan;
    const std::vector<uint8_t> &file = input.file;
    Session s;
    s.dictId = input.flags & kForeignName              ? plan.u32()
               : file.size() >= layout::kOffDictId + 4 ? fuzz::get32(&file[layout::kOffDictId])
                                                       : 0;
    std::string path = fuzz::writeScratchFile(zozizid::dictionaryFileName(s.dictId), file.data(), file.size());

    s.dict = dicCreateHDICT(s.dictId);
    for (size_t i = 0; i < kMaxCalls && !plan.done(); ++i) runCall(plan, s);

    for (uintptr_t &hword : s.words) replaceWord(s, static_cast<size_t>(&hword - s.words), 0);
    if (s.spell) FUZZ_CHECK(SCFreeHandle(s.spell) == 1);
    if (s.dict) FUZZ_CHECK(dicFreeHDICT(s.dict) == 1);
    unlink(path.c_str());
    return 0;
}
