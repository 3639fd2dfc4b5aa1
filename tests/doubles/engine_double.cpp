// The recording double of the dictionary engine: scripted dictionaries,
// scripted spell results, a call log and handle bookkeeping.
#include "doubles/engine_double.h"

#include "doubles/call_log.h"

#include <algorithm>
#include <cstring>
#include <mutex>
#include <sstream>

#include "TovixZAV_JC.h"

namespace engine_double {
namespace {

enum class Kind { Dict, Word, Spell };

const char *kindName(Kind k) {
    switch (k) {
        case Kind::Dict: return "HDICT";
        case Kind::Word: return "HWORD";
        case Kind::Spell: return "spell handle";
    }
    return "?";
}

struct Handle {
    Kind kind;
    bool live;
    uint32_t dictId;     // HDICT, HWORD, spell
    uintptr_t parent;    // HWORD: its HDICT
    uint32_t wordIndex;  // HWORD
};

struct Dictionary {
    std::vector<Word> words;
    std::optional<uint32_t> countOverride;
};

struct State {
    std::mutex lock;
    std::map<uint32_t, Dictionary> dictionaries;
    std::map<uintptr_t, Handle> handles;
    uintptr_t nextDict = 0, nextWord = 0, nextSpell = 0;
    bool failCreate = false, failSearch = false, failSpell = false;
    int32_t correction = 0, verify = 0, wildcard = 0;
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

void problem(State &s, const std::string &text) { s.problems.push_back(text); }

uintptr_t issue(State &s, Kind kind, uint32_t dictId, uintptr_t parent, uint32_t wordIndex) {
    uintptr_t h = 0;
    switch (kind) {
        case Kind::Dict: h = 0x1000 + ++s.nextDict; break;
        case Kind::Word: h = 0x20000 + ++s.nextWord; break;
        case Kind::Spell: h = 0x300000 + ++s.nextSpell; break;
    }
    s.handles[h] = Handle{kind, true, dictId, parent, wordIndex};
    ++s.issued;
    return h;
}

// The live handle h of kind `kind`, or null (and a problem) for a dead,
// unknown or wrong-kind handle.
Handle *use(State &s, const char *call, uintptr_t h, Kind kind) {
    auto it = s.handles.find(h);
    if (it == s.handles.end()) {
        problem(s, std::string(call) + ": unknown handle " + hex(h));
        return nullptr;
    }
    if (it->second.kind != kind) {
        problem(s,
                std::string(call) + ": " + hex(h) + " is a " + kindName(it->second.kind) + ", not a " + kindName(kind));
        return nullptr;
    }
    if (!it->second.live) {
        problem(s, std::string(call) + ": " + kindName(kind) + " " + hex(h) + " used after it was freed");
        return nullptr;
    }
    return &it->second;
}

int32_t release(State &s, const char *call, uintptr_t h, Kind kind) {
    auto it = s.handles.find(h);
    if (it == s.handles.end()) {
        problem(s, std::string(call) + ": free of unknown handle " + hex(h));
        return 0;
    }
    if (it->second.kind != kind) {
        problem(s, std::string(call) + ": " + hex(h) + " is a " + kindName(it->second.kind));
        return 0;
    }
    if (!it->second.live) {
        problem(s, std::string(call) + ": " + kindName(kind) + " " + hex(h) + " freed twice");
        return 0;
    }
    if (kind == Kind::Dict) {
        for (const auto &[other, record] : s.handles)
            if (record.kind == Kind::Word && record.live && record.parent == h)
                problem(s, std::string(call) + ": HDICT " + hex(h) + " freed before its HWORD " + hex(other));
    }
    it->second.live = false;
    ++s.freed;
    return 1;
}

const Word *wordOf(State &s, const Handle &hw) {
    auto it = s.dictionaries.find(hw.dictId);
    if (it == s.dictionaries.end() || hw.wordIndex >= it->second.words.size()) return nullptr;
    return &it->second.words[hw.wordIndex];
}

Call &record(State &s, const char *name, uintptr_t handle = 0) {
    Call c;
    c.name = name;
    c.handle = handle;
    s.log.push_back(c);
    return s.log.back();
}

void noteWord(Call &c, const char *word) {
    c.wordNull = word == nullptr;
    if (word) c.word = word;
}

}  // namespace

// --- control API -----------------------------------------------------------

void reset() {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.dictionaries.clear();
    s.handles.clear();
    s.nextDict = s.nextWord = s.nextSpell = 0;
    s.failCreate = s.failSearch = s.failSpell = false;
    s.correction = s.verify = s.wildcard = 0;
    s.log.clear();
    s.issued = s.freed = 0;
    s.problems.clear();
}

void addDictionary(uint32_t dictId, std::vector<Word> words) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.dictionaries[dictId] = Dictionary{std::move(words), std::nullopt};
}

void setWordCount(uint32_t dictId, std::optional<uint32_t> count) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    s.dictionaries[dictId].countOverride = count;
}

