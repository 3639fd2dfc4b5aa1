#include "key_reader.h"

#include <algorithm>

#include "text.h"
#include "tovix/format.h"

namespace zavreader {

KeyReader::KeyReader(const Book &book, BookHandle handle, int32_t table)
    : book_(book), handle_(handle), table_(table), dictionary_(book.isDictionary()) {
    int32_t n = ZAVGetKeyCount(handle, table);
    count_ = n > 0 ? static_cast<uint32_t>(n) : 0;
}

const KeyReader::Key *KeyReader::load(uint32_t index) {
    auto found = cache_.find(index);
    if (found != cache_.end()) return &found->second;
    if (failed()) return nullptr;
    ++reads_;  // from memory too: a search bounded by its reads ends where it would without them
    Key key;
    if (keys_ && index < keys_->size()) {
        key.text = std::string(keys_->text(index));
        key.attribute = dictionary_ ? 0 : keys_->attribute(index);
        return &cache_.emplace(index, std::move(key)).first->second;
    }
    int32_t result = 0;
    if (!readKeyWord(handle_, table_, index, &key.text, &result)) {
        error_ =
            book_.path() + ": key " + std::to_string(index) + " of table " + std::to_string(table_) + " cannot be read";
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

bool isFoldKey(bool dictionary, BookHandle handle, int32_t table, uint32_t index, const std::string &text,
               int32_t attribute) {
    if (!dictionary) return static_cast<uint8_t>(attribute) == tovix::KEY_ATTRIBUTE_CASE_FOLD;
    bool ascii = std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
    return !ascii && foldCase(text) == text &&
           ZAVIsExistSubPage(handle, table, static_cast<int32_t>(tovix::CASE_FOLD_SUB), index) == 1;
}

bool KeyReader::isFold(uint32_t index) {
    const Key *key = load(index);
    return key && isFoldKey(dictionary_, handle_, table_, index, key->text, key->attribute);
}

// A dictionary book's fold key names its headword in a sub content: the
// index of the key with exactly that text, or `index` itself.
uint32_t KeyReader::dictionaryOriginal(uint32_t index) {
    if (!isFold(index)) return index;
    std::optional<std::string> head = readSubPage(handle_, table_, static_cast<int32_t>(tovix::CASE_FOLD_SUB), index);
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
    if (!own || static_cast<uint8_t>(attribute(index)) != tovix::KEY_ATTRIBUTE_CASE_FOLD) return index;
    int32_t first = ZAVPageToKey(handle_, table_, static_cast<uint32_t>(page(index)));
    if (first < 0 || static_cast<uint32_t>(first) >= count_) return index;
    uint32_t other = static_cast<uint32_t>(first);
    const std::string *text0 = text(other);
    if (!text0 || static_cast<uint8_t>(attribute(other)) == tovix::KEY_ATTRIBUTE_CASE_FOLD) return index;
    const std::string ownText = *own;
    return collate(foldCase(*text0), ownText) == 0 ? other : index;
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
    return static_cast<uint32_t>(ZAVGetKeyPageNo(handle_, table_, index));
}

uint32_t KeyReader::offset(uint32_t index) const {
    if (dictionary_) return 0;
    return static_cast<uint32_t>(ZAVGetKeyPageOffset(handle_, table_, index));
}

}  // namespace zavreader
