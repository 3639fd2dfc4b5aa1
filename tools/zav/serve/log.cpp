#include "serve/log.h"

#include <utf8proc.h>

#include <cstdio>
#include <ctime>
#include <mutex>

namespace zavtool {

namespace {

std::mutex gLogMutex;

bool printable(utf8proc_int32_t c) {
    switch (utf8proc_category(c)) {
        case UTF8PROC_CATEGORY_CN:
        case UTF8PROC_CATEGORY_ZL:
        case UTF8PROC_CATEGORY_ZP:
        case UTF8PROC_CATEGORY_CC:
        case UTF8PROC_CATEGORY_CF:
        case UTF8PROC_CATEGORY_CS:
        case UTF8PROC_CATEGORY_CO: return false;
        default: return true;
    }
}

void hexByte(unsigned char c, std::string *out) {
    static const char digits[] = "0123456789ABCDEF";
    *out += "\\x";
    *out += digits[c >> 4];
    *out += digits[c & 15];
}

}  // namespace

void logLine(const std::string &text) { logLineTo(stderr, text); }

void logLineTo(std::FILE *file, const std::string &text) {
    char stamp[32];
    std::time_t now = std::time(nullptr);
    struct tm utc;
    gmtime_r(&now, &utc);
    std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%SZ", &utc);
    std::lock_guard<std::mutex> lock(gLogMutex);
    std::fprintf(file, "%s %s\n", stamp, text.c_str());
    std::fflush(file);
}

std::string logSafe(const std::string &bytes) {
    std::string out;
    out.reserve(bytes.size());
    const auto *p = reinterpret_cast<const utf8proc_uint8_t *>(bytes.data());
    size_t i = 0;
    while (i < bytes.size()) {
        utf8proc_int32_t c = -1;
        utf8proc_ssize_t n = utf8proc_iterate(p + i, static_cast<utf8proc_ssize_t>(bytes.size() - i), &c);
        if (n <= 0 || c < 0) {  // not valid UTF-8: this byte alone
            n = 1;
            c = -1;
        }
        size_t length = static_cast<size_t>(n);
        if (c == '\\' || c == '"') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c >= 0 && printable(c)) {
            out.append(bytes, i, length);
        } else {
            for (size_t k = 0; k < length; ++k) hexByte(p[i + k], &out);
        }
        i += length;
    }
    return out;
}

}  // namespace zavtool
