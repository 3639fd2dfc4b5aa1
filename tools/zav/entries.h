// Looking words up as a reader expects: every entry whose key compares equal
// to the word, whatever the case of its letters, and suggestions on a miss.
// No printing: `zav lookup` and the dictionary server both answer from here.
//
// Case. The key collation folds ASCII letters only. Imported UTF-8 books
// carry, beside each headword whose Unicode case fold differs from its ASCII
// fold, a second key holding the folded text (foldedKeysFor), marked with
// kFoldedKeyAttribute. A look-up tries the word as given and then its fold
// (foldCase), so "Über", "ÜBER" and "über" all reach the entries of "Über".
#ifndef ZAV_TOOL_ENTRIES_H
#define ZAV_TOOL_ENTRIES_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "book_host.h"
#include "tovix/format.h"
#include "zav/book_writer.h"

namespace zavtool {

// The attribute byte of a key added for a headword's case fold; it leads to
// the same table page as the headword's own key, whose page-to-key entry is
// that headword.
constexpr uint8_t kFoldedKeyAttribute = tovix::KEY_ATTRIBUTE_CASE_FOLD;

// One entry of a table: the key that leads to it and the entry's text (the
// page from the key's offset on).
struct Entry {
    uint32_t keyIndex = 0;
    std::string key;   // the headword as stored (the original, for a folded key)
    int64_t page = 0;  // table page index
    uint32_t offset = 0;
    std::string text;
};

struct Lookup {
    std::vector<Entry> entries;
    // Not empty when a key, page or the table could not be read: the answer
    // is unknown then, not "not found".
    std::string error;
};

// Unicode simple case folding of UTF-8 text, after composition (NFC), so
// that "École", "ÉCOLE" and a decomposed "école" fold alike. Text that is
// not valid UTF-8 comes back unchanged.
std::string foldCase(const std::string &utf8);

// The extra keys an import adds for a headword so that any case finds it:
// its fold, when that does not compare equal to the headword under the key
// collation (which folds ASCII letters only); else nothing.
std::vector<std::string> foldedKeysFor(const std::string &headword);
// Append those keys to a table being built, leading to the headword's page.
void addFoldedKeys(std::vector<zav::KeyDesc> *keys, const std::string &headword, uint32_t pageNo);

// Every entry whose key compares equal to the word under the key collation,
// its homographs included ("bank" finds bank, bank@1, bank@2), tried as
// given and as folded; each page and offset once. firstOnly: the single
// entry a host's ZAVSearchKeyWord leads to (or the first of the fold).
Lookup lookupEntries(const HostBook &book, int32_t table, const std::string &word, bool firstOnly = false);

// Up to count keys that start with the prefix (ASCII letters in any case,
// and the prefix's fold), in key order, each headword once.
struct KeyList {
    std::vector<std::string> keys;
    std::string error;
};
KeyList prefixKeys(const HostBook &book, int32_t table, const std::string &prefix, size_t count);

// Up to count headwords to offer for a word that is not found: near
// spellings first (one or two character edits away, nearest first), then
// the keys around the place where the word would stand.
KeyList suggestions(const HostBook &book, int32_t table, const std::string &word, size_t count);

// Edit distance in characters (UTF-8 code points; insertions, deletions,
// substitutions and swaps of neighbours), or limit + 1 once it exceeds limit.
size_t editDistance(const std::string &a, const std::string &b, size_t limit);

}  // namespace zavtool

#endif
