// Process-wide state of the module: one set per process, all zero at load.
#ifndef TOVIX_PROCESS_STATE_H
#define TOVIX_PROCESS_STATE_H

#include <stdint.h>

#include "tovix/platform.h"

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

// The language the module picks when the host asks for language 0: the
// DefaultLocale setting when it is 2 to 5, else the one that belongs to the
// device's ANSI code page (932 -> 4, 936 -> 2, 949 -> 5, 950 -> 3, else 1).
int32_t chooseLanguage();
// The host's language, with 0 resolved.
inline int32_t wantedLanguage(int32_t host) { return host == 0 ? chooseLanguage() : host; }

// The module's entry routine, run by the platform at load (PROCESS_ATTACH)
// and unload (PROCESS_DETACH). Always returns 1.
int32_t moduleEntry(ModuleInstance instance, uint32_t reason, void *reserved);

}  // namespace tovix

#endif
