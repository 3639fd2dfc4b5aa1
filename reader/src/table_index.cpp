#include "table_index.h"

#include "text.h"

namespace zavreader {

bool TableIndex::add(uint32_t keyIndex, std::string_view headword) {
    if (headword.empty()) return true;
    if (!entries_.empty() && this->headword(entries_.size() - 1) == headword) return true;
    std::string folded = foldCase(headword), bare = foldAccents(headword);
    if (arena_.size() + headword.size() + folded.size() + bare.size() > UINT32_MAX) return false;
    Entry e{};
    e.key = keyIndex;
    e.headword = arenaSize();
    arena_.append(headword);
    e.folded = arenaSize();
    arena_ += folded;
    e.bare = arenaSize();
    arena_ += bare;
    entries_.push_back(e);
    return true;
}

void TableIndex::seal() {
    entries_.shrink_to_fit();
    arena_.shrink_to_fit();
}

uint64_t TableIndex::bytes() const { return entries_.capacity() * sizeof(Entry) + arena_.capacity(); }

}  // namespace zavreader
