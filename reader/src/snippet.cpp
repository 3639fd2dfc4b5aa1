#include "snippet.h"

#include <algorithm>

#include "text.h"

namespace zavreader {

namespace {

bool wordByte(unsigned char c) {
    return c >= 0x80 || (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool continuation(unsigned char c) { return (c & 0xC0) == 0x80; }

bool hasCjk(const std::string &term) {
    for (char32_t c : codePoints(term))
        if (c >= 0x2E80) return true;
    return false;
}

// Back to the start of the UTF-8 character at or before i.
size_t characterStart(const std::string &s, size_t i) {
    while (i > 0 && i < s.size() && continuation(static_cast<unsigned char>(s[i]))) --i;
    return i;
}

}  // namespace

Snippet snippetOf(const std::string &text, const std::vector<std::string> &terms, size_t room) {
    // Every matching word of the whole text, as byte ranges.
    std::vector<std::pair<size_t, size_t>> found;
    for (size_t i = 0; i < text.size();) {
        if (!wordByte(static_cast<unsigned char>(text[i]))) {
            ++i;
            continue;
        }
        size_t end = i;
        while (end < text.size() && wordByte(static_cast<unsigned char>(text[end]))) ++end;
        std::string folded = foldAccents(std::string_view(text).substr(i, end - i));
        for (const std::string &t : terms) {
            bool prefix = !t.empty() && t.back() == '*';
            std::string_view stem = prefix ? std::string_view(t).substr(0, t.size() - 1) : std::string_view(t);
            if (stem.empty() || hasCjk(t)) continue;
            if (folded.compare(0, stem.size(), stem) == 0) {
                found.emplace_back(i, end);
                break;
            }
        }
        i = end;
    }
    for (const std::string &t : terms) {
        if (!hasCjk(t)) continue;
        std::string plain = t.back() == '*' ? t.substr(0, t.size() - 1) : t;
        for (size_t at = text.find(plain); at != std::string::npos; at = text.find(plain, at + plain.size()))
            found.emplace_back(at, at + plain.size());
    }
    std::sort(found.begin(), found.end());
    // The window: from a little before the first match, to `room` bytes.
    size_t from = found.empty() ? 0 : found.front().first;
    from = from > room / 4 ? characterStart(text, from - room / 4) : 0;
    while (from > 0 && from < text.size() && wordByte(static_cast<unsigned char>(text[from])) &&
           wordByte(static_cast<unsigned char>(text[from - 1])))
        ++from;  // not in the middle of a word
    from = characterStart(text, from);
    size_t to = std::min(text.size(), from + room);
    if (to < text.size()) to = characterStart(text, to);
    Snippet s;
    if (from > 0) s.text = "…";
    size_t shift = s.text.size();
    for (size_t i = from; i < to; ++i) s.text += text[i] == '\n' || text[i] == '\r' || text[i] == '\t' ? ' ' : text[i];
    if (to < text.size()) s.text += "…";
    size_t last = 0;
    for (auto [a, b] : found) {
        if (a < from || b > to || a < last) continue;
        s.marks.push_back(static_cast<uint32_t>(a - from + shift));
        s.marks.push_back(static_cast<uint32_t>(b - from + shift));
        last = b;
    }
    return s;
}

}  // namespace zavreader
