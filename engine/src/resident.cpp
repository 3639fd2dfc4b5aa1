#include "resident.h"

#include <stdlib.h>
#include <string.h>

#include <mutex>
#include <new>

#include "dict_format.h"
#include "tovix/le.h"

namespace zozizid {

using tovix::le32;

namespace {

inline bool inside(uint64_t offset, uint64_t size, uint64_t begin, uint64_t end) {
    return offset >= begin && offset <= end && size <= end - offset;
}

// Read and check the header of a file of actualSize bytes.
bool readLayout(os::File file, uint64_t actualSize, Layout *out) {
    using namespace format;
    unsigned char h[kHeaderSize];
    if (actualSize < kHeaderSize || actualSize > 0xFFFFFFFFull) return false;
    if (!os::readAt(file, 0, h, sizeof h)) return false;
    if (memcmp(h, kMagic, sizeof kMagic) != 0) return false;
    if (le32(h + kOffVersion) != kVersion || le32(h + kOffHeaderSize) != kHeaderSize) return false;
    if (le32(h + kOffFileSize) != actualSize) return false;
    Layout d;
    d.dictId = le32(h + kOffDictId);
    d.wordCount = le32(h + kOffWordCount);
    d.indexOffset = le32(h + kOffIndexOffset);
    uint32_t wordsSize = le32(h + kOffWordsSize), recordsSize = le32(h + kOffRecordsSize);
    d.wordsOffset = le32(h + kOffWordsOffset);
    d.recordsOffset = le32(h + kOffRecordsOffset);
    if (!inside(d.indexOffset, uint64_t{kIndexEntrySize} * d.wordCount, kHeaderSize, actualSize)) return false;
    if (!inside(d.wordsOffset, wordsSize, kHeaderSize, actualSize)) return false;
    if (!inside(d.recordsOffset, recordsSize, kHeaderSize, actualSize)) return false;
    // Every word takes at least 3 bytes (length and one byte), every record
    // at least its 4-byte content count.
    if (d.wordCount > wordsSize / 3 || d.wordCount > recordsSize / 4) return false;
    d.wordsEnd = d.wordsOffset + wordsSize;
    d.recordsEnd = d.recordsOffset + recordsSize;
    *out = d;
    return true;
}

void destroy(Resident *r) {
    os::heapFree(r->whole);
    os::heapFree(r->index);
    os::heapFree(r->words);
    os::heapFree(r->path);
    os::heapDelete(r);
}

// A copy of [at, at + n) of the file in new memory, or null.
unsigned char *copyOf(os::File file, uint32_t at, size_t n) {
    unsigned char *bytes = static_cast<unsigned char *>(os::heapAlloc(n > 0 ? n : 1));
    if (bytes && n > 0 && !os::readAt(file, at, bytes, n)) {
        os::heapFree(bytes);
        return nullptr;
    }
    return bytes;
}

// Copy what fits the limits: the whole file, else the index and word list.
// When memory runs short the dictionary is searched on disk.
void copySections(os::File file, Resident *r) {
    const Layout &layout = r->layout;
    if (r->fileSize <= kMaxWholeFileBytes) {
        r->whole = copyOf(file, 0, static_cast<size_t>(r->fileSize));
        if (r->whole) {
            r->bytes += static_cast<size_t>(r->fileSize);
            return;
        }
    }
    uint64_t indexSize = uint64_t{format::kIndexEntrySize} * layout.wordCount;
    uint64_t wordsSize = layout.wordsEnd - layout.wordsOffset;
    if (indexSize + wordsSize > kMaxResidentBytes) return;
    r->index = copyOf(file, layout.indexOffset, static_cast<size_t>(indexSize));
    r->words = r->index ? copyOf(file, layout.wordsOffset, static_cast<size_t>(wordsSize)) : nullptr;
    if (!r->words) {
        os::heapFree(r->index);
        r->index = nullptr;
        return;
    }
    r->bytes += static_cast<size_t>(indexSize + wordsSize);
}

Resident *load(const char *path, const os::FileStamp &stamp) {
    os::File file = os::openRead(path);
    if (file == os::kNoFile) return nullptr;
    Layout layout;
    uint64_t size = 0;
    Resident *r = nullptr;
    size_t pathSize = strlen(path) + 1;
    if (os::fileSize(file, &size) && readLayout(file, size, &layout)) r = os::heapNew<Resident>();
    if (r) r->path = static_cast<char *>(os::heapAlloc(pathSize));
    if (r && r->path) {
        memcpy(r->path, path, pathSize);
        r->stamp = stamp;
        r->layout = layout;
        r->fileSize = size;
        r->bytes = sizeof(Resident) + pathSize;
        copySections(file, r);
    } else if (r) {
        destroy(r);
        r = nullptr;
    }
    os::closeFile(file);
    return r;
}

// The cache: slots of recently opened dictionaries, each holding one
// reference, guarded by one mutex.
struct Slot {
    Resident *resident;
    uint64_t lastUse;
};

std::mutex gMutex;
Slot gSlots[kMaxCachedDictionaries];
uint64_t gClock = 0;

void emptySlot(Slot &slot) {
    releaseResident(slot.resident);
    slot.resident = nullptr;
}

// The slot that holds `path`, or null.
Slot *slotOf(const char *path) {
    for (Slot &slot : gSlots)
        if (slot.resident && strcmp(slot.resident->path, path) == 0) return &slot;
    return nullptr;
}

// Put r (one more reference) in the cache, in place of the entry of its path,
// an empty slot or the least recently used one, then drop the least recently
// used others while the cache holds more than kMaxCachedBytes.
void insert(Resident *r) {
    Slot *target = slotOf(r->path);
    for (Slot &slot : gSlots) {
        if (target) break;
        if (!slot.resident) target = &slot;
    }
    if (!target) {
        target = &gSlots[0];
        for (Slot &slot : gSlots)
            if (slot.lastUse < target->lastUse) target = &slot;
    }
    if (target->resident) emptySlot(*target);
    r->refs.fetch_add(1, std::memory_order_relaxed);
    *target = Slot{r, ++gClock};
    for (;;) {
        uint64_t total = 0;
        Slot *oldest = nullptr;
        for (Slot &slot : gSlots) {
            if (!slot.resident) continue;
            total += slot.resident->bytes;
            if (slot.resident != r && (!oldest || slot.lastUse < oldest->lastUse)) oldest = &slot;
        }
        if (total <= kMaxCachedBytes || !oldest) break;  // GCOVR_EXCL_BR_LINE: only over 1 GiB kept
        emptySlot(*oldest);
    }
}

// Empties the cache when the engine is unloaded.
struct CacheOwner {
    ~CacheOwner() { dropResidentCache(); }
} gCacheOwner;

}  // namespace

Resident *acquireResident(const char *path, const os::FileStamp &stamp) {
    {
        std::lock_guard<std::mutex> lock(gMutex);
        if (Slot *slot = slotOf(path)) {
            if (slot->resident->stamp == stamp) {
                slot->lastUse = ++gClock;
                slot->resident->refs.fetch_add(1, std::memory_order_relaxed);
                return slot->resident;
            }
            emptySlot(*slot);  // the file changed
        }
    }
    // Read outside the lock: other dictionaries stay usable meanwhile.
    Resident *r = load(path, stamp);
    if (!r) return nullptr;
    std::lock_guard<std::mutex> lock(gMutex);
    insert(r);
    return r;
}

void dropResidentCache() {
    std::lock_guard<std::mutex> lock(gMutex);
    for (Slot &slot : gSlots)
        if (slot.resident) emptySlot(slot);
}

void releaseResident(Resident *r) {
    if (!r) return;  // GCOVR_EXCL_BR_LINE: the cache's slots and every open dictionary hold a Resident
    if (r->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) destroy(r);
}

bool copyResident(const Resident &r, uint64_t at, void *buffer, size_t n) {
    const Layout &d = r.layout;
    if (r.whole && inside(at, n, 0, r.fileSize)) {  // GCOVR_EXCL_BR_LINE: every read lies inside the file
        memcpy(buffer, r.whole + static_cast<size_t>(at), n);
        return true;
    }
    if (r.index && inside(at, n, d.indexOffset, d.indexOffset + uint64_t{format::kIndexEntrySize} * d.wordCount)) {
        memcpy(buffer, r.index + static_cast<size_t>(at - d.indexOffset), n);
        return true;
    }
    if (r.words && inside(at, n, d.wordsOffset, d.wordsEnd)) {
        memcpy(buffer, r.words + static_cast<size_t>(at - d.wordsOffset), n);
        return true;
    }
    return false;
}

}  // namespace zozizid
