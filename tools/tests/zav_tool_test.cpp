// Tests of the zav program: it is run as a user runs it, on the sample books,
// on imported word lists and on books damaged on purpose with the book
// writer, and its exit status and output are checked.
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tool_test_support.h"
#include "zav/book_writer.h"

namespace {

namespace fs = std::filesystem;
using namespace tooltest;

// Run zav with arguments; stdout and stderr are captured through files.
Result zav(const std::vector<std::string> &args) { return run(ZAV_PROGRAM, args); }

std::string sample(const std::string &name) { return std::string(ZAV_SAMPLES_DIR) + "/" + name; }
std::string testData(const std::string &name) { return std::string(ZAV_TEST_DATA) + "/" + name; }

std::string hex8(uint32_t v) {
    char b[16];
    std::snprintf(b, sizeof b, "0x%08X", v);
    return b;
}

// ---------------------------------------------------------------------------
// Sample books

TEST(Samples, EverySampleBookIsSound) {
    for (const char *book : {"glossary.zav", "lexicon.zav"}) {
        Result text = zav({"check", sample(book)});
        EXPECT_EQ(text.code, 0) << book << "\n" << text.all();
        EXPECT_NE(text.out.find("sound"), std::string::npos) << text.out;
        Result json = zav({"check", "--json", sample(book)});
        ASSERT_EQ(json.code, 0) << json.all();
        auto report = nlohmann::json::parse(json.out);
        EXPECT_TRUE(report["sound"].get<bool>());
        EXPECT_GT(report["keys"].get<uint64_t>(), 0u);
        EXPECT_GT(report["treeItems"].get<uint64_t>(), 0u);
    }
}

struct CommandCase {
    const char *name;
    std::vector<std::string> args;
    int code;
    std::string present;      // must appear in stdout + stderr
    std::string absent = "";  // must not appear
};

class SampleCommands : public ::testing::TestWithParam<CommandCase> {};

TEST_P(SampleCommands, ExitStatusAndOutput) {
    const CommandCase &c = GetParam();
    Result r = zav(c.args);
    EXPECT_EQ(r.code, c.code) << r.all();
    EXPECT_NE(r.all().find(c.present), std::string::npos) << r.all();
    if (!c.absent.empty()) {
        EXPECT_EQ(r.all().find(c.absent), std::string::npos) << r.all();
    }
}

const std::string G = sample("glossary.zav");
const std::string L = sample("lexicon.zav");

INSTANTIATE_TEST_SUITE_P(
    Tool, SampleCommands,
    ::testing::Values(
        CommandCase{"info_names_the_book", {"info", G}, 0, "A Little Glossary of Bookbinding"},
        CommandCase{"info_lists_shelf_levels", {"info", G}, 0, "level 1: value 2  [1] \"Crafts\""},
        // The code page 936 name, shown in UTF-8 ("装订小词典").
        CommandCase{"info_shows_cp936_names_as_utf8",
                    {"info", G},
                    0,
                    "[2] \"\xE8\xA3\x85\xE8\xAE\xA2\xE5\xB0\x8F\xE8\xAF\x8D\xE5\x85\xB8\""},
        CommandCase{"info_falls_back_for_missing_translation", {"info", L}, 0, "\"Synonyms\" (from language 1)"},
        CommandCase{"info_dictionary_table_line", {"info", L}, 0, "dictId 0x00010101  keys 16  pages 16  tree 12"},
        CommandCase{"keys_are_sorted_with_homographs",
                    {"keys", G, "--count", "3"},
                    0,
                    "0\tbinding@1\tpage 2\toffset 0\tattribute 0\n1\tbinding@2"},
        CommandCase{"keys_show_attribute",
                    {"keys", G, "--from", "10", "--count", "1"},
                    0,
                    "notes\tpage 1\toffset 0\tattribute 1"},
        CommandCase{"keys_from_a_word_in_any_case",
                    {"keys", G, "--from", "NOTES", "--count", "1"},
                    0,
                    "10\tnotes\tpage 1"},
        CommandCase{"lookup_finds_homograph_one", {"lookup", G, "binding"}, 0, "The covers and spine"},
        CommandCase{"lookup_finds_numbered_homograph", {"lookup", G, "BINDING@2"}, 0, "The craft of joining"},
        CommandCase{"lookup_second_table", {"lookup", G, "folder", "--table", "1"}, 0, "A smooth flat blade"},
        CommandCase{"lookup_missing_word_suggests", {"lookup", G, "bindery"}, 1, "perhaps you mean: binding", "covers"},
        CommandCase{"page_reads_file_page", {"page", G, "0"}, 0, "This little glossary explains"},
        CommandCase{"page_of_table", {"page", G, "2", "--table", "1"}, 0, "A blunt bookbinding needle"},
        CommandCase{"page_out_of_range", {"page", G, "999"}, 1, "does not exist"},
        CommandCase{"toc_skips_hidden_item", {"toc", G}, 0, "\u2514\u2500\u2500 Printing", "[hidden]"},
        CommandCase{"toc_all_shows_hidden_item", {"toc", G, "--all"}, 0, "[hidden]  [item 14, page 1]"},
        CommandCase{"toc_draws_nesting", {"toc", G, "--table", "1"}, 0, "\u2502   \u2514\u2500\u2500 Sewing frame"},
        CommandCase{"memo_of_a_page", {"subpage", G, "0", "127", "5"}, 0, "1890 edition"},
        CommandCase{"page_without_memo", {"subpage", G, "0", "127", "4"}, 1, "does not exist"},
        CommandCase{"lookup_in_dictionary_book", {"lookup", L, "harbour"}, 0, "A sheltered area of water"},
        CommandCase{"dictionary_homograph", {"lookup", L, "letter@2"}, 0, "A sign that stands for a sound"},
        CommandCase{"dictionary_second_table", {"lookup", L, "in print", "--table", "1"}, 0, "still printed"},
        CommandCase{"dictionary_sub_content", {"subpage", L, "0", "2", "1"}, 0, "shore, edge, side"},
        CommandCase{"dictionary_toc", {"toc", L}, 0, "\u2502   \u251C\u2500\u2500 island  [item 4, page 7]"},
        CommandCase{"spell_correct", {"spell", L, "correct", "gardn"}, 0, "garden"},
        CommandCase{"spell_verify_known", {"spell", L, "verify", "River"}, 0, "spelled correctly"},
        CommandCase{"spell_verify_unknown", {"spell", L, "verify", "rivver"}, 1, "not in the dictionary"},
        CommandCase{"spell_wildcard", {"spell", L, "wildcard", "l*y"}, 0, "library"},
        CommandCase{"spell_needs_capable_table", {"spell", L, "verify", "x", "--table", "1"}, 1, "not spell-capable"},
        CommandCase{"spell_needs_dictionary_book", {"spell", G, "verify", "x"}, 1, "needs a dictionary book"},
        CommandCase{"unknown_command", {"frobnicate"}, 2, "unknown command"},
        CommandCase{"missing_book", {"info", "/nonexistent/book.zav"}, 2, "cannot open"},
        CommandCase{"table_out_of_range", {"keys", G, "--table", "9"}, 2, "table 9 does not exist"},
        CommandCase{"bad_number", {"page", G, "x1"}, 2, "N must be a number"},
        CommandCase{"not_a_book", {"info", testData("weather.index")}, 2, "cannot open"},
        CommandCase{"help_of_a_command", {"check", "--help"}, 0, "usage: zav check BOOK"}),
    [](const ::testing::TestParamInfo<CommandCase> &p) { return std::string(p.param.name); });

// ---------------------------------------------------------------------------
// Damaged books: each kind of damage is reported, with the offset of the
// faulty value.

zav::BookDesc soundBook() {
    zav::BookDesc d;
    d.kind = 2;
    d.bookName = zav::StringListDesc{{1, "Damage"}};
    d.languages = std::vector<uint8_t>{1};
    for (int i = 0; i < 4; ++i) d.pages.push_back({"page " + std::to_string(i), {}});
    zav::TableDesc t;
    t.name = zav::StringListDesc{{1, "Table"}};
    t.pageList = {0, 1, 2, 3};
    const char *words[] = {"able", "bank@1", "bank@2", "cat"};
    for (uint32_t i = 0; i < 4; ++i) t.keys.push_back({words[i], i, 0, 0, 0});
    t.autoPageToKey = true;
    t.subs.push_back({7, zav::StringListDesc{{1, "Sub"}}});
    for (const char *caption : {"Contents", "A", "B", "C"}) {
        zav::VpItemDesc item;
        item.caption = zav::StringListDesc{{1, caption}};
        t.vpItems.push_back(item);
    }
    zav::linkTree(t.vpItems, {0, 1, 1, 1});
    for (uint32_t i = 1; i < 4; ++i) t.vpItems[i].pagePlusOne = i;
    t.pageToItem = {0, 2, 3, 4};
    d.tables.push_back(t);
    return d;
}

struct Damage {
    const char *name;
    std::function<void(zav::BookDesc &)> describe;      // change the description
    std::function<uint32_t(zav::WrittenBook &)> patch;  // damage the bytes; returns the offset to report (0: any)
    std::string expected;
};

class DamagedBooks : public ::testing::TestWithParam<Damage> {};

TEST_P(DamagedBooks, CheckReportsTheDamage) {
    const Damage &d = GetParam();
    zav::BookDesc desc = soundBook();
    if (d.describe) d.describe(desc);
    zav::WrittenBook book;
    std::string error;
    ASSERT_TRUE(zav::writeBook(desc, &book, &error)) << error;
    uint32_t offset = d.patch ? d.patch(book) : 0;
    std::string path = scratchPath(std::string(d.name) + ".zav");
    ASSERT_TRUE(zav::saveBook(book.bytes, path));
    Result r = zav({"check", path});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_NE(r.out.find(d.expected), std::string::npos) << r.out;
    if (offset) {
        EXPECT_NE(r.out.find(hex8(offset) + ": "), std::string::npos) << "offset " << hex8(offset) << "\n" << r.out;
    }
    // The tool that reads the book through the module survives it as well.
    for (auto args : std::vector<std::vector<std::string>>{
             {"info", path}, {"keys", path}, {"toc", path, "--all"}, {"toc", path}, {"lookup", path, "bank"}}) {
        Result other = zav(args);
        EXPECT_LT(other.code, 3) << args[0] << ": " << other.all();
    }
}

TEST(DamagedBooks, SoundBookPasses) {
    std::string path = scratchPath("sound.zav");
    ASSERT_TRUE(zav::saveBook(zav::writeBookOrDie(soundBook()).bytes, path));
    Result r = zav({"check", path});
    EXPECT_EQ(r.code, 0) << r.all();
}

TEST(DamagedBooks, JsonReportCarriesOffsets) {
    zav::WrittenBook book = zav::writeBookOrDie(soundBook());
    uint32_t at = book.layout.tables[0].pageToKeyOffset + 4;
    zav::patchU32(book.bytes, at, 99);
    std::string path = scratchPath("json.zav");
    ASSERT_TRUE(zav::saveBook(book.bytes, path));
    Result r = zav({"check", "--json", path});
    ASSERT_EQ(r.code, 1) << r.all();
    auto report = nlohmann::json::parse(r.out);
    EXPECT_FALSE(report["sound"].get<bool>());
    ASSERT_EQ(report["problems"].size(), 1u) << r.out;
    EXPECT_EQ(report["problems"][0]["offset"].get<uint32_t>(), at);
    EXPECT_EQ(report["problems"][0]["where"].get<std::string>(), "table 0");
}

uint32_t appendBytes(zav::WrittenBook &b, std::initializer_list<uint8_t> bytes) {
    uint32_t at = static_cast<uint32_t>(b.bytes.size());
    b.bytes.insert(b.bytes.end(), bytes);
    return at;
}

INSTANTIATE_TEST_SUITE_P(
    Check, DamagedBooks,
    ::testing::Values(
        Damage{"short_file", nullptr, [](zav::WrittenBook &b) { b.bytes.resize(100); return 0u; },
               "shorter than the 512-byte header"},
        Damage{"bad_magic", nullptr, [](zav::WrittenBook &b) { zav::patchU32(b.bytes, 0, 0x44454244); return 0u; },
               "not a book"},
        Damage{"bad_kind", nullptr, [](zav::WrittenBook &b) { zav::patchU32(b.bytes, 4, 3); return 4u; },
               "kind 3 is not 1, 2 or 4"},
        Damage{"header_offset_outside_file", nullptr,
               [](zav::WrittenBook &b) { zav::patchU32(b.bytes, 24, static_cast<uint32_t>(b.bytes.size()) + 1000); return 24u; },
               "the book name at"},
        Damage{"offset_beyond_2GiB", nullptr,
               [](zav::WrittenBook &b) { zav::patchU32(b.bytes, 44, 0x80000000u); return 44u; },
               "lies outside the file"},
        Damage{"table_count_overruns", nullptr,
               [](zav::WrittenBook &b) {
                   zav::patchU8(b.bytes, b.layout.tableDirOffset, 200);
                   return b.layout.tableDirOffset;
               },
               "200 table entries"},
        Damage{"key_count_overruns", [](zav::BookDesc &d) { d.tables[0].keyCountOverride = 0x01000000; },
               [](zav::WrittenBook &b) { return b.layout.tables[0].record + 24; }, "the key list of 16777216 entries"},
        Damage{"sub_count_overruns", [](zav::BookDesc &d) { d.tables[0].subCountOverride = 0x10000000; },
               [](zav::WrittenBook &b) { return b.layout.tables[0].record + 4; }, "the sub list of 268435456 entries"},
        Damage{"item_count_overruns", [](zav::BookDesc &d) { d.tables[0].vpCountOverride = 0x10000000; },
               [](zav::WrittenBook &b) { return b.layout.tables[0].record + 36; }, "the item list of 268435456 entries"},
        Damage{"keys_not_ascending",
               [](zav::BookDesc &d) {
                   d.tables[0].keepKeyOrder = true;
                   std::swap(d.tables[0].keys[0], d.tables[0].keys[3]);
               },
               [](zav::WrittenBook &b) { return b.layout.tables[0].keyListOffset + 4; }, "not ascending under the key collation"},
        Damage{"key_not_found_by_lookup",
               [](zav::BookDesc &d) {
                   d.tables[0].keepKeyOrder = true;
                   std::swap(d.tables[0].keys[0], d.tables[0].keys[3]);
               },
               nullptr, "is not found by a look-up through the module"},
        Damage{"key_record_outside_file", nullptr,
               [](zav::WrittenBook &b) {
                   uint32_t at = b.layout.tables[0].keyListOffset + 4;
                   zav::patchU32(b.bytes, at, static_cast<uint32_t>(b.bytes.size()) + 10);
                   return at;
               },
               "the key record at"},
        Damage{"key_page_out_of_range", nullptr,
               [](zav::WrittenBook &b) {
                   zav::patchU32(b.bytes, b.layout.tables[0].keyRecords[0], 77);
                   return b.layout.tables[0].keyRecords[0];
               },
               "leads to table page 77, but the table has 4 pages"},
        Damage{"key_offset_past_page", nullptr,
               [](zav::WrittenBook &b) {
                   zav::patchU32(b.bytes, b.layout.tables[0].keyRecords[1] + 4, 500);
                   return b.layout.tables[0].keyRecords[1] + 4;
               },
               "offset 500 lies past the end of table page 1"},
        Damage{"page_to_key_out_of_range", nullptr,
               [](zav::WrittenBook &b) {
                   uint32_t at = b.layout.tables[0].pageToKeyOffset + 8;
                   zav::patchU32(b.bytes, at, 99);
                   return at;
               },
               "table page 2 maps to key 99, but the table has 4 keys"},
        Damage{"page_to_item_out_of_range", nullptr,
               [](zav::WrittenBook &b) {
                   uint32_t at = b.layout.tables[0].pageToItemOffset + 4;
                   zav::patchU32(b.bytes, at, 50);
                   return at;
               },
               "table page 1 maps to item 50, but the tree has 4 items"},
        Damage{"page_list_names_missing_page", nullptr,
               [](zav::WrittenBook &b) {
                   uint32_t at = b.layout.tables[0].pageListOffset + 8;
                   zav::patchU32(b.bytes, at, 500);
                   return at;
               },
               "table page 2 names book page 500, but the book has 4 pages"},
        Damage{"page_data_runs_past_end", nullptr,
               [](zav::WrittenBook &b) {
                   zav::patchU32(b.bytes, b.layout.pageRecords[3], 0x00100000);
                   return b.layout.pageRecords[3];
               },
               "the page data of 1048576 bytes"},
        Damage{"string_list_runs_past_end", nullptr,
               [](zav::WrittenBook &b) {
                   uint32_t at = appendBytes(b, {3, 1, 200, 'a', 'b'});
                   zav::patchU32(b.bytes, 24, at);
                   return at + 1;
               },
               "entry 1 of 3 runs past the end of the file"},
        Damage{"tree_cycle", [](zav::BookDesc &d) { d.tables[0].vpItems[3].nextSibling = 2; },
               [](zav::WrittenBook &b) { return b.layout.tables[0].vpItems[3] + 8; }, "the tree links are cyclic"},
        Damage{"tree_previous_inconsistent", [](zav::BookDesc &d) { d.tables[0].vpItems[2].previous = 4; },
               [](zav::WrittenBook &b) { return b.layout.tables[0].vpItems[2] + 4; },
               "previous link is 4, but item 2 links to it"},
        Damage{"tree_link_out_of_range", [](zav::BookDesc &d) { d.tables[0].vpItems[1].firstChild = 99; },
               [](zav::WrittenBook &b) { return b.layout.tables[0].vpItems[1] + 12; }, "first child link to item 99"},
        Damage{"tree_item_unreachable", [](zav::BookDesc &d) { d.tables[0].vpItems[2].nextSibling = 0; },
               [](zav::WrittenBook &b) { return b.layout.tables[0].vpListOffset + 12; }, "not reachable from the root"},
        Damage{"caption_without_text", nullptr,
               [](zav::WrittenBook &b) {
                   uint32_t at = b.layout.tables[0].vpItems[2] + 16;
                   zav::patchU8(b.bytes, at, 0);
                   return at;
               },
               "the caption has no text"}),
    [](const ::testing::TestParamInfo<Damage> &p) { return std::string(p.param.name); });

TEST(DamagedBooks, HostWalkOfCyclicTreeEnds) {
    // Visible siblings that lead back to each other: a host walk that trusted
    // the links would never end.
    zav::BookDesc desc = soundBook();
    desc.tables[0].vpItems[3].nextSibling = 2;
    std::string path = scratchPath("cycle.zav");
    ASSERT_TRUE(zav::saveBook(zav::writeBookOrDie(desc).bytes, path));
    for (const char *mode : {"", "--all"}) {
        std::vector<std::string> args = {"toc", path};
        if (*mode) args.push_back(mode);
        Result r = zav(args);
        EXPECT_EQ(r.code, 2) << r.all();
        EXPECT_NE(r.out.find("(item 2 again: the tree links are cyclic)"), std::string::npos) << r.out;
    }
}

TEST(DamagedBooks, DictionaryBookWithoutItsDictionaries) {
    std::string dir = scratchPath("alone");
    fs::create_directories(dir);
    fs::copy_file(sample("lexicon.zav"), dir + "/lexicon.zav");
    Result r = zav({"check", dir + "/lexicon.zav"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.out.find("the dictionary engine serves no words for dictId 0x00010101"), std::string::npos) << r.out;
    Result lookup = zav({"lookup", dir + "/lexicon.zav", "river"});
    EXPECT_EQ(lookup.code, 2);
    EXPECT_NE(lookup.err.find("cannot open dictionary 0x00010101"), std::string::npos) << lookup.err;
}

TEST(Build, DictionaryFilesInChosenFolder) {
    std::string dir = scratchPath("dicts");
    fs::create_directories(dir + "/engine");
    spill(dir + "/d.json", R"({"kind": 1, "tables": [{"dictId": "0x00AB0101",
        "words": [{"word": "one", "text": "1", "subs": {"3": "three"}}, {"word": "two", "text": "2"}]}]})");
    Result r = zav({"build", dir + "/d.json", dir + "/d.zav", "--dict-dir", dir + "/engine"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_TRUE(fs::exists(dir + "/engine/00ab0101.zzd"));
    setenv("ZOZIZID_DICT_DIR", (dir + "/engine").c_str(), 1);
    Result check = zav({"check", dir + "/d.zav"});
    Result sub = zav({"subpage", dir + "/d.zav", "0", "3", "0"});
    unsetenv("ZOZIZID_DICT_DIR");
    EXPECT_EQ(check.code, 0) << check.all();
    EXPECT_NE(sub.out.find("three"), std::string::npos) << sub.all();
}

TEST(ImportTsv, ManyHeadwords) {
    // Enough entries for progress lines; every tenth headword is looked up.
    std::string tsv = scratchPath("many.tsv");
    std::string text;
    std::vector<std::string> words;
    uint32_t seed = 12345;
    for (int i = 0; i < 40000; ++i) {
        std::string w;
        for (int k = 0; k < 3 + i % 7; ++k) {
            seed = seed * 1103515245u + 12345u;
            w += static_cast<char>('a' + (seed >> 16) % 26);
        }
        words.push_back(w);
        text += w + "\tdefinition " + std::to_string(i) + "\n";
    }
    spill(tsv, text);
    std::string book = scratchPath("many.zav");
    Result r = zav({"import", "tsv", tsv, book});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_NE(r.err.find("of 40000 entries"), std::string::npos) << r.err;
    for (size_t i = 0; i < words.size(); i += 4000) {
        Result l = zav({"lookup", book, words[i]});
        EXPECT_EQ(l.code, 0) << words[i];
    }
    Result check = zav({"check", book});
    EXPECT_EQ(check.code, 0) << check.all();
}

// ---------------------------------------------------------------------------
// dictd import: every headword of the index is found with its definition.

struct IndexEntry {
    std::string word;
    std::string definition;
};

std::vector<IndexEntry> readIndex(const std::string &index, const std::string &dict) {
    static const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    auto decode = [&](const std::string &s) {
        uint64_t v = 0;
        for (char c : s) v = v * 64 + digits.find(c);
        return v;
    };
    std::string data = slurp(dict);
    std::vector<IndexEntry> out;
    std::istringstream lines(slurp(index));
    std::string line;
    while (std::getline(lines, line)) {
        if (line.rfind("00-database-", 0) == 0) continue;  // dictd's own entries are not headwords
        size_t t1 = line.find('\t'), t2 = line.find('\t', t1 + 1);
        out.push_back(
            {line.substr(0, t1), data.substr(decode(line.substr(t1 + 1, t2 - t1 - 1)), decode(line.substr(t2 + 1)))});
    }
    return out;
}

void expectEveryHeadwordFound(const std::string &book, const std::vector<IndexEntry> &entries) {
    for (const IndexEntry &e : entries) {
        Result r = zav({"lookup", book, e.word});
        EXPECT_EQ(r.code, 0) << e.word << ": " << r.all();
        EXPECT_EQ(r.out.rfind("found: ", 0), 0u) << r.out;
        // Duplicate headwords lead to one of their definitions.
        bool one = false;
        for (const IndexEntry &other : entries)
            if (other.word == e.word && r.out.find(other.definition) != std::string::npos) one = true;
        EXPECT_TRUE(one) << e.word << ": " << r.out;
    }
}

TEST(ImportDictd, PlainDataFile) {
    std::string book = scratchPath("weather.zav");
    Result r = zav({"import", "dictd", testData("weather.index"), book});
    ASSERT_EQ(r.code, 0) << r.all();
    Result check = zav({"check", book});
    EXPECT_EQ(check.code, 0) << check.all();
    Result info = zav({"info", book});
    EXPECT_NE(info.out.find("Weather Words: a small test dictionary"), std::string::npos) << info.out;
    auto entries = readIndex(testData("weather.index"), testData("weather.dict"));
    ASSERT_EQ(entries.size(), 26u);
    expectEveryHeadwordFound(book, entries);
}

TEST(ImportDictd, CompressedDataFile) {
    // A .dict.dz beside the index, made here with zlib.
    std::string stem = scratchPath("weatherz");
    spill(stem + ".index", slurp(testData("weather.index")));
    std::string data = slurp(testData("weather.dict"));
    gzFile gz = gzopen((stem + ".dict.dz").c_str(), "wb9");
    ASSERT_NE(gz, nullptr);
    ASSERT_EQ(gzwrite(gz, data.data(), static_cast<unsigned>(data.size())), static_cast<int>(data.size()));
    gzclose(gz);
    std::string book = scratchPath("weatherz.zav");
    Result r = zav({"import", "dictd", stem + ".index", book, "--quiet"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_TRUE(r.out.empty()) << r.out;
    EXPECT_EQ(zav({"check", book}).code, 0);
    expectEveryHeadwordFound(book, readIndex(testData("weather.index"), testData("weather.dict")));
}

TEST(ImportDictd, DefinitionOutsideDataFileNamesTheLine) {
    std::string stem = scratchPath("broken");
    std::string index = slurp(testData("weather.index"));
    index.insert(index.find('\n', index.find('\n') + 1) + 1, "storm\tBAAA\tZ\n");  // third line
    spill(stem + ".index", index);
    spill(stem + ".dict", slurp(testData("weather.dict")));
    Result r = zav({"import", "dictd", stem + ".index", scratchPath("broken.zav"), "--strict"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("broken.index:3: the definition"), std::string::npos) << r.err;
}

TEST(ImportDictd, MissingDataFile) {
    std::string stem = scratchPath("lonely");
    spill(stem + ".index", "word\tA\tB\n");
    Result r = zav({"import", "dictd", stem + ".index", scratchPath("lonely.zav")});
    EXPECT_EQ(r.code, 2);
    EXPECT_NE(r.err.find("no data file"), std::string::npos) << r.err;
}

// ---------------------------------------------------------------------------
// tsv import

TEST(ImportTsv, KeysSortedDuplicatesKeptEscapesDecoded) {
    std::string tsv = scratchPath("words.tsv");
    spill(tsv,
          "zebra\tStriped horse.\r\n"
          "bank@2\tMoney house.\n"
          "apple\tA fruit.\\nRound and sweet.\n"
          "\n"
          "bank@1\tRiver side.\n"
          "Apple\tThe same word, capitalised.\n");
    std::string book = scratchPath("words.zav");
    Result r = zav({"import", "tsv", tsv, book, "--name", "Words"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(zav({"check", book}).code, 0);
    // Keys equal under the collation in the order of their bytes (then of the lines).
    Result keys = zav({"keys", book});
    EXPECT_EQ(keys.out,
              "0\tApple\tpage 4\toffset 0\tattribute 0\n"
              "1\tapple\tpage 2\toffset 0\tattribute 0\n"
              "2\tbank@1\tpage 3\toffset 0\tattribute 0\n"
              "3\tbank@2\tpage 1\toffset 0\tattribute 0\n"
              "4\tzebra\tpage 0\toffset 0\tattribute 0\n");
    Result lookup = zav({"lookup", book, "bank"});
    EXPECT_EQ(lookup.code, 0);
    EXPECT_NE(lookup.out.find("River side."), std::string::npos) << lookup.out;
    Result page = zav({"page", book, "2", "--raw"});
    EXPECT_EQ(page.out, "A fruit.\nRound and sweet.");
    // apple and Apple are one word to a look-up, and each keeps its own entry.
    Result apple = zav({"lookup", book, "APPLE"});
    EXPECT_NE(apple.out.find("Round and sweet."), std::string::npos) << apple.out;
    EXPECT_NE(apple.out.find("The same word, capitalised."), std::string::npos) << apple.out;
    EXPECT_NE(zav({"info", book}).out.find("\"Words\""), std::string::npos);
}

TEST(ImportTsv, LineWithoutTabNamesTheLine) {
    std::string tsv = scratchPath("bad.tsv");
    spill(tsv, "good\tline\nno tab here\n");
    Result r = zav({"import", "tsv", tsv, scratchPath("bad.zav"), "--strict"});
    EXPECT_EQ(r.code, 1);
    EXPECT_NE(r.err.find("bad.tsv:2: expected WORD<TAB>DEFINITION"), std::string::npos) << r.err;
}

// ---------------------------------------------------------------------------
// Manifest errors name the line.

struct ManifestCase {
    const char *name;
    std::string manifest;
    std::string expected;  // "m.json:LINE: ..." part of the message
};

class ManifestErrors : public ::testing::TestWithParam<ManifestCase> {};

TEST_P(ManifestErrors, MessageNamesTheLine) {
    const ManifestCase &c = GetParam();
    std::string path = scratchPath(std::string(c.name) + ".json");
    spill(path, c.manifest);
    Result r = zav({"build", path, scratchPath(std::string(c.name) + ".zav")});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_NE(r.err.find(std::string(c.name) + ".json:" + c.expected), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Build, ManifestErrors,
    ::testing::Values(
        ManifestCase{"syntax", "{\n  \"kind\": 2,\n  \"tables\": [\n    {\"name\": \"x\",,}\n  ]\n}\n",
                     "4: syntax error"},
        ManifestCase{"unknown_field", "{\n  \"kind\": 2,\n  \"nmae\": \"x\"\n}\n", "3: /nmae: unknown field \"nmae\""},
        ManifestCase{"bad_kind", "{\n  \"kind\": 3\n}\n", "2: /kind: kind must be 1, 2 or 4"},
        ManifestCase{"bad_language", "{\n  \"name\": {\n    \"1\": \"a\",\n    \"7\": \"b\"\n  }\n}\n",
                     "4: /name/7: \"7\" is not a language code"},
        ManifestCase{"key_page_out_of_range",
                     "{\"tables\": [{\n  \"pages\": [\"one\"],\n  \"keys\": [\n    {\"text\": \"a\", \"page\": 0},\n"
                     "    {\"text\": \"b\",\n     \"page\": 5}\n  ]\n}]}\n",
                     "6: /tables/0/keys/1/page: the number 5 is out of range"},
        ManifestCase{
            "toc_word_unknown",
            "{\"tables\": [{\n  \"entries\": [{\"keys\": [\"a\"], \"text\": \"x\"}],\n"
            "  \"toc\": [{\"caption\": \"root\",\n    \"children\": [{\"caption\": \"c\", \"page\": \"zz\"}]}]\n}]}\n",
            "4: /tables/0/toc/0/children/0/page: no key \"zz\""},
        ManifestCase{"missing_page_file",
                     "{\"tables\": [{\n  \"pages\": [\n    {\"file\": \"nothere.txt\"}\n  ]\n}]}\n",
                     "3: /tables/0/pages/0/file: "},
        ManifestCase{"name_too_long", "{\n  \"name\": \"" + std::string(300, 'x') + "\"\n}\n",
                     "2: /name: the text is 300 bytes; at most 255"},
        ManifestCase{"dictionary_without_dict_id",
                     "{\n  \"kind\": 1,\n  \"tables\": [\n    {\"name\": \"t\"}\n  ]\n}\n",
                     "4: /tables/0: a dictionary table needs a \"dictId\""},
        ManifestCase{"links_need_kind_4",
                     "{\"tables\": [{\"pages\": [\n  {\"text\": \"p\",\n   \"links\": [1]}\n]}]}\n",
                     "3: /tables/0/pages/0/links: only books of kind 4"}),
    [](const ::testing::TestParamInfo<ManifestCase> &p) { return std::string(p.param.name); });

TEST(Build, ManifestBookReadsBack) {
    std::string dir = scratchPath("built");
    fs::create_directories(dir);
    spill(dir + "/page.txt", "from a file");
    spill(dir + "/m.json", R"({
      "kind": 4, "name": {"1": "Built", "2": {"hex": "b0a1"}}, "languages": [1, 2],
      "tables": [{"name": "T",
        "pages": [{"file": "page.txt", "links": [7, 8]}],
        "entries": [{"keys": ["x@1", "x@2"], "text": "entry x"}],
        "memos": [{"page": "x", "text": "a memo"}],
        "toc": [{"caption": "root", "children": [{"hidden": true}, {"caption": "X", "page": "x@2"}]}]}]})");
    Result r = zav({"build", dir + "/m.json", dir + "/out.zav"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_EQ(zav({"check", dir + "/out.zav"}).code, 0);
    EXPECT_EQ(zav({"page", dir + "/out.zav", "0", "--raw"}).out, "from a file");
    EXPECT_NE(zav({"lookup", dir + "/out.zav", "x"}).out.find("entry x"), std::string::npos);
    EXPECT_NE(zav({"subpage", dir + "/out.zav", "0", "127", "1"}).out.find("a memo"), std::string::npos);
    EXPECT_EQ(zav({"toc", dir + "/out.zav"}).out, "root  [item 1]\n\u2514\u2500\u2500 X  [item 3, page 1]\n");
    // Building again without memos removes the stale sidecar.
    spill(dir + "/n.json", R"({"tables": [{"pages": ["p"]}]})");
    ASSERT_EQ(zav({"build", dir + "/n.json", dir + "/out.zav"}).code, 0);
    EXPECT_FALSE(fs::exists(dir + "/out.zav.memo"));
}

}  // namespace
