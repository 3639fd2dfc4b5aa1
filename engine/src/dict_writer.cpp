#include "ZoZizID_writer.h"

#include <algorithm>
#include <cstdio>
#include <fstream>

#include "tovix/collation.h"
#include "tovix/le.h"
#include "dict_format.h"

namespace zozizid {

namespace {

void put32(std::vector<uint8_t> &b, size_t at, uint32_t v) { tovix::putLe32(b.data() + at, v); }

void append32(std::vector<uint8_t> &b, uint32_t v) {
    b.resize(b.size() + 4);
    put32(b, b.size() - 4, v);
}

bool fail(std::string *error, const std::string &message) {
    if (error) *error = message;
    return false;
}

}  // namespace

std::string dictionaryFileName(uint32_t dictId) {
    char name[16];
    std::snprintf(name, sizeof name, "%08x.zzd", static_cast<unsigned>(dictId));
    return name;
}

std::string dictionaryPath(const std::string &folder, uint32_t dictId) {
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder + dictionaryFileName(dictId);
    return folder + "/" + dictionaryFileName(dictId);
}

bool buildDictionary(uint32_t dictId, std::vector<DictWord> words, std::vector<uint8_t> *out, std::string *error) {
    using namespace format;
    for (const DictWord &w : words) {
        if (w.word.empty()) return fail(error, "empty word");
        if (w.word.size() > kMaxWordLength) return fail(error, "word longer than 65535 bytes: " + w.word.substr(0, 40));
        if (w.word.find('\0') != std::string::npos) return fail(error, "word holds a zero byte");
        if (w.contents.size() > kMaxContents) return fail(error, "more than 1024 contents in word " + w.word);
        for (const auto &c : w.contents)
            if (c.second.size() > kMaxContentLength) return fail(error, "content of 2 GiB or more in word " + w.word);
    }
    std::stable_sort(words.begin(), words.end(), [](const DictWord &a, const DictWord &b) {
        return tovix::compareKeys(a.word.c_str(), b.word.c_str()) < 0;
    });

    // Sizes first, in 64 bits, so that an oversized dictionary is refused
    // before anything is laid out.
    uint64_t indexSize = uint64_t{kIndexEntrySize} * words.size();
    uint64_t wordsSize = 0, recordsSize = 0;
    for (const DictWord &w : words) {
        wordsSize += 2 + w.word.size();
        recordsSize += 4 + uint64_t{kContentEntrySize} * w.contents.size();
        for (const auto &c : w.contents) recordsSize += c.second.size();
    }
    uint64_t total = kHeaderSize + indexSize + wordsSize + recordsSize;
    if (total > 0xFFFFFFFFull) return fail(error, "dictionary of 4 GiB or more");

    std::vector<uint8_t> b(kHeaderSize, 0);
    b.reserve(static_cast<size_t>(total));
    const uint32_t indexOffset = kHeaderSize;
    const uint32_t wordsOffset = static_cast<uint32_t>(indexOffset + indexSize);
    const uint32_t recordsOffset = static_cast<uint32_t>(wordsOffset + wordsSize);
    std::copy(kMagic, kMagic + 4, b.begin());
    put32(b, kOffVersion, kVersion);
    put32(b, kOffHeaderSize, kHeaderSize);
    put32(b, kOffDictId, dictId);
    put32(b, kOffWordCount, static_cast<uint32_t>(words.size()));
    put32(b, kOffIndexOffset, indexOffset);
    put32(b, kOffWordsOffset, wordsOffset);
    put32(b, kOffWordsSize, static_cast<uint32_t>(wordsSize));
    put32(b, kOffRecordsOffset, recordsOffset);
    put32(b, kOffRecordsSize, static_cast<uint32_t>(recordsSize));
    put32(b, kOffFileSize, static_cast<uint32_t>(total));

    b.resize(wordsOffset, 0);  // the index, filled below
    uint32_t wordAt = wordsOffset;
    for (size_t i = 0; i < words.size(); ++i) {
        put32(b, indexOffset + kIndexEntrySize * i, wordAt);
        const std::string &w = words[i].word;
        b.push_back(static_cast<uint8_t>(w.size()));
        b.push_back(static_cast<uint8_t>(w.size() >> 8));
        b.insert(b.end(), w.begin(), w.end());
        wordAt += static_cast<uint32_t>(2 + w.size());
    }
    for (size_t i = 0; i < words.size(); ++i) {
        const auto &contents = words[i].contents;
        const uint32_t recordAt = static_cast<uint32_t>(b.size());
        put32(b, indexOffset + kIndexEntrySize * i + 4, recordAt);
        append32(b, static_cast<uint32_t>(contents.size()));
        uint32_t dataAt = static_cast<uint32_t>(recordAt + 4 + kContentEntrySize * contents.size());
        for (const auto &c : contents) {  // ascending content id (map order)
            append32(b, c.first);
            append32(b, dataAt);
            append32(b, static_cast<uint32_t>(c.second.size()));
            dataAt += static_cast<uint32_t>(c.second.size());
        }
        for (const auto &c : contents) b.insert(b.end(), c.second.begin(), c.second.end());
    }
    if (out) *out = std::move(b);
    return true;
}

bool writeDictionary(const std::string &path, uint32_t dictId, std::vector<DictWord> words, std::string *error) {
    std::vector<uint8_t> bytes;
    if (!buildDictionary(dictId, std::move(words), &bytes, error)) return false;
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) return fail(error, "cannot create " + path);
    file.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    file.close();
    if (!file) return fail(error, "cannot write " + path);
    return true;
}

}  // namespace zozizid
