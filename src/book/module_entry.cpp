#include "process_state.h"

namespace tovix {

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
    if (reason == PROCESS_ATTACH) processAttach(instance);
    else if (reason == PROCESS_DETACH) processDetach();
    return 1;
}

}  // namespace tovix
