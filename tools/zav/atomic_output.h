// Output files that appear whole or not at all. Each target is written to a
// temporary file in the target's own folder and renamed over the target only
// when the command completes; an error, or an interrupt (SIGINT, SIGTERM,
// SIGHUP), removes the temporary files and leaves an existing target as it
// was. A target that is one of the command's inputs is refused before
// anything is written.
#ifndef ZAV_TOOL_ATOMIC_OUTPUT_H
#define ZAV_TOOL_ATOMIC_OUTPUT_H

#include <string>
#include <vector>

namespace zavtool {

class OutputFiles {
public:
    OutputFiles() = default;
    OutputFiles(const OutputFiles &) = delete;
    OutputFiles &operator=(const OutputFiles &) = delete;
    ~OutputFiles();  // removes the temporaries that were not committed

    // Create the temporary file for `target` and return its path, or an
    // empty string with *error naming the target.
    std::string add(const std::string &target, std::string *error);
    // Give up the temporary for `target`: it is removed and the target is
    // not written.
    void drop(const std::string &target);
    // Rename every temporary over its target. False with *error on failure
    // (the temporaries not yet renamed are removed).
    bool commit(std::string *error);

private:
    struct File {
        std::string target, temporary;
    };
    std::vector<File> files_;
    void discard();
};

// When one of `outputs` is the same file as one of `inputs` (compared by
// device and inode, so links are seen through), print "zav COMMAND: ..."
// and return EXIT_USAGE; otherwise EXIT_OK.
int refuseOutputOverInput(const std::string &command, const std::vector<std::string> &outputs,
                          const std::vector<std::string> &inputs);

}  // namespace zavtool

#endif
