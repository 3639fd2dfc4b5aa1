// The keys an import adds beside a headword so that a look-up finds it in any
// case. The key collation folds ASCII letters only; an imported UTF-8 book
// carries, beside each headword whose Unicode case fold differs from its
// ASCII fold, a second key holding the folded text, marked with
// kFoldedKeyAttribute, that leads to the headword's own page. The fold is the
// reader library's, so that its look-ups compare against exactly these keys.
#ifndef ZAV_TOOL_FOLD_KEYS_H
#define ZAV_TOOL_FOLD_KEYS_H

#include <cstdint>
#include <string>
#include <vector>

#include "core/book_host.h"
#include "tovix/format.h"
#include "zav/book_writer.h"

namespace zavtool {

// The attribute byte of a key added for a headword's case fold.
constexpr uint8_t kFoldedKeyAttribute = tovix::KEY_ATTRIBUTE_CASE_FOLD;

// The reader library's case fold of UTF-8 text (Unicode simple folding after
// NFC); text that is not valid UTF-8 comes back unchanged.
std::string foldCase(const std::string &utf8);

// The extra keys an import adds for a headword: its fold, when that does not
// compare equal to the headword under the key collation; else nothing.
std::vector<std::string> foldedKeysFor(const std::string &headword);
// Append those keys to a table being built, leading to the headword's page.
void addFoldedKeys(std::vector<zav::KeyDesc> *keys, const std::string &headword, uint32_t pageNo);

// Whether key `index` (its text and what ZAVGetKeyWord returned for it) was
// added for a headword's case fold, as the reader library tells it.
bool isFoldKey(const HostBook &book, int32_t table, uint32_t index, const std::string &text, int32_t attribute);

}  // namespace zavtool

#endif
