#include "manifest_json.h"

#include <iterator>
#include <vector>

namespace zavtool {

size_t LocatedJson::lineOf(const std::string &pointer) const {
    std::string p = pointer;
    for (;;) {
        auto it = lines.find(p);
        if (it != lines.end()) return it->second;
        if (p.empty()) return 1;
        size_t slash = p.find_last_of('/');
        p = slash == std::string::npos ? std::string() : p.substr(0, slash);
    }
}

size_t lineAt(const std::string &text, size_t position) {
    size_t line = 1;
    size_t end = position < text.size() ? position : text.size();
    for (size_t i = 0; i < end; ++i)
        if (text[i] == '\n') ++line;
    return line;
}

namespace {

// A character iterator that records the furthest position the parser has
// read, so that each parse event can be tied to a place in the text.
class TrackingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    TrackingIterator(const char *at, const char **furthest) : at_(at), furthest_(furthest) {}
    reference operator*() const { return *at_; }
    TrackingIterator &operator++() {
        ++at_;
        if (at_ > *furthest_) *furthest_ = at_;
        return *this;
    }
    TrackingIterator operator++(int) {
        TrackingIterator old = *this;
        ++*this;
        return old;
    }
    bool operator==(const TrackingIterator &o) const { return at_ == o.at_; }
    bool operator!=(const TrackingIterator &o) const { return at_ != o.at_; }

private:
    const char *at_;
    const char **furthest_;
};

std::string escapePointerToken(const std::string &token) {
    std::string out;
    for (char c : token) {
        if (c == '~') out += "~0";
        else if (c == '/') out += "~1";
        else out += c;
    }
    return out;
}

// Builds the document with nlohmann's own DOM builder and records the line
// of every value as it is seen.
class LocatingSax {
public:
    using json = nlohmann::json;
    using number_integer_t = json::number_integer_t;
    using number_unsigned_t = json::number_unsigned_t;
    using number_float_t = json::number_float_t;
    using string_t = json::string_t;
    using binary_t = json::binary_t;

    LocatingSax(const std::string &text, const char **furthest, LocatedJson *out)
        : text_(text), furthest_(furthest), out_(out), dom_(out->value, true) {}

    bool null() { return seen() && dom_.null(); }
    bool boolean(bool v) { return seen() && dom_.boolean(v); }
    bool number_integer(number_integer_t v) { return seen() && dom_.number_integer(v); }
    bool number_unsigned(number_unsigned_t v) { return seen() && dom_.number_unsigned(v); }
    bool number_float(number_float_t v, const string_t &s) { return seen() && dom_.number_float(v, s); }
    bool string(string_t &v) { return seen() && dom_.string(v); }
    bool binary(binary_t &v) { return seen() && dom_.binary(v); }
    bool start_object(std::size_t n) {
        std::string path = nextPath();
        record(path);
        frames_.push_back({false, 0, path, {}});
        return dom_.start_object(n);
    }
    bool key(string_t &k) {
        if (!frames_.empty()) frames_.back().key = k;
        return dom_.key(k);
    }
    bool end_object() {
        if (!frames_.empty()) frames_.pop_back();
        return dom_.end_object();
    }
    bool start_array(std::size_t n) {
        std::string path = nextPath();
        record(path);
        frames_.push_back({true, 0, path, {}});
        return dom_.start_array(n);
    }
    bool end_array() {
        if (!frames_.empty()) frames_.pop_back();
        return dom_.end_array();
    }
    template <typename Exception>
    bool parse_error(std::size_t position, const std::string &, const Exception &e) {
        failed = true;
        failedAt = position;
        failure = e.what();
        return false;
    }

    bool failed = false;
    size_t failedAt = 0;
    std::string failure;

private:
    struct Frame {
        bool array;
        size_t index;
        std::string path;
        std::string key;
    };

    std::string nextPath() {
        if (frames_.empty()) return "";
        Frame &f = frames_.back();
        if (f.array) return f.path + "/" + std::to_string(f.index++);
        return f.path + "/" + escapePointerToken(f.key);
    }

    void record(const std::string &path) {
        // The parser may have read one character past the token (the end of
        // a number); step back over it and any blanks or separators.
        size_t at = static_cast<size_t>(*furthest_ - text_.data());
        if (at > 0) --at;
        while (at > 0 && at < text_.size() &&
               (text_[at] == ' ' || text_[at] == '\t' || text_[at] == '\n' || text_[at] == '\r' || text_[at] == ',' ||
                text_[at] == ']' || text_[at] == '}'))
            --at;
        out_->lines[path] = lineAt(text_, at);
    }

    bool seen() {
        record(nextPath());
        return true;
    }

    const std::string &text_;
    const char **furthest_;
    LocatedJson *out_;
    nlohmann::detail::json_sax_dom_parser<json> dom_;
    std::vector<Frame> frames_;
};

}  // namespace

bool parseLocatedJson(const std::string &text, LocatedJson *out, size_t *line, std::string *message) {
    const char *furthest = text.data();
    LocatingSax sax(text, &furthest, out);
    TrackingIterator first(text.data(), &furthest), last(text.data() + text.size(), &furthest);
    if (nlohmann::json::sax_parse(first, last, &sax) && !sax.failed) return true;
    // The position counts the characters read, the offending one included.
    *line = lineAt(text, sax.failedAt > 0 ? sax.failedAt - 1 : 0);
    // Drop nlohmann's "[json.exception.parse_error.101] parse error at line 3, column 4: " prefix.
    const std::string &what = sax.failure;
    size_t colon = what.find(": ");
    *message = sax.failed ? (colon == std::string::npos ? what : what.substr(colon + 2)) : "not a JSON document";
    return false;
}

}  // namespace zavtool
