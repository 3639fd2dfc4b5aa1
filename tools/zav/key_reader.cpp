#include "key_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "tovix/collation.h"
#include "tovix/format.h"
#include "entries.h"

namespace zavtool {

namespace {

// A plain book stores at most 65535 bytes of key text.
constexpr int32_t kLongestKey = 65535;

inline bool isLead(unsigned char c) { return c >= 0x80; }

// Offset of the end of the body: the first single-byte "@" or the end.
size_t bodyEnd(const std::string &key) {
    for (size_t i = 0; i < key.size(); ++i) {
        unsigned char c = static_cast<unsigned char>(key[i]);
        if (isLead(c)) {
            ++i;  // the trail byte belongs to the character, even an "@"
            continue;
        }
        if (c == '@') return i;
    }
    return key.size();
}

}  // namespace

KeyReader::KeyReader(const HostBook &book, int32_t table)
    : book_(book),
      table_(table),
      count_(static_cast<uint32_t>(ZAVGetKeyCount(book, table))),
      dictionary_(book.isDictionary()) {}

const KeyReader::Key *KeyReader::load(uint32_t index) {
    auto found = cache_.find(index);
    if (found != cache_.end()) return &found->second;
    if (failed()) return nullptr;
    ++reads_;
    Key key;
    int32_t result = 0, length = 0;
    if (!readKeyWord(book_, table_, index, &key.text, &result, &length)) {
        error_ = "key " + std::to_string(index) + " of table " + std::to_string(table_) +
                 (length <= 0 || length > kLongestKey ? std::string(" cannot be read")
                                                      : " cannot be read whole (" + std::to_string(length) + " bytes)");
        return nullptr;
    }
    key.attribute = dictionary_ ? 0 : result;
    return &cache_.emplace(index, std::move(key)).first->second;
}

const std::string *KeyReader::text(uint32_t index) {
    const Key *key = load(index);
    return key ? &key->text : nullptr;
}

int32_t KeyReader::attribute(uint32_t index) {
    const Key *key = load(index);
    return key ? key->attribute : 0;
}

bool isFoldKey(const HostBook &book, int32_t table, uint32_t index, const std::string &text, int32_t attribute) {
    if (!book.isDictionary()) return static_cast<uint8_t>(attribute) == kFoldedKeyAttribute;
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return !ascii && foldCase(text) == text &&
           ZAVIsExistSubPage(book, table, static_cast<int32_t>(tovix::CASE_FOLD_SUB), index) == 1;
}

// A dictionary book's fold key names its headword in a sub content: the
// index of the key with exactly that text, or `index` itself.
uint32_t KeyReader::dictionaryOriginal(uint32_t index) {
    const std::string own = *text(index);
    if (!isFoldKey(book_, table_, index, own, 0)) return index;
    std::optional<std::string> head = readSubPage(book_, table_, static_cast<int32_t>(tovix::CASE_FOLD_SUB), index);
    if (!head || head->empty()) return index;
    std::optional<uint32_t> at = lowerBound(*head);
    for (uint32_t i = at.value_or(count_); i < count_; ++i) {
        const std::string *t = text(i);
        if (!t || collate(*t, *head) != 0) break;
        if (*t == *head) return i;
    }
    return index;
}

uint32_t KeyReader::original(uint32_t index) {
    const std::string *own = text(index);
    if (own && dictionary_) return dictionaryOriginal(index);
    if (!own || attribute(index) != kFoldedKeyAttribute) return index;
    int32_t first = ZAVPageToKey(book_, table_, static_cast<uint32_t>(page(index)));
    if (first < 0 || static_cast<uint32_t>(first) >= count_) return index;
    uint32_t other = static_cast<uint32_t>(first);
    const std::string *text0 = text(other);
    if (!text0 || attribute(other) == kFoldedKeyAttribute) return index;
    return collate(foldCase(*text0), *own) == 0 ? other : index;
}

std::string KeyReader::headword(uint32_t index) {
    const std::string *shown = text(original(index));
    return shown ? *shown : std::string();
}

std::optional<uint32_t> KeyReader::lowerBound(const std::string &q, uint32_t lo, uint32_t hi) {
    if (hi > count_) hi = count_;
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        const std::string *key = text(mid);
        if (!key) return std::nullopt;
        if (collate(*key, q) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::optional<uint32_t> KeyReader::gallop(const std::string &q, uint32_t lo) {
    uint64_t step = 1, probe = lo;
    while (probe < count_) {
        const std::string *key = text(static_cast<uint32_t>(probe));
        if (!key) return std::nullopt;
        if (collate(*key, q) >= 0) break;
        lo = static_cast<uint32_t>(probe + 1);
        probe = lo + step;
        step *= 2;
    }
    return lowerBound(q, lo, static_cast<uint32_t>(probe < count_ ? probe : count_));
}

int64_t KeyReader::page(uint32_t index) const {
    if (dictionary_) return index;
    return static_cast<uint32_t>(ZAVGetKeyPageNo(book_, table_, index));
}

uint32_t KeyReader::offset(uint32_t index) const {
    if (dictionary_) return 0;
    return static_cast<uint32_t>(ZAVGetKeyPageOffset(book_, table_, index));
}

std::string keyBody(const std::string &key) {
    size_t end = bodyEnd(key);
    size_t begin = key.find_first_not_of(' ');
    if (begin == std::string::npos || begin >= end) return std::string();
    while (end > begin && key[end - 1] == ' ') --end;
    return key.substr(begin, end - begin);
}

bool hasHomographSuffix(const std::string &key) { return bodyEnd(key) < key.size(); }

bool bodyStartsWith(const std::string &key, const std::string &prefix) {
    size_t at = key.find_first_not_of(' ');
    if (at == std::string::npos) return prefix.empty();
    size_t end = bodyEnd(key);
    if (end < at || end - at < prefix.size()) return false;
    for (size_t i = 0; i < prefix.size(); ++i) {
        unsigned char a = static_cast<unsigned char>(key[at + i]), b = static_cast<unsigned char>(prefix[i]);
        if (a >= 'A' && a <= 'Z') a = static_cast<unsigned char>(a + ('a' - 'A'));
        if (b >= 'A' && b <= 'Z') b = static_cast<unsigned char>(b + ('a' - 'A'));
        if (a != b) return false;
    }
    return true;
}

int32_t collate(const std::string &a, const std::string &b) { return tovix::compareKeys(a.c_str(), b.c_str()); }

}  // namespace zavtool
