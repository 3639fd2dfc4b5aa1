#include <dlfcn.h>
#include <stdlib.h>
#include <string.h>

#include "ZoZizID.h"
#include "engine_os.h"

namespace zozizid {
namespace os {

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
