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

namespace {

template <typename Fn>
Fn entry(const char *name) {
    if (!loadMemoLibrary()) return nullptr;
    return reinterpret_cast<Fn>(gPlatform->findSymbol(gProcess.memoLib, name));
}

}  // namespace

#define ZAV_MEMO_FORWARD(Ret, name, params, args)  \
    Ret name params {                             \
        using Fn = Ret(ZAV_CALL *) params;        \
        Fn fn = entry<Fn>(#name);                 \
        return fn ? fn args : 0;                  \
    }

ZAV_MEMO_FORWARD(int32_t, CBIGetMemoNumber, (BookHandle book, uint32_t page), (book, page))
ZAV_MEMO_FORWARD(uintptr_t, CBIGetMemoHandle, (BookHandle book, uint32_t page, int32_t reserved), (book, page, reserved))
ZAV_MEMO_FORWARD(int32_t, CBIGetMemoSize, (uintptr_t memo), (memo))
ZAV_MEMO_FORWARD(int32_t, CBIGetMemoContent, (uintptr_t memo, void *buffer, uint32_t length), (memo, buffer, length))
ZAV_MEMO_FORWARD(int32_t, CBIFreeMemoHandle, (uintptr_t memo), (memo))

#undef ZAV_MEMO_FORWARD

}  // namespace memo
}  // namespace tovix
