// The platform layer's contracts (short reads told from errors, the 256-byte path limit, the code page setting, the
// memo library's path) and the fault-injecting table the other tests rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "tovix/platform.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "support/test_os.h"

using namespace tovix;
using namespace tovix::test;

namespace {

class PlatformFile : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<uint8_t> bytes(1000);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
        data_ = bytes;
        temp_ = writeTempFile(bytes);
        file_ = gPlatform->openRead(temp_.widePath.c_str());
        ASSERT_NE(file_, kInvalidFile);
    }
    void TearDown() override { gPlatform->close(file_); }
    std::vector<uint8_t> data_;
    TempFile temp_;
    NativeFile file_ = kInvalidFile;
};

TEST_F(PlatformFile, ReadsTellShortFromWhole) {
    uint8_t buffer[64];
    EXPECT_FALSE(readExactAt(file_, 990, buffer, 16)) << "10 of 16 bytes";
    EXPECT_EQ(gPlatform->readAt(file_, buffer, 16, 990), 10);
    EXPECT_EQ(0, std::memcmp(buffer, data_.data() + 990, 10));
    EXPECT_EQ(gPlatform->readAt(file_, buffer, 16, 1000), 0) << "at the end";
    EXPECT_EQ(gPlatform->readAt(file_, buffer, 16, 0x7FFFFFFF), 0) << "far past the end";
    EXPECT_TRUE(readExactAt(file_, 0, buffer, 0)) << "nothing asked, nothing read";
    EXPECT_FALSE(readExactAt(file_, 0xFFFFFFF0u, buffer, 32)) << "an end past 4 GiB";
    ASSERT_TRUE(readExactAt(file_, 3, buffer, 64));
    EXPECT_EQ(0, std::memcmp(buffer, data_.data() + 3, 64));
    uint64_t size = 0;
    ASSERT_TRUE(gPlatform->fileSize(file_, &size));
    EXPECT_EQ(size, 1000u);
}

TEST(PlatformPath, AnsiFormIsLimitedTo256BytesWithTerminator) {
    char out[300];
    struct Case {
        const char *name;
        std::wstring wide;
        size_t capacity;
        bool ok;
        std::string expected;
    };
    const std::wstring e = L"\u00e9";  // 2 bytes in UTF-8
    // A code point as a wide character (built at run time: not every one fits
    // where wchar_t has 16 bits, and those rows are skipped there).
    auto wchar = [](uint32_t c) { return static_cast<wchar_t>(c); };
    const std::vector<Case> cases = {
        {"255 bytes fit", std::wstring(255, L'a'), 256, true, std::string(255, 'a')},
        {"256 bytes do not", std::wstring(256, L'a'), 256, false, ""},
        {"128 two-byte characters are 256 bytes",
         [&] {
             std::wstring w;
             for (int i = 0; i < 128; ++i) w += e;
             return w;
         }(),
         256, false, ""},
        {"non-ASCII text", L"\u043a\u043d\u0438\u0433\u0430-\u66f8", 256, true,
         "\xD0\xBA\xD0\xBD\xD0\xB8\xD0\xB3\xD0\xB0-\xE6\x9B\xB8"},
        {"empty", L"", 256, true, ""},
        {"capacity 1 holds only the terminator", L"a", 1, false, ""},
        // Code points that UTF-8 cannot carry are refused, not passed on.
        {"a lone high surrogate", std::wstring(L"a") + wchar(0xD800), 256, false, ""},
        {"a lone low surrogate", std::wstring(1, wchar(0xDFFF)), 256, false, ""},
        {"the first code point after the surrogates", std::wstring(1, wchar(0xE000)), 256, true, "\xEE\x80\x80"},
        {"the last code point", std::wstring(1, wchar(0x10FFFF)), 256, true, "\xF4\x8F\xBF\xBF"},
        {"past the last code point", std::wstring(1, wchar(0x110000)), 256, false, ""},
        {"four bytes and the terminator in 5", std::wstring(1, wchar(0x1F600)), 5, true, "\xF0\x9F\x98\x80"},
        {"four bytes and the terminator in 4", std::wstring(1, wchar(0x1F600)), 4, false, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!utf8FileNames() && c.wide.find_first_not_of(L"a") != std::wstring::npos && !c.wide.empty()) continue;
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(wideToAnsi(c.wide.c_str(), out, c.capacity), c.ok);
        EXPECT_EQ(std::string(out), c.expected);
    }
    EXPECT_FALSE(wideToAnsi(L"a", out, 0));
    EXPECT_FALSE(wideToAnsi(L"a", nullptr, sizeof out));
    EXPECT_FALSE(wideToAnsi(nullptr, out, sizeof out));
    EXPECT_EQ(out[0], '\0');
}

