// Process-wide state of the module: one set per process, all zero at load.
#ifndef TOVIX_PROCESS_STATE_H
#define TOVIX_PROCESS_STATE_H

#include <stdint.h>

#include "../platform/platform.h"

namespace tovix {

struct ProcessState {
    LibHandle engineLib;            // the dictionary engine, loaded at process attach
    ModuleInstance moduleInstance;  // this module, recorded at process attach
    uint32_t defaultLocale;         // the DefaultLocale setting; 0 = not configured
    LibHandle memoLib;              // the memo library, loaded on first need
};

extern ProcessState gProcess;

enum EntryReason : uint32_t {
    PROCESS_DETACH = 0,
    PROCESS_ATTACH = 1,
    THREAD_ATTACH = 2,
    THREAD_DETACH = 3,
};

// The module's entry routine, run by the platform at load (PROCESS_ATTACH)
// and unload (PROCESS_DETACH). Always returns 1.
int32_t moduleEntry(ModuleInstance instance, uint32_t reason, void *reserved);

}  // namespace tovix

#endif
