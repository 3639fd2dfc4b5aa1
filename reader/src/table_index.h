// A table's headwords in memory, for the strategies that look at every one
// (substring, suffix, regular expressions, soundex, lev, word, last) and for
// the accent-insensitive look-up. Built once from the table's keys and read
// by any number of threads afterwards.
//
// Each entry is one headword: the body of a key (spaces around it and its
// "@n" homograph number taken off) in UTF-8, in key order; keys added for a
// headword's case fold are left out, and neighbours with the same headword
// are kept once (the first key stands for them). The texts live in one
// arena, so that an entry costs its three texts plus 16 bytes.
#ifndef ZAV_READER_TABLE_INDEX_H
#define ZAV_READER_TABLE_INDEX_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace zavreader {

class TableIndex {
public:
    // Add the headword of key `keyIndex` (UTF-8). Ignored when empty or when
    // it repeats the headword added last. False when the index cannot grow
    // (its texts are addressed by 32-bit offsets): nothing is added then.
    bool add(uint32_t keyIndex, std::string_view headword);
    // Free unused capacity once every key is in.
    void seal();

    size_t size() const { return entries_.size(); }
    uint32_t keyIndex(size_t i) const { return entries_[i].key; }
    std::string_view headword(size_t i) const { return text(entries_[i].headword, entries_[i].folded); }
    // The headword case folded (foldCase).
    std::string_view folded(size_t i) const { return text(entries_[i].folded, entries_[i].bare); }
    // The headword folded for case and accents (foldAccents).
    std::string_view bare(size_t i) const {
        return text(entries_[i].bare, i + 1 < entries_.size() ? entries_[i + 1].headword : arenaSize());
    }
    // Bytes the index takes.
    uint64_t bytes() const;

private:
    struct Entry {
        uint32_t key;
        uint32_t headword, folded, bare;  // offsets into the arena
    };
    std::string_view text(uint32_t from, uint32_t to) const { return std::string_view(arena_).substr(from, to - from); }
    uint32_t arenaSize() const { return static_cast<uint32_t>(arena_.size()); }
    std::vector<Entry> entries_;
    std::string arena_;
};

}  // namespace zavreader

#endif
