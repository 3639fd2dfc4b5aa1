#include "engine.h"

#include "../book/process_state.h"
#include "TovixZAV_JC.h"

namespace tovix {
namespace engine {

namespace {

// The entry point `name` of the engine as a pointer of type Fn, or null.
template <typename Fn>
Fn entry(const char *name) {
    if (!gProcess.engineLib) return nullptr;
    return reinterpret_cast<Fn>(gPlatform->findSymbol(gProcess.engineLib, name));
}

}  // namespace

#define ZAV_ENGINE_FORWARD(Ret, name, params, args)                  \
    Ret name params {                                               \
        using Fn = Ret(ZAV_CALL *) params;                   \
        Fn fn = entry<Fn>(#name);                                   \
        return fn ? fn args : 0;                                    \
    }

ZAV_ENGINE_FORWARD(uintptr_t, dicCreateHDICT, (uint32_t dictId), (dictId))
ZAV_ENGINE_FORWARD(int32_t, dicFreeHDICT, (uintptr_t hdict), (hdict))
ZAV_ENGINE_FORWARD(uint32_t, dicGetWordCount, (uintptr_t hdict), (hdict))
ZAV_ENGINE_FORWARD(uintptr_t, dicSearchRecord, (uintptr_t hdict, uint32_t index), (hdict, index))
ZAV_ENGINE_FORWARD(uintptr_t, dicSearchWord, (uintptr_t hdict, const char *word), (hdict, word))
ZAV_ENGINE_FORWARD(int32_t, dicGetHandleInfo, (uintptr_t hword, int32_t what, uint32_t *value), (hword, what, value))
ZAV_ENGINE_FORWARD(int32_t, dicFreeHWORD, (uintptr_t hword), (hword))
ZAV_ENGINE_FORWARD(int32_t, dicIsExistWord, (uintptr_t hdict, const char *word), (hdict, word))
ZAV_ENGINE_FORWARD(int32_t, dicGetWordSize, (uintptr_t hword), (hword))
ZAV_ENGINE_FORWARD(int32_t, dicGetWord, (uintptr_t hword, char *buffer, int32_t length), (hword, buffer, length))
ZAV_ENGINE_FORWARD(int32_t, dicIsExistContent, (uintptr_t hword, uint32_t contentId), (hword, contentId))
ZAV_ENGINE_FORWARD(int32_t, dicGetContentSize, (uintptr_t hword, uint32_t contentId), (hword, contentId))
ZAV_ENGINE_FORWARD(int32_t, dicGetContent, (uintptr_t hword, uint32_t contentId, void *buffer, uint32_t length),
                   (hword, contentId, buffer, length))
ZAV_ENGINE_FORWARD(uintptr_t, SCCreateHandleEx, (uint32_t dictId), (dictId))
ZAV_ENGINE_FORWARD(int32_t, SCFreeHandle, (uintptr_t spell), (spell))
ZAV_ENGINE_FORWARD(int32_t, SCCorrection, (uintptr_t spell, intptr_t w, intptr_t x, uint8_t y), (spell, w, x, y))
ZAV_ENGINE_FORWARD(int32_t, SCVerify, (uintptr_t spell, intptr_t w, intptr_t x), (spell, w, x))
ZAV_ENGINE_FORWARD(int32_t, SCWildcard, (uintptr_t spell, intptr_t w, intptr_t x, uint8_t y, intptr_t z),
                   (spell, w, x, y, z))

#undef ZAV_ENGINE_FORWARD

void EngineRecord::close() {
    if (hword) {
        dicFreeHWORD(hword);
        hword = 0;
    }
    if (hdict) {
        dicFreeHDICT(hdict);
        hdict = 0;
    }
}

bool EngineRecord::openDictionary(uint32_t dictId) {
    close();
    hdict = dicCreateHDICT(dictId);
    return hdict != 0;
}

bool EngineRecord::openRecord(uint32_t dictId, uint32_t index) {
    if (!openDictionary(dictId)) return false;
    if (index >= dicGetWordCount(hdict)) {
        close();
        return false;
    }
    hword = dicSearchRecord(hdict, index);
    if (!hword) {
        close();
        return false;
    }
    return true;
}

}  // namespace engine
}  // namespace tovix
