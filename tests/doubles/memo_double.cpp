// The recording double of the memo library: scripted memos per page, a call
// log and handle bookkeeping.
#include "doubles/memo_double.h"

#include "doubles/call_log.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <mutex>
#include <sstream>

namespace memo_double {
namespace {

struct Memo {
    std::string content;
    int32_t number;
};

struct HandleRecord {
    uint32_t page;
    bool live;
};

struct State {
    std::mutex lock;
    std::map<uint32_t, Memo> memos;
    std::map<uintptr_t, HandleRecord> handles;
    uintptr_t next = 0;
    std::optional<int32_t> sizeResult, contentResult;
    bool failGetHandle = false;
    std::vector<Call> log;
    size_t issued = 0, freed = 0;
    std::vector<std::string> problems;
};

State &state() {
    static State s;
    return s;
}

std::string hex(uintptr_t v) {
    std::ostringstream out;
    out << "0x" << std::hex << v;
    return out.str();
}

Call &record(State &s, const char *name) {
    Call c;
    c.name = name;
    s.log.push_back(c);
    return s.log.back();
}

// The memo behind a live handle, or null (and a problem).
const Memo *use(State &s, const char *call, uintptr_t h) {
    auto it = s.handles.find(h);
    if (it == s.handles.end()) {
        s.problems.push_back(std::string(call) + ": unknown memo handle " + hex(h));
        return nullptr;
    }
    if (!it->second.live) {
        s.problems.push_back(std::string(call) + ": memo handle " + hex(h) + " used after it was freed");
        return nullptr;
    }
    auto memo = s.memos.find(it->second.page);
    return memo == s.memos.end() ? nullptr : &memo->second;
}

}  // namespace

void reset() {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.memos.clear();
    s.handles.clear();
    s.next = 0;
    s.sizeResult.reset();
    s.contentResult.reset();
    s.failGetHandle = false;
    s.log.clear();
    s.issued = s.freed = 0;
    s.problems.clear();
}

void setMemo(uint32_t page, std::string content, int32_t number) {
    std::lock_guard<std::mutex> g(state().lock);
    state().memos[page] = Memo{std::move(content), number};
}

void removeMemo(uint32_t page) {
    std::lock_guard<std::mutex> g(state().lock);
    state().memos.erase(page);
}

void setSizeResult(std::optional<int32_t> value) {
    std::lock_guard<std::mutex> g(state().lock);
    state().sizeResult = value;
}

void setContentResult(std::optional<int32_t> value) {
    std::lock_guard<std::mutex> g(state().lock);
    state().contentResult = value;
}

void setFailGetHandle(bool on) {
    std::lock_guard<std::mutex> g(state().lock);
    state().failGetHandle = on;
}

std::vector<Call> calls() {
    std::lock_guard<std::mutex> g(state().lock);
    return state().log;
}

std::vector<Call> calls(const std::string &name) {
    std::lock_guard<std::mutex> g(state().lock);
    return doubles::callsNamed(state().log, name);
}

size_t callCount(const std::string &name) {
    std::lock_guard<std::mutex> g(state().lock);
    return doubles::countNamed(state().log, name);
}

std::vector<std::string> callNames() {
    std::lock_guard<std::mutex> g(state().lock);
    return doubles::namesOf(state().log);
}

void clearLog() {
    std::lock_guard<std::mutex> g(state().lock);
    state().log.clear();
}

HandleReport handles() {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    HandleReport r;
    r.issued = s.issued;
    r.freed = s.freed;
    for (const auto &[h, rec] : s.handles)
        if (rec.live) ++r.live;
    r.problems = s.problems;
    return r;
}

size_t liveHandles() { return handles().live; }

}  // namespace memo_double

// --- the memo library's entry points ---------------------------------------------

using namespace memo_double;

#define MEMO_ENTRY extern "C" MEMO_DOUBLE_API

MEMO_ENTRY int32_t ZAV_CALL CBIGetMemoNumber(BookHandle book, uint32_t page) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "CBIGetMemoNumber");
    c.book = book;
    c.page = page;
    auto it = s.memos.find(page);
    int32_t r = it == s.memos.end() ? 0 : it->second.number;
    c.result = r;
    return r;
}

MEMO_ENTRY uintptr_t ZAV_CALL CBIGetMemoHandle(BookHandle book, uint32_t page, int32_t reserved) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "CBIGetMemoHandle");
    c.book = book;
    c.page = page;
    c.reserved = reserved;
    uintptr_t h = 0;
    if (!s.failGetHandle && s.memos.count(page)) {
        h = 0x4000000 + ++s.next;
        s.handles[h] = HandleRecord{page, true};
        ++s.issued;
    }
    c.result = static_cast<int64_t>(h);
    return h;
}

MEMO_ENTRY int32_t ZAV_CALL CBIGetMemoSize(uintptr_t memo) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "CBIGetMemoSize").handle = memo;
    int32_t r = 0;
    if (const Memo *m = use(s, "CBIGetMemoSize", memo))
        r = s.sizeResult ? *s.sizeResult : static_cast<int32_t>(m->content.size());
    s.log.back().result = r;
    return r;
}

MEMO_ENTRY int32_t ZAV_CALL CBIGetMemoContent(uintptr_t memo, void *buffer, uint32_t length) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "CBIGetMemoContent");
    c.handle = memo;
    c.length = length;
    c.bufferNull = buffer == nullptr;
    int32_t r = 0;
    if (const Memo *m = use(s, "CBIGetMemoContent", memo)) {
        if (buffer) {
            size_t n = std::min(m->content.size(), static_cast<size_t>(length));
            std::memcpy(buffer, m->content.data(), n);
            r = static_cast<int32_t>(n);
        }
        if (s.contentResult) r = *s.contentResult;
    }
    s.log.back().result = r;
    return r;
}

MEMO_ENTRY int32_t ZAV_CALL CBIFreeMemoHandle(uintptr_t memo) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "CBIFreeMemoHandle").handle = memo;
    int32_t r = 0;
    auto it = s.handles.find(memo);
    if (it == s.handles.end()) {
        s.problems.push_back("CBIFreeMemoHandle: free of unknown memo handle " + hex(memo));
    } else if (!it->second.live) {
        s.problems.push_back("CBIFreeMemoHandle: memo handle " + hex(memo) + " freed twice");
    } else {
        it->second.live = false;
        ++s.freed;
        r = 1;
    }
    s.log.back().result = r;
    return r;
}

extern "C" MEMO_DOUBLE_API const memo_double::Control *memoDoubleControl() {
    static const memo_double::Control control = {
        memo_double::reset,
        [](uint32_t page, std::string content, int32_t number) {
            memo_double::setMemo(page, std::move(content), number);
        },
        memo_double::callCount,
        memo_double::liveHandles,
    };
    return &control;
}
