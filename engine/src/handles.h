// The objects behind the engine's handles. Each starts with a tag naming its
// kind, so that a handle of one kind passed where another is expected is
// refused instead of misread.
#ifndef ZOZIZID_HANDLES_H
#define ZOZIZID_HANDLES_H

#include <stdint.h>

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

}  // namespace zozizid

#endif
