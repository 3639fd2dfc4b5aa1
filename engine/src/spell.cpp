// The spell-checking entry points: verification by bisection, correction
// and wildcard listing by one sequential pass over the word list.
#include <stdlib.h>
#include <string.h>

#include "ZoZizID.h"
#include "tovix/collation.h"
#include "handles.h"
#include "tovix/le.h"

using namespace zozizid;

namespace {

constexpr uint32_t kMaxQueryBytes = 255;
constexpr size_t kMaxWordChars = 65535;
constexpr size_t kScanBufferSize = size_t{128} * 1024;  // holds the longest word with its length

// Reads the word list from its start, record by record, in large chunks.
class WordScanner {
public:
    explicit WordScanner(const Dictionary &d)
        : dict_(d),
          buffer_(static_cast<unsigned char *>(os::heapAlloc(kScanBufferSize))),
          filePos_(d.wordsOffset),
          remaining_(d.wordCount) {}
    ~WordScanner() { os::heapFree(buffer_); }
    WordScanner(const WordScanner &) = delete;
    WordScanner &operator=(const WordScanner &) = delete;

    bool ok() const { return buffer_ != nullptr; }

    // The next word; false at the end of the list or where it is damaged.
    bool next(const unsigned char **word, uint32_t *length) {
        if (remaining_ == 0 || !ensure(2)) return false;
        uint32_t n = tovix::le16(buffer_ + at_);
        if (n == 0 || !ensure(2 + size_t{n})) return false;
        *word = buffer_ + at_ + 2;
        *length = n;
        at_ += 2 + size_t{n};
        --remaining_;
        return true;
    }

private:
    bool ensure(size_t n) {
        if (have_ - at_ >= n) return true;
        memmove(buffer_, buffer_ + at_, have_ - at_);
        have_ -= at_;
        at_ = 0;
        uint64_t left = dict_.wordsEnd - filePos_;
        size_t want = kScanBufferSize - have_;
        if (want > left) want = static_cast<size_t>(left);
        if (want > 0) {
            if (!readBytes(dict_, filePos_, buffer_ + have_, want)) return false;
            have_ += want;
            filePos_ += want;
        }
        return have_ - at_ >= n;
    }

    const Dictionary &dict_;
    unsigned char *buffer_;
    size_t have_ = 0, at_ = 0;
    uint64_t filePos_;
    uint32_t remaining_;
};

inline bool isLead(unsigned char c) { return c >= 0x80; }
inline size_t charLength(const unsigned char *p, size_t left) { return isLead(p[0]) && left >= 2 ? 2 : 1; }

// The headword of a word: without leading spaces, without the homograph
// suffix (from the first single-byte "@") and the spaces before it. A zero
// byte ends the word, also where it follows a lead byte (which then ends
// the word alone). *hasSuffix tells whether a suffix was cut off.
void headword(const unsigned char *word, size_t length, size_t *start, size_t *headLength, bool *hasSuffix) {
    size_t i = 0;
    while (i < length && word[i] == ' ') ++i;
    size_t begin = i;
    bool suffix = false;
    while (i < length && word[i] != 0) {
        if (word[i] == '@') {
            suffix = true;
            break;
        }
        size_t step = charLength(word + i, length - i);
        if (step == 2 && word[i + 1] == 0) {
            ++i;
            break;
        }
        i += step;
    }
    size_t end = i;
    while (end > begin && word[end - 1] == ' ') --end;
    *start = begin;
    *headLength = end - begin;
    if (hasSuffix) *hasSuffix = suffix;
}

// Characters of a text as codes: a single-byte character folded to lower
// case, a double-byte one as lead << 8 | trail. Returns the count, or
// capacity + 1 when the text has more characters than capacity.
size_t characters(const unsigned char *text, size_t length, uint16_t *out, size_t capacity) {
    size_t count = 0;
    for (size_t i = 0; i < length;) {
        if (count == capacity) return capacity + 1;
        unsigned char c = text[i];
        if (isLead(c)) {
            out[count++] = static_cast<uint16_t>(c << 8 | (i + 1 < length ? text[i + 1] : 0));
            i += charLength(text + i, length - i);
        } else {
            out[count++] = c >= 'A' && c <= 'Z' ? static_cast<uint16_t>(c + 32) : c;
            ++i;
        }
    }
    return count;
}

// The longest prefix of text, at most limit bytes, that ends on a character
// boundary.
size_t cutAtCharacter(const unsigned char *text, size_t length, size_t limit) {
    size_t i = 0;
    while (i < length) {
        size_t step = charLength(text + i, length - i);
        if (i + step > limit) break;
        i += step;
    }
    return i;
}

// Edit distance of a and b when it is at most limit, else limit + 1. Only
// the band |i - j| <= limit of the table is computed, and the computation
// stops at the first row whose every cell exceeds limit. prev and cur hold
// m + 1 entries.
int boundedDistance(const uint16_t *a, size_t n, const uint16_t *b, size_t m, int limit, int *prev, int *cur) {
    const int over = limit + 1;
    const size_t band = static_cast<size_t>(limit);
    if ((n > m ? n - m : m - n) > band) return over;
    for (size_t j = 0; j <= m; ++j) prev[j] = j <= band ? static_cast<int>(j) : over;
    for (size_t i = 1; i <= n; ++i) {
        size_t lo = i > band ? i - band : 1;
        size_t hi = i + band < m ? i + band : m;
        cur[lo - 1] = lo == 1 ? (i <= band ? static_cast<int>(i) : over) : over;
        int rowMin = cur[lo - 1];
        for (size_t j = lo; j <= hi; ++j) {
            int v = prev[j - 1] + (a[i - 1] != b[j - 1] ? 1 : 0);
            if (prev[j] + 1 < v) v = prev[j] + 1;
            if (cur[j - 1] + 1 < v) v = cur[j - 1] + 1;
            if (v > over) v = over;
            cur[j] = v;
            if (v < rowMin) rowMin = v;
        }
        if (hi < m) cur[hi + 1] = over;
        if (rowMin > limit) return over;
        int *t = prev;
        prev = cur;
        cur = t;
    }
    return prev[m] <= limit ? prev[m] : over;
}

constexpr uint32_t kStar = 0x10000, kAny = 0x10001;

// Whether the whole word matches the pattern ("*" any run, "?" one
// character). Star backtracking: at most n x m steps.
bool globMatch(const uint32_t *pattern, size_t m, const uint16_t *word, size_t n) {
    size_t p = 0, w = 0, mark = 0;
    bool haveStar = false;
    size_t star = 0;
    while (w < n) {
        if (p < m && (pattern[p] == kAny || pattern[p] == word[w])) {
            ++p;
            ++w;
        } else if (p < m && pattern[p] == kStar) {
            haveStar = true;
            star = p++;
            mark = w;
        } else if (haveStar) {
            p = star + 1;
            w = ++mark;
        } else {
            return false;
        }
    }
    while (p < m && pattern[p] == kStar) ++p;
    return p == m;
}

// Length of a host text of at most kMaxQueryBytes bytes; false when longer.
bool queryLength(const char *text, size_t *length) {
    size_t n = strnlen(text, kMaxQueryBytes + 1);
    if (n > kMaxQueryBytes) return false;
    *length = n;
    return true;
}

struct Candidate {
    int distance;
    size_t length;
    char text[2 * (kMaxQueryBytes + 3) + 1];  // the headword, NUL-terminated
};

}  // namespace

