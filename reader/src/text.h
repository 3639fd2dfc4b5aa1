// Text as a reader compares and reads it: UTF-8 checks, the case fold and the
// accent fold a look-up compares words under, the key body and homograph
// number of the key collation, and conversion from a table's code page.
#ifndef ZAV_READER_TEXT_H
#define ZAV_READER_TEXT_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zavreader {

// Whether text is valid UTF-8, with no NUL unless nulAllowed (a page may
// hold one; a word or key may not).
bool isUtf8(std::string_view text, bool nulAllowed = false);

// Whether a table's text in `language` is not UTF-8 as it stands: a code
// page's, or bytes taken as Latin-1 (toUtf8 converts it).
bool needsConversion(std::string_view text, int32_t language);

// Unicode simple case folding after composition (NFC), so that "École",
// "ÉCOLE" and a decomposed "école" fold alike. Text that is not valid UTF-8
// comes back unchanged.
std::string foldCase(std::string_view utf8);

// The case fold with accents and marks taken off: canonical decomposition,
// combining marks dropped, and the letters people type without their marks
// (е for ё, bare alef for its hamza forms, ss for ß, harakat and tatweel
// ignored, ...). Text that is not valid UTF-8 comes back unchanged.
std::string foldAccents(std::string_view utf8);

// The three-way comparison of the key collation.
int32_t collate(const std::string &a, const std::string &b);
// A key's body: the text before a single-byte "@", spaces around it dropped.
std::string keyBody(std::string_view key);
// Whether a key carries a homograph number ("@" in its single bytes).
bool hasHomographSuffix(std::string_view key);
// Whether a key's body starts with prefix (ASCII letters in any case).
bool bodyStartsWith(std::string_view key, std::string_view prefix);

// Text of a table in `language` as UTF-8: code pages 936, 950, 932 and 949
// are converted, valid UTF-8 passes, other bytes are taken as Latin-1.
std::string toUtf8(std::string_view text, int32_t language);
// The forms a UTF-8 word may take in a table in `language`: its form in the
// table's code page (none when it has none there); for other tables the
// word and, when they differ, the Latin-1 forms of the word and its fold.
std::vector<std::string> wordForms(const std::string &word, int32_t language);

// Edit distance in characters (insertions, deletions, substitutions and
// swaps of neighbours), or limit + 1 once it exceeds limit.
size_t editDistance(std::string_view a, std::string_view b, size_t limit);

// Code points of UTF-8 text (a byte that is not UTF-8 is one code point).
std::vector<char32_t> codePoints(std::string_view text);
std::string utf8Of(const std::vector<char32_t> &chars);

}  // namespace zavreader

#endif
