#include <windows.h>

#include <string.h>

#include "ZoZizID.h"
#include "engine_os.h"

namespace zozizid {
namespace os {

namespace {

constexpr int kWidePathCapacity = 4096;

// UTF-8 (the engine's path encoding) to a wide path; false when it does not fit.
bool widen(const char *path, wchar_t *out, int capacity) {
    return MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, out, capacity) > 0;
}

size_t narrow(const wchar_t *path, char *out, size_t capacity) {
    int n = WideCharToMultiByte(CP_UTF8, 0, path, -1, out, static_cast<int>(capacity), nullptr, nullptr);
    return n > 0 ? static_cast<size_t>(n - 1) : 0;
}

}  // namespace

File openRead(const char *path) {
    wchar_t wide[kWidePathCapacity];
    if (!widen(path, wide, kWidePathCapacity)) return kNoFile;
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

size_t dictionaryFolder(char *out, size_t capacity) {
    wchar_t wide[kWidePathCapacity];
    DWORD n = GetEnvironmentVariableW(L"" ZOZIZID_DICT_DIR_ENV, wide, kWidePathCapacity);
    if (n > 0 && n < static_cast<DWORD>(kWidePathCapacity)) return narrow(wide, out, capacity);
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&dictionaryFolder), &self))
        return 0;
    n = GetModuleFileNameW(self, wide, kWidePathCapacity);
    if (n == 0 || n >= static_cast<DWORD>(kWidePathCapacity)) return 0;
    wchar_t *slash = wcsrchr(wide, L'\\');
    wchar_t *base = slash ? slash + 1 : wide;
    static const wchar_t kFolder[] = L"dictionaries";
    if (static_cast<size_t>(base - wide) + sizeof kFolder / sizeof(wchar_t) > kWidePathCapacity) return 0;
    memcpy(base, kFolder, sizeof kFolder);
    return narrow(wide, out, capacity);
}

}  // namespace os
}  // namespace zozizid
