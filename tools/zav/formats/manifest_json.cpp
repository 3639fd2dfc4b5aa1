#include "formats/manifest_json.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

namespace zavtool {

size_t LineTable::add(size_t parent, std::string token, size_t line) {
    entries_.push_back({parent, std::move(token), line});
    return entries_.size() - 1;
}

size_t LineTable::lineOf(const std::string &pointer) const {
    if (entries_.empty()) return 1;
    // One pass in document order: an entry is on the way to the pointer
    // when its parent is and its token comes next in the pointer. reached[i]
    // is how much of the pointer entry i names (npos: it is not on the way).
    constexpr size_t npos = std::string::npos;
    std::vector<size_t> reached(entries_.size(), npos);
    reached[0] = 0;
    size_t deepest = 0;
    for (size_t i = 1; i < entries_.size(); ++i) {
        const Entry &e = entries_[i];
        size_t from = e.parent < i ? reached[e.parent] : npos;
        if (from == npos || from >= pointer.size() || pointer[from] != '/') continue;
        size_t end = from + 1 + e.token.size();
        if (end > pointer.size() || pointer.compare(from + 1, e.token.size(), e.token) != 0 ||
            (end < pointer.size() && pointer[end] != '/'))
            continue;
        reached[i] = end;
        if (end > reached[deepest]) deepest = i;
    }
    return entries_[deepest].line;
}

std::string LineTable::pointerOf(size_t entry) const {
    std::vector<const std::string *> tokens;
    for (size_t e = entry; e != kNoParent && entries_[e].parent != kNoParent; e = entries_[e].parent)
        tokens.push_back(&entries_[e].token);
    std::string pointer;
    for (auto it = tokens.rbegin(); it != tokens.rend(); ++it) pointer += "/" + **it;
    return pointer;
}

size_t LineTable::childLine(size_t entry, const std::string &token) const {
    for (size_t i = entry + 1; i < entries_.size(); ++i)
        if (entries_[i].parent == entry && entries_[i].token == token) return entries_[i].line;
    return 0;
}

namespace {

using json = nlohmann::json;

constexpr size_t kChunk = size_t{1} << 16;  // bytes read from the file at a time

// Characters that end a token or separate values, and so do not move
// the line of the last token.
bool isBlankOrSeparator(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == ']' || c == '}';
}

// The manifest's characters, from a file read a chunk at a time or from
// text in memory, with the lines of what has been read.
class Source {
public:
    explicit Source(const std::string &text) : begin_(text.data()), at_(text.data()), end_(text.data() + text.size()) {}
    explicit Source(std::FILE *file) : file_(file), buffer_(new char[kChunk]) { begin_ = at_ = end_ = buffer_.get(); }

    std::char_traits<char>::int_type get_character() {
        if (at_ == end_ && !refill()) return std::char_traits<char>::eof();
        auto c = static_cast<unsigned char>(*at_++);
        if (c == '\n')
            ++line_;
        else if (!isBlankOrSeparator(c))
            tokenLine_ = line_;
        return c;
    }

    // The line of the last character that is not a blank or a separator:
    // the end of the token the parser has just read (it may have read one
    // character past a number).
    size_t tokenLine() const { return tokenLine_; }
    // The line of character `position` (0-based), one of the last read.
    size_t lineOfCharacter(uint64_t position) const {
        size_t line = line_;
        for (uint64_t k = bytesRead(); k > position && k > chunkStart_; --k)
            if (begin_[k - 1 - chunkStart_] == '\n') --line;
        return line;
    }
    uint64_t bytesRead() const { return chunkStart_ + static_cast<uint64_t>(at_ - begin_); }
    bool failed() const { return file_ && std::ferror(file_); }

private:
    bool refill() {
        if (!file_) return false;
        size_t n = std::fread(buffer_.get(), 1, kChunk, file_);
        if (n == 0) return false;  // the last chunk stays, for lineOfCharacter
        chunkStart_ += static_cast<uint64_t>(end_ - begin_);
        begin_ = at_ = buffer_.get();
        end_ = at_ + n;
        return true;
    }

