// Windows side of the platform layer.
//
// Narrow strings that name files or libraries inside the module (the argument
// of loadLibrary, the result of siblingLibraryPath) are UTF-8 here, converted
// to and from the wide API at this boundary, so a module installed in a folder
// whose name the ANSI code page cannot spell still finds its libraries. Only
// wideToAnsi speaks the ANSI code page: its result is what hosts are given.
#define WIN32_LEAN_AND_MEAN
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

#include <string.h>

#include "tovix/platform.h"

namespace tovix {

namespace {

// The longest path the module builds or loads by, in wide characters with the
// terminator.
constexpr DWORD kPathChars = 260;
// Library names handed to loadLibrary: a bare file name or a full path.
constexpr int kLibraryNameChars = 1024;

HANDLE toHandle(NativeFile file) { return reinterpret_cast<HANDLE>(file); }

NativeFile winOpenRead(const wchar_t *path) {
    if (!path) return kInvalidFile;
    HANDLE h = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidFile;
    return reinterpret_cast<NativeFile>(h);
}

bool winFileSize(NativeFile file, uint64_t *size) {
    LARGE_INTEGER n;
    if (!GetFileSizeEx(toHandle(file), &n) || n.QuadPart < 0) return false;
    *size = static_cast<uint64_t>(n.QuadPart);
    return true;
}

// Positional reads: each ReadFile names its offset in an OVERLAPPED block, so
// the handle's own file pointer plays no part. A short count is retried from
// where it stopped; a count of 0 (or ERROR_HANDLE_EOF) is the end of the file.
int64_t winReadAt(NativeFile file, void *buffer, uint32_t n, uint32_t offset) {
    auto *out = static_cast<unsigned char *>(buffer);
    uint64_t done = 0;
    while (done < n) {
        uint64_t at = static_cast<uint64_t>(offset) + done;
        OVERLAPPED where;
        memset(&where, 0, sizeof where);
        where.Offset = static_cast<DWORD>(at & 0xFFFFFFFFu);
        where.OffsetHigh = static_cast<DWORD>(at >> 32);
        DWORD got = 0;
        if (!ReadFile(toHandle(file), out + done, static_cast<DWORD>(n - done), &got, &where)) {
            if (GetLastError() == ERROR_HANDLE_EOF) break;
            return -1;
        }
        if (got == 0) break;
        done += got;
    }
    return static_cast<int64_t>(done);
}

void winClose(NativeFile file) {
    if (file != kInvalidFile) CloseHandle(toHandle(file));
}

void *winAllocate(size_t size, bool zero) {
    if (size == 0) size = 1;
    return HeapAlloc(GetProcessHeap(), zero ? HEAP_ZERO_MEMORY : 0, size);
}

void winRelease(void *block) { HeapFree(GetProcessHeap(), 0, block); }

// UTF-8 to UTF-16 into out[capacity], terminator included. False when the
// text is not valid UTF-8 or does not fit.
bool utf8ToWide(const char *in, wchar_t *out, int capacity) {
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, in, -1, out, capacity);
    if (n <= 0) {
        if (capacity > 0) out[0] = L'\0';
        return false;
    }
    return true;
}

constexpr int kWidePathCapacity = 4096;

// A narrow path (see PathText) as a wide one; false when it cannot be
// converted or does not fit.
bool widePath(const char *path, PathText text, wchar_t (&wide)[kWidePathCapacity]) {
    UINT codePage = text == PathText::Utf8 ? CP_UTF8 : CP_ACP;
    DWORD flags = text == PathText::Utf8 ? MB_ERR_INVALID_CHARS : 0;
    return path && MultiByteToWideChar(codePage, flags, path, -1, wide, kWidePathCapacity) > 0;
}

NativeFile winOpenReadNarrow(const char *path, PathText text) {
    wchar_t wide[kWidePathCapacity];
    if (!widePath(path, text, wide)) return kInvalidFile;
    return winOpenRead(wide);
}

constexpr uint64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns ticks

uint64_t ticksOf(const FILETIME &t) { return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; }

LibHandle winLoadLibrary(const char *path) {
    if (!path) return nullptr;
    wchar_t wide[kLibraryNameChars];
    if (!utf8ToWide(path, wide, kLibraryNameChars)) return nullptr;
    return reinterpret_cast<LibHandle>(LoadLibraryW(wide));
}

void *winFindSymbol(LibHandle lib, const char *name) {
    if (!lib || !name) return nullptr;
    FARPROC proc = GetProcAddress(static_cast<HMODULE>(lib), name);
    return reinterpret_cast<void *>(proc);
}

void winFreeLibrary(LibHandle lib) {
    if (lib) FreeLibrary(static_cast<HMODULE>(lib));
}

int clampToInt(size_t n) { return n > 0x7FFFFFFF ? 0x7FFFFFFF : static_cast<int>(n); }

}  // namespace

