// POSIX side of the test support's system services.
#include <dirent.h>
#include <stdlib.h>

#include "support/fault_platform.h"
#include "support/test_os.h"

namespace tovix {
namespace test {

bool setEnvironment(const char *name, const char *value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

bool settingsFromEnvironment() { return true; }

bool utf8FileNames() { return true; }

int openDescriptorCount() {
    DIR *dir = opendir("/proc/self/fd");
    if (!dir) return -1;
    int n = 0;
    while (struct dirent *e = readdir(dir))
        if (e->d_name[0] != '.') ++n;
    closedir(dir);
    return n - 1;  // the descriptor of the listing itself
}

}  // namespace test
}  // namespace tovix
