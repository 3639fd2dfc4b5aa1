// Windows side of the companion tests' system services.
#include <stdlib.h>

#include "test_env.h"

namespace companiontest {

bool setEnvironment(const char *name, const char *value) { return _putenv_s(name, value ? value : "") == 0; }

}  // namespace companiontest
