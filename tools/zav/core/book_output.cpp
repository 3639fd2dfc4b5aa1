#include "core/book_output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "core/atomic_output.h"

namespace zavtool {

namespace {
// Jobs smaller than this finish too quickly to need progress lines.
constexpr uint64_t kProgressThreshold = 20000;
}  // namespace

Progress::Progress(std::string command, std::string what, uint64_t total, bool quiet)
    : command_(std::move(command)), what_(std::move(what)), total_(total), next_(total / 10), quiet_(quiet) {
    if (next_ == 0) next_ = 1;
}

void Progress::step(uint64_t done) {
    if (quiet_ || total_ < kProgressThreshold || done < next_) return;
    std::fprintf(stderr, "zav %s: %llu of %llu %s\n", command_.c_str(), static_cast<unsigned long long>(done),
                 static_cast<unsigned long long>(total_), what_.c_str());
    // Every tenth, and the last step.
    next_ = done >= total_ ? UINT64_MAX : std::min(total_, next_ + (total_ / 10 ? total_ / 10 : 1));
}

void Progress::note(const std::string &message) const {
    if (!quiet_ && total_ >= kProgressThreshold)
        std::fprintf(stderr, "zav %s: %s\n", command_.c_str(), message.c_str());
}

Result<uint64_t> writeBookFile(const zav::BookDesc &desc, const std::string &out) {
    zav::WrittenBook book;
    std::string error;
    if (!zav::writeBook(desc, &book, &error))
        return Failure{out + ": the book cannot be laid out: " + error, Fault::Rejected};
    // The book appears whole or not at all: an existing OUT stays as it was
    // until the new one is complete.
    OutputFiles files;
    Result<std::string> temporary = files.add(out, true);
    if (!temporary) return temporary.failure();
    if (!zav::saveBook(book.bytes, *temporary)) return Failure{out + ": cannot write the book"};
    if (Status committed = files.commit(); !committed) return committed.failure();
    return static_cast<uint64_t>(book.bytes.size());
}

}  // namespace zavtool
