// Fuzz target: a book of any content, with the dictionary engine and the
// memo library in place, driven through every exported query call of the
// module by a plan of calls (see book_input.h for the input layout: the
// plan, the book, and a dictionary file and a memo sidecar that land where
// the engine and the memo library look for them).
//
// Each call of the plan is a selector (one per exported call; see Op) and
// its arguments: table numbers, indexes (small, the last, one past the
// last, or any 32-bit value), languages, buffer lengths (by default the
// size the module reports), words (from the plan, or key words met earlier
// in the run, as homographs, cut into patterns, in capitals) and sub numbers
// (the memo's 127 or small ones). A plan without calls runs every call once
// with default arguments. Besides the sanitizers, the call's promises are
// checked: no write past the length given, terminated names, copies no
// longer than the buffer, counts within their bounds.
#include <string.h>

#include <string>

#include "ZoZizID.h"
#include "book_input.h"
#include "fuzz_support.h"
#include "tovix/format.h"

namespace {

using fuzz::GuardedBuffer;
using fuzz::Plan;

constexpr size_t kMaxCalls = 64;
constexpr size_t kSlots = 4;
constexpr size_t kNameLength = 256;
constexpr uint32_t kMaxBuffer = (1u << 20) + 16;
constexpr int32_t kMaxLanguage = 6;  // past the last language code
constexpr int kWalkBudget = 256;
constexpr int kWalkDepth = 32;

enum Op : uint8_t {
    // the book
    kFileName,
    kBkName,
    kCaps,
    kDefCharAttr,
    kSerial,
    kExBookNoLength,
    kExBookNo,
    kLanguageCount,
    kLanguage,
    kTableCount,
    kShelfLevel,
    kShelfLevelInfo,
    kPositionId,
    kPageCount,
    kPageSize,
    kPage,
    kReopen,
    // tables
    kTableLocal,
    kTableName,
    kTableSimpleName,
    kDictClass,
    kSubCount,
    kSubName,
    kIsAddInApp,
    kDictLevelInfo,
    kTablePageCount,
    kTablePageSize,
    kTablePage,
    // keys
    kKeyCount,
    kKeyWordLength,
    kKeyWord,
    kKeyPageNo,
    kKeyPageOffset,
    kPageToKey,
    kSearchKeyWord,
    kIsExistWord,
    // the tree
    kVpCount,
    kVpRoot,
    kVpHasChildren,
    kVpChild,
    kVpNextSibling,
    kVpItemText,
    kVpPageToItem,
    kVpItemToPage,
    kVpParent,
    kVpWalk,
    // spell checking and sub pages (the engine and the memo library)
    kSpellCorrection,
    kSpellVerify,
    kSpellWildcard,
    kIsExistSubPage,
    kSubPageSize,
    kSubPage,
    kOpCount
};

struct Session {
    BookHandle book = nullptr;
    std::string path;
    std::string words[kSlots];  // key words met in the run
    size_t nextWord = 0;
};

// --- arguments ---------------------------------------------------------------

int32_t tableArgument(Plan &plan, const Session &s) {
    uint8_t b = plan.u8();
    if (b & 0x80) return static_cast<int8_t>(b);  // negative
    return b % (ZAVGetTableCount(s.book) + 1);
}

// An index below count mostly: small, the last, one past the last, any.
uint32_t indexArgument(Plan &plan, int32_t count) {
    switch (plan.u8() % 4) {
        case 0: return plan.u8();
        case 1: return static_cast<uint32_t>(count) - 1;
        case 2: return static_cast<uint32_t>(count);
        default: return plan.u32();
    }
}

int32_t languageArgument(Plan &plan) { return plan.u8() % (kMaxLanguage + 1); }

// A buffer length: 0 in the plan asks for `natural`, the size the call needs.
uint32_t lengthArgument(Plan &plan, int64_t natural) {
    uint8_t b = plan.u8();
    if (b == 0) return natural > 0 && natural < kMaxBuffer ? static_cast<uint32_t>(natural) : kNameLength;
    if (b & 0x80) return plan.u16() % 8192;
    return b - 1u;
}

std::string wordArgument(Plan &plan, const Session &s) {
    uint8_t mode = plan.u8();
    return fuzz::wordVariant(plan, mode, fuzz::wordFromPlan(mode) ? std::string() : s.words[plan.u8() % kSlots]);
}

void remember(Session &s, const char *word) {
    s.words[s.nextWord] = word;
    s.nextWord = (s.nextWord + 1) % kSlots;
}

// --- checks ------------------------------------------------------------------

void checkCount8(int32_t n) { FUZZ_CHECK(n >= 0 && n <= 255); }

// A name call: a language code (a byte), a terminated text when it copied one.
void checkName(int32_t rc, const GuardedBuffer &buffer) {
    buffer.checkGuard();
    checkCount8(rc);
    if (rc && buffer.length()) FUZZ_CHECK(memchr(buffer.data(), 0, buffer.length()) != nullptr);
}

// A copying call: at most the length given.
void checkCopy(int32_t n, const GuardedBuffer &buffer) {
    buffer.checkGuard();
    FUZZ_CHECK(n >= 0 && static_cast<uint32_t>(n) <= buffer.length());
}

}  // namespace

