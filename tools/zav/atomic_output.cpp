#include "atomic_output.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace zavtool {

namespace {

// The temporaries that an interrupt must remove. The signal handler reads
// them, so they live in fixed storage and are published with one store.
constexpr size_t kMaxPending = 8;
constexpr size_t kMaxPath = 4096;
char gPending[kMaxPending][kMaxPath];
volatile sig_atomic_t gPendingUsed[kMaxPending];
bool gHandlersInstalled = false;

extern "C" void removePendingAndDie(int signal) {
    for (size_t i = 0; i < kMaxPending; ++i)
        if (gPendingUsed[i]) ::unlink(gPending[i]);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

void installHandlers() {
    if (gHandlersInstalled) return;
    gHandlersInstalled = true;
    for (int s : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction action {};
        action.sa_handler = removePendingAndDie;
        sigemptyset(&action.sa_mask);
        ::sigaction(s, &action, nullptr);
    }
}

void publish(const std::string &path) {
    if (path.size() >= kMaxPath) return;
    for (size_t i = 0; i < kMaxPending; ++i) {
        if (gPendingUsed[i]) continue;
        std::memcpy(gPending[i], path.c_str(), path.size() + 1);
        gPendingUsed[i] = 1;
        return;
    }
}

void withdraw(const std::string &path) {
    for (size_t i = 0; i < kMaxPending; ++i)
        if (gPendingUsed[i] && path == gPending[i]) gPendingUsed[i] = 0;
}

mode_t creationMode() {
    mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

}  // namespace

OutputFiles::~OutputFiles() { discard(); }

void OutputFiles::discard() {
    for (const File &f : files_) {
        ::unlink(f.temporary.c_str());
        withdraw(f.temporary);
    }
    files_.clear();
}

std::string OutputFiles::add(const std::string &target, std::string *error) {
    installHandlers();
    std::string pattern = joinPath(directoryOf(target), "." + baseNameOf(target) + ".tmp-XXXXXX");
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    int fd = ::mkstemp(name.data());
    if (fd < 0) {
        *error = target + ": cannot create a file in " + directoryOf(target) + ": " + std::strerror(errno);
        return std::string();
    }
    ::close(fd);
    std::string temporary(name.data());
    publish(temporary);
    files_.push_back({target, temporary});
    return temporary;
}

void OutputFiles::drop(const std::string &target) {
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].target != target) continue;
        ::unlink(files_[i].temporary.c_str());
        withdraw(files_[i].temporary);
        files_.erase(files_.begin() + static_cast<ptrdiff_t>(i));
        return;
    }
}

bool OutputFiles::commit(std::string *error) {
    mode_t mode = creationMode();
    for (const File &f : files_) {
        ::chmod(f.temporary.c_str(), mode);
        if (::rename(f.temporary.c_str(), f.target.c_str()) != 0) {
            *error = f.target + ": cannot write: " + std::strerror(errno);
            discard();
            return false;
        }
        withdraw(f.temporary);
    }
    files_.clear();
    return true;
}

int refuseOutputOverInput(const std::string &command, const std::vector<std::string> &outputs,
                          const std::vector<std::string> &inputs) {
    for (const std::string &out : outputs) {
        struct stat o;
        if (::stat(out.c_str(), &o) != 0) continue;  // a new file cannot be an input
        for (const std::string &in : inputs) {
            struct stat i;
            if (::stat(in.c_str(), &i) == 0 && i.st_dev == o.st_dev && i.st_ino == o.st_ino) {
                std::string message = out;
                message.append(" is the input ").append(in).append("; refusing to write over it");
                complain(command, message);
                return EXIT_USAGE;
            }
        }
    }
    return EXIT_OK;
}

}  // namespace zavtool
