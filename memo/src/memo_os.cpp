#include "memo_os.h"

namespace zavmemo {
namespace os {

size_t bookPath(BookHandle book, char *out, size_t capacity) {
    // The book module's exported ZAVGetFileName, with the calling convention
    // of every exported call (the one ZAVMemo.h's own calls have).
    using GetFileName = int32_t(ZAVMEMO_CALL *)(BookHandle book, char *buffer, int32_t length) noexcept;
    if (!book) return 0;
    // The one caller passes a fixed buffer of about 1 KiB: the bounds guard a later caller.
    if (capacity < 2 || capacity > 0x7FFFFFFF) return 0;  // GCOVR_EXCL_BR_LINE: capacity is a constant in range
    // The module that loaded this library stays loaded while it calls it.
    auto getFileName = reinterpret_cast<GetFileName>(tovix::findLoadedSymbol("TovixZAV_JC", "ZAVGetFileName"));
    if (!getFileName) return 0;
    int32_t n = getFileName(book, out, static_cast<int32_t>(capacity));
    return n > 0 && static_cast<size_t>(n) < capacity ? static_cast<size_t>(n) : 0;
}

}  // namespace os
}  // namespace zavmemo
