// Counts of the C library's file calls made by this process (the module, the
// dictionary engine and SQLite alike), kept by wrappers in file_call_count.cpp
// that the benchmark program puts in front of the C library's own.
#ifndef TOVIX_BENCH_FILE_CALL_COUNT_H
#define TOVIX_BENCH_FILE_CALL_COUNT_H

#include <atomic>
#include <cstdint>

namespace bench {

struct FileCalls {
    uint64_t reads;  // read, pread
    uint64_t all;    // reads and open, close, stat, fstat, fcntl
};

extern std::atomic<uint64_t> gReadCalls, gOtherFileCalls;

inline FileCalls fileCalls() { return {gReadCalls.load(), gReadCalls.load() + gOtherFileCalls.load()}; }

}  // namespace bench

#endif
