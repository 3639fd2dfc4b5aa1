// Windows side of the test support's system services.
#include <windows.h>

#include <stdlib.h>

#include "support/fault_platform.h"
#include "support/test_os.h"

namespace tovix {
namespace test {

bool setEnvironment(const char *name, const char *value) {
    // _putenv_s with an empty value removes the variable.
    return _putenv_s(name, value ? value : "") == 0;
}

// The module reads the registry and GetACP() there.
bool settingsFromEnvironment() { return false; }

bool utf8FileNames() { return false; }

int openDescriptorCount() {
    DWORD count = 0;
    if (!GetProcessHandleCount(GetCurrentProcess(), &count)) return -1;
    return static_cast<int>(count);
}

}  // namespace test
}  // namespace tovix
