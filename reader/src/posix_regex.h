// POSIX regular expressions, extended (as egrep reads them) and basic (as
// grep reads them), rewritten in RE2's syntax, so that they run in time
// linear in the text.
#ifndef ZAV_READER_POSIX_REGEX_H
#define ZAV_READER_POSIX_REGEX_H

#include <string>
#include <string_view>

#include "status.h"

namespace zavreader {

// Rewrites a POSIX pattern (valid UTF-8) in RE2's syntax, for a match that
// only asks whether a text matches: groups become non-capturing, a
// repetition of a repetition is grouped, and the character classes
// ([:alpha:], \w, ...) take in the letters and digits of every script.
//
// Extended: ( ) | + ? {m,n} as egrep. Basic: \( \) \{m,n\} as grep, and the
// GNU \| \+ \?; a bare ( ) | + ? { } is a literal, * is a literal at the
// start of the pattern or of a group, ^ and $ are anchors only there and at
// the end. Both: a repetition with nothing before it is a literal, {,n}
// is {0,n}, \< \> \b \B are word boundaries (of ASCII letters and digits),
// \` and \' the ends of the text, any other escaped character is itself.
//
// Fails with ZAVR_BAD_PATTERN for a back reference (\1 to \9, which no
// linear-time engine runs), an unterminated bracket or group, an unknown
// class name, a repeat count over 1000 or a trailing backslash.
Status posixToRe2(std::string_view pattern, bool extended, std::string *out);

}  // namespace zavreader

#endif
