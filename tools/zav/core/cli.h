// Command-line plumbing shared by the zav commands: argument parsing, exit
// codes, messages and the escaping of book text for a terminal.
#ifndef ZAV_TOOL_CLI_H
#define ZAV_TOOL_CLI_H

#include <cstdint>
#include <cstdio>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "core/result.h"

namespace zavtool {

// Exit codes of every command.
constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;  // the command ran but the answer is "no" / the book has problems
constexpr int EXIT_USAGE = 2;   // bad arguments, unreadable input, I/O errors

// Parsed arguments of one command: positional words and --options. Options
// named in `valued` take the next argument (or --name=value); others are flags.
class Args {
public:
    // Fails (Fault::Usage) on an unknown option or a valued option without
    // its value.
    Status parse(int argc, char **argv, const std::set<std::string> &valued, const std::set<std::string> &flags);

    bool help() const { return help_; }
    const std::vector<std::string> &positional() const { return positional_; }
    bool flag(const std::string &name) const { return flags_.count(name) != 0; }
    std::optional<std::string> value(const std::string &name) const;

private:
    bool help_ = false;
    std::vector<std::string> positional_;
    std::set<std::string> flags_;
    std::map<std::string, std::string> values_;
};

// Strict number parsing: the whole text must be a number in range. Decimal,
// or hexadecimal with 0x.
std::optional<int64_t> parseInteger(const std::string &text);
// Parse an option or positional value as an integer in [low, high]; the
// failure says "WHAT must be a number from LOW to HIGH, not 'TEXT'".
Result<int64_t> integerArgument(const std::string &what, const std::string &text, int64_t low, int64_t high);

// Print "zav COMMAND: message" to stderr.
void complain(const std::string &command, const std::string &message);
// Print a usage error and the hint to run --help; returns EXIT_USAGE.
int usageError(const std::string &command, const std::string &message);
// Print a failure as "zav COMMAND: REASON" (a usage failure with the hint to
// run --help) and return the exit code it calls for: EXIT_FAILED for
// Fault::Rejected, else EXIT_USAGE.
int reportFailure(const std::string &command, const Failure &failure);
inline int reportFailure(const std::string &command, const Status &status) {
    return reportFailure(command, status.failure());
}

// Book text for a terminal: bytes from 0x20 up pass unchanged (multi-byte
// text stays intact); control bytes become \n, \t, \r or \xNN.
std::string escapeText(const std::string &bytes);
// A localized text of language 2 to 5 (code pages 936, 950, 932, 949)
// converted to UTF-8 for the terminal; unchanged for other languages and
// for bytes that are not valid in that code page.
std::string inUtf8(const std::string &text, int32_t language);
// Page content: like escapeText, but line feeds and tabs pass unchanged.
std::string escapeContent(const std::string &bytes);

// Hexadecimal with 0x and at least `digits` digits.
std::string hex(uint64_t value, int digits = 0);

// Read a whole file; the failure names the file.
Result<std::string> readWholeFile(const std::string &path);
// The folder part of a path ("." when there is none) and the last part.
std::string directoryOf(const std::string &path);
std::string baseNameOf(const std::string &path);
// Join a folder and a relative path (an absolute path is returned as is).
std::string joinPath(const std::string &directory, const std::string &relative);

// UTF-8 (or any 8-bit path) to the platform's wide characters for
// ZAVOpenBook. Invalid UTF-8 sequences are taken byte by byte.
std::wstring widenPath(const std::string &path);

}  // namespace zavtool

#endif
