// The match strategies over a small index in key order: what each selects,
// in any letter case and with letters of several bytes, the regular
// expressions' syntax and bounds, and a run stopped by its budget.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "match.h"

namespace zavreader {
namespace {

// In key order: ASCII letters in either case together, then the headwords
// that start with a character outside ASCII, by its bytes.
const std::vector<std::string> kWords = {
    "*a$b",      "a(b)",         "a+b",           "ab",        "abbc",  "abc",  "ac",    "Apfel",
    "apfelbaum", "cat",          "Cat and Mouse", "catalogue", "coat",  "cut",  "scat",  "Straße",
    "Tom Cat",   "Tom\u00A0Cat", "Äpfel",         "Ärgernis",  "ärger", "übel", "σοφός", "\u212Aelvin",
};

TableIndex indexOf(const std::vector<std::string> &words) {
    TableIndex index;
    for (size_t i = 0; i < words.size(); ++i) index.add(static_cast<uint32_t>(i), words[i]);
    index.seal();
    return index;
}

// The headwords selected, each with ":distance" for lev.
std::vector<std::string> match(const std::string &strategy, const std::string &pattern, Status *status = nullptr) {
    static const TableIndex index = indexOf(kWords);
    Matcher m;
    Status s = m.prepare(strategy, pattern);
    if (status) *status = s;
    std::vector<Hit> hits;
    Budget budget;
    m.run(index, budget, &hits);
    std::vector<std::string> out;
    for (const Hit &h : hits)
        out.push_back(std::string(index.headword(h.entry)) +
                      (strategy == "lev" ? ":" + std::to_string(h.distance) : std::string()));
    return out;
}

struct Case {
    const char *why, *strategy, *pattern;
    std::vector<std::string> want;
};

TEST(Match, EachStrategySelectsWhatItShould) {
    const Case cases[] = {
        {"exact, any case", "exact", "CAT", {"cat"}},
        {"exact, a letter of two bytes in upper case", "exact", "ÄRGER", {"ärger"}},
        {"exact, Greek capitals and final sigma", "exact", "ΣΟΦΌΣ", {"σοφός"}},
        {"prefix keeps accents apart", "prefix", "APF", {"Apfel", "apfelbaum"}},
        {"prefix of two bytes", "prefix", "äRG", {"Ärgernis", "ärger"}},
        {"prefix: a sign that folds to an ASCII letter", "prefix", "KEL", {"\u212Aelvin"}},
        {"empty prefix: every headword", "prefix", "", kWords},
        {"substring",
         "substring",
         "AT",
         {"cat", "Cat and Mouse", "catalogue", "coat", "scat", "Tom Cat", "Tom\u00A0Cat"}},
        {"empty substring: none", "substring", "", {}},
        {"suffix", "suffix", "cat", {"cat", "scat", "Tom Cat", "Tom\u00A0Cat"}},
        {"word: whole words only, any white space", "word", "cat", {"cat", "Cat and Mouse", "Tom Cat", "Tom\u00A0Cat"}},
        {"word: a run of words", "word", "and mouse", {"Cat and Mouse"}},
        {"word: not a part of one", "word", "at", {}},
        {"first", "first", "CAT", {"cat", "Cat and Mouse"}},
        {"last", "last", "cat", {"cat", "Tom Cat", "Tom\u00A0Cat"}},
        {"soundex, first letter kept", "soundex", "cot", {"cat", "coat", "cut"}},
        {"soundex, first letter of two bytes", "soundex", "ÜBLE", {"übel"}},
        {"soundex: s then c is one sound", "soundex", "scout", {"scat"}},
        {"lev: nearest first, then key order", "lev", "cat", {"cat:0", "coat:1", "cut:1", "scat:1"}},
        {"lev: a letter of two bytes is one edit", "lev", "arger", {"ärger:1"}},
        {"lev: swapped neighbours are one edit", "lev", "acb", {"a+b:1", "ab:1", "abc:1", "ac:1"}},
        {"nprefix: skip 1, give 2", "nprefix", "1#2#a", {"a+b", "ab"}},
        {"nprefix: count 0", "nprefix", "0#0#a", {}},
        {"nprefix: skip past the end", "nprefix", "99999999999999999999#5#a", {}},
        {"nprefix: no range is a plain prefix", "nprefix", "APFEL", {"Apfel", "apfelbaum"}},
        {"nprefix: a malformed range is a prefix", "nprefix", "#2#a", {}},
        {"re: any case, letters of two bytes", "re", "^ä", {"Äpfel", "Ärgernis", "ärger"}},
        {"re: [[:alpha:]] takes letters of any script", "re", "^[[:alpha:]]rger$", {"ärger"}},
        {"re: . is a character, not a byte", "re", "^.bel$", {"übel"}},
        {"re: + repeats", "re", "^ab+c$", {"abbc", "abc"}},
        {"re: {,n} is {0,n}", "re", "^ab{,1}c$", {"abc", "ac"}},
        {"re: b+? is (b+)?, not a lazy b+", "re", "^ab+?c$", {"abbc", "abc", "ac"}},
        {"re: a** is (a*)*", "re", "^ab**$", {"ab"}},
        {"re: a lone ) is a literal", "re", "b)$", {"a(b)"}},
        {"re: \\w takes letters of any script",
         "re",
         "^\\w+$",
         {"ab", "abbc", "abc", "ac", "Apfel", "apfelbaum", "cat", "catalogue", "coat", "cut", "scat", "Straße", "Äpfel",
          "Ärgernis", "ärger", "übel", "σοφός", "\u212Aelvin"}},
        {"regexp: + is a literal", "regexp", "^a+b$", {"a+b"}},
        {"regexp: ( ) are literals", "regexp", "^a(b)$", {"a(b)"}},
        {"regexp: \\( \\) group, \\{ \\} repeat", "regexp", "^a\\(b\\)\\{2\\}c$", {"abbc"}},
        {"regexp: \\+ and \\| as GNU grep", "regexp", "^a\\(b\\+\\|c\\)$", {"ab", "ac"}},
        {"regexp: * after ^ and $ inside are literals", "regexp", "^*a$b$", {"*a$b"}},
    };
    for (const Case &c : cases) {
        Status s;
        EXPECT_EQ(match(c.strategy, c.pattern, &s), c.want) << c.why;
        EXPECT_TRUE(s.good()) << c.why << ": " << s.reason;
    }
}

TEST(Match, RefusesPatternsAndStrategies) {
    const std::string longPattern(1025, 'a');
    const struct {
        const char *why, *strategy;
        std::string pattern;
        int32_t code;
    } cases[] = {
        {"unknown strategy", "fuzzy", "cat", ZAVR_BAD_ARGUMENT},
        {"not UTF-8", "exact", "caf\xE9", ZAVR_BAD_PATTERN},
        {"basic back reference", "regexp", "^\\(.\\).*\\1$", ZAVR_BAD_PATTERN},
        {"extended back reference", "re", "(a)\\1", ZAVR_BAD_PATTERN},
        {"unclosed bracket", "re", "[abc", ZAVR_BAD_PATTERN},
        {"unclosed group", "re", "(ab", ZAVR_BAD_PATTERN},
        {"unclosed basic group", "regexp", "\\(ab", ZAVR_BAD_PATTERN},
        {"unknown class", "re", "[[:vowel:]]", ZAVR_BAD_PATTERN},
        {"repeat count over 1000", "re", "a{1001}", ZAVR_BAD_PATTERN},
        {"over 1 KB", "re", longPattern, ZAVR_BAD_PATTERN},
        {"too large once compiled", "re", "(((a{100}){100}){100})", ZAVR_BAD_PATTERN},
        {"too large a program", "re", "[[:alpha:]]{100}", ZAVR_BAD_PATTERN},
        {"trailing backslash", "re", "ab\\", ZAVR_BAD_PATTERN},
    };
    for (const auto &c : cases) {
        Matcher m;
        Status s = m.prepare(c.strategy, c.pattern);
        EXPECT_EQ(s.code, c.code) << c.why;
        EXPECT_FALSE(s.reason.empty()) << c.why;
        // A refused matcher selects nothing.
        std::vector<Hit> hits;
        Budget budget;
        m.run(indexOf(kWords), budget, &hits);
        EXPECT_TRUE(hits.empty()) << c.why;
    }
}

// The budget: answers stop at the limit (lev keeps the nearest), a cancel
// flag or a deadline stops a run over a large index.
TEST(Match, BudgetStopsARun) {
    ZAVReaderLimits limits{sizeof(ZAVReaderLimits), 1, 0, 0, nullptr};
    Budget one(&limits);
    Matcher lev;
    ASSERT_TRUE(lev.prepare("lev", "cut").good());
    std::vector<Hit> hits;
    TableIndex small = indexOf(kWords);
    lev.run(small, one, &hits);
    ASSERT_EQ(hits.size(), 1u);
    EXPECT_EQ(small.headword(hits[0].entry), "cut");
    EXPECT_EQ(one.status().code, ZAVR_LIMIT);

    TableIndex large;
    for (uint32_t i = 0; i < 30000; ++i) large.add(i, "word number " + std::to_string(i));
    Matcher re;
    ASSERT_TRUE(re.prepare("re", "(n|u)+m.*[[:digit:]]{2}").good());

    volatile int cancel = 1;
    limits = {sizeof(ZAVReaderLimits), 0, 0, 0, &cancel};
    Budget cancelled(&limits);
    hits.clear();
    re.run(large, cancelled, &hits);
    EXPECT_TRUE(hits.empty());
    EXPECT_EQ(cancelled.status().code, ZAVR_CANCELLED);

    limits = {sizeof(ZAVReaderLimits), 0, 0, 1, nullptr};
    Budget timed(&limits);
    hits.clear();
    auto start = std::chrono::steady_clock::now();
    re.run(large, timed, &hits);
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
    EXPECT_EQ(timed.status().code, ZAVR_TIME_OUT);
    EXPECT_LT(hits.size(), large.size());
    EXPECT_LT(ms, 100);
}

}  // namespace
}  // namespace zavreader
