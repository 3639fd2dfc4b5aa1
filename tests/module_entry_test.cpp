// The module's entry routine and process state: the engine library loaded at
// attach (or not, without failing the load), the DefaultLocale setting and
// the language it selects, libraries released at detach, and entry points
// looked up anew at every call.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "book/book_state.h"
#include "book/process_state.h"
#include "book/string_list.h"
#include "bridge/engine.h"
#include "bridge/memo.h"
#include "doubles/engine_double.h"
#include "doubles/memo_double.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "support/test_os.h"
#include "zav/book_writer.h"

using namespace tovix::test;
using tovix::gProcess;
using tovix::moduleEntry;

namespace {

class ModuleEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine_double::reset();
        memo_double::reset();
    }
};

bool sameState(const tovix::ProcessState &a, const tovix::ProcessState &b) {
    return a.engineLib == b.engineLib && a.moduleInstance == b.moduleInstance && a.defaultLocale == b.defaultLocale &&
           a.memoLib == b.memoLib;
}

TEST_F(ModuleEntryTest, AttachLoadsTheEngineAndRecordsTheInstance) {
    ScopedFaults faults;
    {
        ModuleSession session;
        EXPECT_EQ(gProcess.moduleInstance, tovix::currentModuleInstance());
        EXPECT_NE(gProcess.engineLib, nullptr);
        EXPECT_EQ(gProcess.memoLib, nullptr) << "the memo library waits for its first use";
        EXPECT_EQ(gProcess.defaultLocale, 0u);
        ASSERT_EQ(faults->loadedPaths().size(), 1u);
        EXPECT_NE(faults->loadedPaths()[0].find("ZoZizID"), std::string::npos);
        EXPECT_EQ(faults->loadedPaths()[0].find_first_of("/\\"), std::string::npos) << "loaded by bare name";
    }
    EXPECT_EQ(gProcess.engineLib, nullptr);
    EXPECT_EQ(faults->liveLibraries(), 0) << "detach frees what attach loaded";
}

TEST_F(ModuleEntryTest, EveryReasonReturnsOneAndThreadReasonsChangeNothing) {
    ModuleSession session;
    tovix::ProcessState before = gProcess;
    for (uint32_t reason : {uint32_t{tovix::THREAD_ATTACH}, uint32_t{tovix::THREAD_DETACH}, 7u, 0xFFFFFFFFu}) {
        EXPECT_EQ(moduleEntry(tovix::currentModuleInstance(), reason, nullptr), 1);
        EXPECT_TRUE(sameState(before, gProcess)) << "reason " << reason;
    }
}

TEST_F(ModuleEntryTest, DetachFreesTheMemoLibraryLoadedOnFirstUse) {
    ScopedFaults faults;
    {
        ModuleSession session;
        ASSERT_TRUE(tovix::memo::loadMemoLibrary());
        ASSERT_NE(gProcess.memoLib, nullptr);
        char sibling[260];
        ASSERT_TRUE(tovix::siblingLibraryPath(tovix::currentModuleInstance(), "ZAVMemo", sibling, sizeof sibling));
        EXPECT_EQ(faults->loadedPaths().back(), std::string(sibling)) << "loaded by full path from the module's folder";
        EXPECT_TRUE(tovix::memo::loadMemoLibrary());
        EXPECT_EQ(faults->loadedPaths().size(), 2u) << "loaded once";
        EXPECT_EQ(faults->liveLibraries(), 2);
    }
    EXPECT_EQ(gProcess.memoLib, nullptr);
    EXPECT_EQ(faults->liveLibraries(), 0);
}

TEST_F(ModuleEntryTest, NoMemoLibraryWhereTheModuleFolderIsUnknown) {
    ScopedFaults faults;
    ModuleSession session;
    gProcess.moduleInstance = nullptr;
    EXPECT_FALSE(tovix::memo::loadMemoLibrary());
    gProcess.moduleInstance = tovix::currentModuleInstance();
    EXPECT_EQ(faults->loadedPaths().size(), 1u) << "the engine only: no memo library from anywhere else";
}

