// Writes seed inputs of the fuzz targets into a folder: inputs of the book
// targets (the default): small books that hold every structure of the
// format, in each kind, with a dictionary file and a memo sidecar and a
// plan of calls (see book_input.h); or the first inputs of the dictionary
// and memo targets (an empty plan, then the file). The committed corpora
// were grown from these.
//
//   book_fuzz_seeds [--dict | --memo] FOLDER
#include <stdio.h>
#include <string.h>

#include <fstream>
#include <utility>
#include <string>
#include <vector>

#include "ZAVMemo_writer.h"
#include "ZoZizID_writer.h"
#include "zav/book_writer.h"

namespace {

zav::TableDesc plainTable(bool withCycle) {
    zav::TableDesc t;
    t.locale = 1;
    t.name = zav::StringListDesc{{1, "Glossary"}, {2, "\xB4\xCA\xBB\xE3"}};
    t.subs = {{7, zav::StringListDesc{{1, "Notes"}}}, {9, std::nullopt}};
    t.pageList = {0, 1, 2};
    t.keys = {{"able", 0, 0, 0},   {"bank@1", 1, 4, 0x80}, {"bank@2", 1, 9, 0x7F},
              {"Cat", 2, 0, 0xFF}, {"dog", 2, 3, 0},       {"\xB0\xA1", 2, 5, 1}};
    t.autoPageToKey = true;
    t.vpItems.resize(6);
    const char *captions[] = {"Contents", "Chapter 1", nullptr, "Chapter 2", "Section 1", nullptr};
    for (size_t i = 0; i < 6; ++i)
        t.vpItems[i].caption =
            captions[i] ? zav::StringListDesc{{1, captions[i]}} : zav::StringListDesc{{1, zav::kHiddenItemMarker}};
    zav::linkTree(t.vpItems, {0, 1, 1, 1, 2, 4});
    t.vpItems[4].pagePlusOne = 2;
    if (withCycle) t.vpItems[3].nextSibling = 2;
    t.pageToItem = {1, 5, 4};
    return t;
}

zav::BookDesc plainBook(uint32_t kind, bool withCycle) {
    zav::BookDesc b;
    b.kind = kind;
    b.version = 1;
    b.capsWord1 = 0x11;
    b.serial = 1234;
    b.positionId = 7;
    b.bookName = zav::StringListDesc{{1, "Seed book"}, {3, "\xAE\xD1"}};
    b.defCharAttr = std::vector<uint8_t>(84, 0x5A);
    b.exBookNo = std::string("EX-0001");
    b.languages = std::vector<uint8_t>{1, 2, 3};
    b.shelfLevels = std::vector<zav::BookDesc::ShelfLevel>{{10, zav::StringListDesc{{1, "Shelf"}}}, {20, std::nullopt}};
    for (int i = 0; i < 3; ++i) {
        zav::PageDesc p;
        p.data = "page " + std::to_string(i) + " text";
        if (kind == 4) p.links.assign(static_cast<size_t>(i), 0xABCD0000u + static_cast<uint32_t>(i));
        b.pages.push_back(p);
    }
    b.tables.push_back(plainTable(withCycle));
    b.tables.push_back(plainTable(false));
    return b;
}

zav::BookDesc dictionaryBook() {
    zav::BookDesc b;
    b.kind = 1;
    b.bookName = zav::StringListDesc{{1, "Seed dictionary"}};
    zav::TableDesc t;
    t.dictId = 0x00010001;
    t.appFlags = 3;
    t.name = zav::StringListDesc{{1, "Words"}};
    t.simpleName = zav::StringListDesc{{2, "W"}};
    t.dictLevels = {std::vector<uint8_t>(256, 1), std::nullopt};
    b.tables.push_back(t);
    return b;
}

// A dictionary with homographs, double-byte words, sub contents and an
// empty content.
std::vector<zozizid::DictWord> seedWords(uint32_t dictId) {
    using zozizid::subContentId;
    return {{"able", {{dictId, "able: having the power"}}},
            {"bank@1", {{dictId, "bank (1)"}, {subContentId(dictId, 1), "river bank"}}},
            {"bank@2", {{dictId, "bank (2)"}, {subContentId(dictId, 2), ""}}},
            {"Bank", {{dictId, "Bank"}}},
            {"  spaced ", {{dictId, "spaced"}}},
            {"\xB0\xA1\xB0\xA2", {{dictId, "\xB0\xA1"}, {0x12345678u, "other"}}},
            {"zebra", {}}};
}

bool saveInput(const std::string &path, const std::vector<uint8_t> &file) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.put(0);  // an empty plan: the target's default calls
    out.write(reinterpret_cast<const char *>(file.data()), static_cast<std::streamsize>(file.size()));
    return static_cast<bool>(out);
}

