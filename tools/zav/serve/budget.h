// The budget of one command of `zav serve`: a deadline and a flag that stops
// the command early (its client went away, or the server is stopping). A plain
// value that the server owns and hands down; the long loops of matching and
// defining ask it now and then and stop, with what they found so far marked
// as incomplete, once it is spent.
#ifndef ZAV_TOOL_SERVE_BUDGET_H
#define ZAV_TOOL_SERVE_BUDGET_H

#include <atomic>
#include <chrono>
#include <cstddef>

namespace zavtool {

struct Budget {
    using Clock = std::chrono::steady_clock;

    Clock::time_point deadline = Clock::time_point::max();  // max(): no time limit
    const std::atomic<int> *cancelled = nullptr;            // null: never cancelled; else cancelled when not 0

    // True once the deadline has passed or the flag is set; it stays true.
    bool exhausted() const {
        return (cancelled && cancelled->load(std::memory_order_relaxed) != 0) || Clock::now() >= deadline;
    }
};

// Loops over many words ask the budget once every this many rounds, so that
// reading the clock costs little next to the work.
constexpr size_t kBudgetStride = 16;

}  // namespace zavtool

#endif
