// The Windows side of the platform layer, where the POSIX tests cannot look:
// the share mode of open books, wide paths outside ASCII, the registry value
// DefaultLocale, the code page, and TovixZAV_JC.dll itself loaded from a
// folder with a non-ASCII name, finding ZAVMemo.dll beside it.
//
// Built into Windows builds only.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "book/process_state.h"
#include "bridge/memo.h"
#include "book/string_list.h"
#include "tovix/platform.h"
#include "support/test_books.h"

namespace fs = std::filesystem;
using namespace tovix;
using namespace tovix::test;

namespace {

// A plain book with one table of two pages, so that the sub page calls reach
// the memo library for table page 0.
zav::BookDesc bookWithOneTable() {
    zav::BookDesc desc;
    desc.pages = {zav::PageDesc{"first page", {}}, zav::PageDesc{"second page", {}}};
    zav::TableDesc table;
    table.pageList = {0, 1};
    desc.tables.push_back(table);
    return desc;
}

HANDLE openWith(const std::wstring &path, DWORD access, DWORD share) {
    return CreateFileW(path.c_str(), access, share, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

std::wstring moduleFileName(HMODULE module) {
    wchar_t name[MAX_PATH];
    DWORD n = GetModuleFileNameW(module, name, MAX_PATH);
    return std::wstring(name, n);
}

void *entry(HMODULE module, const char *name) { return reinterpret_cast<void *>(GetProcAddress(module, name)); }

std::wstring folderOf(const std::wstring &file) { return file.substr(0, file.find_last_of(L'\\') + 1); }

// --- share mode -----------------------------------------------------------------

TEST(Win32ShareMode, OtherReadersMayOpenAnOpenBookWritersMayNot) {
    OpenBook book(bookWithOneTable());
    ASSERT_TRUE(book.ok()) << book.result();
    const std::wstring &path = book.file().widePath;

    HANDLE reader = openWith(path, GENERIC_READ, FILE_SHARE_READ);
    EXPECT_NE(reader, INVALID_HANDLE_VALUE) << "a second reader is refused";
    if (reader != INVALID_HANDLE_VALUE) CloseHandle(reader);

    BookHandle second = nullptr;
    EXPECT_EQ(ZAVOpenBook(path.c_str(), &second), ZAV_OPEN_OK) << "the same book twice";
    if (second) ZAVCloseBook(second);

    HANDLE writer = openWith(path, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    EXPECT_EQ(writer, INVALID_HANDLE_VALUE) << "a writer got in while the book is open";
    if (writer != INVALID_HANDLE_VALUE)
        CloseHandle(writer);
    else
        EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_SHARING_VIOLATION));

    book.close();
    writer = openWith(path, GENERIC_WRITE, 0);
    EXPECT_NE(writer, INVALID_HANDLE_VALUE) << "the closed book still holds the file";
    if (writer != INVALID_HANDLE_VALUE) CloseHandle(writer);
}

TEST(Win32ShareMode, ABookBeingWrittenIsNotOpened) {
    TempFile file = writeTempBook(zav::writeBookOrDie(bookWithOneTable()).bytes);
    HANDLE writer = openWith(file.widePath, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    BookHandle book = nullptr;
    EXPECT_EQ(ZAVOpenBook(file.widePath.c_str(), &book), ZAV_OPEN_BAD_FILE);
    EXPECT_EQ(book, nullptr);
    CloseHandle(writer);
    OpenBook reopened(file);
    EXPECT_TRUE(reopened.ok()) << reopened.result();
}

// --- wide paths ---------------------------------------------------------------------

TEST(Win32Paths, BooksOpenByWidePathOutsideAscii) {
    const std::wstring folder = widen(tempDirectory()) + L"/B\u00fccher \u00e9t\u00e9 \u4e66";
    ASSERT_TRUE(CreateDirectoryW(folder.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS);
    const std::wstring path = folder + L"/\u03b2\u03b9\u03b2\u03bb\u03af\u03bf.zav";
    std::vector<uint8_t> bytes = zav::writeBookOrDie(bookWithOneTable()).bytes;
    HANDLE out = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(out, INVALID_HANDLE_VALUE);
    DWORD written = 0;
    ASSERT_TRUE(WriteFile(out, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr));
    CloseHandle(out);

    BookHandle book = nullptr;
    ASSERT_EQ(ZAVOpenBook(path.c_str(), &book), ZAV_OPEN_OK);
    EXPECT_EQ(ZAVGetPageCount(book), 2);
    char page[32] = {};
    EXPECT_EQ(ZAVGetPage(book, 1, page, sizeof page), 11);
    EXPECT_STREQ(page, "second page");

    // The reported name is the ANSI code page's form of the wide path,
    // unrepresentable characters replaced as the system does.
    char expected[260];
    int n = WideCharToMultiByte(CP_ACP, 0, path.c_str(), -1, expected, sizeof expected, nullptr, nullptr);
    ASSERT_GT(n, 0);
    char name[260];
    EXPECT_EQ(ZAVGetFileName(book, name, sizeof name), n - 1);
    EXPECT_STREQ(name, expected);
    ZAVCloseBook(book);
}

TEST(Win32Paths, AnsiFormIsLimitedTo256Bytes) {
    char out[300];
    std::wstring fits(255, L'a');
    EXPECT_TRUE(wideToAnsi(fits.c_str(), out, 256));
    EXPECT_EQ(std::strlen(out), 255u);
    std::wstring tooLong(256, L'a');
    std::memset(out, 'x', sizeof out);
    EXPECT_FALSE(wideToAnsi(tooLong.c_str(), out, 256));
    EXPECT_STREQ(out, "");
}

// --- DefaultLocale in the registry ---------------------------------------------------

// Sets the module's registry value for a scope and removes the key at the end
// (what `reg add HKLM\SOFTWARE\Kestrava\TovixDict /v DefaultLocale ...` does).
class RegistryValue {
public:
    RegistryValue(DWORD type, const std::vector<uint8_t> &data) {
        ok_ = RegCreateKeyExW(HKEY_LOCAL_MACHINE, kKey, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key_, nullptr) ==
                  ERROR_SUCCESS &&
              RegSetValueExW(key_, L"DefaultLocale", 0, type, data.data(), static_cast<DWORD>(data.size())) ==
                  ERROR_SUCCESS;
    }
    ~RegistryValue() {
        if (key_) RegCloseKey(key_);
        RegDeleteKeyW(HKEY_LOCAL_MACHINE, kKey);
    }
    bool ok() const { return ok_; }

private:
    static constexpr const wchar_t *kKey = L"SOFTWARE\\Kestrava\\TovixDict";
    HKEY key_ = nullptr;
    bool ok_ = false;
};

std::vector<uint8_t> le(uint64_t v, size_t n) {
    std::vector<uint8_t> out;
    for (size_t i = 0; i < n; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return out;
}

TEST(Win32Registry, OnlyAFourByteDwordCounts) {
    struct Case {
        const char *why;
        DWORD type;
        std::vector<uint8_t> data;
        std::optional<uint32_t> expected;
    };
    const Case cases[] = {
        {"dword 3", REG_DWORD, le(3, 4), 3u},
        {"dword 1", REG_DWORD, le(1, 4), 1u},
        {"dword with high bits", REG_DWORD, le(0x80000005u, 4), 0x80000005u},
        {"big-endian dword is another type", REG_DWORD_BIG_ENDIAN, le(3, 4), std::nullopt},
        {"string", REG_SZ, {'3', 0, 0, 0}, std::nullopt},
        {"four binary bytes", REG_BINARY, le(3, 4), std::nullopt},
        {"qword", REG_QWORD, le(3, 8), std::nullopt},
        {"dword type with 2 bytes", REG_DWORD, le(3, 2), std::nullopt},
        {"dword type with 8 bytes", REG_DWORD, le(3, 8), std::nullopt},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.why);
        RegistryValue value(c.type, c.data);
        ASSERT_TRUE(value.ok());
        uint32_t got = 0xDEADBEEF;
        EXPECT_EQ(readDefaultLocale(&got), c.expected.has_value());
        if (c.expected)
            EXPECT_EQ(got, *c.expected);
        else
            EXPECT_EQ(got, 0xDEADBEEFu) << "value written without a setting";
    }
    uint32_t got = 0;
    EXPECT_FALSE(readDefaultLocale(&got)) << "key removed";
}

TEST(Win32Registry, ProcessAttachTakesTheSetting) {
    RegistryValue value(REG_DWORD, le(3, 4));
    ASSERT_TRUE(value.ok());
    moduleEntry(currentModuleInstance(), PROCESS_ATTACH, nullptr);
    EXPECT_EQ(gProcess.defaultLocale, 3u);
    EXPECT_EQ(chooseLanguage(), 3) << "DefaultLocale 3 wins over any code page";
    moduleEntry(currentModuleInstance(), PROCESS_DETACH, nullptr);
}

TEST(Win32CodePage, LanguageFollowsTheSystemCodePage) {
    RegistryValue value(REG_DWORD, le(1, 4));  // a setting that leaves the choice to the code page
    moduleEntry(currentModuleInstance(), PROCESS_ATTACH, nullptr);
    EXPECT_EQ(ansiCodePage(), GetACP());
    int32_t expected = 1;
    switch (GetACP()) {
        case 932: expected = 4; break;
        case 936: expected = 2; break;
        case 949: expected = 5; break;
        case 950: expected = 3; break;
        default: break;
    }
    EXPECT_EQ(chooseLanguage(), expected) << "code page " << GetACP();
    moduleEntry(currentModuleInstance(), PROCESS_DETACH, nullptr);
}

// --- the module's folder --------------------------------------------------------------

TEST(Win32ModuleFolder, MemoLibraryPathIsBesideTheModule) {
    const std::wstring self = moduleFileName(static_cast<HMODULE>(currentModuleInstance()));
    ASSERT_FALSE(self.empty());
    char path[1024];
    ASSERT_TRUE(siblingLibraryPath(currentModuleInstance(), "ZAVMemo", path, sizeof path));
    EXPECT_EQ(widen(path), folderOf(self) + L"ZAVMemo.dll");
    EXPECT_FALSE(siblingLibraryPath(nullptr, "ZAVMemo", path, sizeof path));
    EXPECT_STREQ(path, "");
    EXPECT_FALSE(siblingLibraryPath(currentModuleInstance(), "ZAVMemo", path, 8)) << "result cut to fit";

    // The memo library beside the test program is the double it links.
    ModuleSession session;
    ASSERT_TRUE(memo::loadMemoLibrary());
    EXPECT_EQ(static_cast<HMODULE>(gProcess.memoLib), GetModuleHandleW(L"ZAVMemo.dll"));
}

// The real DLL, copied with a memo library into a folder whose name the ANSI
// code page cannot spell: its DllMain loads the engine, a memo call loads
// ZAVMemo.dll from that folder, and FreeLibrary of the module releases it.
TEST(Win32ModuleFolder, TheDllFindsItsMemoLibraryInANonAsciiFolder) {
    const std::wstring tests = folderOf(moduleFileName(nullptr));
    const fs::path source = fs::path(tests) / TOVIX_MODULE_DLL_FROM_TESTS;
    ASSERT_TRUE(fs::exists(source)) << source.string();
    const fs::path folder = fs::path(widen(tempDirectory())) / L"\u6a21\u5757 \u00fc\u03b2";
    fs::create_directories(folder);
    fs::copy_file(source, folder / L"TovixZAV_JC.dll", fs::copy_options::overwrite_existing);
    const std::wstring memoCopy = (folder / L"ZAVMemo.dll").wstring();
    fs::copy_file(fs::path(tests) / L"ZAVMemo.dll", memoCopy, fs::copy_options::overwrite_existing);

    HMODULE module = LoadLibraryW((folder / L"TovixZAV_JC.dll").wstring().c_str());
    ASSERT_NE(module, nullptr) << "error " << GetLastError();
    using Open = int32_t(ZAV_CALL *)(const wchar_t *, BookHandle *);
    using Close = int32_t(ZAV_CALL *)(BookHandle);
    using SubPage = int32_t(ZAV_CALL *)(BookHandle, int32_t, int32_t, uint32_t);
    auto open = reinterpret_cast<Open>(entry(module, "ZAVOpenBook"));
    auto close = reinterpret_cast<Close>(entry(module, "ZAVCloseBook"));
    auto exists = reinterpret_cast<SubPage>(entry(module, "ZAVIsExistSubPage"));
    ASSERT_TRUE(open && close && exists);

    TempFile file = writeTempBook(zav::writeBookOrDie(bookWithOneTable()).bytes);
    BookHandle book = nullptr;
    ASSERT_EQ(open(file.widePath.c_str(), &book), ZAV_OPEN_OK);
    EXPECT_EQ(GetModuleHandleW(memoCopy.c_str()), nullptr) << "memo library loaded before first use";
    exists(book, 0, MEMO_SUB_NUMBER, 0);  // the copied double has no memos: the load is what counts
    EXPECT_NE(GetModuleHandleW(memoCopy.c_str()), nullptr) << "memo library not loaded from the module's folder";
    EXPECT_EQ(close(book), 1);

    ASSERT_TRUE(FreeLibrary(module));
    EXPECT_EQ(GetModuleHandleW(memoCopy.c_str()), nullptr) << "memo library kept after the module was unloaded";
}

}  // namespace