extern "C" {

ZOZIZID_API uintptr_t ZOZIZID_CALL SCCreateHandleEx(uint32_t dictId) noexcept {
    return openHandle<SpellHandle>(dictId);
}

ZOZIZID_API int32_t ZOZIZID_CALL SCFreeHandle(uintptr_t spell) noexcept { return freeHandle(asSpell(spell)); }

ZOZIZID_API int32_t ZOZIZID_CALL SCVerify(uintptr_t spell, intptr_t w, intptr_t) noexcept {
    SpellHandle *s = asSpell(spell);
    const char *word = reinterpret_cast<const char *>(w);
    if (!s || !word) return 0;
    char *buffer = static_cast<char *>(os::heapAlloc(kWordBufferSize));
    if (!buffer) return 0;
    int32_t result = 0;
    uint32_t at = 0, length = 0;
    if (lowerBound(*s->dict, word, buffer, &at) && at < s->dict->wordCount && readWord(*s->dict, at, buffer, &length)) {
        if (tovix::compareKeys(buffer, word) == 0) {
            result = 1;
        } else {
            size_t wordStart, wordHead, start, head;
            bool wordHasSuffix;
            headword(reinterpret_cast<const unsigned char *>(word), strlen(word), &wordStart, &wordHead,
                     &wordHasSuffix);
            headword(reinterpret_cast<const unsigned char *>(buffer), length, &start, &head, nullptr);
            buffer[start + head] = 0;
            if (!wordHasSuffix && tovix::compareKeys(buffer + start, word) == 0) result = 1;
        }
    }
    os::heapFree(buffer);
    return result;
}

ZOZIZID_API int32_t ZOZIZID_CALL SCCorrection(uintptr_t spell, intptr_t w, intptr_t x, uint8_t y) noexcept {
    SpellHandle *s = asSpell(spell);
    const char *word = reinterpret_cast<const char *>(w);
    char *out = reinterpret_cast<char *>(x);
    size_t wordLength;
    if (!s || !word || !out || y == 0 || !queryLength(word, &wordLength)) return 0;

    uint16_t query[kMaxQueryBytes];
    size_t qStart, qHead;
    headword(reinterpret_cast<const unsigned char *>(word), wordLength, &qStart, &qHead, nullptr);
    size_t qn = characters(reinterpret_cast<const unsigned char *>(word) + qStart, qHead, query, kMaxQueryBytes);
    if (qn == 0) return 0;
    const int maxDistance = qn <= 4 ? 1 : qn <= 8 ? 2 : 3;
    const size_t maxChars = qn + static_cast<size_t>(maxDistance);

    WordScanner scanner(*s->dict);
    Candidate *kept = static_cast<Candidate *>(os::heapAlloc(sizeof(Candidate) * y));
    uint16_t *chars = static_cast<uint16_t *>(os::heapAlloc(sizeof(uint16_t) * (maxChars + 1)));
    int *rows = static_cast<int *>(os::heapAlloc(sizeof(int) * 2 * (maxChars + 2)));
    size_t count = 0;
    if (scanner.ok() && kept && chars && rows) {
        const unsigned char *entry;
        uint32_t entryLength;
        while (scanner.next(&entry, &entryLength)) {
            // Once every slot is taken, only a strictly closer word gets in.
            int limit = count == y ? kept[count - 1].distance - 1 : maxDistance;
            if (limit < 0) break;
            size_t start, head;
            headword(entry, entryLength, &start, &head, nullptr);
            size_t n = characters(entry + start, head, chars, maxChars);
            if (n == 0 || n > maxChars) continue;
            int d = boundedDistance(query, qn, chars, n, limit, rows, rows + maxChars + 2);
            if (d > limit) continue;
            Candidate c;
            c.distance = d;
            c.length = head;
            memcpy(c.text, entry + start, head);
            c.text[head] = 0;
            bool duplicate = false;
            for (size_t i = 0; i < count && !duplicate; ++i) duplicate = tovix::compareKeys(kept[i].text, c.text) == 0;
            if (duplicate) continue;
            // The slot to fill, below y (when every slot is taken, the last, whose word drops out), then move up.
            size_t at = count < y ? count : count - 1;
            while (at > 0 && kept[at - 1].distance > d) {
                kept[at] = kept[at - 1];
                --at;
            }
            kept[at] = c;
            if (count < y) ++count;
        }
        for (size_t i = 0; i < count; ++i) {
            size_t n = cutAtCharacter(reinterpret_cast<const unsigned char *>(kept[i].text), kept[i].length,
                                      ZOZIZID_SLOT_SIZE - 1);
            memcpy(out + ZOZIZID_SLOT_SIZE * i, kept[i].text, n);
            out[ZOZIZID_SLOT_SIZE * i + n] = 0;
        }
    }
    os::heapFree(rows);
    os::heapFree(chars);
    os::heapFree(kept);
    return static_cast<int32_t>(count);
}

ZOZIZID_API int32_t ZOZIZID_CALL SCWildcard(uintptr_t spell, intptr_t w, intptr_t x, uint8_t y, intptr_t z) noexcept {
    SpellHandle *s = asSpell(spell);
    const char *patternText = reinterpret_cast<const char *>(w);
    char *out = reinterpret_cast<char *>(x);
    if (!out || z < 1) return 0;
    const size_t size = static_cast<size_t>(z);
    out[0] = 0;  // the empty list, until words are added
    size_t patternLength;
    if (!s || !patternText || y == 0 || !queryLength(patternText, &patternLength)) return 0;

    uint32_t pattern[kMaxQueryBytes];
    size_t m = 0;
    for (size_t i = 0; i < patternLength;) {
        const unsigned char *p = reinterpret_cast<const unsigned char *>(patternText) + i;
        size_t step = charLength(p, patternLength - i);
        uint16_t code = 0;
        characters(p, step, &code, 1);
        pattern[m++] = *p == '*' ? kStar : *p == '?' ? kAny : code;
        i += step;
    }

    WordScanner scanner(*s->dict);
    uint16_t *chars = static_cast<uint16_t *>(os::heapAlloc(sizeof(uint16_t) * kMaxWordChars));
    char *headText = static_cast<char *>(os::heapAlloc(kWordBufferSize));
    size_t count = 0, used = 0, last = 0;  // last: where the previous word written starts
    if (scanner.ok() && chars && headText) {
        const unsigned char *entry;
        uint32_t entryLength;
        while (count < y && scanner.next(&entry, &entryLength)) {
            size_t start, head;
            headword(entry, entryLength, &start, &head, nullptr);
            size_t n = characters(entry + start, head, chars, kMaxWordChars);
            if (n == 0 || !globMatch(pattern, m, chars, n)) continue;
            memcpy(headText, entry + start, head);
            headText[head] = 0;
            if (count > 0 && tovix::compareKeys(out + last, headText) == 0) continue;
            if (head + 2 > size - used) break;  // the word, its NUL and the list's final NUL
            memcpy(out + used, headText, head + 1);
            last = used;
            used += head + 1;
            out[used] = 0;
            ++count;
        }
    }
    os::heapFree(headText);
    os::heapFree(chars);
    return static_cast<int32_t>(count);
}

}  // extern "C"
