#include "engine.h"

#include "../book/process_state.h"

namespace tovix {
namespace engine {

void *engineSymbol(const char *name) {
    if (!gProcess.engineLib) return nullptr;
    return gPlatform->findSymbol(gProcess.engineLib, name);
}

void EngineRecord::close() {
    if (hword) {
        callEntry<decltype(&::dicFreeHWORD)>(freeWord, hword);
        hword = 0;
    }
    if (hdict) {
        callEntry<decltype(&::dicFreeHDICT)>(freeDict, hdict);
        hdict = 0;
    }
}

bool EngineRecord::openDictionary(uint32_t dictId) {
    close();
    // Both free entry points, for the dictionary and for any word record
    // opened in it later.
    freeDict = engineSymbol("dicFreeHDICT");
    freeWord = engineSymbol("dicFreeHWORD");
    if (!freeDict || !freeWord) return false;
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