TEST(PlatformSettings, CodePageFollowsTovixAcp) {
    if (!settingsFromEnvironment()) GTEST_SKIP() << "the code page comes from the system here";
    struct Case {
        const char *value;
        bool taken;
        uint32_t page;
    };
    const Case cases[] = {
        {"936", true, 936},       {"932", true, 932},
        {"0", true, 0},           {"4294967295", true, 0xFFFFFFFFu},
        {"4294967296", false, 0}, {"93a", false, 0},
        {"-936", false, 0},       {" 936", false, 0},
        {"", false, 0},           {"99999999999999999999999", false, 0},
    };
    uint32_t fallback;
    {
        ScopedEnv unset("TOVIX_ACP", std::nullopt);
        fallback = ansiCodePage();
    }
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value);
        ScopedEnv env("TOVIX_ACP", std::string(c.value));
        EXPECT_EQ(ansiCodePage(), c.taken ? c.page : fallback);
    }
}

TEST(PlatformLibraries, MemoLibraryLiesBesideTheModule) {
    char name[64];
    libraryFileName("ZAVMemo", name, sizeof name);
    std::string file = name;
    EXPECT_NE(file.find("ZAVMemo"), std::string::npos);

    char path[260];
    ASSERT_TRUE(siblingLibraryPath(currentModuleInstance(), "ZAVMemo", path, sizeof path));
    std::string full = path;
    ASSERT_GT(full.size(), file.size());
    EXPECT_EQ(full.substr(full.size() - file.size()), file);
    LibHandle lib = gPlatform->loadLibrary(path);
    ASSERT_NE(lib, nullptr) << "the memo double is built beside the test programs: " << full;
    EXPECT_NE(gPlatform->findSymbol(lib, "CBIGetMemoNumber"), nullptr);
    EXPECT_EQ(gPlatform->findSymbol(lib, "CBINoSuchEntry"), nullptr);
    EXPECT_EQ(gPlatform->findSymbol(lib, nullptr), nullptr);
    EXPECT_EQ(gPlatform->findSymbol(nullptr, "CBIGetMemoNumber"), nullptr);
    gPlatform->freeLibrary(lib);

    EXPECT_FALSE(siblingLibraryPath(currentModuleInstance(), "ZAVMemo", path, full.size())) << "no room";
    EXPECT_EQ(path[0], '\0');
    EXPECT_FALSE(siblingLibraryPath(nullptr, "ZAVMemo", path, sizeof path));
}

TEST(PlatformLibraries, LibraryPathsAreCutToTheirRoom) {
    char out[kLibraryPathBytes];
    std::memset(out, '#', sizeof out);
    libraryFileName("ZAVMemo", out, 0);
    EXPECT_EQ(out[0], '#') << "no room, nothing written";
    libraryFileName("ZAVMemo", nullptr, 8);
    libraryFileName("ZAVMemo", out, 4);
    EXPECT_EQ(std::strlen(out), 3u) << "cut, terminated";
    char plain[64], none[64];
    libraryFileName("", plain, sizeof plain);
    libraryFileName(nullptr, none, sizeof none);
    EXPECT_STREQ(none, plain);

    // The 260-character limit counts characters, not UTF-8 bytes.
    char file[64];
    libraryFileName("ZAVMemo", file, sizeof file);
    const size_t room = 260 - std::strlen(file) - 1;  // characters left for the folder
    std::string cyrillic;
    while (cyrillic.size() < 2 * (room - 1)) cyrillic += "\xD0\x96";  // 2 bytes, 1 character
    struct Case {
        const char *name;
        std::string folder;
        size_t capacity;
        bool ok;
    };
    const Case cases[] = {
        {"259 characters", std::string(room - 1, 'd') + "/", sizeof out, true},
        {"260 characters", std::string(room, 'd') + "/", sizeof out, false},
        {"259 characters in more bytes", cyrillic + "/", sizeof out, true},
        {"exactly the room", "/d/", 4 + std::strlen(file), true},
        {"one byte short", "/d/", 3 + std::strlen(file), false},
        {"no room", "/d/", 0, false},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(libraryPathIn(c.folder.c_str(), "ZAVMemo", out, c.capacity), c.ok);
        EXPECT_EQ(c.ok ? std::string(out) : std::string(1, out[0]), c.ok ? c.folder + file : "#");
    }
    EXPECT_FALSE(libraryPathIn(nullptr, "ZAVMemo", out, sizeof out));
    EXPECT_FALSE(libraryPathIn("/d/", "ZAVMemo", nullptr, sizeof out));
    EXPECT_FALSE(siblingLibraryPath(currentModuleInstance(), "ZAVMemo", nullptr, sizeof out));
    EXPECT_FALSE(siblingLibraryPath(currentModuleInstance(), "ZAVMemo", out, 0));
}

