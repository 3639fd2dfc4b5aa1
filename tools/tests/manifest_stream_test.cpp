// zav build reads a manifest as it goes: the words of dictionary tables are
// taken one at a time, whatever the order of the fields around them, and
// errors still name the line; a field given twice in an object is refused.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tool_test_support.h"

using namespace tooltest;

namespace {

Result zav(const std::vector<std::string> &args) { return run(ZAV_PROGRAM, args); }

struct StreamCase {
    const char *name;
    std::string manifest;
    std::string expected;  // the "NAME.json:LINE: ..." part of the message
};

class StreamedManifestErrors : public ::testing::TestWithParam<StreamCase> {};

TEST_P(StreamedManifestErrors, MessageNamesTheLine) {
    const StreamCase &c = GetParam();
    std::string path = scratchPath(std::string(c.name) + ".json");
    spill(path, c.manifest);
    Result r = zav({"build", path, scratchPath(std::string(c.name) + ".zav"), "--quiet"});
    EXPECT_EQ(r.code, 1) << r.all();
    EXPECT_NE(r.err.find(std::string(c.name) + ".json:" + c.expected), std::string::npos) << r.err;
}

INSTANTIATE_TEST_SUITE_P(
    Build, StreamedManifestErrors,
    ::testing::Values(
        StreamCase{"root_field_twice", "{\n  \"kind\": 2,\n  \"name\": \"a\",\n  \"name\": \"b\"\n}\n",
                   "4: /name: the field \"name\" appears twice in this object (first on line 3)"},
        StreamCase{"word_field_twice",
                   "{\"kind\": 1, \"tables\": [{\"dictId\": 1, \"words\": [\n  {\"word\": \"a\"},\n"
                   "  {\"word\": \"b\", \"text\": \"x\",\n   \"text\": \"y\"}]}]}\n",
                   "4: /tables/0/words/1/text: the field \"text\" appears twice"},
        StreamCase{"sub_twice",
                   "{\"kind\": 1, \"tables\": [{\"dictId\": 1, \"words\": [\n  {\"word\": \"a\", \"subs\": {\n"
                   "    \"1\": \"x\",\n    \"1\": \"y\"}}]}]}\n",
                   "4: /tables/0/words/0/subs/1: the field \"1\" appears twice in this object (first on line 3)"},
        StreamCase{"word_before_dict_id_and_kind",
                   "{\"tables\": [{\"words\": [\n  {\"word\": \"a\"},\n  {\"word\": \"b\",\n"
                   "   \"subs\": {\"1\": \"x\",\n     \"300\": \"y\"}}],\n  \"dictId\": 1}],\n \"kind\": 1}\n",
                   "5: /tables/0/words/1/subs/300: a sub number is 0 to 127"},
        StreamCase{"entry_without_keys",
                   "{\"tables\": [{\"entries\": [\n  {\"keys\": [\"a\"], \"text\": \"x\"},\n"
                   "  {\"text\": \"y\"}],\n  \"pages\": [\"p\"]}]}\n",
                   "3: /tables/0/entries/1: an entry needs \"keys\""},
        StreamCase{"words_in_plain_table", "{\"kind\": 2, \"tables\": [{\n  \"words\": [{\"word\": \"a\"}]}]}\n",
                   "2: /tables/0/words: unknown field \"words\""}),
    [](const ::testing::TestParamInfo<StreamCase> &p) { return std::string(p.param.name); });

TEST(Build, WordsBeforeTheDictIdGetItsContentIds) {
    std::string dir = scratchPath("late-id");
    std::filesystem::create_directories(dir);
    spill(dir + "/m.json", R"({"tables": [{"words": [
        {"word": "zebra", "text": "striped", "subs": {"2": "zebras"}},
        {"word": "ant", "text": "small"}],
      "dictId": "0x00AB0101",
      "toc": [{"caption": "root", "page": "zebra"}]}],
      "kind": 1})");
    Result r = zav({"build", dir + "/m.json", dir + "/d.zav", "--quiet"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_TRUE(std::filesystem::exists(dir + "/00ab0101.zzd"));
    setenv("ZOZIZID_DICT_DIR", dir.c_str(), 1);
    Result lookup = zav({"lookup", dir + "/d.zav", "zebra"});
    Result sub = zav({"subpage", dir + "/d.zav", "0", "2", "1"});
    Result toc = zav({"toc", dir + "/d.zav"});
    unsetenv("ZOZIZID_DICT_DIR");
    EXPECT_NE(lookup.out.find("striped"), std::string::npos) << lookup.all();
    EXPECT_NE(sub.out.find("zebras"), std::string::npos) << sub.all();
    EXPECT_NE(toc.out.find("page 1]"), std::string::npos) << toc.all();  // zebra is record 1, after ant
}

TEST(Build, EntriesBeforePagesStillFollowThem) {
    std::string dir = scratchPath("late-pages");
    std::filesystem::create_directories(dir);
    spill(dir + "/m.json", R"({"tables": [{"entries": [{"keys": ["gnu"], "text": "an antelope"}],
                                           "pages": ["first page"], "keys": [{"text": "first", "page": 0}]}]})");
    ASSERT_EQ(zav({"build", dir + "/m.json", dir + "/p.zav", "--quiet"}).code, 0);
    Result gnu = zav({"lookup", dir + "/p.zav", "gnu"});
    EXPECT_NE(gnu.out.find("page 1"), std::string::npos) << gnu.all();
    EXPECT_NE(gnu.out.find("an antelope"), std::string::npos) << gnu.all();
}

}  // namespace
