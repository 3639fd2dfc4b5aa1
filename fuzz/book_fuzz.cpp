// Fuzz target: a book image of any content, opened and queried through every
// family of exported calls. The image is served from memory through the
// platform table, so a run costs no file system work. The engine and memo
// libraries are absent, as on a device without them.
//
// Built as a libFuzzer target with clang (-DTOVIX_FUZZ=ON), and always as a
// replay program that runs the target on files and on deterministic
// mutations of them (book_fuzz_replay), which the test suite runs under the
// sanitizers.
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "TovixZAV_JC.h"
#include "book/process_state.h"
#include "platform/platform.h"

namespace {

const uint8_t *gImage = nullptr;
size_t gImageSize = 0;

tovix::NativeFile memoryOpen(const wchar_t *) { return 3; }

int64_t memoryReadAt(tovix::NativeFile, void *buffer, uint32_t n, uint32_t offset) {
    if (offset >= gImageSize) return 0;
    size_t available = gImageSize - offset;
    size_t count = n < available ? n : available;
    memcpy(buffer, gImage + offset, count);
    return static_cast<int64_t>(count);
}

bool memorySize(tovix::NativeFile, uint64_t *size) {
    *size = gImageSize;
    return true;
}

void memoryClose(tovix::NativeFile) {}
tovix::LibHandle noLibrary(const char *) { return nullptr; }

tovix::PlatformMethods makeTable() {
    tovix::PlatformMethods table = tovix::kNativePlatform;
    table.openRead = memoryOpen;
    table.readAt = memoryReadAt;
    table.fileSize = memorySize;
    table.close = memoryClose;
    table.loadLibrary = noLibrary;
    return table;
}

// Walk the tree from the root, visiting at most `budget` items.
void walkTree(BookHandle book, int32_t table, int32_t item, int depth, int *budget) {
    char text[256];
    for (; item > 0 && *budget > 0 && depth < 32; item = EBDVPGetNextSiblingItem(book, table, item)) {
        --*budget;
        EBDVPGetItemText(book, table, item, 0, text, sizeof text);
        EBDVPItemToPage(book, table, item);
        EBDVPGetParentItem(book, table, item);
        if (EBDVPItemHasChildren(book, table, item))
            walkTree(book, table, EBDVPGetChildItem(book, table, item), depth + 1, budget);
    }
}

void queryTable(BookHandle book, int32_t table) {
    char text[256];
    unsigned char block[256];
    uint32_t value = 0;
    ZAVGetTableLocal(book, table);
    ZAVGetTableName(book, table, 0, text, sizeof text);
    ZAVGetTableSimpleName(book, table, 2, text, 3);
    ZAVGetDictClass(book, table);
    int32_t subs = ZAVGetSubCount(book, table);
    for (int32_t i = 0; i < subs && i < 4; ++i) ZAVGetSubName(book, table, i, &value, 1, text, sizeof text);
    ZAVIsAddInApp(book, table, 0xFFFFFFFFu);
    ZAVGetDictLevelInfo(book, table, 0, block);

    int32_t pages = ZAVGetTablePageCount(book, table);
    for (uint32_t i = 0; i < 3 && static_cast<int32_t>(i) < pages; ++i) {
        ZAVGetTablePageSize(book, table, i);
        ZAVGetTablePage(book, table, i, block, sizeof block);
        ZAVPageToKey(book, table, i);
        EBDVPPageToItem(book, table, static_cast<int32_t>(i));
        ZAVIsExistSubPage(book, table, MEMO_SUB_NUMBER, i);
    }

    int32_t keys = ZAVGetKeyCount(book, table);
    uint32_t probe[] = {0, 1, static_cast<uint32_t>(keys) - 1, static_cast<uint32_t>(keys) / 2};
    for (uint32_t k : probe) {
        ZAVGetKeyWordLength(book, table, k);
        if (ZAVGetKeyWord(book, table, k, text, sizeof text)) {
        }
        ZAVGetKeyWord(book, table, k, text, 2);
        ZAVGetKeyPageNo(book, table, k);
        ZAVGetKeyPageOffset(book, table, k);
        ZAVSearchKeyWord(book, table, text, static_cast<int32_t>(strlen(text)));
        ZAVIsExistWord(book, table, text);
    }
    static const char *const kWords[] = {"a", "bank", "bank@1", "zz", "\xB0\xA1", "  x @2"};
    for (const char *w : kWords) {
        ZAVSearchKeyWord(book, table, w, static_cast<int32_t>(strlen(w)));
        ZAVIsExistWord(book, table, w);
    }

    EBDVPGetCount(book, table);
    int budget = 256;
    walkTree(book, table, EBDVPGetRootItem(book, table), 0, &budget);
    EBDSCVerify(book, table, 0, 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    static const tovix::PlatformMethods table = makeTable();
    static bool attached = false;
    if (!attached) {
        tovix::gPlatform = &table;
        tovix::moduleEntry(tovix::currentModuleInstance(), tovix::PROCESS_ATTACH, nullptr);
        attached = true;
    }
    gImage = data;
    gImageSize = size;

    BookHandle book = nullptr;
    if (ZAVOpenBook(L"fuzz.book", &book) != ZAV_OPEN_OK) return 0;

    char text[256];
    unsigned char block[84];
    uint32_t value = 0;
    ZAVGetFileName(book, text, sizeof text);
    ZAVGetBkName(book, 0, text, sizeof text);
    ZAVGetBkName(book, 3, text, 1);
    ZAVGetCaps(book, block);
    ZAVGetDefCharAttr(book, block);
    ZAVBookSerial(book, &value);
    ZAVExBookNoLength(book);
    ZAVExBookNo(book, text, sizeof text);
    int32_t languages = ZAVGetLanguageCount(book);
    for (int32_t i = 0; i < languages && i < 8; ++i) ZAVGetLanguage(book, i);
    int32_t levels = ZAVGetShelfLevel(book);
    for (int32_t i = 0; i < levels && i < 8; ++i) ZAVGetShelfLevelInfo(book, i, 0, &value, text, sizeof text);
    ZAVGetBookPositionID(book);

    int32_t pages = ZAVGetPageCount(book);
    for (int32_t i = 0; i < pages && i < 4; ++i) {
        ZAVGetPageSize(book, i);
        ZAVGetPage(book, i, text, sizeof text);
    }

    int32_t tables = ZAVGetTableCount(book);
    for (int32_t t = 0; t < tables && t < 4; ++t) queryTable(book, t);
    ZAVCloseBook(book);
    return 0;
}
