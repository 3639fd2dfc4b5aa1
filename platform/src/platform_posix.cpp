// POSIX side of the platform layer.
// 64-bit file offsets on 32-bit systems too: a book may sit near the end of
// a file larger than 2 GiB, and offset + count must not wrap.
#ifndef _FILE_OFFSET_BITS
#define _FILE_OFFSET_BITS 64
#endif
#include "tovix/platform.h"
#include "tovix/registry_file.h"

#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <langinfo.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tovix {

namespace {

// UTF-32 (wchar_t on POSIX) to UTF-8. Returns the byte count without the
// terminator, or -1 when the text holds an invalid code point or does not fit
// in capacity bytes with its terminator.
long utf32ToUtf8(const wchar_t *in, char *out, size_t capacity) {
    size_t n = 0;
    for (; *in; ++in) {
        auto c = static_cast<uint32_t>(static_cast<int32_t>(*in));
        unsigned char buf[4];
        size_t len;
        if (c < 0x80) {
            buf[0] = static_cast<unsigned char>(c);
            len = 1;
        } else if (c < 0x800) {
            buf[0] = static_cast<unsigned char>(0xC0 | (c >> 6));
            buf[1] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            len = 2;
        } else if (c < 0x10000) {
            if (c >= 0xD800 && c <= 0xDFFF) return -1;
            buf[0] = static_cast<unsigned char>(0xE0 | (c >> 12));
            buf[1] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            buf[2] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            len = 3;
        } else if (c <= 0x10FFFF) {
            buf[0] = static_cast<unsigned char>(0xF0 | (c >> 18));
            buf[1] = static_cast<unsigned char>(0x80 | ((c >> 12) & 0x3F));
            buf[2] = static_cast<unsigned char>(0x80 | ((c >> 6) & 0x3F));
            buf[3] = static_cast<unsigned char>(0x80 | (c & 0x3F));
            len = 4;
        } else {
            return -1;
        }
        if (n + len + 1 > capacity) return -1;
        memcpy(out + n, buf, len);
        n += len;
    }
    if (n + 1 > capacity) return -1;  // GCOVR_EXCL_BR_LINE: true only at capacity 0, never passed
    out[n] = '\0';
    return static_cast<long>(n);
}

NativeFile posixOpenReadNarrow(const char *path, PathText) {
    if (!path) return kInvalidFile;
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);  // GCOVR_EXCL_BR_LINE: no signal interrupts an open in a test
    return fd < 0 ? kInvalidFile : static_cast<NativeFile>(fd);
}

NativeFile posixOpenRead(const wchar_t *path) {
    char utf8[PATH_MAX];
    if (!path || utf32ToUtf8(path, utf8, sizeof utf8) < 0) return kInvalidFile;
    return posixOpenReadNarrow(utf8, PathText::Utf8);
}

bool posixFileSize(NativeFile file, uint64_t *size) {
    struct stat st;
    if (::fstat(static_cast<int>(file), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_size < 0) return false;  // GCOVR_EXCL_BR_LINE: the system gives no plain file a negative size
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

int64_t posixReadAt(NativeFile file, void *buffer, uint32_t n, uint32_t offset) {
    auto *out = static_cast<unsigned char *>(buffer);
    uint64_t done = 0;
    while (done < n) {
        ssize_t got = ::pread(static_cast<int>(file), out + done, static_cast<size_t>(n - done),
                              static_cast<off_t>(offset + done));
        if (got < 0) {
            if (errno == EINTR) continue;  // GCOVR_EXCL_BR_LINE: no signal interrupts a read in a test
            return -1;
        }
        if (got == 0) break;  // end of file
        done += static_cast<uint64_t>(got);
    }
    return static_cast<int64_t>(done);
}

void posixClose(NativeFile file) {
    if (file != kInvalidFile) ::close(static_cast<int>(file));
}

void *posixAllocate(size_t size, bool zero) {
    if (size == 0) size = 1;
    return zero ? calloc(1, size) : malloc(size);
}

void posixRelease(void *block) { free(block); }

LibHandle posixLoadLibrary(const char *path) { return path ? dlopen(path, RTLD_NOW | RTLD_LOCAL) : nullptr; }

void *posixFindSymbol(LibHandle lib, const char *name) { return lib && name ? dlsym(lib, name) : nullptr; }

void posixFreeLibrary(LibHandle lib) {
    if (lib) dlclose(lib);
}

}  // namespace

static void *posixFindLoadedSymbol(const char *baseName, const char *symbol);

const PlatformMethods kNativePlatform = {
    posixOpenRead, posixReadAt,      posixFileSize,   posixClose,       posixAllocate,
    posixRelease,  posixLoadLibrary, posixFindSymbol, posixFreeLibrary, posixOpenReadNarrow, posixFindLoadedSymbol,
};

bool files::pathStamp(const char *path, FileStamp *stamp, PathText) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if (st.st_size < 0) return false;  // GCOVR_EXCL_BR_LINE: the system gives no plain file a negative size
    stamp->device = static_cast<uint64_t>(st.st_dev);
    stamp->file = static_cast<uint64_t>(st.st_ino);
    stamp->size = static_cast<uint64_t>(st.st_size);
    stamp->modifiedSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    stamp->modifiedNanos = static_cast<uint32_t>(st.st_mtim.tv_nsec);
    return true;
}

