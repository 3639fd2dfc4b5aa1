// The dictionary entry points.
#include <string.h>

#include <new>

#include "ZoZizID.h"
#include "handles.h"

using namespace zozizid;

namespace {

uintptr_t newWordHandle(Dictionary *dict, uint32_t index) {
    WordHandle *w = os::heapNew<WordHandle>();
    if (!w) return 0;
    if (!readRecord(*dict, index, &w->record)) {
        os::heapDelete(w);
        return 0;
    }
    retain(dict);
    w->dict = dict;
    return reinterpret_cast<uintptr_t>(w);
}

}  // namespace

extern "C" {

ZOZIZID_API uintptr_t ZOZIZID_CALL dicCreateHDICT(uint32_t dictId) noexcept { return openHandle<DictHandle>(dictId); }

ZOZIZID_API int32_t ZOZIZID_CALL dicFreeHDICT(uintptr_t hdict) noexcept { return freeHandle(asDict(hdict)); }

ZOZIZID_API uint32_t ZOZIZID_CALL dicGetWordCount(uintptr_t hdict) noexcept {
    DictHandle *h = asDict(hdict);
    return h ? h->dict->wordCount : 0;
}

ZOZIZID_API uintptr_t ZOZIZID_CALL dicSearchRecord(uintptr_t hdict, uint32_t index) noexcept {
    DictHandle *h = asDict(hdict);
    if (!h || index >= h->dict->wordCount) return 0;
    return newWordHandle(h->dict, index);
}

ZOZIZID_API uintptr_t ZOZIZID_CALL dicSearchWord(uintptr_t hdict, const char *word) noexcept {
    DictHandle *h = asDict(hdict);
    uint32_t index = 0;
    if (!h || !word || !findWord(*h->dict, word, &index)) return 0;
    return newWordHandle(h->dict, index);
}

ZOZIZID_API int32_t ZOZIZID_CALL dicGetHandleInfo(uintptr_t handle, int32_t what, uint32_t *value) noexcept {
    WordHandle *w = asWord(handle);
    DictHandle *d = asDict(handle);
    if (!value) return 0;
    if (what == ZOZIZID_INFO_RECORD_INDEX && w) {
        *value = w->record.index;
        return 1;
    }
    if (what == ZOZIZID_INFO_MEMORY && (w || d)) {
        size_t bytes = (w ? w->dict : d->dict)->resident->bytes;
        // GCOVR_EXCL_BR_START: a resident holds at most the whole file (64 MiB) or its index and
        // words (256 MiB) besides its record and path, so the cap at 32 bits never applies today.
        *value = bytes > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(bytes);
        // GCOVR_EXCL_BR_STOP
        return 1;
    }
    return 0;
}

ZOZIZID_API int32_t ZOZIZID_CALL dicFreeHWORD(uintptr_t hword) noexcept {
    WordHandle *w = asWord(hword);
    if (!w) return 0;
    w->tag = kTagFreed;
    freeRecord(&w->record);
    release(w->dict);
    os::heapDelete(w);
    return 1;
}

ZOZIZID_API int32_t ZOZIZID_CALL dicIsExistWord(uintptr_t hdict, const char *word) noexcept {
    DictHandle *h = asDict(hdict);
    uint32_t index = 0;
    return h && word && findWord(*h->dict, word, &index) ? 1 : 0;
}

ZOZIZID_API int32_t ZOZIZID_CALL dicGetWordSize(uintptr_t hword) noexcept {
    WordHandle *w = asWord(hword);
    return w ? static_cast<int32_t>(w->record.wordLength) : 0;
}

ZOZIZID_API int32_t ZOZIZID_CALL dicGetWord(uintptr_t hword, char *buffer, int32_t length) noexcept {
    WordHandle *w = asWord(hword);
    if (!w || !buffer || length < 1) return 0;
    uint32_t n = w->record.wordLength;
    if (n > static_cast<uint32_t>(length - 1)) n = static_cast<uint32_t>(length - 1);
    memcpy(buffer, w->record.word, n);
    buffer[n] = 0;
    return static_cast<int32_t>(w->record.wordLength);
}

ZOZIZID_API int32_t ZOZIZID_CALL dicIsExistContent(uintptr_t hword, uint32_t contentId) noexcept {
    WordHandle *w = asWord(hword);
    return w && findContent(w->record, contentId) ? 1 : 0;
}

ZOZIZID_API int32_t ZOZIZID_CALL dicGetContentSize(uintptr_t hword, uint32_t contentId) noexcept {
    WordHandle *w = asWord(hword);
    const ContentEntry *c = w ? findContent(w->record, contentId) : nullptr;
    return c ? static_cast<int32_t>(c->length) : 0;
}

ZOZIZID_API int32_t ZOZIZID_CALL dicGetContent(uintptr_t hword, uint32_t contentId, void *buffer,
                                               uint32_t length) noexcept {
    WordHandle *w = asWord(hword);
    const ContentEntry *c = w ? findContent(w->record, contentId) : nullptr;
    if (!c || !buffer) return 0;
    uint32_t n = c->length < length ? c->length : length;
    if (n == 0 || !readBytes(*w->dict, c->offset, buffer, n)) return 0;
    return static_cast<int32_t>(n);
}

}  // extern "C"
