// The reader library through its C API, over books the tests write: which
// entry comes first, the case and accent folds, unreadable pages, shelves of
// folders, books that change, key cursors and the in-memory key list.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "TovixZAV_JC.h"
#include "ZAVReader.h"
#include "stems.h"
#include "zav/book_writer.h"

namespace {

namespace fs = std::filesystem;

constexpr uint8_t kFoldAttribute = 0x46;

struct Word {
    std::string key;
    std::string text;
    uint8_t attribute = 0;
};

// A plain book with one table: each word leads to a table page of its own
// holding its text (a fold key shares its headword's page).
zav::BookDesc bookOf(const std::vector<Word> &words) {
    zav::BookDesc desc;
    desc.bookName = zav::StringListDesc{{1, "Test words"}};
    zav::TableDesc table;
    table.locale = 1;
    table.name = zav::StringListDesc{{1, "words"}};
    for (const Word &w : words) {
        uint32_t page = static_cast<uint32_t>(table.pageList.size());
        if (w.attribute == kFoldAttribute) {
            page -= 1;
        } else {
            table.pageList.push_back(static_cast<uint32_t>(desc.pages.size()));
            desc.pages.push_back({w.text, {}});
        }
        table.keys.push_back({w.key, page, 0, w.attribute, 0});
    }
    table.autoPageToKey = true;
    desc.tables.push_back(table);
    return desc;
}

class ReaderTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() /
               ("zavreader-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        shelf_ = ZAVReaderOpen();
    }
    void TearDown() override {
        ZAVReaderClose(shelf_);
        fs::remove_all(dir_);
    }
    std::string write(const std::string &name, const zav::BookDesc &desc) {
        std::string path = (dir_ / name).string();
        EXPECT_TRUE(zav::saveBook(zav::writeBookOrDie(desc).bytes, path));
        return path;
    }
    // Headwords and texts of an answer, as "headword=text" (or "headword!"
    // for an unreadable text), with the way each was found.
    std::vector<std::string> lookup(const char *word, uint32_t flags = 0, const char *db = nullptr) {
        ZAVReaderResult *r = ZAVReaderLookup(shelf_, db, word, flags, nullptr);
        std::vector<std::string> out;
        for (size_t i = 0; i < ZAVReaderResultCount(r); ++i) {
            const ZAVReaderAnswer *a = ZAVReaderResultAt(r, i);
            std::string how = a->how == ZAVR_HOW_ACCENT ? " (accent)"
                              : a->how == ZAVR_HOW_CASE ? " (case)"
                              : a->how == ZAVR_HOW_STEM ? " (stem)"
                                                        : "";
            out.push_back(std::string(a->headword) + (a->text ? "=" + std::string(a->text, a->text_length) : "!") +
                          how);
        }
        ZAVReaderResultFree(r);
        return out;
    }
    fs::path dir_;
    ZAVReaderShelf *shelf_ = nullptr;
};

TEST_F(ReaderTest, FirstEntryIsTheOneTheModuleLeadsTo) {
    std::vector<Word> words;
    for (int i = 0; i < 5; ++i) words.push_back({"bank", "bank " + std::to_string(i)});
    words.push_back({"bank@1", "money"});
    std::string path = write("banks.zav", bookOf(words));
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);

    BookHandle book = nullptr;
    std::wstring wide(path.begin(), path.end());
    ASSERT_EQ(ZAVOpenBook(wide.c_str(), &book), 0);
    int32_t chosen = ZAVSearchKeyWord(book, 0, "bank", 4);
    ZAVCloseBook(book);

    ZAVReaderResult *r = ZAVReaderLookup(shelf_, "*", "BANK", 0, nullptr);
    ASSERT_EQ(ZAVReaderResultCount(r), 6u);  // every entry once, the homograph too
    EXPECT_EQ(ZAVReaderResultAt(r, 0)->key_index, static_cast<uint32_t>(chosen));
    ZAVReaderResultFree(r);
    r = ZAVReaderLookup(shelf_, "banks", "bank", ZAVR_FIRST, nullptr);
    ASSERT_EQ(ZAVReaderResultCount(r), 1u);
    EXPECT_EQ(ZAVReaderResultAt(r, 0)->key_index, static_cast<uint32_t>(chosen));
    ZAVReaderResultFree(r);
}