TEST_F(ModuleEntryTest, MissingEngineDoesNotStopTheModule) {
    ScopedFaults faults;
    faults->failLibraryLoads("ZoZizID");
    ModuleSession session;
    EXPECT_EQ(gProcess.engineLib, nullptr);
    EXPECT_EQ(gProcess.moduleInstance, tovix::currentModuleInstance());

    // Every forwarder gives 0 without looking anything up.
    uint32_t value = 99;
    EXPECT_EQ(tovix::engine::dicCreateHDICT(1), 0u);
    EXPECT_EQ(tovix::engine::dicGetWordCount(0x1001), 0u);
    EXPECT_EQ(tovix::engine::dicGetHandleInfo(0x20001, 1, &value), 0);
    EXPECT_EQ(value, 99u);
    EXPECT_EQ(tovix::engine::SCCreateHandleEx(0x00010001u), 0u);
    EXPECT_EQ(tovix::engine::SCVerify(0x300001, 1, 2), 0);
    EXPECT_EQ(faults->count(Op::Symbol), 0u);

    // A dictionary book still opens; its engine-backed calls give 0.
    engine_double::addDictionary(5, {{"alpha", {}}, {"beta", {}}});
    zav::BookDesc desc;
    desc.kind = BOOK_KIND_DICTIONARY;
    zav::TableDesc table;
    table.dictId = 5;
    desc.tables.push_back(table);
    OpenBook book(desc);
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(ZAVGetKeyCount(book, 0), 0);
    EXPECT_EQ(ZAVGetTablePageCount(book, 0), 0);
    EXPECT_EQ(EBDSCVerify(book, 0, 1, 2), 0);
    EXPECT_EQ(book.get()->spellHandle, 0u);
    EXPECT_TRUE(engine_double::calls().empty());
}

TEST_F(ModuleEntryTest, EngineLoadIsNotRetriedAfterAttach) {
    ScopedFaults faults;
    faults->failLibraryLoads("ZoZizID");
    ModuleSession session;
    faults->allowLibraryLoads();
    EXPECT_EQ(tovix::engine::dicCreateHDICT(1), 0u);
    EXPECT_EQ(faults->count(Op::Load), 1u);
}

TEST_F(ModuleEntryTest, EntryPointsAreLookedUpAtEveryCall) {
    engine_double::addDictionary(5, {{"alpha", {}}, {"beta", {}}});
    ScopedFaults faults;
    ModuleSession session;
    uintptr_t hdict = tovix::engine::dicCreateHDICT(5);
    ASSERT_NE(hdict, 0u);
    EXPECT_EQ(tovix::engine::dicGetWordCount(hdict), 2u);
    faults->hideSymbol("dicGetWordCount");
    EXPECT_EQ(tovix::engine::dicGetWordCount(hdict), 0u) << "an entry point the engine lacks gives 0";
    faults->showSymbols();
    EXPECT_EQ(tovix::engine::dicGetWordCount(hdict), 2u) << "nothing is cached: found again";
    tovix::engine::dicFreeHDICT(hdict);
    size_t lookups = 0;
    for (const std::string &name : faults->symbolLookups()) lookups += name == "dicGetWordCount";
    EXPECT_EQ(lookups, 3u);
    EXPECT_TRUE(engine_double::handles().clean());
}

TEST_F(ModuleEntryTest, EngineRecordFreesTheWordBeforeTheDictionary) {
    engine_double::addDictionary(9, {{"one", {}}, {"two", {}}});
    ModuleSession session;
    {
        tovix::engine::EngineRecord record;
        ASSERT_TRUE(record.openRecord(9, 1));
        EXPECT_FALSE(record.openRecord(9, 2)) << "index at the word count";
        EXPECT_EQ(record.hdict, 0u);
        ASSERT_TRUE(record.openRecord(9, 0));
    }
    engine_double::setFail(engine_double::Fail::SearchRecord, true);
    {
        tovix::engine::EngineRecord record;
        EXPECT_FALSE(record.openRecord(9, 0));
    }
    auto report = engine_double::handles();
    EXPECT_TRUE(report.clean()) << ::testing::PrintToString(report.problems);
    std::vector<std::string> frees;
    for (const std::string &name : engine_double::callNames())
        if (name.rfind("dicFree", 0) == 0) frees.push_back(name);
    // Reopening frees the old pair first; a refused index frees the
    // dictionary; the destructor frees the last pair; a failed record search
    // frees its dictionary.
    const std::vector<std::string> expected = {"dicFreeHWORD", "dicFreeHDICT", "dicFreeHDICT",
                                               "dicFreeHWORD", "dicFreeHDICT", "dicFreeHDICT"};
    EXPECT_EQ(frees, expected);
}

