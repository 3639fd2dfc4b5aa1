#include "engine_os.h"

#include <string.h>

#include "ZoZizID.h"

namespace zozizid {
namespace os {

size_t dictionaryFolder(char *out, size_t capacity) {
    size_t n = tovix::environmentText(ZOZIZID_DICT_DIR_ENV, out, capacity);
    if (n > 0) return n;
    size_t dir = tovix::moduleFolder(tovix::currentModuleInstance(), out, capacity);
    static const char kFolder[] = "dictionaries";
    // GCOVR_EXCL_BR_START: the library's own folder is always known, and no test installs it
    // in a folder whose path comes near the system's limit
    if (dir == 0 || dir + sizeof kFolder > capacity) return 0;
    // GCOVR_EXCL_BR_STOP
    memcpy(out + dir, kFolder, sizeof kFolder);
    return dir + sizeof kFolder - 1;
}

}  // namespace os
}  // namespace zozizid
