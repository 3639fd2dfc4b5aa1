// Reading one table's keys through the module's exported calls, each key at
// most once per reader, and bisecting them under the key collation.
#ifndef ZAV_READER_KEY_READER_H
#define ZAV_READER_KEY_READER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "book.h"
#include "key_list.h"

namespace zavreader {

class KeyReader {
public:
    KeyReader(const Book &book, BookHandle handle, int32_t table);
    // Read the key texts and attributes from the table's keys in memory
    // (loaded from this book; kept alive by the caller) rather than through
    // the module. Ignored when their number differs from the table's.
    void useKeys(const KeyList *keys) {
        if (keys && keys->size() == count_) keys_ = keys;
    }

    uint32_t count() const { return count_; }
    // The text of key i, or nullptr when it cannot be read (error() says why).
    const std::string *text(uint32_t index);
    // The key's attribute byte (plain books; 0 in dictionary books).
    int32_t attribute(uint32_t index);
    // Whether key i was added for a headword's case fold.
    bool isFold(uint32_t index);
    // The key whose text is the headword key i stands for: i itself, or for
    // a key added for a headword's case fold, that headword's key.
    uint32_t original(uint32_t index);
    // The headword key i stands for (its original's text); empty when it
    // cannot be read.
    std::string headword(uint32_t index);
    // The first key that does not sort before q (count() when none);
    // nullopt when a key on the way cannot be read.
    std::optional<uint32_t> lowerBound(const std::string &q) { return lowerBound(q, 0, count_); }
    std::optional<uint32_t> lowerBound(const std::string &q, uint32_t lo, uint32_t hi);
    // The same from key lo on, in steps that double.
    std::optional<uint32_t> gallop(const std::string &q, uint32_t lo);
    // Where key i leads: a dictionary key to the table page of its own
    // index, offset 0; a plain key to its stored page and offset.
    int64_t page(uint32_t index) const;
    uint32_t offset(uint32_t index) const;

    const std::string &error() const { return error_; }
    bool failed() const { return !error_.empty(); }
    size_t reads() const { return reads_; }
    const Book &book() const { return book_; }
    BookHandle handle() const { return handle_; }
    int32_t table() const { return table_; }

private:
    struct Key {
        std::string text;
        int32_t attribute = 0;
    };
    const Key *load(uint32_t index);
    uint32_t dictionaryOriginal(uint32_t index);

    const Book &book_;
    BookHandle handle_;
    int32_t table_;
    uint32_t count_;
    bool dictionary_;
    const KeyList *keys_ = nullptr;
    std::unordered_map<uint32_t, Key> cache_;
    std::string error_;
    size_t reads_ = 0;
};

// Whether a key (its text and what ZAVGetKeyWord returned for it) was added
// for a headword's case fold: in a plain book its attribute says so; in a
// dictionary book, a key that is its own fold and whose word record has the
// sub content that names the headword.
bool isFoldKey(bool dictionary, BookHandle handle, int32_t table, uint32_t index, const std::string &text,
               int32_t attribute);

}  // namespace zavreader

#endif
