#include "fuzz_support.h"

#include <stdlib.h>
#include <unistd.h>

#include <filesystem>

namespace fuzz {

namespace {

std::string gFolder;

void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(gFolder, ignored);
}

}  // namespace

const std::string &scratchFolder() {
    if (!gFolder.empty()) return gFolder;
    std::string pattern = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : std::filesystem::temp_directory_path().string();
    pattern += "/tovix-fuzz-XXXXXX";
    if (!mkdtemp(&pattern[0])) broken("cannot make the scratch folder");
    gFolder = pattern;
    atexit(removeFolder);
    return gFolder;
}

std::string writeScratchFile(const std::string &name, const void *bytes, size_t size) {
    std::string path = scratchFolder() + "/" + name;
    FILE *f = fopen(path.c_str(), "wb");
    if (!f || (size && fwrite(bytes, 1, size, f) != size) || fclose(f) != 0) broken("cannot write a scratch file");
    return path;
}

}  // namespace fuzz