TEST(PlatformLibraries, ModuleFolderOnlyOfAModuleAndInItsRoom) {
    char folder[kLibraryPathBytes];
    size_t n = moduleFolder(currentModuleInstance(), folder, sizeof folder);
    ASSERT_GT(n, 0u);
    EXPECT_EQ(std::strlen(folder), n);
    EXPECT_EQ(folder[n - 1], kPathSeparator);
    char out[kLibraryPathBytes];
    EXPECT_EQ(moduleFolder(currentModuleInstance(), out, n + 1), n) << "exactly its room";
    EXPECT_EQ(moduleFolder(currentModuleInstance(), out, n), 0u) << "no room for the terminator";
    EXPECT_EQ(out[0], '\0');
    EXPECT_EQ(moduleFolder(currentModuleInstance(), nullptr, sizeof out), 0u);
    EXPECT_EQ(moduleFolder(currentModuleInstance(), out, 0), 0u);
    int local = 0;
    EXPECT_EQ(moduleFolder(&local, out, sizeof out), 0u) << "an address in no module";
}

TEST(PlatformSettings, CodePageOfTheSystemCharacterSet) {
    struct Case {
        const char *set;
        uint32_t page;
    };
    const Case cases[] = {
        {"UTF-8", 65001},   {"utf8", 65001},          {"EUC-JP", 932},      {"eucJP", 932},
        {"Shift_JIS", 932}, {"GB18030", 936},         {"BIG5-HKSCS", 950},  {"EUC-KR", 949},
        {"CP949", 949},     {"ANSI_X3.4-1968", 1252}, {"ISO-8859-1", 1252}, {"UTF-16", 1252},
        {"UTF", 1252},      {"UTF|8", 1252},          {"", 1252},           {nullptr, 1252},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.set ? c.set : "(null)");
        EXPECT_EQ(codePageOfCodeSet(c.set), c.page);
    }
}

TEST(PlatformSettings, EnvironmentTextFitsOrIsNothing) {
    const char *name = "TOVIX_PLATFORM_TEST_TEXT";
    char out[8];
    struct Case {
        std::optional<std::string> value;
        size_t capacity;
        size_t length;
    };
    const Case cases[] = {
        {std::string("abcdefg"), 8, 7}, {std::string("abcdefgh"), 8, 0},
        {std::string("a"), 0, 0},       {std::string(""), 8, 0},
        {std::nullopt, 8, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.value.value_or("(unset)"));
        ScopedEnv env(name, c.value);
        size_t n = environmentText(name, out, c.capacity);
        EXPECT_EQ(n, c.length);
        if (n) {
            EXPECT_EQ(std::string(out), *c.value);
        }
    }
    ScopedEnv env(name, std::string("a"));
    EXPECT_EQ(environmentText(nullptr, out, sizeof out), 0u);
    EXPECT_EQ(environmentText(name, nullptr, sizeof out), 0u);
}

