// A table's keys in memory: their texts as stored, in key order, and which
// were added for a headword's case fold. Loaded once for the strategies that
// look at every key, the accent-insensitive look-up and key walks.
//
// A plain book's key list is read from the file in large reads (the module
// reads one key per call and keeps nothing, which costs a system call or more
// per key); what it reads is checked against the module's own answers for a
// sample of keys, and the module is asked for every key instead when any of
// them differs or the list cannot be read whole. A dictionary book's keys come
// from the module, one call each.
#ifndef ZAV_READER_KEY_LIST_H
#define ZAV_READER_KEY_LIST_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "book.h"
#include "budget.h"
#include "status.h"

namespace zavreader {

class KeyList {
public:
    // attribute: the key's attribute byte (plain books; 0 in dictionary
    // books).
    // False when the list cannot grow (its texts are addressed by 32-bit
    // offsets): nothing is added then.
    bool add(std::string_view text, bool fold, uint8_t attribute);
    void seal();
    size_t size() const { return fold_.size(); }
    std::string_view text(size_t i) const {
        return std::string_view(arena_).substr(starts_[i],
                                               (i + 1 < starts_.size() ? starts_[i + 1] : arena_.size()) - starts_[i]);
    }
    bool isFold(size_t i) const { return (fold_[i] & kFoldBit) != 0; }
    uint8_t attribute(size_t i) const { return attributes_[i]; }
    uint64_t bytes() const {
        return arena_.capacity() + starts_.capacity() * 4 + fold_.capacity() + attributes_.capacity();
    }

private:
    std::string arena_;
    std::vector<uint32_t> starts_;
    static constexpr uint8_t kFoldBit = 1;
    std::vector<uint8_t> fold_, attributes_;
};

// The most keys a table may bring into memory.
constexpr uint32_t kMostKeysInMemory = 16u << 20;

// Load every key of `table`. A failed or cancelled load leaves *out
// unspecified; its status says why.
Status loadKeyList(const Book &book, BookHandle handle, int32_t table, Budget &budget, KeyList *out);

}  // namespace zavreader

#endif
