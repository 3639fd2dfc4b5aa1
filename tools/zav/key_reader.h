// Reading one table's keys through the module's exported calls, each key at
// most once per reader, and bisecting them under the key collation.
#ifndef ZAV_TOOL_KEY_READER_H
#define ZAV_TOOL_KEY_READER_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>

#include "book_host.h"

namespace zavtool {

class KeyReader {
public:
    KeyReader(const HostBook &book, int32_t table);

    uint32_t count() const { return count_; }
    // The text of key i, or nullptr when it cannot be read (error() says why).
    const std::string *text(uint32_t index);
    // The headword to show for key i: its text, or for a key added for a
    // headword's case fold, that headword (the first key of the same page,
    // when it folds alike). Empty when the key cannot be read.
    std::string headword(uint32_t index);
    // The index of the key whose text headword(index) is.
    uint32_t original(uint32_t index);
    // The key's attribute byte (plain books; 0 in dictionary books).
    int32_t attribute(uint32_t index);
    // The first key that does not sort before q (count() when none);
    // nullopt when a key on the way cannot be read.
    std::optional<uint32_t> lowerBound(const std::string &q) { return lowerBound(q, 0, count_); }
    // The same within keys [lo, hi), which the caller knows to bracket q.
    std::optional<uint32_t> lowerBound(const std::string &q, uint32_t lo, uint32_t hi);
    // The same from key lo on, in steps that double (cheap when the answer
    // is near lo).
    std::optional<uint32_t> gallop(const std::string &q, uint32_t lo);
    // Where key i leads: a dictionary key to the table page of its own
    // index, offset 0; a plain key to its stored page and offset.
    int64_t page(uint32_t index) const;
    uint32_t offset(uint32_t index) const;

    const std::string &error() const { return error_; }
    bool failed() const { return !error_.empty(); }
    size_t reads() const { return reads_; }
    const HostBook &book() const { return book_; }
    int32_t table() const { return table_; }

private:
    struct Key {
        std::string text;
        int32_t attribute = 0;
    };
    const Key *load(uint32_t index);
    uint32_t dictionaryOriginal(uint32_t index);

    const HostBook &book_;
    int32_t table_;
    uint32_t count_;
    bool dictionary_;
    std::unordered_map<uint32_t, Key> cache_;
    std::string error_;
    size_t reads_ = 0;
};

// Whether key `index` (its text and what ZAVGetKeyWord returned for it) was
// added by an import for a headword's case fold: in a plain book its
// attribute says so; in a dictionary book, a key that is its own fold and
// whose word record has the sub content that names the headword.
bool isFoldKey(const HostBook &book, int32_t table, uint32_t index, const std::string &text, int32_t attribute);

// The collation's helpers on key texts: the body (before a single-byte "@",
// leading and ending spaces dropped), whether a text carries a homograph
// suffix, and whether a key's body starts with a prefix (ASCII letters in
// any case, the other bytes as they are).
std::string keyBody(const std::string &key);
bool hasHomographSuffix(const std::string &key);
bool bodyStartsWith(const std::string &key, const std::string &prefix);
// The key collation's three-way comparison of two texts.
int32_t collate(const std::string &a, const std::string &b);

}  // namespace zavtool

#endif