void setFail(Fail which, bool on) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    switch (which) {
        case Fail::CreateHDICT: s.failCreate = on; break;
        case Fail::SearchRecord: s.failSearch = on; break;
        case Fail::CreateSpell: s.failSpell = on; break;
    }
}

void setCorrectionResult(int32_t value) {
    std::lock_guard<std::mutex> g(state().lock);
    state().correction = value;
}
void setVerifyResult(int32_t value) {
    std::lock_guard<std::mutex> g(state().lock);
    state().verify = value;
}
void setWildcardResult(int32_t value) {
    std::lock_guard<std::mutex> g(state().lock);
    state().wildcard = value;
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
    for (const auto &[h, record] : s.handles) {
        if (!record.live) continue;
        ++r.live;
        switch (record.kind) {
            case Kind::Dict: ++r.liveDicts; break;
            case Kind::Word: ++r.liveWords; break;
            case Kind::Spell: ++r.liveSpells; break;
        }
    }
    r.problems = s.problems;
    return r;
}

size_t liveHandles() { return handles().live; }

}  // namespace engine_double

// --- the engine's entry points -------------------------------------------------

using namespace engine_double;

#define ENGINE_ENTRY extern "C" ENGINE_DOUBLE_API

ENGINE_ENTRY uintptr_t ZAV_CALL dicCreateHDICT(uint32_t dictId) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "dicCreateHDICT");
    c.id = dictId;
    uintptr_t h = 0;
    if (!s.failCreate && s.dictionaries.count(dictId)) h = issue(s, Kind::Dict, dictId, 0, 0);
    c.result = static_cast<int64_t>(h);
    return h;
}

ENGINE_ENTRY int32_t ZAV_CALL dicFreeHDICT(uintptr_t hdict) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "dicFreeHDICT", hdict);
    int32_t r = release(s, "dicFreeHDICT", hdict, Kind::Dict);
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY uint32_t ZAV_CALL dicGetWordCount(uintptr_t hdict) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "dicGetWordCount", hdict);
    uint32_t n = 0;
    if (Handle *h = use(s, "dicGetWordCount", hdict, Kind::Dict)) {
        const Dictionary &d = s.dictionaries[h->dictId];
        n = d.countOverride ? *d.countOverride : static_cast<uint32_t>(d.words.size());
    }
    s.log.back().result = n;
    return n;
}

ENGINE_ENTRY uintptr_t ZAV_CALL dicSearchRecord(uintptr_t hdict, uint32_t index) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "dicSearchRecord", hdict).id = index;
    uintptr_t hw = 0;
    if (Handle *h = use(s, "dicSearchRecord", hdict, Kind::Dict)) {
        uint32_t dictId = h->dictId;
        if (!s.failSearch && index < s.dictionaries[dictId].words.size())
            hw = issue(s, Kind::Word, dictId, hdict, index);
    }
    s.log.back().result = static_cast<int64_t>(hw);
    return hw;
}

ENGINE_ENTRY uintptr_t ZAV_CALL dicSearchWord(uintptr_t hdict, const char *word) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    noteWord(record(s, "dicSearchWord", hdict), word);
    uintptr_t hw = 0;
    if (Handle *h = use(s, "dicSearchWord", hdict, Kind::Dict); h && word) {
        uint32_t dictId = h->dictId;
        const auto &words = s.dictionaries[dictId].words;
        for (size_t i = 0; i < words.size(); ++i) {
            if (std::strcmp(words[i].text.c_str(), word) == 0) {
                hw = issue(s, Kind::Word, dictId, hdict, static_cast<uint32_t>(i));
                break;
            }
        }
    }
    s.log.back().result = static_cast<int64_t>(hw);
    return hw;
}

