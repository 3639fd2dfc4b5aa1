// The web page's files, built into the binary from tools/zav/serve/web by
// the build (a generated source holds the table).
#ifndef ZAV_TOOL_SERVE_HTTP_FILES_H
#define ZAV_TOOL_SERVE_HTTP_FILES_H

#include <cstddef>

namespace zavtool {

struct WebFile {
    const char *name;  // e.g. "index.html"
    const unsigned char *data;
    size_t size;
};

extern const WebFile kWebFiles[];
extern const size_t kWebFileCount;

}  // namespace zavtool

#endif
