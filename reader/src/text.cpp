#include "text.h"

#include <iconv.h>
#include <utf8proc.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "tovix/collation.h"

namespace zavreader {

namespace {

using Bytes = const utf8proc_uint8_t *;

Bytes bytesOf(std::string_view text) { return reinterpret_cast<Bytes>(text.data()); }

void append(std::string *out, utf8proc_int32_t c) {
    utf8proc_uint8_t bytes[4];
    utf8proc_ssize_t n = utf8proc_encode_char(c, bytes);
    out->append(reinterpret_cast<const char *>(bytes), static_cast<size_t>(n));
}

// One code point's simple case fold: the full fold when it is a single code
// point, else the lower case ("ß" stays "ß", "ẞ" becomes "ß").
utf8proc_int32_t simpleFold(utf8proc_int32_t c) {
    utf8proc_int32_t folded[4];
    int boundary = 0;
    utf8proc_ssize_t n = utf8proc_decompose_char(c, folded, 4, UTF8PROC_CASEFOLD, &boundary);
    if (n == 1) return folded[0];
    return utf8proc_tolower(c);
}

// utf8proc_map's result as a string; empty when it fails.
std::string mapped(std::string_view text, int options) {
    utf8proc_uint8_t *out = nullptr;
    utf8proc_ssize_t n = utf8proc_map(bytesOf(text), static_cast<utf8proc_ssize_t>(text.size()), &out,
                                      static_cast<utf8proc_option_t>(options));
    std::unique_ptr<utf8proc_uint8_t, decltype(&std::free)> owner(out, &std::free);
    if (n < 0 || !out) return std::string();
    return std::string(reinterpret_cast<const char *>(out), static_cast<size_t>(n));
}

// Letters that people type without their marks but that have no canonical
// decomposition, and letters a reader does not type at all.
struct Bare {
    char32_t letter;
    const char *typed;
};
constexpr Bare kBareLetters[] = {
    {U'ł', "l"},           {U'ø', "o"},  {U'đ', "d"},  {U'ð', "d"}, {U'ħ', "h"},           {U'ı', "i"},
    {U'ŧ', "t"},           {U'æ', "ae"}, {U'œ', "oe"}, {U'ŀ', "l"}, {U'\u0671', "\u0627"},  // alef wasla: bare alef
    {U'\u0629', "\u0647"},  // teh marbuta: heh, as it is often typed
    {U'\u0649', "\u064A"},  // alef maksura: yeh
    {U'\u0640', ""},        // tatweel
};

}  // namespace

bool isUtf8(std::string_view text, bool nulAllowed) {
    Bytes p = bytesOf(text);
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t c;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0 || (c == 0 && !nulAllowed)) return false;
        p += n;
        left -= n;
    }
    return true;
}

namespace {

// ASCII text folds by lowering its letters, the commonest case by far.
bool lowerAscii(std::string_view text, std::string *out) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80 || c == 0) return false;
    out->assign(text);
    for (char &c : *out)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c + ('a' - 'A'));
    return true;
}

}  // namespace

std::string foldCase(std::string_view utf8) {
    std::string ascii;
    if (lowerAscii(utf8, &ascii)) return ascii;
    if (!isUtf8(utf8)) return std::string(utf8);
    std::string nfc = mapped(utf8, UTF8PROC_STABLE | UTF8PROC_COMPOSE);
    std::string out;
    out.reserve(nfc.size());
    for (char32_t c : codePoints(nfc)) append(&out, simpleFold(static_cast<utf8proc_int32_t>(c)));
    std::string again = mapped(out, UTF8PROC_STABLE | UTF8PROC_COMPOSE);
    return again.empty() && !out.empty() ? out : again;
}

std::string foldAccents(std::string_view utf8) {
    std::string ascii;
    if (lowerAscii(utf8, &ascii)) return ascii;
    if (!isUtf8(utf8)) return std::string(utf8);
    // Full case folding (ß gives ss, final sigma gives sigma), canonical
    // decomposition, marks dropped.
    std::string bare = mapped(utf8, UTF8PROC_STABLE | UTF8PROC_DECOMPOSE | UTF8PROC_CASEFOLD | UTF8PROC_STRIPMARK);
    std::string out;
    out.reserve(bare.size());
    for (char32_t c : codePoints(bare)) {
        const Bare *b = std::find_if(std::begin(kBareLetters), std::end(kBareLetters),
                                     [c](const Bare &x) { return x.letter == c; });
        if (b != std::end(kBareLetters))
            out += b->typed;
        else
            append(&out, static_cast<utf8proc_int32_t>(c));
    }
    return out;
}

int32_t collate(const std::string &a, const std::string &b) { return tovix::compareKeys(a.c_str(), b.c_str()); }

namespace {

// Offset of the end of the body: the first single-byte "@" or the end. The
// byte after a lead byte (0x80 and above) belongs to its character.
size_t bodyEnd(std::string_view key) {
    for (size_t i = 0; i < key.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(key[i]);
        if (c >= 0x80) {
            ++i;
            continue;
        }
        if (c == '@') return i;
    }
    return key.size();
}

}  // namespace

