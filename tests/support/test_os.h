// The few operating-system services the test support needs that standard
// C++ does not offer. One implementation per system (os/test_os_*.cpp); the
// build picks the one that fits.
#ifndef TOVIX_TEST_OS_H
#define TOVIX_TEST_OS_H

namespace tovix {
namespace test {

// Set an environment variable of this process, or remove it when value is
// null. False on failure.
bool setEnvironment(const char *name, const char *value);

// Whether the module takes its DefaultLocale setting and its ANSI code page
// from the TOVIX_REGISTRY file and the TOVIX_ACP variable (POSIX systems), so
// that ModuleSession can steer them. Tests of those settings skip themselves
// where this is false.
bool settingsFromEnvironment();

// Whether file names are UTF-8 byte strings that may be longer than 259
// characters (POSIX systems). Where this is false the module converts paths
// to the ANSI code page and the system limits their length, so tests that
// expect UTF-8 names or open very long paths skip those cases.
bool utf8FileNames();

}  // namespace test
}  // namespace tovix

#endif
