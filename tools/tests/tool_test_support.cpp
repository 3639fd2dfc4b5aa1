#include "tool_test_support.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

extern char **environ;

namespace tooltest {

namespace fs = std::filesystem;

std::string slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void spill(const std::string &path, const std::string &bytes) { std::ofstream(path, std::ios::binary) << bytes; }

const std::string &scratch() {
    // Never destroyed: the exit handler below still needs the name.
    static const std::string &dir = *new std::string([] {
        // A dictionary folder set outside must not hide the books' own.
        unsetenv("ZOZIZID_DICT_DIR");
        std::string templ = (fs::temp_directory_path() / "zavtestXXXXXX").string();
        if (!mkdtemp(templ.data())) std::abort();
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(scratch(), ec);
        });
        return templ;
    }());
    return dir;
}

std::string scratchPath(const std::string &name) { return scratch() + "/" + name; }

pid_t spawn(const std::string &program, std::vector<std::string> args, const std::string &stem,
            const std::optional<std::string> &input) {
    args.insert(args.begin(), program);
    std::vector<char *> argv;
    for (auto &a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (input) {
        spill(stem + ".in", *input);
        posix_spawn_file_actions_addopen(&actions, 0, (stem + ".in").c_str(), O_RDONLY, 0);
    }
    posix_spawn_file_actions_addopen(&actions, 1, (stem + ".out").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_addopen(&actions, 2, (stem + ".err").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t pid = -1;
    if (posix_spawnp(&pid, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) pid = -1;
    posix_spawn_file_actions_destroy(&actions);
    return pid;
}

Result finish(pid_t pid, const std::string &stem) {
    Result r;
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid)
        r.code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    r.out = slurp(stem + ".out");
    r.err = slurp(stem + ".err");
    return r;
}

Result run(const std::string &program, const std::vector<std::string> &args, const std::optional<std::string> &input) {
    static int serial = 0;
    std::string stem = scratchPath("run" + std::to_string(++serial));
    return finish(spawn(program, args, stem, input), stem);
}

}  // namespace tooltest
