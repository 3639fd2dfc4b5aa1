// The part of a dictionary that stays in memory between handles: where its
// sections are, and copies of its index and word list, so that a search
// runs without reading the file. One Resident serves every handle on the
// same version of a file; a process-wide cache, keyed by path, keeps it
// after the last handle is freed and drops it when the file's stamp
// (identity, size, modification time) changes, and when the engine is
// unloaded.
#ifndef ZOZIZID_RESIDENT_H
#define ZOZIZID_RESIDENT_H

#include <stddef.h>
#include <stdint.h>

#include <atomic>

#include "engine_os.h"

namespace zozizid {

// The sections of a dictionary file, as its header gives them (validated).
struct Layout {
    uint32_t dictId = 0;
    uint32_t wordCount = 0;
    uint32_t indexOffset = 0;
    uint32_t wordsOffset = 0, wordsEnd = 0;      // the word list [wordsOffset, wordsEnd)
    uint32_t recordsOffset = 0, recordsEnd = 0;  // the record area [recordsOffset, recordsEnd)
};

// A dictionary file of at most kMaxWholeFileBytes is kept whole, so that its
// handles need no open file; of a larger one the index and word list are
// kept when they take at most kMaxResidentBytes together, else nothing and
// it is searched on disk.
constexpr uint64_t kMaxWholeFileBytes = uint64_t{64} << 20;
constexpr uint64_t kMaxResidentBytes = uint64_t{256} << 20;
// The cache keeps at most this many dictionaries and, beyond the one just
// opened, at most this many bytes; the least recently opened go first.
constexpr size_t kMaxCachedDictionaries = 64;
constexpr uint64_t kMaxCachedBytes = uint64_t{1} << 30;

struct Resident {
    std::atomic<uint32_t> refs{1};
    char *path = nullptr;
    os::FileStamp stamp;
    Layout layout;
    unsigned char *whole = nullptr;  // the whole file (fileSize bytes), or null
    uint64_t fileSize = 0;
    unsigned char *index = nullptr;  // bytes [indexOffset, indexOffset + 8 x wordCount), or null
    unsigned char *words = nullptr;  // bytes [wordsOffset, wordsEnd), or null
    size_t bytes = 0;                // the memory this Resident holds
};

// The Resident of the file at `path`, whose stamp is `stamp`: the cached one
// when its stamp matches, else one read from the file (header validated,
// the file or its index and word list copied when small enough) and cached.
// Null when the file is refused, cannot be read or memory runs out. The
// result holds one reference for the caller.
Resident *acquireResident(const char *path, const os::FileStamp &stamp);
void releaseResident(Resident *resident);
// Drop the cache's reference to every Resident it keeps (handles keep
// theirs), so that the next acquire reads its file again.
void dropResidentCache();

// Copy [at, at + n) of the file from the Resident's copies; false when the
// range is not wholly inside one of them.
bool copyResident(const Resident &resident, uint64_t at, void *buffer, size_t n);

}  // namespace zozizid

#endif
