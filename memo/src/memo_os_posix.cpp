#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "memo_os.h"

namespace zavmemo {
namespace os {

File openRead(const char *path) {
    int fd;
    do {
        fd = ::open(path, O_RDONLY | O_CLOEXEC);
    } while (fd < 0 && errno == EINTR);
    return fd < 0 ? kNoFile : static_cast<File>(fd);
}

void closeFile(File file) {
    if (file != kNoFile) ::close(static_cast<int>(file));
}

bool fileSize(File file, uint64_t *size) {
    struct stat st;
    if (::fstat(static_cast<int>(file), &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
    *size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool readAt(File file, uint64_t at, void *buffer, size_t n) {
    unsigned char *p = static_cast<unsigned char *>(buffer);
    while (n > 0) {
        if (at > static_cast<uint64_t>(std::numeric_limits<off_t>::max())) return false;  // 32-bit off_t too
        ssize_t got = ::pread(static_cast<int>(file), p, n, static_cast<off_t>(at));
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
        at += static_cast<uint64_t>(got);
    }
    return true;
}

size_t bookPath(BookHandle book, char *out, size_t capacity) {
    using GetFileName = int32_t (*)(BookHandle, char *, int32_t);
    if (!book || capacity < 2 || capacity > 0x7FFFFFFF) return 0;
    // The module that loaded this library, found by its names without
    // loading anything; failing that, one linked into the program itself.
    void *module = ::dlopen("libTovixZAV_JC.so.1", RTLD_LAZY | RTLD_NOLOAD);
    if (!module) module = ::dlopen("libTovixZAV_JC.so", RTLD_LAZY | RTLD_NOLOAD);
    void *symbol = module ? ::dlsym(module, "ZAVGetFileName") : nullptr;
    if (!symbol) symbol = ::dlsym(RTLD_DEFAULT, "ZAVGetFileName");
    size_t result = 0;
    if (symbol) {
        GetFileName getFileName = reinterpret_cast<GetFileName>(symbol);
        int32_t n = getFileName(book, out, static_cast<int32_t>(capacity));
        if (n > 0 && static_cast<size_t>(n) < capacity) result = static_cast<size_t>(n);
    }
    if (module) ::dlclose(module);
    return result;
}

}  // namespace os
}  // namespace zavmemo
