// The platform layer: the only code that knows which operating system the
// module runs on. Everything else reads files, allocates memory, loads
// libraries and asks for settings through the functions declared here.
//
// File access goes through a table of operations (PlatformMethods). The
// normal table calls the operating system; tests install a table of their own
// that wraps it to make the N-th read, seek, allocation or library load fail
// or come back short. The core calls through the table pointer, so the seam
// costs one indirect call per operation and nothing else.
#ifndef TOVIX_PLATFORM_H
#define TOVIX_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

namespace tovix {

// A native file: a POSIX descriptor or a Windows HANDLE, widened.
using NativeFile = intptr_t;
constexpr NativeFile kInvalidFile = -1;

// A loaded library (dlopen handle / HMODULE); nullptr = none.
using LibHandle = void *;

// An open book file: the native handle and the position that seeks move.
// A seek only changes `position`; every read is one positional read at it.
struct BookFile {
    NativeFile native;
    int32_t position;
};

enum SeekOrigin : int { SEEK_FROM_START = 0, SEEK_FROM_CURRENT = 1 };

struct PlatformMethods {
    // Open an existing file by wide path, read-only, shared for reading only.
    // Returns kInvalidFile on failure.
    NativeFile (*openRead)(const wchar_t *path);
    // Read up to n bytes at offset. Returns the number of bytes delivered
    // (fewer than n only at the end of the file), or -1 on an I/O error.
    // Interrupted and partial reads are retried.
    int64_t (*readAt)(NativeFile file, void *buffer, uint32_t n, uint32_t offset);
    // Move the position: origin + distance. Returns the new position, or -1
    // when it would fall below 0 or above 2^31 - 1 (the position is then
    // unchanged).
    int32_t (*seek)(BookFile *file, int32_t distance, SeekOrigin origin);
    void (*close)(NativeFile file);
    // Heap. allocate returns nullptr on failure; zeroed memory when zero.
    void *(*allocate)(size_t size, bool zero);
    void (*release)(void *block);
    // Libraries.
    LibHandle (*loadLibrary)(const char *path);
    void *(*findSymbol)(LibHandle lib, const char *name);
    void (*freeLibrary)(LibHandle lib);
};

// The table in use. Tests may swap it; the module never does.
extern const PlatformMethods *gPlatform;
// The operating system's table.
extern const PlatformMethods kNativePlatform;

// --- convenience wrappers used by the core ---------------------------------

inline void *heapAlloc(size_t size) { return gPlatform->allocate(size, false); }
inline void *heapAllocZeroed(size_t size) { return gPlatform->allocate(size, true); }
inline void heapFree(void *block) {
    if (block) gPlatform->release(block);
}

// Seek to an absolute position (an unsigned file offset, possibly computed in
// 64 bits). Positions of 2^31 and above fail, as do negative ones.
bool seekTo(BookFile *file, uint64_t position);
// Seek forward (or backward) from the current position.
bool seekBy(BookFile *file, int64_t distance);
// Read exactly n bytes at the current position and advance it. False unless
// all n arrive.
bool readExact(BookFile *file, void *buffer, uint32_t n);
// Read up to n bytes at the current position and advance by what arrived.
// Returns the count delivered, or -1 on an I/O error.
int64_t readSome(BookFile *file, void *buffer, uint32_t n);

// --- process-level queries ---------------------------------------------------

// The device's current ANSI code page, asked afresh at each call.
uint32_t ansiCodePage();

// Convert a NUL-terminated wide path to the ANSI form used for reporting.
// Writes at most `capacity` bytes, terminator included. Returns false (and
// writes an empty string when capacity > 0) when the result does not fit or
// cannot be converted.
bool wideToAnsi(const wchar_t *wide, char *out, size_t capacity);

// The DefaultLocale setting: true and the value when the configuration store
// holds it as a 32-bit number.
bool readDefaultLocale(uint32_t *value);

// The module's own instance: something that identifies the loaded module.
using ModuleInstance = void *;
ModuleInstance currentModuleInstance();

// File name of the library that holds `name` (a base name such as "ZoZizID"):
// "libZoZizID.so" / "ZoZizID.dll".
void libraryFileName(const char *baseName, char *out, size_t capacity);

// Full path of the library `baseName` in the folder of the module `instance`:
// the module's file name up to its last path separator, then the library's
// file name. False when the module's name cannot be had, has no separator, or
// the result does not fit in 260 characters with its terminator.
bool siblingLibraryPath(ModuleInstance instance, const char *baseName, char *out, size_t capacity);
// A buffer that holds any result of siblingLibraryPath: 260 characters, as
// UTF-8 where the system's own paths are wide (Windows).
constexpr size_t kLibraryPathBytes = 260 * 3;

}  // namespace tovix

#endif
