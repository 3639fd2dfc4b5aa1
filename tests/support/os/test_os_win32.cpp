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
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return static_cast<int>(count);
    // Where the count is not kept (wine answers 0), probe the handle values,
    // which are multiples of 4 from 4 up, as far as a test process gets.
    int n = 0;
    for (uintptr_t value = 4; value < 0x4000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++n;
    }
    return n;
}

}  // namespace test
}  // namespace tovix
