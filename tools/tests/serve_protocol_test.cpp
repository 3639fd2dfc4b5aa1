// The dictionary server's protocol without sockets: command words, text
// bodies and the answers to each command, over a shelf of canned books; and
// what the server's log makes of client bytes.
#include <gtest/gtest.h>

#include <map>

#include "serve/log.h"
#include "serve/protocol.h"

namespace zavtool {

// A shelf with two databases whose answers come from tables in this file.
namespace {
std::map<std::string, std::vector<Definition>> gDefinitions[2] = {
    {{"bank", {{"bank", "bank (1)\nriver side"}, {"bank", "bank (2)\n.money"}}}},
    {{"bank", {{"bank", "a bench"}}}, {"tree", {{"tree", "a plant"}}}}};
}  // namespace
Catalog::Catalog() = default;
Catalog::~Catalog() = default;
Definitions Shelf::define(size_t db, const std::string &word, size_t budget, const Budget &limits) {
    Definitions out;
    out.exhausted = limits.exhausted();
    if (out.exhausted) return out;
    for (const Definition &d : gDefinitions[db][word]) {
        if (d.text.size() > budget) {
            out.cut = true;
            break;
        }
        budget -= d.text.size();
        out.items.push_back(d);
    }
    return out;
}
bool Shelf::match(size_t db, const std::string &strategy, const std::string &word, size_t, const Budget &limits,
                  Matches *out, std::string *error) {
    out->exhausted = limits.exhausted();
    if (out->exhausted) return true;
    if (strategy == "re" && word == "(") {
        *error = "unbalanced (";
        return false;
    }
    for (const auto &[key, defs] : gDefinitions[db])
        if (strategy == "lev" ? key.size() == word.size() && key[0] == word[0] : key.rfind(word, 0) == 0)
            out->words.push_back(key);
    return true;
}
int Catalog::find(const std::string &name) const {
    for (size_t i = 0; i < databases.size(); ++i)
        if (databases[i].name == name) return static_cast<int>(i);
    return -1;
}
const std::vector<Strategy> &strategies() {
    static const std::vector<Strategy> s = {{"prefix", "p"}, {"lev", "l"}, {"re", "r"}};
    return s;
}

namespace {

::testing::AssertionResult begins(const std::string &text, const std::string &prefix) {
    if (text.compare(0, prefix.size(), prefix) == 0) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "\"" << text << "\" does not begin with \"" << prefix << "\"";
}

class ProtocolTest : public ::testing::Test {
protected:
    ProtocolTest() {
        catalog.databases.resize(2);
        catalog.databases[0].name = "river";
        catalog.databases[0].description = "River \"book\"";
        catalog.databases[0].info = "about river\n.dot line";
        catalog.databases[1].name = "park";
        catalog.databases[1].description = "Park";
    }
    std::string ask(const std::string &line) { return answer(line, session, shelf, facts).text; }
    Catalog catalog;
    Shelf shelf{catalog};
    Session session;
    ServerFacts facts;
};

TEST(ServeWords, SplitsAtomsAndQuotedStrings) {
    struct Case {
        const char *line;
        std::vector<std::string> words;
    } cases[] = {
        {"DEFINE * bank", {"DEFINE", "*", "bank"}},
        {"  match\t!  prefix \"sea side\" ", {"match", "!", "prefix", "sea side"}},
        {"d x 'it''s'", {"d", "x", "it", "s"}},
        {"d x \"say \\\"hi\\\"\"", {"d", "x", "say \"hi\""}},
        {"MATCH * re \"a\\.b\" x\\'", {"MATCH", "*", "re", "a\\.b", "x'"}},
        {"", {}},
    };
    for (const Case &c : cases) {
        auto words = splitCommand(c.line);
        ASSERT_TRUE(words) << c.line;
        EXPECT_EQ(*words, c.words) << c.line;
    }
    EXPECT_FALSE(splitCommand("define * \"open"));
    EXPECT_FALSE(splitCommand(std::string("define * a\x01")));
}

TEST(ServeWords, TextBodiesAreDotStuffedWithCrlf) {
    EXPECT_EQ(textBody("a\r\n.b\n..c\nd", false), "a\r\n..b\r\n...c\r\nd\r\n.\r\n");
    EXPECT_EQ(textBody("", false), ".\r\n");
    EXPECT_EQ(textBody("x\n", true),
              "Content-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n\r\nx\r\n.\r\n");
    EXPECT_EQ(quoted("a \"b\" \\"), "\"a \\\"b\\\" \\\"");
}

TEST_F(ProtocolTest, DefineGivesEveryEntryOfEachDatabase) {
    EXPECT_EQ(ask("DEFINE river bank"),
              "150 2 definitions retrieved\r\n"
              "151 \"bank\" river \"River \\\"book\\\"\"\r\nbank (1)\r\nriver side\r\n.\r\n"
              "151 \"bank\" river \"River \\\"book\\\"\"\r\nbank (2)\r\n..money\r\n.\r\n"
              "250 ok\r\n");
    EXPECT_TRUE(begins(ask("define * bank"), "150 3 definitions retrieved\r\n1"));
    EXPECT_TRUE(begins(ask("DEFINE ! bank"), "150 2 definitions retrieved\r\n"));
    EXPECT_TRUE(begins(ask("DEFINE ! tree"), "150 1 definition retrieved\r\n151 \"tree\" park \"Park"));
    EXPECT_TRUE(begins(ask("DEFINE lake bank"), "550 "));
    EXPECT_EQ(ask("DEFINE river tree"), "552 no match\r\n");
    EXPECT_EQ(ask("DEFINE river"), "501 syntax error, illegal parameters\r\n");
}

TEST_F(ProtocolTest, AnswersStopAtTheOutputLimit) {
    facts.maxOutput = 100;
    std::string reply = ask("DEFINE river bank");
    EXPECT_TRUE(begins(reply, "150 1 definition retrieved (answer cut at 100 bytes)\r\n151 \"bank\""));
    EXPECT_EQ(reply.find("money"), std::string::npos);
    facts.maxOutput = 20;
    EXPECT_EQ(ask("MATCH * prefix b"),
              "152 1 match found (answer cut at 20 bytes)\r\nriver \"bank\"\r\n.\r\n250 ok\r\n");
}

TEST_F(ProtocolTest, MatchChecksStrategyAndDatabase) {
    EXPECT_EQ(ask("MATCH * prefix b"), "152 2 matches found\r\nriver \"bank\"\r\npark \"bank\"\r\n.\r\n250 ok\r\n");
    EXPECT_EQ(ask("MATCH ! prefix b"), "152 1 match found\r\nriver \"bank\"\r\n.\r\n250 ok\r\n");
    EXPECT_EQ(ask("MATCH park . tent"), "152 1 match found\r\npark \"tree\"\r\n.\r\n250 ok\r\n");  // . is lev
    EXPECT_TRUE(begins(ask("MATCH park soundex tree"), "551 "));
    EXPECT_TRUE(begins(ask("MATCH lake prefix b"), "550 "));
    EXPECT_EQ(ask("MATCH park prefix z"), "552 no match\r\n");
    EXPECT_EQ(ask("MATCH park re ("), "501 syntax error, illegal parameters: unbalanced (\r\n");
}

TEST_F(ProtocolTest, ShowAndSessionCommands) {
    EXPECT_EQ(ask("SHOW DB"),
              "110 2 databases present\r\nriver \"River \\\"book\\\"\"\r\npark \"Park\"\r\n.\r\n250 ok\r\n");
    EXPECT_EQ(ask("show strategies"),
              "111 3 strategies available\r\nprefix \"p\"\r\nlev \"l\"\r\nre \"r\"\r\n.\r\n250 ok\r\n");
    EXPECT_EQ(ask("SHOW INFO river"),
              "112 database information follows\r\nabout river\r\n..dot line\r\n.\r\n250 ok\r\n");
    EXPECT_TRUE(begins(ask("SHOW INFO lake"), "550 "));
    EXPECT_TRUE(begins(ask("SHOW SERVER"), "114 "));
    EXPECT_TRUE(begins(ask("SHOW NOTHING"), "501 "));
    EXPECT_TRUE(begins(ask("STATUS"), "210 "));
    EXPECT_TRUE(begins(ask("HELP"), "113 "));
    EXPECT_TRUE(begins(ask("AUTH user secret"), "502 "));
    EXPECT_EQ(ask("FROB"), "500 syntax error, command not recognized\r\n");
    EXPECT_EQ(ask("CLIENT \"dict 1.13\""), "250 ok\r\n");
    EXPECT_EQ(session.client, "dict 1.13");
    EXPECT_FALSE(session.mime);
    EXPECT_TRUE(begins(ask("OPTION MIME"), "250 "));
    EXPECT_EQ(ask("SHOW INFO park"),
              "112 database information follows\r\nContent-Type: text/plain; charset=utf-8\r\n"
              "Content-Transfer-Encoding: 8bit\r\n\r\n.\r\n250 ok\r\n");
    Reply bye = answer("QUIT", session, shelf, facts);
    EXPECT_EQ(bye.status, 221);
    EXPECT_TRUE(bye.close);
}

TEST_F(ProtocolTest, CommandsOverTheirBudgetAreRefusedWhole) {
    std::atomic<int> cancelled{1};
    Budget late, gone;
    late.deadline = Budget::Clock::now() - std::chrono::milliseconds(1);
    gone.cancelled = &cancelled;
    for (const Budget &limits : {late, gone}) {
        for (const char *command : {"DEFINE * bank", "MATCH * prefix b"}) {
            Reply reply = answer(command, session, shelf, facts, limits);
            EXPECT_EQ(reply.status, kUnavailable) << command;
            EXPECT_EQ(reply.text.find("\r\n"), reply.text.size() - 2) << command;  // one status line, no part answer
        }
    }
}

TEST(ServeLog, ClientBytesAreEscapedUnlessPrintableUtf8) {
    struct Case {
        const char *name;
        std::string bytes, logged;
    } cases[] = {
        {"ASCII and UTF-8 letters pass", "DEFINE * caf\xC3\xA9 \xE5\xAD\x97", "DEFINE * caf\xC3\xA9 \xE5\xAD\x97"},
        {"controls and DEL", std::string("a\x00\x1B[2J\r\n\x7F", 9), "a\\x00\\x1B[2J\\x0D\\x0A\\x7F"},
        {"lone and cut-off bytes", "\x80x\xFF\xC3", "\\x80x\\xFF\\xC3"},
        {"overlong and surrogate forms", "\xC0\xAF\xED\xA0\x80", "\\xC0\\xAF\\xED\\xA0\\x80"},
        {"C1 control, direction override, line separator", "\xC2\x85\xE2\x80\xAE\xE2\x80\xA8",
         "\\xC2\\x85\\xE2\\x80\\xAE\\xE2\\x80\\xA8"},
        {"quote and backslash cannot end or fake a field", "a\"b\\x41", "a\\\"b\\\\x41"},
    };
    for (const Case &c : cases) EXPECT_EQ(logSafe(c.bytes), c.logged) << c.name;
}

}  // namespace
}  // namespace zavtool
