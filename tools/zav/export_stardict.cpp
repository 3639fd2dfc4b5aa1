// StarDict dictionaries: OUT.ifo, OUT.idx, OUT.dict.dz and OUT.syn. Each
// definition is one word of .idx (the first key that leads to it); the other
// keys to it are synonyms.
#include <strings.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "dictzip.h"
#include "export_formats.h"

namespace zavtool {

namespace {

constexpr size_t kMaxWordBytes = 255;  // StarDict words are shorter than 256 bytes
const uint32_t kNoWord = UINT32_MAX;

// An .ifo value: one line, so line breaks become spaces.
std::string ifoValue(const std::string &text) {
    std::string out;
    for (char c : text) out += c == '\n' || c == '\r' ? ' ' : c;
    return out;
}

// The .ifo description, which StarDict reads as HTML: line breaks become
// <br>, and &, < and > entities, so that it reads back as it was.
std::string ifoDescription(const std::string &text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '\n': out += "<br>"; break;
            case '\r': break;
            case '&': out += "&amp;"; break;
            case '<': out += "&lt;"; break;
            case '>': out += "&gt;"; break;
            default: out += c;
        }
    }
    return out;
}

// Words in one arena (NUL-terminated, as .idx and .syn hold them) and small
// records that are sorted instead of the words.
class WordArena {
public:
    size_t add(const std::string &word) {
        size_t at = arena_.size();
        arena_.append(word.c_str(), word.size() + 1);
        return at;
    }
    const char *at(size_t position) const { return arena_.data() + position; }
    // StarDict's order: ASCII letters folded, then the bytes.
    bool before(size_t a, size_t b) const {
        int folded = strcasecmp(at(a), at(b));
        return folded != 0 ? folded < 0 : std::strcmp(at(a), at(b)) < 0;
    }

private:
    std::string arena_;
};

void putBigEndian(FILE *out, uint32_t value) {
    unsigned char b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(value >> (24 - 8 * i) & 0xFF);
    std::fwrite(b, 1, sizeof b, out);
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
        words_.push_back({kNoText, data_.written(), text.size(), id});
        return data_.write(text, error);
    }
    std::string keyProblem(const std::string &word) const override {
        std::string problem = ExportFormat::keyProblem(word);
        if (problem.empty() && word.size() > kMaxWordBytes)
            problem = "the key is longer than a StarDict word (255 bytes)";
        return problem;
    }
    bool key(const std::string &word, uint32_t id, const std::string &, std::string *) override {
        if (words_[id].text == kNoText)
            words_[id].text = arena_.add(word);
        else
            synonyms_.push_back({arena_.add(word), id});
        return true;
    }
    bool finish(std::string *error) override;
    std::vector<bool> unused() const override { return {false, false, false, synonyms_.empty()}; }

private:
    static constexpr size_t kNoText = SIZE_MAX;
    struct Word {
        size_t text;
        uint64_t offset, length;
        uint32_t id;
    };
    struct Synonym {
        size_t text;
        uint32_t id;
    };
    bool writeIdx(FILE *idx, FILE *syn);
    std::vector<std::string> paths_;
    ExportedBook book_;
    DictzipWriter data_;
    WordArena arena_;
    std::vector<Word> words_;  // by definition id until finish() sorts them
    std::vector<Synonym> synonyms_;
};

// .idx in StarDict's order, and .syn pointing at .idx positions.
bool StardictFormat::writeIdx(FILE *idx, FILE *syn) {
    std::vector<uint32_t> position(words_.size(), kNoWord);
    for (size_t i = 0; i < words_.size(); ++i) {
        position[words_[i].id] = static_cast<uint32_t>(i);
        const char *word = arena_.at(words_[i].text);
        std::fwrite(word, 1, std::strlen(word) + 1, idx);
        putBigEndian(idx, static_cast<uint32_t>(words_[i].offset));
        putBigEndian(idx, static_cast<uint32_t>(words_[i].length));
    }
    std::stable_sort(synonyms_.begin(), synonyms_.end(),
                     [&](const Synonym &a, const Synonym &b) { return arena_.before(a.text, b.text); });
    for (const Synonym &s : synonyms_) {
        const char *word = arena_.at(s.text);
        std::fwrite(word, 1, std::strlen(word) + 1, syn);
        putBigEndian(syn, position[s.id]);
    }
    return !std::ferror(idx) && !std::ferror(syn);
}

bool StardictFormat::finish(std::string *error) {
    // A definition whose keys could not be written has no word. Ids are
    // renumbered to the remaining definitions.
    std::vector<uint32_t> renumber(words_.size(), kNoWord);
    size_t kept = 0;
    for (const Word &w : words_)
        if (w.text != kNoText) renumber[w.id] = static_cast<uint32_t>(kept), words_[kept++] = w;
    words_.resize(kept);
    for (Word &w : words_) w.id = renumber[w.id];
    for (Synonym &s : synonyms_) s.id = renumber[s.id];
    std::stable_sort(words_.begin(), words_.end(),
                     [&](const Word &a, const Word &b) { return arena_.before(a.text, b.text); });
    uint64_t idxSize = 0;
    for (const Word &w : words_) idxSize += std::strlen(arena_.at(w.text)) + 1 + 2 * sizeof(uint32_t);
    std::string ifo = "StarDict's dict ifo file\nversion=2.4.2\nbookname=" + ifoValue(book_.name) +
                      "\nwordcount=" + std::to_string(words_.size()) + "\nidxfilesize=" + std::to_string(idxSize) +
                      "\nsametypesequence=m\n";
    if (!synonyms_.empty()) ifo += "synwordcount=" + std::to_string(synonyms_.size()) + "\n";
    for (const char *field : {"author", "email", "website", "date"})
        if (!book_.info.field(field)->empty())
            ifo += std::string(field) + "=" + ifoValue(*book_.info.field(field)) + "\n";
    if (!book_.info.description.empty()) ifo += "description=" + ifoDescription(book_.info.description) + "\n";
    if (data_.written() > UINT32_MAX) {
        *error = "the definitions exceed the 4 GiB a StarDict file can address";
        return false;
    }
    FILE *files[4] = {nullptr, nullptr, nullptr, nullptr};
    bool ok = true;
    for (size_t i = 0; i < 4 && ok; ++i) ok = openForWriting(paths_[i], &files[i], error);
    if (ok) {
        std::fwrite(ifo.data(), 1, ifo.size(), files[0]);
        ok = writeIdx(files[1], files[3]) && data_.finish(files[2], error);
    }
    for (FILE *f : files)
        if (f && std::fclose(f) != 0) ok = false;
    if (!ok && error->empty()) *error = "write error";
    return ok;
}

}  // namespace

std::unique_ptr<ExportFormat> stardictFormat() { return std::make_unique<StardictFormat>(); }

}  // namespace zavtool
