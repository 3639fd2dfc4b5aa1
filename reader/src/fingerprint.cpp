#include "fingerprint.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>
#include <vector>

#include "book.h"

namespace zavreader {

namespace {

constexpr uint64_t kOffset = 0xcbf29ce484222325ull, kPrime = 0x100000001b3ull;
constexpr size_t kChunk = 1u << 20;

std::optional<uint64_t> hashOf(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::vector<char> chunk(kChunk);
    uint64_t h = kOffset;
    while (in) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        std::streamsize n = in.gcount();
        for (std::streamsize i = 0; i < n; ++i) {
            h ^= static_cast<unsigned char>(chunk[static_cast<size_t>(i)]);
            h *= kPrime;
        }
    }
    if (in.bad()) return std::nullopt;
    return h;
}

}  // namespace

std::string Fingerprint::text() const {
    char buffer[80];
    std::snprintf(buffer, sizeof buffer, "%" PRIu64 " %" PRId64 " %016" PRIx64, size, modified, hash);
    return buffer;
}

std::optional<Fingerprint> Fingerprint::parse(const std::string &text) {
    Fingerprint f;
    char end = 0;
    if (std::sscanf(text.c_str(), "%" SCNu64 " %" SCNd64 " %" SCNx64 "%c", &f.size, &f.modified, &f.hash, &end) != 3)
        return std::nullopt;
    return f;
}

std::optional<Fingerprint> fingerprintOf(const std::string &path) {
    auto before = signatureOf(path);
    if (!before) return std::nullopt;
    auto hash = hashOf(path);
    auto after = signatureOf(path);
    // A file that changed while it was read has no fingerprint.
    if (!hash || !after || *after != *before) return std::nullopt;
    return Fingerprint{before->size, before->modified, *hash};
}

bool sameFile(const std::string &path, const Fingerprint &recorded) {
    auto now = signatureOf(path);
    if (!now || now->size != recorded.size) return false;
    if (now->modified == recorded.modified) return true;
    auto hash = hashOf(path);
    return hash && *hash == recorded.hash && signatureOf(path) == now;
}

}  // namespace zavreader
