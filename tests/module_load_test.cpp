// The built module as a host meets it: copied alone into a fresh folder,
// loaded with dlopen and called through dlsym. The memo library is looked for
// beside the module, so whether a copy of the memo double stands in that
// folder decides whether memo sub pages can be served.
//
// This program links neither the module's shared library nor the memo
// double: the only copies it can reach are the ones in the folder.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "TovixZAV_JC.h"
#include "doubles/memo_double.h"
#include "support/test_books.h"
#include "zav/book_writer.h"

namespace fs = std::filesystem;

namespace {

// The memo double's control table, from the copy loaded at `library`.
#define MEMO_CONTROL(library, fn) (memoControl(library)->fn)

const memo_double::Control *memoControl(void *library) {
    using Getter = const memo_double::Control *(*)();
    auto get = reinterpret_cast<Getter>(dlsym(library, "memoDoubleControl"));
    EXPECT_NE(get, nullptr) << dlerror();
    static const memo_double::Control none = {};
    return get ? get() : &none;
}

template <typename F>
F lookup(void *library, const std::string &symbol) {
    void *p = dlsym(library, symbol.c_str());
    EXPECT_NE(p, nullptr) << symbol << ": " << dlerror();
    return reinterpret_cast<F>(p);
}

// The module's exports used here.
struct Module {
    void *library = nullptr;
    decltype(&ZAVOpenBook) open = nullptr;
    decltype(&ZAVCloseBook) close = nullptr;
    decltype(&ZAVIsExistSubPage) isExistSubPage = nullptr;
    decltype(&ZAVGetSubPageSize) getSubPageSize = nullptr;
    decltype(&ZAVGetSubPage) getSubPage = nullptr;

    explicit Module(const std::string &path) {
        library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        open = lookup<decltype(open)>(library, "ZAVOpenBook");
        close = lookup<decltype(close)>(library, "ZAVCloseBook");
        isExistSubPage = lookup<decltype(isExistSubPage)>(library, "ZAVIsExistSubPage");
        getSubPageSize = lookup<decltype(getSubPageSize)>(library, "ZAVGetSubPageSize");
        getSubPage = lookup<decltype(getSubPage)>(library, "ZAVGetSubPage");
    }
    ~Module() {
        if (library) dlclose(library);
    }
    bool ok() const { return library && open && close && isExistSubPage && getSubPageSize && getSubPage; }
};

// A folder of its own for each test, inside the test process's temporary
// folder (removed when the process ends).
fs::path freshFolder(const char *name) {
    fs::path folder = fs::path(tovix::test::tempDirectory()) / name;
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

// A plain book whose table 0 maps table page 1 to book page 9.
zav::BookDesc memoBook() {
    zav::BookDesc desc;
    desc.kind = BOOK_KIND_PLAIN;
    zav::TableDesc table;
    table.pageList = {7, 9};
    desc.tables.push_back(table);
    return desc;
}

TEST(ModuleLoad, MemoLibraryBesideTheModuleIsLoadedWhenItAppears) {
    fs::path folder = freshFolder("module-with-late-memo");
    fs::path modulePath = folder / "libTovixZAV_JC.so";
    fs::copy_file(TOVIX_MODULE_PATH, modulePath);

    Module module(modulePath.string());
    ASSERT_TRUE(module.ok()) << dlerror();
    Dl_info where{};
    ASSERT_NE(dladdr(reinterpret_cast<void *>(module.open), &where), 0);
    EXPECT_EQ(fs::path(where.dli_fname), modulePath) << "the copy in the fresh folder answers";

    tovix::test::TempFile file = tovix::test::writeTempBook(memoBook());
    BookHandle book = nullptr;
    ASSERT_EQ(module.open(file.widePath.c_str(), &book), ZAV_OPEN_OK);

    // No memo library beside the module: every memo call gives 0, each one
    // after a new attempt to load it.
    char buffer[32];
    for (int round = 0; round < 2; ++round) {
        EXPECT_EQ(module.isExistSubPage(book, 0, MEMO_SUB_NUMBER, 1), 0);
        EXPECT_EQ(module.getSubPageSize(book, 0, MEMO_SUB_NUMBER, 1), 0);
        EXPECT_EQ(module.getSubPage(book, 0, MEMO_SUB_NUMBER, 1, buffer, sizeof buffer), 0);
    }

    // Now the memo library appears beside the module. Load this copy here as
    // well, to script it; the module's own load of the same file then gets
    // this instance.
    fs::path memoPath = folder / "libZAVMemo.so";
    fs::copy_file(TOVIX_MEMO_DOUBLE_PATH, memoPath);
    void *memo = dlopen(memoPath.c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(memo, nullptr) << dlerror();
    auto reset = MEMO_CONTROL(memo, reset);
    auto setMemo = MEMO_CONTROL(memo, setMemo);
    auto callCount = MEMO_CONTROL(memo, callCount);
    auto liveHandles = MEMO_CONTROL(memo, liveHandles);
    ASSERT_TRUE(reset && setMemo && callCount && liveHandles);
    reset();
    setMemo(9, "late memo", 4);

    EXPECT_EQ(module.isExistSubPage(book, 0, MEMO_SUB_NUMBER, 1), 1) << "the failed load was tried again";
    EXPECT_EQ(module.getSubPageSize(book, 0, MEMO_SUB_NUMBER, 1), 9);
    std::memset(buffer, 0, sizeof buffer);
    EXPECT_EQ(module.getSubPage(book, 0, MEMO_SUB_NUMBER, 1, buffer, sizeof buffer), 9);
    EXPECT_STREQ(buffer, "late memo");
    EXPECT_EQ(module.getSubPageSize(book, 0, MEMO_SUB_NUMBER, 0), 0) << "book page 7 has no memo";
    EXPECT_EQ(callCount("CBIGetMemoNumber"), 4u);
    EXPECT_EQ(callCount("CBIFreeMemoHandle"), 2u);
    EXPECT_EQ(liveHandles(), 0u);

    EXPECT_EQ(module.close(book), 1);
    dlclose(memo);
}

TEST(ModuleLoad, MemoLibraryBesideTheModuleFromTheStart) {
    fs::path folder = freshFolder("module-with-memo");
    fs::copy_file(TOVIX_MODULE_PATH, folder / "libTovixZAV_JC.so");
    fs::copy_file(TOVIX_MEMO_DOUBLE_PATH, folder / "libZAVMemo.so");
    void *memo = dlopen((folder / "libZAVMemo.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(memo, nullptr) << dlerror();
    auto reset = MEMO_CONTROL(memo, reset);
    auto setMemo = MEMO_CONTROL(memo, setMemo);
    ASSERT_TRUE(reset && setMemo);
    reset();
    setMemo(7, "first page", 1);

    {
        Module module((folder / "libTovixZAV_JC.so").string());
        ASSERT_TRUE(module.ok()) << dlerror();
        tovix::test::TempFile file = tovix::test::writeTempBook(memoBook());
        BookHandle book = nullptr;
        ASSERT_EQ(module.open(file.widePath.c_str(), &book), ZAV_OPEN_OK);
        EXPECT_EQ(module.isExistSubPage(book, 0, MEMO_SUB_NUMBER, 0), 1);
        EXPECT_EQ(module.getSubPageSize(book, 0, MEMO_SUB_NUMBER, 0), 10);
        EXPECT_EQ(module.isExistSubPage(book, 0, MEMO_SUB_NUMBER - 1, 0), 0);
        EXPECT_EQ(module.close(book), 1);
    }
    dlclose(memo);
}

}  // namespace
