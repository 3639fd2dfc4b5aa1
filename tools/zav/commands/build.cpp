// zav build: a book from a JSON manifest, with the dictionary files of its
// dictionary tables and the memo sidecar of its page memos.
#include <cstdio>
#include <string>

#include "ZAVMemo_writer.h"
#include "ZoZizID_writer.h"
#include "commands/commands.h"
#include "core/atomic_output.h"
#include "core/book_output.h"
#include "core/cli.h"
#include "formats/manifest_reader.h"
#include "tovix/format.h"

namespace zavtool {

namespace {

const char kBuildHelp[] =
    "usage: zav build MANIFEST OUT [--dict-dir DIR] [--quiet]\n"
    "\n"
    "Build the book OUT from the JSON manifest MANIFEST. Files named in the\n"
    "manifest are relative to the manifest's folder. Dictionary tables (kind 1)\n"
    "write their dictionary files into DIR (default: OUT's folder); page memos go\n"
    "to the sidecar OUT.memo. Each file is written whole or not at all; OUT may\n"
    "be a link (followed), a FIFO or character device (written in place) or -\n"
    "for standard output (not for a book with memos); a folder, socket or block\n"
    "device is refused.\n"
    "\n"
    "Manifest (every field optional unless noted):\n"
    "  { \"kind\": 2,                  1 dictionary, 2 plain, 4 pages with link blocks\n"
    "    \"version\": 0, \"caps\": [w1, w2], \"serial\": n, \"positionId\": n,\n"
    "    \"name\": TEXTS, \"exBookNo\": TEXT, \"languages\": [1, 2],\n"
    "    \"charAttributes\": [up to 84 byte values],\n"
    "    \"shelfLevels\": [{\"value\": n, \"name\": TEXTS}],\n"
    "    \"tables\": [TABLE, ...] }\n"
    "  TEXT   a string, or {\"hex\": \"b0a1...\"} for bytes in another code page\n"
    "  TEXTS  a TEXT (language 1), {\"1\": TEXT, \"2\": TEXT}, or [[lang, TEXT], ...]\n"
    "  TABLE (plain books):\n"
    "    { \"name\": TEXTS, \"locale\": n, \"dictId\": n,\n"
    "      \"pages\": [TEXT | {\"file\": path} | {\"text\": TEXT, \"links\": [n, ...]}],\n"
    "      \"entries\": [{\"keys\": [TEXT, ...], \"text\": TEXT | \"file\": path}],\n"
    "                  each entry is one more page that its keys lead to\n"
    "      \"keys\": [{\"text\": TEXT, \"page\": n, \"offset\": n, \"attribute\": n}],\n"
    "      \"toc\": [ITEM, ...], \"subs\": [{\"id\": n, \"name\": TEXTS}],\n"
    "      \"memos\": [{\"page\": PAGE, \"text\": TEXT}] }\n"
    "  TABLE (dictionary books):\n"
    "    { \"name\": TEXTS, \"simpleName\": TEXTS, \"locale\": n, \"dictId\": n (required),\n"
    "      \"appFlags\": n, \"levels\": [TEXT | null, ...],\n"
    "      \"words\": [{\"word\": TEXT, \"text\": TEXT | \"file\": path,\n"
    "                  \"subs\": {\"1\": TEXT, ...}}],\n"
    "      \"toc\": [ITEM, ...], \"subs\": [{\"id\": n, \"name\": TEXTS}] }\n"
    "  ITEM   {\"caption\": TEXTS, \"page\": PAGE, \"hidden\": false, \"children\": [ITEM, ...]}\n"
    "         the first top-level item is the root\n"
    "  PAGE   a table page index, or a key (word) whose page is meant\n"
    "Numbers may be written as strings in hexadecimal (\"0x00010101\").\n"
    "A field may appear only once in an object.\n"
    "Keys are sorted under the key collation; duplicates and homographs (\"bank@2\")\n"
    "are kept.\n";

}  // namespace

int runBuild(int argc, char **argv) {
    const std::string command = "build";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"dict-dir"}, {"quiet"}); !parsed) return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kBuildHelp, stdout);
        return EXIT_OK;
    }
    if (args.positional().size() != 2) return usageError(command, "expected MANIFEST and OUT");
    const std::string &manifestPath = args.positional()[0], &out = args.positional()[1];
    bool quiet = args.flag("quiet");
    if (Status refused = refuseOutputOverInput({out}, {manifestPath}); !refused) return reportFailure(command, refused);
    std::string dictDir = args.value("dict-dir").value_or(directoryOf(out));
    Result<Manifest> manifest = readManifest(manifestPath, command, quiet);
    if (!manifest) {
        // A manifest that cannot be used: the reason names its file and line.
        if (manifest.fault() != Fault::Rejected) return reportFailure(command, manifest.failure());
        std::fprintf(stderr, "%s\n", manifest.reason().c_str());
        return EXIT_FAILED;
    }
    const zav::BookDesc &book = manifest->book;
    if (book.kind == tovix::KIND_DICTIONARY && manifest->dictionaries.empty() && !book.tables.empty())
        complain(command, "note: the dictionary book's tables have no words");
    if (out == kStandardOutput && !manifest->memos.empty())
        return usageError(command, "the book's memos are kept in a file beside it; OUT cannot be -");
    for (auto &d : manifest->dictionaries) {
        std::string path = zozizid::dictionaryPath(dictDir, d.dictId);
        size_t words = d.words.size();
        Status written = writeWhole(path, [&d](const std::string &temporary, std::string *error) {
            return zozizid::writeDictionary(temporary, d.dictId, d.words, error);
        });
        d.words = zozizid::DictWordTable();
        if (!written) {
            complain(command, path + ": cannot write the dictionary: " + written.reason());
            return EXIT_FAILED;
        }
        if (!quiet)
            std::fprintf(reportStream(out), "wrote %s: dictionary %s, %zu words\n", path.c_str(),
                         hex(d.dictId, 8).c_str(), words);
    }
    Result<uint64_t> size = writeBookFile(book, out);
    if (!size) return reportFailure(command, size.failure());
    if (!quiet) {
        uint64_t keys = 0;
        for (const auto &t : book.tables) keys += t.keys.size();
        std::fprintf(reportStream(out), "wrote %s: %llu bytes, %zu tables, %zu pages, %llu keys\n", out.c_str(),
                     static_cast<unsigned long long>(*size), book.tables.size(), book.pages.size(),
                     static_cast<unsigned long long>(keys));
    }
    if (out == kStandardOutput) return EXIT_OK;
    std::string memoPath = zavmemo::memoSidecarPath(out);
    if (!manifest->memos.empty()) {
        size_t count = manifest->memos.size();
        Status written = writeWhole(memoPath, [&manifest](const std::string &temporary, std::string *error) {
            return zavmemo::writeMemoFile(temporary, std::move(manifest->memos), error);
        });
        if (!written) {
            complain(command, memoPath + ": cannot write the memos: " + written.reason());
            return EXIT_FAILED;
        }
        if (!quiet) std::printf("wrote %s: %zu memos\n", memoPath.c_str(), count);
    } else {
        removeRegularFile(memoPath);  // a stale sidecar would attach old memos to the new book
    }
    return EXIT_OK;
}

}  // namespace zavtool
