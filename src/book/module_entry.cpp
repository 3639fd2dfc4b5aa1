#include "process_state.h"

#include "tovix/format.h"

namespace tovix {

int32_t chooseLanguage() {
    uint32_t setting = gProcess.defaultLocale;
    if (setting > LANG_BASE && setting <= LANG_LAST) return static_cast<int32_t>(setting);
    switch (ansiCodePage()) {
        case 932: return LANG_CP932;
        case 936: return LANG_CP936;
        case 949: return LANG_CP949;
        case 950: return LANG_CP950;
        default: return LANG_BASE;
    }
}

ProcessState gProcess = {nullptr, nullptr, 0, nullptr};

namespace {

void processAttach(ModuleInstance instance) {
    gProcess.moduleInstance = instance;
    char name[64];
    libraryFileName("ZoZizID", name, sizeof name);
    gProcess.engineLib = gPlatform->loadLibrary(name);
    gProcess.defaultLocale = 0;
    uint32_t value = 0;
    if (readDefaultLocale(&value)) gProcess.defaultLocale = value;
}

void processDetach() {
    if (gProcess.engineLib) {
        gPlatform->freeLibrary(gProcess.engineLib);
        gProcess.engineLib = nullptr;
    }
    if (gProcess.memoLib) {
        gPlatform->freeLibrary(gProcess.memoLib);
        gProcess.memoLib = nullptr;
    }
}

}  // namespace

int32_t moduleEntry(ModuleInstance instance, uint32_t reason, void *) {
    if (reason == PROCESS_ATTACH)
        processAttach(instance);
    else if (reason == PROCESS_DETACH)
        processDetach();
    return 1;
}

}  // namespace tovix
