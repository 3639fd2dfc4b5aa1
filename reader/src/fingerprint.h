// What a search index records of the book it was made from, to tell later
// whether the book is still the same: its size, its time of change and a
// hash of its bytes. A book whose size and time are unchanged is taken as
// the same; one whose time changed (copied, touched) is the same only when
// its bytes hash alike.
#ifndef ZAV_READER_FINGERPRINT_H
#define ZAV_READER_FINGERPRINT_H

#include <cstdint>
#include <optional>
#include <string>

namespace zavreader {

struct Fingerprint {
    uint64_t size = 0;
    int64_t modified = 0;  // nanoseconds
    uint64_t hash = 0;     // FNV-1a (64 bits) of the file's bytes
    std::string text() const;
    static std::optional<Fingerprint> parse(const std::string &text);
};

// The file's fingerprint, its bytes hashed; nullopt when it cannot be read.
std::optional<Fingerprint> fingerprintOf(const std::string &path);

// Whether the file at `path` is still the one `recorded` describes.
bool sameFile(const std::string &path, const Fingerprint &recorded);

}  // namespace zavreader

#endif
