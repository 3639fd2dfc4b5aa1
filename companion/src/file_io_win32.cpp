#include <windows.h>

#include "companion/file_io.h"

namespace companion {

namespace {

constexpr int kWidePathCapacity = 4096;

bool widePath(const char *path, PathText text, wchar_t (&wide)[kWidePathCapacity]) {
    UINT codePage = text == PathText::Utf8 ? CP_UTF8 : CP_ACP;
    DWORD flags = text == PathText::Utf8 ? MB_ERR_INVALID_CHARS : 0;
    return path && MultiByteToWideChar(codePage, flags, path, -1, wide, kWidePathCapacity) > 0;
}

constexpr uint64_t kTicksPerSecond = 10000000;  // FILETIME counts 100 ns ticks

uint64_t ticksOf(const FILETIME &t) { return uint64_t{t.dwHighDateTime} << 32 | t.dwLowDateTime; }

}  // namespace

File openRead(const char *path, PathText text) {
    wchar_t wide[kWidePathCapacity];
    if (!widePath(path, text, wide)) return kNoFile;
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

bool pathStamp(const char *path, FileStamp *stamp, PathText text) {
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

}  // namespace companion
