#include "fuzz_support.h"

#include <ctype.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <iostream>

#include "ZoZizID.h"

// Where sanitizer reports go; present only in sanitized builds.
extern "C" void __sanitizer_set_report_fd(void *fd) __attribute__((weak));

namespace fuzz {

namespace {

std::string gFolder;

void removeFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(gFolder, ignored);
}

constexpr size_t kMaxPlanWord = 40;

}  // namespace

PlannedFile plannedFile(const uint8_t *data, size_t size, const uint8_t *defaultPlan, size_t defaultSize,
                        uint32_t sizeOffset) {
    Split input = splitInput(data, size);
    PlannedFile out{input.plan.size() ? input.plan : Plan(defaultPlan, defaultSize), 0,
                    std::vector<uint8_t>(input.file, input.file + input.fileSize)};
    out.flags = out.plan.u8();
    if (!(out.flags & kKeepStoredSize) && out.file.size() >= sizeOffset + 4)
        put32(&out.file[sizeOffset], static_cast<uint32_t>(out.file.size()));
    return out;
}

std::string wordVariant(Plan &plan, uint8_t mode, std::string word) {
    switch (mode % kWordModes) {
        case 0: return plan.text(kMaxPlanWord);
        case 2: return word + "@" + std::to_string(mode / kWordModes % 4);
        case 3: return word.substr(0, word.size() / 2) + (mode / kWordModes % 2 ? "*" : "?");
        case 4:
            for (char &c : word) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
            return word;
        default: return word;
    }
}

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

void pointEngineAtScratch() {
    static bool done = false;
    if (done) return;
    setenv(ZOZIZID_DICT_DIR_ENV, scratchFolder().c_str(), 1);
    done = true;
}

QuietOutput::QuietOutput() {
    static int reportFd = -1;
    if (reportFd < 0) {
        reportFd = dup(2);
        if (__sanitizer_set_report_fd)
            __sanitizer_set_report_fd(reinterpret_cast<void *>(static_cast<intptr_t>(reportFd)));
    }
    fflush(nullptr);
    out_ = dup(1);
    err_ = dup(2);
    int null = open("/dev/null", O_WRONLY);
    if (out_ < 0 || err_ < 0 || null < 0) broken("cannot silence the output");
    dup2(null, 1);
    dup2(null, 2);
    close(null);
}

QuietOutput::~QuietOutput() {
    std::cout.flush();
    std::cerr.flush();
    fflush(nullptr);
    dup2(out_, 1);
    dup2(err_, 2);
    close(out_);
    close(err_);
}

}  // namespace fuzz
