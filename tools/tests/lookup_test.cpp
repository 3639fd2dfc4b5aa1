// Tests of zav lookup as a reader uses it: every entry of a word, any case,
// suggestions on a miss, prefix search, JSON, words from standard input, and
// the exit status of each outcome, damaged books included.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tool_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace tooltest;

// Run zav with arguments and `input` on its standard input.
Result zav(const std::vector<std::string> &args, const std::string &input = "") {
    return run(ZAV_PROGRAM, args, input);
}

size_t count(const std::string &text, const std::string &what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

// A UTF-8 word list imported as a user does: repeated headwords, a shared
// definition, homographs, capitals outside ASCII, and enough words around
// "receive" for suggestions to matter.
const std::string &wordBook() {
    static const std::string path = [] {
        std::string list =
            "über\tover, above\n"
            "über\tabout (a subject)\n"
            "Über\tthe over-self\n"
            "Äpfel\tapples\n"
            "École\tschool\n"
            "Σοφία\twisdom\n"
            "Москва\tMoscow\n"
            "bank\tthe side of a river\n"
            "bank@1\ta house of money\n"
            "bank@2\tto tilt in a turn\n"
            "color\tthe hue of a thing\n"
            "colour\tthe hue of a thing\n"
            "color\tthe hue of a thing\n"
            "receive\tto be given\n"
            "recede\tto go back\n"
            "recipe\ta way to cook\n"
            "rabbi\ta teacher\n"
            "zebra\ta striped horse\n"
            "tame\tsee tame\n"
            "εξημερωμένος\tsee tame\n"
            "pupil\tpupil\n"
            "ÉLÈVE\tpupil\n"
            "Élève\tpupil\n";
        std::string tsv = scratch() + "/words.tsv", book = scratch() + "/words.zav";
        spill(tsv, list);
        Result r = zav({"import", "tsv", tsv, book, "--quiet"});
        EXPECT_EQ(r.code, 0) << r.err;
        return book;
    }();
    return path;
}

struct LookupCase {
    const char *name;
    std::string word;
    int code;
    size_t entries;  // "--- " lines
    std::vector<std::string> present;
    std::vector<std::string> absent;
};

class Lookups : public ::testing::TestWithParam<LookupCase> {};

TEST_P(Lookups, EntriesAndExitStatus) {
    const LookupCase &c = GetParam();
    Result r = zav({"lookup", wordBook(), c.word});
    EXPECT_EQ(r.code, c.code) << r.out << r.err;
    EXPECT_EQ(count(r.out, "\n--- "), c.entries) << r.out;
    for (const auto &p : c.present) EXPECT_NE(r.out.find(p), std::string::npos) << p << "\n" << r.out;
    for (const auto &a : c.absent) EXPECT_EQ(r.out.find(a), std::string::npos) << a << "\n" << r.out;
}

INSTANTIATE_TEST_SUITE_P(
    Tool, Lookups,
    ::testing::Values(
        LookupCase{"repeated_headwords_and_their_capital", "über", 0, 3, {"over, above", "about", "over-self"}, {}},
        LookupCase{"capital_outside_ascii", "ÜBER", 0, 3, {"over, above", "over-self"}, {}},
        LookupCase{"lower_case_finds_capitalised_headword", "äpfel", 0, 1, {"--- Äpfel", "apples"}, {}},
        LookupCase{"all_capitals", "ÄPFEL", 0, 1, {"apples"}, {}},
        LookupCase{"decomposed_accent",
                   "e\xCC\x81"
                   "cole",
                   0,
                   1,
                   {"school"},
                   {}},
        LookupCase{"greek", "ΣΟΦΊΑ", 0, 1, {"wisdom"}, {}}, LookupCase{"cyrillic", "москва", 0, 1, {"Moscow"}, {}},
        LookupCase{"homographs", "Bank", 0, 3, {"river", "money", "tilt"}, {}},
        LookupCase{"one_homograph", "bank@2", 0, 1, {"tilt"}, {"river"}},
        LookupCase{"one_page_once", "color", 0, 1, {"hue"}, {}},
        // A fold key on a definition that other headwords share still leads
        // back to the headword it was made for.
        LookupCase{
            "shared_definition_shows_stored_headword", "ΕΞΗΜΕΡΩΜΈΝΟΣ", 0, 1, {"--- εξημερωμένος "}, {"εξημερωμένοσ"}},
        LookupCase{
            "fold_as_typed_shows_each_stored_headword", "élève", 0, 2, {"--- ÉLÈVE ", "--- Élève "}, {"--- élève"}},
        LookupCase{"miss_suggests_and_shows_no_entry",
                   "recieve",
                   1,
                   0,
                   {"perhaps you mean: receive"},
                   {"to be given", "a teacher"}},
        LookupCase{"miss_between_keys_shows_no_neighbour_entry",
                   "qwzxv",
                   1,
                   0,
                   {"perhaps you mean:", "rabbi"},
                   {"a teacher"}}),
    [](const auto &param) { return std::string(param.param.name); });

TEST(Lookup, FirstKeepsOneAnswer) {
    Result r = zav({"lookup", wordBook(), "über", "--first"});
    EXPECT_EQ(r.code, 0);
    EXPECT_EQ(count(r.out, "\n--- "), 1u) << r.out;
}

TEST(Lookup, PrefixListsEachHeadwordOnceInAnyCase) {
    Result r = zav({"lookup", wordBook(), "ÜB", "--prefix"});
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_EQ(r.out, "Über\nüber\n");
    Result none = zav({"lookup", wordBook(), "xy", "--prefix"});
    EXPECT_EQ(none.code, 1);
    Result two = zav({"lookup", wordBook(), "rec", "--prefix", "--count", "2"});
    EXPECT_EQ(two.out, "recede\nreceive\n");
}

TEST(Lookup, JsonHitMissAndLines) {
    Result hit = zav({"lookup", wordBook(), "bank", "--json"});
    ASSERT_EQ(hit.code, 0) << hit.err;
    auto j = nlohmann::json::parse(hit.out);
    EXPECT_EQ(j["query"], "bank");
    EXPECT_TRUE(j["found"].get<bool>());
    ASSERT_EQ(j["entries"].size(), 3u);
    for (const char *field : {"key", "keyIndex", "page", "text"}) EXPECT_TRUE(j["entries"][0].contains(field)) << field;
    // The entry a host's look-up leads to comes first, then the others in
    // key order.
    std::vector<std::string> keys;
    for (const auto &e : j["entries"]) keys.push_back(e["key"]);
    std::vector<std::string> rest(keys.begin() + 1, keys.end());
    EXPECT_TRUE(std::is_sorted(rest.begin(), rest.end()));
    std::sort(keys.begin(), keys.end());
    EXPECT_EQ(keys, (std::vector<std::string>{"bank", "bank@1", "bank@2"}));
    EXPECT_TRUE(j["suggestions"].empty());

    Result lines = zav({"lookup", wordBook(), "-", "--json"}, "recieve\n\nzebra\r\n");
    EXPECT_EQ(lines.code, 1) << "one word of two is missing";
    std::istringstream in(lines.out);
    std::vector<nlohmann::json> answers;
    for (std::string line; std::getline(in, line);) answers.push_back(nlohmann::json::parse(line));
    ASSERT_EQ(answers.size(), 2u) << lines.out;
    EXPECT_FALSE(answers[0]["found"].get<bool>());
    EXPECT_TRUE(answers[0]["entries"].empty());
    EXPECT_EQ(answers[0]["suggestions"][0], "receive");
    EXPECT_EQ(answers[1]["entries"][0]["text"], "a striped horse");
    EXPECT_EQ(zav({"lookup", wordBook(), "-"}, "zebra\nbank\n").code, 0);
}

TEST(Lookup, ExitStatusOfFailures) {
    std::string cut = scratch() + "/cut.zav";
    std::string whole = slurp(wordBook());
    // Cut where the keys are whole and the page directory is gone.
    spill(cut, whole.substr(0, whole.size() * 3 / 4));
    std::string notBook = scratch() + "/words.tsv";
    struct {
        std::vector<std::string> args;
        int code;
        std::string message;
    } cases[] = {
        {{"lookup", cut, "zebra"}, 2, "cannot be read"},
        {{"info", cut}, 2, "damaged"},
        {{"lookup", notBook, "zebra"}, 2, "cannot open"},
        {{"lookup", scratch() + "/none.zav", "zebra"}, 2, "cannot open"},
        {{"lookup", wordBook()}, 2, "expected BOOK and WORD"},
        {{"lookup", wordBook(), "x", "--count", "z"}, 2, "--count"},
        {{"info", wordBook()}, 0, "keys"},
        {{"--version"}, 0, "zav "},
    };
    for (const auto &c : cases) {
        Result r = zav(c.args);
        EXPECT_EQ(r.code, c.code) << c.args[0] << " " << c.args.back() << "\n" << r.out << r.err;
        EXPECT_NE((r.out + r.err).find(c.message), std::string::npos) << r.out << r.err;
        EXPECT_EQ(r.out.find("found:"), std::string::npos) << "a cut book must not answer";
    }
}

TEST(Lookup, JsonOfKeysInfoAndToc) {
    auto keys = nlohmann::json::parse(zav({"keys", wordBook(), "--json", "--count", "2"}).out);
    EXPECT_EQ(keys["keys"].size(), 2u);
    EXPECT_GT(keys["keyCount"].get<int>(), 2);
    auto info = nlohmann::json::parse(zav({"info", wordBook(), "--json"}).out);
    EXPECT_FALSE(info["damaged"].get<bool>());
    EXPECT_EQ(info["tables"][0]["keys"], keys["keyCount"]);
    auto toc = nlohmann::json::parse(zav({"toc", wordBook(), "--json"}).out);
    EXPECT_TRUE(toc["items"].empty());
}

}  // namespace
