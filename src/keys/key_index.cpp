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

// Compare a stored key text of `length` bytes (at most PROBE_TEXT_WINDOW)
// with the query.
ProbeResult compareShortKey(const unsigned char *bytes, uint32_t length, const char *query) {
    char text[PROBE_TEXT_WINDOW + 1];
    memcpy(text, bytes, length);
    text[length] = '\0';
    int32_t m = compareStoredKey(text, length, query);
    if (m == 0) return ProbeResult::Equal;
    return m > 0 ? ProbeResult::After : ProbeResult::Before;
}

// Compare the key record whose length word lies at lengthWord with the
// query, reading it on its own: the length word together with up to
// PROBE_TEXT_WINDOW text bytes; a longer text costs a second read.
ProbeResult probeRecord(BookFile *file, uint64_t lengthWord, const char *query) {
    unsigned char window[4 + PROBE_TEXT_WINDOW];
    int64_t got = readUpTo(file, lengthWord, window, 4 + PROBE_TEXT_WINDOW);
    if (got < 4) return ProbeResult::Failed;
    uint32_t length = le32(window) & KEY_TEXT_LENGTH_MASK;
    uint32_t arrived = static_cast<uint32_t>(got) - 4;
    if (arrived >= length) return compareShortKey(window + 4, length, query);
    // Fewer bytes than the text: the file ended inside a short text, or the
    // text is longer than the window and the rest follows.
    if (length <= PROBE_TEXT_WINDOW) return ProbeResult::Failed;
    char *text = static_cast<char *>(heapAlloc(static_cast<size_t>(length) + 1));
    if (!text) return ProbeResult::Failed;
    memcpy(text, window + 4, arrived);
    if (!readAt(file, lengthWord + 4 + arrived, text + arrived, length - arrived)) {
        heapFree(text);
        return ProbeResult::Failed;
    }
    text[length] = '\0';
    int32_t m = compareStoredKey(text, length, query);
    heapFree(text);
    if (m == 0) return ProbeResult::Equal;
    return m > 0 ? ProbeResult::After : ProbeResult::Before;
}

// Bytes of the file that one look-up has read: [start, start + length).
struct Window {
    unsigned char *bytes;
    uint32_t capacity;
    uint64_t start = 0;
    uint32_t length = 0;

    bool covers(uint64_t at, uint64_t n) const { return at >= start && n <= length && at - start <= length - n; }
    const unsigned char *at(uint64_t position) const { return bytes + (position - start); }
};

// Read up to n bytes at `at` (n <= capacity, `at` inside the file) into the
// window, cut at the end of the file. False when the read fails or comes
// back with fewer bytes than the file holds there.
bool fill(BookFile *file, Window *w, uint64_t at, uint32_t n) {
    w->length = 0;
    uint64_t left = file->size - at;
    uint32_t want = left < n ? static_cast<uint32_t>(left) : n;
    int64_t got = readUpTo(file, at, w->bytes, want);
    if (got != want) return false;
    w->start = at;
    w->length = want;
    return true;
}

// Where a window of up to `capacity` bytes that must hold [at, at + n)
// starts and how long it is: the whole of [first, last) when that fits, else
// `capacity` bytes around `at` inside [first, last).
void place(uint64_t first, uint64_t last, uint64_t at, uint32_t capacity, uint64_t *start, uint32_t *n) {
    if (last - first <= capacity) {
        *start = first;
        *n = static_cast<uint32_t>(last - first);
        return;
    }
    uint64_t s = at - first > capacity / 2 ? at - capacity / 2 : first;
    if (last - s < capacity) s = last - capacity;
    *start = s;
    *n = capacity;
}

// The bytes one look-up reads ahead: a window of the key list and one of the
// key records, in one heap block.
constexpr uint32_t KEY_LIST_WINDOW = 32768;
constexpr uint32_t KEY_RECORD_WINDOW = 16384;
// The header is read with the bytes after it, where the table directory and
// the first table records usually lie.
constexpr uint32_t HEADER_WINDOW = 1024;

struct Bisection {
    BookFile *file;
    const Section &keys;
    const char *query;
    Window list;
    Window records;
};

