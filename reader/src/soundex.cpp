#include "soundex.h"

namespace zavreader {

namespace {

// The digit of an ASCII letter: '0' for a, e, i, o, u, y, h and w, which
// separate consonants; 0 for a character that is passed over.
char digitOf(unsigned char c) {
    static constexpr char kDigits[27] = "01230120022455012623010202";  // a..z
    if (c >= 'a' && c <= 'z') return kDigits[c - 'a'];
    if (c >= 'A' && c <= 'Z') return kDigits[c - 'A'];
    return 0;
}

// Bytes of the UTF-8 character that starts with `lead` (1 for a byte that
// does not start one).
size_t charLength(unsigned char lead) {
    if (lead >= 0xF0 && lead < 0xF8) return 4;
    if (lead >= 0xE0) return lead < 0xF0 ? 3 : 1;
    if (lead >= 0xC0) return 2;
    return 1;
}

}  // namespace

std::string soundex(std::string_view folded) {
    if (folded.empty()) return std::string();
    size_t first = charLength(static_cast<unsigned char>(folded[0]));
    if (first > folded.size()) first = 1;
    std::string code(folded.substr(0, first));
    size_t digits = 0;
    char last = digitOf(static_cast<unsigned char>(folded[0]));
    for (size_t i = first; i < folded.size() && digits < 3; ++i) {
        char d = digitOf(static_cast<unsigned char>(folded[i]));
        if (d == 0) continue;  // passed over (bytes of a character outside ASCII too)
        if (d != '0' && d != last) {
            code += d;
            ++digits;
        }
        last = d;
    }
    code.append(3 - digits, '0');
    return code;
}

}  // namespace zavreader
