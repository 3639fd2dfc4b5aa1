#include "tovix/registry_file.h"

#include <string.h>

namespace tovix {
namespace {

// A line of the export as bytes: UTF-16LE text is narrowed on the fly, with
// every character above 0x7F turned into '?', which no name we look for holds.
struct Lines {
    const unsigned char *text;
    size_t size;
    size_t at;
    bool wide;

    // Next line into out (without its end), cut at capacity - 1 characters.
    bool next(char *out, size_t capacity) {
        if (at >= size) return false;
        size_t n = 0;
        while (at < size) {
            unsigned c;
            if (wide) {
                if (at + 1 >= size) {
                    at = size;
                    break;
                }
                c = text[at] | (text[at + 1] << 8);
                at += 2;
            } else {
                c = text[at++];
            }
            if (c == '\n') break;
            if (c == '\r') continue;
            if (c > 0x7F) c = '?';
            if (n + 1 < capacity) out[n++] = static_cast<char>(c);
        }
        out[n] = '\0';
        return true;
    }
};

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool equalNoCase(const char *a, size_t an, const char *b) {
    size_t bn = strlen(b);
    if (an != bn) return false;
    for (size_t i = 0; i < an; ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// Trim spaces and tabs at both ends in place; returns the start.
char *trim(char *s) {
    while (*s == ' ' || *s == '\t') ++s;
    size_t n = strlen(s);
    while (n && (s[n - 1] == ' ' || s[n - 1] == '\t')) s[--n] = '\0';
    return s;
}

}  // namespace

bool findRegistryDword(const unsigned char *text, size_t size, const char *keyPath, const char *valueName,
                       uint32_t *value) {
    if (!text || !keyPath || !valueName || !value) return false;
    Lines lines{text, size, 0, false};
    if (size >= 2 && text[0] == 0xFF && text[1] == 0xFE) {
        lines.wide = true;
        lines.at = 2;
    } else if (size >= 3 && text[0] == 0xEF && text[1] == 0xBB && text[2] == 0xBF) {
        lines.at = 3;
    }
    char line[1024];
    // The header is the first line that is not blank.
    char *s = nullptr;
    while (lines.next(line, sizeof line)) {
        s = trim(line);
        if (*s) break;
    }
    if (!s || (strcmp(s, "REGEDIT4") != 0 && strcmp(s, "Windows Registry Editor Version 5.00") != 0)) return false;

    bool inSection = false, found = false;
    uint32_t result = 0;
    while (lines.next(line, sizeof line)) {
        s = trim(line);
        if (*s == '[') {
            size_t n = strlen(s);
            inSection = n >= 2 && s[n - 1] == ']' && equalNoCase(s + 1, n - 2, keyPath);
            continue;
        }
        if (!inSection || *s != '"') continue;
        char *close = strchr(s + 1, '"');
        if (!close || !equalNoCase(s + 1, static_cast<size_t>(close - s - 1), valueName)) continue;
        char *rest = close + 1;
        while (*rest == ' ' || *rest == '\t') ++rest;
        if (*rest != '=') continue;
        ++rest;
        while (*rest == ' ' || *rest == '\t') ++rest;
        // A later line for the same value replaces an earlier one, whatever
        // its type: a value that ends up not being a dword does not count.
        found = false;
        if (strncmp(rest, "dword:", 6) != 0) continue;
        rest += 6;
        uint32_t v = 0;
        int digits = 0;
        for (; *rest; ++rest, ++digits) {
            char c = lower(*rest);
            unsigned d;
            if (c >= '0' && c <= '9')
                d = static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                d = static_cast<unsigned>(c - 'a' + 10);
            else
                break;
            if (digits == 8) break;
            v = (v << 4) | d;
        }
        // A ninth digit stays in rest: junk behind the value.
        if (digits == 0 || *trim(rest) != '\0') continue;
        result = v;
        found = true;
    }
    if (found) *value = result;
    return found;
}

}  // namespace tovix
