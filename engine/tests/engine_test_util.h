// Helpers shared by the engine's tests: a temporary dictionary folder that
// the engine reads through ZOZIZID_DICT_DIR, and byte patching.
#ifndef ZOZIZID_ENGINE_TEST_UTIL_H
#define ZOZIZID_ENGINE_TEST_UTIL_H

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "ZoZizID.h"
#include "ZoZizID_writer.h"
#include "test_env.h"

namespace enginetest {

// A fresh folder named by ZOZIZID_DICT_DIR for the life of the object.
class DictFolder {
public:
    DictFolder() : path_(companiontest::makeTempFolder("zozizid-").string()) {
        companiontest::setEnvironment(ZOZIZID_DICT_DIR_ENV, path_.c_str());
    }
    ~DictFolder() {
        companiontest::setEnvironment(ZOZIZID_DICT_DIR_ENV, nullptr);
        std::error_code ignored;
        std::filesystem::remove_all(path_, ignored);
    }
    const std::string &path() const { return path_; }

    // Each write also moves the file's modification time a second further
    // on, so that the engine tells every version from the one before even
    // where the clock is coarse and the size stays the same.
    void write(uint32_t dictId, std::vector<zozizid::DictWord> words) const {
        std::string error;
        ASSERT_TRUE(zozizid::writeDictionary(zozizid::dictionaryPath(path_, dictId), dictId, std::move(words), &error))
            << error;
        newVersion(dictId);
    }
    void writeBytes(uint32_t dictId, const std::vector<uint8_t> &bytes) const {
        {
            std::ofstream f(zozizid::dictionaryPath(path_, dictId), std::ios::binary | std::ios::trunc);
            f.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        }
        newVersion(dictId);
    }
    void newVersion(uint32_t dictId) const {
        static int step = 0;
        std::filesystem::last_write_time(zozizid::dictionaryPath(path_, dictId),
                                         std::filesystem::file_time_type::clock::now() + std::chrono::seconds(++step));
    }

private:
    std::string path_;
};

inline uint32_t get32(const std::vector<uint8_t> &b, size_t at) {
    return uint32_t{b.at(at)} | uint32_t{b.at(at + 1)} << 8 | uint32_t{b.at(at + 2)} << 16 |
           uint32_t{b.at(at + 3)} << 24;
}
inline void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) {
    for (size_t i = 0; i < 4; ++i) b.at(at + i) = static_cast<uint8_t>(v >> (8 * i));
}

// Words with only a main content, each content "<word>:main".
inline std::vector<zozizid::DictWord> plainWords(uint32_t dictId, std::initializer_list<const char *> words) {
    std::vector<zozizid::DictWord> out;
    for (const char *w : words) out.push_back({w, {{dictId, std::string(w) + ":main"}}});
    return out;
}

// The word of record `index`, or "<none>".
inline std::string recordWord(uintptr_t hdict, uint32_t index) {
    uintptr_t hword = dicSearchRecord(hdict, index);
    if (!hword) return "<none>";
    char buffer[256];
    dicGetWord(hword, buffer, sizeof buffer);
    dicFreeHWORD(hword);
    return buffer;
}

}  // namespace enginetest

#endif
