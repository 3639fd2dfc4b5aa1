#include <windows.h>

#include "memo_os.h"

namespace zavmemo {
namespace os {

namespace {
constexpr int kWidePathCapacity = 1024;
}  // namespace

// Paths come from the book module's ZAVGetFileName, in the ANSI code page.
File openRead(const char *path) {
    wchar_t wide[kWidePathCapacity];
    if (MultiByteToWideChar(CP_ACP, 0, path, -1, wide, kWidePathCapacity) <= 0) return kNoFile;
    HANDLE h = CreateFileW(wide, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kNoFile : reinterpret_cast<File>(h);
}

void closeFile(File file) {
    if (file != kNoFile) CloseHandle(reinterpret_cast<HANDLE>(file));
}

bool fileSize(File file, uint64_t *size) {
    LARGE_INTEGER n;
    if (!GetFileSizeEx(reinterpret_cast<HANDLE>(file), &n) || n.QuadPart < 0) return false;
    *size = static_cast<uint64_t>(n.QuadPart);
    return true;
}

bool readAt(File file, uint64_t at, void *buffer, size_t n) {
    unsigned char *p = static_cast<unsigned char *>(buffer);
    while (n > 0) {
        OVERLAPPED position = {};
        position.Offset = static_cast<DWORD>(at);
        position.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD want = n > 0x40000000u ? 0x40000000u : static_cast<DWORD>(n);
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(file), p, want, &got, &position) || got == 0) return false;
        p += got;
        n -= got;
        at += got;
    }
    return true;
}

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
