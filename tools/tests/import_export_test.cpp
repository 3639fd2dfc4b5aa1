// Imports that meet real data (bad lines, byte-order marks, other encodings,
// StarDict files) and exports back to tsv, dictd and StarDict, run through
// the zav program as a user runs it.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tool_test_support.h"

namespace {

namespace fs = std::filesystem;
using namespace tooltest;

Result zav(const std::vector<std::string> &args) { return run(ZAV_PROGRAM, args); }

bool found(const std::string &book, const std::string &word, const std::string &text) {
    Result r = zav({"lookup", book, word});
    return r.code == 0 && r.out.find(text) != std::string::npos;
}

// ---------------------------------------------------------------------------

TEST(TolerantImport, BadLinesSkippedAndNamedEveryKeptWordFound) {
    std::string tsv = scratchPath("rough.tsv");
    spill(tsv, std::string("\xEF\xBB\xBF") +
                   "first\tafter the mark\n"
                   "\tno headword\n"
                   "   \tonly spaces\n" +
                   std::string("zero\0byte\tx\n", 12) +
                   "bad\xC3(\tnot UTF-8\n"
                   "notab\n"
                   "caf\xC3\xA9\tcoffee\n");
    std::string book = scratchPath("rough.zav");
    Result r = zav({"import", "tsv", tsv, book});
    ASSERT_EQ(r.code, 0) << r.err;
    for (const char *line :
         {":2: the headword is empty", ":3: the headword is only spaces", ":4: the line holds a zero byte",
          ":5: the headword is not valid UTF-8", ":6: expected WORD<TAB>DEFINITION"})
        EXPECT_NE(r.err.find("rough.tsv" + std::string(line)), std::string::npos) << line << "\n" << r.err;
    EXPECT_NE(r.err.find("kept 2 entries, skipped 5"), std::string::npos) << r.err;
    EXPECT_TRUE(found(book, "first", "after the mark"));
    EXPECT_TRUE(found(book, "caf\xC3\xA9", "coffee"));

    Result strict = zav({"import", "tsv", tsv, scratchPath("strict.zav"), "--strict"});
    EXPECT_EQ(strict.code, 1);
    EXPECT_NE(strict.err.find("rough.tsv:2: the headword is empty"), std::string::npos) << strict.err;
    EXPECT_FALSE(fs::exists(scratchPath("strict.zav")));
}

TEST(TolerantImport, OtherEncodingConvertedToUtf8) {
    std::string tsv = scratchPath("latin1.tsv");
    spill(tsv,
          "caf\xE9\tboisson \xE0 base de caf\xE9\n\xFC"
          "ber\tover\n");
    std::string book = scratchPath("latin1.zav");
    ASSERT_EQ(zav({"import", "tsv", tsv, book, "--encoding", "LATIN1"}).code, 0);
    EXPECT_TRUE(found(book, "caf\xC3\xA9", "boisson \xC3\xA0 base"));
    EXPECT_TRUE(found(book,
                      "\xC3\xBC"
                      "ber",
                      "over"));
    // Without the encoding the Latin-1 lines are not taken as UTF-8.
    Result plain = zav({"import", "tsv", tsv, scratchPath("latin1-plain.zav")});
    EXPECT_NE(plain.err.find("kept 0 entries, skipped 2"), std::string::npos) << plain.err;
    EXPECT_EQ(zav({"import", "tsv", tsv, scratchPath("x.zav"), "--encoding", "NO-SUCH-CODE"}).code, 2);
}

TEST(SafeOutput, OutputThatIsAnInputIsRefused) {
    std::string tsv = scratchPath("same.tsv");
    const std::string words = "one\tfirst\ntwo\tsecond\n";
    spill(tsv, words);
    fs::create_symlink(tsv, scratchPath("link.zav"));
    for (const std::string &out : {tsv, scratchPath("link.zav"), scratchPath("./same.tsv")}) {
        Result r = zav({"import", "tsv", tsv, out});
        EXPECT_EQ(r.code, 2) << out;
        EXPECT_NE(r.err.find("refusing to write over it"), std::string::npos) << r.err;
        EXPECT_EQ(slurp(tsv), words);
    }
    std::string book = scratchPath("same.zav");
    ASSERT_EQ(zav({"import", "tsv", tsv, book, "--quiet"}).code, 0);
    EXPECT_EQ(zav({"export", "dictd", book, scratchPath("same.zav.index")}).code, 0);  // a different file
    EXPECT_EQ(zav({"export", "tsv", book, book}).code, 2);
    EXPECT_EQ(zav({"check", book}).code, 0);
}

// The files of a folder, but the ones named.
std::vector<std::string> filesIn(const std::string &folder, const std::vector<std::string> &but) {
    std::vector<std::string> names;
    for (const auto &entry : fs::directory_iterator(folder)) {
        std::string name = entry.path().filename().string();
        if (std::find(but.begin(), but.end(), name) == but.end()) names.push_back(name);
    }
    return names;
}

// A word list long enough that a command on it writes its output in many steps.
std::string longWordList(const std::string &folder) {
    std::string tsv = folder + "/long.tsv";
    std::string text;
    for (long long i = 0; i < 40000; ++i)
        text += "word" + std::to_string(i * 7919 % 40000) + "\tdefinition " + std::to_string(i) + "\n";
    spill(tsv, text);
    return tsv;
}

// Stops `pid` (SIGSTOP) once it holds open, in `folder`, an unnamed output
// file with at least `bytes` written to it, before it starts to link its
// outputs in; false when the process ends first. Stopped (waited for), it
// cannot finish between the look and the signal that follows.
bool stopWhileWriting(pid_t pid, const std::string &folder, off_t bytes) {
    const std::string fds = "/proc/" + std::to_string(pid) + "/fd";
    for (int tries = 0; tries < 60000; ++tries) {
        int status = 0;
        if (kill(pid, SIGSTOP) != 0 || waitpid(pid, &status, WUNTRACED) != pid || !WIFSTOPPED(status)) return false;
        bool writing = false, linking = false;
        std::error_code ec;
        for (const auto &fd : fs::directory_iterator(fds, ec)) {
            std::string target = fs::read_symlink(fd.path(), ec).string();
            if (ec || target.rfind(folder + "/", 0) != 0) continue;
            struct stat st {};
            if (target.find(".zav-tmp-") != std::string::npos) linking = true;
            if (target.size() > 10 && target.compare(target.size() - 10, 10, " (deleted)") == 0 &&
                stat(fd.path().c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size >= bytes)
                writing = true;
        }
        if (writing && !linking) return true;
        kill(pid, SIGCONT);
        usleep(1000);
    }
    return false;
}

// A command stopped by a signal in the middle of writing leaves the old
// output as it was and no temporary file, even under SIGKILL.
TEST(SafeOutput, StoppedCommandsLeaveTheOldOutputAndNoTemporary) {
    std::string folder = scratchPath("stopped");
    fs::create_directory(folder);
    std::string tsv = longWordList(folder), book = folder + "/long.zav";
    ASSERT_EQ(zav({"import", "tsv", tsv, book, "--quiet"}).code, 0);
    const std::string bookBytes = slurp(book);
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> outputs;
        int signal;
        off_t written;  // bytes of an output written when the signal comes
    } cases[] = {
        {{"import", "tsv", tsv, folder + "/out.zav"}, {"out.zav"}, SIGTERM, 1},
        {{"import", "tsv", tsv, folder + "/out.zav"}, {"out.zav"}, SIGKILL, 1},
        {{"import", "tsv", tsv, folder + "/out.zav"}, {"out.zav"}, SIGKILL, 256 << 10},
        {{"export", "stardict", book, folder + "/out"}, {"out.ifo", "out.idx", "out.dict.dz"}, SIGKILL, 1},
        {{"export", "dictd", book, folder + "/out"}, {"out.index", "out.dict.dz"}, SIGKILL, 32 << 10},
    };
    std::vector<std::string> kept = {"long.tsv", "long.zav"};
    for (const Case &c : cases) kept.insert(kept.end(), c.outputs.begin(), c.outputs.end());
    for (const Case &c : cases) {
        for (const std::string &o : c.outputs) spill(folder + "/" + o, "the file that was there");
        pid_t pid = spawn(ZAV_PROGRAM, c.args, scratchPath("stopped-run"));
        EXPECT_TRUE(stopWhileWriting(pid, folder, c.written))
            << c.args[0] << " " << c.args[1] << " ended before writing " << c.written << " bytes";
        kill(pid, c.signal);
        kill(pid, SIGCONT);
        Result r = finish(pid, scratchPath("stopped-run"));
        EXPECT_EQ(r.code, 128 + c.signal) << c.args[0] << " " << c.args[1];
        for (const std::string &o : c.outputs)
            EXPECT_TRUE(slurp(folder + "/" + o) == "the file that was there") << o << " was replaced";
        EXPECT_EQ(filesIn(folder, kept), std::vector<std::string>()) << c.args[0] << " " << c.args[1];
    }
    EXPECT_TRUE(slurp(book) == bookBytes) << "the input book changed";
}

// Where the system offers no unnamed files, a temporary has a name, and the
// next run removes those that no live process holds.
TEST(SafeOutput, StaleTemporariesAreRemovedAndLiveOnesKept) {
    std::string folder = scratchPath("stale");
    fs::create_directory(folder);
    std::string tsv = folder + "/w.tsv";
    spill(tsv, "one\tfirst\n");
    const std::string stale = folder + "/.w.zav.zav-tmp-AbC123", live = folder + "/.w.zav.zav-tmp-XyZ789";
    spill(stale, "left by a run that was killed");
    spill(live, "written by a run that is alive");
    pid_t holder = spawn("flock", {live, "sleep", "30"}, scratchPath("holder"));
    for (int i = 0; i < 100 && run("flock", {"-n", live, "true"}).code == 0; ++i) usleep(20000);
    setenv("ZAV_TEST_NAMED_TEMPORARIES", "1", 1);
    Result r = zav({"import", "tsv", tsv, folder + "/w.zav", "--quiet"});
    unsetenv("ZAV_TEST_NAMED_TEMPORARIES");
    kill(holder, SIGTERM);
    finish(holder, scratchPath("holder"));
    EXPECT_EQ(r.code, 0) << r.err;
    EXPECT_FALSE(fs::exists(stale));
    EXPECT_TRUE(fs::exists(live));
    EXPECT_EQ(filesIn(folder, {"w.tsv", "w.zav", ".w.zav.zav-tmp-XyZ789"}), std::vector<std::string>());
}

// What OUT is decides how it is written: a regular file is replaced, a link
// is followed, a FIFO or a character device is written in place, "-" is
// standard output for the formats of one file, and anything else is refused.
TEST(SafeOutput, EachKindOfTarget) {
    std::string folder = scratchPath("targets");
    fs::create_directory(folder);
    std::string tsv = folder + "/w.tsv", book = folder + "/w.zav";
    const std::string words = "00-database-short\tw\none\tfirst\ntwo\tsecond\n";
    spill(tsv, words);
    ASSERT_EQ(zav({"import", "tsv", tsv, book, "--quiet"}).code, 0);
    // A link, and a link whose file is not there yet: the files they name are written.
    fs::create_symlink("real.tsv", folder + "/link.tsv");
    fs::create_symlink("later.tsv", folder + "/dangling.tsv");
    for (const char *link : {"link.tsv", "dangling.tsv"}) {
        ASSERT_EQ(zav({"export", "tsv", book, folder + "/" + link, "--quiet"}).code, 0) << link;
        EXPECT_TRUE(fs::is_symlink(folder + "/" + link)) << link;
    }
    EXPECT_EQ(slurp(folder + "/real.tsv"), words);
    EXPECT_EQ(slurp(folder + "/later.tsv"), words);
    // A FIFO gets the text in place; standard output too.
    ASSERT_EQ(mkfifo((folder + "/fifo").c_str(), 0600), 0);
    pid_t reader = spawn("cat", {folder + "/fifo"}, scratchPath("fifo-reader"));
    EXPECT_EQ(zav({"export", "tsv", book, folder + "/fifo", "--quiet"}).code, 0);
    EXPECT_EQ(finish(reader, scratchPath("fifo-reader")).out, words);
    EXPECT_TRUE(fs::is_fifo(folder + "/fifo"));
    EXPECT_EQ(zav({"export", "tsv", book, "-", "--quiet"}).out, words);
    Result toStdout = zav({"import", "tsv", tsv, "-"});
    EXPECT_EQ(toStdout.out, slurp(book));
    EXPECT_NE(toStdout.err.find("wrote -:"), std::string::npos) << toStdout.err;
    // A character device stays one.
    EXPECT_EQ(zav({"export", "tsv", book, "/dev/null", "--quiet"}).code, 0);
    EXPECT_TRUE(fs::is_character_file("/dev/null"));
    // Refused before anything is written.
    fs::create_directory(folder + "/dir");
    for (const std::vector<std::string> &args : {std::vector<std::string>{"export", "tsv", book, folder + "/dir"},
                                                 std::vector<std::string>{"import", "tsv", tsv, folder + "/dir"},
                                                 std::vector<std::string>{"export", "dictd", book, "-"}}) {
        Result r = zav(args);
        EXPECT_EQ(r.code, 2) << args[3] << r.err;
    }
    EXPECT_TRUE(fs::is_empty(folder + "/dir"));
    EXPECT_FALSE(fs::exists("-.index"));
}

// dictd's entries about the dictionary, in the spellings Debian's packages
// use: with or without hyphens, with or without the headword line that
// dictfmt writes at the start of the text.
TEST(DictdImport, DatabaseEntriesDescribeTheBookAndAreNotKeys) {
    struct Case {
        const char *shortName, *info, *shortText, *infoText;
    } cases[] = {
        {"00-database-short", "00-database-info", "00-database-short\n     Small Words\n", "A test.\n  indented\n"},
        {"00databaseshort", "00databaseinfo", "00-database-short\n     Small Words\n",
         "00-database-info\n    A test.\n      indented\n"},
        {"00databaseshort", "00-database-info", "Small Words", "\nA test.\n  indented"},
    };
    for (const Case &c : cases) {
        std::string stem = scratchPath("meta");
        std::string dict = std::string(c.shortText) + c.infoText + "word\nits meaning\n";
        auto number = [](size_t v) {  // dictd's base 64
            const char *digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
            std::string out;
            do out.insert(out.begin(), digits[v % 64]), v /= 64;
            while (v);
            return out;
        };
        size_t a = std::strlen(c.shortText), b = std::strlen(c.infoText);
        spill(stem + ".dict", dict);
        const std::string word = "word\t" + number(a + b) + "\t" + number(dict.size() - a - b) + "\n";
        spill(stem + ".index", std::string(c.shortName) + "\tA\t" + number(a) + "\n" + c.info + "\t" + number(a) +
                                   "\t" + number(b) + "\n00databasealphabet\tA\tB\n" + word + word + "\n");
        std::string book = scratchPath("meta.zav");
        Result r = zav({"import", "dictd", stem + ".index", book});
        ASSERT_EQ(r.code, 0) << r.err;
        // Every line read is counted once, and the repeated one is named.
        EXPECT_NE(
            r.err.find("read 6 index lines: kept 1 entries, 3 about the dictionary, merged 1, skipped 0, 1 blank"),
            std::string::npos)
            << r.err;
        EXPECT_NE(r.err.find("meta.index:5: the same headword and definition as line 4; merged"), std::string::npos)
            << r.err;
        EXPECT_EQ(zav({"keys", book}).out, "0\tword\tpage 0\toffset 0\tattribute 0\n");
        nlohmann::json about = nlohmann::json::parse(zav({"info", book, "--json"}).out)["about"];
        EXPECT_EQ(about, nlohmann::json({{"name", "Small Words"}, {"description", "A test.\n  indented"}}))
            << c.shortName << " " << c.info;
    }
}

// ---------------------------------------------------------------------------
// StarDict files made here.

std::string bigEndian(uint64_t v, int bytes) {
    std::string out;
    for (int i = bytes - 1; i >= 0; --i) out += static_cast<char>(v >> (8 * i) & 0xFF);
    return out;
}

void gzipTo(const std::string &path, const std::string &data) {
    gzFile gz = gzopen(path.c_str(), "wb9");
    gzwrite(gz, data.data(), static_cast<unsigned>(data.size()));
    gzclose(gz);
}

struct StarEntry {
    std::string word, data;
};

// OUT.ifo, .idx.gz (64-bit offsets when asked), .dict.dz (plain gzip) and .syn.
void writeStardict(const std::string &stem, const std::string &options, const std::vector<StarEntry> &entries,
                   bool offsets64, const std::vector<std::pair<std::string, uint32_t>> &synonyms) {
    std::string idx, dict, syn;
    for (const StarEntry &e : entries) {
        idx += e.word + '\0' + bigEndian(dict.size(), offsets64 ? 8 : 4) + bigEndian(e.data.size(), 4);
        dict += e.data;
    }
    for (const auto &s : synonyms) syn += s.first + '\0' + bigEndian(s.second, 4);
    spill(stem + ".ifo",
          "StarDict's dict ifo file\nversion=3.0.0\nbookname=Star Test\nwordcount=" + std::to_string(entries.size()) +
              "\nidxfilesize=" + std::to_string(idx.size()) + "\n" + (offsets64 ? "idxoffsetbits=64\n" : "") + options);
    gzipTo(stem + ".idx.gz", idx);
    gzipTo(stem + ".dict.dz", dict);
    if (!synonyms.empty()) spill(stem + ".syn", syn);
}

TEST(StardictImport, TypesMarkupSynonymsAndWideOffsets) {
    std::string stem = scratchPath("star");
    writeStardict(stem, "",
                  {{"apple", std::string("m") + "a fruit" + '\0' + "t" + "ap-l" + '\0'},
                   {"bold", std::string("h") + "<b>strong</b> &amp; <i>plain</i><br>next&nbsp;line" + '\0'},
                   {"sound", std::string("W") + bigEndian(3, 4) + "RIF" + "m" + "a noise" + '\0'},
                   {"", std::string("m") + "lost" + '\0'}},
                  true, {{"pomme", 0}, {"far", 7}});
    std::string book = scratchPath("star.zav");
    Result r = zav({"import", "stardict", stem + ".ifo", book});
    ASSERT_EQ(r.code, 0) << r.err;
    EXPECT_NE(r.err.find("star.idx.gz:4: the headword is empty"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("star.syn:2: the synonym points at entry 7"), std::string::npos) << r.err;
    EXPECT_TRUE(found(book, "apple", "a fruit\n[ap-l]"));
    EXPECT_TRUE(found(book, "pomme", "a fruit\n[ap-l]"));
    EXPECT_TRUE(found(book, "bold", "strong & plain\nnext\xC2\xA0line"));
    EXPECT_TRUE(found(book, "sound", "a noise"));
    EXPECT_NE(zav({"info", book}).out.find("\"Star Test\""), std::string::npos);
    Result kept = zav({"import", "stardict", stem + ".ifo", scratchPath("markup.zav"), "--keep-markup", "--quiet"});
    EXPECT_TRUE(found(scratchPath("markup.zav"), "bold", "<b>strong</b> &amp; <i>plain</i>"));
}

TEST(StardictImport, SameTypeSequence) {
    std::string stem = scratchPath("seq");
    writeStardict(stem, "sametypesequence=tg\n",
                  {{"cat", std::string("kat") + '\0' + "<span foreground=\"red\">animal</span>\n  purrs"}}, false, {});
    std::string book = scratchPath("seq.zav");
    ASSERT_EQ(zav({"import", "stardict", stem + ".ifo", book, "--quiet"}).code, 0);
    EXPECT_TRUE(found(book, "cat", "[kat]\nanimal\n  purrs"));
}

// ---------------------------------------------------------------------------
// Exports

std::string roundTripSource() {
    std::string tsv = scratchPath("source.tsv");
    spill(tsv,
          "Bank\tmoney\\nhouse\nbank\triver side\nshore\triver side\nback\\slash\ta \\\\ b\ttab\n"
          "\xC3\xA9t\xC3\xA9\tsummer\n\xC3\x89T\xC3\x89\tseason\ncr\tends in\\r\n");
    std::string book = scratchPath("source.zav");
    EXPECT_EQ(zav({"import", "tsv", tsv, book, "--quiet", "--name", "Round"}).code, 0);
    return book;
}

TEST(Export, TsvRoundTripIsByteIdentical) {
    std::string book = roundTripSource();
    ASSERT_EQ(zav({"export", "tsv", book, scratchPath("one.tsv"), "--quiet"}).code, 0);
    ASSERT_EQ(zav({"import", "tsv", scratchPath("one.tsv"), scratchPath("one.zav"), "--quiet"}).code, 0);
    ASSERT_EQ(zav({"export", "tsv", scratchPath("one.zav"), scratchPath("two.tsv"), "--quiet"}).code, 0);
    EXPECT_EQ(slurp(scratchPath("one.tsv")), slurp(scratchPath("two.tsv")));
    EXPECT_NE(slurp(scratchPath("one.tsv")).find("shore\triver side\n"), std::string::npos);
    // The name, then each headword once, as stored: the key added for the
    // fold of "ÉTÉ" is not a line of its own.
    std::string one = slurp(scratchPath("one.tsv"));
    EXPECT_EQ(std::count(one.begin(), one.end(), '\n'), 8) << one;
    EXPECT_EQ(one.rfind("00-database-short\tRound\n", 0), 0u) << one;
    EXPECT_NE(one.find("\xC3\x89T\xC3\x89\tseason\n"), std::string::npos) << one;
}

// The same words as a dictionary book, served by the engine, export to the
// same lines: the keys added for case folds are left out there too.
TEST(Export, DictionaryBookGivesTheSameWordList) {
    std::string book = roundTripSource();
    ASSERT_EQ(zav({"export", "tsv", book, scratchPath("plain.tsv"), "--quiet"}).code, 0);
    std::string dictionary = scratchPath("served.zav");
    ASSERT_EQ(
        zav({"import", "tsv", scratchPath("source.tsv"), dictionary, "--dictionary-book", "--quiet", "--name", "Round"})
            .code,
        0);
    ASSERT_EQ(zav({"export", "tsv", dictionary, scratchPath("served.tsv"), "--quiet"}).code, 0);
    EXPECT_EQ(slurp(scratchPath("served.tsv")), slurp(scratchPath("plain.tsv")));
}

// The dictd export keeps every headword as stored: the first column is the
// form dictd searches (lower case), the fourth the headword itself.
TEST(Export, DictdKeepsHeadwordsAndReimportsTheSameBook) {
    std::string book = roundTripSource();
    ASSERT_EQ(zav({"export", "dictd", book, scratchPath("out"), "--quiet"}).code, 0);
    std::string index = slurp(scratchPath("out.index"));
    EXPECT_NE(index.find("00-database-utf8\t"), std::string::npos) << index;
    EXPECT_NE(index.find("\nbank\t"), std::string::npos) << index;
    EXPECT_NE(index.find("\tBank\n"), std::string::npos) << index;
    ASSERT_EQ(zav({"import", "dictd", scratchPath("out.index"), scratchPath("out.zav"), "--quiet"}).code, 0);
    ASSERT_EQ(zav({"export", "tsv", book, scratchPath("a.tsv"), "--quiet"}).code, 0);
    ASSERT_EQ(zav({"export", "tsv", scratchPath("out.zav"), scratchPath("b.tsv"), "--quiet"}).code, 0);
    EXPECT_EQ(slurp(scratchPath("a.tsv")), slurp(scratchPath("b.tsv")));
}

// The chunks of a dictzip file, each inflated on its own (empty when one
// does not inflate alone), and the bytes after the last one.
std::vector<std::string> dictzipChunks(const std::string &dz, std::string *after) {
    auto le16 = [&](size_t at) {
        return static_cast<size_t>(static_cast<unsigned char>(dz[at]) | static_cast<unsigned char>(dz[at + 1]) << 8);
    };
    size_t at = 12 + le16(10), count = le16(20);
    std::vector<std::string> chunks;
    for (size_t c = 0; c < count; ++c) {
        size_t size = le16(22 + 2 * c);
        std::string out(65536, '\0');
        z_stream z{};
        inflateInit2(&z, -MAX_WBITS);
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(dz.data() + at));
        z.avail_in = static_cast<uInt>(size);
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        int rc = inflate(&z, Z_SYNC_FLUSH);
        out.resize(rc == Z_OK && z.avail_in == 0 ? out.size() - z.avail_out : 0);
        inflateEnd(&z);
        chunks.push_back(out);
        at += size;
    }
    *after = dz.substr(at);
    return chunks;
}

// Every chunk inflates on its own, the last one too, and the stream ends
// after the chunks as dictzip's own files do: an empty final block, the
// CRC and the size. dictzip reads the data back whole and from the last chunk.
TEST(Export, DictzipChunksInflateAlone) {
    const size_t kChunk = 58315;
    for (size_t size : {size_t{900}, kChunk, 2 * kChunk, 2 * kChunk + 7001}) {
        std::string text;
        for (uint32_t x = static_cast<uint32_t>(size); text.size() < size;) {
            x = x * 1103515245 + 12345;
            text += static_cast<char>('a' + (x >> 16) % 26);
            if ((x >> 8) % 7 == 0) text += ' ';
        }
        text.resize(size);
        spill(scratchPath("chunks.tsv"), "word\t" + text + "\n");
        ASSERT_EQ(zav({"import", "tsv", scratchPath("chunks.tsv"), scratchPath("chunks.zav"), "--quiet"}).code, 0);
        ASSERT_EQ(zav({"export", "stardict", scratchPath("chunks.zav"), scratchPath("chunks"), "--quiet"}).code, 0);
        std::string dz = slurp(scratchPath("chunks.dict.dz")), after, joined;
        std::vector<std::string> chunks = dictzipChunks(dz, &after);
        ASSERT_EQ(chunks.size(), (size + kChunk - 1) / kChunk) << size;
        for (size_t c = 0; c < chunks.size(); ++c) {
            EXPECT_EQ(chunks[c].size(), c + 1 < chunks.size() ? kChunk : size - c * kChunk) << size << " " << c;
            joined += chunks[c];
        }
        EXPECT_EQ(joined, text) << size;
        uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(text.data()), text.size());
        auto le32 = [](uint64_t v) {
            std::string b = bigEndian(v, 4);
            return std::string(b.rbegin(), b.rend());
        };
        EXPECT_EQ(after, std::string("\x03\x00", 2) + le32(crc) + le32(size)) << size;
        Result test = run("dictzip", {"-t", scratchPath("chunks.dict.dz")});
        ASSERT_NE(test.code, 127) << "dictzip is not installed (scripts/deps.sh installs it)";
        EXPECT_EQ(test.code, 0) << size << " dictzip -t: " << test.err;
        EXPECT_EQ(run("dictzip", {"-dc", scratchPath("chunks.dict.dz")}).out, text) << size;
        size_t from = size - 100;
        EXPECT_EQ(run("dictzip", {"-dc", "-s", std::to_string(from), "-e", "100", scratchPath("chunks.dict.dz")}).out,
                  text.substr(from))
            << size;
    }
}

