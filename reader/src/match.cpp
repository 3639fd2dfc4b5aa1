#include "match.h"

#include <re2/re2.h>

#include <algorithm>
#include <limits>
#include <memory>

#include "posix_regex.h"
#include "soundex.h"
#include "text.h"

namespace zavreader {

namespace {

enum class Kind { Exact, Prefix, NPrefix, Substring, Suffix, Re, Regexp, Soundex, Lev, Word, First, Last };

struct Named {
    Strategy strategy;
    Kind kind;
};
const Named kStrategies[] = {
    {{"exact", "Match headwords exactly"}, Kind::Exact},
    {{"prefix", "Match prefixes"}, Kind::Prefix},
    {{"nprefix", "Match prefixes, a range of them (skip#count#prefix)"}, Kind::NPrefix},
    {{"substring", "Match a part anywhere in a headword"}, Kind::Substring},
    {{"suffix", "Match suffixes"}, Kind::Suffix},
    {{"re", "POSIX extended regular expressions"}, Kind::Re},
    {{"regexp", "POSIX basic regular expressions"}, Kind::Regexp},
    {{"soundex", "Match headwords of the same soundex code"}, Kind::Soundex},
    {{"lev", "Match headwords within one edit (Levenshtein distance one)"}, Kind::Lev},
    {{"word", "Match whole words within headwords"}, Kind::Word},
    {{"first", "Match the first word of headwords"}, Kind::First},
    {{"last", "Match the last word of headwords"}, Kind::Last},
};

const Named *find(const std::string &name) {
    for (const Named &n : kStrategies)
        if (name == n.strategy.name) return &n;
    return nullptr;
}

// Bounds on a regular expression, so that no pattern can hold a server: its
// length, RE2's memory for it and the size of its compiled program. A
// larger program than this makes RE2's DFA run out of its share of the
// memory and fall back to the far slower NFA (^[[:alpha:]]{16}$, 19k
// instructions: 1.3 s over 580k headwords, against 53 ms for {8}, 9.5k).
constexpr size_t kMaxRegexBytes = 1024;
constexpr int64_t kMaxRegexMemory = 8 << 20;
constexpr int kMaxProgramSize = 10000;

// Whether c is white space between the words of a headword.
bool isSpace(char32_t c) {
    return c == ' ' || (c >= '\t' && c <= '\r') || c == 0x85 || c == 0xA0 || c == 0x1680 ||
           (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 || c == 0x202F || c == 0x205F || c == 0x3000;
}

// The code point of the UTF-8 character text[from, to) (0 when it is not
// one character of up to three bytes: white space needs no more).
char32_t charOf(std::string_view text, size_t from, size_t to) {
    auto b = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
    size_t n = to - from;
    if (n == 1) return b(from) < 0x80 ? b(from) : 0;
    if (n == 2 && (b(from) & 0xE0) == 0xC0) return ((b(from) & 0x1Fu) << 6) | (b(from + 1) & 0x3Fu);
    if (n == 3 && (b(from) & 0xF0) == 0xE0)
        return ((b(from) & 0x0Fu) << 12) | ((b(from + 1) & 0x3Fu) << 6) | (b(from + 2) & 0x3Fu);
    return 0;
}

bool isContinuation(char c) { return (static_cast<unsigned char>(c) & 0xC0) == 0x80; }

// Whether a word may end just before `at` / start at `at`: the text's end or
// white space there.
bool wordEndsAt(std::string_view text, size_t at) {
    if (at == 0) return true;
    size_t from = at - 1;
    while (from > 0 && at - from < 3 && isContinuation(text[from])) --from;
    return isSpace(charOf(text, from, at));
}
bool wordStartsAt(std::string_view text, size_t at) {
    if (at == text.size()) return true;
    size_t to = at + 1;
    while (to < text.size() && to - at < 3 && isContinuation(text[to])) ++to;
    return isSpace(charOf(text, at, to));
}

bool onWords(std::string_view text, size_t at, size_t length) {
    return wordEndsAt(text, at) && wordStartsAt(text, at + length);
}

// Whether the pattern is a run of whole words of the text (word), its
// first words (first) or its last words (last).
bool wordMatch(std::string_view text, std::string_view pattern, Kind kind) {
    if (text.size() < pattern.size()) return false;
    if (kind == Kind::First) return text.starts_with(pattern) && wordStartsAt(text, pattern.size());
    if (kind == Kind::Last) return text.ends_with(pattern) && wordEndsAt(text, text.size() - pattern.size());
    for (size_t at = text.find(pattern); at != std::string_view::npos; at = text.find(pattern, at + 1))
        if (onWords(text, at, pattern.size())) return true;
    return false;
}

// Whether a and b may be within one edit: once their common start and end
// are set aside, at most two characters are left of each. (A quick test
// before editDistance, which decides.)
bool nearEnough(std::string_view a, std::string_view b) {
    if (a.size() > b.size() + 4 || b.size() > a.size() + 4) return false;
    size_t shorter = std::min(a.size(), b.size()), start = 0, end = 0;
    while (start < shorter && a[start] == b[start]) ++start;
    while (start > 0 && start < shorter && isContinuation(a[start])) --start;  // to a first byte
    while (end < shorter - start && a[a.size() - 1 - end] == b[b.size() - 1 - end]) ++end;
    while (end > 0 && isContinuation(a[a.size() - end])) --end;
    auto left = [&](std::string_view s) {
        size_t n = 0;
        for (size_t i = start; i < s.size() - end; ++i) n += !isContinuation(s[i]);
        return n;
    };
    return left(a) <= 2 && left(b) <= 2;
}

// The entries whose case fold may start with `first`, the first byte of a
// folded pattern: in key order, the headwords that start with an ASCII
// character come first, grouped by that character in either case; after
// them come those that start with any other, some of which fold to ASCII
// too (the Kelvin sign to k). For a strategy whose answers start with the
// pattern's first character, so that it need not read every headword.
struct Span {
    size_t from, to;
};
size_t firstWhere(const TableIndex &index, size_t from, size_t to, const auto &before) {
    while (from < to) {
        size_t middle = from + (to - from) / 2;
        if (before(static_cast<unsigned char>(index.headword(middle)[0])))
            from = middle + 1;
        else
            to = middle;
    }
    return from;
}
std::vector<Span> spansFor(const TableIndex &index, unsigned char first) {
    auto lower = [](unsigned char c) { return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c + 32) : c; };
    size_t n = index.size();
    size_t ascii = firstWhere(index, 0, n, [](unsigned char c) { return c < 0x80; });
    if (first >= 0x80) return {{ascii, n}};
    size_t from = firstWhere(index, 0, ascii, [&](unsigned char c) { return lower(c) < first; });
    size_t to = firstWhere(index, from, ascii, [&](unsigned char c) { return lower(c) <= first; });
    return {{from, to}, {ascii, n}};
}

// "skip#count#prefix", each number in decimal digits (too large a number
// is taken as the largest).
bool parseRange(std::string_view pattern, uint64_t *skip, uint64_t *count, std::string_view *prefix) {
    uint64_t *numbers[2] = {skip, count};
    size_t at = 0;
    for (uint64_t *number : numbers) {
        size_t from = at;
        *number = 0;
        for (; at < pattern.size() && pattern[at] >= '0' && pattern[at] <= '9'; ++at) {
            uint64_t digit = static_cast<uint64_t>(pattern[at] - '0');
            uint64_t most = std::numeric_limits<uint64_t>::max();
            *number = *number > (most - digit) / 10 ? most : *number * 10 + digit;
        }
        if (at == from || at == pattern.size() || pattern[at] != '#') return false;
        ++at;
    }
    *prefix = pattern.substr(at);
    return true;
}

}  // namespace

const std::vector<Strategy> &strategies() {
    static const std::vector<Strategy> list = [] {
        std::vector<Strategy> l;
        for (const Named &n : kStrategies) l.push_back(n.strategy);
        return l;
    }();
    return list;
}

bool knownStrategy(const std::string &name) { return find(name) != nullptr; }

struct Matcher::Impl {
    Kind kind = Kind::Exact;
    bool ready = false;
    bool none = false;     // the pattern selects nothing
    bool byFirst = false;  // every answer starts with the pattern's first character
    std::string folded;    // the pattern case folded (nprefix: its prefix)
    uint64_t skip = 0;     // nprefix: the range of matches given
    uint64_t count = std::numeric_limits<uint64_t>::max();
    std::string code;  // soundex
    std::unique_ptr<RE2> re;