// The families of calls, each a switch over its selectors.
namespace {

bool openBook(Session &s) {
    std::wstring wide(s.path.begin(), s.path.end());
    return ZAVOpenBook(wide.c_str(), &s.book) == ZAV_OPEN_OK;
}

void bookNameCalls(Op op, Plan &plan, Session &s) {
    uint32_t value = 0;
    if (op == kFileName) {
        int32_t length = static_cast<int32_t>(lengthArgument(plan, static_cast<int64_t>(s.path.size()) + 1));
        GuardedBuffer buffer(static_cast<size_t>(length));
        FUZZ_CHECK(ZAVGetFileName(s.book, buffer.data(), length) == static_cast<int32_t>(s.path.size()));
        buffer.checkGuard();
    } else if (op == kBkName) {
        int32_t language = languageArgument(plan);
        GuardedBuffer buffer(lengthArgument(plan, kNameLength));
        checkName(ZAVGetBkName(s.book, language, buffer.data(), static_cast<uint32_t>(buffer.length())), buffer);
    } else {  // kShelfLevelInfo
        int32_t index = static_cast<int32_t>(indexArgument(plan, ZAVGetShelfLevel(s.book)));
        int32_t language = languageArgument(plan);
        GuardedBuffer buffer(lengthArgument(plan, kNameLength));
        checkName(ZAVGetShelfLevelInfo(s.book, index, language, &value, buffer.data(),
                                       static_cast<uint32_t>(buffer.length())),
                  buffer);
    }
}

void bookCalls(Op op, Plan &plan, Session &s) {
    uint32_t value = 0;
    switch (op) {
        case kCaps: {
            GuardedBuffer block(tovix::BOOK_CAPS_SIZE);
            ZAVGetCaps(s.book, block.data());
            block.checkGuard();
            break;
        }
        case kDefCharAttr: {
            GuardedBuffer block(tovix::DEF_CHAR_ATTR_SIZE);
            ZAVGetDefCharAttr(s.book, block.data());
            block.checkGuard();
            break;
        }
        case kSerial: FUZZ_CHECK(ZAVBookSerial(s.book, &value) == 0 || value == 0); break;
        case kExBookNoLength: checkCount8(ZAVExBookNoLength(s.book)); break;
        case kExBookNo: {
            GuardedBuffer buffer(lengthArgument(plan, ZAVExBookNoLength(s.book)));
            ZAVExBookNo(s.book, buffer.data(), static_cast<int32_t>(buffer.length()));
            buffer.checkGuard();
            break;
        }
        case kLanguageCount: checkCount8(ZAVGetLanguageCount(s.book)); break;
        case kLanguage:
            checkCount8(ZAVGetLanguage(s.book, static_cast<int32_t>(indexArgument(plan, ZAVGetLanguageCount(s.book)))));
            break;
        case kTableCount: checkCount8(ZAVGetTableCount(s.book)); break;
        case kShelfLevel: checkCount8(ZAVGetShelfLevel(s.book)); break;
        case kPositionId: ZAVGetBookPositionID(s.book); break;
        case kPageCount: ZAVGetPageCount(s.book); break;
        case kPageSize:
            ZAVGetPageSize(s.book, static_cast<int32_t>(indexArgument(plan, ZAVGetPageCount(s.book))));
            break;
        case kPage: {
            int32_t page = static_cast<int32_t>(indexArgument(plan, ZAVGetPageCount(s.book)));
            GuardedBuffer buffer(lengthArgument(plan, ZAVGetPageSize(s.book, page)));
            checkCopy(ZAVGetPage(s.book, page, buffer.data(), static_cast<uint32_t>(buffer.length())), buffer);
            break;
        }
        case kReopen:
            FUZZ_CHECK(ZAVCloseBook(s.book) == 1);
            s.book = nullptr;
            FUZZ_CHECK(openBook(s));  // it opened before, from the same bytes
            break;
        default: bookNameCalls(op, plan, s);
    }
}

}  // namespace

