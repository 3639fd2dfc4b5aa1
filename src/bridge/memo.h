// Forwarding functions to the memo library (ZAVMemo), which the module loads
// on first need from its own folder. Each returns 0 when the library cannot
// be loaded (the load is tried again at the next call) or lacks the entry
// point.
#ifndef TOVIX_MEMO_H
#define TOVIX_MEMO_H

#include <stdint.h>

#include "TovixZAV_JC.h"

namespace tovix {
namespace memo {

// Load the memo library from the module's folder unless it is loaded.
bool loadMemoLibrary();

int32_t CBIGetMemoNumber(BookHandle book, uint32_t page);
uintptr_t CBIGetMemoHandle(BookHandle book, uint32_t page, int32_t reserved);
int32_t CBIGetMemoSize(uintptr_t memo);
int32_t CBIGetMemoContent(uintptr_t memo, void *buffer, uint32_t length);
int32_t CBIFreeMemoHandle(uintptr_t memo);

}  // namespace memo
}  // namespace tovix

#endif
