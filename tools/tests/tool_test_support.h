// What the tool's test programs share: running a program with its output
// captured to files, reading and writing whole files, and one scratch folder
// per test program that is removed at exit.
#pragma once

#include <sys/types.h>

#include <optional>
#include <string>
#include <vector>

namespace tooltest {

struct Result {
    int code = -1;  // the exit status, 128 + the signal when killed, -1 when it did not start
    std::string out, err;
    std::string all() const { return out + err; }
};

std::string slurp(const std::string &path);
void spill(const std::string &path, const std::string &bytes);

// The test program's own folder for everything it writes.
const std::string &scratch();
std::string scratchPath(const std::string &name);

// Start `program` (searched on PATH unless it names a path) with stdout and
// stderr going to stem.out and stem.err; with `input`, stdin reads it from
// stem.in, else stdin is inherited. Returns the pid, or -1.
pid_t spawn(const std::string &program, std::vector<std::string> args, const std::string &stem,
            const std::optional<std::string> &input = std::nullopt);
// Wait for a spawned program and collect what it wrote.
Result finish(pid_t pid, const std::string &stem);
// spawn and finish, with the output files numbered in the scratch folder.
Result run(const std::string &program, const std::vector<std::string> &args,
           const std::optional<std::string> &input = std::nullopt);

}  // namespace tooltest
