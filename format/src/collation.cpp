#include "tovix/collation.h"

namespace tovix {

namespace {

inline bool isLead(unsigned char c) { return c >= 0x80; }

// The body of a key ends at its terminator or at a single-byte "@".
inline bool ended(const unsigned char *p) { return *p == 0 || *p == '@'; }

inline const unsigned char *skipSpaces(const unsigned char *p) {
    while (*p == ' ') ++p;
    return p;
}

inline unsigned char foldCase(unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; }

// The homograph number from p (just past the body's end) to the terminator:
// value * 10 + (byte - '0') over every byte, the byte taken as signed 8-bit,
// wrapping modulo 2^32.
int32_t homographNumber(const unsigned char *p) {
    if (*p == '@') ++p;
    uint32_t value = 0;
    for (; *p; ++p)
        value = value * 10u + static_cast<uint32_t>(static_cast<int32_t>(static_cast<signed char>(*p)) - 48);
    return static_cast<int32_t>(value);
}

}  // namespace

int32_t compareKeys(const char *firstText, const char *secondText) {
    if (!firstText) {
        if (!secondText) return 0;
        return *skipSpaces(reinterpret_cast<const unsigned char *>(secondText)) == 0 ? 0 : -1;
    }
    if (!secondText) return *skipSpaces(reinterpret_cast<const unsigned char *>(firstText)) != 0 ? 1 : 0;

    const unsigned char *a = skipSpaces(reinterpret_cast<const unsigned char *>(firstText));
    const unsigned char *b = skipSpaces(reinterpret_cast<const unsigned char *>(secondText));
    for (;;) {
        if (ended(a)) {
            b = skipSpaces(b);
            if (!ended(b)) return -1;
            break;
        }
        if (ended(b)) {
            a = skipSpaces(a);
            if (!ended(a)) return 1;
            break;
        }
        unsigned char x = *a, y = *b;
        if (!isLead(x) && !isLead(y)) {
            int32_t d = static_cast<int32_t>(foldCase(x)) - static_cast<int32_t>(foldCase(y));
            if (d != 0) return d;
            ++a;
            ++b;
            continue;
        }
        if (!isLead(x)) return -1;
        if (!isLead(y)) return 1;
        if (x != y) return static_cast<int32_t>(x) - static_cast<int32_t>(y);
        unsigned char tx = a[1], ty = b[1];
        if (tx != ty) return static_cast<int32_t>(tx) - static_cast<int32_t>(ty);
        // Equal lead bytes and equal trail bytes. When both texts end right
        // after the lead byte the "trail bytes" are the terminators: the
        // texts are equal there, and the walk must not step past them.
        if (tx == 0) return 0;
        a += 2;
        b += 2;
    }
    // Equal bodies: the homograph numbers decide, compared as signed
    // numbers. (A wrapping difference would give both orders for numbers
    // 2^31 or more apart, and the key order would no longer be total.)
    int32_t h1 = homographNumber(a);
    int32_t h2 = homographNumber(b);
    return h1 < h2 ? -1 : (h1 > h2 ? 1 : 0);
}

int32_t compareStoredKey(char *storedKey, uint32_t storedLength, const char *query) {
    int32_t m = compareKeys(storedKey, query);
    if (m == 0) return 0;
    if (storedKey && storedLength > 2 && storedKey[storedLength - 2] == '@' && storedKey[storedLength - 1] == '1') {
        uint32_t n = storedLength - 2;
        while (n > 0 && storedKey[n - 1] == ' ') --n;
        storedKey[n] = '\0';
        if (compareKeys(storedKey, query) == 0) return 0;
    }
    return m;
}

}  // namespace tovix
