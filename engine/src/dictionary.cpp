#include "dictionary.h"

#include <stdlib.h>
#include <string.h>

#include <new>

#include "tovix/collation.h"
#include "dict_format.h"
#include "tovix/le.h"

namespace zozizid {

using tovix::le16;
using tovix::le32;

namespace {

constexpr size_t kPathCapacity = 4096;

// Whether [offset, offset + size) lies inside [begin, end), in 64 bits.
inline bool inside(uint64_t offset, uint64_t size, uint64_t begin, uint64_t end) {
    return offset >= begin && offset <= end && size <= end - offset;
}

bool readIndexEntry(const Dictionary &d, uint32_t index, uint32_t *wordOffset, uint32_t *recordOffset) {
    // Every caller passes an index below wordCount: dicSearchRecord checks it, the bisection stays
    // below its upper end, findWord and the spell check test it. The check stays as a guard.
    if (index >= d.wordCount) return false;  // GCOVR_EXCL_BR_LINE: callers keep index below wordCount
    unsigned char e[format::kIndexEntrySize];
    if (!readBytes(d, d.indexOffset + uint64_t{format::kIndexEntrySize} * index, e, sizeof e)) return false;
    *wordOffset = le32(e);
    *recordOffset = le32(e + 4);
    return true;
}

// Read the word at wordOffset (inside the word list) into buffer.
bool readWordAt(const Dictionary &d, uint32_t wordOffset, char *buffer, uint32_t *length) {
    unsigned char lengthBytes[2];
    if (!inside(wordOffset, 2, d.wordsOffset, d.wordsEnd)) return false;
    if (!readBytes(d, wordOffset, lengthBytes, 2)) return false;
    uint32_t n = le16(lengthBytes);
    if (n == 0 || !inside(uint64_t{wordOffset} + 2, n, d.wordsOffset, d.wordsEnd)) return false;
    if (!readBytes(d, uint64_t{wordOffset} + 2, buffer, n)) return false;
    buffer[n] = 0;
    *length = n;
    return true;
}

}  // namespace

Dictionary *openDictionaryFile(const char *path) {
    os::FileStamp stamp;
    Resident *r = os::pathStamp(path, &stamp) ? acquireResident(path, stamp) : nullptr;
    if (!r) return nullptr;
    // A dictionary kept whole needs no open file.
    os::File file = r->whole ? os::kNoFile : os::openRead(path);
    Dictionary *d = r->whole || file != os::kNoFile ? os::heapNew<Dictionary>() : nullptr;
    if (!d) {
        os::closeFile(file);
        releaseResident(r);
        return nullptr;
    }
    static_cast<Layout &>(*d) = r->layout;
    d->file = file;
    d->resident = r;
    return d;
}

Dictionary *openDictionary(uint32_t dictId) {
    char *path = static_cast<char *>(os::heapAlloc(kPathCapacity));
    if (!path) return nullptr;
    Dictionary *d = nullptr;
    size_t n = os::dictionaryFolder(path, kPathCapacity - 16);
    if (n > 0) {  // GCOVR_EXCL_BR_LINE: the folder is found (the engine's own folder at worst)
        static const char kHex[] = "0123456789abcdef";
        char *p = path + n;
        if (p[-1] != os::kPathSeparator) *p++ = os::kPathSeparator;
        for (int shift = 28; shift >= 0; shift -= 4) *p++ = kHex[(dictId >> shift) & 0xF];
        memcpy(p, ".zzd", 5);
        d = openDictionaryFile(path);
        if (d && d->dictId != dictId) {
            release(d);
            d = nullptr;
        }
    }
    os::heapFree(path);
    return d;
}

void retain(Dictionary *dict) { dict->refs.fetch_add(1, std::memory_order_relaxed); }

void release(Dictionary *dict) {
    if (!dict) return;  // GCOVR_EXCL_BR_LINE: every handle and every caller holds a dictionary
    if (dict->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        os::closeFile(dict->file);
        releaseResident(dict->resident);
        os::heapDelete(dict);
    }
}

bool readBytes(const Dictionary &dict, uint64_t at, void *buffer, size_t n) {
    // GCOVR_EXCL_BR_START: a dictionary without an open file is kept whole, and every read lies inside it
    return copyResident(*dict.resident, at, buffer, n) ||
           (dict.file != os::kNoFile && os::readAt(dict.file, at, buffer, n));
    // GCOVR_EXCL_BR_STOP
}

bool readWord(const Dictionary &dict, uint32_t index, char *buffer, uint32_t *length) {
    uint32_t wordOffset, recordOffset;
    return readIndexEntry(dict, index, &wordOffset, &recordOffset) && readWordAt(dict, wordOffset, buffer, length);
}

namespace {

// Bytes read at once from the start of a record: its content count and the
// first entries of its content table, so that most records take one read.
constexpr size_t kRecordHeadBytes = 4 + 16 * format::kContentEntrySize;

// Read the content table of the record at recordOffset into r.
bool readContents(const Dictionary &dict, uint32_t recordOffset, WordRecord *r) {
    using namespace format;
    unsigned char head[kRecordHeadBytes];
    if (!inside(recordOffset, 4, dict.recordsOffset, dict.recordsEnd)) return false;
    uint32_t left = dict.recordsEnd - recordOffset;
    size_t have = left < kRecordHeadBytes ? left : kRecordHeadBytes;
    if (!readBytes(dict, recordOffset, head, have)) return false;
    uint32_t count = le32(head);
    uint64_t tableSize = uint64_t{kContentEntrySize} * count;
    if (count > kMaxContents || !inside(uint64_t{recordOffset} + 4, tableSize, dict.recordsOffset, dict.recordsEnd))
        return false;
    if (count == 0) return true;
    unsigned char *table =
        4 + tableSize <= have ? nullptr : static_cast<unsigned char *>(os::heapAlloc(static_cast<size_t>(tableSize)));
    const unsigned char *entries = table ? table : head + 4;
    r->contents = static_cast<ContentEntry *>(os::heapAlloc(sizeof(ContentEntry) * count));
    bool ok = r->contents && (4 + tableSize <= have || (table && readBytes(dict, uint64_t{recordOffset} + 4, table,
                                                                           static_cast<size_t>(tableSize))));
    for (uint32_t i = 0; ok && i < count; ++i) {
        const unsigned char *e = entries + size_t{kContentEntrySize} * i;
        ContentEntry c{le32(e), le32(e + 4), le32(e + 8)};
        ok = c.length <= kMaxContentLength && inside(c.offset, c.length, dict.recordsOffset, dict.recordsEnd);
        r->contents[i] = c;
    }
    os::heapFree(table);
    if (ok) r->contentCount = count;
    return ok;
}

}  // namespace

bool readRecord(const Dictionary &dict, uint32_t index, WordRecord *out) {
    uint32_t wordOffset, recordOffset;
    if (!readIndexEntry(dict, index, &wordOffset, &recordOffset)) return false;

    WordRecord r;
    r.index = index;
    unsigned char lengthBytes[2];
    if (!inside(wordOffset, 2, dict.wordsOffset, dict.wordsEnd) || !readBytes(dict, wordOffset, lengthBytes, 2))
        return false;
    r.wordLength = le16(lengthBytes);
    if (r.wordLength == 0) return false;
    r.word = static_cast<char *>(os::heapAlloc(r.wordLength + 1u));
    uint32_t length = 0;
    if (!r.word || !readWordAt(dict, wordOffset, r.word, &length) || !readContents(dict, recordOffset, &r)) {
        freeRecord(&r);
        return false;
    }
    *out = r;
    return true;
}

void freeRecord(WordRecord *record) {
    os::heapFree(record->word);
    os::heapFree(record->contents);
    record->word = nullptr;
    record->contents = nullptr;
    record->contentCount = 0;
}

bool lowerBound(const Dictionary &dict, const char *word, char *buffer, uint32_t *result) {
    uint32_t lo = 0, hi = dict.wordCount;  // the answer lies in [lo, hi]
    while (lo < hi) {
        uint32_t mid = lo + (hi - lo) / 2;
        uint32_t length;
        if (!readWord(dict, mid, buffer, &length)) return false;
        if (tovix::compareKeys(buffer, word) < 0)
            lo = mid + 1;
        else
            hi = mid;
    }
    *result = lo;
    return true;
}

bool findWord(const Dictionary &dict, const char *word, uint32_t *index) {
    if (!word) return false;  // GCOVR_EXCL_BR_LINE: both callers (dicSearchWord, dicIsExistWord) test word first
    char *buffer = static_cast<char *>(os::heapAlloc(kWordBufferSize));
    if (!buffer) return false;
    // Every record equal to the word sorts at the lower bound, and so does
    // the first homograph 1 of a word without a homograph number (bank@1
    // sorts right after bank and before every longer word).
    uint32_t at = 0, length = 0;
    bool found = lowerBound(dict, word, buffer, &at) && at < dict.wordCount && readWord(dict, at, buffer, &length) &&
                 tovix::compareStoredKey(buffer, length, word) == 0;
    os::heapFree(buffer);
    if (found) *index = at;
    return found;
}

const ContentEntry *findContent(const WordRecord &record, uint32_t contentId) {
    for (uint32_t i = 0; i < record.contentCount; ++i)
        if (record.contents[i].id == contentId) return &record.contents[i];
    return nullptr;
}

}  // namespace zozizid
