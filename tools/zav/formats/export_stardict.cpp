// StarDict dictionaries: OUT.ifo, OUT.idx and OUT.dict.dz. Each key is a
// word of .idx, under its own name; the keys that lead to one text point at
// the same data.
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "formats/dictzip.h"
#include "formats/export_formats.h"

namespace zavtool {

namespace {

constexpr size_t kMaxWordBytes = 255;  // StarDict words are shorter than 256 bytes

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

// StarDict's order of .idx: ASCII letters folded, then the bytes.
int stardictCompare(const char *a, const char *b) {
    for (const char *p = a, *q = b;; ++p, ++q) {
        int x = static_cast<unsigned char>(*p), y = static_cast<unsigned char>(*q);
        if (x >= 'A' && x <= 'Z') x += 'a' - 'A';
        if (y >= 'A' && y <= 'Z') y += 'a' - 'A';
        if (x != y || x == 0) {
            if (x != y) return x - y;
            break;
        }
    }
    return std::strcmp(a, b);
}

void putBigEndian(FILE *out, uint32_t value) {
    unsigned char b[4];
    for (int i = 0; i < 4; ++i) b[i] = static_cast<unsigned char>(value >> (24 - 8 * i) & 0xFF);
    std::fwrite(b, 1, sizeof b, out);
}

class StardictFormat : public ExportFormat {
public:
    // OUT.syn is no longer written: it is listed so that one left by an
    // earlier export, which readers would take for this one's synonyms, is
    // removed.
    std::vector<std::string> outputs(const std::string &out) const override {
        return {out + ".ifo", out + ".idx", out + ".dict.dz", out + ".syn"};
    }
    Status begin(const std::vector<std::string> &paths, const ExportedBook &book) override {
        paths_ = paths;
        book_ = book;
        return data_.open();
    }
    Status definition(uint32_t id, const std::string &text) override {
        if (places_.size() <= id) places_.resize(id + 1);
        places_[id] = {data_.written(), text.size()};
        return data_.write(text);
    }
    Status accepts(const std::string &word) const override {
        Status accepted = ExportFormat::accepts(word);
        if (accepted && word.size() > kMaxWordBytes)
            return Failure{"the key is longer than a StarDict word (255 bytes)"};
        return accepted;
    }
    Status key(const std::string &word, uint32_t id, const std::string &) override {
        words_.push_back({arena_.size(), id});
        arena_.append(word.c_str(), word.size() + 1);
        return Status();
    }
    Status finish() override;
    std::vector<bool> unused() const override { return {false, false, false, true}; }

private:
    struct Word {
        size_t text;  // position in arena_
        uint32_t id;
    };
    std::vector<std::string> paths_;
    ExportedBook book_;
    DictzipWriter data_;
    std::vector<std::pair<uint64_t, uint64_t>> places_;  // offset and size of each definition
    std::string arena_;                                  // the words, NUL-terminated as .idx holds them
    std::vector<Word> words_;                            // one per key, sorted by finish()
};

// Every key is a word of .idx; keys that share a text are words that point
// at the same data.
Status StardictFormat::finish() {
    std::stable_sort(words_.begin(), words_.end(), [&](const Word &a, const Word &b) {
        return stardictCompare(arena_.data() + a.text, arena_.data() + b.text) < 0;
    });
    uint64_t idxSize = 0;
    for (const Word &w : words_) idxSize += std::strlen(arena_.data() + w.text) + 1 + 2 * sizeof(uint32_t);
    std::string ifo = "StarDict's dict ifo file\nversion=2.4.2\nbookname=" + ifoValue(book_.name) +
                      "\nwordcount=" + std::to_string(words_.size()) + "\nidxfilesize=" + std::to_string(idxSize) +
                      "\nsametypesequence=m\n";
    for (const char *field : {"author", "email", "website", "date"})
        if (!book_.info.field(field)->empty())
            ifo += std::string(field) + "=" + ifoValue(*book_.info.field(field)) + "\n";
    if (!book_.info.description.empty()) ifo += "description=" + ifoDescription(book_.info.description) + "\n";
    if (data_.written() > UINT32_MAX) return Failure{"the definitions exceed the 4 GiB a StarDict file can address"};
    FILE *files[3] = {nullptr, nullptr, nullptr};
    Status status;
    for (size_t i = 0; i < 3 && status; ++i) {
        Result<FILE *> file = openForWriting(paths_[i]);
        if (file) files[i] = *file;
        status = file.status();
    }
    if (status) {
        std::fwrite(ifo.data(), 1, ifo.size(), files[0]);
        for (const Word &w : words_) {
            const char *word = arena_.data() + w.text;
            std::fwrite(word, 1, std::strlen(word) + 1, files[1]);
            putBigEndian(files[1], static_cast<uint32_t>(places_[w.id].first));
            putBigEndian(files[1], static_cast<uint32_t>(places_[w.id].second));
        }
        if (std::ferror(files[1]))
            status = Failure{"write error"};
        else
            status = data_.finish(files[2]);
    }
    bool closed = true;
    for (FILE *f : files)
        if (f && std::fclose(f) != 0) closed = false;
    if (status && !closed) return Failure{"write error"};
    return status;
}

}  // namespace

std::unique_ptr<ExportFormat> stardictFormat() { return std::make_unique<StardictFormat>(); }

}  // namespace zavtool
