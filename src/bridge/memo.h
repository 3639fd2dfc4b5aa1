// Forwarding functions to the memo library (ZAVMemo), which the module loads
// on first need from its own folder. Each returns 0 when the library cannot
// be loaded (the load is tried again at the next call) or lacks the entry
// point.
#ifndef TOVIX_MEMO_H
#define TOVIX_MEMO_H

#include <stdint.h>

#include <utility>

#include "TovixZAV_JC.h"
#include "ZAVMemo.h"

namespace tovix {
namespace memo {

// Load the memo library from the module's folder unless it is loaded.
bool loadMemoLibrary();

// The memo library's entry point `name`, or null.
void *memoSymbol(const char *name);

template <typename Fn, typename... A>
auto call(const char *name, A... args) -> decltype(std::declval<Fn>()(args...)) {
    Fn fn = reinterpret_cast<Fn>(memoSymbol(name));
    return fn ? fn(args...) : 0;
}

// memo::name(...) forwards to the entry point `name` of the public header.
#define TOVIX_MEMO_FORWARD(name)                                   \
    template <typename... A>                                      \
    inline auto name(A... args) {                                 \
        return call<decltype(&::name)>(#name, args...);           \
    }
TOVIX_MEMO_FORWARD(CBIGetMemoNumber)
TOVIX_MEMO_FORWARD(CBIGetMemoHandle)
TOVIX_MEMO_FORWARD(CBIGetMemoSize)
TOVIX_MEMO_FORWARD(CBIGetMemoContent)
TOVIX_MEMO_FORWARD(CBIFreeMemoHandle)
#undef TOVIX_MEMO_FORWARD

}  // namespace memo
}  // namespace tovix

#endif