    std::FILE *file_ = nullptr;
    std::unique_ptr<char[]> buffer_;
    const char *begin_, *at_, *end_;
    uint64_t chunkStart_ = 0;  // bytes before begin_
    size_t line_ = 1, tokenLine_ = 1;
};

// The parser's input adapter: a handle on a Source (the parser takes its
// adapter by value).
class SourceAdapter {
public:
    using char_type = char;
    explicit SourceAdapter(Source *source) : source_(source) {}
    std::char_traits<char>::int_type get_character() { return source_->get_character(); }

private:
    Source *source_;
};

// Builds a document and its line table from parser events.
class Builder {
public:
    void reset(std::string prefix) {
        root = json();
        lines.clear();
        stack_.clear();
        prefix_ = std::move(prefix);
    }
    bool done() const { return stack_.empty(); }
    size_t depth() const { return stack_.size(); }

    // The container at depth d (0 is the root): whether it is a list, its
    // count of values so far and the key last read in it.
    bool isList(size_t d) const { return stack_[d].value->is_array(); }
    size_t count(size_t d) const { return stack_[d].count; }
    const std::string &key(size_t d) const { return stack_[d].key; }
    size_t entry(size_t d) const { return stack_[d].entry; }

    void put(json v, size_t line) { place(std::move(v), line); }
    void open(json container, size_t line) {
        size_t entry;
        json *value = place(std::move(container), line, &entry);
        stack_.push_back({value, entry, 0, std::string()});
    }
    void close() { stack_.pop_back(); }
    // Count a value at depth d that is not kept (a streamed element).
    void skip(size_t d) { ++stack_[d].count; }
    void key(std::string k, size_t line) {
        Frame &f = stack_.back();
        if (f.value->contains(k)) {
            std::string first = std::to_string(lines.childLine(f.entry, k));
            throw ManifestError(prefix_ + lines.pointerOf(f.entry) + "/" + k,
                                "the field \"" + k + "\" appears twice in this object (first on line " + first + ")",
                                line);
        }
        f.key = std::move(k);
    }

    json root;
    LineTable lines;

private:
    struct Frame {
        json *value;
        size_t entry;
        size_t count;
        std::string key;
    };
    json *place(json v, size_t line, size_t *entry = nullptr) {
        json *at;
        size_t e;
        if (stack_.empty()) {
            root = std::move(v);
            at = &root;
            e = lines.add(LineTable::kNoParent, std::string(), line);
        } else if (Frame &f = stack_.back(); f.value->is_array()) {
            f.value->push_back(std::move(v));
            at = &f.value->back();
            e = lines.add(f.entry, std::to_string(f.count++), line);
        } else {
            at = &(*f.value)[f.key];
            *at = std::move(v);
            e = lines.add(f.entry, f.key, line);
            ++f.count;
        }
        if (entry) *entry = e;
        return at;
    }

    std::vector<Frame> stack_;
    std::string prefix_;
};

// Parser events: the document is built, except the elements of streamed
// lists, each built on its own and handed over when complete.
class ManifestSax {
public:
    ManifestSax(Source &source, LocatedJson *out, const StreamedLists *streamed)
        : source_(source), out_(out), streamed_(streamed) {
        top_.reset(std::string());
    }

    bool null() { return value(json()); }
    bool boolean(bool v) { return value(json(v)); }
    bool number_integer(json::number_integer_t v) { return value(json(v)); }
    bool number_unsigned(json::number_unsigned_t v) { return value(json(v)); }
    bool number_float(json::number_float_t v, const json::string_t &) { return value(json(v)); }
    bool string(json::string_t &v) { return value(json(std::move(v))); }
    bool binary(json::binary_t &v) { return value(json(std::move(v))); }
    bool start_object(std::size_t) { return open(json::object()); }
    bool start_array(std::size_t) { return open(json::array()); }
    bool key(json::string_t &k) {
        builder().key(std::move(k), source_.tokenLine());
        return true;
    }
    bool end_object() { return close(); }
    bool end_array() { return close(); }
    template <typename Exception>
    bool parse_error(std::size_t position, const std::string &, const Exception &e) {
        failed = true;
        // The position counts the characters read, the offending one included.
        failedLine = source_.lineOfCharacter(position > 0 ? position - 1 : 0);
        failure = e.what();
        return false;
    }

    void finish() {
        out_->value = std::move(top_.root);
        out_->lines = std::move(top_.lines);
    }

    bool failed = false;
    size_t failedLine = 1;
    std::string failure;

private:
    Builder &builder() { return inElement_ ? element_ : top_; }