// A dictzip file of `data` in chunks of `chunk` bytes; with `endInLastChunk`
// the stream ends inside the last chunk, as the tool's exports once did.
void writeDictzip(const std::string &path, const std::string &data, size_t chunk, bool endInLastChunk) {
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY);
    std::string body, sizes, out(2 * chunk + 64, '\0');
    auto step = [&](const char *in, size_t n, int flush) {
        z.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(in));
        z.avail_in = static_cast<uInt>(n);
        z.next_out = reinterpret_cast<Bytef *>(out.data());
        z.avail_out = static_cast<uInt>(out.size());
        deflate(&z, flush);
        return out.substr(0, out.size() - z.avail_out);
    };
    auto le16 = [](size_t v) { return std::string{static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; };
    for (size_t at = 0; at < data.size(); at += chunk) {
        bool last = at + chunk >= data.size();
        std::string c =
            step(data.data() + at, std::min(chunk, data.size() - at), last && endInLastChunk ? Z_FINISH : Z_FULL_FLUSH);
        body += c;
        sizes += le16(c.size());
    }
    if (!endInLastChunk) body += step(nullptr, 0, Z_FINISH);
    deflateEnd(&z);
    uLong crc = crc32(crc32(0, nullptr, 0), reinterpret_cast<const Bytef *>(data.data()), data.size());
    std::string head = std::string("\x1F\x8B\x08\x04\0\0\0\0\x02\x03", 10) + le16(10 + sizes.size()) + "RA" +
                       le16(6 + sizes.size()) + le16(1) + le16(chunk) + le16(sizes.size() / 2) + sizes;
    spill(path,
          head + body + le16(crc & 0xFFFF) + le16(crc >> 16) + le16(data.size() & 0xFFFF) + le16(data.size() >> 16));
}

