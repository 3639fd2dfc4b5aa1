// System services of the companion libraries' tests that standard C++ does
// not offer: one implementation per system in os/, picked by the build.
#ifndef COMPANION_TEST_ENV_H
#define COMPANION_TEST_ENV_H

#include <filesystem>
#include <random>
#include <string>

namespace companiontest {

// Set an environment variable of this process, or remove it when value is
// null (on Windows: set it empty, which the engine treats as unset).
bool setEnvironment(const char *name, const char *value);

// Create a new, empty folder under the system's temporary folder.
inline std::filesystem::path makeTempFolder(const char *prefix) {
    std::random_device seed;
    std::mt19937_64 random(seed());
    for (;;) {
        std::filesystem::path p = std::filesystem::temp_directory_path() / (prefix + std::to_string(random()));
        if (std::filesystem::create_directory(p)) return p;
    }
}

}  // namespace companiontest

#endif