namespace {

void tableNameCalls(Op op, Plan &plan, Session &s, int32_t table) {
    int32_t language = languageArgument(plan);
    if (op == kSubName) {
        int32_t index = static_cast<int32_t>(indexArgument(plan, ZAVGetSubCount(s.book, table)));
        uint32_t subId = 0;
        GuardedBuffer buffer(lengthArgument(plan, kNameLength));
        checkName(ZAVGetSubName(s.book, table, index, &subId, language, buffer.data(),
                                static_cast<uint32_t>(buffer.length())),
                  buffer);
        return;
    }
    GuardedBuffer buffer(lengthArgument(plan, kNameLength));
    uint32_t length = static_cast<uint32_t>(buffer.length());
    if (op == kTableName)
        checkName(ZAVGetTableName(s.book, table, language, buffer.data(), length), buffer);
    else
        checkName(ZAVGetTableSimpleName(s.book, table, language, buffer.data(), length), buffer);
}

void tableCalls(Op op, Plan &plan, Session &s) {
    int32_t table = tableArgument(plan, s);
    switch (op) {
        case kTableLocal: checkCount8(ZAVGetTableLocal(s.book, table)); break;
        case kDictClass: ZAVGetDictClass(s.book, table); break;
        case kSubCount: ZAVGetSubCount(s.book, table); break;
        case kIsAddInApp: FUZZ_CHECK(ZAVIsAddInApp(s.book, table, plan.u8() ? plan.u32() : ~0u) <= 1); break;
        case kDictLevelInfo: {
            GuardedBuffer block(tovix::DICT_LEVEL_RECORD_SIZE);
            ZAVGetDictLevelInfo(s.book, table, static_cast<int32_t>(indexArgument(plan, 2)), block.data());
            block.checkGuard();
            break;
        }
        case kTablePageCount: ZAVGetTablePageCount(s.book, table); break;
        case kTablePageSize:
            ZAVGetTablePageSize(s.book, table, indexArgument(plan, ZAVGetTablePageCount(s.book, table)));
            break;
        case kTablePage: {
            uint32_t index = indexArgument(plan, ZAVGetTablePageCount(s.book, table));
            GuardedBuffer buffer(lengthArgument(plan, ZAVGetTablePageSize(s.book, table, index)));
            checkCopy(ZAVGetTablePage(s.book, table, index, buffer.data(), static_cast<uint32_t>(buffer.length())),
                      buffer);
            break;
        }
        default: tableNameCalls(op, plan, s, table);
    }
}

void keyWordCall(Plan &plan, Session &s, int32_t table, uint32_t key) {
    int32_t size = ZAVGetKeyWordLength(s.book, table, key);
    int32_t length = static_cast<int32_t>(lengthArgument(plan, static_cast<int64_t>(size) + 1));
    GuardedBuffer buffer(static_cast<size_t>(length));
    int32_t rc = ZAVGetKeyWord(s.book, table, key, buffer.data(), length);
    buffer.checkGuard();
    if (length < 1) FUZZ_CHECK(rc == 0);
    const void *end = length > 0 ? memchr(buffer.data(), 0, static_cast<size_t>(length)) : nullptr;
    if (rc) FUZZ_CHECK(end != nullptr);
    if (end) remember(s, buffer.data());
}

void searchCall(Plan &plan, Session &s, int32_t table) {
    std::string word = wordArgument(plan, s);
    uint8_t mode = plan.u8();
    int32_t length = static_cast<int32_t>(word.size());
    if (mode % 4 == 1) length = mode / 4;         // cut, or past the terminator
    if (mode % 4 == 2) length = -1 - (mode / 4);  // negative
    int32_t found = ZAVSearchKeyWord(s.book, table, mode % 4 == 3 ? nullptr : word.c_str(), length);
    FUZZ_CHECK(found >= 0);
    if (mode % 4 == 2 || mode % 4 == 3) FUZZ_CHECK(found == 0);
}

void keyCalls(Op op, Plan &plan, Session &s) {
    int32_t table = tableArgument(plan, s);
    switch (op) {
        case kKeyCount: ZAVGetKeyCount(s.book, table); break;
        case kSearchKeyWord: searchCall(plan, s, table); break;
        case kIsExistWord: {
            std::string word = wordArgument(plan, s);
            FUZZ_CHECK(ZAVIsExistWord(s.book, table, word.c_str()) <= 1);
            break;
        }
        case kPageToKey: ZAVPageToKey(s.book, table, indexArgument(plan, ZAVGetTablePageCount(s.book, table))); break;
        default: {
            uint32_t key = indexArgument(plan, ZAVGetKeyCount(s.book, table));
            if (op == kKeyWordLength) ZAVGetKeyWordLength(s.book, table, key);
            if (op == kKeyWord) keyWordCall(plan, s, table, key);
            if (op == kKeyPageNo) ZAVGetKeyPageNo(s.book, table, key);
            if (op == kKeyPageOffset) ZAVGetKeyPageOffset(s.book, table, key);
        }
    }
}

// Walk the tree from an item, visiting at most *budget items.
void walkTree(const Session &s, int32_t table, int32_t item, int depth, int *budget) {
    char text[kNameLength];
    for (; item > 0 && *budget > 0 && depth < kWalkDepth; item = EBDVPGetNextSiblingItem(s.book, table, item)) {
        --*budget;
        EBDVPGetItemText(s.book, table, item, 0, text, sizeof text);
        EBDVPItemToPage(s.book, table, item);
        EBDVPGetParentItem(s.book, table, item);
        if (EBDVPItemHasChildren(s.book, table, item))
            walkTree(s, table, EBDVPGetChildItem(s.book, table, item), depth + 1, budget);
    }
}

void treeCalls(Op op, Plan &plan, Session &s) {
    int32_t table = tableArgument(plan, s);
    if (op == kVpWalk) {
        int budget = kWalkBudget;
        walkTree(s, table, EBDVPGetRootItem(s.book, table), 0, &budget);
        return;
    }
    if (op == kVpCount) {
        EBDVPGetCount(s.book, table);
        return;
    }
    if (op == kVpRoot) {
        FUZZ_CHECK(EBDVPGetRootItem(s.book, table) == 1);
        return;
    }
    if (op == kVpPageToItem) {
        EBDVPPageToItem(s.book, table, static_cast<int32_t>(indexArgument(plan, ZAVGetTablePageCount(s.book, table))));
        return;
    }
    int32_t item = static_cast<int32_t>(indexArgument(plan, EBDVPGetCount(s.book, table)) + 1);
    switch (op) {
        case kVpHasChildren: FUZZ_CHECK(EBDVPItemHasChildren(s.book, table, item) <= 1); break;
        case kVpChild: EBDVPGetChildItem(s.book, table, item); break;
        case kVpNextSibling: EBDVPGetNextSiblingItem(s.book, table, item); break;
        case kVpItemToPage: EBDVPItemToPage(s.book, table, item); break;
        case kVpParent: EBDVPGetParentItem(s.book, table, item); break;
        default: {
            int32_t language = languageArgument(plan);
            GuardedBuffer buffer(lengthArgument(plan, kNameLength));
            checkName(
                EBDVPGetItemText(s.book, table, item, language, buffer.data(), static_cast<uint32_t>(buffer.length())),
                buffer);
        }
    }
}

}  // namespace