TEST_F(ReaderTest, CaseThenAccentsAsAFallback) {
    std::string path = write("words.zav", bookOf({{"ápple", "accented"},
                                                  {"apple", "plain"},
                                                  {"Äpfel", "apples"},
                                                  {"äpfel", "", kFoldAttribute},
                                                  {"Straße", "street"},
                                                  {"ёлка", "fir"},
                                                  {"σοφία", "wisdom"},
                                                  {"أكل", "eat"},
                                                  {"élève", "pupil"},
                                                  {"łódź", "boat"},
                                                  {"Éclair", "pastry"}}));
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);
    // The word's own spelling first; accents are a fallback only.
    EXPECT_EQ(lookup("apple"), std::vector<std::string>{"apple=plain"});
    // A key added for the case fold leads to its headword; without one, the
    // fold is compared in memory.
    EXPECT_EQ(lookup("äpfel"), std::vector<std::string>{"Äpfel=apples"});
    EXPECT_EQ(lookup("éCLAIR"), std::vector<std::string>{"Éclair=pastry (case)"});
    struct Case {
        const char *typed, *found;
    } cases[] = {{"APFEL", "Äpfel=apples (accent)"}, {"strasse", "Straße=street (accent)"},
                 {"елка", "ёлка=fir (accent)"},      {"ΣΟΦΙΑ", "σοφία=wisdom (accent)"},
                 {"اكل", "أكل=eat (accent)"},        {"eleve", "élève=pupil (accent)"},
                 {"lodz", "łódź=boat (accent)"}};
    for (const Case &c : cases) EXPECT_EQ(lookup(c.typed), std::vector<std::string>{c.found}) << c.typed;
    EXPECT_TRUE(lookup("eleve", ZAVR_NO_ACCENT).empty());
    EXPECT_TRUE(lookup("nothing").empty());
}

TEST_F(ReaderTest, StemsOfAWordNotFound) {
    // A German dictionary of two words and one suffix, in the folder
    // searched first.
    fs::create_directories(dir_ / "hunspell");
    std::ofstream(dir_ / "hunspell" / "de_DE.aff") << "SET UTF-8\nSFX S Y 1\nSFX S 0 en .\n";
    std::ofstream(dir_ / "hunspell" / "de_DE.dic") << "2\nKind/S\nHaus/S\n";
    setenv("ZAVREADER_HUNSPELL_DIR", (dir_ / "hunspell").c_str(), 1);
    zav::BookDesc german = bookOf({{"haus", "house"}, {"Hausen", "a town"}, {"kind", "child"}});
    german.bookName = zav::StringListDesc{{1, "German - English test"}};
    std::string path = write("de.zav", german);
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);
    ASSERT_EQ(ZAVReaderAdd(shelf_, write("other.zav", bookOf({{"kind", "sort"}})).c_str(), nullptr), 1);
    unsetenv("ZAVREADER_HUNSPELL_DIR");
    if (!ZAVReaderStemLanguage(shelf_, 0)) GTEST_SKIP() << ZAVReaderStemNote(shelf_, 0);
    // The language comes from the book's name; the other book says none.
    EXPECT_STREQ(ZAVReaderStemLanguage(shelf_, 0), "de_DE");
    EXPECT_EQ(ZAVReaderStemLanguage(shelf_, 1), nullptr);
    EXPECT_NE(std::string(ZAVReaderStemNote(shelf_, 1)).find("no language known"), std::string::npos);
    struct Case {
        const char *word;
        uint32_t flags;
        std::vector<std::string> found;
    } cases[] = {
        {"Kinden", 0, {"kind=child (stem)"}},  // in the other book only by its own spelling
        {"Kinden", ZAVR_NO_STEM, {}},
        {"Hausen", 0, {"Hausen=a town"}},  // found as typed: no stems
        {"Kind", 0, {"kind=child", "kind=sort"}},
    };
    for (const Case &c : cases) EXPECT_EQ(lookup(c.word, c.flags), c.found) << c.word << " " << c.flags;
    EXPECT_EQ(ZAVReaderSetLanguage(shelf_, "de", ""), ZAVR_OK);
    EXPECT_EQ(ZAVReaderStemLanguage(shelf_, 0), nullptr);
    EXPECT_TRUE(lookup("Kinden").empty());
    // Back to the book's own; a language without a dictionary is off.
    EXPECT_EQ(ZAVReaderSetLanguage(shelf_, "*", "xx"), ZAVR_NOT_FOUND);
    EXPECT_NE(std::string(ZAVReaderStemNote(shelf_, 1)).find("no Hunspell dictionary for xx"), std::string::npos);
    EXPECT_EQ(ZAVReaderSetLanguage(shelf_, "nobody", "de"), ZAVR_NOT_FOUND);
}

