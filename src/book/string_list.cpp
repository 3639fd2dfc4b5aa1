#include "string_list.h"

#include <string.h>

#include "reader.h"

namespace tovix {

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
    if (!u8At(file, offset, &count)) return 0;
    int32_t taken = 0;
    unsigned char text[STRING_TEXT_MAX + 1];
    uint64_t at = static_cast<uint64_t>(offset) + COUNT8_SIZE;
    for (uint32_t i = 0; i < count; ++i) {
        unsigned char head[STRING_ENTRY_HEAD_SIZE];  // language, length
        if (!readAt(file, at, head, STRING_ENTRY_HEAD_SIZE) ||
            !readAt(file, at + STRING_ENTRY_HEAD_SIZE, text, head[1]))
            break;
        at += STRING_ENTRY_HEAD_SIZE + head[1];
        int32_t entryLanguage = head[0];
        if (entryLanguage == language) {
            copyText(buffer, length, text, head[1]);
            return language;
        }
        if (entryLanguage == LANG_BASE || taken == 0) {
            copyText(buffer, length, text, head[1]);
            taken = entryLanguage;
        }
    }
    return taken;
}

}  // namespace tovix
