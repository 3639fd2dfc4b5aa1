#include "formats/fold_keys.h"

#include <utility>

#include "ZAVReader.h"
#include "tovix/collation.h"

namespace zavtool {

std::string foldCase(const std::string &utf8) {
    std::string out(utf8.size() * 3 + 16, '\0');
    size_t n = ZAVReaderFold(utf8.c_str(), 0, out.data(), out.size());
    if (n >= out.size()) {
        out.assign(n + 1, '\0');
        n = ZAVReaderFold(utf8.c_str(), 0, out.data(), out.size());
    }
    out.resize(n);
    return out;
}

std::vector<std::string> foldedKeysFor(const std::string &headword) {
    std::string folded = foldCase(headword);
    if (folded.empty() || tovix::compareKeys(folded.c_str(), headword.c_str()) == 0) return {};
    return {folded};
}

void addFoldedKeys(std::vector<zav::KeyDesc> *keys, const std::string &headword, uint32_t pageNo) {
    for (std::string &folded : foldedKeysFor(headword)) {
        zav::KeyDesc key;
        key.text = std::move(folded);
        key.pageNo = pageNo;
        key.attribute = kFoldedKeyAttribute;
        keys->push_back(std::move(key));
    }
}

bool isFoldKey(const HostBook &book, int32_t table, uint32_t index, const std::string &text, int32_t attribute) {
    return ZAVReaderIsFoldKey(book, book.kind(), table, index, text.c_str(), attribute) == 1;
}

}  // namespace zavtool
