// Runs a fuzz target without a fuzzing engine: on every file named on the
// command line (and every file of every folder named), then on
// `--mutations N` deterministic mutations of each (byte flips, overwritten
// words, truncations), so the sanitizers can watch the libraries read
// damaged input.
//
//   <target>_replay [--mutations N] FILE|FOLDER...
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

uint64_t gState = 0x9E3779B97F4A7C15ull;
uint64_t nextRandom() {  // xorshift64*
    gState ^= gState >> 12;
    gState ^= gState << 25;
    gState ^= gState >> 27;
    return gState * 0x2545F4914F6CDD1Dull;
}

void mutate(std::vector<uint8_t> &bytes) {
    if (bytes.empty()) return;
    int edits = 1 + static_cast<int>(nextRandom() % 4);
    for (int e = 0; e < edits; ++e) {
        size_t at = nextRandom() % bytes.size();
        switch (nextRandom() % 5) {
            case 0: bytes[at] ^= static_cast<uint8_t>(1u << (nextRandom() % 8)); break;
            case 1: bytes[at] = static_cast<uint8_t>(nextRandom()); break;
            case 2: {  // an interesting 32-bit value: 0, all ones, 2^31, a small offset, the file size
                static const uint32_t kValues[] = {0, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 1, 512};
                uint32_t v = kValues[nextRandom() % 6];
                if (nextRandom() % 3 == 0) v = static_cast<uint32_t>(bytes.size() - nextRandom() % 8);
                for (int i = 0; i < 4 && at + i < bytes.size(); ++i) bytes[at + i] = static_cast<uint8_t>(v >> (8 * i));
                break;
            }
            case 3: bytes.resize(512 + nextRandom() % (bytes.size() > 512 ? bytes.size() - 511 : 1)); break;
            default: {  // copy a word from elsewhere (offsets that point at real structures)
                size_t from = nextRandom() % bytes.size();
                for (int i = 0; i < 4 && at + i < bytes.size() && from + i < bytes.size(); ++i)
                    bytes[at + i] = bytes[from + i];
            }
        }
    }
}

// The files named: a folder stands for its files, in name order.
std::vector<std::string> inputFiles(const std::vector<std::string> &names) {
    std::vector<std::string> files;
    for (const std::string &name : names) {
        std::error_code error;
        if (!std::filesystem::is_directory(name, error)) {
            files.push_back(name);
            continue;
        }
        std::vector<std::string> inFolder;
        for (const auto &entry : std::filesystem::directory_iterator(name, error))
            if (entry.is_regular_file()) inFolder.push_back(entry.path().string());
        std::sort(inFolder.begin(), inFolder.end());
        files.insert(files.end(), inFolder.begin(), inFolder.end());
    }
    return files;
}

}  // namespace

int main(int argc, char **argv) {
    long mutations = 0;
    int runs = 0;
    std::vector<std::string> names;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--mutations") == 0 && i + 1 < argc)
            mutations = strtol(argv[++i], nullptr, 10);
        else
            names.push_back(argv[i]);
    }
    for (const std::string &file : inputFiles(names)) {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            fprintf(stderr, "%s: cannot read\n", file.c_str());
            return 2;
        }
        std::vector<uint8_t> seed((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LLVMFuzzerTestOneInput(seed.data(), seed.size());
        ++runs;
        for (long m = 0; m < mutations; ++m) {
            std::vector<uint8_t> bytes = seed;
            mutate(bytes);
            LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
            ++runs;
        }
    }
    printf("%d inputs run\n", runs);
    return runs > 0 ? 0 : 2;
}
