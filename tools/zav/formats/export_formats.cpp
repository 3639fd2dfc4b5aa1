// Word lists (tsv) and dictd dictionaries.
#include "formats/export_formats.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cctype>
#include <cstring>

#include <clocale>
#include <cwchar>
#include <cwctype>
#include <locale.h>
#include <utf8proc.h>

#include "formats/dictzip.h"
#include "formats/import_text.h"

namespace zavtool {

Status ExportFormat::accepts(const std::string &word) const {
    if (word.find_first_not_of(' ') == std::string::npos) return Failure{"the key is empty"};
    if (word.find_first_of("\t\n\r") != std::string::npos) return Failure{"the key holds a tab or a line break"};
    return Status();
}

Result<FILE *> openForWriting(const std::string &path) {
    FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) return Failure{path + ": cannot write: " + std::strerror(errno)};
    return file;
}

namespace {

Status closeFile(FILE *&file) {
    bool ok = file && std::fflush(file) == 0 && !std::ferror(file);
    if (file && std::fclose(file) != 0) ok = false;
    file = nullptr;
    if (!ok) return Failure{std::string("write error: ") + std::strerror(errno)};
    return Status();
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
    // the tsv import reads back. The name is there always, as in the other
    // formats, so that every export reads back to the same book.
    Status begin(const std::vector<std::string> &paths, const ExportedBook &book) override {
        Result<FILE *> file = openForWriting(paths[0]);
        if (!file) return file.status();
        file_ = *file;
        for (const std::string &field : bookInfoFields()) {
            const std::string &value = field == "name" ? book.name : *book.info.field(field);
            if (!value.empty()) write(databaseHeadword(field), value);
        }
        return Status();
    }
    Status definition(uint32_t, const std::string &) override { return Status(); }
    bool needsText() const override { return true; }
    Status key(const std::string &word, uint32_t, const std::string &text) override {
        write(word, text);
        return Status();
    }
    Status finish() override { return closeFile(file_); }

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

// A headword as dictd looks it up. In UTF-8 mode dictd turns the word asked
// for to lower case character by character (towlower) and keeps everything
// else, spaces and punctuation included; otherwise it lowers ASCII letters
// only. Bytes that are not UTF-8 stand for themselves. `utf8Locale` is the
// C.UTF-8 character locale in UTF-8 mode, else null.
std::string dictdSearchForm(const std::string &word, locale_t utf8Locale) {
    std::string out;
    const auto *p = reinterpret_cast<const utf8proc_uint8_t *>(word.data());
    for (size_t at = 0, n = word.size(); at < n;) {
        utf8proc_int32_t c = 0;
        utf8proc_ssize_t length =
            utf8Locale && p[at] >= 0x80 ? utf8proc_iterate(p + at, static_cast<utf8proc_ssize_t>(n - at), &c) : 0;
        if (length <= 0) {  // ASCII, or a byte that is not UTF-8
            out += static_cast<char>(p[at] < 0x80 ? std::tolower(p[at]) : p[at]);
            ++at;
            continue;
        }
        utf8proc_uint8_t bytes[4];
        utf8proc_ssize_t m =
            utf8proc_encode_char(static_cast<utf8proc_int32_t>(towlower_l(static_cast<wint_t>(c), utf8Locale)), bytes);
        out.append(reinterpret_cast<const char *>(bytes), static_cast<size_t>(m));
        at += static_cast<size_t>(length);
    }
    return out;
}

// The index lines of a dictd export, packed so that they can be sorted
// without a string per line: the headwords as stored, NUL-terminated in one
// arena, beside a 24-byte record; the forms dictd searches go into a second
// arena when the lines are sorted.
class IndexLines {
public:
    void add(const std::string &word, uint64_t offset, uint64_t length) {
        lines_.push_back({words_.size(), 0, offset, length});
        words_.append(word.c_str(), word.size() + 1);
    }
    // The first column holds the form dictd searches (the headword in lower
    // case), the fourth the headword as stored when it differs, which dictd
    // shows in its answers. The lines are in the byte order of the first
    // column, as dictd's binary search needs; equal ones keep the book's order.
    void sort(bool utf8) {
        forms_.clear();
        locale_t utf8Locale = utf8 ? newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0)) : locale_t{};
        for (Line &l : lines_) {
            l.form = forms_.size();
            std::string form = dictdSearchForm(words_.data() + l.word, utf8Locale);
            forms_.append(form.c_str(), form.size() + 1);
        }
        if (utf8Locale) freelocale(utf8Locale);
        std::stable_sort(lines_.begin(), lines_.end(), [&](const Line &a, const Line &b) {
            return std::strcmp(forms_.data() + a.form, forms_.data() + b.form) < 0;
        });
    }
    bool write(FILE *index) const {
        for (const Line &l : lines_) {
            const char *form = forms_.data() + l.form, *word = words_.data() + l.word;
            std::fprintf(index, "%s\t%s\t%s%s%s\n", form, dictdNumber(l.offset).c_str(), dictdNumber(l.length).c_str(),
                         std::strcmp(form, word) == 0 ? "" : "\t", std::strcmp(form, word) == 0 ? "" : word);
        }
        return !std::ferror(index);
    }

private:
    struct Line {
        size_t word, form;
        uint64_t offset, length;
    };
    std::string words_, forms_;
    std::vector<Line> lines_;
};

// OUT.index and OUT.dict.dz; keys that share a definition are index lines
// to the same place.
class DictdFormat : public ExportFormat {
public:
    std::vector<std::string> outputs(const std::string &out) const override {
        return {out + ".index", out + ".dict.dz"};
    }
    Status begin(const std::vector<std::string> &paths, const ExportedBook &book) override {
        paths_ = paths;
        if (Status opened = data_.open(); !opened) return opened;
        bool ok = meta(databaseHeadword("name"), book.name) && meta("00-database-allchars", "");
        for (const std::string &field : bookInfoFields()) {
            const std::string &value = *book.info.field(field);
            if (field != "name" && !value.empty()) ok = ok && meta(databaseHeadword(field), value);
        }
        if (!ok) return Failure{"cannot compress the data"};
        return Status();
    }
    Status definition(uint32_t id, const std::string &text) override {
        if (places_.size() <= id) places_.resize(id + 1);
        places_[id] = {data_.written(), text.size()};
        utf8_ = utf8_ && isUtf8(text);
        return data_.write(text);
    }
    Status key(const std::string &word, uint32_t id, const std::string &) override {
        lines_.add(word, places_[id].first, places_[id].second);
        utf8_ = utf8_ && isUtf8(word);
        return Status();
    }
    Status finish() override {
        // dictd reads the keys and texts as UTF-8 when this entry is there.
        if (utf8_ && !meta("00-database-utf8", "")) return Failure{"cannot compress the data"};
        lines_.sort(utf8_);
        Result<FILE *> index = openForWriting(paths_[0]);
        if (!index) return index.status();
        lines_.write(*index);
        if (Status closed = closeFile(*index); !closed) return closed;
        Result<FILE *> dict = openForWriting(paths_[1]);
        if (!dict) return dict.status();
        Status finished = data_.finish(*dict);
        Status closed = closeFile(*dict);
        return finished ? closed : finished;
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
        lines_.add(word, data_.written(), entry.size());
        return data_.write(entry).ok();
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
