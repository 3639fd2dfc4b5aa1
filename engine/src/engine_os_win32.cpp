#include <windows.h>

#include <string.h>

#include "ZoZizID.h"
#include "engine_os.h"

namespace zozizid {
namespace os {

namespace {

constexpr int kWidePathCapacity = 4096;

size_t narrow(const wchar_t *path, char *out, size_t capacity) {
    int n = WideCharToMultiByte(CP_UTF8, 0, path, -1, out, static_cast<int>(capacity), nullptr, nullptr);
    return n > 0 ? static_cast<size_t>(n - 1) : 0;
}

}  // namespace

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
