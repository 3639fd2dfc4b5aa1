// POSIX side of the companion tests' system services.
#include <stdlib.h>

#include "test_env.h"

namespace companiontest {

bool setEnvironment(const char *name, const char *value) {
    return (value ? setenv(name, value, 1) : unsetenv(name)) == 0;
}

}  // namespace companiontest
