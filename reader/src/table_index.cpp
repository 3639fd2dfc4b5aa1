#include "table_index.h"

#include "text.h"

namespace zavreader {

void TableIndex::add(uint32_t keyIndex, std::string_view headword) {
    if (headword.empty()) return;
    if (!entries_.empty() && this->headword(entries_.size() - 1) == headword) return;
    Entry e{};
    e.key = keyIndex;
    e.headword = arenaSize();
    arena_.append(headword);
    e.folded = arenaSize();
    arena_ += foldCase(headword);
    e.bare = arenaSize();
    arena_ += foldAccents(headword);
    entries_.push_back(e);
}

void TableIndex::seal() {
    entries_.shrink_to_fit();
    arena_.shrink_to_fit();
}

uint64_t TableIndex::bytes() const { return entries_.capacity() * sizeof(Entry) + arena_.capacity(); }

}  // namespace zavreader
