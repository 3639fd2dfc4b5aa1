// Spell checking on the tables of dictionary books, done by the dictionary
// engine's spell checker. The book keeps one engine spell handle, made on the
// first call that gets that far, from the dictionary of that call's table;
// closing the book releases it.
#include "../book/book_state.h"
#include "TovixZAV_JC.h"
#include "engine.h"

using namespace tovix;

namespace {

void releaseSpellHandle(void *freeEntry, uintptr_t spell) { callEntry<decltype(&::SCFreeHandle)>(freeEntry, spell); }

// The book's spell handle for a call on `table`, or 0 when the call is
// refused: not a dictionary book (tested before any file access), an
// unreadable table record, a table that may not spell-check, or a handle the
// engine cannot make (tried again at the next call).
uintptr_t spellHandleFor(BookHandle book, int32_t table) {
    if (!book || book->kind != KIND_DICTIONARY) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    uint32_t dictId = record.field(TBL_DICT_ID);
    if (!isSpellCapable(dictId)) return 0;
    if (book->spellHandle == 0) {
        // The entry point that frees the handle is found first: a handle is
        // made only when it can be freed.
        void *freeEntry = engine::engineSymbol("SCFreeHandle");
        if (!freeEntry) return 0;
        book->spellHandle = engine::SCCreateHandleEx(dictId);
        book->releaseSpell = releaseSpellHandle;
        book->spellFreeEntry = freeEntry;
    }
    return book->spellHandle;
}

}  // namespace

extern "C" ZAV_API int32_t ZAV_CALL EBDSCCorrection(BookHandle book, int32_t table, intptr_t w, intptr_t x,
                                                    uint32_t y) noexcept {
    uintptr_t spell = spellHandleFor(book, table);
    return spell ? engine::SCCorrection(spell, w, x, static_cast<uint8_t>(y & 0xFFu)) : 0;
}

extern "C" ZAV_API int32_t ZAV_CALL EBDSCVerify(BookHandle book, int32_t table, intptr_t w, intptr_t x) noexcept {
    uintptr_t spell = spellHandleFor(book, table);
    return spell ? engine::SCVerify(spell, w, x) : 0;
}

extern "C" ZAV_API int32_t ZAV_CALL EBDSCWildcard(BookHandle book, int32_t table, intptr_t w, intptr_t x, uint32_t y,
                                                  intptr_t z) noexcept {
    uintptr_t spell = spellHandleFor(book, table);
    return spell ? engine::SCWildcard(spell, w, x, static_cast<uint8_t>(y & 0xFFu), z) : 0;
}