// Imports read dictzip files whose stream ends after the last chunk (as
// dictzip writes them) and those whose last chunk ends it (the tool's own
// older exports), every chunk.
TEST(DictdImport, DictzipEitherEnding) {
    auto number = [](size_t v) {  // dictd's base 64
        std::string out;
        do out.insert(out.begin(), "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/"[v % 64]), v /= 64;
        while (v);
        return out;
    };
    std::string data, index;
    for (int i = 0; i < 300; ++i) {
        std::string text = "text of entry " + std::to_string(i) + "\n";
        index += "w" + std::to_string(i) + "\t" + number(data.size()) + "\t" + number(text.size()) + "\n";
        data += text;
    }
    for (bool endInLastChunk : {false, true}) {
        std::string stem = scratchPath(endInLastChunk ? "old" : "new");
        writeDictzip(stem + ".dict.dz", data, 1000, endInLastChunk);
        spill(stem + ".index", index);
        ASSERT_EQ(zav({"import", "dictd", stem + ".index", stem + ".zav", "--quiet"}).code, 0) << endInLastChunk;
        ASSERT_EQ(zav({"export", "tsv", stem + ".zav", stem + ".tsv", "--quiet"}).code, 0);
        std::string tsv = slurp(stem + ".tsv");
        EXPECT_NE(tsv.find("w0\ttext of entry 0\\n\n"), std::string::npos) << endInLastChunk;
        EXPECT_NE(tsv.find("w299\ttext of entry 299\\n\n"), std::string::npos) << endInLastChunk;
        EXPECT_EQ(std::count(tsv.begin(), tsv.end(), '\n'), 301) << tsv.substr(0, 200);  // the name line too
    }
}

