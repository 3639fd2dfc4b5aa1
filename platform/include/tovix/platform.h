// The platform layer: the only code that knows which operating system it runs
// on. The module, the dictionary engine and the memo library open and read
// files, allocate memory, load libraries, find their own folder and convert
// text through the functions declared here; each links its own copy of this
// static library.
//
// File access goes through a table of operations (PlatformMethods). The
// normal table calls the operating system; tests install a table of their own
// that wraps it to make the N-th read, open, allocation or library load fail
// or come back short. Callers go through the table pointer, so the seam costs
// one indirect call per operation and nothing else.
//
// This layer includes nothing above it.
#ifndef TOVIX_PLATFORM_H
#define TOVIX_PLATFORM_H

#include <stddef.h>
#include <stdint.h>

#include <new>

namespace tovix {

// A native file: a POSIX descriptor or a Windows HANDLE, widened.
using NativeFile = intptr_t;
constexpr NativeFile kInvalidFile = -1;

// A loaded library (dlopen handle / HMODULE); nullptr = none.
using LibHandle = void *;

// How the bytes of a narrow path are to be read where the system's paths are
// wide (Windows): UTF-8, or the system's ANSI code page. Elsewhere paths are
// bytes and both mean the same.
enum class PathText { Utf8, AnsiCodePage };

struct PlatformMethods {
    // Open an existing file by wide path, read-only, shared for reading only.
    // Returns kInvalidFile on failure.
    NativeFile (*openRead)(const wchar_t *path);
    // Read up to n bytes at offset. Returns the number of bytes delivered
    // (fewer than n only at the end of the file), or -1 on an I/O error.
    // Interrupted and partial reads are retried. No file position moves.
    int64_t (*readAt)(NativeFile file, void *buffer, uint32_t n, uint32_t offset);
    // The file's size in bytes; false on failure or when it is not a plain
    // file.
    bool (*fileSize)(NativeFile file, uint64_t *size);
    void (*close)(NativeFile file);
    // Heap. allocate returns nullptr on failure; zeroed memory when zero.
    void *(*allocate)(size_t size, bool zero);
    void (*release)(void *block);
    // Libraries.
    LibHandle (*loadLibrary)(const char *path);
    void *(*findSymbol)(LibHandle lib, const char *name);
    void (*freeLibrary)(LibHandle lib);
    // Open an existing file by narrow path (see PathText), as openRead.
    NativeFile (*openReadNarrow)(const char *path, PathText text);
    // The entry point `symbol` of the library `baseName` when that library is
    // already loaded in the process (nothing is loaded), failing that of the
    // program itself; null when neither has it.
    void *(*findLoadedSymbol)(const char *baseName, const char *symbol);
};

// The table in use. Tests may swap it; the libraries never do.
extern const PlatformMethods *gPlatform;
// The operating system's table.
extern const PlatformMethods kNativePlatform;

// --- convenience wrappers ------------------------------------------------------

inline void *heapAlloc(size_t size) { return gPlatform->allocate(size, false); }
inline void *heapAllocZeroed(size_t size) { return gPlatform->allocate(size, true); }
inline void heapFree(void *block) {
    if (block) gPlatform->release(block);
}
// A value-initialized object of type T in the heap, or null; heapDelete
// destroys and frees it (null is ignored).
template <typename T>
T *heapNew() {
    void *block = heapAlloc(sizeof(T));
    return block ? new (block) T() : nullptr;
}
template <typename T>
void heapDelete(T *object) {
    if (!object) return;
    object->~T();
    heapFree(object);
}

// Read exactly n bytes at `at` (a 64-bit position: false when it or its end
// lies at or above 2^32). False unless all n arrive.
bool readExactAt(NativeFile file, uint64_t at, void *buffer, size_t n);

// Files by narrow path, as the companion libraries use them.
namespace files {
using File = NativeFile;
constexpr File kNoFile = kInvalidFile;
inline File open(const char *path, PathText text) { return gPlatform->openReadNarrow(path, text); }
inline void closeFile(File file) {
    if (file != kNoFile) gPlatform->close(file);
}
// The file's size; false on failure or when it is not a plain file.
inline bool fileSize(File file, uint64_t *size) { return gPlatform->fileSize(file, size); }
// Read exactly n bytes at `at`; false on an error or at the end of the file.
inline bool readAt(File file, uint64_t at, void *buffer, size_t n) { return readExactAt(file, at, buffer, n); }

// What tells one version of a file from another: the file's identity (device
// and file number), its size and its modification time. Two stamps are equal
// when every field is.
struct FileStamp {
    uint64_t device = 0, file = 0, size = 0;
    int64_t modifiedSeconds = 0;
    uint32_t modifiedNanos = 0;
};
inline bool operator==(const FileStamp &a, const FileStamp &b) {
    return a.device == b.device && a.file == b.file && a.size == b.size && a.modifiedSeconds == b.modifiedSeconds &&
           a.modifiedNanos == b.modifiedNanos;
}
// The stamp of the file at path, without opening it (one system call; where
// the system tells no file number without opening the file, Windows, the
// creation time stands in for it). False on failure or when it is not a plain
// file.
bool pathStamp(const char *path, FileStamp *stamp, PathText text = PathText::Utf8);
}  // namespace files

// --- process-level queries -------------------------------------------------------

// The device's current ANSI code page, asked afresh at each call.
uint32_t ansiCodePage();
// The code page that stands for the character set `name` as the C library
// names it ("UTF-8", "eucJP", "BIG5-HKSCS": case, '-' and '_' do not count);
// 1252 for a set it does not know, or no name.
uint32_t codePageOfCodeSet(const char *name);

// Convert a NUL-terminated wide path to the ANSI form used for reporting.
// Writes at most `capacity` bytes, terminator included. Returns false (and
// writes an empty string when capacity > 0) when the result does not fit or
// cannot be converted.
bool wideToAnsi(const wchar_t *wide, char *out, size_t capacity);

// The DefaultLocale setting: true and the value when the configuration store
// holds it as a 32-bit number.
bool readDefaultLocale(uint32_t *value);

// The value of environment variable `name` as UTF-8, NUL-terminated. Returns
// its length; 0 when it is unset, empty or does not fit in capacity bytes.
size_t environmentText(const char *name, char *out, size_t capacity);

// Something that identifies a loaded library or program: the one that holds
// this copy of the platform layer, for currentModuleInstance().
using ModuleInstance = void *;
ModuleInstance currentModuleInstance();

// The separator written between a folder and a file name.
#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// File name of the library that holds `name` (a base name such as "ZoZizID"):
// "libZoZizID.so" / "ZoZizID.dll".
void libraryFileName(const char *baseName, char *out, size_t capacity);

// The folder of the module `instance`: its file name up to and including the
// last path separator, as UTF-8. Returns the length; 0 when the name cannot
// be had, has no separator, or the folder does not fit in capacity bytes with
// its terminator.
size_t moduleFolder(ModuleInstance instance, char *out, size_t capacity);

// Full path of the library `baseName` in the folder of the module `instance`.
// False when the folder cannot be had or the result does not fit in 260
// characters with its terminator.
bool siblingLibraryPath(ModuleInstance instance, const char *baseName, char *out, size_t capacity);
// The same in the folder `folder` (ending in a separator, as moduleFolder
// gives it). Writes nothing when it returns false.
bool libraryPathIn(const char *folder, const char *baseName, char *out, size_t capacity);
// A buffer that holds any result of siblingLibraryPath: 260 characters, as
// UTF-8 where the system's own paths are wide (Windows).
constexpr size_t kLibraryPathBytes = size_t{260} * 3;

// The entry point `symbol` of the library `baseName` when that library is
// already loaded in the process (see PlatformMethods). The caller must know
// that the library stays loaded while it uses the entry point.
inline void *findLoadedSymbol(const char *baseName, const char *symbol) {
    return gPlatform->findLoadedSymbol(baseName, symbol);
}

}  // namespace tovix

#endif
