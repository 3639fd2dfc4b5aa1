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

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace zozizid {

// One word record.
struct DictWord {
    std::string word;                          // 1 to 65535 bytes, no zero byte
    std::map<uint32_t, std::string> contents;  // content id -> bytes; at most 1024 per word
};

// Word records held compactly, for dictionaries too large to hold as one
// DictWord each: the bytes of the words and contents lie in large blocks that
// never move, and each word and content costs a small fixed entry besides.
class DictWordTable {
public:
    // Start a record with its word; the word's bytes are kept with a zero
    // byte after them.
    void addWord(std::string_view word);
    // Add a content to the last record (there must be one). A record's
    // contents are written in ascending content id; of two with the same id
    // the one added later is kept, as when assigning into a map. A content
    // of 4 GiB or more is recorded as too long and refused when written.
    void addContent(uint32_t id, std::string_view bytes);

    size_t size() const { return words_.size(); }
    std::string_view word(size_t i) const { return {words_[i].data, words_[i].size}; }
    const char *wordText(size_t i) const { return words_[i].data; }  // zero-terminated
    size_t contentCount(size_t i) const { return contentEnd(i) - words_[i].firstContent; }
    uint32_t contentId(size_t i, size_t k) const { return contents_[words_[i].firstContent + k].id; }
    uint32_t contentSize(size_t i, size_t k) const { return contents_[words_[i].firstContent + k].size; }
    const char *contentData(size_t i, size_t k) const { return contents_[words_[i].firstContent + k].data; }
    // Change every content id: id = f(id). For ids given before the dictId was known.
    template <typename F>
    void mapContentIds(F f) {
        for (Entry &c : contents_) c.id = f(c.id);
    }
    // Put each record's contents in ascending content id (stably).
    void sortContents();

private:
    struct Entry {
        const char *data;
        uint32_t size;
        uint32_t id;
    };
    struct Word {
        const char *data;
        uint32_t size;
        uint32_t firstContent;
    };
    const char *keep(std::string_view bytes, bool zeroAfter);
    size_t contentEnd(size_t i) const { return i + 1 < words_.size() ? words_[i + 1].firstContent : contents_.size(); }

    std::vector<std::unique_ptr<char[]>> blocks_;
    size_t blockLeft_ = 0;
    char *blockAt_ = nullptr;
    std::vector<Word> words_;
    std::vector<Entry> contents_;
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

// The same for words held in a table. The file is written as it is laid
// out, so no image of it is held in memory. The table's records are put in
// content id order in place.
bool buildDictionary(uint32_t dictId, DictWordTable &words, std::vector<uint8_t> *out, std::string *error);
bool writeDictionary(const std::string &path, uint32_t dictId, DictWordTable &words, std::string *error);

// The record order of the words: element i is the index in the table of
// the word that becomes record i (the words sorted, stably, under the key
// collation).
std::vector<uint32_t> recordOrder(const DictWordTable &words);

}  // namespace zozizid

#endif
