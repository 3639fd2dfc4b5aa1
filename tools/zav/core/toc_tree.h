// A table's table of contents as a tree: walked as a host walks it (through
// the module's EBDVP calls) or over the links the file stores. Shared by
// `zav toc` and the web side of `zav serve`.
#ifndef ZAV_TOOL_TOC_TREE_H
#define ZAV_TOOL_TOC_TREE_H

#include <cstdint>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "core/book_host.h"
#include "core/raw_book.h"

namespace zavtool {

// One item of a walked tree: its label, or the reason it is not followed.
struct TocNode {
    int32_t item = 0;
    std::string caption;  // UTF-8
    int32_t page = -1;
    bool hidden = false;
    std::string problem;  // "beyond" or "again": the item is not drawn
    std::vector<TocNode> children;
};

// Walks a table's tree, as a host does or (all) over the stored links. Each
// item is visited at most once; a link back to an item already visited is
// kept as a problem and not followed, so a damaged tree cannot loop. Depth
// is bounded.
class TocWalker {
public:
    TocWalker(const HostBook &book, int32_t table, int64_t count, bool all, RawBook *raw, uint32_t vpList);
    std::vector<TocNode> walk();
    bool damaged() const { return damaged_; }

private:
    std::vector<int32_t> children(int32_t item, bool topLevel);
    std::vector<TocNode> nodes(const std::vector<int32_t> &items, int depth);
    void describe(TocNode *node) const;

    const HostBook &book_;
    int32_t table_;
    int64_t count_;
    bool all_;
    RawBook *raw_;
    uint32_t vpList_;
    std::vector<uint8_t> seen_;
    bool damaged_ = false;
};

// The item count to walk: the count the table claims (*claimed), bounded by
// what the file can hold (a 4-byte list entry and a 16-byte record per
// item); a smaller answer than *claimed means damage.
int64_t walkableItems(const HostBook &book, int32_t table, int64_t *claimed);

// The tree as JSON: [{"item", "caption", "page", "hidden", "children"}], an
// item not followed as {"item", "problem"}.
nlohmann::json tocJson(const std::vector<TocNode> &nodes);

}  // namespace zavtool

#endif
