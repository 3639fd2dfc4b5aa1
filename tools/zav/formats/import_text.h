// What every import shares: reading an input line by line, turning its text
// into UTF-8 (checking it, or converting it from another encoding), and
// reporting the lines that cannot become entries.
#ifndef ZAV_TOOL_IMPORT_TEXT_H
#define ZAV_TOOL_IMPORT_TEXT_H

#include <iconv.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "core/result.h"

namespace zavtool {

// Counts what an import reads, keeps, merges and skips, and prints one
// warning per line skipped or merged: "FILE:LINE: REASON; skipped". With
// `strict` the first line skipped is an error instead. Every line (or
// record) read is counted once: kept as an entry, about the dictionary
// (its name, description, ...), merged into an earlier identical one,
// skipped, or blank.
class ImportLog {
public:
    // `unit` names what the input is counted in ("lines", "index lines",
    // "records").
    ImportLog(std::string command, bool strict, bool quiet, std::string unit = "lines")
        : command_(std::move(command)), unit_(std::move(unit)), strict_(strict), quiet_(quiet) {}
    // Record a line that cannot become an entry. Returns false when the
    // import must stop (strict).
    bool skip(const std::string &file, uint64_t line, const std::string &reason);
    // A line that repeats line `kept` (the same headword and definition):
    // one key serves both.
    void merge(const std::string &file, uint64_t line, uint64_t kept);
    void keep(uint64_t count = 1) { kept_ += count; }
    void about() { ++about_; }
    void blank() { ++blank_; }
    uint64_t kept() const { return kept_; }
    uint64_t skipped() const { return skipped_; }
    uint64_t merged() const { return merged_; }
    bool strict() const { return strict_; }
    // "zav import: read N lines: kept K entries, ..., skipped M" on stderr
    // (unless quiet); the figures add up to N.
    void summary() const;

private:
    bool warn(const std::string &file, uint64_t line, const std::string &message);
    std::string command_, unit_;
    bool strict_, quiet_;
    uint64_t kept_ = 0, skipped_ = 0, merged_ = 0, about_ = 0, blank_ = 0;
    uint64_t warned_ = 0;
};

// The input's text encoding. UTF-8 text is checked; text in another encoding
// (any name iconv knows) is converted to UTF-8.
class TextDecoder {
public:
    TextDecoder() = default;
    TextDecoder(const TextDecoder &) = delete;
    TextDecoder &operator=(const TextDecoder &) = delete;
    ~TextDecoder();
    // "" or any spelling of UTF-8 means no conversion. It fails
    // (Fault::Usage) when iconv does not know the encoding.
    Status open(const std::string &encoding);
    // The text in UTF-8, or false when it is not valid in the input's
    // encoding.
    bool decode(const std::string &in, std::string *out);
    const std::string &name() const { return name_; }

private:
    iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
    std::string name_ = "UTF-8";
};

// A text as one field of a word-list line: a line feed, tab, carriage
// return and backslash written \n, \t, \r and \\; unescapeField undoes
// it (a backslash before any other character stays as it is).
std::string escapeField(const std::string &text);
std::string unescapeField(const std::string &field);

// True when the bytes are well-formed UTF-8 (no overlong forms, surrogates
// or values above U+10FFFF).
bool isUtf8(const std::string &text);
// Why `word` cannot be a headword (empty, only spaces, a zero byte, too
// long), or "" when it can.
std::string headwordProblem(const std::string &word);

// Reads a file line by line without loading it whole. Lines end at LF; a CR
// before it is dropped. A UTF-8 byte-order mark at the start is skipped.
class LineReader {
public:
    LineReader() = default;
    LineReader(const LineReader &) = delete;
    LineReader &operator=(const LineReader &) = delete;
    ~LineReader();
    // Open the file; the failure names it.
    Status open(const std::string &path);
    // The next line into *row and the file offset of its first byte into
    // *offset; false at the end of the file.
    bool next(std::string *row, uint64_t *offset);
    uint64_t line() const { return line_; }
    bool failed() const { return failed_; }
    uint64_t size() const { return size_; }

private:
    FILE *file_ = nullptr;
    uint64_t position_ = 0, line_ = 0, size_ = 0;
    bool failed_ = false;
};

// Read `length` bytes at `offset` of an open file. False on a short read.
bool readAt(FILE *file, uint64_t offset, uint64_t length, std::string *out);

}  // namespace zavtool

#endif
