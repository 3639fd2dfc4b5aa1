// Localized string lists: which entry readStringList picks, how it cuts the
// text into the caller's buffer, what a damaged list leaves behind, and how
// language 0 is resolved from DefaultLocale and the device's code page.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "book/process_state.h"
#include "book/string_list.h"
#include "support/test_books.h"
#include "support/test_os.h"

using tovix::readStringList;
using tovix::test::ModuleSession;
using tovix::test::ScopedEnv;
using tovix::test::TempFile;
using tovix::test::writeTempFile;

namespace {

using Entries = std::vector<std::pair<uint8_t, std::string>>;

// The bytes of a string list: count, then language, length, text per entry.
std::string listBytes(const Entries &entries) {
    std::string out(1, static_cast<char>(entries.size()));
    for (const auto &[language, text] : entries) {
        out += static_cast<char>(language);
        out += static_cast<char>(text.size());
        out += text;
    }
    return out;
}

// A file holding `bytes` at position kListAt, opened through the platform.
constexpr uint32_t kListAt = 7;

class ListFile {
public:
    explicit ListFile(const std::string &list) {
        file_ = writeTempFile(std::string(kListAt, '\x5A') + list);
        EXPECT_TRUE(tovix::openBookFile(file_.widePath.c_str(), &book_));
    }
    ~ListFile() { tovix::closeBookFile(&book_); }
    ListFile(const ListFile &) = delete;
    ListFile &operator=(const ListFile &) = delete;
    tovix::BookFile *file() { return &book_; }

private:
    TempFile file_;
    tovix::BookFile book_{tovix::kInvalidFile, 0, nullptr};
};

// Read the list into a buffer of `length` bytes pre-filled with '#'.
struct Read {
    int32_t result;
    std::string buffer;  // the whole buffer, terminator and '#' fill included
    std::string text() const { return std::string(buffer.c_str()); }
};

Read readList(const std::string &list, int32_t language, uint32_t length = 64) {
    ListFile f(list);
    std::string buffer(length, '#');
    int32_t r = readStringList(f.file(), kListAt, language, buffer.data(), length);
    return {r, buffer};
}

struct PreferenceCase {
    const char *name;
    Entries entries;
    int32_t wanted;
    const char *text;
    int32_t result;
};

TEST(StringList, PreferenceOrder) {
    const PreferenceCase cases[] = {
        {"no wanted, no base: the first entry", {{4, "a"}, {2, "b"}}, 3, "a", 4},
        {"no wanted: the last base entry", {{4, "a"}, {1, "b"}, {1, "c"}}, 3, "c", 1},
        {"wanted after a base entry", {{1, "b"}, {3, "x"}}, 3, "x", 3},
        {"wanted first: the rest is not needed", {{3, "x"}, {1, "y"}}, 3, "x", 3},
        {"two exact matches: the first wins", {{1, "p"}, {1, "q"}}, 1, "p", 1},
        {"two in the wanted language: the first wins", {{2, "a"}, {2, "b"}}, 2, "a", 2},
        {"base entries around another language", {{1, "b"}, {2, "x"}, {1, "c"}}, 3, "c", 1},
        {"wanted after others overwrites them", {{2, "a"}, {1, "b"}, {4, "c"}}, 4, "c", 4},
        {"base after a first non-base entry", {{5, "k"}, {1, "base"}}, 4, "base", 1},
        {"first entry kept when only others follow", {{5, "k"}, {4, "j"}, {2, "z"}}, 3, "k", 5},
        {"empty text in the wanted language", {{1, "base"}, {2, ""}}, 2, "", 2},
        {"unknown language codes are entries like any", {{9, "nine"}, {7, "seven"}}, 3, "nine", 9},
    };
    for (const auto &c : cases) {
        Read r = readList(listBytes(c.entries), c.wanted);
        EXPECT_EQ(r.result, c.result) << c.name;
        EXPECT_EQ(r.text(), c.text) << c.name;
    }
}

TEST(StringList, CutsByBytesToTheBuffer) {
    const std::string sixBytes = "\xB0\xA1\xB0\xA2xy";  // double-byte characters first
    struct Case {
        const char *name;
        uint32_t length;
        std::string text;
    } cases[] = {
        {"3-byte buffer: 2 bytes and a terminator, a character split", 3, "\xB0\xA1"},
        {"buffer of the text's length: one byte short", 6, "\xB0\xA1\xB0\xA2x"},
        {"one more: the whole text", 7, sixBytes},
        {"buffer length 1: an empty string", 1, ""},
    };
    for (const auto &c : cases) {
        Read r = readList(listBytes({{2, sixBytes}}), 2, c.length);
        EXPECT_EQ(r.result, 2) << c.name;
        EXPECT_EQ(r.text(), c.text) << c.name;
        // Nothing is written past the terminator.
        ASSERT_EQ(r.buffer.size(), c.length);
        for (size_t i = c.text.size() + 1; i < c.length; ++i) EXPECT_EQ(r.buffer[i], '#') << c.name << " at " << i;
    }
}

TEST(StringList, HugeBufferLengthCopiesTheLongestText) {
    // A host that passes a negative length gives a huge unsigned one: nothing
    // is cut, so a 255-byte text needs 256 bytes.
    std::string text(255, 'w');
    ListFile f(listBytes({{1, text}}));
    std::vector<char> buffer(256 + 16, '#');
    EXPECT_EQ(readStringList(f.file(), kListAt, 1, buffer.data(), 0xFFFFFFFFu), 1);
    EXPECT_EQ(std::string(buffer.data()), text);
    EXPECT_EQ(buffer[256], '#');
}

TEST(StringList, NothingCopiedLeavesTheBufferAlone) {
    struct Case {
        const char *name;
        std::string file;  // bytes from kListAt on
        uint32_t offset;
        uint32_t length;
    } cases[] = {
        {"count 0", listBytes({}), kListAt, 64},
        {"count byte past the end of the file", "", kListAt, 64},
        {"offset that cannot be reached", listBytes({{1, "a"}}), 0x80000000u, 64},
        {"first entry cut before its length", std::string("\x02\x01", 2), kListAt, 64},
        {"first entry's text cut short",
         std::string("\x01\x01\x05"
                     "ab",
                     5),
         kListAt, 64},
        {"buffer length 0 writes nothing", listBytes({{1, "a"}}), kListAt, 0},
    };
    for (const auto &c : cases) {
        ListFile f(c.file);
        char buffer[8];
        memset(buffer, '#', sizeof buffer);
        EXPECT_EQ(readStringList(f.file(), c.offset, 1, buffer, c.length), 0) << c.name;
        for (char ch : buffer) EXPECT_EQ(ch, '#') << c.name;
    }
    ListFile f(listBytes({{1, "a"}}));
    EXPECT_EQ(readStringList(f.file(), kListAt, 1, nullptr, 64), 0) << "null buffer";
}

TEST(StringList, DamagedTailKeepsWhatWasTaken) {
    // First entry in language 2, then a second entry that the end of the file
    // cuts at every possible place; language 3 is wanted and never arrives.
    const std::string whole = listBytes({{2, "first"}, {3, "second"}});
    const size_t secondStarts = 1 + 2 + 5;
    for (size_t cut = secondStarts; cut < whole.size(); ++cut) {
        Read r = readList(whole.substr(0, cut), 3);
        EXPECT_EQ(r.result, 2) << "cut at " << cut;
        EXPECT_EQ(r.text(), "first") << "cut at " << cut;
    }
    // A count larger than the entries that follow behaves the same.
    std::string overcounted = listBytes({{2, "first"}});
    overcounted[0] = 9;
    Read r = readList(overcounted, 3);
    EXPECT_EQ(r.result, 2);
    EXPECT_EQ(r.text(), "first");
}

// Language 0: the module picks the language from DefaultLocale (2 to 5) or
// the device's ANSI code page.
TEST(StringList, LanguageZeroFollowsSettingThenCodePage) {
    if (!tovix::test::settingsFromEnvironment()) GTEST_SKIP() << "the settings come from the system here";
    const std::string all = listBytes({{1, "base"}, {2, "cp936"}, {3, "cp950"}, {4, "cp932"}, {5, "cp949"}});
    struct Case {
        const char *name;
        std::optional<uint32_t> defaultLocale;
        const char *acp;
        int32_t language;
    } cases[] = {
        {"no setting, code page 950", std::nullopt, "950", 3},
        {"no setting, code page 936", std::nullopt, "936", 2},
        {"no setting, code page 932", std::nullopt, "932", 4},
        {"no setting, code page 949", std::nullopt, "949", 5},
        {"no setting, code page 1252", std::nullopt, "1252", 1},
        {"no setting, code page 65001", std::nullopt, "65001", 1},
        {"setting 5 beats code page 932", 5u, "932", 5},
        {"setting 2 beats code page 1252", 2u, "1252", 2},
        {"setting 1 does not force the base text", 1u, "936", 2},
        {"setting 6 is ignored", 6u, "949", 5},
        {"setting 0 is ignored", 0u, "950", 3},
    };
    for (const auto &c : cases) {
        ModuleSession::Options options;
        if (c.defaultLocale) options.registry = ModuleSession::registryWithLocale(*c.defaultLocale);
        options.acp = c.acp;
        ModuleSession session(options);
        EXPECT_EQ(tovix::chooseLanguage(), c.language) << c.name;
        Read r = readList(all, tovix::chooseLanguage());
        EXPECT_EQ(r.result, c.language) << c.name;
        const char *expected[] = {"", "base", "cp936", "cp950", "cp932", "cp949"};
        EXPECT_EQ(r.text(), expected[c.language]) << c.name;
    }
}

TEST(StringList, CodePageIsAskedAtEveryCall) {
    if (!tovix::test::settingsFromEnvironment()) GTEST_SKIP() << "the settings come from the system here";
    ModuleSession session;
    const std::string list = listBytes({{1, "base"}, {3, "cp950"}, {2, "cp936"}});
    {
        ScopedEnv acp("TOVIX_ACP", std::string("950"));
        EXPECT_EQ(readList(list, tovix::wantedLanguage(0)).result, 3);
    }
    {
        ScopedEnv acp("TOVIX_ACP", std::string("936"));
        EXPECT_EQ(readList(list, tovix::wantedLanguage(0)).result, 2);
    }
    {
        ScopedEnv acp("TOVIX_ACP", std::string("437"));
        Read r = readList(list, tovix::wantedLanguage(0));
        EXPECT_EQ(r.result, 1);
        EXPECT_EQ(r.text(), "base");
    }
}

}  // namespace