static void *winFindLoadedSymbol(const char *baseName, const char *symbol);

const PlatformMethods kNativePlatform = {
    winOpenRead, winReadAt,      winFileSize,   winClose,       winAllocate,
    winRelease,  winLoadLibrary, winFindSymbol, winFreeLibrary, winOpenReadNarrow, winFindLoadedSymbol,
};

bool files::pathStamp(const char *path, FileStamp *stamp, PathText text) {
    wchar_t wide[kWidePathCapacity];
    WIN32_FILE_ATTRIBUTE_DATA info;
    if (!widePath(path, text, wide) || !GetFileAttributesExW(wide, GetFileExInfoStandard, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    uint64_t ticks = ticksOf(info.ftLastWriteTime);
    stamp->device = 0;
    stamp->file = ticksOf(info.ftCreationTime);
    stamp->size = uint64_t{info.nFileSizeHigh} << 32 | info.nFileSizeLow;
    stamp->modifiedSeconds = static_cast<int64_t>(ticks / kTicksPerSecond);
    stamp->modifiedNanos = static_cast<uint32_t>(ticks % kTicksPerSecond * 100);
    return true;
}

uint32_t ansiCodePage() { return GetACP(); }

bool wideToAnsi(const wchar_t *wide, char *out, size_t capacity) {
    if (!out || capacity == 0) return false;
    out[0] = '\0';
    if (!wide) return false;
    int n = WideCharToMultiByte(CP_ACP, 0, wide, -1, out, clampToInt(capacity), nullptr, nullptr);
    if (n <= 0) {
        // Too long for the buffer, or not convertible: nothing usable was
        // written, whatever the conversion left behind.
        out[0] = '\0';
        return false;
    }
    return true;
}

bool readDefaultLocale(uint32_t *value) {
    if (!value) return false;
    HKEY key = nullptr;
    // 0x20019 = KEY_READ.
    if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Kestrava\\TovixDict", 0, 0x20019, &key) != ERROR_SUCCESS)
        return false;
    DWORD type = 0;
    DWORD data = 0;
    DWORD size = sizeof data;
    LONG rc = RegQueryValueExW(key, L"DefaultLocale", nullptr, &type, reinterpret_cast<BYTE *>(&data), &size);
    RegCloseKey(key);
    // Only a 32-bit number counts: any other type, or a DWORD of another
    // size, leaves the setting unconfigured.
    if (rc != ERROR_SUCCESS || type != REG_DWORD || size != sizeof data) return false;
    *value = data;
    return true;
}

ModuleInstance currentModuleInstance() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCWSTR>(&currentModuleInstance), &self))
        return nullptr;
    return reinterpret_cast<ModuleInstance>(self);
}

size_t environmentText(const char *name, char *out, size_t capacity) {
    if (!name || !out || capacity == 0) return 0;
    wchar_t wideName[256];
    if (!utf8ToWide(name, wideName, 256)) return 0;
    wchar_t wide[kLibraryNameChars];
    DWORD n = GetEnvironmentVariableW(wideName, wide, kLibraryNameChars);
    if (n == 0 || n >= static_cast<DWORD>(kLibraryNameChars)) return 0;
    int bytes = WideCharToMultiByte(CP_UTF8, 0, wide, -1, out, clampToInt(capacity), nullptr, nullptr);
    if (bytes <= 1) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(bytes - 1);
}

size_t moduleFolder(ModuleInstance instance, char *out, size_t capacity) {
    if (!out || capacity == 0) return 0;
    out[0] = '\0';
    if (!instance) return 0;
    wchar_t path[kPathChars];
    DWORD n = GetModuleFileNameW(static_cast<HMODULE>(instance), path, kPathChars);
    // 0 = failure; kPathChars = the name was cut to fit.
    if (n == 0 || n >= kPathChars) return 0;
    path[n] = L'\0';
    wchar_t *slash = wcsrchr(path, L'\\');
    if (!slash) return 0;
    slash[1] = L'\0';
    int bytes =
        WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, path, -1, out, clampToInt(capacity), nullptr, nullptr);
    if (bytes <= 1) {
        out[0] = '\0';
        return 0;
    }
    return static_cast<size_t>(bytes - 1);
}

static void *winFindLoadedSymbol(const char *baseName, const char *symbol) {
    char file[64];
    libraryFileName(baseName, file, sizeof file);
    wchar_t wide[64];
    FARPROC found = nullptr;
    // The library already loaded in the process (no reference is taken);
    // failing that, one linked into the program itself.
    if (utf8ToWide(file, wide, 64))
        if (HMODULE lib = GetModuleHandleW(wide)) found = GetProcAddress(lib, symbol);
    if (!found) found = GetProcAddress(GetModuleHandleW(nullptr), symbol);
    return reinterpret_cast<void *>(found);
}

}  // namespace tovix
