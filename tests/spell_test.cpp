// Spell checking: which books and tables may use the engine's spell checker,
// the one spell handle per book, and what reaches the engine.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "TovixZAV_JC.h"
#include "book/book_state.h"
#include "doubles/engine_double.h"
#include "support/fault_platform.h"
#include "support/test_books.h"
#include "zav/book_writer.h"

using tovix::test::FaultMode;
using tovix::test::forEachFailurePoint;
using tovix::test::ModuleSession;
using tovix::test::Op;
using tovix::test::OpenBook;
using tovix::test::ScopedFaults;

namespace {

constexpr uint32_t dictIdOf(uint8_t b0, uint8_t b1, uint8_t b2, uint8_t b3) {
    return uint32_t(b0) | uint32_t(b1) << 8 | uint32_t(b2) << 16 | uint32_t(b3) << 24;
}

constexpr uint32_t kCapable = dictIdOf(1, 171, 1, 0);
constexpr uint32_t kCapableToo = dictIdOf(1, 0, 1, 0);

zav::BookDesc bookWithDictIds(std::vector<uint32_t> dictIds, uint32_t kind = BOOK_KIND_DICTIONARY) {
    zav::BookDesc desc;
    desc.kind = kind;
    for (uint32_t id : dictIds) {
        zav::TableDesc table;
        table.dictId = id;
        desc.tables.push_back(table);
    }
    return desc;
}

enum class Spell { Correction, Verify, Wildcard };
const Spell kAllCalls[] = {Spell::Correction, Spell::Verify, Spell::Wildcard};

const char *entryPoint(Spell s) {
    switch (s) {
        case Spell::Correction: return "SCCorrection";
        case Spell::Verify: return "SCVerify";
        case Spell::Wildcard: return "SCWildcard";
    }
    return "";
}

int32_t callSpell(Spell s, BookHandle book, int32_t table, intptr_t w = 11, intptr_t x = 22, uint32_t y = 33,
                  intptr_t z = 44) {
    switch (s) {
        case Spell::Correction: return EBDSCCorrection(book, table, w, x, y);
        case Spell::Verify: return EBDSCVerify(book, table, w, x);
        case Spell::Wildcard: return EBDSCWildcard(book, table, w, x, y, z);
    }
    return 0;
}

class SpellTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine_double::reset();
        engine_double::setCorrectionResult(101);
        engine_double::setVerifyResult(102);
        engine_double::setWildcardResult(103);
    }
    static int32_t expected(Spell s) { return 101 + static_cast<int32_t>(s); }

    ModuleSession session;
};

TEST_F(SpellTest, OtherBookKindsAreRefusedBeforeAnyFileAccess) {
    for (uint32_t kind : {BOOK_KIND_PLAIN, BOOK_KIND_PREFIXED}) {
        OpenBook book(bookWithDictIds({kCapable}, kind));
        ASSERT_TRUE(book.ok());
        ScopedFaults faults;
        for (Spell s : kAllCalls) EXPECT_EQ(callSpell(s, book, 0), 0) << "kind " << kind;
        EXPECT_EQ(faults->count(Op::Read), 0u);
        EXPECT_TRUE(engine_double::calls().empty()) << "kind " << kind;
        EXPECT_EQ(book.get()->spellHandle, 0u);
    }
}

TEST_F(SpellTest, OnlySpellCapableTablesReachTheEngine) {
    struct Case {
        const char *name;
        uint32_t dictId;
        bool capable;
    };
    const Case cases[] = {
        {"byte 1 may hold anything", kCapable, true},        {"byte 1 zero", kCapableToo, true},
        {"byte 3 set", dictIdOf(1, 1, 1, 1), false},         {"byte 0 is 2", dictIdOf(2, 0, 1, 0), false},
        {"byte 2 is 0", dictIdOf(1, 0, 0, 0), false},        {"byte 2 is 2", dictIdOf(1, 0, 2, 0), false},
        {"byte 3 high bit", dictIdOf(1, 0, 1, 0x80), false},
    };
    for (const auto &c : cases) {
        for (Spell s : kAllCalls) {
            engine_double::reset();
            engine_double::setCorrectionResult(101);
            engine_double::setVerifyResult(102);
            engine_double::setWildcardResult(103);
            OpenBook book(bookWithDictIds({c.dictId}));
            ASSERT_TRUE(book.ok());
            EXPECT_EQ(callSpell(s, book, 0), c.capable ? expected(s) : 0) << c.name << " " << entryPoint(s);
            auto creates = engine_double::calls("SCCreateHandleEx");
            ASSERT_EQ(creates.size(), c.capable ? 1u : 0u) << c.name;
            if (c.capable) {
                EXPECT_EQ(creates[0].id, c.dictId) << c.name;
            }
            EXPECT_EQ(book.get()->spellHandle != 0, c.capable) << c.name;
        }
    }
}