std::string keyBody(std::string_view key) {
    size_t end = bodyEnd(key);
    size_t begin = key.find_first_not_of(' ');
    if (begin == std::string_view::npos || begin >= end) return std::string();
    while (end > begin && key[end - 1] == ' ') --end;
    return std::string(key.substr(begin, end - begin));
}

bool hasHomographSuffix(std::string_view key) { return bodyEnd(key) < key.size(); }

bool bodyStartsWith(std::string_view key, std::string_view prefix) {
    size_t at = key.find_first_not_of(' ');
    if (at == std::string_view::npos) return prefix.empty();
    size_t end = bodyEnd(key);
    if (end < at || end - at < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(key[at + i]), b = static_cast<unsigned char>(prefix[i]);
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a + ('a' - 'A'));
        if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b + ('a' - 'A'));
        if (a != b) return false;
    }
    return true;
}

namespace {

// iconv_open names of the code pages of languages 2 to 5.
const char *const kCodeSets[] = {"CP936", "CP950", "CP932", "CP949"};
constexpr int32_t kFirstCodePageLanguage = 2, kLastCodePageLanguage = 5;

bool isCodePageLanguage(int32_t language) {
    return language >= kFirstCodePageLanguage && language <= kLastCodePageLanguage;
}

bool convert(std::string_view text, const char *to, const char *from, std::string *out) {
    iconv_t cd = iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return false;
    std::string buffer(text.size() * 4 + 4, '\0');
    std::string input(text);
    char *in = input.data();
    size_t inLeft = input.size();
    char *dest = buffer.data();
    size_t outLeft = buffer.size();
    size_t rc = iconv(cd, &in, &inLeft, &dest, &outLeft);
    iconv_close(cd);
    if (rc == static_cast<size_t>(-1) || inLeft != 0) return false;
    buffer.resize(buffer.size() - outLeft);
    *out = std::move(buffer);
    return true;
}

}  // namespace

bool needsConversion(std::string_view text, int32_t language) {
    return isCodePageLanguage(language) || !isUtf8(text, true);
}

std::string toUtf8(std::string_view text, int32_t language) {
    std::string out;
    if (isCodePageLanguage(language) && convert(text, "UTF-8", kCodeSets[language - kFirstCodePageLanguage], &out))
        return out;
    if (isUtf8(text, true)) return std::string(text);
    out.clear();
    for (unsigned char c : text) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::vector<std::string> wordForms(const std::string &word, int32_t language) {
    std::string other;
    if (isCodePageLanguage(language)) {
        if (!convert(word, kCodeSets[language - kFirstCodePageLanguage], "UTF-8", &other) || other.empty()) return {};
        return {other};
    }
    // Latin-1 letters are not folded by the key collation: try the word's
    // fold too.
    std::vector<std::string> forms = {word};
    for (const std::string &w : {word, foldCase(word)}) {
        if (convert(w, "ISO-8859-1", "UTF-8", &other) && !isUtf8(other, true) &&
            std::find(forms.begin(), forms.end(), other) == forms.end())
            forms.push_back(other);
    }
    return forms;
}

size_t editDistance(std::string_view a, std::string_view b, size_t limit) {
    auto x = codePoints(a), y = codePoints(b);
    size_t n = x.size(), m = y.size();
    if ((n > m ? n - m : m - n) > limit) return limit + 1;
    // Three rows of the optimal-string-alignment table.
    std::vector<size_t> before(m + 1), previous(m + 1), current(m + 1);
    for (size_t j = 0; j <= m; ++j) previous[j] = j;
    for (size_t i = 1; i <= n; ++i) {
        current[0] = i;
        size_t rowBest = current[0];
        for (size_t j = 1; j <= m; ++j) {
            size_t cost = x[i - 1] == y[j - 1] ? 0 : 1;
            size_t v = std::min({previous[j] + 1, current[j - 1] + 1, previous[j - 1] + cost});
            if (i > 1 && j > 1 && x[i - 1] == y[j - 2] && x[i - 2] == y[j - 1]) v = std::min(v, before[j - 2] + 1);
            current[j] = v;
            rowBest = std::min(rowBest, v);
        }
        if (rowBest > limit) return limit + 1;
        std::swap(before, previous);
        std::swap(previous, current);
    }
    return std::min(previous[m], limit + 1);
}

std::vector<char32_t> codePoints(std::string_view text) {
    std::vector<char32_t> out;
    Bytes p = bytesOf(text);
    utf8proc_ssize_t left = static_cast<utf8proc_ssize_t>(text.size());
    while (left > 0) {
        utf8proc_int32_t c;
        utf8proc_ssize_t n = utf8proc_iterate(p, left, &c);
        if (n <= 0) {  // not UTF-8: one byte, one character
            c = *p;
            n = 1;
        }
        out.push_back(static_cast<char32_t>(c));
        p += n;
        left -= n;
    }
    return out;
}

std::string utf8Of(const std::vector<char32_t> &chars) {
    std::string out;
    for (char32_t c : chars) {
        utf8proc_uint8_t bytes[4];
        utf8proc_ssize_t n = utf8proc_encode_char(static_cast<utf8proc_int32_t>(c), bytes);
        if (n <= 0) {
            out += static_cast<char>(c);
            continue;
        }
        out.append(reinterpret_cast<const char *>(bytes), static_cast<size_t>(n));
    }
    return out;
}

}  // namespace zavreader