namespace {

// The spell calls pass their arguments to the engine; only the low 8 bits
// of y count.
void spellCalls(Op op, Plan &plan, Session &s, int32_t table) {
    std::string word = wordArgument(plan, s);
    intptr_t w = plan.u8() == 1 ? 0 : reinterpret_cast<intptr_t>(word.c_str());
    if (op == kSpellVerify) {
        FUZZ_CHECK(EBDSCVerify(s.book, table, w, 0) <= 1);
        return;
    }
    uint32_t y = plan.u8() % 8 | static_cast<uint32_t>(plan.u8()) << 8;
    uint32_t wanted = y & 0xFF;
    if (op == kSpellCorrection) {
        GuardedBuffer buffer(size_t{wanted} * ZOZIZID_SLOT_SIZE);
        int32_t n = EBDSCCorrection(s.book, table, w, reinterpret_cast<intptr_t>(buffer.data()), y);
        buffer.checkGuard();
        FUZZ_CHECK(n >= 0 && static_cast<uint32_t>(n) <= wanted);
        return;
    }
    GuardedBuffer buffer(lengthArgument(plan, kNameLength * 4));
    int32_t n = EBDSCWildcard(s.book, table, w, reinterpret_cast<intptr_t>(buffer.data()), y,
                              static_cast<intptr_t>(buffer.length()));
    buffer.checkGuard();
    FUZZ_CHECK(n >= 0 && static_cast<uint32_t>(n) <= wanted);
}

// A sub number: the memo's, a small one, any byte, any value.
int32_t subArgument(Plan &plan) {
    uint8_t mode = plan.u8();
    switch (mode % 4) {
        case 0: return MEMO_SUB_NUMBER;
        case 1: return mode / 4 % 4;
        case 2: return plan.u8();
        default: return static_cast<int32_t>(plan.u32());
    }
}

void engineCalls(Op op, Plan &plan, Session &s) {
    int32_t table = tableArgument(plan, s);
    if (op == kSpellCorrection || op == kSpellVerify || op == kSpellWildcard) {
        spellCalls(op, plan, s, table);
        return;
    }
    int32_t sub = subArgument(plan);
    uint32_t index = indexArgument(plan, ZAVGetTablePageCount(s.book, table));
    if (op == kIsExistSubPage) {
        FUZZ_CHECK(ZAVIsExistSubPage(s.book, table, sub, index) >= 0);
    } else if (op == kSubPageSize) {
        FUZZ_CHECK(ZAVGetSubPageSize(s.book, table, sub, index) >= 0);
    } else {
        GuardedBuffer buffer(lengthArgument(plan, ZAVGetSubPageSize(s.book, table, sub, index)));
        checkCopy(ZAVGetSubPage(s.book, table, sub, index, buffer.data(), static_cast<uint32_t>(buffer.length())),
                  buffer);
    }
}

void runCall(Op op, Plan &plan, Session &s) {
    if (op < kTableLocal)
        bookCalls(op, plan, s);
    else if (op < kKeyCount)
        tableCalls(op, plan, s);
    else if (op < kVpCount)
        keyCalls(op, plan, s);
    else if (op < kSpellCorrection)
        treeCalls(op, plan, s);
    else
        engineCalls(op, plan, s);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::pointEngineAtScratch();
    fuzz::BookInput input = fuzz::splitBookInput(data, size);
    fuzz::BookFiles files(data, input);
    Session s;
    s.path = files.bookPath();
    if (!openBook(s)) return 0;
    files.placeDictionary(s.book);
    Plan &plan = input.plan;
    if (plan.done()) {  // no calls: each call once, with default arguments
        Plan zeros(nullptr, 0);
        for (uint8_t op = 0; op < kOpCount; ++op) runCall(static_cast<Op>(op), zeros, s);
    }
    for (size_t i = 0; i < kMaxCalls && !plan.done(); ++i) runCall(static_cast<Op>(plan.u8() % kOpCount), plan, s);
    FUZZ_CHECK(ZAVCloseBook(s.book) == 1);
    return 0;
}
