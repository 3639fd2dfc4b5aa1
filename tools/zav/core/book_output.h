// Laying a described book out and writing it, shared by zav build and
// zav import.
#ifndef ZAV_TOOL_BOOK_OUTPUT_H
#define ZAV_TOOL_BOOK_OUTPUT_H

#include <cstdint>
#include <string>

#include "core/result.h"
#include "zav/book_writer.h"

namespace zavtool {

// Prints progress on stderr for long jobs: "zav COMMAND: WHAT done of total".
class Progress {
public:
    Progress(std::string command, std::string what, uint64_t total, bool quiet);
    void step(uint64_t done);
    void note(const std::string &message) const;

private:
    std::string command_, what_;
    uint64_t total_, next_;
    bool quiet_;
};

// Lay the book out and write it to `out` through a temporary file in the
// same folder that replaces `out` only when complete (core/atomic_output.h).
// Gives the size of the book written. The failure names the output file; a
// book that cannot be laid out is Fault::Rejected.
Result<uint64_t> writeBookFile(const zav::BookDesc &desc, const std::string &out);

}  // namespace zavtool

#endif
