// Localized string lists: one text in up to 255 languages, and the choice of
// one of them.
#ifndef TOVIX_STRING_LIST_H
#define TOVIX_STRING_LIST_H

#include <stdint.h>

#include "reader.h"

namespace tovix {

// Copy one text of the StringList at `offset` into buffer and return its
// language code, or 0 when none was copied. The wanted language (the module
// resolves a host's 0 with chooseLanguage first) wins at once
// (the first entry that carries it); failing that the last entry in language
// 1; failing that the first entry. A text of n bytes fills at most length - 1
// bytes plus a terminator. A damaged tail keeps what was already copied.
// A length of 0 writes nothing and returns 0.
int32_t readStringList(BookFile *file, uint32_t offset, int32_t language, char *buffer, uint32_t length);

}  // namespace tovix

#endif