TEST_F(ReaderTest, UnreadablePageIsAReasonNotAnEmptyText) {
    zav::BookDesc desc = bookOf({{"good", "fine"}, {"bad", "lost"}});
    zav::WrittenBook written = zav::writeBookOrDie(desc);
    // The page of "bad" (book page 1) claims more bytes than the file holds.
    zav::patchU32(written.bytes, written.layout.pageRecords[1], 0x7FFFFFF0);
    std::string path = (dir_ / "damaged.zav").string();
    ASSERT_TRUE(zav::saveBook(written.bytes, path));
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);
    ZAVReaderResult *r = ZAVReaderLookup(shelf_, nullptr, "bad", 0, nullptr);
    ASSERT_EQ(ZAVReaderResultCount(r), 1u);
    const ZAVReaderAnswer *a = ZAVReaderResultAt(r, 0);
    EXPECT_EQ(a->text, nullptr);
    ASSERT_NE(a->reason, nullptr);
    EXPECT_NE(std::string(a->reason).find("cannot be read"), std::string::npos);
    ZAVReaderResultFree(r);
    EXPECT_EQ(lookup("good"), std::vector<std::string>{"good=fine"});
}

// Whole pages and sub pages: texts as entry texts are, every way of missing
// one a status rather than an empty text.
TEST_F(ReaderTest, PagesAndSubPages) {
    zav::BookDesc desc = bookOf({{"caf\xe9", "caf\xe9 au lait"}, {"good", "fine"}, {"bad", "lost"}});
    zav::WrittenBook written = zav::writeBookOrDie(desc);
    zav::patchU32(written.bytes, written.layout.pageRecords[2], 0x7FFFFFF0);
    std::string path = (dir_ / "pages.zav").string();
    ASSERT_TRUE(zav::saveBook(written.bytes, path));
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);
    EXPECT_EQ(ZAVReaderPageCount(shelf_, 0), 3);
    EXPECT_EQ(ZAVReaderPageCount(shelf_, 1), -1);
    ZAVReaderLimits small{sizeof small, 0, 4, 0, nullptr};
    struct Case {
        size_t database;
        int64_t page;
        int32_t sub;
        const ZAVReaderLimits *limits;
        int32_t status;
        const char *text;
    } cases[] = {
        {0, 0, -1, nullptr, ZAVR_OK, "caf\xc3\xa9 au lait"},  // Latin-1 taken as such
        {0, 1, -1, nullptr, ZAVR_OK, "fine"},
        {0, 1, -1, &small, ZAVR_OK, "fine"},
        {0, 0, -1, &small, ZAVR_LIMIT, nullptr},
        {0, 2, -1, nullptr, ZAVR_UNREADABLE, nullptr},
        {0, 3, -1, nullptr, ZAVR_NOT_FOUND, nullptr},
        {0, -1, -1, nullptr, ZAVR_NOT_FOUND, nullptr},
        {0, 1, MEMO_SUB_NUMBER, nullptr, ZAVR_NOT_FOUND, nullptr},  // no memo
        {0, 1, MEMO_SUB_NUMBER + 1, nullptr, ZAVR_BAD_ARGUMENT, nullptr},
        {1, 0, -1, nullptr, ZAVR_NOT_FOUND, nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("page " + std::to_string(c.page) + " sub " + std::to_string(c.sub));
        ZAVReaderResult *r = ZAVReaderPage(shelf_, c.database, c.page, c.sub, c.limits);
        EXPECT_EQ(ZAVReaderResultStatus(r), c.status) << ZAVReaderResultReason(r);
        ASSERT_EQ(ZAVReaderResultCount(r), c.text ? 1u : 0u);
        if (c.text) {
            EXPECT_EQ(std::string(ZAVReaderResultAt(r, 0)->text), c.text);
        }
        ZAVReaderResultFree(r);
    }
}

