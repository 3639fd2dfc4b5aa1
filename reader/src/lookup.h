// Looking words up in one table as a reader expects: every entry whose key
// compares equal to the word, the entry the module's own look-up leads to
// first, then the word's case fold; prefix completion; one key's entry.
#ifndef ZAV_READER_LOOKUP_H
#define ZAV_READER_LOOKUP_H

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "budget.h"
#include "key_reader.h"
#include "status.h"

namespace zavreader {

// One entry found in a table; texts as stored (the table's code page).
struct Found {
    uint32_t keyIndex = 0;  // the key that leads to it (a fold key's headword key)
    std::string key;        // that key's text
    int64_t page = 0;
    uint32_t offset = 0;
    uint32_t how = ZAVR_HOW_EXACT;
    uint32_t distance = 0;
    bool withText = false;
    std::string text;    // when withText and readable
    std::string reason;  // when withText and not readable
};

// Pages and offsets already answered, so that each entry comes once.
using Seen = std::set<std::pair<int64_t, uint32_t>>;

// Entries of `word` (in the table's own code page) in the reader's table:
// the one ZAVSearchKeyWord leads to first, the other keys equal under the
// key collation (homographs of a bare word too), then those of the word's
// case fold (marked ZAVR_HOW_CASE). first: only the first entry.
Status lookupWord(KeyReader &reader, const std::string &word, bool first, bool withText, Seen *seen, Budget &budget,
                  std::vector<Found> *out);

// Table page `page` of `table` whole, or nullopt with *reason
// saying why it cannot be read (an empty page of a plain book counts only
// when the file shows it empty).
std::optional<std::string> soundPage(const Book &book, BookHandle handle, int32_t table, int64_t page,
                                     std::string *reason);

// The entry key `index` leads to, as found by `how`.
Status entryOf(KeyReader &reader, uint32_t index, uint32_t how, bool withText, Seen *seen, std::vector<Found> *out);

// Up to count distinct headwords (bodies, as stored) whose keys start with
// prefix or with its fold, ASCII letters in any case, in key order.
Status completeWord(KeyReader &reader, const std::string &prefix, size_t count, Budget &budget,
                    std::vector<std::pair<uint32_t, std::string>> *out);

}  // namespace zavreader

#endif
