#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "companion/file_io.h"

namespace companion {

File openRead(const char *path, PathText) {
    if (!path) return kNoFile;
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

bool pathStamp(const char *path, FileStamp *stamp, PathText) {
    struct stat st;
    if (!path || ::stat(path, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size < 0) return false;
    stamp->device = static_cast<uint64_t>(st.st_dev);
    stamp->file = static_cast<uint64_t>(st.st_ino);
    stamp->size = static_cast<uint64_t>(st.st_size);
    stamp->modifiedSeconds = static_cast<int64_t>(st.st_mtim.tv_sec);
    stamp->modifiedNanos = static_cast<uint32_t>(st.st_mtim.tv_nsec);
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
        if (got == 0) return false;  // end of file
        p += got;
        n -= static_cast<size_t>(got);
        at += static_cast<uint64_t>(got);
    }
    return true;
}

}  // namespace companion