TEST(Export, StardictEveryKeyUnderItsOwnName) {
    std::string book = roundTripSource();
    fs::create_directory(scratchPath("sd"));
    spill(scratchPath("sd/round.syn"), "stale");  // an earlier export's is removed
    ASSERT_EQ(zav({"export", "stardict", book, scratchPath("sd/round"), "--quiet"}).code, 0);
    EXPECT_FALSE(fs::exists(scratchPath("sd/round.syn")));
    std::vector<std::pair<std::string, std::string>> expected = {
        {"Bank", "money\nhouse"}, {"bank", "river side"}, {"shore", "river side"}, {"\xC3\xA9t\xC3\xA9", "summer"}};
    for (const auto &e : expected) {
        // HOME is the scratch folder: sdcv keeps a history of the words asked there.
        Result r = run("env", {"HOME=" + scratchPath("sd"), "XDG_CACHE_HOME=" + scratchPath("sd"), "sdcv", "-2",
                               scratchPath("sd"), "-x", "-n", "-e", "-j", e.first});
        ASSERT_NE(r.code, 127) << "sdcv is not installed (scripts/deps.sh installs it)";
        nlohmann::json hits = nlohmann::json::parse(r.out);
        ASSERT_EQ(hits.size(), 1u) << r.out;
        EXPECT_EQ(hits[0]["word"], e.first);
        EXPECT_EQ(hits[0]["definition"], "\n" + e.second);
    }
    // The two keys of "river side" point at one text.
    std::string idx = slurp(scratchPath("sd/round.idx"));
    size_t bank = idx.find(std::string("bank\0", 5)), shore = idx.find(std::string("shore\0", 6));
    ASSERT_NE(shore, std::string::npos);
    EXPECT_EQ(idx.substr(bank + 5, 8), idx.substr(shore + 6, 8));
    ASSERT_EQ(zav({"import", "stardict", scratchPath("sd/round.ifo"), scratchPath("sd.zav"), "--quiet"}).code, 0);
    ASSERT_EQ(zav({"export", "tsv", book, scratchPath("c.tsv"), "--quiet"}).code, 0);
    ASSERT_EQ(zav({"export", "tsv", scratchPath("sd.zav"), scratchPath("d.tsv"), "--quiet"}).code, 0);
    EXPECT_EQ(slurp(scratchPath("c.tsv")), slurp(scratchPath("d.tsv")));
}