TEST_F(ReaderTest, FolderShelfReportsWhatItCannotServe) {
    write("a.zav", bookOf({{"alpha", "first"}}));
    write("b.zav", bookOf({{"alpha", "second"}}));
    zav::BookDesc empty;
    empty.bookName = zav::StringListDesc{{1, "nothing"}};
    write("empty.zav", empty);
    std::ofstream(dir_ / "notes.txt") << "not a book";
    std::ofstream(dir_ / "broken.zav") << "DEBD but cut short";
    EXPECT_EQ(ZAVReaderAdd(shelf_, dir_.string().c_str(), nullptr), 2);
    ASSERT_EQ(ZAVReaderDatabaseCount(shelf_), 2u);
    ZAVReaderDatabaseInfo info;
    ASSERT_EQ(ZAVReaderDatabase(shelf_, 1, &info), ZAVR_OK);
    EXPECT_STREQ(info.name, "b");
    EXPECT_STREQ(info.book_name, "Test words");
    std::vector<std::string> problems;
    for (size_t i = 0; i < ZAVReaderProblemCount(shelf_); ++i)
        problems.push_back(fs::path(ZAVReaderProblemPath(shelf_, i)).filename().string());
    std::sort(problems.begin(), problems.end());
    EXPECT_EQ(problems, (std::vector<std::string>{"broken.zav", "empty.zav"}));

    EXPECT_EQ(lookup("alpha"), (std::vector<std::string>{"alpha=first", "alpha=second"}));
    EXPECT_EQ(lookup("alpha", 0, "!"), std::vector<std::string>{"alpha=first"});
    ZAVReaderResult *r = ZAVReaderLookup(shelf_, "nosuch", "alpha", 0, nullptr);
    EXPECT_EQ(ZAVReaderResultStatus(r), ZAVR_NOT_FOUND);
    ZAVReaderResultFree(r);
}

TEST_F(ReaderTest, ABookThatChangesIsReopened) {
    std::string path = write("live.zav", bookOf({{"old", "before"}}));
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);
    EXPECT_EQ(lookup("old"), std::vector<std::string>{"old=before"});
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    std::string next = write("next.zav", bookOf({{"new", "after"}, {"old", "again"}}));
    fs::rename(next, path);
    EXPECT_EQ(lookup("new"), std::vector<std::string>{"new=after"});
    EXPECT_EQ(lookup("old"), std::vector<std::string>{"old=again"});
}

TEST_F(ReaderTest, CursorsFromAWordOrANumber) {
    std::vector<Word> words;
    for (char c = 'a'; c <= 'z'; ++c) words.push_back({std::string(3, c), "x"});
    words.push_back({"ÄÄÄ", "y"});
    words.push_back({"äää", "", kFoldAttribute});
    std::string path = write("abc.zav", bookOf(words));
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);

    ZAVReaderCursor *c = ZAVReaderKeys(shelf_, 0, "MMM", 0);
    ZAVReaderKey key;
    ASSERT_EQ(ZAVReaderNext(c, &key), 1);
    EXPECT_STREQ(key.text, "mmm");
    EXPECT_EQ(key.index, 12u);
    ZAVReaderCursorFree(c);

    c = ZAVReaderKeys(shelf_, 0, nullptr, 25);
    std::vector<std::string> rest;
    while (ZAVReaderNext(c, &key) == 1)
        rest.push_back(std::string(key.text) + (key.fold ? ">" + std::string(key.headword) : ""));
    EXPECT_EQ(rest, (std::vector<std::string>{"zzz", "ÄÄÄ", "äää>ÄÄÄ"}));
    ZAVReaderCursorFree(c);

    // In batches that a small buffer cuts: every key once, in order.
    c = ZAVReaderKeys(shelf_, 0, nullptr, 0);
    char buffer[16];
    size_t used = 0, total = 0;
    std::string all;
    for (int64_t n; (n = ZAVReaderNextBatch(c, buffer, sizeof buffer, 100, &used)) > 0;) {
        total += static_cast<size_t>(n);
        all.append(buffer, used);
    }
    EXPECT_EQ(total, words.size());
    EXPECT_EQ(all.substr(0, 8), std::string("aaa\0bbb\0", 8));
    ZAVReaderCursorFree(c);
}