TEST_F(SpellTest, ArgumentsPassThroughAndYIsCutToEightBits) {
    OpenBook book(bookWithDictIds({kCapable}));
    ASSERT_TRUE(book.ok());
    const intptr_t w = static_cast<intptr_t>(UINTPTR_MAX - 5), x = INTPTR_MIN + 7, z = -1;
    EXPECT_EQ(EBDSCCorrection(book, 0, w, x, 0x1FF), 101);
    EXPECT_EQ(EBDSCVerify(book, 0, w, x), 102);
    EXPECT_EQ(EBDSCWildcard(book, 0, w, x, 0xABCDEF12u, z), 103);
    auto calls = engine_double::calls();
    ASSERT_EQ(calls.size(), 4u);
    uintptr_t spell = book.get()->spellHandle;
    ASSERT_NE(spell, 0u);
    EXPECT_EQ(calls[0].name, "SCCreateHandleEx");
    EXPECT_EQ(calls[1].name, "SCCorrection");
    EXPECT_EQ(calls[1].y, 0xFF);
    EXPECT_EQ(calls[3].name, "SCWildcard");
    EXPECT_EQ(calls[3].y, 0x12);
    EXPECT_EQ(calls[3].z, z);
    for (size_t i = 1; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].handle, spell) << calls[i].name;
        EXPECT_EQ(calls[i].w, w) << calls[i].name;
        EXPECT_EQ(calls[i].x, x) << calls[i].name;
    }
}

TEST_F(SpellTest, OneHandlePerBookMadeFromTheFirstTablesDictionary) {
    const uint32_t other = dictIdOf(1, 5, 1, 0);
    OpenBook book(bookWithDictIds({kCapable, other}));
    ASSERT_TRUE(book.ok());
    EXPECT_EQ(EBDSCVerify(book, 1, 1, 2), 102);
    EXPECT_EQ(EBDSCVerify(book, 0, 1, 2), 102);
    EXPECT_EQ(EBDSCCorrection(book, 1, 1, 2, 3), 101);
    auto creates = engine_double::calls("SCCreateHandleEx");
    ASSERT_EQ(creates.size(), 1u);
    EXPECT_EQ(creates[0].id, other) << "made from the table of the first call";
    for (const auto &c : engine_double::calls("SCVerify")) EXPECT_EQ(c.handle, creates[0].result);

    // Another book gets its own handle.
    OpenBook second(bookWithDictIds({kCapable}));
    ASSERT_TRUE(second.ok());
    EXPECT_EQ(EBDSCVerify(second, 0, 1, 2), 102);
    EXPECT_EQ(engine_double::callCount("SCCreateHandleEx"), 2u);
    EXPECT_NE(second.get()->spellHandle, book.get()->spellHandle);
}

TEST_F(SpellTest, FailedCreationLeavesNoHandleAndIsRetried) {
    OpenBook book(bookWithDictIds({kCapable}));
    ASSERT_TRUE(book.ok());
    engine_double::setFail(engine_double::Fail::CreateSpell, true);
    for (Spell s : kAllCalls) EXPECT_EQ(callSpell(s, book, 0), 0);
    EXPECT_EQ(book.get()->spellHandle, 0u);
    EXPECT_EQ(engine_double::callCount("SCCreateHandleEx"), 3u) << "each call tries again";
    EXPECT_EQ(engine_double::callCount("SCVerify"), 0u);

    engine_double::setFail(engine_double::Fail::CreateSpell, false);
    EXPECT_EQ(EBDSCVerify(book, 0, 1, 2), 102);
    EXPECT_NE(book.get()->spellHandle, 0u);
    EXPECT_EQ(engine_double::callCount("SCCreateHandleEx"), 4u);
}

