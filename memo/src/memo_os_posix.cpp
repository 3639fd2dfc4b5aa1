#include <dlfcn.h>

#include "memo_os.h"

namespace zavmemo {
namespace os {

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
