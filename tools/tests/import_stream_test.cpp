// Streamed imports: the streaming book writer against the in-memory one, an
// import whose definitions are shared by text or fail half-way (so that the
// pages are moved), and an import as a dictionary book served by the engine.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tool_test_support.h"
#include "zav/book_stream_writer.h"
#include "zav/book_writer.h"

using namespace tooltest;

namespace {

Result runZav(const std::vector<std::string> &args) { return run(ZAV_PROGRAM, args); }

struct Generated {
    zav::BookDesc desc;                          // the reference, for writeBook
    std::vector<zav::StreamTableDesc> streamed;  // the same table, for the streaming writer
    std::vector<std::string> pages;
};

// Enough keys and pages that the lists and the page move cross the writer's
// 1 MiB buffers; keys out of order, several keys per page, equal keys.
Generated generate() {
    Generated g;
    g.desc.kind = 2;
    g.desc.bookName = zav::StringListDesc{{1, "generated"}};
    g.desc.languages = std::vector<uint8_t>{1};
    zav::TableDesc table;
    table.name = zav::StringListDesc{{1, "table"}};
    table.locale = 1;
    table.autoPageToKey = true;
    g.streamed.emplace_back();
    g.streamed[0].name = table.name;
    g.streamed[0].locale = 1;
    g.streamed[0].autoPageToKey = true;
    uint32_t seed = 7;
    auto next = [&seed] { return seed = seed * 1103515245u + 12345u, seed >> 8; };
    const uint32_t pageCount = 30000;
    for (uint32_t p = 0; p < pageCount; ++p) {
        g.pages.push_back(std::string(next() % 200, static_cast<char>('a' + p % 26)) + std::to_string(p));
        g.desc.pages.push_back({g.pages.back(), {}});
        table.pageList.push_back(p);
    }
    for (uint32_t k = 0; k < 45000; ++k) {
        std::string word = "w" + std::to_string(next() % 20000);
        uint32_t page = next() % pageCount;
        uint8_t attribute = k % 5 == 0 ? 0x46 : 0;
        table.keys.push_back({word, page, 0, attribute, 0});
        EXPECT_TRUE(g.streamed[0].keys.add(word, page, attribute));
    }
    g.streamed[0].pageList = table.pageList;
    g.streamed[0].keys.sort();
    g.desc.pages.push_back({"description", {}});  // a page outside the table
    g.pages.push_back("description");
    g.desc.tables.push_back(table);
    return g;
}

}  // namespace

TEST(StreamWriter, SameBytesAsInMemoryWriter) {
    Generated g = generate();
    const std::vector<uint8_t> expected = zav::writeBookOrDie(g.desc).bytes;
    zav::BookDesc header = g.desc;
    header.pages.clear();
    header.tables.clear();
    const uint64_t exact = zav::BookStreamWriter::frontSize(header, g.streamed, uint32_t(g.pages.size()));
    // The pages start where they belong, too early (they move up) or too late
    // (they move down and the file is cut).
    for (uint64_t pagesAt : {exact, uint64_t{600}, exact + 3000000}) {
        std::string path = scratchPath("streamed.zav");
        int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
        ASSERT_GE(fd, 0);
        zav::BookStreamWriter writer(fd, 2, pagesAt);
        std::string error, back;
        for (const std::string &page : g.pages) ASSERT_TRUE(writer.addPage(page, &error)) << error;
        ASSERT_TRUE(writer.readPage(12345, &back, &error)) << error;
        EXPECT_EQ(back, g.pages[12345]);
        uint64_t size = 0;
        ASSERT_TRUE(writer.finish(header, g.streamed, &size, &error)) << error;
        ::close(fd);
        std::string bytes = slurp(path);
        EXPECT_EQ(size, bytes.size());
        EXPECT_TRUE(bytes == std::string(expected.begin(), expected.end())) << "pages written at " << pagesAt;
    }
}

TEST(ImportStream, SharedTextsAndFailedDefinitions) {
    // Equal texts at different places share a page; a definition that is not
    // valid UTF-8 is skipped after the pages were placed for it, so the
    // pages move; a headword with a Unicode case fold gets its folded key.
    std::string tsv;
    for (int i = 0; i < 3000; ++i) {
        tsv += "word" + std::to_string(i) + "\tshared text " + std::to_string(i % 100) + "\n";
        if (i % 500 == 0) tsv += "bad" + std::to_string(i) + "\tnot \xff utf-8\n";
    }
    tsv += "\xC3\x9C" "ber\tover\n";
    spill(scratchPath("shared.tsv"), tsv);
    std::string book = scratchPath("shared.zav");
    Result r = runZav({"import", "tsv", scratchPath("shared.tsv"), book});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_NE(r.out.find("101 pages, 3002 keys"), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("kept 3001 entries, skipped 6"), std::string::npos) << r.err;
    EXPECT_EQ(runZav({"check", book}).code, 0);
    Result a = runZav({"lookup", book, "word7"});
    Result b = runZav({"lookup", book, "word2907"});
    Result u = runZav({"lookup", book, "ÜBER"});
    EXPECT_NE(a.out.find("shared text 7\n"), std::string::npos) << a.all();
    EXPECT_NE(b.out.find("shared text 7\n"), std::string::npos) << b.all();
    EXPECT_NE(u.out.find("over"), std::string::npos) << u.all();
    EXPECT_EQ(runZav({"lookup", book, "bad500"}).code, 1);
}

TEST(ImportStream, DictionaryBookServedByTheEngine) {
    std::string dir = scratchPath("dictbook");
    std::filesystem::create_directories(dir + "/engine");
    spill(dir + "/words.tsv",
          "apple\ta fruit\npear\tanother fruit\npomme\ta fruit\nbanana\tyellow\nbandana\ta scarf\n");
    Result r = runZav({"import", "tsv", dir + "/words.tsv", dir + "/words.zav", "--dictionary-book", "--dict-dir",
                    dir + "/engine", "--dict-id", "0x00017701"});
    ASSERT_EQ(r.code, 0) << r.all();
    EXPECT_TRUE(std::filesystem::exists(dir + "/engine/00017701.zzd")) << r.out;
    setenv("ZOZIZID_DICT_DIR", (dir + "/engine").c_str(), 1);
    Result info = runZav({"info", dir + "/words.zav"});
    Result pomme = runZav({"lookup", dir + "/words.zav", "POMME"});
    Result wild = runZav({"spell", dir + "/words.zav", "wildcard", "ban?na"});
    Result fix = runZav({"spell", dir + "/words.zav", "correct", "banan"});
    unsetenv("ZOZIZID_DICT_DIR");
    EXPECT_NE(info.out.find("kind:             1"), std::string::npos) << info.all();
    EXPECT_NE(pomme.out.find("a fruit"), std::string::npos) << pomme.all();
    EXPECT_EQ(wild.out, "banana\n") << wild.all();
    EXPECT_NE(fix.out.find("banana"), std::string::npos) << fix.all();
}
