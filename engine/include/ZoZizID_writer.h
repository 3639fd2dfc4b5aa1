// Writer of ZoZizID dictionary files, for the book tool and the tests.
//
// A dictionary file holds the word records of one dictionary (one dictId):
// each record has its word and any number of contents keyed by a content id.
// The main content of a record has the content id equal to the dictId; the
// sub contents that the book module asks for as sub pages have the id
// subContentId(dictId, sub). See ZoZizID.h for the file layout and for the
// folder the engine reads dictionaries from.
//
// Not part of the engine library: link the static library `zozizid_writer`.
#ifndef ZOZIZID_WRITER_H
#define ZOZIZID_WRITER_H

#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zozizid {

// One word record.
struct DictWord {
    std::string word;                          // 1 to 65535 bytes, no zero byte
    std::map<uint32_t, std::string> contents;  // content id -> bytes; at most 1024 per word
};

// The content id of the main content of a record of dictionary dictId.
inline uint32_t mainContentId(uint32_t dictId) { return dictId; }

// The content id of sub content `sub` of a record of dictionary dictId, the
// id under which the book module reads sub page `sub` of a table page:
// dictId | (((sub & 0x7F) | 0x80) << 24).
inline uint32_t subContentId(uint32_t dictId, uint32_t sub) { return dictId | (((sub & 0x7Fu) | 0x80u) << 24); }

// The file name of dictionary dictId, without folder: eight lower-case hex
// digits and ".zzd", e.g. "0001ab01.zzd".
std::string dictionaryFileName(uint32_t dictId);

// folder + "/" + dictionaryFileName(dictId) (no separator added when the
// folder is empty or already ends in one).
std::string dictionaryPath(const std::string &folder, uint32_t dictId);

// Lay out a dictionary in memory. The words are sorted under the key
// collation (stably: words that compare equal keep their order), so record
// index i is the i-th word in that order. Returns false with a message in
// *error (may be null) for a word that is empty, longer than 65535 bytes or
// holds a zero byte, more than 1024 contents in a word, a content of 2 GiB
// or more, or a file of 4 GiB or more. *out is unchanged on failure.
bool buildDictionary(uint32_t dictId, std::vector<DictWord> words, std::vector<uint8_t> *out, std::string *error);

// buildDictionary, then write the bytes to path (replacing the file).
// False with a message in *error on a description or I/O error.
bool writeDictionary(const std::string &path, uint32_t dictId, std::vector<DictWord> words, std::string *error);

}  // namespace zozizid

#endif
