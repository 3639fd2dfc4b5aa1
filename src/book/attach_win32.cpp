// The DLL entry routine of TovixZAV_JC.dll: hands process attach and detach
// to the module's entry routine. Only the DLL holds this file; tests that link
// the core statically run the entry routine themselves.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include "process_state.h"

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID reserved) {
    // A detach with `reserved` set means the whole process is ending: other
    // DLLs may already be gone, so the engine and memo libraries are not
    // released then; the system reclaims everything. A FreeLibrary of the
    // module (reserved null) releases them as usual.
    if (reason == DLL_PROCESS_DETACH && reserved != nullptr) return TRUE;
    tovix::moduleEntry(static_cast<tovix::ModuleInstance>(instance), reason, reserved);
    return TRUE;
}
