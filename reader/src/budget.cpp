#include "budget.h"

namespace zavreader {

namespace {
// The clock is read once in this many calls of spent().
constexpr uint32_t kTicksPerClockRead = 64;
}  // namespace

Budget::Budget(const ZAVReaderLimits *limits) {
    if (!limits || limits->size < sizeof(uint32_t)) return;
    ZAVReaderLimits l{};
    size_t n = limits->size < sizeof l ? limits->size : sizeof l;
    // Fields past the caller's size stay 0.
    const unsigned char *from = reinterpret_cast<const unsigned char *>(limits);
    unsigned char *to = reinterpret_cast<unsigned char *>(&l);
    for (size_t i = 0; i < n; ++i) to[i] = from[i];
    maxAnswers_ = l.max_answers;
    maxBytes_ = l.max_bytes;
    cancel_ = l.cancel;
    if (l.time_ms) {
        timed_ = true;
        deadline_ = std::chrono::steady_clock::now() + std::chrono::milliseconds(l.time_ms);
    }
}

bool Budget::spent() {
    if (code_ != ZAVR_OK) return true;
    // The flag is set from another thread: read it atomically.
    if (cancel_ && __atomic_load_n(cancel_, __ATOMIC_RELAXED)) {
        code_ = ZAVR_CANCELLED;
        return true;
    }
    if (timed_ && ++ticks_ % kTicksPerClockRead == 1 && std::chrono::steady_clock::now() >= deadline_) {
        code_ = ZAVR_TIME_OUT;
        return true;
    }
    return false;
}

bool Budget::take(size_t bytes) {
    if (spent()) return false;
    if ((maxAnswers_ && answers_ >= maxAnswers_) || (maxBytes_ && bytes_ + bytes > maxBytes_)) {
        code_ = ZAVR_LIMIT;
        return false;
    }
    ++answers_;
    bytes_ += bytes;
    return true;
}

Status Budget::status() const {
    switch (code_) {
        case ZAVR_OK: return Status::ok();
        case ZAVR_CANCELLED: return Status::fail(code_, "cancelled by the caller");
        case ZAVR_TIME_OUT: return Status::fail(code_, "the time allowed ran out");
        default: return Status::fail(code_, "the answer reached the limit asked for");
    }
}

}  // namespace zavreader
