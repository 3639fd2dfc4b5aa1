"""The key collation of book tables, for looking words up as the module does.

Keys are byte strings in the code page of their table. The order ignores the
case of ASCII letters and the spaces around the body of a key, puts every
single-byte character before every double-byte one, and compares a final
"@n" homograph number as a number.
"""

import unicodedata

_AT, _SPACE = 0x40, 0x20


def _int32(value):
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


def _lower(byte):
    return byte + 32 if 0x41 <= byte <= 0x5A else byte


def _skip_spaces(text, i):
    while i < len(text) and text[i] == _SPACE:
        i += 1
    return i


def _ended(text, i):
    return i >= len(text) or text[i] == 0 or text[i] == _AT


def _homograph(text, i):
    if i < len(text) and text[i] == _AT:
        i += 1
    value = 0
    for byte in text[i:]:
        if byte == 0:
            break
        signed = byte - 256 if byte >= 0x80 else byte
        value = _int32(value * 10 + signed - 48)
    return value


def _sign(value):
    return (value > 0) - (value < 0)


def compare_keys(first, second):
    """-1, 0 or 1 as the key `first` sorts before, with or after `second` (bytes)."""
    a, b = _skip_spaces(first, 0), _skip_spaces(second, 0)
    while True:
        if _ended(first, a):
            b = _skip_spaces(second, b)
            if _ended(second, b):
                break
            return -1
        if _ended(second, b):
            a = _skip_spaces(first, a)
            if _ended(first, a):
                break
            return 1
        x, y = first[a], second[b]
        if x < 0x80 and y < 0x80:
            if _lower(x) != _lower(y):
                return _sign(_lower(x) - _lower(y))
            a, b = a + 1, b + 1
            continue
        if x < 0x80 or y < 0x80:
            return -1 if x < 0x80 else 1
        if x != y:
            return _sign(x - y)
        tx = first[a + 1] if a + 1 < len(first) else 0
        ty = second[b + 1] if b + 1 < len(second) else 0
        if tx != ty:
            return _sign(tx - ty)
        a, b = a + 2, b + 2
    return _sign(_int32(_homograph(first, a) - _homograph(second, b)))


def _suffix_at(key):
    """Position of the "@" that starts the homograph suffix, or None."""
    i = 0
    while i < len(key):
        if key[i] >= 0x80:
            i += 2
        elif key[i] == _AT:
            return i
        else:
            i += 1
    return None


def key_body(key):
    """The key without its homograph suffix and the spaces around it (bytes)."""
    at = _suffix_at(key)
    return (key if at is None else key[:at]).strip(b" ")


def has_homograph(key):
    return _suffix_at(key) is not None


def fold_case(word):
    """Simple case folding of a str after composition, like the book tool's."""
    word = unicodedata.normalize("NFC", word)
    out = []
    for ch in word:
        folded = ch.casefold()
        out.append(folded if len(folded) == 1 else ch.lower())
    return unicodedata.normalize("NFC", "".join(out))