    Status compile(const std::string &pattern);
    bool test(std::string_view folded) const;
    void scan(const TableIndex &index, Budget &budget, std::vector<Hit> *out) const;
    void runLev(const TableIndex &index, Budget &budget, std::vector<Hit> *out) const;
};

Status Matcher::Impl::compile(const std::string &pattern) {
    if (pattern.size() > kMaxRegexBytes)
        return Status::fail(ZAVR_BAD_PATTERN, "a regular expression may be at most 1024 bytes long");
    std::string translated;
    Status s = posixToRe2(pattern, kind == Kind::Re, &translated);
    if (!s) return s;
    RE2::Options options;
    options.set_encoding(RE2::Options::EncodingUTF8);
    options.set_case_sensitive(false);
    options.set_never_capture(true);
    options.set_log_errors(false);
    options.set_max_mem(kMaxRegexMemory);
    re = std::make_unique<RE2>(translated, options);
    if (!re->ok()) return Status::fail(ZAVR_BAD_PATTERN, "the regular expression is refused: " + re->error());
    if (re->ProgramSize() > kMaxProgramSize)
        return Status::fail(ZAVR_BAD_PATTERN, "the regular expression is too large once compiled");
    return Status::ok();
}

Matcher::Matcher() : impl_(new Impl) {}
Matcher::~Matcher() { delete impl_; }

Status Matcher::prepare(const std::string &strategy, const std::string &pattern) {
    *impl_ = Impl();
    const Named *named = find(strategy);
    if (!named) return Status::fail(ZAVR_BAD_ARGUMENT, "no such strategy: " + strategy);
    if (!isUtf8(pattern)) return Status::fail(ZAVR_BAD_PATTERN, "the pattern is not UTF-8 text");
    Impl &m = *impl_;
    m.kind = named->kind;
    std::string_view text = pattern;
    if (m.kind == Kind::NPrefix && !parseRange(pattern, &m.skip, &m.count, &text)) text = pattern;
    if (m.kind == Kind::Re || m.kind == Kind::Regexp) {
        Status s = m.compile(pattern);
        if (!s) {
            m.re.reset();
            return s;
        }
    }
    m.folded = foldCase(text);
    m.code = soundex(m.folded);
    // An empty word is in every headword: only prefix, nprefix, lev and the
    // regular expressions take it.
    bool takesEmpty = m.kind == Kind::Prefix || m.kind == Kind::NPrefix || m.kind == Kind::Lev || m.re;
    m.none = m.folded.empty() && !takesEmpty;
    m.byFirst = m.kind == Kind::Exact || m.kind == Kind::Prefix || m.kind == Kind::NPrefix || m.kind == Kind::First ||
                m.kind == Kind::Soundex;
    m.ready = true;
    return Status::ok();
}

bool Matcher::Impl::test(std::string_view f) const {
    switch (kind) {
        case Kind::Exact: return f == folded;
        case Kind::Prefix:
        case Kind::NPrefix: return f.starts_with(folded);
        case Kind::Substring: return f.find(folded) != std::string_view::npos;
        case Kind::Suffix: return f.ends_with(folded);
        case Kind::Re:
        case Kind::Regexp: return RE2::PartialMatch(re2::StringPiece(f.data(), f.size()), *re);
        case Kind::Soundex:
            // The first character is in the code as it is: compare it first.
            return f.starts_with(std::string_view(code).substr(0, code.size() - 3)) && soundex(f) == code;
        case Kind::Word:
        case Kind::First:
        case Kind::Last: return wordMatch(f, folded, kind);
        case Kind::Lev: break;
    }
    return false;
}

// Every headword the test selects, in key order (nprefix: its range of
// them); when every answer starts with the pattern's first character, only
// the headwords that may.
void Matcher::Impl::scan(const TableIndex &index, Budget &budget, std::vector<Hit> *out) const {
    std::vector<Span> spans = {{0, index.size()}};
    if (byFirst && !folded.empty()) spans = spansFor(index, static_cast<unsigned char>(folded[0]));
    uint64_t skipped = 0, given = 0;
    for (const Span &span : spans) {
        for (size_t i = span.from; i < span.to && given < count; ++i) {
            if (budget.spent()) return;
            if (!test(index.folded(i))) continue;
            if (skipped < skip) {
                ++skipped;
                continue;
            }
            if (!budget.take(index.headword(i).size())) return;
            out->push_back(Hit{i});
            ++given;
        }
    }
}

// The headwords within one edit of the pattern, nearest first, then in key
// order; the budget's answers go to the nearest.
void Matcher::Impl::runLev(const TableIndex &index, Budget &budget, std::vector<Hit> *out) const {
    std::vector<Hit> near;
    for (size_t i = 0, n = index.size(); i < n; ++i) {
        if (budget.spent()) return;
        std::string_view f = index.folded(i);
        if (!nearEnough(f, folded)) continue;
        size_t d = editDistance(f, folded, 1);
        if (d <= 1) near.push_back(Hit{i, static_cast<uint32_t>(d)});
    }
    std::stable_sort(near.begin(), near.end(), [](const Hit &a, const Hit &b) { return a.distance < b.distance; });
    for (const Hit &h : near) {
        if (!budget.take(index.headword(h.entry).size())) return;
        out->push_back(h);
    }
}

void Matcher::run(const TableIndex &index, Budget &budget, std::vector<Hit> *out) const {
    if (!impl_->ready || impl_->none) return;
    if (impl_->kind == Kind::Lev)
        impl_->runLev(index, budget, out);
    else
        impl_->scan(index, budget, out);
}

}  // namespace zavreader
