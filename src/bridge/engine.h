// Forwarding functions to the dictionary engine library (ZoZizID). Each one
// looks its entry point up by name at every call and returns 0 when the
// engine library is not loaded or lacks the entry point. Handles are
// pointer-sized; 0 means none.
#ifndef TOVIX_ENGINE_H
#define TOVIX_ENGINE_H

#include <stdint.h>

#include <utility>

#include "ZoZizID.h"

namespace tovix {
namespace engine {

// The engine's entry point `name`, or null.
void *engineSymbol(const char *name);

// Call the engine's entry point `name`, of the type its public header gives;
// 0 when it cannot be had.
template <typename Fn, typename... A>
auto call(const char *name, A... args) -> decltype(std::declval<Fn>()(args...)) {
    Fn fn = reinterpret_cast<Fn>(engineSymbol(name));
    return fn ? fn(args...) : 0;
}

// engine::name(...) forwards to the entry point `name` of the public header.
#define TOVIX_ENGINE_FORWARD(name)                                 \
    template <typename... A>                                      \
    inline auto name(A... args) {                                 \
        return call<decltype(&::name)>(#name, args...);           \
    }
TOVIX_ENGINE_FORWARD(dicCreateHDICT)
TOVIX_ENGINE_FORWARD(dicFreeHDICT)
TOVIX_ENGINE_FORWARD(dicGetWordCount)
TOVIX_ENGINE_FORWARD(dicSearchRecord)
TOVIX_ENGINE_FORWARD(dicSearchWord)
TOVIX_ENGINE_FORWARD(dicGetHandleInfo)
TOVIX_ENGINE_FORWARD(dicFreeHWORD)
TOVIX_ENGINE_FORWARD(dicIsExistWord)
TOVIX_ENGINE_FORWARD(dicGetWordSize)
TOVIX_ENGINE_FORWARD(dicGetWord)
TOVIX_ENGINE_FORWARD(dicIsExistContent)
TOVIX_ENGINE_FORWARD(dicGetContentSize)
TOVIX_ENGINE_FORWARD(dicGetContent)
TOVIX_ENGINE_FORWARD(SCCreateHandleEx)
TOVIX_ENGINE_FORWARD(SCFreeHandle)
TOVIX_ENGINE_FORWARD(SCCorrection)
TOVIX_ENGINE_FORWARD(SCVerify)
TOVIX_ENGINE_FORWARD(SCWildcard)
#undef TOVIX_ENGINE_FORWARD

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
