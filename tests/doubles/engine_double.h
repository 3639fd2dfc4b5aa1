// A recording double of the dictionary engine library (libZoZizID.so).
//
// The shared library exports the engine's 18 entry points with C linkage
// and, beside them, the C++ control API below. Test programs link the double
// directly, so when the module loads "libZoZizID.so" by name it gets this
// same loaded copy and the test can script it and read its log.
//
// Behaviour of the entry points:
//   dicCreateHDICT(id)       a new HDICT when dictionary `id` was scripted,
//                            0 when it was not or createHDICT fails (switch)
//   dicFreeHDICT(h)          frees h; 1, or 0 for a handle that is not live
//   dicGetWordCount(h)       the number of words (or the scripted override)
//   dicSearchRecord(h, i)    a new HWORD for word i; 0 when i >= the number of
//                            words or searchRecord fails (switch)
//   dicSearchWord(h, w)      a new HWORD for the first word whose text equals
//                            w exactly (byte for byte, strcmp); 0 when none
//   dicGetHandleInfo(hw, 1, &v)  stores the word's index in v and returns 1;
//                            any other `what`, a null v or a dead handle: 0
//   dicFreeHWORD(hw)         frees hw; 1, or 0 for a handle that is not live
//   dicIsExistWord(h, w)     1 when a word's text equals w exactly, else 0
//   dicGetWordSize(hw)       the text length in bytes
//   dicGetWord(hw, b, n)     copies the text NUL-terminated, cut to n - 1
//                            bytes (nothing for n <= 0 or a null b); returns
//                            the full text length
//   dicIsExistContent(hw, c) 1 when the word has content c, else 0
//   dicGetContentSize(hw, c) size of content c, 0 when it has none
//   dicGetContent(hw, c, b, n)  copies min(n, size) bytes (nothing for a
//                            null b), returns the number copied
//   SCCreateHandleEx(id)     a new spell handle (for any id) unless
//                            createSpell fails (switch)
//   SCFreeHandle(s)          frees s; 1, or 0 for a handle that is not live
//   SCCorrection/SCVerify/SCWildcard  return the scripted value (default 0)
//   Calls on a dead or unknown handle return 0 and are flagged as problems.
//
// Handles are distinct nonzero numbers that never repeat within a reset:
// HDICT 0x1000 + n, HWORD 0x20000 + n, spell handles 0x300000 + n.
#ifndef TOVIX_ENGINE_DOUBLE_H
#define TOVIX_ENGINE_DOUBLE_H

#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

// Marks what the double exports. The doubles are built with the compiler's
// default visibility, so every function with external linkage is exported.
#define ENGINE_DOUBLE_API

namespace engine_double {

// One word record: its text and its contents by contentId.
struct Word {
    std::string text;
    std::map<uint32_t, std::string> contents;
};

// One entry of the call log.
struct Call {
    std::string name;              // entry point, e.g. "dicSearchRecord"
    uintptr_t handle = 0;          // the HDICT / HWORD / spell handle argument (0 when none)
    uint32_t id = 0;               // dictId (dicCreateHDICT, SCCreateHandleEx), record index
                                   // (dicSearchRecord), contentId (content calls), `what`
                                   // (dicGetHandleInfo)
    std::string word;              // text of the word argument (dicSearchWord, dicIsExistWord)
    bool wordNull = false;         // the word argument was null
    int64_t length = 0;            // buffer length (dicGetWord, dicGetContent)
    bool bufferNull = false;       // the buffer / value pointer was null
    intptr_t w = 0, x = 0, z = 0;  // spell calls
    uint8_t y = 0;                 // spell calls: Y as received
    int64_t result = 0;            // what the double returned (handles as numbers)
};

// Handle bookkeeping since the last reset.
struct HandleReport {
    size_t issued = 0;  // handles handed out (all three kinds)
    size_t freed = 0;   // handles freed correctly
    size_t live = 0;    // issued and not yet freed
    size_t liveDicts = 0, liveWords = 0, liveSpells = 0;
    std::vector<std::string> problems;  // double frees, unknown handles, a
                                        // HDICT freed before its HWORDs, use
                                        // of a dead handle, wrong handle kind
    bool clean() const { return live == 0 && problems.empty(); }
};

enum class Fail {
    CreateHDICT,   // dicCreateHDICT returns 0
    SearchRecord,  // dicSearchRecord returns 0
    CreateSpell,   // SCCreateHandleEx returns 0
};

// Forget dictionaries, scripted results, switches, the log and the handle
// bookkeeping.
ENGINE_DOUBLE_API void reset();

// Script dictionary `dictId` (replaces an earlier one with that id).
ENGINE_DOUBLE_API void addDictionary(uint32_t dictId, std::vector<Word> words);
// Make dicGetWordCount report `count` for that dictionary instead of the
// number of its words (nullopt: the real number). Records past the real
// words cannot be fetched: dicSearchRecord returns 0 for them.
ENGINE_DOUBLE_API void setWordCount(uint32_t dictId, std::optional<uint32_t> count);

// Turn a failure switch on or off.
ENGINE_DOUBLE_API void setFail(Fail which, bool on);

// Results of the spell calls (default 0).
ENGINE_DOUBLE_API void setCorrectionResult(int32_t value);
ENGINE_DOUBLE_API void setVerifyResult(int32_t value);
ENGINE_DOUBLE_API void setWildcardResult(int32_t value);

// The call log, oldest first.
ENGINE_DOUBLE_API std::vector<Call> calls();
// Only the calls of one entry point.
ENGINE_DOUBLE_API std::vector<Call> calls(const std::string &name);
// Number of calls of one entry point.
ENGINE_DOUBLE_API size_t callCount(const std::string &name);
// Entry point names in call order, e.g. {"dicCreateHDICT", "dicGetWordCount"}.
ENGINE_DOUBLE_API std::vector<std::string> callNames();
ENGINE_DOUBLE_API void clearLog();

ENGINE_DOUBLE_API HandleReport handles();
ENGINE_DOUBLE_API size_t liveHandles();

}  // namespace engine_double

#endif
