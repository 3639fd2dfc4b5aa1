// Headwords to offer for a word that is not found.
#ifndef ZAV_READER_SUGGEST_H
#define ZAV_READER_SUGGEST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "key_reader.h"
#include "status.h"

namespace zavreader {

struct Suggestion {
    std::string headword;  // as stored (the table's code page)
    uint32_t distance;     // edits from the word; 0 for a neighbour of its place
};

// Up to count headwords: near spellings first (one or two character edits
// away, nearest first), then the keys around the place where the word would
// stand.
Status suggestWords(KeyReader &reader, const std::string &word, size_t count, std::vector<Suggestion> *out);

}  // namespace zavreader

#endif
