// The platform layer's contracts (short reads told from errors, the 256-byte path limit, the code page setting, the
// memo library's path) and the fault-injecting table the other tests rely on.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
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
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        if (!utf8FileNames() && c.wide.find_first_not_of(L"a") != std::wstring::npos && !c.wide.empty()) continue;
        std::memset(out, '#', sizeof out);
        EXPECT_EQ(wideToAnsi(c.wide.c_str(), out, c.capacity), c.ok);
        EXPECT_EQ(std::string(out), c.expected);
    }
    EXPECT_FALSE(wideToAnsi(L"a", out, 0));
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
        {"936", true, 936},       {"932", true, 932}, {"0", true, 0},     {"4294967295", true, 0xFFFFFFFFu},
        {"4294967296", false, 0}, {"93a", false, 0},  {"-936", false, 0}, {" 936", false, 0},
        {"", false, 0},
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
    gPlatform->freeLibrary(lib);

    EXPECT_FALSE(siblingLibraryPath(currentModuleInstance(), "ZAVMemo", path, full.size())) << "no room";
    EXPECT_EQ(path[0], '\0');
    EXPECT_FALSE(siblingLibraryPath(nullptr, "ZAVMemo", path, sizeof path));
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
