// A worker's open books: definitions and matches for `zav serve`.
#include <locale.h>
#include <regex.h>

#include <set>

#include "book_host.h"
#include "cli.h"
#include "entries.h"
#include "serve_books.h"

namespace zavtool {

namespace {

// Regular expressions are refused when they could cost more than a command
// may: back references (exponential matching) and nested or large repeat
// counts (each copy of the repeated part is compiled out).
constexpr uint64_t kMaxRepeatProduct = 1000;
// A match line holds the database name, the word and at least a space, two
// quotes and CRLF.
constexpr size_t kMinMatchLineBytes = 5;
// A definition's 151 line and line ends, counted against the answer's budget
// before the protocol counts them exactly.
constexpr size_t kDefinitionLineBytes = 64;

bool tameExpression(const std::string &pattern, std::string *error) {
    uint64_t product = 1;
    for (size_t i = 0; i < pattern.size(); ++i) {
        if (pattern[i] == '\\' && i + 1 < pattern.size()) {
            if (pattern[i + 1] >= '1' && pattern[i + 1] <= '9') {
                *error = "back references are not supported";
                return false;
            }
            ++i;
        } else if (pattern[i] == '{') {
            uint64_t bound = 0;
            size_t j = i + 1;
            for (; j < pattern.size() && pattern[j] != '}'; ++j)
                if (pattern[j] >= '0' && pattern[j] <= '9')
                    bound = std::min<uint64_t>(bound * 10 + (pattern[j] - '0'), kMaxRepeatProduct + 1);
            product *= std::max<uint64_t>(bound, 1) + 1;
            if (product > kMaxRepeatProduct) {
                *error = "repeat counts too large";
                return false;
            }
            i = j;
        }
    }
    return true;
}

// A compiled expression, matched under a UTF-8 character set so that "."
// and bracket expressions take whole characters. The thread's locale is
// switched only around the calls of the regex library.
class Expression {
public:
    bool compile(const std::string &pattern, std::string *error) {
        if (!tameExpression(pattern, error)) return false;
        locale_ = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        Scope scope(locale_);
        int rc = regcomp(&regex_, pattern.c_str(), REG_EXTENDED | REG_ICASE | REG_NOSUB);
        if (rc != 0) {
            char message[128];
            regerror(rc, &regex_, message, sizeof message);
            *error = message;
            return false;
        }
        compiled_ = true;
        return true;
    }
    bool matches(const std::string &text) const {
        Scope scope(locale_);
        return regexec(&regex_, text.c_str(), 0, nullptr, 0) == 0;
    }
    Expression() = default;
    ~Expression() {
        if (compiled_) regfree(&regex_);
        if (locale_) freelocale(locale_);
    }
    Expression(const Expression &) = delete;
    Expression &operator=(const Expression &) = delete;

private:
    struct Scope {
        explicit Scope(locale_t l) : old(l ? uselocale(l) : static_cast<locale_t>(0)) {}
        ~Scope() {
            if (old) uselocale(old);
        }
        locale_t old;
    };
    locale_t locale_ = static_cast<locale_t>(0);  // none: the thread's own
    regex_t regex_{};
    bool compiled_ = false;
};

bool endsWith(const std::string &text, const std::string &end) {
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// Collects distinct words (letter case ignored) up to a byte budget.
class WordList {
public:
    WordList(Matches *out, size_t budget, size_t lineBytes) : out_(out), budget_(budget), lineBytes_(lineBytes) {}
    bool add(const std::string &word) {
        if (out_->cut) return false;
        if (!seen_.insert(foldCase(word)).second) return true;
        used_ += word.size() + lineBytes_;
        if (used_ > budget_) {
            out_->cut = true;
            return false;
        }
        out_->words.push_back(word);
        return true;
    }

private:
    Matches *out_;
    size_t budget_, lineBytes_, used_ = 0;
    std::set<std::string> seen_;
};

}  // namespace

struct Shelf::Impl {
    std::vector<std::unique_ptr<HostBook>> books;
};

Shelf::Shelf(const Catalog &catalog) : catalog_(catalog), impl_(new Impl) {
    for (const Database &db : catalog.databases) {
        auto book = std::make_unique<HostBook>();
        std::string error;
        if (book->open(db.path, &error) != 0) book.reset();
        impl_->books.push_back(std::move(book));
    }
}

Shelf::~Shelf() = default;

Definitions Shelf::define(size_t db, const std::string &word, size_t budget) {
    Definitions out;
    const HostBook *book = db < impl_->books.size() ? impl_->books[db].get() : nullptr;
    if (!book) return out;
    size_t used = 0;
    for (const TableWords &table : catalog_.databases[db].tables) {
        for (const std::string &query : wordForms(word, table.language)) {
            Lookup found = lookupEntries(*book, table.table, query);
            for (const Entry &entry : found.entries) {
                Definition d{textToUtf8(headwordOf(entry.key), table.language),
                             textToUtf8(escapeContent(entry.text), table.language)};
                used += d.headword.size() + d.text.size() + kDefinitionLineBytes;
                if (used > budget) {
                    out.cut = true;
                    return out;
                }
                out.items.push_back(std::move(d));
            }
            if (!found.entries.empty()) break;
        }
    }
    return out;
}

bool Shelf::match(size_t db, const std::string &strategy, const std::string &word, size_t budget, Matches *out,
                  std::string *error) {
    const HostBook *book = db < impl_->books.size() ? impl_->books[db].get() : nullptr;
    if (!book) return true;
    Expression expression;
    if (strategy == "re" && !expression.compile(word, error)) return false;
    WordList list(out, budget, catalog_.databases[db].name.size() + kMinMatchLineBytes);
    const std::string folded = foldCase(word);
    for (const TableWords &table : catalog_.databases[db].tables) {
        if (strategy == "exact" || strategy == "prefix") {
            for (const std::string &query : wordForms(word, table.language)) {
                std::vector<std::string> keys;
                if (strategy == "exact") {
                    for (const Entry &entry : lookupEntries(*book, table.table, query, true).entries)
                        keys.push_back(headwordOf(entry.key));
                } else {
                    keys = prefixKeys(*book, table.table, query, budget / (kMinMatchLineBytes + 1) + 1).keys;
                }
                for (const std::string &key : keys)
                    if (!list.add(textToUtf8(headwordOf(key), table.language))) return true;
            }
            continue;
        }
        for (size_t i = 0; i < table.headwords.size(); ++i) {
            const std::string &f = table.folded[i];
            bool hit = strategy == "lev"      ? editDistance(f, folded, 1) <= 1
                       : strategy == "suffix" ? endsWith(f, folded)
                                              : expression.matches(table.headwords[i]);
            if (hit && !list.add(table.headwords[i])) return true;
        }
    }
    return true;
}

}  // namespace zavtool