TEST(PlatformFiles, NullAndOddArgumentsAreRefused) {
    EXPECT_EQ(gPlatform->openRead(nullptr), kInvalidFile);
    EXPECT_EQ(gPlatform->openReadNarrow(nullptr, PathText::Utf8), kInvalidFile);
    const std::wstring surrogate(1, static_cast<wchar_t>(0xD800));
    EXPECT_EQ(gPlatform->openRead(surrogate.c_str()), kInvalidFile);
    EXPECT_EQ(gPlatform->loadLibrary(nullptr), nullptr);
    gPlatform->freeLibrary(nullptr);
    gPlatform->close(kInvalidFile);
    void *block = gPlatform->allocate(0, false);
    EXPECT_NE(block, nullptr) << "an empty block is still a block";
    gPlatform->release(block);
    files::FileStamp stamp;
    EXPECT_FALSE(files::pathStamp(nullptr, &stamp));
    EXPECT_FALSE(files::pathStamp(missingFile().path.c_str(), &stamp));
    // A folder is not a book: where it can be opened at all, it has no size.
    EXPECT_FALSE(files::pathStamp(tempDirectory().c_str(), &stamp));
    NativeFile folder = gPlatform->openRead(widen(tempDirectory()).c_str());
    uint64_t size = 0;
    EXPECT_FALSE(gPlatform->fileSize(kInvalidFile, &size));
    EXPECT_FALSE(folder != kInvalidFile && gPlatform->fileSize(folder, &size));
    gPlatform->close(folder);
}

TEST(PlatformFiles, StampsDifferInAnyField) {
    TempFile f = writeTempFile(std::string("x"));
    files::FileStamp a;
    ASSERT_TRUE(files::pathStamp(f.path.c_str(), &a));
    EXPECT_EQ(a.size, 1u);
    files::FileStamp b = a;
    EXPECT_TRUE(a == b);
    for (int field = 0; field < 5; ++field) {
        SCOPED_TRACE(field);
        b = a;
        if (field == 0) ++b.device;
        if (field == 1) ++b.file;
        if (field == 2) ++b.size;
        if (field == 3) ++b.modifiedSeconds;
        if (field == 4) ++b.modifiedNanos;
        EXPECT_FALSE(a == b);
    }
}

// readExactAt asks for at most 1 GiB per read, at 32-bit offsets. A table
// that records each request and claims to deliver it (no byte is written).
std::vector<std::pair<uint32_t, uint32_t>> gRequests;
int64_t recordRead(NativeFile, void *, uint32_t n, uint32_t offset) {
    gRequests.emplace_back(n, offset);
    return n;
}

TEST(PlatformFiles, LongReadsGoInChunksBelow4GiB) {
    PlatformMethods recording = kNativePlatform;
    recording.readAt = recordRead;
    using Requests = std::vector<std::pair<uint32_t, uint32_t>>;
    struct Case {
        const char *name;
        uint64_t at;
        size_t n;
        bool ok;
        Requests requests;
    };
    const Case cases[] = {
        {"one chunk", 16, 0x40000000u, true, {{0x40000000u, 16}}},
        {"a chunk and a rest", 16, 0x40000010u, true, {{0x40000000u, 16}, {0x10, 0x40000010u}}},
        {"the second chunk passes 4 GiB", 0xBFFFFFFFu, 0x40000002u, false, {{0x40000000u, 0xBFFFFFFFu}}},
        {"a start at 4 GiB", 0x100000000u, 1, false, {}},
    };
    static unsigned char sink;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gRequests.clear();
        gPlatform = &recording;
        bool ok = readExactAt(0, c.at, &sink, c.n);
        gPlatform = &kNativePlatform;
        EXPECT_EQ(ok, c.ok);
        EXPECT_EQ(gRequests, c.requests);
    }
}

// --- the fault-injecting table --------------------------------------------------

