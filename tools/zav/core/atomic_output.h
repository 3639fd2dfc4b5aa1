// Output files that appear whole or not at all, and that never replace what
// is not a regular file.
//
// Each target is first written to a temporary file and put in place only
// when the command completes:
// - a regular file (or a name not yet taken) is replaced by renaming the
//   temporary, made in the target's own folder, over it; an existing file
//   keeps its permission bits, a new one gets 0666 less the umask;
// - a symbolic link is followed (also one whose file does not exist yet):
//   the file it leads to is replaced, the link stays;
// - a character device or a FIFO is written in place, without rename (the
//   temporary's bytes are copied into it), and so is standard output, named
//   "-", for the outputs that allow it;
// - anything else (a folder, a socket, a block device) is refused before
//   anything is written.
// On Linux the temporary has no name until it is linked in at the end
// (O_TMPFILE), so that not even SIGKILL leaves one behind. Where the system
// refuses that, it has a name of the form ".OUT.zav-tmp-XXXXXX" and its
// owner holds a lock on it; every later run removes the ones of its folder
// that no live process holds. An error, or SIGINT, SIGTERM or SIGHUP,
// removes the temporaries and leaves an existing target as it was.
#ifndef ZAV_TOOL_ATOMIC_OUTPUT_H
#define ZAV_TOOL_ATOMIC_OUTPUT_H

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "core/result.h"

namespace zavtool {

// The name that stands for standard output.
inline constexpr const char *kStandardOutput = "-";

class OutputFiles {
public:
    OutputFiles() = default;
    OutputFiles(const OutputFiles &) = delete;
    OutputFiles &operator=(const OutputFiles &) = delete;
    ~OutputFiles();  // removes the temporaries that were not committed

    // Make the temporary for `target` and return a path to write it by
    // (open it for writing, with truncation if wanted, or for reading and
    // writing); the failure names the target. "-" is standard output when
    // `standardOutput` allows it.
    Result<std::string> add(const std::string &target, bool standardOutput = false);
    // Give up the temporary for `target`: it is removed and the target is
    // not written.
    void drop(const std::string &target);
    // Put every temporary in place, in the order added. On failure the
    // temporaries not yet in place are removed.
    Status commit();

private:
    struct File {
        std::string target;     // as given
        std::string real;       // the file it comes to: links followed
        std::string path;       // what the caller writes to
        std::string temporary;  // a named temporary ("" when unnamed)
        int fd = -1;            // the temporary, open, holding its lock
        bool inPlace = false;   // copied into a device, FIFO or standard output
    };
    std::vector<File> files_;
    Status place(File &f);
    void release(File &f);
    void discard();
};

// Write `target` whole or not at all: `write` fills the temporary at the
// path it is given (false with *error). The failure is the writer's reason,
// or the output's own (naming the target).
Status writeWhole(const std::string &target,
                  const std::function<bool(const std::string &path, std::string *error)> &write);

// Fails when one of `outputs` is the same file as one of `inputs` (compared
// by device and inode, so links are seen through): "OUT is the input IN;
// refusing to write over it".
Status refuseOutputOverInput(const std::vector<std::string> &outputs, const std::vector<std::string> &inputs);

// Remove `path` when it is a regular file (not a link, device or folder).
void removeRegularFile(const std::string &path);

// Where a command's report of what it wrote goes: standard error when the
// output itself is standard output, else standard output.
std::FILE *reportStream(const std::string &out);

}  // namespace zavtool

#endif