// The record offset of key `index`. The list window serves it when it holds
// the entry; when the entries of keys lo to hi fit in the window they are
// read whole, else the entry alone is read.
bool recordOffset(Bisection *b, uint32_t index, uint32_t lo, uint32_t hi, uint32_t *record) {
    uint64_t position;
    if (!entryPosition(b->file, b->keys, index, &position)) return false;
    if (b->list.covers(position, U32_ENTRY_SIZE)) {
        *record = le32(b->list.at(position));
        return true;
    }
    uint64_t first = b->keys.offset + uint64_t{U32_ENTRY_SIZE} * lo;
    uint64_t bytes = (uint64_t{hi} - lo + 1) * U32_ENTRY_SIZE;
    if (bytes > b->list.capacity) return u32At(b->file, position, record);
    if (!fill(b->file, &b->list, first, static_cast<uint32_t>(bytes))) return false;
    // The entry lies in the file and in [first, first + bytes), which fill
    // read up to the end of the file.
    if (!b->list.covers(position, U32_ENTRY_SIZE)) return false;  // GCOVR_EXCL_BR_LINE: fill read the entry
    *record = le32(b->list.at(position));
    return true;
}

// The span of the records of keys lo to hi when the list window holds all
// their entries: from the first length word to PROBE_TEXT_WINDOW text bytes
// after the last. Records usually lie in key order, so the records of the
// first and the last key bound it; where they do not, the window read from
// the span misses and the record is read on its own. False when the window
// does not hold the entries.
bool recordSpan(const Bisection &b, uint32_t lo, uint32_t hi, uint64_t *first, uint64_t *last) {
    uint64_t from = b.keys.offset + uint64_t{U32_ENTRY_SIZE} * lo;
    uint64_t count = uint64_t{hi} - lo + 1;
    if (!b.list.covers(from, count * U32_ENTRY_SIZE)) return false;
    uint32_t a = le32(b.list.at(from));
    uint32_t z = le32(b.list.at(from + (count - 1) * U32_ENTRY_SIZE));
    *first = uint64_t{a < z ? a : z} + KEY_LENGTH_WORD;
    *last = uint64_t{a < z ? z : a} + KEY_LENGTH_WORD + 4 + PROBE_TEXT_WINDOW;
    return true;
}

// Read key `index` and compare it with the query (stored key first). The
// entry and the record come from bytes this look-up already read when they
// hold them; otherwise a window around them is read. A record that the
// windows cannot serve (a long text, the end of the file) is read on its own.
ProbeResult probeKey(Bisection *b, uint32_t index, uint32_t lo, uint32_t hi) {
    uint32_t record;
    if (!recordOffset(b, index, lo, hi, &record)) return ProbeResult::Failed;
    uint64_t lengthWord = static_cast<uint64_t>(record) + KEY_LENGTH_WORD;
    uint64_t first, last;
    // Records are read ahead only once the list window holds every key left
    // to probe and their records span at most twice the window (the later
    // probes then fall within it): the whole span when it fits, else a
    // window around this record. Before that a record is read on its own.
    if (!b->records.covers(lengthWord, 4) && lengthWord < b->file->size && b->file->size - lengthWord >= 4 &&
        recordSpan(*b, lo, hi, &first, &last) && last - first <= 2 * uint64_t{b->records.capacity}) {
        if (first > lengthWord || last < lengthWord + 4) {
            first = lengthWord > b->records.capacity ? lengthWord - b->records.capacity : 0;
            last = lengthWord + b->records.capacity;
        }
        uint64_t start;
        uint32_t n;
        place(first, last, lengthWord, b->records.capacity, &start, &n);
        if (!fill(b->file, &b->records, start, n)) return ProbeResult::Failed;
    }
    if (b->records.covers(lengthWord, 4)) {
        uint32_t length = le32(b->records.at(lengthWord)) & KEY_TEXT_LENGTH_MASK;
        if (length <= PROBE_TEXT_WINDOW && b->records.covers(lengthWord + 4, length))
            return compareShortKey(b->records.at(lengthWord + 4), length, b->query);
    }
    return probeRecord(b->file, lengthWord, b->query);
}

struct Lookup {
    bool matched;    // a key compared equal to the query
    uint32_t index;  // the matching key, else the first key after the query
                     // (0 when it sorts before key 0, the last key when it
                     // sorts after every key)
};

