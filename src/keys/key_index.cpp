// The key-word index of a table: counting and reading keys, mapping keys to
// pages and back, and looking words up.
//
// Plain books (kinds 2 and 4) read everything from the file on every call; a
// look-up bisects the on-disk key list and never loads it. Dictionary books
// (kind 1) ask the dictionary engine: key index i is the engine's word record
// i. ZAVGetKeyPageOffset reads the file in every kind of book.
#include <string.h>

#include "../book/book_state.h"
#include "../bridge/engine.h"
#include "TovixZAV_JC.h"
#include "tovix/collation.h"

using namespace tovix;

namespace {

// A probe reads the length word and this many text bytes in one read; longer
// texts need a second read into a heap buffer.
constexpr uint32_t PROBE_TEXT_WINDOW = 60;
// A query up to this many bytes is copied onto the stack.
constexpr size_t QUERY_STACK_SIZE = 128;

inline bool isDictionary(const BookState *book) { return book->kind == KIND_DICTIONARY; }

// The key list of a plain table, bounded by its key count.
bool keyList(BookFile *file, const TableRecord &table, Section *keys) {
    return tableList(file, table, TBL_KEY_LIST_OFFSET, table.field(TBL_KEY_COUNT), keys);
}

// Read the u32 at `field` of key `keyIndex` and say where the key record
// lies. Fails when the table has no key list or the index is not below
// keyCount.
bool readKeyField(BookFile *file, const TableRecord &table, uint32_t keyIndex, uint32_t field, uint32_t *value,
                  uint64_t *recordPosition = nullptr) {
    Section keys;
    uint32_t record;
    if (!keyList(file, table, &keys) || !entryU32(file, keys, keyIndex, 0, &record)) return false;
    if (recordPosition) *recordPosition = record;
    return u32At(file, static_cast<uint64_t>(record) + field, value);
}

// The host's word as a NUL-terminated query: the first `length` bytes of
// `word`, ending early at a NUL. Never reads past the word's NUL. When the
// NUL lies within those bytes the word itself is the query; otherwise the
// bytes are copied, onto the stack when short, else into the heap.
class QueryText {
public:
    QueryText() = default;
    QueryText(const QueryText &) = delete;
    QueryText &operator=(const QueryText &) = delete;
    ~QueryText() {
        if (heap_) heapFree(heap_);
    }

    // False when the copy cannot be allocated. `length` must be >= 0.
    bool set(const char *word, int32_t length) {
        size_t n = strnlen(word, static_cast<size_t>(length));
        if (n < static_cast<size_t>(length)) {
            text_ = word;
            return true;
        }
        char *copy = stack_;
        if (n >= sizeof stack_) {
            heap_ = static_cast<char *>(heapAlloc(n + 1));
            if (!heap_) return false;
            copy = heap_;
        }
        memcpy(copy, word, n);
        copy[n] = '\0';
        text_ = copy;
        return true;
    }

