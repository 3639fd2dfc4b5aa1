// Forwarding functions to the dictionary engine library (ZoZizID). Each one
// looks its entry point up by name at every call and returns 0 when the
// engine library is not loaded or lacks the entry point. Handles are
// pointer-sized; 0 means none.
#ifndef TOVIX_ENGINE_H
#define TOVIX_ENGINE_H

#include <stdint.h>

namespace tovix {
namespace engine {

uintptr_t dicCreateHDICT(uint32_t dictId);
int32_t dicFreeHDICT(uintptr_t hdict);
uint32_t dicGetWordCount(uintptr_t hdict);
uintptr_t dicSearchRecord(uintptr_t hdict, uint32_t index);
uintptr_t dicSearchWord(uintptr_t hdict, const char *word);
int32_t dicGetHandleInfo(uintptr_t hword, int32_t what, uint32_t *value);
int32_t dicFreeHWORD(uintptr_t hword);
int32_t dicIsExistWord(uintptr_t hdict, const char *word);
int32_t dicGetWordSize(uintptr_t hword);
int32_t dicGetWord(uintptr_t hword, char *buffer, int32_t length);
int32_t dicIsExistContent(uintptr_t hword, uint32_t contentId);
int32_t dicGetContentSize(uintptr_t hword, uint32_t contentId);
int32_t dicGetContent(uintptr_t hword, uint32_t contentId, void *buffer, uint32_t length);
uintptr_t SCCreateHandleEx(uint32_t dictId);
int32_t SCFreeHandle(uintptr_t spell);
int32_t SCCorrection(uintptr_t spell, intptr_t w, intptr_t x, uint8_t y);
int32_t SCVerify(uintptr_t spell, intptr_t w, intptr_t x);
int32_t SCWildcard(uintptr_t spell, intptr_t w, intptr_t x, uint8_t y, intptr_t z);

// A dictionary handle and, optionally, one of its word records, opened for
// the length of one exported call. close() frees the word handle first, then
// the dictionary handle; the destructor calls it, so every path frees both.
struct EngineRecord {
    uintptr_t hdict = 0;
    uintptr_t hword = 0;
    EngineRecord() = default;
    EngineRecord(const EngineRecord &) = delete;
    EngineRecord &operator=(const EngineRecord &) = delete;
    ~EngineRecord() { close(); }
    void close();
    // Open dictionary dictId; false when the engine cannot.
    bool openDictionary(uint32_t dictId);
    // Open dictionary dictId and its record `index` (below the word count).
    bool openRecord(uint32_t dictId, uint32_t index);
};

// The contentId of sub page `sub` of a record of dictionary dictId:
// dictId | (((sub & 0x7F) | 0x80) << 24).
inline uint32_t subPageContentId(uint32_t dictId, int32_t sub) {
    return dictId | (((static_cast<uint32_t>(sub) & 0x7Fu) | 0x80u) << 24);
}

}  // namespace engine
}  // namespace tovix

#endif
