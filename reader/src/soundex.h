// The soundex code of a word, as DICT servers compute it: the word's first
// character, then up to three digits for the sounds of the letters after it.
#ifndef ZAV_READER_SOUNDEX_H
#define ZAV_READER_SOUNDEX_H

#include <string>
#include <string_view>

namespace zavreader {

// The code of case-folded UTF-8 text: its first character as it is (any
// script), then a digit for each run of the ASCII consonants b f p v (1),
// c g j k q s x z (2), d t (3), l (4), m n (5) and r (6), padded with 0 to
// three digits. A consonant whose digit is the same as the one before it
// (the first character's too) adds nothing; a vowel, y, h or w between two
// such consonants makes them count twice; any other character (a space, a
// digit, a letter outside ASCII) is passed over. Empty for empty text.
std::string soundex(std::string_view folded);

}  // namespace zavreader

#endif