// --- the DefaultLocale setting and the language it selects -------------------

struct LocaleCase {
    const char *name;
    std::optional<std::string> registry;
    const char *acp;
    uint32_t storedLocale;
    int32_t language;
};

TEST_F(ModuleEntryTest, DefaultLocaleChoosesTheLanguage) {
    if (!settingsFromEnvironment()) GTEST_SKIP() << "the settings come from the system here";
    const std::string key = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrava\\TovixDict]\n";
    const std::vector<LocaleCase> cases = {
        {"setting 3 wins over code page 936", ModuleSession::registryWithLocale(3), "936", 3, 3},
        {"setting 5 wins over code page 1252", ModuleSession::registryWithLocale(5), "1252", 5, 5},
        {"setting 1 leaves it to the code page", ModuleSession::registryWithLocale(1), "936", 1, 2},
        {"setting 6 leaves it to the code page", ModuleSession::registryWithLocale(6), "932", 6, 4},
        {"no setting, code page 949", std::nullopt, "949", 0, 5},
        {"no setting, code page 950", std::nullopt, "950", 0, 3},
        {"no setting, code page 1252", std::nullopt, "1252", 0, 1},
        {"a string value is no setting", "REGEDIT4\n" + key + "\"DefaultLocale\"=\"3\"\n", "936", 0, 2},
        {"the value under another key is no setting",
         "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\Other]\n\"DefaultLocale\"=dword:00000003\n", "936", 0, 2},
    };
    for (const LocaleCase &c : cases) {
        SCOPED_TRACE(c.name);
        ModuleSession::Options options;
        options.registry = c.registry;
        options.acp = c.acp;
        ModuleSession session(options);
        EXPECT_EQ(gProcess.defaultLocale, c.storedLocale);
        EXPECT_EQ(tovix::chooseLanguage(), c.language);
    }
}

TEST_F(ModuleEntryTest, DefaultLocaleReachesTheNameCalls) {
    if (!settingsFromEnvironment()) GTEST_SKIP() << "the settings come from the system here";
    zav::BookDesc desc;
    desc.bookName = zav::StringListDesc{{1, "Base"}, {2, "Simplified"}, {3, "Traditional"}};
    TempFile file = writeTempBook(desc);
    struct Case {
        const char *name;
        std::optional<std::string> registry;
        int32_t language;
        const char *text;
    };
    const Case cases[] = {
        {"setting 3", ModuleSession::registryWithLocale(3), 3, "Traditional"},
        {"setting 1 follows code page 936", ModuleSession::registryWithLocale(1), 2, "Simplified"},
        {"no setting follows code page 936", std::nullopt, 2, "Simplified"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        ModuleSession::Options options;
        options.registry = c.registry;
        options.acp = "936";
        ModuleSession session(options);
        OpenBook book(file);
        ASSERT_TRUE(book.ok());
        char name[32] = {};
        EXPECT_EQ(ZAVGetBkName(book, ZAV_LANG_CHOOSE, name, sizeof name), c.language);
        EXPECT_STREQ(name, c.text);
    }
}

TEST_F(ModuleEntryTest, RegistryExportInUtf16IsRead) {
    if (!settingsFromEnvironment()) GTEST_SKIP() << "the settings come from the system here";
    std::string text =
        "Windows Registry Editor Version 5.00\r\n\r\n"
        "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Kestrava\\TovixDict]\r\n"
        "\"DefaultLocale\"=dword:00000004\r\n";
    std::vector<uint8_t> bytes = {0xFF, 0xFE};
    for (char ch : text) {
        bytes.push_back(static_cast<uint8_t>(ch));
        bytes.push_back(0);
    }
    ModuleSession::Options options;
    options.registryBytes = bytes;
    ModuleSession session(options);
    EXPECT_EQ(gProcess.defaultLocale, 4u);
}

TEST_F(ModuleEntryTest, SettingIsReadOncePerAttach) {
    if (!settingsFromEnvironment()) GTEST_SKIP() << "the settings come from the system here";
    ModuleSession::Options options;
    options.registry = ModuleSession::registryWithLocale(3);
    ModuleSession session(options);
    ScopedEnv gone("TOVIX_REGISTRY", missingFile(".reg").path);
    EXPECT_EQ(tovix::chooseLanguage(), 3) << "a later change waits for the next load";
}

}  // namespace
