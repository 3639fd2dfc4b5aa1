// A recording double of the memo library (libZAVMemo.so).
//
// The shared library exports the five CBI entry points with C linkage and,
// beside them, the C++ control API below. Test programs link it directly; the
// module loads "libZAVMemo.so" from the folder of the program (where the
// tests' build puts the double), so it gets this same loaded copy.
//
// Memos are scripted per book page number, for every book alike (the log
// keeps the BookHandle of each call, so a test can check which handle came).
// Behaviour of the entry points:
//   CBIGetMemoNumber(book, page)       the page's scripted number (0 when the
//                                      page has no memo)
//   CBIGetMemoHandle(book, page, r)    a new memo handle when the page has a
//                                      scripted memo (whatever its number),
//                                      0 when not or getHandle fails (switch)
//   CBIGetMemoSize(m)                  the memo's content size (or the scripted
//                                      override)
//   CBIGetMemoContent(m, b, n)         copies min(n, size) bytes (nothing for a
//                                      null b), returns the number copied (or
//                                      the scripted override, after copying)
//   CBIFreeMemoHandle(m)               frees m; 1, or 0 when m is not live
//   Calls on a dead or unknown handle return 0 and are flagged as problems.
//
// Memo handles are distinct nonzero numbers 0x4000000 + n that never repeat
// within a reset.
#ifndef TOVIX_MEMO_DOUBLE_H
#define TOVIX_MEMO_DOUBLE_H

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"

// Marks what the double exports. The doubles are built with the compiler's
// default visibility, so every function with external linkage is exported.
#define MEMO_DOUBLE_API

namespace memo_double {

struct Call {
    std::string name;           // entry point, e.g. "CBIGetMemoHandle"
    BookHandle book = nullptr;  // CBIGetMemoNumber, CBIGetMemoHandle
    uint32_t page = 0;          // CBIGetMemoNumber, CBIGetMemoHandle
    int32_t reserved = 0;       // CBIGetMemoHandle's third argument
    uintptr_t handle = 0;       // the memo handle argument
    uint32_t length = 0;        // CBIGetMemoContent's buffer length
    bool bufferNull = false;
    int64_t result = 0;
};

struct HandleReport {
    size_t issued = 0, freed = 0, live = 0;
    std::vector<std::string> problems;  // double frees, unknown handles, use of a dead handle
    bool clean() const { return live == 0 && problems.empty(); }
};

// Forget memos, switches, the log and the handle bookkeeping.
MEMO_DOUBLE_API void reset();

// Script the memo of a book page: its content and what CBIGetMemoNumber
// reports for the page (any nonzero number means "has a memo").
MEMO_DOUBLE_API void setMemo(uint32_t page, std::string content, int32_t number = 1);
MEMO_DOUBLE_API void removeMemo(uint32_t page);
// Overrides of the size / content results (nullopt: the real values).
MEMO_DOUBLE_API void setSizeResult(std::optional<int32_t> value);
MEMO_DOUBLE_API void setContentResult(std::optional<int32_t> value);
// CBIGetMemoHandle returns 0 while on.
MEMO_DOUBLE_API void setFailGetHandle(bool on);

MEMO_DOUBLE_API std::vector<Call> calls();
MEMO_DOUBLE_API std::vector<Call> calls(const std::string &name);
MEMO_DOUBLE_API size_t callCount(const std::string &name);
MEMO_DOUBLE_API std::vector<std::string> callNames();
MEMO_DOUBLE_API void clearLog();

MEMO_DOUBLE_API HandleReport handles();
MEMO_DOUBLE_API size_t liveHandles();

// The control functions a program reaches when it only dlopens the double
// (and so cannot link against it): one table behind one C name.
struct Control {
    void (*reset)();
    void (*setMemo)(uint32_t page, std::string content, int32_t number);
    size_t (*callCount)(const std::string &name);
    size_t (*liveHandles)();
};

}  // namespace memo_double

extern "C" MEMO_DOUBLE_API const memo_double::Control *memoDoubleControl();

#endif
