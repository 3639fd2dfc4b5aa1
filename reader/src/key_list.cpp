#include "key_list.h"

#include <algorithm>
#include <memory>

#include "book_file.h"
#include "key_reader.h"
#include "tovix/format.h"
#include "tovix/le.h"

namespace zavreader {

bool KeyList::add(std::string_view text, bool fold, uint8_t attribute) {
    if (arena_.size() + text.size() > UINT32_MAX) return false;
    starts_.push_back(static_cast<uint32_t>(arena_.size()));
    arena_.append(text);
    fold_.push_back(fold ? kFoldBit : 0);
    attributes_.push_back(attribute);
    return true;
}

void KeyList::seal() {
    arena_.shrink_to_fit();
    starts_.shrink_to_fit();
    fold_.shrink_to_fit();
    attributes_.shrink_to_fit();
}

namespace {

using namespace tovix;

// Bytes read at a time from the file's key records.
constexpr uint32_t kWindow = 4u << 20;
// Keys compared with the module's answers after a direct read.
constexpr uint32_t kSampledKeys = 64;

// The key records of a plain table read from the file, as (text, attribute).
bool readDirect(const Book &book, int32_t table, uint32_t count, std::vector<std::string> *texts,
                std::vector<uint8_t> *attributes) {
    BookFile file;
    TableRecord record;
    if (!file.open(book.path(), book.fileSize()) || !file.table(table, &record)) return false;
    if (record.field(TBL_KEY_COUNT) != count) return false;
    uint64_t listOffset = record.field(TBL_KEY_LIST_OFFSET);
    uint64_t listBytes = uint64_t{count} * U32_ENTRY_SIZE;
    if (listOffset == 0 || listOffset > file.size() || listBytes > file.size() - listOffset) return false;
    std::vector<unsigned char> list(static_cast<size_t>(listBytes));
    if (!file.read(listOffset, list.data(), list.size())) return false;

    std::vector<std::pair<uint32_t, uint32_t>> byPlace(count);  // (record position, key index)
    for (uint32_t i = 0; i < count; ++i) byPlace[i] = {le32(list.data() + uint64_t{i} * 4), i};
    std::sort(byPlace.begin(), byPlace.end());
    texts->assign(count, std::string());
    attributes->assign(count, 0);
    std::vector<unsigned char> window;
    uint64_t windowAt = 0;
    for (const auto &[at, index] : byPlace) {
        uint64_t need = KEY_RECORD_FIXED_SIZE;
        for (int pass = 0; pass < 2; ++pass) {
            if (at < windowAt || at + need > windowAt + window.size()) {
                if (at > file.size() || need > file.size() - at) return false;
                uint64_t n = std::max<uint64_t>(std::min<uint64_t>(kWindow, file.size() - at), need);
                window.resize(static_cast<size_t>(n));
                if (!file.read(at, window.data(), window.size())) return false;
                windowAt = at;
            }
            if (pass == 0) {
                uint32_t lengthWord = le32(window.data() + (at - windowAt) + KEY_LENGTH_WORD);
                need = KEY_RECORD_FIXED_SIZE + (lengthWord & KEY_TEXT_LENGTH_MASK);
            }
        }
        const unsigned char *r = window.data() + (at - windowAt);
        uint32_t lengthWord = le32(r + KEY_LENGTH_WORD);
        const char *text = reinterpret_cast<const char *>(r + KEY_RECORD_FIXED_SIZE);
        size_t length = lengthWord & KEY_TEXT_LENGTH_MASK;
        (*texts)[index].assign(text, std::find(text, text + length, '\0'));
        (*attributes)[index] = static_cast<uint8_t>(lengthWord >> KEY_ATTRIBUTE_SHIFT);
    }
    return true;
}

// Whether the module gives the same text and attribute for a sample of keys.
bool agreesWithModule(BookHandle handle, int32_t table, const std::vector<std::string> &texts,
                      const std::vector<uint8_t> &attributes) {
    size_t n = texts.size();
    if (n == 0) return true;
    size_t step = std::max<size_t>(1, n / kSampledKeys);
    for (size_t i = 0; i < n; i = (i + step < n || i == n - 1) ? i + step : n - 1) {
        std::string text;
        int32_t result = 0;
        if (!readKeyWord(handle, table, static_cast<uint32_t>(i), &text, &result)) return false;
        if (text != texts[i] || static_cast<uint8_t>(result) != attributes[i]) return false;
        if (i == n - 1) break;
    }
    return true;
}

Status tooLarge(const Book &book, int32_t table) {
    return Status::fail(
        ZAVR_LIMIT, book.path() + ": the keys of table " + std::to_string(table) + " are too large to hold in memory");
}

}  // namespace

Status loadKeyList(const Book &book, BookHandle handle, int32_t table, Budget &budget, KeyList *out) {
    int32_t counted = ZAVGetKeyCount(handle, table);
    uint64_t count = counted > 0 ? static_cast<uint32_t>(counted) : 0;
    // A plain book's key takes at least 16 bytes of the file.
    if (!book.isDictionary()) count = std::min<uint64_t>(count, book.fileSize() / 16);
    if (count > kMostKeysInMemory)
        return Status::fail(ZAVR_LIMIT, book.path() + ": table " + std::to_string(table) + " has more than " +
                                            std::to_string(kMostKeysInMemory) + " keys to hold in memory");
    *out = KeyList();
    if (!book.isDictionary()) {
        std::vector<std::string> texts;
        std::vector<uint8_t> attributes;
        if (readDirect(book, table, static_cast<uint32_t>(count), &texts, &attributes) &&
            agreesWithModule(handle, table, texts, attributes)) {
            for (size_t i = 0; i < texts.size(); ++i)
                if (!out->add(texts[i], attributes[i] == KEY_ATTRIBUTE_CASE_FOLD, attributes[i]))
                    return tooLarge(book, table);
            out->seal();
            return Status::ok();
        }
        *out = KeyList();
    }
    for (uint32_t i = 0; i < count; ++i) {
        if (budget.spent()) return budget.status();
        std::string text;
        int32_t result = 0;
        if (!readKeyWord(handle, table, i, &text, &result))
            return Status::fail(ZAVR_UNREADABLE, book.path() + ": key " + std::to_string(i) + " of table " +
                                                     std::to_string(table) + " cannot be read");
        int32_t attribute = book.isDictionary() ? 0 : result;
        if (!out->add(text, isFoldKey(book.isDictionary(), handle, table, i, text, attribute),
                      static_cast<uint8_t>(attribute)))
            return tooLarge(book, table);
    }
    out->seal();
    return Status::ok();
}

}  // namespace zavreader
