#include <windows.h>

#include "memo_os.h"

namespace zavmemo {
namespace os {

size_t bookPath(BookHandle book, char *out, size_t capacity) {
    using GetFileName = int32_t(ZAVMEMO_CALL *)(BookHandle, char *, int32_t);
    if (!book || capacity < 2 || capacity > 0x7FFFFFFF) return 0;
    // The module already loaded in the process (no reference is taken);
    // failing that, one linked into the program itself.
    FARPROC symbol = nullptr;
    if (HMODULE module = GetModuleHandleW(L"TovixZAV_JC.dll")) symbol = GetProcAddress(module, "ZAVGetFileName");
    if (!symbol) symbol = GetProcAddress(GetModuleHandleW(nullptr), "ZAVGetFileName");
    if (!symbol) return 0;
    GetFileName getFileName = reinterpret_cast<GetFileName>(reinterpret_cast<void (*)()>(symbol));
    int32_t n = getFileName(book, out, static_cast<int32_t>(capacity));
    return n > 0 && static_cast<size_t>(n) < capacity ? static_cast<size_t>(n) : 0;
}

}  // namespace os
}  // namespace zavmemo
