// The parts of the platform layer that are the same on every system.
#include <string.h>

#include "tovix/platform.h"

namespace tovix {

const PlatformMethods *gPlatform = &kNativePlatform;

bool readExactAt(NativeFile file, uint64_t at, void *buffer, size_t n) {
    auto *out = static_cast<unsigned char *>(buffer);
    constexpr uint32_t kChunk = 0x40000000u;
    while (n > 0) {
        uint32_t want = n > kChunk ? kChunk : static_cast<uint32_t>(n);
        if (at > UINT32_MAX || want > UINT32_MAX - at) return false;
        int64_t got = gPlatform->readAt(file, out, want, static_cast<uint32_t>(at));
        if (got != static_cast<int64_t>(want)) return false;
        out += want;
        at += want;
        n -= want;
    }
    return true;
}

void libraryFileName(const char *baseName, char *out, size_t capacity) {
#ifdef _WIN32
    static const char kPrefix[] = "", kSuffix[] = ".dll";
#else
    static const char kPrefix[] = "lib", kSuffix[] = ".so";
#endif
    if (!out || capacity == 0) return;
    size_t n = 0;
    auto put = [&](const char *s) {
        for (; *s && n + 1 < capacity; ++s) out[n++] = *s;
    };
    put(kPrefix);
    put(baseName ? baseName : "");
    put(kSuffix);
    out[n] = '\0';
}

bool libraryPathIn(const char *folder, const char *baseName, char *out, size_t capacity) {
    static const size_t kPathLimit = 260;  // characters, terminator included
    if (!folder || !out || capacity == 0) return false;
    size_t dir = strlen(folder);
    char file[64];
    libraryFileName(baseName, file, sizeof file);
    size_t total = dir + strlen(file) + 1;
    // The limit counts characters; UTF-8 continuation bytes are not counted.
    size_t characters = 0;
    for (size_t i = 0; i < dir; ++i) characters += (static_cast<unsigned char>(folder[i]) & 0xC0) != 0x80;
    if (characters + strlen(file) + 1 > kPathLimit || total > capacity) return false;
    memcpy(out, folder, dir + 1);  // total > dir: room for the terminator
    memcpy(out + dir, file, strlen(file) + 1);
    return true;
}

bool siblingLibraryPath(ModuleInstance instance, const char *baseName, char *out, size_t capacity) {
    if (!out || capacity == 0) return false;
    out[0] = '\0';
    char folder[kLibraryPathBytes];
    return moduleFolder(instance, folder, sizeof folder) != 0 && libraryPathIn(folder, baseName, out, capacity);
}

namespace {

// Compare a code set name with a candidate of upper-case letters and digits,
// ignoring case and the '-' and '_' in the name.
bool sameCodeSet(const char *name, const char *want) {
    for (;;) {
        while (*name == '-' || *name == '_') ++name;
        char a = *name;
        if (a >= 'a' && a <= 'z') a = static_cast<char>(a - 'a' + 'A');
        if (a != *want) return false;
        if (!a) return true;
        ++name;
        ++want;
    }
}

}  // namespace

uint32_t codePageOfCodeSet(const char *name) {
    static const uint32_t kWesternEuropean = 1252;
    if (!name) return kWesternEuropean;
    static const struct {
        const char *name;
        uint32_t page;
    } kSets[] = {
        {"GBK", 936},  {"GB2312", 936}, {"GB18030", 936}, {"BIG5", 950}, {"BIG5HKSCS", 950}, {"SHIFTJIS", 932},
        {"SJIS", 932}, {"EUCJP", 932},  {"EUCKR", 949},   {"UHC", 949},  {"CP949", 949},     {"UTF8", 65001},
    };
    for (const auto &s : kSets)
        if (sameCodeSet(name, s.name)) return s.page;
    return kWesternEuropean;
}

}  // namespace tovix
