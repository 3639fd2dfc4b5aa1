// Runs the module's entry routine when the shared library is loaded and
// unloaded. Only the shared library holds this file; tests that link the core
// statically run the entry routine themselves.
#include "process_state.h"

namespace {

__attribute__((constructor)) void tovixLoad() {
    tovix::moduleEntry(tovix::currentModuleInstance(), tovix::PROCESS_ATTACH, nullptr);
}

__attribute__((destructor)) void tovixUnload() {
    tovix::moduleEntry(tovix::currentModuleInstance(), tovix::PROCESS_DETACH, nullptr);
}

}  // namespace