// Bisect keys lo to hi for the query. False when a probe fails. Which of
// several equal keys is found is fixed by the probe sequence: mid = (lo +
// hi) / 2, the first probe that compares equal wins.
bool bisect(Bisection *b, Lookup *out) {
    uint32_t count = static_cast<uint32_t>(b->keys.count);
    uint32_t lo = 0, hi = count - 1;
    for (;;) {
        uint32_t mid = static_cast<uint32_t>((static_cast<uint64_t>(lo) + hi) / 2);
        ProbeResult m = probeKey(b, mid, lo, hi);
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

// The heap block of a look-up's read-ahead windows, released on every path.
class LookupBlock {
public:
    LookupBlock() : bytes_(static_cast<unsigned char *>(heapAlloc(KEY_LIST_WINDOW + KEY_RECORD_WINDOW))) {}
    LookupBlock(const LookupBlock &) = delete;
    LookupBlock &operator=(const LookupBlock &) = delete;
    ~LookupBlock() { heapFree(bytes_); }

    bool ok() const { return bytes_ != nullptr; }
    Window listWindow() const { return {bytes_, KEY_LIST_WINDOW}; }
    Window recordWindow() const { return {bytes_ + KEY_LIST_WINDOW, KEY_RECORD_WINDOW}; }

private:
    unsigned char *bytes_;
};

// readTableRecord with fewer reads: the header is read with the bytes that
// follow it, which serve the table directory entry and the table record
// when they lie there. A book whose header or directory that first read
// does not hold is read by readTableRecord itself, so every book gives the
// same result.
bool readTableRecordAhead(BookFile *file, int32_t table, TableRecord *record, Window *w) {
    if (!fill(file, w, 0, HEADER_WINDOW)) return false;
    // GCOVR_EXCL_BR_START: an open book holds its whole header, and fill read it
    if (!w->covers(0, BOOK_HEADER_SIZE)) return readTableRecord(file, table, record);
    // GCOVR_EXCL_BR_STOP
    uint32_t dir = le32(w->at(HDR_TABLE_DIR_OFFSET));
    if (dir == 0 || table < 0 || !w->covers(dir, COUNT8_SIZE)) return readTableRecord(file, table, record);
    Section tables{uint64_t{dir} + COUNT8_SIZE, TABLE_DIR_ENTRY_SIZE, *w->at(dir)};
    uint64_t entry;
    uint32_t position;
    if (!entryPosition(file, tables, static_cast<uint64_t>(table), &entry)) return false;
    if (w->covers(entry, TABLE_DIR_ENTRY_SIZE)) {
        position = le32(w->at(entry));
    } else if (!u32At(file, entry, &position)) {
        return false;
    }
    if (!w->covers(position, TABLE_RECORD_SIZE)) return readAt(file, position, record->bytes, TABLE_RECORD_SIZE);
    memcpy(record->bytes, w->at(position), TABLE_RECORD_SIZE);
    return true;
}

// Bisect the key list of `count` keys (count > 0) for the query. False when
// a probe fails.
bool bisectKeys(BookFile *file, const Section &keys, const char *query, const LookupBlock &block, Lookup *out) {
    Bisection b{file, keys, query, block.listWindow(), block.recordWindow()};
    return bisect(&b, out);
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

// The table record of a plain look-up, read through the block's window.
bool lookupTableRecord(BookHandle book, int32_t table, const LookupBlock &block, TableRecord *record) {
    Window w = block.recordWindow();
    return block.ok() && readTableRecordAhead(&book->file, table, record, &w);
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVSearchKeyWord(BookHandle book, int32_t table, const char *word,
                                                     int32_t length) noexcept {
    if (!book) return 0;
    TableRecord record;
    if (!isDictionary(book)) {
        LookupBlock block;
        Section keys;
        if (!lookupTableRecord(book, table, block, &record)) return 0;
        if (!word || word[0] == '\0' || length <= 0 || !keyList(&book->file, record, &keys) || keys.count == 0)
            return 0;
        QueryText query;
        if (!query.set(word, length)) return 0;
        Lookup found;
        if (!bisectKeys(&book->file, keys, query.text(), block, &found)) return 0;
        return static_cast<int32_t>(found.index);
    }
    if (!readTableRecord(&book->file, table, &record)) return 0;
    {
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
}

extern "C" ZAV_API int32_t ZAV_CALL ZAVIsExistWord(BookHandle book, int32_t table, const char *word) noexcept {
    if (!book) return 0;
    TableRecord record;
    if (!isDictionary(book)) {
        // A null word compares like an empty one; the comparison never reads it.
        LookupBlock block;
        Section keys;
        Lookup found;
        if (!lookupTableRecord(book, table, block, &record) || !keyList(&book->file, record, &keys) ||
            keys.count == 0 || !bisectKeys(&book->file, keys, word, block, &found))
            return 0;
        return found.matched ? 1 : 0;
    }
    if (!readTableRecord(&book->file, table, &record)) return 0;
    {
        // A null word would reach the engine: refused there.
        if (!word) return 0;
        engine::EngineRecord dict;
        if (!dict.openDictionary(record.field(TBL_DICT_ID))) return 0;
        return engine::dicIsExistWord(dict.hdict, word);
    }
}
