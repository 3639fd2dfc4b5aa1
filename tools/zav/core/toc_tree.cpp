#include "core/toc_tree.h"

#include "core/cli.h"

namespace zavtool {

namespace {

constexpr int kMaxDrawDepth = 200;

bool isHiddenCaption(const std::string &caption) { return caption == "\x01\x02\x03\x04\x05\x06\x07\x08\x09"; }

}  // namespace

TocWalker::TocWalker(const HostBook &book, int32_t table, int64_t count, bool all, RawBook *raw, uint32_t vpList)
    : book_(book),
      table_(table),
      count_(count),
      all_(all),
      raw_(raw),
      vpList_(vpList),
      seen_(static_cast<size_t>(count) + 1, 0) {}

std::vector<TocNode> TocWalker::walk() { return nodes(children(EBDVPGetRootItem(book_, table_), true), 0); }

std::vector<int32_t> TocWalker::children(int32_t item, bool topLevel) {
    std::vector<int32_t> list;
    int32_t next = item;
    if (all_) {
        uint32_t at;
        VpLinks links;
        if (!topLevel) {
            if (!raw_->vpItem(vpList_, static_cast<uint32_t>(item), &at, &links)) return list;
            next = static_cast<int32_t>(links.firstChild);
        }
        while (next > 0) {
            list.push_back(next);
            if (next > count_ || seen_[static_cast<size_t>(next)]) break;
            if (!raw_->vpItem(vpList_, static_cast<uint32_t>(next), &at, &links)) break;
            next = static_cast<int32_t>(links.nextSibling);
            if (list.size() > static_cast<size_t>(count_)) break;
        }
        return list;
    }
    if (!topLevel) next = EBDVPGetChildItem(book_, table_, item);
    while (next > 0) {
        list.push_back(next);
        if (next > count_ || seen_[static_cast<size_t>(next)] || list.size() > static_cast<size_t>(count_)) break;
        next = EBDVPGetNextSiblingItem(book_, table_, next);
    }
    return list;
}

std::vector<TocNode> TocWalker::nodes(const std::vector<int32_t> &items, int depth) {
    std::vector<TocNode> out;
    for (int32_t item : items) {
        TocNode node;
        node.item = item;
        if (item > count_ || seen_[static_cast<size_t>(item)]) {
            node.problem = item > count_ ? "beyond" : "again";
            damaged_ = true;
            out.push_back(std::move(node));
            continue;
        }
        seen_[static_cast<size_t>(item)] = 1;
        describe(&node);
        if (depth < kMaxDrawDepth) node.children = nodes(children(item, false), depth + 1);
        out.push_back(std::move(node));
    }
    return out;
}

void TocWalker::describe(TocNode *node) const {
    Localized caption = itemText(book_, table_, node->item, ZAV_LANG_CHOOSE);
    Localized base = itemText(book_, table_, node->item, ZAV_LANG_BASE);
    node->hidden = base.language != 0 && isHiddenCaption(base.text);
    if (caption.language) node->caption = inUtf8(caption.text, caption.language);
    node->page = EBDVPItemToPage(book_, table_, node->item);
}

int64_t walkableItems(const HostBook &book, int32_t table, int64_t *claimed) {
    constexpr uint64_t kItemBytes = 20;
    int64_t count = static_cast<uint32_t>(EBDVPGetCount(book, table));
    *claimed = count;
    int64_t room = static_cast<int64_t>(book.fileSize() / kItemBytes);
    return count > room ? room : count;
}

nlohmann::json tocJson(const std::vector<TocNode> &nodes) {
    nlohmann::json out = nlohmann::json::array();
    for (const TocNode &n : nodes) {
        nlohmann::json j = {{"item", n.item}};
        if (!n.problem.empty()) {
            j["problem"] = n.problem == "beyond" ? "beyond the tree's items" : "cyclic link";
        } else {
            j["caption"] = n.caption;
            j["page"] = n.page;
            j["hidden"] = n.hidden;
            j["children"] = tocJson(n.children);
        }
        out.push_back(std::move(j));
    }
    return out;
}

}  // namespace zavtool
