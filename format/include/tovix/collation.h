// The key collation: the order of a book's key lists and the rule by which a
// look-up compares a stored key with the host's word.
//
// The order ignores the case of ASCII letters (both sides folded to lower
// case), leading spaces and the spaces that end the body; it sorts every
// single-byte character (0x01-0x7F) before every double-byte character (a
// lead byte 0x80-0xFF and the byte after it), orders double-byte characters
// by their raw bytes, and compares a final "@" and homograph number as a
// number: bank < bank@1 < bank@2 < bank@10.
#ifndef TOVIX_COLLATION_H
#define TOVIX_COLLATION_H

#include <stddef.h>
#include <stdint.h>

namespace tovix {

// Three-way comparison of two NUL-terminated key texts; either may be null
// (null equals the empty text and a text of spaces). Only the sign counts.
int32_t compareKeys(const char *first, const char *second);

// Compare a key read from the file with the host's query. storedKey holds
// storedLength bytes and a terminator, and may be shortened in place: when
// the first comparison is not 0 and the stored key ends in "@1" (length above
// 2), the suffix and the spaces before it are dropped and the query is tried
// again; a match there gives 0, otherwise the first result stands.
int32_t compareStoredKey(char *storedKey, uint32_t storedLength, const char *query);

}  // namespace tovix

#endif
