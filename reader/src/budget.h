// The limits of one call: a deadline, a cancel flag and a count of answers
// and bytes. Long loops ask spent() now and then; once it says so, status()
// tells why.
#ifndef ZAV_READER_BUDGET_H
#define ZAV_READER_BUDGET_H

#include <chrono>
#include <cstddef>
#include <cstdint>

#include "ZAVReader.h"
#include "status.h"

namespace zavreader {

class Budget {
public:
    Budget() = default;
    explicit Budget(const ZAVReaderLimits *limits);

    // True once the time is up or the caller cancelled; checks the clock only
    // every few calls, so that it may be asked in a tight loop.
    bool spent();
    // Room for one more answer of `bytes` bytes of text; when there is none,
    // the budget is spent with ZAVR_LIMIT.
    bool take(size_t bytes);
    bool exhausted() const { return code_ != ZAVR_OK; }
    Status status() const;
    uint32_t maxAnswers() const { return maxAnswers_; }

private:
    std::chrono::steady_clock::time_point deadline_{};
    bool timed_ = false;
    const volatile int *cancel_ = nullptr;
    uint32_t maxAnswers_ = 0;
    uint64_t maxBytes_ = 0;
    uint32_t answers_ = 0;
    uint64_t bytes_ = 0;
    uint32_t ticks_ = 0;
    int32_t code_ = ZAVR_OK;
};

}  // namespace zavreader

#endif
