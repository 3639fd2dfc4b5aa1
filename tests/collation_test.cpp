// The key collation: the order of every key list and the rule by which a
// look-up compares a stored key with the host's word.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "tovix/collation.h"
#include "support/test_books.h"
#include "zav/book_writer.h"

using tovix::compareKeys;
using tovix::compareStoredKey;

namespace {

int sign(int32_t v) { return (v > 0) - (v < 0); }

struct KeysCase {
    const char *first;  // null = a null pointer
    const char *second;
    int sign;
    const char *why;
};

TEST(Collation, CompareKeysTable) {
    const KeysCase cases[] = {
        {"apple", "APPLE", 0, "case ignored"},
        {"apple", "apples", -1, "first ended, second goes on"},
        {"  apple", "apple  ", 0, "leading and trailing spaces ignored"},
        {"apple", "apply", -1, "e before y"},
        {"apple@2", "apple@10", -1, "homograph numbers compared as numbers"},
        {"apple@1", "apple", 1, "homograph 1 after no suffix"},
        {"apple@0", "apple", 0, "homograph 0 equals no suffix"},
        {"apple@", "apple", 0, "empty number is 0"},
        {"apple @3", "apple@3", 0, "space before the suffix ignored"},
        {"a b", "ab", -1, "inner space compared with b"},
        {"a1", "a@1", 1, "second ended, first goes on"},
        {"apple", "\xB0\xA1", -1, "single-byte before double-byte"},
        {"\xB0\xA1", "\xB0\xA2", -1, "trail bytes decide"},
        {"\xB0\xA1\x20", "\xB0\xA1", 0, "trailing space after a double-byte character"},
        {"\xC0\xA1", "\xB0\xFF", 1, "lead bytes compared unsigned"},
        {"", nullptr, 0, "empty equals null"},
        {nullptr, "   ", 0, "null equals all spaces"},
        {nullptr, "x", -1, "null before text"},
        {"x", nullptr, 1, "text after null"},
        {nullptr, nullptr, 0, "two nulls"},
        // Beyond the documented rows.
        {"Zebra", "apple", 1, "letters compare folded: z after a"},
        {"_", "a", -1, "punctuation between Z and a sorts before letters (lower-case folding)"},
        {"[", "Z", -1, "and before upper-case letters, which fold to lower case"},
        {"bank@10", "bank@9", 1, "10 after 9"},
        {"bank@1x", "bank@82", 0, "bytes after @ are not tested to be digits: 1*10 + ('x'-48)"},
        {"\x81@5", "\x81@10", 1, "a trail byte @ is part of its character, not a suffix"},
        {"\xB0\xA1"
         "a",
         "\xB0\xA1@1", 1, "double-byte body then a suffix"},
        {"x@3000000000", "x@2000000000", -1, "numbers compared signed after wrapping"},
        {"x@2000000000", "x@3000000000", 1, "and the other way round"},
        {"x@3000000000", "x@1", -1, "a wrapped number is negative"},
        {"@5", "", 1, "a suffix alone is a homograph of the empty body"},
        {" ", "", 0, "spaces alone equal the empty key"},
    };
    for (const auto &c : cases) {
        EXPECT_EQ(sign(compareKeys(c.first, c.second)), c.sign) << c.why;
        EXPECT_EQ(sign(compareKeys(c.second, c.first)), -c.sign) << c.why << " (swapped)";
    }
}

TEST(Collation, CompareStoredKeyTable) {
    struct Case {
        const char *stored;
        const char *query;
        int sign;
        const char *why;
    } cases[] = {
        {"bank@1", "bank", 0, "matched after dropping the suffix"},
        {"bank @1", "bank", 0, "suffix and the space before it dropped"},
        {"bank@2", "bank", 1, "no second try"},
        {"bank@1", "bank@1", 0, "first comparison"},
        {"bank@1", "bank@2", -1, "numbers differ"},
        {"@1", "", 1, "a stored length of 2 is not shortened"},
        {"bank@1", "BANK", 0, "case ignored in the second try"},
        {"bank@1", "bank@3", -1, "a query with its own number keeps it"},
        {"bank@1", "bank@0", 0, "number 0 is the bare word, so it finds homograph 1"},
        {"bank@11", "bank", 1, "only a final @1 is dropped"},
        {"ba@1", "bank", -1, "second try fails: the first result stands"},
        {"\xB0\xA1@1", "\xB0\xA1", 0, "after a double-byte body"},
    };
    for (const auto &c : cases) {
        std::string stored = c.stored;
        std::vector<char> buffer(stored.begin(), stored.end());
        buffer.push_back('\0');
        EXPECT_EQ(sign(compareStoredKey(buffer.data(), static_cast<uint32_t>(stored.size()), c.query)), c.sign)
            << c.why;
    }
}

// A text that ends right after a lead byte, placed at the very end of a heap
// block: the comparison must not look past the terminator (run under ASan).
TEST(Collation, LeadByteThenTerminatorStaysInBounds) {
    auto block = [](std::initializer_list<unsigned char> bytes) {
        auto p = std::make_unique<char[]>(bytes.size());
        std::copy(bytes.begin(), bytes.end(), p.get());
        return p;
    };
    auto lone = block({0xB0, 0x00});
    auto lone2 = block({0xB0, 0x00});
    auto full = block({0xB0, 0xA1, 0x00});
    auto other = block({0xC0, 0x00});
    auto ascii = block({'a', 0x00});

    EXPECT_EQ(compareKeys(lone.get(), lone2.get()), 0);
    EXPECT_LT(compareKeys(lone.get(), full.get()), 0);
    EXPECT_GT(compareKeys(full.get(), lone.get()), 0);
    EXPECT_LT(compareKeys(lone.get(), other.get()), 0);
    EXPECT_GT(compareKeys(lone.get(), ascii.get()), 0);

    // A stored key of one lead byte, and a stored key ending "lead @ 1" whose
    // shortened form ends right after the lead byte.
    auto stored = block({0xB0, 0x00});
    EXPECT_EQ(compareStoredKey(stored.get(), 1, lone2.get()), 0);
    auto suffixed = block({0xB0, '@', '1', 0x00});
    EXPECT_NE(compareStoredKey(suffixed.get(), 3, full.get()), 0);
}

// --- property: a few thousand random keys form a total order, and a book
// --- whose key list holds them in that order finds every one.

std::string randomKey(std::mt19937 &rng) {
    auto pick = [&](int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(rng); };
    std::string key(pick(0, 3) == 0 ? pick(1, 2) : 0, ' ');
    int units = pick(1, 6);
    for (int i = 0; i < units; ++i) {
        switch (pick(0, 5)) {
            case 0: key += static_cast<char>('a' + pick(0, 25)); break;
            case 1: key += static_cast<char>('A' + pick(0, 25)); break;
            case 2: key += static_cast<char>('0' + pick(0, 9)); break;
            case 3: {
                // Printable punctuation, except the "@" that ends a body.
                static const char kPunct[] = "!#$%&'()*+,-./:;<=>?[\\]^_`{|}~";
                key += kPunct[pick(0, static_cast<int>(sizeof kPunct) - 2)];
                break;
            }
            case 4:
                if (i > 0 && i + 1 < units)
                    key += ' ';
                else
                    key += 'm';
                break;
            default:
                // A double-byte character; its trail byte may be "@".
                key += static_cast<char>(pick(0x81, 0xFE));
                key += static_cast<char>(pick(0, 4) == 0 ? 0x40 : pick(0x41, 0xFE));
        }
    }
    if (pick(0, 4) == 0) key += std::string(pick(1, 2), ' ');
    switch (pick(0, 5)) {
        case 0: key += "@" + std::to_string(pick(0, 12)); break;
        case 1: key += " @" + std::to_string(pick(1, 3)); break;
        case 2: key += "@"; break;
        default: break;
    }
    return key;
}

TEST(Collation, RandomKeysFormATotalOrderAndAreAllFound) {
    std::mt19937 rng(20240611);
    std::vector<std::string> keys;
    for (int i = 0; i < 3000; ++i) keys.push_back(randomKey(rng));
    // A few fixed neighbours that stress the homograph and "@1" rules.
    for (const char *k : {"bank", "bank@1", "BANK@2", "bank @10", "bank@", "Bank@0"}) keys.push_back(k);

    // Antisymmetry and reflexivity on random pairs.
    std::uniform_int_distribution<size_t> any(0, keys.size() - 1);
    for (int i = 0; i < 20000; ++i) {
        const std::string &a = keys[any(rng)], &b = keys[any(rng)];
        ASSERT_EQ(sign(compareKeys(a.c_str(), b.c_str())), -sign(compareKeys(b.c_str(), a.c_str())))
            << '"' << a << "\" \"" << b << '"';
    }
    for (const auto &k : keys) ASSERT_EQ(compareKeys(k.c_str(), k.c_str()), 0) << k;

    std::vector<std::string> sorted = keys;
    std::stable_sort(sorted.begin(), sorted.end(),
                     [](const std::string &a, const std::string &b) { return compareKeys(a.c_str(), b.c_str()) < 0; });
    // Transitivity: every pair of the sorted list, not only neighbours, is in
    // order (spot checks over random pairs i < j).
    for (size_t i = 0; i + 1 < sorted.size(); ++i)
        ASSERT_LE(compareKeys(sorted[i].c_str(), sorted[i + 1].c_str()), 0) << i;
    for (int n = 0; n < 50000; ++n) {
        size_t i = any(rng), j = any(rng);
        if (i > j) std::swap(i, j);
        ASSERT_LE(sign(compareKeys(sorted[i].c_str(), sorted[j].c_str())), 0)
            << '"' << sorted[i] << "\" \"" << sorted[j] << '"';
    }

    // The book: the keys in this order, as written.
    tovix::test::ModuleSession session;
    zav::BookDesc desc;
    zav::TableDesc table;
    table.keepKeyOrder = true;
    for (size_t i = 0; i < sorted.size(); ++i) {
        zav::KeyDesc key;
        key.text = sorted[i];
        key.pageNo = static_cast<uint32_t>(i);
        table.keys.push_back(key);
    }
    desc.tables.push_back(table);
    tovix::test::OpenBook book(desc);
    ASSERT_TRUE(book.ok()) << book.result();
    ASSERT_EQ(ZAVGetKeyCount(book, 0), static_cast<int32_t>(sorted.size()));

    for (const auto &word : keys) {
        if (word.find_first_not_of(' ') == std::string::npos) continue;  // all spaces: no query
        int32_t index = ZAVSearchKeyWord(book, 0, word.c_str(), static_cast<int32_t>(word.size()));
        ASSERT_GE(index, 0) << word;
        ASSERT_LT(index, static_cast<int32_t>(sorted.size())) << word;
        std::string found = sorted[static_cast<size_t>(index)];
        std::vector<char> buffer(found.begin(), found.end());
        buffer.push_back('\0');
        EXPECT_EQ(compareStoredKey(buffer.data(), static_cast<uint32_t>(found.size()), word.c_str()), 0)
            << '"' << word << "\" found \"" << found << '"';
        EXPECT_EQ(ZAVIsExistWord(book, 0, word.c_str()), 1) << word;
    }
}

}  // namespace
