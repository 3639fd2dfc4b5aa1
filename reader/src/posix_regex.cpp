#include "posix_regex.h"

#include <cstddef>
#include <vector>

namespace zavreader {

namespace {

constexpr size_t kNone = static_cast<size_t>(-1);
// RE2 refuses larger counts too; saying so here names the reason.
constexpr unsigned kMaxRepeat = 1000;

struct ClassName {
    const char *name;
    const char *members;  // in RE2's syntax, inside [ ]
};
constexpr ClassName kClasses[] = {
    {"alpha", "\\p{L}"},
    {"digit", "0-9"},
    {"alnum", "\\p{L}\\p{Nd}"},
    {"upper", "\\p{Lu}"},
    {"lower", "\\p{Ll}"},
    {"space", "\\s\\x0B\\p{Z}"},
    {"blank", "\\x20\\t"},
    {"punct", "\\p{P}\\p{S}"},
    {"graph", "\\p{L}\\p{M}\\p{N}\\p{P}\\p{S}"},
    {"print", "\\p{L}\\p{M}\\p{N}\\p{P}\\p{S}\\p{Zs}"},
    {"cntrl", "\\p{Cc}"},
    {"xdigit", "0-9A-Fa-f"},
};

bool isAsciiPunct(unsigned char c) {
    bool alnum = (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    return c > 0x20 && c < 0x7F && !alnum;
}

size_t charLength(std::string_view text, size_t at) {
    unsigned char lead = static_cast<unsigned char>(text[at]);
    size_t n = lead < 0xC0 ? 1 : lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4;
    return at + n <= text.size() ? n : text.size() - at;
}

// A character as a literal of RE2's syntax (in or out of a class).
void appendLiteral(std::string *out, std::string_view chars) {
    if (chars.size() == 1 && isAsciiPunct(static_cast<unsigned char>(chars[0]))) *out += '\\';
    out->append(chars);
}

class Translator {
public:
    Translator(std::string_view in, bool extended) : in_(in), extended_(extended) {}
    Status run(std::string *out);

private:
    bool more() const { return at_ < in_.size(); }
    bool next(char c) const { return at_ < in_.size() && in_[at_] == c; }
    bool fail(std::string reason) {
        if (failure_.good()) failure_ = Status::fail(ZAVR_BAD_PATTERN, std::move(reason));
        return false;
    }
    void beginAtom() {
        atom_ = out_.size();
        repeated_ = false;
        lineStart_ = false;
    }
    void noAtom(bool lineStart) {
        atom_ = kNone;
        repeated_ = false;
        lineStart_ = lineStart;
    }
    void literal(std::string_view chars) {
        beginAtom();
        appendLiteral(&out_, chars);
    }
    void literalChar() {
        size_t n = charLength(in_, at_);
        literal(in_.substr(at_, n));
        at_ += n;
    }
    bool step();
    bool stepBasic(char c);
    bool stepExtended(char c);
    bool escape();
    void repeat(std::string_view op);
    bool interval(bool basic);
    bool openGroup();
    bool closeGroup();
    bool bracket();
    bool bracketElement(std::string *chars, bool *isClass, std::string *classMembers);
    bool basicEndAnchor() const;

    std::string_view in_;
    bool extended_;
    size_t at_ = 0;
    std::string out_;
    std::vector<size_t> groups_;  // where each open group starts in out_
    size_t atom_ = kNone;         // where the atom a repetition applies to starts
    bool repeated_ = false;       // that atom carries a repetition already
    bool lineStart_ = true;       // at the start of the pattern, a group or an alternative
    Status failure_;
};

Status Translator::run(std::string *out) {
    while (more() && step()) {
    }
    if (failure_.good() && !groups_.empty()) fail(extended_ ? "a ( is not closed" : "a \\( is not closed");
    if (!failure_.good()) return failure_;
    *out = std::move(out_);
    return Status::ok();
}

bool Translator::step() {
    char c = in_[at_];
    if (c == '[') {
        ++at_;
        return bracket();
    }
    if (c == '.') {
        ++at_;
        beginAtom();
        out_ += '.';
        return true;
    }
    return extended_ ? stepExtended(c) : stepBasic(c);
}

bool Translator::stepExtended(char c) {
    ++at_;
    switch (c) {
        case '\\': return escape();
        case '(': return openGroup();
        case ')':
            if (groups_.empty()) {
                literal(")");
                return true;
            }
            return closeGroup();
        case '|':
            out_ += '|';
            noAtom(true);
            return true;
        case '^':
        case '$':
            out_ += c;
            noAtom(false);
            return true;
        case '*':
        case '+':
        case '?': repeat(std::string_view(&c, 1)); return true;
        case '{': return interval(false);
        default:
            --at_;
            literalChar();
            return true;
    }
}

bool Translator::stepBasic(char c) {
    if (c == '\\') {
        ++at_;
        if (!more()) return fail("the pattern ends with a backslash");
        char e = in_[at_];
        ++at_;
        switch (e) {
            case '(': return openGroup();
            case ')': return groups_.empty() ? fail("a \\) closes no group") : closeGroup();
            case '{': return interval(true);
            case '|':
                out_ += '|';
                noAtom(true);
                return true;
            case '+':
            case '?': repeat(std::string_view(&e, 1)); return true;
            default: --at_; return escape();
        }
    }
    if (c == '*' && atom_ != kNone) {
        ++at_;
        repeat("*");
        return true;
    }
    if ((c == '^' && lineStart_) || (c == '$' && basicEndAnchor())) {
        ++at_;
        out_ += c;
        noAtom(false);
        return true;
    }
    literalChar();
    return true;
}

// A $ is an anchor at the end of the pattern and before \) or \|.
bool Translator::basicEndAnchor() const {
    size_t after = at_ + 1;
    if (after == in_.size()) return true;
    return in_[after] == '\\' && after + 1 < in_.size() && (in_[after + 1] == ')' || in_[after + 1] == '|');
}

// What follows a backslash (at_ is past it).
bool Translator::escape() {
    if (!more()) return fail("the pattern ends with a backslash");
    char e = in_[at_];
    if (e >= '1' && e <= '9') return fail("back references (\\1 to \\9) are not supported");
    const char *atom = nullptr, *assertion = nullptr;
    switch (e) {
        case 'w': atom = "[\\p{L}\\p{N}_]"; break;
        case 'W': atom = "[^\\p{L}\\p{N}_]"; break;
        case 's': atom = "[\\s\\x0B\\p{Z}]"; break;
        case 'S': atom = "[^\\s\\x0B\\p{Z}]"; break;
        case 'b':
        case '<':
        case '>': assertion = "\\b"; break;
        case 'B': assertion = "\\B"; break;
        case '`': assertion = "\\A"; break;
        case '\'': assertion = "\\z"; break;
        default: literalChar(); return true;
    }
    ++at_;
    if (atom) {
        beginAtom();
        out_ += atom;
    } else {
        out_ += assertion;
        noAtom(false);
    }
    return true;
}

void Translator::repeat(std::string_view op) {
    if (atom_ == kNone) {  // nothing to repeat: the operator stands for itself
        literal(op);
        return;
    }
    if (repeated_) {
        out_.insert(atom_, "(?:");
        out_ += ')';
    }
    out_ += op;
    repeated_ = true;
    lineStart_ = false;
}

// {m}, {m,}, {m,n} or {,n} after the { (basic: \{ ... \}). An extended
// pattern's { that starts none is a literal.
bool Translator::interval(bool basic) {
    size_t start = at_;
    auto number = [&](unsigned *value) {
        size_t from = at_;
        *value = 0;
        while (more() && in_[at_] >= '0' && in_[at_] <= '9') {
            if (*value <= kMaxRepeat) *value = *value * 10 + static_cast<unsigned>(in_[at_] - '0');
            ++at_;
        }
        return at_ > from;
    };
    unsigned low = 0, high = 0;
    bool hasLow = number(&low), comma = next(',');
    bool hasHigh = false;
    if (comma) {
        ++at_;
        hasHigh = number(&high);
    }
    bool closed = basic ? (next('\\') && at_ + 1 < in_.size() && in_[at_ + 1] == '}') : next('}');
    if (!closed || (!hasLow && !comma) || atom_ == kNone) {
        if (basic) return fail(atom_ == kNone ? "\\{ follows nothing to repeat" : "a \\{ interval is malformed");
        at_ = start;
        literal("{");
        return true;
    }
    at_ += basic ? 2 : 1;
    if (low > kMaxRepeat || high > kMaxRepeat) return fail("a repeat count is over 1000");
    if (hasHigh && high < low) return fail("a repeat interval ends before it starts");
    std::string op = "{" + std::to_string(low);
    if (comma) op += "," + (hasHigh ? std::to_string(high) : std::string());
    repeat(op + "}");
    return true;
}

bool Translator::openGroup() {
    groups_.push_back(out_.size());
    out_ += "(?:";
    noAtom(true);
    return true;
}

bool Translator::closeGroup() {
    size_t start = groups_.back();
    groups_.pop_back();
    out_ += ')';
    atom_ = start;
    repeated_ = false;
    lineStart_ = false;
    return true;
}

// One element of a bracket expression: a character (chars) or a class
// ([:name:], members in RE2's syntax). [=c=] and [.c.] stand for c.
bool Translator::bracketElement(std::string *chars, bool *isClass, std::string *classMembers) {
    *isClass = false;
    if (in_[at_] == '[' && at_ + 1 < in_.size() &&
        (in_[at_ + 1] == ':' || in_[at_ + 1] == '=' || in_[at_ + 1] == '.')) {
        char kind = in_[at_ + 1];
        size_t from = at_ + 2;
        size_t end = in_.find(std::string{kind, ']'}, from);
        if (end == std::string_view::npos) return fail("a [" + std::string(1, kind) + " is not closed");
        std::string_view name = in_.substr(from, end - from);
        at_ = end + 2;
        if (kind != ':') {
            if (name.empty() || charLength(name, 0) != name.size())
                return fail("[" + std::string(1, kind) + " holds more than one character");
            *chars = std::string(name);
            return true;
        }
        for (const ClassName &c : kClasses) {
            if (name == c.name) {
                *isClass = true;
                *classMembers = c.members;
                return true;
            }
        }
        return fail("unknown character class [:" + std::string(name) + ":]");
    }
    size_t n = charLength(in_, at_);
    *chars = std::string(in_.substr(at_, n));
    at_ += n;
    return true;
}

// A bracket expression, after its [. A backslash in it is a literal.
bool Translator::bracket() {
    std::string cls = "[";
    if (next('^')) {
        cls += '^';
        ++at_;
    }
    bool first = true;
    while (true) {
        if (!more()) return fail("a [ is not closed");
        if (in_[at_] == ']' && !first) {
            ++at_;
            break;
        }
        first = false;
        std::string chars, members;
        bool isClass = false;
        if (!bracketElement(&chars, &isClass, &members)) return false;
        if (isClass) {
            cls += members;
            continue;
        }
        appendLiteral(&cls, chars);
        if (next('-') && at_ + 1 < in_.size() && in_[at_ + 1] != ']') {
            ++at_;
            if (!bracketElement(&chars, &isClass, &members)) return false;
            if (isClass) return fail("a range ends with a character class");
            cls += '-';
            appendLiteral(&cls, chars);
        }
    }
    beginAtom();
    out_ += cls + "]";
    return true;
}

}  // namespace

Status posixToRe2(std::string_view pattern, bool extended, std::string *out) {
    return Translator(pattern, extended).run(out);
}

}  // namespace zavreader
