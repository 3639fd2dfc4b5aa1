#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <limits>

#include "ZoZizID.h"
#include "engine_os.h"

namespace zozizid {
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
        if (got == 0) return false;  // end of file
        p += got;
        n -= static_cast<size_t>(got);
        at += static_cast<uint64_t>(got);
    }
    return true;
}

size_t dictionaryFolder(char *out, size_t capacity) {
    const char *env = ::getenv(ZOZIZID_DICT_DIR_ENV);
    if (env && *env) {
        size_t n = ::strlen(env);
        if (n + 1 > capacity) return 0;
        ::memcpy(out, env, n + 1);
        return n;
    }
    Dl_info info;
    if (!::dladdr(reinterpret_cast<void *>(&dictionaryFolder), &info) || !info.dli_fname) return 0;
    const char *slash = ::strrchr(info.dli_fname, '/');
    size_t dir = slash ? static_cast<size_t>(slash - info.dli_fname) + 1 : 0;
    static const char kFolder[] = "dictionaries";
    if (dir + sizeof kFolder > capacity) return 0;
    ::memcpy(out, info.dli_fname, dir);
    ::memcpy(out + dir, kFolder, sizeof kFolder);
    return dir + sizeof kFolder - 1;
}

}  // namespace os
}  // namespace zozizid
