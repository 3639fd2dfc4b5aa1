// Fault injection over every exported call of the module, the dictionary
// engine and the memo library, in one program: the engine's and the memo
// library's sources are linked into it beside the module's core, so the one
// platform table the test installs is the one all three use. The module's
// loads of the two libraries are answered with the program itself, whose
// exports then answer the entry-point lookups.
//
// For each call, for each kind of operation (read, short read, open,
// allocation, library load, entry-point lookup) and N = 1, 2, ... until the
// call runs without reaching its N-th operation, the N-th operation fails,
// once and from then on. Every run must return the call's result without
// faults or its failure value, leave a terminated string in a text buffer it
// wrote and failed on, and leave no block, file or library behind. Leaks of
// the engine's and memo library's own heap are left to LeakSanitizer.
//
// The engine keeps the dictionaries it has read between handles. Calls that
// load a dictionary run again with that cache dropped before each run, so
// that the faults hit the loading; after each such run the call runs once
// more without faults and must give its answer (nothing half-loaded was
// kept), and the cache is dropped again before the blocks are counted. One
// dictionary is too large to be kept in memory: its calls read every word
// and record from the file.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "ZAVMemo.h"
#include "ZAVMemo_writer.h"
#include "ZoZizID.h"
#include "ZoZizID_writer.h"
#include "book/process_state.h"
#include "dict_format.h"
#include "resident.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "tovix/le.h"
#include "zav/book_writer.h"

using tovix::test::FaultMode;
using tovix::test::FaultPlatform;
using tovix::test::Op;

