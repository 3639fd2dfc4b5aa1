// The objects behind the engine's handles. Each starts with a tag naming its
// kind, so that a handle of one kind passed where another is expected is
// refused instead of misread.
#ifndef ZOZIZID_HANDLES_H
#define ZOZIZID_HANDLES_H

#include <stdint.h>

#include <new>

#include "dictionary.h"

namespace zozizid {

enum : uint32_t {
    kTagDict = 0x54434944u,   // "DICT"
    kTagWord = 0x44524f57u,   // "WORD"
    kTagSpell = 0x4c455053u,  // "SPEL"
    kTagFreed = 0x45455246u,  // "FREE"
};

struct DictHandle {
    uint32_t tag = kTagDict;
    Dictionary *dict = nullptr;
};

struct WordHandle {
    uint32_t tag = kTagWord;
    Dictionary *dict = nullptr;
    WordRecord record;
};

struct SpellHandle {
    uint32_t tag = kTagSpell;
    Dictionary *dict = nullptr;
};

template <typename T, uint32_t Tag>
T *fromHandle(uintptr_t handle) {
    T *object = reinterpret_cast<T *>(handle);
    return object && object->tag == Tag ? object : nullptr;
}

inline DictHandle *asDict(uintptr_t h) { return fromHandle<DictHandle, kTagDict>(h); }
inline WordHandle *asWord(uintptr_t h) { return fromHandle<WordHandle, kTagWord>(h); }
inline SpellHandle *asSpell(uintptr_t h) { return fromHandle<SpellHandle, kTagSpell>(h); }

// A new handle of kind H (DictHandle or SpellHandle) on dictionary dictId,
// holding one reference to it; 0 when the dictionary cannot be opened or the
// handle cannot be allocated.
template <typename H>
uintptr_t openHandle(uint32_t dictId) {
    Dictionary *dict = openDictionary(dictId);
    if (!dict) return 0;
    H *h = os::heapNew<H>();
    if (!h) {
        release(dict);
        return 0;
    }
    h->dict = dict;
    return reinterpret_cast<uintptr_t>(h);
}

// Free a handle of kind H found by asDict/asSpell: mark it freed, drop its
// reference to the dictionary. Returns 0 for a handle that is not of kind H.
template <typename H>
int32_t freeHandle(H *h) {
    if (!h) return 0;
    h->tag = kTagFreed;
    release(h->dict);
    os::heapDelete(h);
    return 1;
}

}  // namespace zozizid

#endif