TEST_F(ReaderTest, KeysInMemoryAgreeWithTheModule) {
    std::vector<Word> words;
    for (int i = 0; i < 3000; ++i) words.push_back({"w" + std::to_string(i * 7919 % 3001), "t"});
    words.push_back({std::string(300, 'L'), "long"});
    std::string path = write("many.zav", bookOf(words));
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);
    BookHandle book = nullptr;
    std::wstring wide(path.begin(), path.end());
    ASSERT_EQ(ZAVOpenBook(wide.c_str(), &book), 0);
    ZAVReaderCursor *c = ZAVReaderKeys(shelf_, 0, nullptr, 0);
    std::vector<char> buffer(1 << 16);
    size_t used = 0;
    uint32_t index = 0;
    for (int64_t n; (n = ZAVReaderNextBatch(c, buffer.data(), buffer.size(), SIZE_MAX, &used)) > 0;) {
        for (size_t at = 0; at < used; ++index) {
            std::string text(buffer.data() + at);
            std::vector<char> own(ZAVGetKeyWordLength(book, 0, index) + 1);
            ZAVGetKeyWord(book, 0, index, own.data(), static_cast<int32_t>(own.size()));
            ASSERT_EQ(text, std::string(own.data())) << index;
            at += text.size() + 1;
        }
    }
    EXPECT_EQ(index, static_cast<uint32_t>(ZAVGetKeyCount(book, 0)));
    ZAVCloseBook(book);
    ZAVReaderCursorFree(c);
}

// Once a table's keys are in memory, look-ups, suggestions and completions
// read them from there: the answers must be those read through the module.
TEST_F(ReaderTest, AnswersAreTheSameOnceKeysAreInMemory) {
    std::vector<Word> words;
    for (int i = 0; i < 500; ++i) words.push_back({"w" + std::to_string(i * 7919 % 503), "t" + std::to_string(i)});
    words.push_back({"Apfel", "apple"});
    words.push_back({"apfel", "kAF", kFoldAttribute});
    words.push_back({"\xc3\x84pfel", "apples"});
    std::string path = write("memory.zav", bookOf(words));
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);
    auto answers = [&] {
        std::vector<std::string> out;
        for (const char *w : {"w12", "APFEL", "w1x", "\xc3\xa4pfel", "w99"}) {
            for (ZAVReaderResult *r :
                 {ZAVReaderLookup(shelf_, nullptr, w, 0, nullptr), ZAVReaderSuggest(shelf_, nullptr, w, 8, nullptr),
                  ZAVReaderComplete(shelf_, nullptr, w, 8, nullptr)}) {
                for (size_t i = 0; i < ZAVReaderResultCount(r); ++i) {
                    const ZAVReaderAnswer *a = ZAVReaderResultAt(r, i);
                    out.push_back(std::string(a->headword) + "/" + a->key + "/" + std::to_string(a->page) + "/" +
                                  std::to_string(a->distance));
                }
                out.push_back("|");
                ZAVReaderResultFree(r);
            }
        }
        return out;
    };
    std::vector<std::string> before = answers();
    ASSERT_EQ(ZAVReaderPrepare(shelf_, nullptr), ZAVR_OK);
    ZAVReaderDatabaseInfo info{};
    ASSERT_EQ(ZAVReaderDatabase(shelf_, 0, &info), ZAVR_OK);
    ASSERT_GT(info.index_bytes, 0u);
    EXPECT_EQ(answers(), before);
    EXPECT_GT(before.size(), 20u);
}