namespace {

constexpr uint32_t kDictId = 0x00010001u;
// Dictionaries too large to be kept whole: of the first the index and word
// list are kept, the second is searched on its file.
constexpr uint32_t kListsDictId = 0x00010002u;
constexpr uint32_t kDiskDictId = 0x00010003u;
constexpr uint32_t kManyContents = 20;          // contents of their word "bank", more than one read takes
constexpr uint32_t kEmptyDictId = 0x00010004u;  // a dictionary without words
constexpr size_t kText = 64;       // text buffers of the calls
constexpr size_t kBlock = 2048;    // binary buffers, spell slots included
constexpr char kUnwritten = 0x7F;  // the byte the buffers are filled with

zav::TableDesc plainTable() {
    zav::TableDesc t;
    t.locale = 1;
    t.name = zav::StringListDesc{{1, "Glossary"}, {2, "\xB4\xCA\xBB\xE3"}};
    t.subs = {{7, zav::StringListDesc{{1, "Notes"}}}};
    t.pageList = {0, 1, 2};
    t.keys = {{"able", 0, 0, 0}, {"bank@1", 1, 4, 0x80}, {"dog", 2, 3, 0}};
    t.autoPageToKey = true;
    t.vpItems.resize(3);
    const char *captions[] = {"Contents", "Chapter 1", "Chapter 2"};
    for (size_t i = 0; i < 3; ++i) t.vpItems[i].caption = zav::StringListDesc{{1, captions[i]}};
    zav::linkTree(t.vpItems, {0, 1, 1});
    t.vpItems[2].pagePlusOne = 2;
    t.pageToItem = {1, 2, 2};
    return t;
}

zav::BookDesc plainBook() {
    zav::BookDesc b;
    b.kind = 2;
    b.version = 1;
    b.serial = 1234;
    b.positionId = 7;
    b.bookName = zav::StringListDesc{{1, "Sweep book"}, {3, "\xAE\xD1"}};
    b.defCharAttr = std::vector<uint8_t>(84, 0x5A);
    b.exBookNo = std::string("EX-0001");
    b.languages = std::vector<uint8_t>{1, 2};
    b.shelfLevels = std::vector<zav::BookDesc::ShelfLevel>{{10, zav::StringListDesc{{1, "Shelf"}}}};
    for (int i = 0; i < 3; ++i) {
        zav::PageDesc p;
        p.data = "page " + std::to_string(i) + " text";
        b.pages.push_back(p);
    }
    b.tables.push_back(plainTable());
    return b;
}

zav::BookDesc dictionaryBook() {
    zav::BookDesc b;
    b.kind = 1;
    b.bookName = zav::StringListDesc{{1, "Sweep dictionary"}};
    zav::TableDesc t;
    t.dictId = kDictId;
    t.appFlags = 3;
    t.name = zav::StringListDesc{{1, "Words"}};
    t.simpleName = zav::StringListDesc{{1, "W"}};
    t.dictLevels = {std::vector<uint8_t>(256, 1)};
    b.tables.push_back(t);
    return b;
}

std::string sense(uint32_t i) { return "sense " + std::to_string(i); }

std::vector<zozizid::DictWord> manyContents(uint32_t dictId) {
    std::map<uint32_t, std::string> senses{{dictId, "bank (1)"}};
    for (uint32_t i = 1; i < kManyContents; ++i) senses[zozizid::subContentId(dictId, i)] = sense(i);
    return {{"able", {{dictId, "able"}}},
            {"bank@1", senses},
            {"bank@2", {{dictId, "bank (2)"}}},
            {"zebra", {{dictId, "striped"}}}};
}

// Grow the dictionary file at path (sparse) to `size` bytes, and the section
// whose header fields are at offsetField and sizeField with it, to the end of
// the file (over the sections after it, which the engine allows).
bool spread(const std::string &path, uint32_t offsetField, uint32_t sizeField, uint32_t size) {
    unsigned char h[zozizid::format::kHeaderSize];
    std::fstream f(path, std::ios::in | std::ios::out | std::ios::binary);
    if (!f.read(reinterpret_cast<char *>(h), sizeof h)) return false;
    tovix::putLe32(h + sizeField, size - tovix::le32(h + offsetField));
    tovix::putLe32(h + zozizid::format::kOffFileSize, size);
    if (!f.seekp(0) || !f.write(reinterpret_cast<const char *>(h), sizeof h)) return false;
    f.close();
    std::error_code error;
    std::filesystem::resize_file(path, size, error);
    return !error;
}

struct Books {
    tovix::test::TempFile plain, dictionary;
    BookHandle p = nullptr, d = nullptr;
    uintptr_t hdict = 0, hword = 0, spell = 0, memo = 0;
    int32_t root = 0, child = 0, sibling = 0;  // virtual page items of the plain book
};
Books *gBooks = nullptr;
void *gProgram = nullptr;

constexpr int64_t kNoPartial = INT64_MIN;

// One exported call: its run under faults returns `failure` or what it
// returns without faults, or `partial`, a result it documents for a damaged
// file (a string list whose later entries cannot be read gives the text of
// an earlier language). fillsText: the call fills the text buffer it gets.
struct Call {
    const char *name;
    int64_t failure;
    std::function<int64_t(char *text, unsigned char *block)> run;
    bool fillsText = false;
    int64_t partial = kNoPartial;
    void (*prepare)() = nullptr;  // run before each run, outside the tally
    bool cold = false;            // loads a dictionary: the engine's cache is dropped around each run
};

// Unload the memo library, so that the next call that needs it loads it.
void forgetMemoLibrary() {
    if (!tovix::gProcess.memoLib) return;
    tovix::gPlatform->freeLibrary(tovix::gProcess.memoLib);
    tovix::gProcess.memoLib = nullptr;
}

int64_t openClose(const std::wstring &path) {
    BookHandle h = nullptr;
    int32_t r = ZAVOpenBook(path.c_str(), &h);
    if (r == ZAV_OPEN_OK) return ZAVCloseBook(h) == 1 ? 0 : -100;
    return r == ZAV_OPEN_BAD_FILE || r == ZAV_OPEN_NO_MEMORY ? ZAV_OPEN_BAD_FILE : -101;
}

std::vector<Call> moduleCalls() {
    const uint32_t text = kText, block = kBlock;
    auto w = [](const char *s) { return reinterpret_cast<intptr_t>(s); };
    auto t = [](char *s) { return reinterpret_cast<intptr_t>(s); };
    return {
        {"ZAVOpenBook+ZAVCloseBook plain", ZAV_OPEN_BAD_FILE,
         [](char *, unsigned char *) { return openClose(gBooks->plain.widePath); }},
        {"ZAVOpenBook+ZAVCloseBook dictionary", ZAV_OPEN_BAD_FILE,
         [](char *, unsigned char *) { return openClose(gBooks->dictionary.widePath); }},
        {"ZAVGetFileName", 0, [](char *s, unsigned char *) { return ZAVGetFileName(gBooks->p, s, kText); }, true},
        {"ZAVGetBkName", 0, [text](char *s, unsigned char *) { return ZAVGetBkName(gBooks->p, 3, s, text); }, true, 1},
        {"ZAVGetCaps", 0, [](char *, unsigned char *k) { return ZAVGetCaps(gBooks->p, k); }},
        {"ZAVGetDefCharAttr", 0, [](char *, unsigned char *k) { return ZAVGetDefCharAttr(gBooks->p, k); }},
        {"ZAVBookSerial", ZAV_SERIAL_FAILED,
         [](char *, unsigned char *) {
             uint32_t serial;
             return ZAVBookSerial(gBooks->p, &serial);
         }},
        {"ZAVExBookNoLength", 0, [](char *, unsigned char *) { return ZAVExBookNoLength(gBooks->p); }},
        {"ZAVExBookNo", 0, [](char *s, unsigned char *) { return ZAVExBookNo(gBooks->p, s, kText); }, true},
        {"ZAVGetLanguageCount", 0, [](char *, unsigned char *) { return ZAVGetLanguageCount(gBooks->p); }},
        {"ZAVGetLanguage", 0, [](char *, unsigned char *) { return ZAVGetLanguage(gBooks->p, 1); }},
        {"ZAVGetTableCount", 0, [](char *, unsigned char *) { return ZAVGetTableCount(gBooks->p); }},
        {"ZAVGetShelfLevel", 0, [](char *, unsigned char *) { return ZAVGetShelfLevel(gBooks->p); }},
        {"ZAVGetShelfLevelInfo", 0,
         [text](char *s, unsigned char *) {
             uint32_t v;
             return ZAVGetShelfLevelInfo(gBooks->p, 0, 1, &v, s, text);
         },
         true},
        {"ZAVGetBookPositionID", 0, [](char *, unsigned char *) { return ZAVGetBookPositionID(gBooks->p); }},
        {"ZAVGetPageCount", 0, [](char *, unsigned char *) { return ZAVGetPageCount(gBooks->p); }},
        {"ZAVGetPageSize", 0, [](char *, unsigned char *) { return ZAVGetPageSize(gBooks->p, 1); }},
        {"ZAVGetPage", 0, [block](char *, unsigned char *k) { return ZAVGetPage(gBooks->p, 1, k, block); }},
        {"ZAVGetTableLocal", 0, [](char *, unsigned char *) { return ZAVGetTableLocal(gBooks->p, 0); }},
        {"ZAVGetTableName", 0, [text](char *s, unsigned char *) { return ZAVGetTableName(gBooks->p, 0, 2, s, text); },
         true, 1},
        {"ZAVGetTableSimpleName", 0,
         [text](char *s, unsigned char *) { return ZAVGetTableSimpleName(gBooks->d, 0, 1, s, text); }, true},
        {"ZAVGetDictClass", 0, [](char *, unsigned char *) { return ZAVGetDictClass(gBooks->d, 0); }},
        {"ZAVGetSubCount", 0, [](char *, unsigned char *) { return ZAVGetSubCount(gBooks->p, 0); }},
        {"ZAVGetSubName", 0,
         [text](char *s, unsigned char *) {
             uint32_t v;
             return ZAVGetSubName(gBooks->p, 0, 0, &v, 1, s, text);
         },
         true},
        {"ZAVIsAddInApp", 0, [](char *, unsigned char *) { return ZAVIsAddInApp(gBooks->d, 0, 1); }},
        {"ZAVGetDictLevelInfo", 0, [](char *, unsigned char *k) { return ZAVGetDictLevelInfo(gBooks->d, 0, 0, k); }},
        {"ZAVGetTablePageCount", 0, [](char *, unsigned char *) { return ZAVGetTablePageCount(gBooks->d, 0); }},
        {"ZAVGetTablePageSize", 0, [](char *, unsigned char *) { return ZAVGetTablePageSize(gBooks->d, 0, 1); }},
        {"ZAVGetTablePage", 0,
         [block](char *, unsigned char *k) { return ZAVGetTablePage(gBooks->d, 0, 1, k, block); }},
        {"ZAVGetKeyCount", 0, [](char *, unsigned char *) { return ZAVGetKeyCount(gBooks->p, 0); }},
        {"ZAVGetKeyWordLength", 0, [](char *, unsigned char *) { return ZAVGetKeyWordLength(gBooks->p, 0, 1); }},
        {"ZAVGetKeyWord plain", 0, [](char *s, unsigned char *) { return ZAVGetKeyWord(gBooks->p, 0, 1, s, kText); },
         true},
        {"ZAVGetKeyWord dictionary", 0,
         [](char *s, unsigned char *) { return ZAVGetKeyWord(gBooks->d, 0, 1, s, kText); }, true},
        {"ZAVGetKeyPageNo", 0, [](char *, unsigned char *) { return ZAVGetKeyPageNo(gBooks->p, 0, 2); }},
        {"ZAVGetKeyPageOffset", 0, [](char *, unsigned char *) { return ZAVGetKeyPageOffset(gBooks->p, 0, 1); }},
        {"ZAVPageToKey", ZAV_NO_INDEX, [](char *, unsigned char *) { return ZAVPageToKey(gBooks->p, 0, 2); }},
        {"ZAVSearchKeyWord", 0, [](char *, unsigned char *) { return ZAVSearchKeyWord(gBooks->p, 0, "dog", 3); }},
        {"ZAVIsExistWord", 0, [](char *, unsigned char *) { return ZAVIsExistWord(gBooks->d, 0, "bank"); }},
        {"EBDVPGetCount", 0, [](char *, unsigned char *) { return EBDVPGetCount(gBooks->p, 0); }},
        {"EBDVPGetRootItem", 0, [](char *, unsigned char *) { return EBDVPGetRootItem(gBooks->p, 0); }},
        {"EBDVPItemHasChildren", 0,
         [](char *, unsigned char *) { return EBDVPItemHasChildren(gBooks->p, 0, gBooks->root); }},
        {"EBDVPGetChildItem", 0, [](char *, unsigned char *) { return EBDVPGetChildItem(gBooks->p, 0, gBooks->root); }},
        {"EBDVPGetNextSiblingItem", 0,
         [](char *, unsigned char *) { return EBDVPGetNextSiblingItem(gBooks->p, 0, gBooks->child); }},
        {"EBDVPGetItemText", 0,
         [text](char *s, unsigned char *) { return EBDVPGetItemText(gBooks->p, 0, gBooks->child, 1, s, text); }, true},
        {"EBDVPPageToItem", 0, [](char *, unsigned char *) { return EBDVPPageToItem(gBooks->p, 0, 1); }},
        {"EBDVPItemToPage", ZAV_NO_INDEX,
         [](char *, unsigned char *) { return EBDVPItemToPage(gBooks->p, 0, gBooks->sibling); }},
        {"EBDVPGetParentItem", 0,
         [](char *, unsigned char *) { return EBDVPGetParentItem(gBooks->p, 0, gBooks->sibling); }},
        {"EBDSCCorrection", 0,
         [w, t](char *, unsigned char *k) {
             return EBDSCCorrection(gBooks->d, 0, w("bnk"), t(reinterpret_cast<char *>(k)), 4);
         }},
        {"EBDSCVerify", 0, [w](char *, unsigned char *) { return EBDSCVerify(gBooks->d, 0, w("bank"), 0); }},
        {"EBDSCWildcard", 0,
         [w, t](char *s, unsigned char *) { return EBDSCWildcard(gBooks->d, 0, w("b*"), t(s), 8, kText); }, true},
        {"ZAVIsExistSubPage", 0,
         [](char *, unsigned char *) { return ZAVIsExistSubPage(gBooks->p, 0, MEMO_SUB_NUMBER, 0); }},
        {"ZAVGetSubPageSize", 0, [](char *, unsigned char *) { return ZAVGetSubPageSize(gBooks->d, 0, 1, 1); }},
        {"ZAVGetSubPage", 0,
         [block](char *, unsigned char *k) { return ZAVGetSubPage(gBooks->p, 0, MEMO_SUB_NUMBER, 0, k, block); }},
        {"ZAVGetSubPage, the memo library loaded first", 0,
         [block](char *, unsigned char *k) { return ZAVGetSubPage(gBooks->p, 0, MEMO_SUB_NUMBER, 0, k, block); }, false,
         kNoPartial, forgetMemoLibrary},
    };
}

// Calls that make a handle free it again within the run.
template <typename Use>
int64_t withWord(Use use) {
    uintptr_t h = dicCreateHDICT(kDictId);
    if (!h) return 0;
    uintptr_t word = dicSearchRecord(h, 1);
    int64_t r = word ? use(word) : 0;
    if (word) dicFreeHWORD(word);
    dicFreeHDICT(h);
    return r;
}

std::vector<Call> companionCalls() {
    const uint32_t block = kBlock;
    auto w = [](const char *s) { return reinterpret_cast<intptr_t>(s); };
    return {
        {"dicCreateHDICT+dicFreeHDICT", 0,
         [](char *, unsigned char *) -> int64_t {
             uintptr_t h = dicCreateHDICT(kDictId);
             return h ? dicFreeHDICT(h) : 0;
         }},
        {"dicGetWordCount", 0, [](char *, unsigned char *) -> int64_t { return dicGetWordCount(gBooks->hdict); }},
        {"dicSearchRecord+dicFreeHWORD", 0,
         [](char *, unsigned char *) -> int64_t {
             uintptr_t x = dicSearchRecord(gBooks->hdict, 2);
             return x ? dicFreeHWORD(x) : 0;
         }},
        {"dicSearchWord", 0,
         [](char *, unsigned char *) -> int64_t {
             uintptr_t x = dicSearchWord(gBooks->hdict, "bank");
             return x ? dicFreeHWORD(x) : 0;
         }},
        {"dicGetHandleInfo", 0,
         [](char *, unsigned char *) -> int64_t {
             uint32_t v;
             return dicGetHandleInfo(gBooks->hword, 1, &v);
         }},
        {"dicIsExistWord", 0,
         [](char *, unsigned char *) -> int64_t { return dicIsExistWord(gBooks->hdict, "zebra"); }},
        {"dicGetWordSize", 0, [](char *, unsigned char *) -> int64_t { return dicGetWordSize(gBooks->hword); }},
        {"dicGetWord", 0, [](char *s, unsigned char *) -> int64_t { return dicGetWord(gBooks->hword, s, kText); },
         true},
        {"dicIsExistContent", 0,
         [](char *, unsigned char *) -> int64_t { return dicIsExistContent(gBooks->hword, kDictId); }},
        {"dicGetContentSize", 0,
         [](char *, unsigned char *) -> int64_t { return dicGetContentSize(gBooks->hword, kDictId); }},
        {"dicGetContent", 0,
         [block](char *, unsigned char *k) -> int64_t { return dicGetContent(gBooks->hword, kDictId, k, block); }},
        {"words opened and freed through a dictionary", 0,
         [block](char *, unsigned char *k) {
             return withWord([&](uintptr_t x) { return dicGetContent(x, kDictId, k, block); });
         }},
        {"SCCreateHandleEx+SCFreeHandle", 0,
         [](char *, unsigned char *) -> int64_t {
             uintptr_t s = SCCreateHandleEx(kDictId);
             return s ? SCFreeHandle(s) : 0;
         }},
        {"SCCorrection", 0,
         [w](char *, unsigned char *k) -> int64_t {
             return SCCorrection(gBooks->spell, w("bnk"), reinterpret_cast<intptr_t>(k), 4);
         }},
        {"SCVerify", 0, [w](char *, unsigned char *) -> int64_t { return SCVerify(gBooks->spell, w("bank"), 0); }},
        {"SCWildcard", 0,
         [w](char *s, unsigned char *) -> int64_t {
             return SCWildcard(gBooks->spell, w("*a*"), reinterpret_cast<intptr_t>(s), 8, kText);
         },
         true},
        {"CBIGetMemoNumber", 0, [](char *, unsigned char *) -> int64_t { return CBIGetMemoNumber(gBooks->p, 0); }},
        {"CBIGetMemoHandle+CBIFreeMemoHandle", 0,
         [](char *, unsigned char *) -> int64_t {
             uintptr_t m = CBIGetMemoHandle(gBooks->p, 0, 0);
             return m ? CBIFreeMemoHandle(m) : 0;
         }},
        {"CBIGetMemoSize", 0, [](char *, unsigned char *) -> int64_t { return CBIGetMemoSize(gBooks->memo); }},
        {"CBIGetMemoContent", 0,
         [block](char *, unsigned char *k) -> int64_t { return CBIGetMemoContent(gBooks->memo, k, block); }},
    };
}

// The content contentId of `word`, through handles opened and freed here;
// -102 when its bytes are not `text`.
int64_t lookUp(uint32_t dictId, const char *word, uint32_t contentId, const std::string &text, unsigned char *block) {
    uintptr_t h = dicCreateHDICT(dictId);
    uintptr_t x = h ? dicSearchWord(h, word) : 0;
    int32_t n = x ? dicGetContent(x, contentId, block, kBlock) : 0;
    if (x) dicFreeHWORD(x);
    if (h) dicFreeHDICT(h);
    if (n == 0) return 0;
    return text == std::string(reinterpret_cast<char *>(block), static_cast<size_t>(n)) ? n : -102;
}

template <typename Use>
int64_t withSpell(uint32_t dictId, Use use) {
    uintptr_t s = SCCreateHandleEx(dictId);
    if (!s) return 0;
    int64_t r = use(s);
    SCFreeHandle(s);
    return r;
}

// Calls that load a dictionary of each kind the engine keeps: whole, by its
// index and word list, not at all (searched on its file), and one without words.
std::vector<Call> coldCalls() {
    auto w = [](const char *s) { return reinterpret_cast<intptr_t>(s); };
    auto cold = [](Call c) {
        c.cold = true;
        return c;
    };
    return {
        cold({"a word of a dictionary kept whole", 0,
              [](char *, unsigned char *k) { return lookUp(kDictId, "zebra", kDictId, "striped", k); }}),
        cold({"a dictionary without words", 0,
              [](char *, unsigned char *) -> int64_t {
                  uintptr_t h = dicCreateHDICT(kEmptyDictId);
                  int64_t r = h ? 1 + dicGetWordCount(h) : 0;
                  dicFreeHDICT(h);
                  return r;
              }}),
        cold({"a word of a dictionary whose index and word list are kept", 0,
              [](char *, unsigned char *k) {
                  uint32_t id = zozizid::subContentId(kListsDictId, kManyContents - 1);
                  return lookUp(kListsDictId, "bank", id, sense(kManyContents - 1), k);
              }}),
        cold({"a word of a dictionary searched on disk", 0,
              [](char *, unsigned char *k) {
                  uint32_t id = zozizid::subContentId(kDiskDictId, kManyContents - 1);
                  return lookUp(kDiskDictId, "bank", id, sense(kManyContents - 1), k);
              }}),
        cold({"dicIsExistWord on disk", 0,
              [](char *, unsigned char *) -> int64_t {
                  uintptr_t h = dicCreateHDICT(kDiskDictId);
                  int64_t r = h ? dicIsExistWord(h, "zebra") : 0;
                  dicFreeHDICT(h);
                  return r;
              }}),
        cold({"SCVerify on disk", 0,
              [w](char *, unsigned char *) {
                  return withSpell(kDiskDictId, [&](uintptr_t s) { return SCVerify(s, w("bank"), 0); });
              }}),
        cold({"SCCorrection on disk", 0,
              [w](char *, unsigned char *k) {
                  return withSpell(kDiskDictId, [&](uintptr_t s) {
                      return SCCorrection(s, w("bnk"), reinterpret_cast<intptr_t>(k), 4);
                  });
              }}),
    };
}

struct Tally {
    int64_t blocks, files, libraries;
    uint64_t foreign;
    int descriptors;
};

// Libraries count beyond the two the module keeps once loaded.
Tally tally() {
    FaultPlatform &f = FaultPlatform::instance();
    int64_t kept = (tovix::gProcess.engineLib ? 1 : 0) + (tovix::gProcess.memoLib ? 1 : 0);
    return {f.liveAllocations(), f.liveFiles(), f.liveLibraries() - kept, f.foreignReleases(),
            tovix::test::openDescriptorCount()};
}

// One run of a call under an armed fault: its result and what it left.
// Whether the fault fired; the faults are disarmed on return.
bool checkRun(const Call &call, int64_t expected, const char *what, uint64_t n) {
    FaultPlatform &f = FaultPlatform::instance();
    char text[kText], again[kText];
    unsigned char block[kBlock];
    memset(text, kUnwritten, sizeof text);
    if (call.prepare) call.prepare();
    if (call.cold) zozizid::dropResidentCache();
    Tally before = tally();
    int64_t r = call.run(text, block);
    bool fired = f.faultsFired() > 0;
    f.clearFaults();
    int64_t next = call.cold ? call.run(again, block) : expected;
    if (call.cold) zozizid::dropResidentCache();
    Tally after = tally();
    SCOPED_TRACE(std::string(call.name) + ", " + what + " " + std::to_string(n));
    EXPECT_TRUE(r == expected || r == call.failure || r == call.partial) << "returned " << r;
    EXPECT_EQ(next, expected) << "the next run without faults";
    if (call.fillsText && r == call.failure && text[0] != kUnwritten) {
        EXPECT_NE(memchr(text, 0, sizeof text), nullptr) << "a failure left an unterminated string";
    }
    EXPECT_EQ(after.blocks, before.blocks);
    EXPECT_EQ(after.files, before.files);
    EXPECT_EQ(after.libraries, before.libraries);
    EXPECT_EQ(after.foreign, before.foreign) << "a block released twice or not ours";
    EXPECT_EQ(after.descriptors, before.descriptors);
    return fired;
}

struct Sweep {
    Op op;
    FaultMode mode;
    const char *what;
};
const Sweep kSweeps[] = {
    {Op::Read, FaultMode::Once, "read fails once"},
    {Op::Read, FaultMode::Persistent, "read fails on"},
    {Op::Open, FaultMode::Once, "open fails once"},
    {Op::Open, FaultMode::Persistent, "open fails on"},
    {Op::Size, FaultMode::Once, "size fails once"},
    {Op::Alloc, FaultMode::Once, "allocation fails once"},
    {Op::Alloc, FaultMode::Persistent, "allocation fails on"},
    {Op::Load, FaultMode::Once, "library load fails once"},
    {Op::Load, FaultMode::Persistent, "library load fails on"},
    {Op::Symbol, FaultMode::Once, "entry-point lookup fails once"},
    {Op::Symbol, FaultMode::Persistent, "entry-point lookup fails on"},
};

// Caps the runs of one sweep: no call here makes more operations of a kind.
constexpr uint64_t kRunLimit = 400;

uint64_t gRuns = 0;  // runs in which a fault fired, over every call

// Run the call with the fault arm(n) arms, for n = 1, 2, ... until the call
// no longer reaches it.
void sweepPoints(const Call &call, int64_t expected, const char *what, const std::function<void(uint64_t)> &arm) {
    FaultPlatform &f = FaultPlatform::instance();
    for (uint64_t n = 1; n <= kRunLimit; ++n) {
        f.resetCounts();
        arm(n);
        if (!checkRun(call, expected, what, n)) break;
        ++gRuns;
    }
}

void sweepCall(const Call &call) {
    FaultPlatform &f = FaultPlatform::instance();
    f.reset();
    char text[kText];
    unsigned char block[kBlock];
    if (call.prepare) call.prepare();
    int64_t expected = call.run(text, block);
    ASSERT_NE(expected, call.failure) << call.name << " fails without faults";
    for (const Sweep &s : kSweeps)
        sweepPoints(call, expected, s.what, [&](uint64_t n) { f.failAt(s.op, n, s.mode == FaultMode::Persistent); });
    // Short reads deliver one byte of the file, so that a call reading into
    // the host's buffer has written something when it fails.
    sweepPoints(call, expected, "read comes back short", [&](uint64_t n) { f.shortReadAt(n, 1); });
}

class FaultSweep : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        gBooks = new Books;
        Books &b = *gBooks;
        b.plain = tovix::test::writeTempBook(plainBook());
        b.dictionary = tovix::test::writeTempBook(dictionaryBook());
        std::string error;
        const std::string folder = tovix::test::tempDirectory();
        using zozizid::subContentId;
        ASSERT_TRUE(zozizid::writeDictionary(folder + "/00010001.zzd", kDictId,
                                             {{"able", {{kDictId, "able: having the power"}}},
                                              {"bank@1", {{kDictId, "bank (1)"}, {subContentId(kDictId, 1), "river"}}},
                                              {"bank@2", {{kDictId, "bank (2)"}}},
                                              {"zebra", {{kDictId, "striped"}}}},
                                             &error))
            << error;
        // Past what is kept whole (64 MiB) by its records; past what is kept at
        // all (256 MiB) by its word list.
        using namespace zozizid::format;
        const std::string lists = zozizid::dictionaryPath(folder, kListsDictId);
        const std::string disk = zozizid::dictionaryPath(folder, kDiskDictId);
        ASSERT_TRUE(zozizid::writeDictionary(lists, kListsDictId, manyContents(kListsDictId), &error)) << error;
        ASSERT_TRUE(spread(lists, kOffRecordsOffset, kOffRecordsSize, (64u << 20) + 4096));
        ASSERT_TRUE(zozizid::writeDictionary(disk, kDiskDictId, manyContents(kDiskDictId), &error)) << error;
        ASSERT_TRUE(spread(disk, kOffWordsOffset, kOffWordsSize, (256u << 20) + 4096));
        ASSERT_TRUE(zozizid::writeDictionary(zozizid::dictionaryPath(folder, kEmptyDictId), kEmptyDictId, {}, &error))
            << error;
        ASSERT_TRUE(
            zavmemo::writeMemoFile(b.plain.path + ZAVMEMO_SIDECAR_SUFFIX, {{0, "first"}, {1, "second"}}, &error))
            << error;
        setenv(ZOZIZID_DICT_DIR_ENV, folder.c_str(), 1);
        gProgram = dlopen(nullptr, RTLD_NOW);
        FaultPlatform &f = FaultPlatform::instance();
        f.install();
        f.substituteLibrary("ZoZizID", gProgram);
        f.substituteLibrary("ZAVMemo", gProgram);
        tovix::moduleEntry(tovix::currentModuleInstance(), tovix::PROCESS_ATTACH, nullptr);
        ASSERT_EQ(ZAVOpenBook(b.plain.widePath.c_str(), &b.p), ZAV_OPEN_OK);
        ASSERT_EQ(ZAVOpenBook(b.dictionary.widePath.c_str(), &b.d), ZAV_OPEN_OK);
        b.root = EBDVPGetRootItem(b.p, 0);
        b.child = EBDVPGetChildItem(b.p, 0, b.root);
        b.sibling = EBDVPGetNextSiblingItem(b.p, 0, b.child);
        b.hdict = dicCreateHDICT(kDictId);
        b.hword = b.hdict ? dicSearchRecord(b.hdict, 1) : 0;
        b.spell = SCCreateHandleEx(kDictId);
        b.memo = CBIGetMemoHandle(b.p, 0, 0);
        ASSERT_TRUE(b.hdict && b.hword && b.spell && b.memo);
    }
    static void TearDownTestSuite() {
        printf("fault sweep: %llu runs with a fault\n", static_cast<unsigned long long>(gRuns));
        Books &b = *gBooks;
        CBIFreeMemoHandle(b.memo);
        SCFreeHandle(b.spell);
        dicFreeHWORD(b.hword);
        dicFreeHDICT(b.hdict);
        ZAVCloseBook(b.p);
        ZAVCloseBook(b.d);
        tovix::moduleEntry(tovix::currentModuleInstance(), tovix::PROCESS_DETACH, nullptr);
        FaultPlatform &f = FaultPlatform::instance();
        EXPECT_EQ(f.liveLibraries(), 0);
        EXPECT_EQ(f.liveFiles(), 0);
        f.substituteLibrary("ZoZizID", nullptr);
        f.substituteLibrary("ZAVMemo", nullptr);
        f.uninstall();
        dlclose(gProgram);
        delete gBooks;
        gBooks = nullptr;
    }
};

TEST_F(FaultSweep, EveryModuleCallFailsCleanly) {
    for (const Call &call : moduleCalls()) sweepCall(call);
}

TEST_F(FaultSweep, EveryEngineAndMemoCallFailsCleanly) {
    for (const Call &call : companionCalls()) sweepCall(call);
}

TEST_F(FaultSweep, EveryDictionaryFailsCleanlyWhileItLoadsAndOnDisk) {
    for (const Call &call : coldCalls()) sweepCall(call);
}

}  // namespace