TEST_F(PlatformFile, FaultsFireAtTheNthOperation) {
    ScopedFaults faults;
    uint8_t buffer[16];
    faults->failAt(Op::Read, 2);
    EXPECT_TRUE(readExactAt(file_, 0, buffer, 4));
    EXPECT_EQ(gPlatform->readAt(file_, buffer, 4, 4), -1) << "the second read fails";
    EXPECT_TRUE(readExactAt(file_, 8, buffer, 4)) << "once only";
    EXPECT_EQ(faults->faultsFired(), 1u);

    uint64_t size = 0;
    faults->failAt(Op::Size, 1, true);
    EXPECT_FALSE(gPlatform->fileSize(file_, &size));
    EXPECT_FALSE(gPlatform->fileSize(file_, &size)) << "from then on";
    faults->clearFaults();

    faults->shortReadAt(1, 3);
    EXPECT_EQ(gPlatform->readAt(file_, buffer, 8, 100), 3) << "short, not an error";
    EXPECT_EQ(0, std::memcmp(buffer, data_.data() + 100, 3)) << "the file's own bytes";
    EXPECT_EQ(faults->count(Op::Read), 4u);
    EXPECT_EQ(faults->count(Op::Size), 2u);
}

TEST(FaultPlatform, TracksAllocationsFilesAndLibraries) {
    ScopedFaults faults;
    void *a = heapAlloc(10);
    void *b = heapAllocZeroed(20);
    EXPECT_EQ(faults->liveAllocations(), 2);
    EXPECT_EQ(faults->liveBytes(), 30u);
    heapFree(a);
    EXPECT_EQ(faults->liveAllocations(), 1);
    EXPECT_EQ(faults->liveBytes(), 20u);
    heapFree(b);
    EXPECT_EQ(faults->liveAllocations(), 0);
    faults->failAt(Op::Alloc, 1);
    EXPECT_EQ(heapAlloc(1), nullptr);
    EXPECT_EQ(faults->liveAllocations(), 0);

    TempFile f = writeTempFile(std::string("x"));
    NativeFile n = gPlatform->openRead(f.widePath.c_str());
    EXPECT_EQ(faults->liveFiles(), 1);
    gPlatform->close(n);
    EXPECT_EQ(faults->liveFiles(), 0);

    char path[260];
    ASSERT_TRUE(siblingLibraryPath(currentModuleInstance(), "ZAVMemo", path, sizeof path));
    faults->failLibraryLoads("ZAVMemo");
    EXPECT_EQ(gPlatform->loadLibrary(path), nullptr);
    faults->allowLibraryLoads();
    LibHandle lib = gPlatform->loadLibrary(path);
    ASSERT_NE(lib, nullptr);
    EXPECT_EQ(faults->liveLibraries(), 1);
    faults->hideSymbol("CBIGetMemoSize");
    EXPECT_EQ(gPlatform->findSymbol(lib, "CBIGetMemoSize"), nullptr);
    EXPECT_NE(gPlatform->findSymbol(lib, "CBIGetMemoContent"), nullptr);
    gPlatform->freeLibrary(lib);
    EXPECT_EQ(faults->liveLibraries(), 0);
}

int gDestroyed = 0;
struct Counted {
    ~Counted() { ++gDestroyed; }
};

TEST(FaultPlatform, HeapObjectsAreDestroyedOnceAndNullIsIgnored) {
    ScopedFaults faults;
    heapDelete<Counted>(nullptr);
    EXPECT_EQ(gDestroyed, 0);
    heapDelete(heapNew<Counted>());
    EXPECT_EQ(gDestroyed, 1);
    EXPECT_EQ(faults->liveAllocations(), 0);
}

TEST(FaultPlatform, BlocksCrossTheInstallBoundary) {
    void *before = heapAlloc(8);
    void *during = nullptr;
    {
        ScopedFaults faults;
        heapFree(before);
        EXPECT_EQ(faults->foreignReleases(), 1u);
        during = heapAlloc(8);
    }
    EXPECT_EQ(gPlatform, &kNativePlatform) << "uninstalled";
    heapFree(during);  // released by the native table: must not crash
}

TEST(FaultPlatform, SweepStopsWhenTheFaultNoLongerFires) {
    std::vector<uint64_t> seen;
    uint64_t points = forEachFailurePoint(Op::Alloc, [&](uint64_t n) {
        seen.push_back(n);
        void *a = heapAlloc(1);
        void *b = heapAlloc(1);
        void *c = heapAlloc(1);
        heapFree(a);
        heapFree(b);
        heapFree(c);
    });
    EXPECT_EQ(points, 3u);
    EXPECT_EQ(seen, (std::vector<uint64_t>{1, 2, 3, 4}));
    EXPECT_EQ(gPlatform, &kNativePlatform);
}

}  // namespace
