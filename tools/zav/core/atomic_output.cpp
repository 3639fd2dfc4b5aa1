#include "core/atomic_output.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "core/cli.h"

namespace zavtool {

namespace {

// A named temporary is ".TARGET" + kMark + six characters.
const char kMark[] = ".zav-tmp-";
constexpr size_t kMarkLength = sizeof kMark - 1;
constexpr size_t kRandomLength = 6;
// Set (to anything) by tests: temporaries get names, as where the system
// offers no unnamed files.
const char kNamedOnly[] = "ZAV_TEST_NAMED_TEMPORARIES";
constexpr int kMaxLinks = 40;  // as the system's own limit on links followed

// The named temporaries that an interrupt must remove. The signal handler
// reads them, so they live in fixed storage and are published with one store.
constexpr size_t kMaxPending = 16;
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
    if (path.empty() || path.size() >= kMaxPath) return;
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

std::string systemError(const std::string &what) { return what + ": " + std::strerror(errno); }

// `path` with its symbolic links followed, also when the last one leads to
// no file yet: the path of the file that writing to `path` reaches.
Result<std::string> followLinks(std::string path) {
    for (int links = 0;; ++links) {
        struct stat st;
        if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) break;
        if (links == kMaxLinks) return Failure{path + ": too many levels of symbolic links"};
        std::vector<char> to(static_cast<size_t>(st.st_size > 0 ? st.st_size : kMaxPath) + 1);
        ssize_t n = ::readlink(path.c_str(), to.data(), to.size());
        if (n < 0 || static_cast<size_t>(n) >= to.size()) return Failure{systemError(path + ": cannot read the link")};
        path = joinPath(directoryOf(path), std::string(to.data(), static_cast<size_t>(n)));
    }
    return path;
}

bool isTemporaryName(const std::string &name) {
    return name.size() > 1 + kMarkLength + kRandomLength && name[0] == '.' &&
           name.compare(name.size() - kRandomLength - kMarkLength, kMarkLength, kMark) == 0;
}

// Removes the named temporaries in `folder` that no live process holds (a
// run killed before it could remove its own).
void removeStale(const std::string &folder) {
    DIR *dir = ::opendir(folder.c_str());
    if (!dir) return;
    while (const dirent *entry = ::readdir(dir)) {
        std::string name = entry->d_name;
        if (!isTemporaryName(name)) continue;
        std::string path = joinPath(folder, name);
        int fd = ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) continue;
        struct stat held, named;
        if (::fstat(fd, &held) == 0 && S_ISREG(held.st_mode) && ::flock(fd, LOCK_EX | LOCK_NB) == 0 &&
            ::lstat(path.c_str(), &named) == 0 && named.st_dev == held.st_dev && named.st_ino == held.st_ino)
            ::unlink(path.c_str());
        ::close(fd);
    }
    ::closedir(dir);
}

// Six letters or digits from the system's random source (a temporary is
// made seldom: no generator is kept between calls).
std::string randomSuffix() {
    static const char kLetters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    std::random_device random;
    std::string out;
    for (size_t i = 0; i < kRandomLength; ++i) out += kLetters[random() % (sizeof kLetters - 1)];
    return out;
}

// A name for a temporary of `real`, beside it.
std::string temporaryName(const std::string &real) {
    return joinPath(directoryOf(real), "." + baseNameOf(real) + kMark + randomSuffix());
}

// An unnamed file in `folder`, locked; -1 where the system offers none.
int unnamedIn(const std::string &folder) {
#ifdef O_TMPFILE
    if (std::getenv(kNamedOnly) || ::access("/proc/self/fd", X_OK) != 0) return -1;
    int fd = ::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) ::flock(fd, LOCK_EX);
    return fd;
#else
    (void)folder;
    return -1;
#endif
}

// A named temporary for `real`, beside it when `folder` is its folder;
// locked, and published for the interrupt handlers.
int namedFor(const std::string &real, const std::string &folder, std::string *name) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        *name = joinPath(folder, "." + baseNameOf(real) + kMark + randomSuffix());
        int fd = ::open(name->c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd >= 0) {
            ::flock(fd, LOCK_EX);
            publish(*name);
            return fd;
        }
        if (errno != EEXIST) break;
    }
    return -1;
}

mode_t modeFor(const std::string &real) {
    struct stat st;
    if (::stat(real.c_str(), &st) == 0 && S_ISREG(st.st_mode)) return st.st_mode & 07777;
    mode_t mask = ::umask(0);
    ::umask(mask);
    return static_cast<mode_t>(0666 & ~mask);
}

// What a target is, when it exists: why it is refused, or "".
std::string refusal(const struct stat &st) {
    if (S_ISREG(st.st_mode) || S_ISCHR(st.st_mode) || S_ISFIFO(st.st_mode)) return std::string();
    if (S_ISDIR(st.st_mode)) return "a folder";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISBLK(st.st_mode)) return "a block device";
    return "not a regular file";
}

bool copyAll(int from, int to) {
    if (::lseek(from, 0, SEEK_SET) != 0) return false;
    std::vector<char> buffer(1 << 16);
    for (;;) {
        ssize_t got = ::read(from, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return got == 0;
        for (ssize_t done = 0; done < got;) {
            ssize_t put = ::write(to, buffer.data() + done, static_cast<size_t>(got - done));
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) return false;
            done += put;
        }
    }
}

