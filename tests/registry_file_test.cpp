// Reading the DefaultLocale value out of a registry export: the two headers,
// the encodings and line ends, and every way the value can be missing or
// not a dword.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "tovix/platform.h"
#include "tovix/registry_file.h"
#include "support/test_books.h"
#include "support/test_os.h"

namespace {

const char *const kKey = "HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrava\\TovixDict";
const std::string kSection = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrava\\TovixDict]\n";

std::optional<uint32_t> find(const std::vector<unsigned char> &bytes) {
    uint32_t value = 0xDEADBEEF;
    if (!tovix::findRegistryDword(bytes.data(), bytes.size(), kKey, "DefaultLocale", &value)) {
        EXPECT_EQ(value, 0xDEADBEEFu) << "a failed look-up leaves the value alone";
        return std::nullopt;
    }
    return value;
}

std::vector<unsigned char> bytesOf(const std::string &text) { return {text.begin(), text.end()}; }

std::vector<unsigned char> utf16(const std::string &text, bool bom = true) {
    std::vector<unsigned char> out;
    if (bom) out = {0xFF, 0xFE};
    for (char c : text) {
        out.push_back(static_cast<unsigned char>(c));
        out.push_back(0);
    }
    return out;
}

// UTF-16LE with its byte-order mark, of text beyond ASCII.
std::vector<unsigned char> utf16(const std::u16string &text) {
    std::vector<unsigned char> out = {0xFF, 0xFE};
    for (char16_t c : text) {
        out.push_back(static_cast<unsigned char>(c & 0xFF));
        out.push_back(static_cast<unsigned char>(c >> 8));
    }
    return out;
}

