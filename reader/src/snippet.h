// A few lines of an entry's text around the words a search matched, with
// those words marked.
#ifndef ZAV_READER_SNIPPET_H
#define ZAV_READER_SNIPPET_H

#include <cstdint>
#include <string>
#include <vector>

namespace zavreader {

struct Snippet {
    std::string text;             // UTF-8, line breaks as spaces, "…" where it is cut
    std::vector<uint32_t> marks;  // (start, end) byte offsets in text, in order
};

// The part of `text` (UTF-8) around its first word that matches one of
// `terms` (folded as the search index folds them; a term ending in '*' is a
// prefix), at most about `room` bytes, each matching word marked. A word
// matches a term it equals or starts with once folded (so "apples" is
// marked for "apple"); a term of CJK characters matches where it occurs.
Snippet snippetOf(const std::string &text, const std::vector<std::string> &terms, size_t room = 240);

}  // namespace zavreader

#endif