std::string temporaryFolder() {
    const char *tmp = std::getenv("TMPDIR");
    return tmp && *tmp ? tmp : "/tmp";
}

}  // namespace

OutputFiles::~OutputFiles() { discard(); }

void OutputFiles::release(File &f) {
    if (!f.temporary.empty()) {
        ::unlink(f.temporary.c_str());
        withdraw(f.temporary);
    }
    if (f.fd >= 0) ::close(f.fd);
    f.fd = -1;
}

void OutputFiles::discard() {
    for (File &f : files_) release(f);
    files_.clear();
}

Result<std::string> OutputFiles::add(const std::string &target, bool standardOutput) {
    installHandlers();
    File f;
    f.target = target;
    if (target == kStandardOutput) {
        if (!standardOutput) return Failure{"- (standard output) is not an output of this command"};
        f.inPlace = true;
    } else {
        Result<std::string> real = followLinks(target);
        if (!real) return real.failure();
        f.real = std::move(*real);
        struct stat st;
        if (::stat(f.real.c_str(), &st) == 0) {
            std::string why = refusal(st);
            if (!why.empty()) return Failure{target + " is " + why + "; refusing to write to it"};
            f.inPlace = !S_ISREG(st.st_mode);
        }
    }
    // A device, a FIFO or standard output gets the bytes once they are all
    // there: the temporary lies in the temporary folder.
    const std::string folder = f.inPlace ? temporaryFolder() : directoryOf(f.real);
    removeStale(folder);
    f.fd = unnamedIn(folder);
    if (f.fd < 0) f.fd = namedFor(f.inPlace ? "output" : f.real, folder, &f.temporary);
    if (f.fd < 0) return Failure{systemError(target + ": cannot create a file in " + folder)};
    f.path = f.temporary.empty() ? "/proc/self/fd/" + std::to_string(f.fd) : f.temporary;
    files_.push_back(f);
    return f.path;
}

void OutputFiles::drop(const std::string &target) {
    for (size_t i = 0; i < files_.size(); ++i) {
        if (files_[i].target != target) continue;
        release(files_[i]);
        files_.erase(files_.begin() + static_cast<ptrdiff_t>(i));
        return;
    }
}

// Puts one temporary in place.
Status OutputFiles::place(File &f) {
    if (f.inPlace) {
        int out = f.target == kStandardOutput ? STDOUT_FILENO : ::open(f.real.c_str(), O_WRONLY | O_CLOEXEC);
        if (out < 0) return Failure{systemError(f.target + ": cannot write")};
        bool copied = copyAll(f.fd, out);
        if (copied && f.target == kStandardOutput) std::fflush(stdout);
        if (out != STDOUT_FILENO && ::close(out) != 0) copied = false;
        if (!copied) return Failure{systemError(f.target + ": write error")};
        return Status();
    }
    if (::fchmod(f.fd, modeFor(f.real)) != 0) return Failure{systemError(f.target + ": cannot write")};
    std::string named = f.temporary;
    if (named.empty()) {
        // The unnamed file gets a name beside the target for the moment it
        // takes to rename it over the target.
        for (int attempt = 0; attempt < 100 && named.empty(); ++attempt) {
            std::string candidate = temporaryName(f.real);
            publish(candidate);
            if (::linkat(AT_FDCWD, f.path.c_str(), AT_FDCWD, candidate.c_str(), AT_SYMLINK_FOLLOW) == 0) {
                named = candidate;
            } else {
                withdraw(candidate);
                if (errno != EEXIST) break;
            }
        }
        if (named.empty()) return Failure{systemError(f.target + ": cannot write")};
    }
    if (::rename(named.c_str(), f.real.c_str()) != 0) {
        Failure failure{systemError(f.target + ": cannot write")};
        ::unlink(named.c_str());
        withdraw(named);
        return failure;
    }
    withdraw(named);
    f.temporary.clear();
    return Status();
}

Status OutputFiles::commit() {
    for (File &f : files_) {
        if (Status placed = place(f); !placed) {
            discard();
            return placed;
        }
        release(f);
    }
    files_.clear();
    return Status();
}

Status writeWhole(const std::string &target,
                  const std::function<bool(const std::string &path, std::string *error)> &write) {
    OutputFiles files;
    Result<std::string> temporary = files.add(target);
    if (!temporary) return temporary.failure();
    std::string error;
    if (!write(*temporary, &error)) return Failure{error};
    return files.commit();
}

Status refuseOutputOverInput(const std::vector<std::string> &outputs, const std::vector<std::string> &inputs) {
    for (const std::string &out : outputs) {
        struct stat o;
        if (out == kStandardOutput || ::stat(out.c_str(), &o) != 0) continue;  // a new file cannot be an input
        if (!S_ISREG(o.st_mode)) continue;  // a device or FIFO is written in place, not replaced
        for (const std::string &in : inputs) {
            struct stat i;
            if (::stat(in.c_str(), &i) == 0 && i.st_dev == o.st_dev && i.st_ino == o.st_ino) {
                std::string message = out;
                message.append(" is the input ").append(in).append("; refusing to write over it");
                return Failure{message};
            }
        }
    }
    return Status();
}

void removeRegularFile(const std::string &path) {
    struct stat st;
    if (::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) ::unlink(path.c_str());
}

std::FILE *reportStream(const std::string &out) { return out == kStandardOutput ? stderr : stdout; }

}  // namespace zavtool