TEST_F(ReaderTest, SuggestionsEndOnKeysThatAreNotUtf8) {
    // Latin-1 keys do not sort where their UTF-8 spelling would: the search
    // for near spellings must still move on (it once went round for ever).
    std::string path = write("latin.zav", bookOf({{"ba\xeek", "x"}, {"bank", "y"}, {"bark", "z"}}));
    ASSERT_EQ(ZAVReaderAdd(shelf_, path.c_str(), nullptr), 1);
    ZAVReaderResult *r = ZAVReaderSuggest(shelf_, nullptr, "ba\xc3\xaek", 5, nullptr);
    EXPECT_EQ(ZAVReaderResultStatus(r), ZAVR_OK);
    EXPECT_GT(ZAVReaderResultCount(r), 0u);
    ZAVReaderResultFree(r);
}

TEST_F(ReaderTest, ManyThreadsShareOneShelf) {
    std::vector<Word> words;
    for (int i = 0; i < 2000; ++i) words.push_back({"w" + std::to_string(i * 7919 % 2003), "t" + std::to_string(i)});
    write("a.zav", bookOf(words));
    write("b.zav", bookOf(words));
    ASSERT_EQ(ZAVReaderAdd(shelf_, dir_.string().c_str(), nullptr), 2);
    // Every thread looks up, matches and walks while the others do: the
    // first calls load the tables' keys, which happens once.
    std::vector<std::thread> threads;
    std::vector<int> wrong(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 200; ++i) {
                std::string word = "W" + std::to_string((t * 200 + i) * 7919 % 2003);
                ZAVReaderResult *r = ZAVReaderLookup(shelf_, "*", word.c_str(), 0, nullptr);
                if (ZAVReaderResultCount(r) != 2) ++wrong[t];
                ZAVReaderResultFree(r);
                r = ZAVReaderMatch(shelf_, "b", i % 2 ? "prefix" : "suffix", "w1", nullptr);
                if (ZAVReaderResultStatus(r) != ZAVR_OK || ZAVReaderResultCount(r) == 0) ++wrong[t];
                ZAVReaderResultFree(r);
            }
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(wrong, std::vector<int>(4, 0));
    ZAVReaderDatabaseInfo info;
    ASSERT_EQ(ZAVReaderDatabase(shelf_, 1, &info), ZAVR_OK);
    EXPECT_GT(info.index_bytes, 0u);
}

TEST(ReaderStems, LanguageOfAName) {
    struct Case {
        const char *name, *language;
    } cases[] = {{"German - English Ding/FreeDict dictionary ver. 1.9-fd1", "de"},
                 {"Deutsch-ελληνικά FreeDict+WikDict dictionary", "de"},
                 {"English-日本語 (にほんご) FreeDict+WikDict dictionary", "en"},
                 {"freedict-fra-eng", "fr"},
                 {"German words", ""},
                 {"The Collaborative International Dictionary of English v.0.48", ""},
                 {"xdeu-eng", ""},
                 {"deu-xyz", ""}};
    for (const Case &c : cases) EXPECT_EQ(zavreader::languageOfName(c.name), c.language) << c.name;
}

TEST(ReaderFold, CaseAndAccents) {
    struct Case {
        const char *text;
        int accents;
        const char *folded;
    } cases[] = {{"École", 0, "école"},    {"ÉCOLE", 1, "ecole"}, {"Straße", 0, "straße"},
                 {"Straße", 1, "strasse"}, {"ΆΣΟΣ", 1, "ασοσ"},   {"Ёж", 1, "еж"},
                 {"إِسلام", 1, "اسلام"},    {"كـتـاب", 1, "كتاب"}, {"\xff", 1, "\xff"}};
    for (const Case &c : cases) {
        char out[64];
        size_t n = ZAVReaderFold(c.text, c.accents, out, sizeof out);
        EXPECT_STREQ(out, c.folded) << c.text;
        EXPECT_EQ(n, std::string(c.folded).size());
    }
}

}  // namespace
