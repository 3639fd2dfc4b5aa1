#include "formats/import_text.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "core/cli.h"

namespace zavtool {

namespace {
// A key holds at most this many bytes.
constexpr size_t kMaxKeyBytes = 65535;
// After this many warnings only the count is reported.
constexpr uint64_t kMaxWarnings = 100;
const char kByteOrderMark[] = "\xEF\xBB\xBF";
}  // namespace

bool ImportLog::warn(const std::string &file, uint64_t line, const std::string &message) {
    if (++warned_ <= kMaxWarnings)
        std::fprintf(stderr, "%s:%llu: %s\n", file.c_str(), static_cast<unsigned long long>(line), message.c_str());
    else if (warned_ == kMaxWarnings + 1)
        complain(command_, "more lines skipped or merged; only their count is reported");
    return true;
}

bool ImportLog::skip(const std::string &file, uint64_t line, const std::string &reason) {
    ++skipped_;
    if (strict_) {
        std::fprintf(stderr, "%s:%llu: %s\n", file.c_str(), static_cast<unsigned long long>(line), reason.c_str());
        return false;
    }
    return warn(file, line, reason + "; skipped");
}

void ImportLog::merge(const std::string &file, uint64_t line, uint64_t kept) {
    ++merged_;
    if (!quiet_) warn(file, line, "the same headword and definition as line " + std::to_string(kept) + "; merged");
}

void ImportLog::summary() const {
    if (quiet_ && skipped_ == 0) return;
    const uint64_t read = kept_ + about_ + merged_ + skipped_ + blank_;
    std::string text = "read " + std::to_string(read) + " " + unit_ + ": kept " + std::to_string(kept_) + " entries";
    if (about_) text += ", " + std::to_string(about_) + " about the dictionary";
    if (merged_) text += ", merged " + std::to_string(merged_);
    text += ", skipped " + std::to_string(skipped_);
    if (blank_) text += ", " + std::to_string(blank_) + " blank";
    complain(command_, text);
}

TextDecoder::~TextDecoder() {
    if (cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
}

Status TextDecoder::open(const std::string &encoding) {
    std::string upper;
    for (char c : encoding) upper += static_cast<char>(c >= 'a' && c <= 'z' ? c - 32 : c);
    if (upper.empty() || upper == "UTF-8" || upper == "UTF8") return Status();
    cd_ = iconv_open("UTF-8", encoding.c_str());
    if (cd_ == reinterpret_cast<iconv_t>(-1))
        return Failure{"unknown encoding '" + encoding + "' (see 'iconv --list')", Fault::Usage};
    name_ = encoding;
    return Status();
}

bool TextDecoder::decode(const std::string &in, std::string *out) {
    if (cd_ == reinterpret_cast<iconv_t>(-1)) {
        if (!isUtf8(in)) return false;
        *out = in;
        return true;
    }
    iconv(cd_, nullptr, nullptr, nullptr, nullptr);
    out->assign(in.size() * 4 + 16, '\0');
    char *from = const_cast<char *>(in.data());
    size_t fromLeft = in.size();
    char *to = out->data();
    size_t toLeft = out->size();
    if (iconv(cd_, &from, &fromLeft, &to, &toLeft) == static_cast<size_t>(-1) ||
        iconv(cd_, nullptr, nullptr, &to, &toLeft) == static_cast<size_t>(-1))
        return false;
    out->resize(out->size() - toLeft);
    return true;
}

std::string escapeField(const std::string &text) {
    std::string out;
    out.reserve(text.size());
    for (char c : text) {
        const char *escaped = c == '\n' ? "\\n" : c == '\t' ? "\\t" : c == '\r' ? "\\r" : c == '\\' ? "\\\\" : nullptr;
        if (escaped)
            out += escaped;
        else
            out += c;
    }
    return out;
}

std::string unescapeField(const std::string &field) {
    std::string out;
    out.reserve(field.size());
    for (size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 1 < field.size()) {
            char c = field[i + 1];
            char plain = c == 'n' ? '\n' : c == 't' ? '\t' : c == 'r' ? '\r' : c == '\\' ? '\\' : 0;
            if (plain) {
                out += plain;
                ++i;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

bool isUtf8(const std::string &text) {
    const auto *p = reinterpret_cast<const unsigned char *>(text.data());
    size_t n = text.size();
    for (size_t i = 0; i < n;) {
        unsigned char c = p[i];
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t extra = c >= 0xC2 && c <= 0xDF ? 1 : c >= 0xE0 && c <= 0xEF ? 2 : c >= 0xF0 && c <= 0xF4 ? 3 : 0;
        if (extra == 0 || i + extra >= n) return false;
        unsigned char c1 = p[i + 1];
        // The second byte's range rules out overlong forms, surrogates and
        // values above U+10FFFF.
        unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
        unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
        if (c1 < low || c1 > high) return false;
        for (size_t k = 2; k <= extra; ++k)
            if ((p[i + k] & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

std::string headwordProblem(const std::string &word) {
    if (word.empty()) return "the headword is empty";
    if (word.find_first_not_of(' ') == std::string::npos) return "the headword is only spaces";
    if (word.find('\0') != std::string::npos) return "the headword holds a zero byte";
    if (word.size() > kMaxKeyBytes)
        return "the headword is " + std::to_string(word.size()) + " bytes; a key holds at most " +
               std::to_string(kMaxKeyBytes);
    return std::string();
}

LineReader::~LineReader() {
    if (file_) std::fclose(file_);
}

Status LineReader::open(const std::string &path) {
    file_ = std::fopen(path.c_str(), "rb");
    if (!file_) return Failure{path + ": cannot open: " + std::strerror(errno)};
    struct stat st;
    size_ = ::fstat(fileno(file_), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    char head[3];
    size_t got = std::fread(head, 1, sizeof head, file_);
    if (got == 3 && std::memcmp(head, kByteOrderMark, 3) == 0) {
        position_ = 3;
    } else {
        std::rewind(file_);
    }
    return Status();
}

bool LineReader::next(std::string *row, uint64_t *offset) {
    row->clear();
    *offset = position_;
    int c = 0;
    bool any = false;
    while ((c = getc_unlocked(file_)) != EOF) {
        any = true;
        ++position_;
        if (c == '\n') break;
        row->push_back(static_cast<char>(c));
    }
    if (c == EOF && std::ferror(file_)) failed_ = true;
    if (!any) return false;
    ++line_;
    if (!row->empty() && row->back() == '\r') row->pop_back();
    return true;
}

bool readAt(FILE *file, uint64_t offset, uint64_t length, std::string *out) {
    if (fseeko(file, static_cast<off_t>(offset), SEEK_SET) != 0) return false;
    out->assign(static_cast<size_t>(length), '\0');
    return std::fread(out->data(), 1, out->size(), file) == out->size();
}

}  // namespace zavtool
