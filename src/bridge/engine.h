// Forwarding functions to the dictionary engine library (ZoZizID). Each one
// looks its entry point up by name at every call and returns 0 when the
// engine library is not loaded or lacks the entry point. Handles are
// pointer-sized; 0 means none.
#ifndef TOVIX_ENGINE_H
#define TOVIX_ENGINE_H

#include <stdint.h>

#include "ZoZizID.h"
#include "forward.h"

namespace tovix {
namespace engine {

// The engine's entry point `name`, or null.
void *engineSymbol(const char *name);

// engine::name(...) calls the engine's entry point `name`.
TOVIX_FORWARD(engineSymbol, dicCreateHDICT)
TOVIX_FORWARD(engineSymbol, dicFreeHDICT)
TOVIX_FORWARD(engineSymbol, dicGetWordCount)
TOVIX_FORWARD(engineSymbol, dicSearchRecord)
TOVIX_FORWARD(engineSymbol, dicSearchWord)
TOVIX_FORWARD(engineSymbol, dicGetHandleInfo)
TOVIX_FORWARD(engineSymbol, dicFreeHWORD)
TOVIX_FORWARD(engineSymbol, dicIsExistWord)
TOVIX_FORWARD(engineSymbol, dicGetWordSize)
TOVIX_FORWARD(engineSymbol, dicGetWord)
TOVIX_FORWARD(engineSymbol, dicIsExistContent)
TOVIX_FORWARD(engineSymbol, dicGetContentSize)
TOVIX_FORWARD(engineSymbol, dicGetContent)
TOVIX_FORWARD(engineSymbol, SCCreateHandleEx)
TOVIX_FORWARD(engineSymbol, SCFreeHandle)
TOVIX_FORWARD(engineSymbol, SCCorrection)
TOVIX_FORWARD(engineSymbol, SCVerify)
TOVIX_FORWARD(engineSymbol, SCWildcard)

// A dictionary handle and, optionally, one of its word records, opened for
// the length of one exported call. close() frees the word handle first, then
// the dictionary handle; the destructor calls it, so every path frees both.
// The entry points that free the handles are found when the dictionary is
// opened, before any handle is made, and kept: a handle is made only when it
// can be freed.
struct EngineRecord {
    uintptr_t hdict = 0;
    uintptr_t hword = 0;
    void *freeDict = nullptr;  // dicFreeHDICT
    void *freeWord = nullptr;  // dicFreeHWORD
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