    // Is the top document's open container a streamed list?
    bool streaming() const { return !inElement_ && streamingDepth_ != 0 && top_.depth() == streamingDepth_; }

    // Is a list opened now in the top document the streamed field of a table?
    bool streamedField() const {
        if (!streamed_ || top_.depth() != 3 || top_.isList(0) || top_.key(0) != "tables" || !top_.isList(1) ||
            top_.isList(2))
            return false;
        for (const std::string &field : streamed_->fields)
            if (top_.key(2) == field) return true;
        return false;
    }

    void startElement() {
        inElement_ = true;
        elementPointer_ = listPointer_ + "/" + std::to_string(top_.count(streamingDepth_ - 1));
        element_.reset(elementPointer_);
    }

    bool value(json v) {
        if (streaming()) {
            startElement();
            element_.put(std::move(v), source_.tokenLine());
            deliver();
        } else {
            builder().put(std::move(v), source_.tokenLine());
        }
        return true;
    }
    bool open(json container) {
        if (streaming()) {
            startElement();
        } else if (!inElement_ && container.is_array() && streamedField()) {
            top_.open(std::move(container), source_.tokenLine());
            streamingDepth_ = top_.depth();
            listPointer_ = top_.lines.pointerOf(top_.entry(streamingDepth_ - 1));
            return true;
        }
        builder().open(std::move(container), source_.tokenLine());
        return true;
    }
    bool close() {
        builder().close();
        if (inElement_ && element_.done())
            deliver();
        else if (!inElement_ && top_.depth() + 1 == streamingDepth_)
            streamingDepth_ = 0;
        return true;
    }

    void deliver() {
        inElement_ = false;
        size_t d = streamingDepth_ - 1;
        const std::string &pointer = elementPointer_;
        try {
            streamed_->take(top_.key(2), top_.count(1) - 1, element_.root, pointer, element_.lines);
        } catch (ManifestError &e) {
            if (e.line == 0)
                e.line = e.pointer.compare(0, pointer.size(), pointer) == 0
                             ? element_.lines.lineOf(e.pointer.substr(pointer.size()))
                             : element_.lines.lineOf("");
            throw;
        }
        top_.skip(d);
        if (streamed_->progress) streamed_->progress(source_.bytesRead());
    }

    Source &source_;
    LocatedJson *out_;
    const StreamedLists *streamed_;
    Builder top_, element_;
    bool inElement_ = false;
    size_t streamingDepth_ = 0;  // the top document's depth inside a streamed list, or 0
    std::string listPointer_, elementPointer_;
};

// Drop nlohmann's "[json.exception.parse_error.101] parse error at line 3, column 4: " prefix.
std::string parseMessage(const ManifestSax &sax) {
    if (!sax.failed) return "not a JSON document";
    size_t colon = sax.failure.find(": ");
    return colon == std::string::npos ? sax.failure : sax.failure.substr(colon + 2);
}

bool parse(Source &source, const StreamedLists *streamed, LocatedJson *out, size_t *line, std::string *message) {
    ManifestSax sax(source, out, streamed);
    nlohmann::detail::parser<json, SourceAdapter> parser(SourceAdapter(&source), nullptr, true, false);
    bool ok = parser.sax_parse(&sax, true) && !sax.failed;
    if (ok) {
        sax.finish();
        return true;
    }
    *line = sax.failedLine;
    *message = parseMessage(sax);
    return false;
}

}  // namespace

bool parseManifestFile(const std::string &path, const StreamedLists *streamed, LocatedJson *out, size_t *line,
                       std::string *message) {
    std::unique_ptr<std::FILE, int (*)(std::FILE *)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
    if (!file) {
        *line = 0;
        *message = path + ": cannot open: " + std::strerror(errno);
        return false;
    }
    Source source(file.get());
    bool ok = parse(source, streamed, out, line, message);
    if (source.failed()) {
        *line = 0;
        *message = path + ": read error";
        return false;
    }
    return ok;
}

bool parseLocatedJson(const std::string &text, LocatedJson *out, size_t *line, std::string *message) {
    Source source(text);
    try {
        return parse(source, nullptr, out, line, message);
    } catch (const ManifestError &e) {
        *line = e.line;
        *message = e.pointer + ": " + e.what();
        return false;
    }
}

}  // namespace zavtool
