// The mutator of the book targets (libFuzzer builds only): besides
// libFuzzer's own mutations, it often rewrites a 32-bit field of the book,
// the dictionary file or the memo sidecar that looks like an offset (not
// zero, below twice the section's size) so that it points somewhere inside
// that section: at a random byte, near its end, or where another such field
// points. Offsets in all three files are absolute from the file's start.
#include <stddef.h>
#include <stdint.h>

#include <random>

#include "book_input.h"
#include "fuzz_support.h"

extern "C" size_t LLVMFuzzerMutate(uint8_t *data, size_t size, size_t maxSize);

namespace {

constexpr unsigned kOffsetShare = 3;  // one mutation in three moves an offset
constexpr int kProbes = 32;
constexpr uint32_t kNearEnd = 16;

const fuzz::Section *pickSection(const fuzz::BookInput &input, std::minstd_rand &random) {
    const fuzz::Section *sections[] = {&input.book, &input.book, &input.dictionary, &input.memo};
    const fuzz::Section *picked = sections[random() % 4];
    return picked->size >= 8 ? picked : input.book.size >= 8 ? &input.book : nullptr;
}

bool looksLikeOffset(uint32_t value, size_t sectionSize) { return value != 0 && value < 2 * sectionSize; }

bool pointOffsetInside(uint8_t *data, size_t size, std::minstd_rand &random) {
    fuzz::BookInput input = fuzz::splitBookInput(data, size);
    const fuzz::Section *section = pickSection(input, random);
    if (!section) return false;
    uint8_t *bytes = data + section->at;
    size_t span = section->size - 3;
    for (int probe = 0; probe < kProbes; ++probe) {
        size_t at = random() % span;
        if (!looksLikeOffset(fuzz::get32(bytes + at), section->size)) continue;
        uint32_t target = static_cast<uint32_t>(random() % section->size);
        switch (random() % 3) {
            case 0: break;
            case 1: target = static_cast<uint32_t>(section->size - 1 - random() % kNearEnd % section->size); break;
            default: {  // where another offset-like field points
                uint32_t other = fuzz::get32(bytes + random() % span);
                if (other < section->size) target = other;
            }
        }
        fuzz::put32(bytes + at, target);
        return true;
    }
    return false;
}

}  // namespace

extern "C" size_t LLVMFuzzerCustomMutator(uint8_t *data, size_t size, size_t maxSize, unsigned int seed) {
    std::minstd_rand random(seed);
    if (random() % kOffsetShare == 0 && pointOffsetInside(data, size, random)) return size;
    return LLVMFuzzerMutate(data, size, maxSize);
}
