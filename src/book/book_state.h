// The record behind a BookHandle.
#ifndef TOVIX_BOOK_STATE_H
#define TOVIX_BOOK_STATE_H

#include <stdint.h>

#include "reader.h"

// Declared opaque in the public header; defined here.
struct ZAVBookState {
    tovix::BookFile file;   // the open book; native kInvalidFile when the open failed
    uint32_t kind;          // the header's kind, copied at open
    uintptr_t spellHandle;  // the engine's spell handle; 0 until first made
    // Frees spellHandle through freeEntry; both set by whoever made it (the
    // entry found before the handle was made), so that closing a book needs
    // to know nothing of the engine.
    void (*releaseSpell)(void *freeEntry, uintptr_t spellHandle);
    void *spellFreeEntry;
    char path[260];  // the path in the ANSI code page, NUL-terminated
};

namespace tovix {
using BookState = ZAVBookState;
constexpr uint32_t BOOK_PATH_ANSI_LIMIT = 256;  // converted path, terminator included
}  // namespace tovix

#endif
