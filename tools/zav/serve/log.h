// The log of `zav serve`: one line per event on standard error, stamped with
// the time, whatever thread writes it.
#ifndef ZAV_TOOL_SERVE_LOG_H
#define ZAV_TOOL_SERVE_LOG_H

#include <cstdio>
#include <string>

namespace zavtool {

// Write "TIME text" as one line. Text from a client must go through
// logSafe() first.
void logLine(const std::string &text);
// The same into another file (the web side's access log).
void logLineTo(std::FILE *file, const std::string &text);

// Client bytes as they may go into a log: printable UTF-8 passes; each byte of
// a control or format character (C0, DEL, C1, direction marks and the like),
// of a line or paragraph separator, of a private or unassigned code point,
// and each byte that is not part of valid UTF-8 becomes \xNN; a backslash
// and a double quote become \\ and \", so that a quoted field cannot be
// closed or faked from inside.
std::string logSafe(const std::string &bytes);

}  // namespace zavtool

#endif
