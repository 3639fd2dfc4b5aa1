// Helpers shared by the fuzz targets that drive a library through its
// exported calls: the input split into a plan of calls and a file image, a
// scratch folder for the files the libraries read, and checks that stop the
// run on a broken promise of a call.
//
// Input layout of a planned target: byte 0 is the plan length P (cut to the
// input), bytes 1..P are the plan, the rest is the file image. The plan is
// read as a stream of small numbers; past its end it reads as zeros.
#ifndef TOVIX_FUZZ_SUPPORT_H
#define TOVIX_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace fuzz {

// Stop the run: a sanitizer-visible failure with the reason on stderr.
[[noreturn]] inline void broken(const char *what) {
    fprintf(stderr, "fuzz: broken promise: %s\n", what);
    abort();
}
#define FUZZ_CHECK(cond) ((cond) ? (void)0 : ::fuzz::broken(#cond))

class Plan {
public:
    Plan(const uint8_t *bytes, size_t size) : bytes_(bytes), size_(size) {}
    bool done() const { return at_ >= size_; }
    size_t size() const { return size_; }
    uint8_t u8() { return at_ < size_ ? bytes_[at_++] : 0; }
    uint16_t u16() { return static_cast<uint16_t>(u8() | u8() << 8); }
    uint32_t u32() { return static_cast<uint32_t>(u16() | static_cast<uint32_t>(u16()) << 16); }
    // A short byte string: a length byte (at most maxLength) and the bytes.
    std::string text(size_t maxLength) {
        size_t n = u8() % (maxLength + 1);
        std::string out;
        while (out.size() < n && !done()) out.push_back(static_cast<char>(u8()));
        return out;
    }

private:
    const uint8_t *bytes_;
    size_t size_;
    size_t at_ = 0;
};

// The plan and the file image of an input.
struct Split {
    Plan plan;
    const uint8_t *file;
    size_t fileSize;
};

inline Split splitInput(const uint8_t *data, size_t size) {
    if (size == 0) return {Plan(nullptr, 0), nullptr, 0};
    size_t planSize = data[0] < size - 1 ? data[0] : size - 1;
    return {Plan(data + 1, planSize), data + 1 + planSize, size - 1 - planSize};
}

inline uint32_t get32(const uint8_t *p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}
inline void put32(uint8_t *p, uint32_t v) {
    for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

// The input of a planned target whose file carries its own size at
// sizeOffset: the plan (or the default plan when the input has none), its
// flags byte, and the file with the stored size set to the real one unless
// flag kKeepStoredSize asks to keep it (so that mutations get past the
// header check).
constexpr uint8_t kKeepStoredSize = 1;
struct PlannedFile {
    Plan plan;
    uint8_t flags;
    std::vector<uint8_t> file;
};
PlannedFile plannedFile(const uint8_t *data, size_t size, const uint8_t *defaultPlan, size_t defaultSize,
                        uint32_t sizeOffset);

// Give handle slot `slot` a new handle, freeing the one it held with
// freeCall, which must report success (1).
template <size_t N, typename Free>
void replaceHandle(uintptr_t (&slots)[N], size_t slot, uintptr_t handle, Free freeCall) {
    if (slots[slot]) FUZZ_CHECK(freeCall(slots[slot]) == 1);
    slots[slot] = handle;
}

// A word argument built from a word the run has met: as it is, as its
// homograph, cut into a pattern, or in capitals; a mode that is a multiple
// of kWordModes takes a word of at most 40 bytes from the plan instead.
constexpr uint8_t kWordModes = 5;
inline bool wordFromPlan(uint8_t mode) { return mode % kWordModes == 0; }
std::string wordVariant(Plan &plan, uint8_t mode, std::string word);

// A folder of this process's own for the files the libraries read, removed
// at exit. In memory (/dev/shm) where there is one.
const std::string &scratchFolder();

// Write bytes to a file of the scratch folder; returns its path.
std::string writeScratchFile(const std::string &name, const void *bytes, size_t size);

// Point the dictionary engine at the scratch folder (once per process).
void pointEngineAtScratch();

// stdout and stderr go to /dev/null while an object lives (the messages of
// the tool's commands); sanitizer reports still reach the real stderr.
class QuietOutput {
public:
    QuietOutput();
    ~QuietOutput();
    QuietOutput(const QuietOutput &) = delete;
    QuietOutput &operator=(const QuietOutput &) = delete;

private:
    int out_, err_;
};

// An output buffer with guard bytes after the length given to a call: a
// call that writes past its length is caught by checkGuard.
class GuardedBuffer {
public:
    static constexpr size_t kGuard = 32;
    static constexpr uint8_t kFill = 0xA5;
    explicit GuardedBuffer(size_t length) : length_(length), bytes_(length + kGuard, static_cast<char>(kFill)) {}
    char *data() { return &bytes_[0]; }
    const char *data() const { return bytes_.data(); }
    size_t length() const { return length_; }
    void checkGuard() const {
        for (size_t i = length_; i < bytes_.size(); ++i)
            if (static_cast<uint8_t>(bytes_[i]) != kFill) broken("a call wrote past the length it was given");
    }

private:
    size_t length_;
    std::string bytes_;
};

}  // namespace fuzz

#endif
