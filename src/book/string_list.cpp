#include "string_list.h"

#include <string.h>

#include "format.h"
#include "process_state.h"

namespace tovix {

int32_t chooseLanguage() {
    uint32_t setting = gProcess.defaultLocale;
    if (setting >= 2 && setting <= 5) return static_cast<int32_t>(setting);
    switch (ansiCodePage()) {
        case 932: return 4;
        case 936: return 2;
        case 949: return 5;
        case 950: return 3;
        default: return 1;
    }
}

namespace {

void copyText(char *buffer, uint32_t length, const unsigned char *text, uint32_t n) {
    uint32_t copy = n < length ? n : length - 1;
    memcpy(buffer, text, copy);
    buffer[copy] = '\0';
}

}  // namespace

int32_t readStringList(BookFile *file, uint32_t offset, int32_t language, char *buffer, uint32_t length) {
    if (!buffer || length == 0) return 0;
    uint8_t count;
    if (!seekTo(file, offset) || !readU8(file, &count)) return 0;
    if (language == 0) language = chooseLanguage();
    int32_t taken = 0;
    unsigned char text[256];
    for (uint32_t i = 0; i < count; ++i) {
        unsigned char head[2];  // language, length
        if (!readExact(file, head, 2) || !readExact(file, text, head[1])) break;
        int32_t entryLanguage = head[0];
        if (entryLanguage == language) {
            copyText(buffer, length, text, head[1]);
            return language;
        }
        if (entryLanguage == 1 || taken == 0) {
            copyText(buffer, length, text, head[1]);
            taken = entryLanguage;
        }
    }
    return taken;
}

}  // namespace tovix
