// An open dictionary file and its word records. A Dictionary is shared by
// the handles that use it (HDICT, HWORD, spell handle) and closed with the
// last of them.
#ifndef ZOZIZID_DICTIONARY_H
#define ZOZIZID_DICTIONARY_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "engine_os.h"
#include "resident.h"

namespace zozizid {

// One open of a dictionary file: the file, the Resident of its version
// (shared with other opens of the same version) and a copy of its layout.
struct Dictionary : Layout {
    std::atomic<uint32_t> refs{1};
    os::File file = os::kNoFile;
    Resident *resident = nullptr;
};

// Open and validate the file of dictId in the dictionary folder; null when
// it is missing, damaged or memory runs out. The result holds one reference.
Dictionary *openDictionary(uint32_t dictId);
// Open and validate a dictionary file by path (the caller checks dictId).
Dictionary *openDictionaryFile(const char *path);
void retain(Dictionary *dict);
void release(Dictionary *dict);

// Read exactly n bytes of the dictionary's file at `at`: from the resident
// copies when they hold the range, else from the file.
bool readBytes(const Dictionary &dict, uint64_t at, void *buffer, size_t n);

// One content of a record: its id and where its bytes are.
struct ContentEntry {
    uint32_t id;
    uint32_t offset;
    uint32_t length;
};

// A word record read into memory: its word (NUL-terminated) and content
// table. The content bytes stay in the file.
struct WordRecord {
    uint32_t index = 0;
    uint32_t wordLength = 0;
    char *word = nullptr;
    uint32_t contentCount = 0;
    ContentEntry *contents = nullptr;  // ascending ids
};

// Read record `index` (below wordCount); false when it is damaged or memory
// runs out. freeRecord releases what a successful read allocated.
bool readRecord(const Dictionary &dict, uint32_t index, WordRecord *out);
void freeRecord(WordRecord *record);

// Read the word of record `index` into buffer (capacity at least 65536
// bytes), NUL-terminated; its length in *length. False when damaged.
constexpr size_t kWordBufferSize = 65536;
bool readWord(const Dictionary &dict, uint32_t index, char *buffer, uint32_t *length);

// The first record whose word does not sort before `word` under the key
// collation (wordCount when every word sorts before it). buffer as for
// readWord. False when a probe cannot be read.
bool lowerBound(const Dictionary &dict, const char *word, char *buffer, uint32_t *result);

// The record that a book's key search would match for `word` (equal, or
// its homograph 1): true with *index set when found.
bool findWord(const Dictionary &dict, const char *word, uint32_t *index);

// The content entry with id contentId of a record, or null.
const ContentEntry *findContent(const WordRecord &record, uint32_t contentId);

}  // namespace zozizid

#endif