TEST_F(SpellTest, RefusedCallsNeverMakeAHandle) {
    OpenBook book(bookWithDictIds({dictIdOf(1, 1, 1, 1), kCapable}));
    ASSERT_TRUE(book.ok());
    for (int32_t table : {0, 2, -1, 255})
        for (Spell s : kAllCalls) EXPECT_EQ(callSpell(s, book, table), 0) << "table " << table;
    EXPECT_EQ(callSpell(Spell::Verify, nullptr, 1), 0);
    EXPECT_TRUE(engine_double::calls().empty());
    EXPECT_EQ(book.get()->spellHandle, 0u);
}

TEST_F(SpellTest, FailedReadsRefuseWithoutAHandle) {
    auto &faults = tovix::test::FaultPlatform::instance();
    for (FaultMode mode : {FaultMode::Once, FaultMode::Short}) {
        OpenBook book(bookWithDictIds({kCapable}));
        ASSERT_TRUE(book.ok());
        uint64_t fired = forEachFailurePoint(
            Op::Read,
            [&](uint64_t n) {
                int32_t got = EBDSCVerify(book, 0, 1, 2);
                if (faults.faultsFired()) {
                    EXPECT_EQ(got, 0) << "read " << n;
                    EXPECT_EQ(book.get()->spellHandle, 0u) << "read " << n;
                } else {
                    EXPECT_EQ(got, 102);
                }
            },
            mode);
        EXPECT_EQ(fired, 4u) << "header, table count, directory entry, table record";
    }
    EXPECT_EQ(engine_double::callCount("SCCreateHandleEx"), 2u) << "one per book, after the reads succeeded";
}

TEST_F(SpellTest, EngineWithoutTheEntryPointKeepsTheHandle) {
    OpenBook book(bookWithDictIds({kCapable}));
    ASSERT_TRUE(book.ok());
    ScopedFaults faults;
    faults->hideSymbol("SCWildcard");
    EXPECT_EQ(EBDSCWildcard(book, 0, 1, 2, 3, 4), 0);
    uintptr_t spell = book.get()->spellHandle;
    EXPECT_NE(spell, 0u);
    faults->showSymbols();
    EXPECT_EQ(EBDSCWildcard(book, 0, 1, 2, 3, 4), 103);
    EXPECT_EQ(book.get()->spellHandle, spell);
    EXPECT_EQ(engine_double::callCount("SCCreateHandleEx"), 1u);
}

TEST_F(SpellTest, CloseFreesTheHandleOnce) {
    {
        OpenBook book(bookWithDictIds({kCapable}));
        ASSERT_TRUE(book.ok());
        EXPECT_EQ(EBDSCVerify(book, 0, 1, 2), 102);
        EXPECT_EQ(EBDSCVerify(book, 0, 1, 2), 102);
        uintptr_t spell = book.get()->spellHandle;
        EXPECT_EQ(book.close(), 1);
        auto frees = engine_double::calls("SCFreeHandle");
        ASSERT_EQ(frees.size(), 1u);
        EXPECT_EQ(frees[0].handle, spell);
        EXPECT_TRUE(engine_double::handles().clean());
    }
    engine_double::reset();
    {
        OpenBook book(bookWithDictIds({dictIdOf(2, 0, 1, 0)}));
        ASSERT_TRUE(book.ok());
        EXPECT_EQ(EBDSCVerify(book, 0, 1, 2), 0);
        EXPECT_EQ(book.close(), 1);
        EXPECT_TRUE(engine_double::calls().empty()) << "no handle, no engine call at close";
    }
}

// Without the engine library every call is refused and nothing is kept.
TEST(SpellWithoutEngine, EveryCallRefused) {
    engine_double::reset();
    ScopedFaults faults;
    faults->failLibraryLoads("ZoZizID");
    ModuleSession session;
    OpenBook book(bookWithDictIds({kCapable}));
    ASSERT_TRUE(book.ok());
    for (Spell s : kAllCalls) EXPECT_EQ(callSpell(s, book, 0), 0);
    EXPECT_EQ(book.get()->spellHandle, 0u);
    EXPECT_EQ(book.close(), 1);
    EXPECT_TRUE(engine_double::calls().empty());
}

}  // namespace