std::string crlf(std::string text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

struct Case {
    const char *name;
    std::vector<unsigned char> bytes;
    std::optional<uint32_t> expected;
};

TEST(RegistryFile, FindsTheDwordOrNothing) {
    const std::string v5 = "Windows Registry Editor Version 5.00\n\n";
    const std::string v4 = "REGEDIT4\n\n";
    const std::string value = "\"DefaultLocale\"=dword:00000003\n";
    const std::string section = kSection.substr(0, kSection.size() - 1);  // without its line end
    const std::string localeIs = v4 + kSection + "\"DefaultLocale\"=";
    const std::vector<Case> cases = {
        {"REGEDIT4 header", bytesOf(v4 + kSection + value), 3},
        {"version 5.00 header", bytesOf(v5 + kSection + value), 3},
        {"CRLF line ends", bytesOf(crlf(v5 + kSection + value)), 3},
        {"UTF-16LE with byte-order mark", utf16(crlf(v5 + kSection + value)), 3},
        {"UTF-16LE, LF only", utf16(v5 + kSection + value), 3},
        {"UTF-8 byte-order mark", bytesOf("\xEF\xBB\xBF" + v5 + kSection + value), 3},
        {"blank lines before the header", bytesOf("\n  \n" + v4 + kSection + value), 3},
        {"no line end after the value", bytesOf(v4 + kSection + "\"DefaultLocale\"=dword:00000003"), 3},
        {"upper-case hex, all 32 bits", bytesOf(v4 + kSection + "\"DefaultLocale\"=dword:FFFFFFFE\n"), 0xFFFFFFFEu},
        {"fewer than 8 digits", bytesOf(v4 + kSection + "\"DefaultLocale\"=dword:5\n"), 5},
        {"section and value names ignore case",
         bytesOf(v4 + "[hkey_local_machine\\software\\KESTRAVA\\tovixdict]\n\"defaultlocale\"=dword:00000002\n"), 2},
        {"tabs around the parts", bytesOf(v4 + "\t" + section + "\t\n\t\"DefaultLocale\"\t=\tdword:4\t\n"), 4},
        {"hex digits of every range", bytesOf(localeIs + "dword:9aF0\n"), 0x9AF0u},
        {"comments and other text in the section",
         bytesOf(v4 + kSection + "; a comment\n\"Caf\xC3\xA9\"=dword:1\n" + value), 3},
        {"only a byte-order mark", {0xFF, 0xFE}, std::nullopt},
        {"only blank lines", bytesOf("\n \n\t\n"), std::nullopt},
        {"0xFF not followed by 0xFE", bytesOf("\xFF" + v4 + kSection + value), std::nullopt},
        {"0xEF alone", bytesOf("\xEF" + v4 + kSection + value), std::nullopt},
        {"0xEF 0xBB not followed by 0xBF", bytesOf("\xEF\xBB" + v4 + kSection + value), std::nullopt},
        {"a one-byte file", bytesOf("\xFF"), std::nullopt},
        {"a section without its closing bracket",
         bytesOf(v4 + "[\n" + section.substr(0, section.size() - 1) + "\n" + value), std::nullopt},
        {"a name of the same length", bytesOf(v4 + kSection + "\"DefaultLocalX\"=dword:3\n"), std::nullopt},
        {"a name whose wide character narrows to ours",
         utf16(u"REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrava\\TovixDict]\n\"DefaultLocal\u0165\"=dword:3\n"),
         std::nullopt},
        {"a name without its closing quote", bytesOf(v4 + kSection + "\"DefaultLocale=dword:3\n"), std::nullopt},
        {"no equals sign", bytesOf(v4 + kSection + "\"DefaultLocale\" dword:3\n"), std::nullopt},
        {"a character just past the digits", bytesOf(localeIs + "dword:0:\n"), std::nullopt},
        {"a character before the digits", bytesOf(localeIs + "dword:-1\n"), std::nullopt},
        {"a letter past the hex digits", bytesOf(localeIs + "dword:0g\n"), std::nullopt},
        {"spaces around the parts", bytesOf(v4 + "  " + kSection + "  \"DefaultLocale\" = dword:00000004  \n"), 4},
        {"other values and sections around it",
         bytesOf(v4 + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"DefaultLocale\"=dword:00000009\n\n" + kSection +
                 "\"Other\"=dword:00000001\n" + value + "[HKEY_CURRENT_USER\\X]\n\"DefaultLocale\"=dword:7\n"),
         3},
        {"the last occurrence counts", bytesOf(v4 + kSection + value + "\"DefaultLocale\"=dword:00000005\n"), 5},
        {"a later value that is not a dword cancels it", bytesOf(v4 + kSection + value + "\"DefaultLocale\"=\"5\"\n"),
         std::nullopt},

        {"no header", bytesOf(kSection + value), std::nullopt},
        {"an unknown header", bytesOf("REGEDIT5\n" + kSection + value), std::nullopt},
        {"empty file", {}, std::nullopt},
        {"UTF-16 without byte-order mark", utf16(v5 + kSection + value, false), std::nullopt},
        {"the value in another section", bytesOf(v4 + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrava]\n" + value),
         std::nullopt},
        {"a section whose name only starts like ours",
         bytesOf(v4 + "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrava\\TovixDict\\Sub]\n" + value), std::nullopt},
        {"the value before any section", bytesOf(v4 + value + kSection), std::nullopt},
        {"a string value", bytesOf(v4 + kSection + "\"DefaultLocale\"=\"3\"\n"), std::nullopt},
        {"a binary value", bytesOf(v4 + kSection + "\"DefaultLocale\"=hex:03,00,00,00\n"), std::nullopt},
        {"a dword of 9 digits", bytesOf(v4 + kSection + "\"DefaultLocale\"=dword:000000003\n"), std::nullopt},
        {"a dword without digits", bytesOf(v4 + kSection + "\"DefaultLocale\"=dword:\n"), std::nullopt},
        {"a dword with junk behind", bytesOf(v4 + kSection + "\"DefaultLocale\"=dword:0000003x\n"), std::nullopt},
        {"a value whose name only starts like ours", bytesOf(v4 + kSection + "\"DefaultLocaleX\"=dword:00000003\n"),
         std::nullopt},
        {"a deleted value", bytesOf(v4 + kSection + "\"DefaultLocale\"=-\n"), std::nullopt},
        {"a UTF-16 file cut in the middle of a character",
         [&] {
             auto b = utf16(v5 + kSection + value);
             b.pop_back();  // the high byte of the last line end
             return b;
         }(),
         3},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(find(c.bytes), c.expected);
    }
}

TEST(RegistryFile, NullArgumentsFindNothing) {
    std::vector<unsigned char> text = bytesOf("REGEDIT4\n" + kSection + "\"DefaultLocale\"=dword:3\n");
    uint32_t value = 0;
    EXPECT_FALSE(tovix::findRegistryDword(nullptr, 10, kKey, "DefaultLocale", &value));
    EXPECT_FALSE(tovix::findRegistryDword(text.data(), text.size(), nullptr, "DefaultLocale", &value));
    EXPECT_FALSE(tovix::findRegistryDword(text.data(), text.size(), kKey, nullptr, &value));
    EXPECT_FALSE(tovix::findRegistryDword(text.data(), text.size(), kKey, "DefaultLocale", nullptr));
}

TEST(RegistryFile, OverlongLinesAreCutNotOverrun) {
    std::string longLine(5000, 'a');
    std::vector<unsigned char> text =
        bytesOf("REGEDIT4\n" + longLine + "\n[" + longLine + "]\n" + kSection + "\"DefaultLocale\"=dword:2\n");
    EXPECT_EQ(find(text), 2u);
}

// The file that the platform layer reads: TOVIX_REGISTRY names it.
TEST(RegistryFile, PlatformReadsTheNamedFile) {
    using tovix::test::ScopedEnv;
    if (!tovix::test::settingsFromEnvironment()) GTEST_SKIP() << "the settings come from the system here";
    uint32_t value = 0;
    {
        ScopedEnv env("TOVIX_REGISTRY", tovix::test::missingFile(".reg").path);
        EXPECT_FALSE(tovix::readDefaultLocale(&value)) << "missing file";
    }
    {
        ScopedEnv env("TOVIX_REGISTRY",
                      tovix::test::writeTempFile(tovix::test::ModuleSession::registryWithLocale(4), ".reg").path);
        ASSERT_TRUE(tovix::readDefaultLocale(&value));
        EXPECT_EQ(value, 4u);
    }
    {
        ScopedEnv env("TOVIX_REGISTRY", tovix::test::tempDirectory());
        EXPECT_FALSE(tovix::readDefaultLocale(&value)) << "a folder";
    }
    {
        std::string text = tovix::test::ModuleSession::registryWithLocale(4);
        text.resize(size_t{1} << 20, '\n');
        ScopedEnv env("TOVIX_REGISTRY", tovix::test::writeTempFile(text, ".reg").path);
        EXPECT_FALSE(tovix::readDefaultLocale(&value)) << "a file of 1 MiB is not read";
    }
    // Unset or empty, the variable names the system's file.
    bool system;
    {
        ScopedEnv env("TOVIX_REGISTRY", std::nullopt);
        system = tovix::readDefaultLocale(&value);
    }
    ScopedEnv env("TOVIX_REGISTRY", std::string());
    EXPECT_EQ(tovix::readDefaultLocale(&value), system);
}

}  // namespace