    const char *text() const { return text_; }

private:
    const char *text_ = nullptr;
    char *heap_ = nullptr;
    char stack_[QUERY_STACK_SIZE];
};

enum class ProbeResult { Failed, Before, Equal, After };

// Read key `index` and compare it with the query (stored key first). Two
// reads: the record offset, then the length word together with up to
// PROBE_TEXT_WINDOW text bytes; a longer text costs a third read.
ProbeResult probeKey(BookFile *file, const Section &keys, uint32_t index, const char *query) {
    uint32_t record;
    if (!entryU32(file, keys, index, 0, &record)) return ProbeResult::Failed;
    uint64_t lengthWord = static_cast<uint64_t>(record) + KEY_LENGTH_WORD;

    unsigned char window[4 + PROBE_TEXT_WINDOW + 1];
    int64_t got = readUpTo(file, lengthWord, window, 4 + PROBE_TEXT_WINDOW);
    if (got < 4) return ProbeResult::Failed;
    uint32_t length = le32(window) & KEY_TEXT_LENGTH_MASK;
    uint32_t arrived = static_cast<uint32_t>(got) - 4;

    int32_t m;
    if (arrived >= length) {
        char *text = reinterpret_cast<char *>(window + 4);
        text[length] = '\0';
        m = compareStoredKey(text, length, query);
    } else {
        // Fewer bytes than the text: the file ended inside a short text, or
        // the text is longer than the window and the rest follows.
        if (length <= PROBE_TEXT_WINDOW) return ProbeResult::Failed;
        char *text = static_cast<char *>(heapAlloc(static_cast<size_t>(length) + 1));
        if (!text) return ProbeResult::Failed;
        memcpy(text, window + 4, arrived);
        if (!readAt(file, lengthWord + 4 + arrived, text + arrived, length - arrived)) {
            heapFree(text);
            return ProbeResult::Failed;
        }
        text[length] = '\0';
        m = compareStoredKey(text, length, query);
        heapFree(text);
    }
    if (m == 0) return ProbeResult::Equal;
    return m > 0 ? ProbeResult::After : ProbeResult::Before;
}

struct Lookup {
    bool matched;    // a key compared equal to the query
    uint32_t index;  // the matching key, else the first key after the query
                     // (0 when it sorts before key 0, the last key when it
                     // sorts after every key)
};

// Bisect the key list of `count` keys (count > 0) for the query. False when a
// probe fails. Which of several equal keys is found is fixed by the probe
// sequence: mid = (lo + hi) / 2, the first probe that compares equal wins.
bool bisectKeys(BookFile *file, const Section &keys, const char *query, Lookup *out) {
    uint32_t count = static_cast<uint32_t>(keys.count);
    uint32_t lo = 0, hi = count - 1;
    for (;;) {
        uint32_t mid = static_cast<uint32_t>((static_cast<uint64_t>(lo) + hi) / 2);
        ProbeResult m = probeKey(file, keys, mid, query);
        if (m == ProbeResult::Failed) return false;
        if (m == ProbeResult::Equal) {
            *out = {true, mid};
            return true;
        }
        if (m == ProbeResult::After) {
            if (mid == 0) {
                *out = {false, 0};
                return true;
            }
            hi = mid - 1;
        } else {
            lo = mid + 1;
        }
        if (lo > hi) break;
    }
    *out = {false, lo == count ? count - 1 : lo};
    return true;
}

// Open the dictionary of a dictionary table and return its word count.
bool dictionaryWordCount(const TableRecord &table, uint32_t *count) {
    engine::EngineRecord dict;
    if (!dict.openDictionary(table.field(TBL_DICT_ID))) return false;
    *count = engine::dicGetWordCount(dict.hdict);
    return true;
}

}  // namespace

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetKeyCount(BookHandle book, int32_t table) noexcept {
    if (!book) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    if (isDictionary(book)) {
        uint32_t count;
        return dictionaryWordCount(record, &count) ? static_cast<int32_t>(count) : 0;
    }
    return static_cast<int32_t>(record.field(TBL_KEY_COUNT));
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetKeyWordLength(BookHandle book, int32_t table, uint32_t keyIndex) noexcept {
    if (!book) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    if (isDictionary(book)) {
        engine::EngineRecord word;
        if (!word.openRecord(record.field(TBL_DICT_ID), keyIndex)) return 0;
        return engine::dicGetWordSize(word.hword);
    }
    uint32_t lengthWord;
    if (!readKeyField(&book->file, record, keyIndex, KEY_LENGTH_WORD, &lengthWord)) return 0;
    return static_cast<int32_t>(lengthWord & KEY_TEXT_LENGTH_MASK);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetKeyWord(BookHandle book, int32_t table, uint32_t keyIndex, char *buffer,
                                                  int32_t length) noexcept {
    // A buffer without room for the terminator gets nothing.
    if (!book || !buffer || length < 1) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    if (isDictionary(book)) {
        engine::EngineRecord word;
        if (!word.openRecord(record.field(TBL_DICT_ID), keyIndex)) return 0;
        return engine::dicGetWord(word.hword, buffer, length);
    }
    uint32_t lengthWord;
    uint64_t at;
    if (!readKeyField(&book->file, record, keyIndex, KEY_LENGTH_WORD, &lengthWord, &at)) return 0;
    // The text follows the length word; it goes straight into the buffer,
    // cut to length - 1 bytes.
    uint32_t textLength = lengthWord & KEY_TEXT_LENGTH_MASK;
    uint32_t n = static_cast<uint32_t>(length) > textLength ? textLength : static_cast<uint32_t>(length) - 1;
    // A read that fails part-way may have left bytes in the buffer: the host
    // gets an empty string rather than an unterminated fragment.
    if (!readAt(&book->file, at + KEY_RECORD_FIXED_SIZE, buffer, n)) {
        buffer[0] = '\0';
        return 0;
    }
    buffer[n] = '\0';
    return static_cast<int32_t>(static_cast<signed char>(lengthWord >> KEY_ATTRIBUTE_SHIFT));
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVGetKeyPageNo(BookHandle book, int32_t table, uint32_t keyIndex) noexcept {
    if (!book) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    if (isDictionary(book)) {
        uint32_t count;
        if (!dictionaryWordCount(record, &count) || keyIndex >= count) return 0;
        return static_cast<int32_t>(keyIndex);
    }
    uint32_t pageNo;
    if (!readKeyField(&book->file, record, keyIndex, KEY_PAGE_NO, &pageNo)) return 0;
    return static_cast<int32_t>(pageNo);
}

// Read from the key list in every kind of book: a dictionary table that
// carries a key list at +24/+28 answers from it like a plain table.
extern "C" ZAV_API int32_t ZAV_CALL ZAVGetKeyPageOffset(BookHandle book, int32_t table, uint32_t keyIndex) noexcept {
    if (!book) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    uint32_t pageOffset;
    if (!readKeyField(&book->file, record, keyIndex, KEY_PAGE_OFFSET, &pageOffset)) return 0;
    return static_cast<int32_t>(pageOffset);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVPageToKey(BookHandle book, int32_t table, uint32_t pageIndex) noexcept {
    if (!book) return ZAV_NO_INDEX;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return ZAV_NO_INDEX;
    if (isDictionary(book)) {
        uint32_t count;
        if (!dictionaryWordCount(record, &count) || pageIndex >= count) return ZAV_NO_INDEX;
        return static_cast<int32_t>(pageIndex);
    }
    Section pageToKey;
    uint32_t key;
    if (!tableList(&book->file, record, TBL_PAGE_TO_KEY_OFFSET, record.field(TBL_PAGE_COUNT), &pageToKey) ||
        !entryU32(&book->file, pageToKey, pageIndex, 0, &key))
        return ZAV_NO_INDEX;
    return static_cast<int32_t>(key);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVSearchKeyWord(BookHandle book, int32_t table, const char *word,
                                                     int32_t length) noexcept {
    if (!book) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    if (isDictionary(book)) {
        // The engine gets the first `length` bytes as a NUL-terminated word;
        // a null word or a negative length finds nothing.
        if (!word || length < 0) return 0;
        engine::EngineRecord dict;
        if (!dict.openDictionary(record.field(TBL_DICT_ID))) return 0;
        uint32_t index;
        {
            QueryText query;
            if (!query.set(word, length)) return 0;
            dict.hword = engine::dicSearchWord(dict.hdict, query.text());
        }
        if (!dict.hword) return 0;
        int32_t ok = engine::dicGetHandleInfo(dict.hword, 1, &index);
        dict.close();
        return ok ? static_cast<int32_t>(index) : 0;
    }
    Section keys;
    if (!word || word[0] == '\0' || length <= 0 || !keyList(&book->file, record, &keys) || keys.count == 0) return 0;
    QueryText query;
    if (!query.set(word, length)) return 0;
    Lookup found;
    if (!bisectKeys(&book->file, keys, query.text(), &found)) return 0;
    return static_cast<int32_t>(found.index);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVIsExistWord(BookHandle book, int32_t table, const char *word) noexcept {
    if (!book) return 0;
    TableRecord record;
    if (!readTableRecord(&book->file, table, &record)) return 0;
    if (isDictionary(book)) {
        // A null word would reach the engine: refused there.
        if (!word) return 0;
        engine::EngineRecord dict;
        if (!dict.openDictionary(record.field(TBL_DICT_ID))) return 0;
        return engine::dicIsExistWord(dict.hdict, word);
    }
    // A null word compares like an empty one; the comparison never reads it.
    Section keys;
    if (!keyList(&book->file, record, &keys) || keys.count == 0) return 0;
    Lookup found;
    if (!bisectKeys(&book->file, keys, word, &found)) return 0;
    return found.matched ? 1 : 0;
}