uint32_t ansiCodePage() {
    const char *env = getenv("TOVIX_ACP");
    if (env && *env) {
        uint64_t v = 0;
        const char *p = env;
        for (; *p >= '0' && *p <= '9' && v <= 0xFFFFFFFFu; ++p) v = v * 10 + static_cast<uint64_t>(*p - '0');
        if (!*p && v <= 0xFFFFFFFFu) return static_cast<uint32_t>(v);
    }
    return codePageOfCodeSet(nl_langinfo(CODESET));
}

bool wideToAnsi(const wchar_t *wide, char *out, size_t capacity) {
    if (!out || capacity == 0) return false;
    if (!wide || utf32ToUtf8(wide, out, capacity) < 0) {
        out[0] = '\0';
        return false;
    }
    return true;
}

bool readDefaultLocale(uint32_t *value) {
    const char *path = getenv("TOVIX_REGISTRY");
    if (!path || !*path) path = "/etc/tovix/registry.reg";
    int fd = ::open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    // A registry export of the module's one value is tiny; refuse anything
    // large rather than read it whole.
    static const size_t kMaxRegistryFile = 1u << 20;
    unsigned char *text = static_cast<unsigned char *>(malloc(kMaxRegistryFile));
    bool found = false;
    if (text) {  // GCOVR_EXCL_BR_LINE: a 1 MiB allocation does not fail in a test
        int64_t got = posixReadAt(fd, text, kMaxRegistryFile, 0);
        if (got >= 0 && static_cast<size_t>(got) < kMaxRegistryFile)
            found = findRegistryDword(text, static_cast<size_t>(got),
                                      "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrava\\TovixDict", "DefaultLocale", value);
        free(text);
    }
    ::close(fd);
    return found;
}

size_t environmentText(const char *name, char *out, size_t capacity) {
    const char *value = name ? getenv(name) : nullptr;
    if (!out || capacity == 0 || !value || !*value) return 0;
    size_t n = strlen(value);
    if (n + 1 > capacity) return 0;
    memcpy(out, value, n + 1);
    return n;
}

namespace {
void moduleAnchor() {}
}  // namespace

ModuleInstance currentModuleInstance() { return reinterpret_cast<void *>(&moduleAnchor); }

size_t moduleFolder(ModuleInstance instance, char *out, size_t capacity) {
    if (!out || capacity == 0) return 0;
    out[0] = '\0';
    Dl_info info;
    if (!instance || !dladdr(instance, &info)) return 0;
    if (!info.dli_fname || !*info.dli_fname) return 0;  // GCOVR_EXCL_BR_LINE: a found module always has a name
    char own[PATH_MAX];
    if (!realpath(info.dli_fname, own)) {  // GCOVR_EXCL_BR_LINE: the test programs start by a name that resolves
        // The main program may be named as it was started; ask the kernel.
        ssize_t n = readlink("/proc/self/exe", own, sizeof own - 1);
        if (n <= 0) return 0;  // GCOVR_EXCL_BR_LINE: reached only where realpath failed (above)
        own[n] = '\0';
    }
    const char *slash = strrchr(own, '/');
    if (!slash) return 0;  // GCOVR_EXCL_BR_LINE: a resolved path is absolute
    size_t dir = static_cast<size_t>(slash - own) + 1;
    if (dir + 1 > capacity) return 0;
    memcpy(out, own, dir);
    out[dir] = '\0';
    return dir;
}

static void *posixFindLoadedSymbol(const char *baseName, const char *symbol) {
    char file[64];
    libraryFileName(baseName, file, sizeof file);
    char versioned[72];
    snprintf(versioned, sizeof versioned, "%s.1", file);
    // The library already loaded, found by its names without loading
    // anything; failing that, one linked into the program itself.
    void *lib = dlopen(versioned, RTLD_LAZY | RTLD_NOLOAD);
    if (!lib) lib = dlopen(file, RTLD_LAZY | RTLD_NOLOAD);
    void *found = lib ? dlsym(lib, symbol) : nullptr;
    if (!found) found = dlsym(RTLD_DEFAULT, symbol);
    if (lib) dlclose(lib);
    return found;
}

}  // namespace tovix