TEST(Export, DictionaryBookThroughTheEngine) {
    // The sample dictionary book: its keys and texts come from the engine.
    std::string book = std::string(ZAV_SAMPLES_DIR) + "/lexicon.zav";
    ASSERT_EQ(zav({"export", "tsv", book, scratchPath("lexicon.tsv"), "--quiet"}).code, 0);
    std::string tsv = slurp(scratchPath("lexicon.tsv"));
    EXPECT_NE(tsv.find("bank@2\tbank (2) (noun)\\nA business that keeps money"), std::string::npos) << tsv;
    ASSERT_EQ(zav({"import", "tsv", scratchPath("lexicon.tsv"), scratchPath("lexicon-plain.zav"), "--quiet"}).code, 0);
    EXPECT_TRUE(found(scratchPath("lexicon-plain.zav"), "apple", "The round fruit"));
}

// A StarDict dictionary from Debian (package stardict-czech), when installed.
TEST(RealDictionaries, DebianStardictEveryHeadwordAndSynonymFound) {
    const std::string ifo = "/usr/share/stardict/dic/czech-cizi.ifo";
    if (!fs::exists(ifo)) GTEST_SKIP() << ifo << " is not installed";
    std::string book = scratchPath("czech.zav");
    ASSERT_EQ(zav({"import", "stardict", ifo, book, "--quiet"}).code, 0);
    ASSERT_EQ(zav({"export", "tsv", book, scratchPath("czech.tsv"), "--quiet"}).code, 0);
    std::string idx = slurp("/usr/share/stardict/dic/czech-cizi.idx");
    std::string keys = "\n" + slurp(scratchPath("czech.tsv"));
    size_t words = 0, step = 0;
    for (size_t at = 0; at < idx.size(); ++step) {
        std::string word(idx.c_str() + at);
        at += word.size() + 9;
        ++words;
        EXPECT_NE(keys.find("\n" + word + "\t"), std::string::npos) << word;
        if (step % 500 == 0) {
            EXPECT_TRUE(found(book, word, "")) << word;
        }
    }
    EXPECT_EQ(words, 18259u);
    EXPECT_EQ(keys.find('<'), std::string::npos) << "markup left in the text";
}

}  // namespace
