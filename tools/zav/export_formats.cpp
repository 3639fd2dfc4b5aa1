// Word lists (tsv) and dictd dictionaries.
#include "export_formats.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cctype>
#include <cstring>

#include <clocale>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <strings.h>

#include "dictzip.h"
#include "import_text.h"

namespace zavtool {

std::string ExportFormat::keyProblem(const std::string &word) const {
    if (word.find_first_not_of(' ') == std::string::npos) return "the key is empty";
    if (word.find_first_of("\t\n\r") != std::string::npos) return "the key holds a tab or a line break";
    return std::string();
}

bool openForWriting(const std::string &path, FILE **file, std::string *error) {
    *file = std::fopen(path.c_str(), "wb");
    if (!*file) *error = path + ": cannot write: " + std::strerror(errno);
    return *file != nullptr;
}

namespace {

bool closeFile(FILE *&file, std::string *error) {
    bool ok = file && std::fflush(file) == 0 && !std::ferror(file);
    if (file && std::fclose(file) != 0) ok = false;
    file = nullptr;
    if (!ok && error->empty()) *error = std::string("write error: ") + std::strerror(errno);
    return ok;
}

// WORD<TAB>DEFINITION per key, with \n, \t, \r and \\ escaped.
class TsvFormat : public ExportFormat {
public:
    ~TsvFormat() override {
        if (file_) std::fclose(file_);
    }
    std::vector<std::string> outputs(const std::string &out) const override { return {out}; }
    // What the book keeps about its dictionary comes first, as the lines
    // of dictd's entries about a dictionary ("00-database-short" ...), which
    // the tsv import reads back.
    bool begin(const std::vector<std::string> &paths, const ExportedBook &book, std::string *error) override {
        if (!openForWriting(paths[0], &file_, error)) return false;
        for (const std::string &field : bookInfoFields()) {
            const std::string &value = *book.info.field(field);
            if (!value.empty()) write(databaseHeadword(field), value);
        }
        return true;
    }
    bool definition(uint32_t, const std::string &, std::string *) override { return true; }
    bool needsText() const override { return true; }
    bool key(const std::string &word, uint32_t, const std::string &text, std::string *) override {
        write(word, text);
        return true;
    }
    bool finish(std::string *error) override { return closeFile(file_, error); }

private:
    void write(const std::string &word, const std::string &text) {
        std::string line = word + '\t' + escapeField(text) + '\n';
        std::fwrite(line.data(), 1, line.size(), file_);
    }
    FILE *file_ = nullptr;
};

// dictd's base-64 numbers.
std::string dictdNumber(uint64_t value) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    do {
        out.insert(out.begin(), kDigits[value % 64]);
        value /= 64;
    } while (value);
    return out;
}

// A key as dictd compares it in UTF-8 mode: its characters in lower case
// (bytes that are not UTF-8 stand for themselves).
// UTF-8 of the characters.
std::string utf8Of(const std::u32string &text) {
    std::string out;
    for (char32_t c : text) {
        int extra = c < 0x80 ? 0 : c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        static const unsigned char kLead[] = {0x00, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(kLead[extra] | c >> (6 * extra));
        for (int k = extra - 1; k >= 0; --k) out += static_cast<char>(0x80 | (c >> (6 * k) & 0x3F));
    }
    return out;
}

std::u32string dictdFolded(const std::string &word) {
    static locale_t utf8 = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    std::u32string out;
    const auto *p = reinterpret_cast<const unsigned char *>(word.data());
    for (size_t at = 0, n = word.size(); at < n;) {
        size_t extra = p[at] >= 0xF0 ? 3 : p[at] >= 0xE0 ? 2 : p[at] >= 0xC0 ? 1 : 0;
        char32_t c = extra ? p[at] & (0x3Fu >> extra) : p[at];
        bool ok = at + extra < n;
        for (size_t k = 1; ok && k <= extra; ++k) {
            ok = (p[at + k] & 0xC0) == 0x80;
            c = c << 6 | (p[at + k] & 0x3Fu);
        }
        if (!ok) extra = 0, c = p[at];
        out += utf8 ? static_cast<char32_t>(towlower_l(static_cast<wint_t>(c), utf8)) : c;
        at += extra + 1;
    }
    return out;
}

// The index lines of a dictd export, packed so that they can be sorted
// without a string per line: per line its sort key (the word as dictd folds
// it, in UTF-8) and, when it differs, the word itself, NUL-terminated in one
// arena, beside a 24-byte record.
class IndexLines {
public:
    void add(const std::string &word, uint64_t offset, uint64_t length) {
        std::string key = utf8Of(dictdFolded(word));
        lines_.push_back({arena_.size(), offset, length});
        arena_ += key;
        arena_ += '\0';
        if (key != word) arena_ += word;
        arena_ += '\0';
    }
    // dictd looks a word up in lower case, so the index holds the headwords
    // in lower case (as dictfmt writes them), in that order: in UTF-8 the
    // folded word, else the word with ASCII letters in lower case.
    void sort(bool utf8) {
        if (!utf8)
            for (Line &l : lines_) {
                for (char *c = &arena_[l.text + std::strlen(&arena_[l.text]) + 1]; *c; ++c)
                    *c = static_cast<char>(std::tolower(static_cast<unsigned char>(*c)));
            }
        std::stable_sort(lines_.begin(), lines_.end(), [&](const Line &a, const Line &b) {
            int c = std::strcmp(key(a), key(b));
            return c != 0 ? c < 0 : (!utf8 && std::strcmp(word(a, false), word(b, false)) < 0);
        });
    }
    bool write(FILE *index, bool utf8) const {
        for (const Line &l : lines_)
            std::fprintf(index, "%s\t%s\t%s\n", word(l, utf8), dictdNumber(l.offset).c_str(),
                         dictdNumber(l.length).c_str());
        return !std::ferror(index);
    }

private:
    struct Line {
        size_t text;
        uint64_t offset, length;
    };
    const char *key(const Line &l) const { return arena_.data() + l.text; }
    // The word the index holds: the sort key in UTF-8, else the (lower-cased) word.
    const char *word(const Line &l, bool utf8) const {
        const char *own = key(l) + std::strlen(key(l)) + 1;
        return utf8 || *own == '\0' ? key(l) : own;
    }
    std::string arena_;
    std::vector<Line> lines_;
};

// OUT.index and OUT.dict.dz; keys that share a definition are index lines
// to the same place.
class DictdFormat : public ExportFormat {
public:
    std::vector<std::string> outputs(const std::string &out) const override {
        return {out + ".index", out + ".dict.dz"};
    }
    bool begin(const std::vector<std::string> &paths, const ExportedBook &book, std::string *error) override {
        paths_ = paths;
        if (!data_.open(error)) return false;
        bool ok = meta(databaseHeadword("name"), book.name) && meta("00-database-allchars", "");
        for (const std::string &field : bookInfoFields()) {
            const std::string &value = *book.info.field(field);
            if (field != "name" && !value.empty()) ok = ok && meta(databaseHeadword(field), value);
        }
        if (!ok) *error = "cannot compress the data";
        return ok;
    }
    bool definition(uint32_t id, const std::string &text, std::string *error) override {
        if (places_.size() <= id) places_.resize(id + 1);
        places_[id] = {data_.written(), text.size()};
        utf8_ = utf8_ && isUtf8(text);
        return data_.write(text, error);
    }
    bool key(const std::string &word, uint32_t id, const std::string &, std::string *) override {
        lines_.add(word, places_[id].first, places_[id].second);
        utf8_ = utf8_ && isUtf8(word);
        return true;
    }
    bool finish(std::string *error) override {
        // dictd reads the keys and texts as UTF-8 when this entry is there.
        if (utf8_ && !meta("00-database-utf8", "")) return *error = "cannot compress the data", false;
        lines_.sort(utf8_);
        FILE *index = nullptr, *dict = nullptr;
        if (!openForWriting(paths_[0], &index, error)) return false;
        lines_.write(index, utf8_);
        if (!closeFile(index, error) || !openForWriting(paths_[1], &dict, error)) return false;
        bool ok = data_.finish(dict, error);
        return closeFile(dict, error) && ok;
    }

private:
    // dictd's own entries: the headword on the first line, the text indented.
    bool meta(const std::string &word, const std::string &text) {
        std::string entry = word + "\n";
        for (size_t at = 0; at < text.size();) {
            size_t nl = text.find('\n', at);
            if (nl == std::string::npos) nl = text.size();
            entry += "    " + text.substr(at, nl - at) + "\n";
            at = nl + 1;
        }
        std::string error;
        lines_.add(word, data_.written(), entry.size());
        return data_.write(entry, &error);
    }
    std::vector<std::string> paths_;
    DictzipWriter data_;
    std::vector<std::pair<uint64_t, uint64_t>> places_;
    IndexLines lines_;
    bool utf8_ = true;
};

}  // namespace

std::unique_ptr<ExportFormat> tsvFormat() { return std::make_unique<TsvFormat>(); }
std::unique_ptr<ExportFormat> dictdFormat() { return std::make_unique<DictdFormat>(); }

}  // namespace zavtool