ENGINE_ENTRY int32_t ZAV_CALL dicGetHandleInfo(uintptr_t hword, int32_t what, uint32_t *value) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "dicGetHandleInfo", hword);
    c.id = static_cast<uint32_t>(what);
    c.bufferNull = value == nullptr;
    int32_t r = 0;
    if (Handle *h = use(s, "dicGetHandleInfo", hword, Kind::Word); h && what == 1 && value) {
        *value = h->wordIndex;
        r = 1;
    }
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY int32_t ZAV_CALL dicFreeHWORD(uintptr_t hword) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "dicFreeHWORD", hword);
    int32_t r = release(s, "dicFreeHWORD", hword, Kind::Word);
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY int32_t ZAV_CALL dicIsExistWord(uintptr_t hdict, const char *word) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    noteWord(record(s, "dicIsExistWord", hdict), word);
    int32_t r = 0;
    if (Handle *h = use(s, "dicIsExistWord", hdict, Kind::Dict); h && word) {
        for (const Word &w : s.dictionaries[h->dictId].words)
            if (std::strcmp(w.text.c_str(), word) == 0) {
                r = 1;
                break;
            }
    }
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY int32_t ZAV_CALL dicGetWordSize(uintptr_t hword) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "dicGetWordSize", hword);
    int32_t r = 0;
    if (Handle *h = use(s, "dicGetWordSize", hword, Kind::Word))
        if (const Word *w = wordOf(s, *h)) r = static_cast<int32_t>(w->text.size());
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY int32_t ZAV_CALL dicGetWord(uintptr_t hword, char *buffer, int32_t length) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "dicGetWord", hword);
    c.length = length;
    c.bufferNull = buffer == nullptr;
    int32_t r = 0;
    if (Handle *h = use(s, "dicGetWord", hword, Kind::Word)) {
        if (const Word *w = wordOf(s, *h)) {
            r = static_cast<int32_t>(w->text.size());
            if (buffer && length > 0) {
                size_t n = std::min(w->text.size(), static_cast<size_t>(length) - 1);
                std::memcpy(buffer, w->text.data(), n);
                buffer[n] = '\0';
            }
        }
    }
    s.log.back().result = r;
    return r;
}

namespace {

const std::string *contentOf(State &s, const char *call, uintptr_t hword, uint32_t contentId) {
    Handle *h = use(s, call, hword, Kind::Word);
    if (!h) return nullptr;
    const Word *w = wordOf(s, *h);
    if (!w) return nullptr;
    auto it = w->contents.find(contentId);
    return it == w->contents.end() ? nullptr : &it->second;
}

}  // namespace

ENGINE_ENTRY int32_t ZAV_CALL dicIsExistContent(uintptr_t hword, uint32_t contentId) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "dicIsExistContent", hword).id = contentId;
    int32_t r = contentOf(s, "dicIsExistContent", hword, contentId) ? 1 : 0;
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY int32_t ZAV_CALL dicGetContentSize(uintptr_t hword, uint32_t contentId) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "dicGetContentSize", hword).id = contentId;
    const std::string *content = contentOf(s, "dicGetContentSize", hword, contentId);
    int32_t r = content ? static_cast<int32_t>(content->size()) : 0;
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY int32_t ZAV_CALL dicGetContent(uintptr_t hword, uint32_t contentId, void *buffer, uint32_t length) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "dicGetContent", hword);
    c.id = contentId;
    c.length = length;
    c.bufferNull = buffer == nullptr;
    int32_t r = 0;
    if (const std::string *content = contentOf(s, "dicGetContent", hword, contentId); content && buffer) {
        size_t n = std::min(content->size(), static_cast<size_t>(length));
        std::memcpy(buffer, content->data(), n);
        r = static_cast<int32_t>(n);
    }
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY uintptr_t ZAV_CALL SCCreateHandleEx(uint32_t dictId) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "SCCreateHandleEx").id = dictId;
    uintptr_t h = s.failSpell ? 0 : issue(s, Kind::Spell, dictId, 0, 0);
    s.log.back().result = static_cast<int64_t>(h);
    return h;
}

ENGINE_ENTRY int32_t ZAV_CALL SCFreeHandle(uintptr_t spell) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    record(s, "SCFreeHandle", spell);
    int32_t r = release(s, "SCFreeHandle", spell, Kind::Spell);
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY int32_t ZAV_CALL SCCorrection(uintptr_t spell, intptr_t w, intptr_t x, uint8_t y) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "SCCorrection", spell);
    c.w = w;
    c.x = x;
    c.y = y;
    int32_t r = use(s, "SCCorrection", spell, Kind::Spell) ? s.correction : 0;
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY int32_t ZAV_CALL SCVerify(uintptr_t spell, intptr_t w, intptr_t x) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "SCVerify", spell);
    c.w = w;
    c.x = x;
    int32_t r = use(s, "SCVerify", spell, Kind::Spell) ? s.verify : 0;
    s.log.back().result = r;
    return r;
}

ENGINE_ENTRY int32_t ZAV_CALL SCWildcard(uintptr_t spell, intptr_t w, intptr_t x, uint8_t y, intptr_t z) {
    State &s = state();
    std::lock_guard<std::mutex> g(s.lock);
    Call &c = record(s, "SCWildcard", spell);
    c.w = w;
    c.x = x;
    c.y = y;
    c.z = z;
    int32_t r = use(s, "SCWildcard", spell, Kind::Spell) ? s.wildcard : 0;
    s.log.back().result = r;
    return r;
}