int writeTargetSeeds(const std::string &kind, const std::string &folder) {
    std::vector<uint8_t> file;
    std::string error;
    bool ok = false;
    if (kind == "--dict") {
        ok = zozizid::buildDictionary(0x00010001u, seedWords(0x00010001u), &file, &error) &&
             saveInput(folder + "/words.in", file) &&
             zozizid::buildDictionary(0x00020002u, {{"x", {{0x00020002u, "only"}}}}, &file, &error) &&
             saveInput(folder + "/single.in", file);
    } else {
        ok = zavmemo::buildMemoFile({{0, "first"}, {0, "second"}, {1, ""}, {3, "last page"}, {7, "past the book"}},
                                    &file, &error) &&
             saveInput(folder + "/memos.in", file) && zavmemo::buildMemoFile({}, &file, &error) &&
             saveInput(folder + "/empty.in", file);
    }
    if (!ok) fprintf(stderr, "%s: %s\n", kind.c_str(), error.empty() ? "cannot write" : error.c_str());
    return ok ? 0 : 1;
}

// The input of the book targets: a plan (flags, the dictionary's and the
// sidecar's lengths, then `calls` pseudo-random call bytes), the book, the
// dictionary, the sidecar.
bool saveBookInput(const std::string &path, const std::vector<uint8_t> &book, const std::vector<uint8_t> &dictionary,
                   const std::vector<uint8_t> &memo, size_t calls) {
    std::vector<uint8_t> plan = {0};
    for (size_t length : {dictionary.size(), memo.size()})
        for (int i = 0; i < 4; ++i) plan.push_back(static_cast<uint8_t>(length >> (8 * i)));
    uint32_t state = 0x2545F491u;
    for (size_t i = 0; i < calls; ++i) {
        state = state * 1103515245u + 12345u;
        plan.push_back(static_cast<uint8_t>(state >> 16));
    }
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.put(static_cast<char>(plan.size()));
    for (const std::vector<uint8_t> *part : {&std::as_const(plan), &book, &dictionary, &memo})
        out.write(reinterpret_cast<const char *>(part->data()), static_cast<std::streamsize>(part->size()));
    return static_cast<bool>(out);
}

}  // namespace

int main(int argc, char **argv) {
    if (argc == 3 && (strcmp(argv[1], "--dict") == 0 || strcmp(argv[1], "--memo") == 0))
        return writeTargetSeeds(argv[1], argv[2]);
    if (argc != 2) {
        fprintf(stderr, "usage: %s [--dict | --memo] FOLDER\n", argv[0]);
        return 2;
    }
    std::string folder = argv[1];
    struct Seed {
        const char *name;
        zav::BookDesc desc;
    } seeds[] = {
        {"plain.book", plainBook(2, false)},
        {"prefixed.book", plainBook(4, false)},
        {"cyclic.book", plainBook(2, true)},
        {"dictionary.book", dictionaryBook()},
    };
    std::vector<uint8_t> dictionary, memo;
    std::string error;
    if (!zozizid::buildDictionary(0x00010001u, seedWords(0x00010001u), &dictionary, &error) ||
        !zavmemo::buildMemoFile({{0, "first"}, {0, "second"}, {2, "last page"}}, &memo, &error)) {
        fprintf(stderr, "%s\n", error.c_str());
        return 1;
    }
    const size_t kCalls[] = {0, 120, 0, 200};
    size_t n = 0;
    for (const auto &seed : seeds) {
        zav::WrittenBook book;
        bool isDictionary = seed.desc.kind == 1;
        if (!zav::writeBook(seed.desc, &book, &error) ||
            !saveBookInput(folder + "/" + seed.name, book.bytes, isDictionary ? dictionary : std::vector<uint8_t>(),
                           isDictionary ? std::vector<uint8_t>() : memo, kCalls[n++])) {
            fprintf(stderr, "%s: %s\n", seed.name, error.empty() ? "cannot write" : error.c_str());
            return 1;
        }
    }
    return 0;
}
