// Opening, closing and naming books.
#include <string.h>

#include "TovixZAV_JC.h"
#include "book_state.h"

using namespace tovix;

static_assert(KIND_DICTIONARY == BOOK_KIND_DICTIONARY && KIND_PLAIN == BOOK_KIND_PLAIN &&
                  KIND_PREFIXED == BOOK_KIND_PREFIXED,
              "the public kinds are the format's");

namespace {

void destroyBook(BookState *state) {
    // GCOVR_EXCL_BR_START: releaseSpell is set with every spellHandle
    if (state->spellHandle != 0 && state->releaseSpell) state->releaseSpell(state->spellFreeEntry, state->spellHandle);
    // GCOVR_EXCL_BR_STOP
    closeBookFile(&state->file);
    heapFree(state);
}

}  // namespace

extern "C" ZAV_API int32_t ZAV_CALL ZAVOpenBook(const wchar_t *path, BookHandle *out) noexcept {
    if (!path || !out) return ZAV_OPEN_BAD_FILE;
    char *ansi = static_cast<char *>(heapAlloc(BOOK_PATH_ANSI_LIMIT));
    if (!ansi) return ZAV_OPEN_NO_MEMORY;
    // A path whose ANSI form needs more than 256 bytes is kept as "".
    wideToAnsi(path, ansi, BOOK_PATH_ANSI_LIMIT);
    auto *state = static_cast<BookState *>(heapAllocZeroed(sizeof(BookState)));
    if (!state) {
        heapFree(ansi);
        return ZAV_OPEN_NO_MEMORY;
    }
    memcpy(state->path, ansi, strlen(ansi) + 1);
    heapFree(ansi);

    state->file.native = kInvalidFile;
    int32_t result = ZAV_OPEN_OK;
    BookHeader header;
    if (!openBookFile(path, &state->file) || !readHeader(&state->file, &header) ||
        header.field(HDR_MAGIC) != BOOK_MAGIC) {
        result = ZAV_OPEN_BAD_FILE;
    } else {
        state->kind = header.field(HDR_KIND);
        if (!isBookKind(state->kind) || header.field(HDR_VERSION) > BOOK_MAX_VERSION) result = ZAV_OPEN_BAD_KIND;
    }
    if (result != ZAV_OPEN_OK) {
        destroyBook(state);
        return result;
    }
    *out = state;
    return ZAV_OPEN_OK;
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVCloseBook(BookHandle book) noexcept {
    if (book) destroyBook(book);
    return 1;
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetFileName(BookHandle book, char *buffer, int32_t length) noexcept {
    if (!book) return 0;
    int32_t n = static_cast<int32_t>(strnlen(book->path, sizeof book->path - 1));
    if (n < length && buffer) memcpy(buffer, book->path, static_cast<size_t>(n) + 1);
    return n;
}
