// StarDict dictionaries: OUT.ifo, OUT.idx, OUT.dict.dz and OUT.syn. Each
// definition is one word of .idx (the first key that leads to it); the other
// keys to it are synonyms.
#include <strings.h>

#include <algorithm>
#include <cstdio>

#include "dictzip.h"
#include "export_formats.h"

namespace zavtool {

namespace {

constexpr size_t kMaxWordBytes = 255;  // StarDict words are shorter than 256 bytes
const uint32_t kNoWord = UINT32_MAX;

// StarDict's order: ASCII letters folded, then the bytes.
bool stardictOrder(const std::string &a, const std::string &b) {
    int folded = strcasecmp(a.c_str(), b.c_str());
    return folded != 0 ? folded < 0 : a < b;
}

void putBigEndian(std::string *out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) *out += static_cast<char>(value >> shift & 0xFF);
}

// The .ifo text: one line per option, so line breaks in a value become <br>.
std::string ifoValue(const std::string &text) {
    std::string out;
    for (char c : text) {
        if (c == '\n')
            out += "<br>";
        else if (c != '\r')
            out += c;
    }
    return out;
}

class StardictFormat : public ExportFormat {
public:
    std::vector<std::string> outputs(const std::string &out) const override {
        return {out + ".ifo", out + ".idx", out + ".dict.dz", out + ".syn"};
    }
    bool begin(const std::vector<std::string> &paths, const ExportedBook &book, std::string *error) override {
        paths_ = paths;
        book_ = book;
        return data_.open(error);
    }
    bool definition(uint32_t id, const std::string &text, std::string *error) override {
        words_.push_back({std::string(), data_.written(), text.size(), id});
        return data_.write(text, error);
    }
    std::string keyProblem(const std::string &word) const override {
        std::string problem = ExportFormat::keyProblem(word);
        if (problem.empty() && word.size() > kMaxWordBytes)
            problem = "the key is longer than a StarDict word (255 bytes)";
        return problem;
    }
    bool key(const std::string &word, uint32_t id, const std::string &, std::string *) override {
        if (words_[id].word.empty())
            words_[id].word = word;
        else
            synonyms_.push_back({word, id});
        return true;
    }
    bool finish(std::string *error) override;
    std::vector<bool> unused() const override { return {false, false, false, synonyms_.empty()}; }

private:
    struct Word {
        std::string word;
        uint64_t offset, length;
        uint32_t id;
    };
    bool writeFile(const std::string &path, const std::string &bytes, std::string *error) {
        FILE *f = nullptr;
        if (!openForWriting(path, &f, error)) return false;
        bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        ok = std::fclose(f) == 0 && ok;
        if (!ok) *error = path + ": write error";
        return ok;
    }
    std::vector<std::string> paths_;
    ExportedBook book_;
    DictzipWriter data_;
    std::vector<Word> words_;  // by definition id until finish() sorts them
    std::vector<std::pair<std::string, uint32_t>> synonyms_;
};

bool StardictFormat::finish(std::string *error) {
    // A definition whose keys could not be written has no word.
    words_.erase(std::remove_if(words_.begin(), words_.end(), [](const Word &w) { return w.word.empty(); }),
                 words_.end());
    std::stable_sort(words_.begin(), words_.end(),
                     [](const Word &a, const Word &b) { return stardictOrder(a.word, b.word); });
    std::vector<uint32_t> position(words_.empty() ? 0
                                                  : std::max_element(
                                                        words_.begin(), words_.end(),
                                                        [](const Word &a, const Word &b) {
                                                            return a.id < b.id;
                                                        })->id +
                                                        1,
                                   kNoWord);
    std::string idx, syn;
    for (size_t i = 0; i < words_.size(); ++i) {
        position[words_[i].id] = static_cast<uint32_t>(i);
        idx += words_[i].word;
        idx += '\0';
        putBigEndian(&idx, static_cast<uint32_t>(words_[i].offset));
        putBigEndian(&idx, static_cast<uint32_t>(words_[i].length));
    }
    std::stable_sort(synonyms_.begin(), synonyms_.end(),
                     [](const auto &a, const auto &b) { return stardictOrder(a.first, b.first); });
    for (const auto &s : synonyms_) {
        syn += s.first;
        syn += '\0';
        putBigEndian(&syn, position[s.second]);
    }
    std::string ifo = "StarDict's dict ifo file\nversion=2.4.2\nbookname=" + ifoValue(book_.name) +
                      "\nwordcount=" + std::to_string(words_.size()) + "\nidxfilesize=" + std::to_string(idx.size()) +
                      "\nsametypesequence=m\n";
    if (!synonyms_.empty()) ifo += "synwordcount=" + std::to_string(synonyms_.size()) + "\n";
    if (!book_.description.empty()) ifo += "description=" + ifoValue(book_.description) + "\n";
    if (data_.written() > UINT32_MAX) {
        *error = "the definitions exceed the 4 GiB a StarDict file can address";
        return false;
    }
    FILE *dict = nullptr;
    if (!writeFile(paths_[0], ifo, error) || !writeFile(paths_[1], idx, error) ||
        (!synonyms_.empty() && !writeFile(paths_[3], syn, error)) || !openForWriting(paths_[2], &dict, error))
        return false;
    bool ok = data_.finish(dict, error);
    return std::fclose(dict) == 0 && ok;
}

}  // namespace

std::unique_ptr<ExportFormat> stardictFormat() { return std::make_unique<StardictFormat>(); }

}  // namespace zavtool
