#include "memo.h"

#include "../book/process_state.h"

namespace tovix {
namespace memo {

bool loadMemoLibrary() {
    if (gProcess.memoLib) return true;
    char path[kLibraryPathBytes];
    if (!siblingLibraryPath(gProcess.moduleInstance, "ZAVMemo", path, sizeof path)) return false;
    gProcess.memoLib = gPlatform->loadLibrary(path);
    return gProcess.memoLib != nullptr;
}

void *memoSymbol(const char *name) {
    if (!loadMemoLibrary()) return nullptr;
    return gPlatform->findSymbol(gProcess.memoLib, name);
}

}  // namespace memo
}  // namespace tovix
