// Forwarding functions to the memo library (ZAVMemo), which the module loads
// on first need from its own folder. Each returns 0 when the library cannot
// be loaded (the load is tried again at the next call) or lacks the entry
// point.
#ifndef TOVIX_MEMO_H
#define TOVIX_MEMO_H

#include <stdint.h>

#include "TovixZAV_JC.h"
#include "ZAVMemo.h"
#include "forward.h"

namespace tovix {
namespace memo {

// Load the memo library from the module's folder unless it is loaded.
bool loadMemoLibrary();

// The memo library's entry point `name`, or null.
void *memoSymbol(const char *name);

// memo::name(...) calls the memo library's entry point `name`.
TOVIX_FORWARD(memoSymbol, CBIGetMemoNumber)
TOVIX_FORWARD(memoSymbol, CBIGetMemoHandle)
TOVIX_FORWARD(memoSymbol, CBIGetMemoSize)
TOVIX_FORWARD(memoSymbol, CBIGetMemoContent)
TOVIX_FORWARD(memoSymbol, CBIFreeMemoHandle)

}  // namespace memo
}  // namespace tovix

#endif
