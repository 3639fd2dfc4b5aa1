#include "book_output.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "atomic_output.h"
#include "cli.h"

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

int writeBookFile(const std::string &command, const zav::BookDesc &desc, const std::string &out, bool quiet) {
    zav::WrittenBook book;
    std::string error;
    if (!zav::writeBook(desc, &book, &error)) {
        complain(command, out + ": the book cannot be laid out: " + error);
        return EXIT_FAILED;
    }
    // The book appears whole or not at all: an existing OUT stays as it was
    // until the new one is complete.
    OutputFiles files;
    std::string temporary = files.add(out, &error, true);
    if (temporary.empty()) {
        complain(command, error);
        return EXIT_USAGE;
    }
    if (!zav::saveBook(book.bytes, temporary)) {
        complain(command, out + ": cannot write the book");
        return EXIT_USAGE;
    }
    if (!files.commit(&error)) {
        complain(command, error);
        return EXIT_USAGE;
    }
    if (!quiet) {
        uint64_t keys = 0;
        for (const auto &t : desc.tables) keys += t.keys.size();
        std::fprintf(reportStream(out), "wrote %s: %zu bytes, %zu tables, %zu pages, %llu keys\n", out.c_str(),
                     book.bytes.size(), desc.tables.size(), desc.pages.size(), static_cast<unsigned long long>(keys));
    }
    return EXIT_OK;
}

}  // namespace zavtool
