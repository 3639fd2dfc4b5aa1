#include "manifest_json.h"

#include <iterator>
#include <vector>

namespace zavtool {

size_t lineAt(const std::string &text, size_t position) {
    size_t line = 1;
    size_t end = position < text.size() ? position : text.size();
    for (size_t i = 0; i < end; ++i)
        if (text[i] == '\n') ++line;
    return line;
}

namespace {

// How far the parser has read, and the line that point is on, kept up to
// date as it advances so that no line is counted twice.
struct Cursor {
    const char *furthest;
    size_t line = 1;  // 1 + the newlines before furthest
};

// A character iterator that moves the cursor when it reads past it.
class TrackingIterator {
public:
    using iterator_category = std::input_iterator_tag;
    using value_type = char;
    using difference_type = std::ptrdiff_t;
    using pointer = const char *;
    using reference = const char &;

    TrackingIterator(const char *at, Cursor *cursor) : at_(at), cursor_(cursor) {}
    reference operator*() const { return *at_; }
    TrackingIterator &operator++() {
        if (at_ == cursor_->furthest) {
            if (*at_ == '\n') ++cursor_->line;
            ++cursor_->furthest;
        }
        ++at_;
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
    Cursor *cursor_;
};

std::string escapePointerToken(const std::string &token) {
    std::string out;
    for (char c : token) {
        if (c == '~')
            out += "~0";
        else if (c == '/')
            out += "~1";
        else
            out += c;
    }
    return out;
}

// Builds the document with nlohmann's own DOM builder and keeps the first
// syntax error.
class DomSax {
public:
    using json = nlohmann::json;
    explicit DomSax(json &out) : dom_(out, true) {}

    bool null() { return dom_.null(); }
    bool boolean(bool v) { return dom_.boolean(v); }
    bool number_integer(json::number_integer_t v) { return dom_.number_integer(v); }
    bool number_unsigned(json::number_unsigned_t v) { return dom_.number_unsigned(v); }
    bool number_float(json::number_float_t v, const json::string_t &s) { return dom_.number_float(v, s); }
    bool string(json::string_t &v) { return dom_.string(v); }
    bool binary(json::binary_t &v) { return dom_.binary(v); }
    bool start_object(std::size_t n) { return dom_.start_object(n); }
    bool key(json::string_t &k) { return dom_.key(k); }
    bool end_object() { return dom_.end_object(); }
    bool start_array(std::size_t n) { return dom_.start_array(n); }
    bool end_array() { return dom_.end_array(); }
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
    nlohmann::detail::json_sax_dom_parser<json> dom_;
};

// Walks the document without building it, naming each value by its JSON
// pointer, and notes the line of the deepest value on the way to `target`;
// stops once the target itself is seen.
class FindingSax {
public:
    using json = nlohmann::json;
    FindingSax(const std::string &text, const Cursor &cursor, const std::string &target)
        : text_(text), cursor_(cursor), target_(target) {}

    bool null() { return seen(); }
    bool boolean(bool) { return seen(); }
    bool number_integer(json::number_integer_t) { return seen(); }
    bool number_unsigned(json::number_unsigned_t) { return seen(); }
    bool number_float(json::number_float_t, const json::string_t &) { return seen(); }
    bool string(json::string_t &) { return seen(); }
    bool binary(json::binary_t &) { return seen(); }
    bool start_object(std::size_t) { return open(false); }
    bool start_array(std::size_t) { return open(true); }
    bool key(json::string_t &k) {
        if (!frames_.empty()) frames_.back().key = k;
        return true;
    }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    template <typename Exception>
    bool parse_error(std::size_t, const std::string &, const Exception &) {
        return false;
    }

    size_t line = 1;

private:
    struct Frame {
        bool array;
        size_t index;
        std::string path;
        std::string key;
        bool onTheWay;  // the target is this value or lies inside it
    };

    std::string nextPath() {
        Frame &f = frames_.back();
        if (f.array) return f.path + "/" + std::to_string(f.index++);
        return f.path + "/" + escapePointerToken(f.key);
    }

    // Whether path names the target or a value that encloses it.
    bool leadsToTarget(const std::string &path) const {
        return target_.compare(0, path.size(), path) == 0 &&
               (target_.size() == path.size() || target_[path.size()] == '/');
    }

    // The line of the token the parser has just read. It may have read one
    // character past the token (the end of a number): step back over it and
    // any blanks or separators.
    size_t tokenLine() const {
        const char *begin = text_.data();
        const char *at = cursor_.furthest > begin ? cursor_.furthest - 1 : begin;
        while (at > begin && at < begin + text_.size() &&
               (*at == ' ' || *at == '\t' || *at == '\n' || *at == '\r' || *at == ',' || *at == ']' || *at == '}'))
            --at;
        size_t lineHere = cursor_.line;
        for (const char *p = at; p < cursor_.furthest; ++p)
            if (*p == '\n') --lineHere;
        return lineHere;
    }

    // Returns false, ending the walk, once the target is seen.
    bool note(const std::string &path, bool *onTheWay) {
        *onTheWay = (frames_.empty() || frames_.back().onTheWay) && leadsToTarget(path);
        if (*onTheWay) line = tokenLine();
        return !(*onTheWay && path.size() == target_.size());
    }
    bool seen() {
        if (frames_.empty() || !frames_.back().onTheWay) {
            if (!frames_.empty() && frames_.back().array) ++frames_.back().index;
            return true;
        }
        bool onTheWay;
        return note(nextPath(), &onTheWay);
    }
    bool open(bool array) {
        if (!frames_.empty() && !frames_.back().onTheWay) {
            if (frames_.back().array) ++frames_.back().index;
            frames_.push_back({array, 0, std::string(), std::string(), false});
            return true;
        }
        std::string path = frames_.empty() ? std::string() : nextPath();
        bool onTheWay;
        bool goOn = note(path, &onTheWay);
        frames_.push_back({array, 0, std::move(path), std::string(), onTheWay});
        return goOn;
    }
    bool close() {
        if (!frames_.empty()) frames_.pop_back();
        return true;
    }

    const std::string &text_;
    const Cursor &cursor_;
    const std::string &target_;
    std::vector<Frame> frames_;
};

}  // namespace

size_t LocatedJson::lineOf(const std::string &pointer) const {
    if (!text) return 1;
    Cursor cursor{text->data()};
    FindingSax sax(*text, cursor, pointer);
    TrackingIterator first(text->data(), &cursor), last(text->data() + text->size(), &cursor);
    nlohmann::json::sax_parse(first, last, &sax);
    return sax.line;
}

bool parseLocatedJson(const std::string &text, LocatedJson *out, size_t *line, std::string *message) {
    out->text = &text;
    DomSax sax(out->value);
    if (nlohmann::json::sax_parse(text.begin(), text.end(), &sax) && !sax.failed) return true;
    // The position counts the characters read, the offending one included.
    *line = lineAt(text, sax.failedAt > 0 ? sax.failedAt - 1 : 0);
    // Drop nlohmann's "[json.exception.parse_error.101] parse error at line 3, column 4: " prefix.
    const std::string &what = sax.failure;
    size_t colon = what.find(": ");
    *message = sax.failed ? (colon == std::string::npos ? what : what.substr(colon + 2)) : "not a JSON document";
    return false;
}

}  // namespace zavtool
