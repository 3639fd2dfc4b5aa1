// zav export: a table of any book, read through the module's exported calls
// as a host reads it, written as a word list or a dictionary of a common
// format.
#include <cstdio>
#include <cstring>
#include <unordered_map>

#include "atomic_output.h"
#include "book_host.h"
#include "book_output.h"
#include "cli.h"
#include "commands.h"
#include "export_formats.h"

namespace zavtool {

namespace {

const char kExportHelp[] =
    "usage: zav export tsv|dictd|stardict BOOK OUT [--table N] [--quiet]\n"
    "\n"
    "Write the keys of table N (default 0) of BOOK with the text they lead to:\n"
    "each key's page from the key's offset to the page's end. Any book the\n"
    "module opens can be exported, dictionary books included.\n"
    "\n"
    "tsv       OUT: one line per key, KEY<TAB>TEXT, in the book's key order; in\n"
    "          the text a line feed, tab, carriage return and backslash are\n"
    "          written \\n, \\t, \\r and \\\\ (what 'zav import tsv' reads).\n"
    "dictd     OUT.index and OUT.dict.dz (dictzip). Keys that lead to the same\n"
    "          text are index lines to one entry. 00-database-short holds the\n"
    "          book's name, 00-database-info the description.\n"
    "stardict  OUT.ifo, OUT.idx, OUT.dict.dz and, when texts have several keys,\n"
    "          OUT.syn: each text is written once, under its first key; its\n"
    "          other keys are synonyms.\n"
    "\n"
    "A key that the format cannot hold (empty, with a tab or line break, or\n"
    "longer than 255 bytes for StarDict) or whose page cannot be read is\n"
    "skipped with a warning. A plain book with exactly one page more than the\n"
    "table has is taken to keep its description in that last page (as 'zav\n"
    "import' writes it). The files are written under temporary names and take\n"
    "their place only when complete; an OUT that is BOOK is refused.\n";

struct Walk {
    const HostBook &book;
    int32_t table;
    ExportFormat &format;
    std::string command;
    bool quiet;
    uint64_t written = 0, skipped = 0;
};

// The description page of a book written by zav import, if it has one.
std::string descriptionOf(const HostBook &book, int32_t table) {
    int32_t pages = ZAVGetPageCount(book);
    if (book.isDictionary() || book.tableCount() != 1 || pages != ZAVGetTablePageCount(book, table) + 1) return "";
    return readPage(book, -1, pages - 1).value_or("");
}

bool skipKey(Walk &w, uint32_t key, const std::string &word, const std::string &why) {
    ++w.skipped;
    std::fprintf(stderr, "zav %s: key %u (%s): %s; skipped\n", w.command.c_str(), key, escapeText(word).c_str(),
                 why.c_str());
    return true;
}

// Every key of the table, each text handed over once; false on a write error.
bool walkKeys(Walk &w, std::string *error) {
    uint32_t count = static_cast<uint32_t>(ZAVGetKeyCount(w.book, w.table));
    Progress progress(w.command, "keys exported", count, w.quiet);
    std::unordered_map<uint64_t, uint32_t> ids;  // (page, offset) -> definition id
    uint64_t cachedPlace = UINT64_MAX;
    std::string text;
    for (uint32_t k = 0; k < count; ++k) {
        progress.step(k + 1);
        std::string word = keyWord(w.book, w.table, k);
        std::string problem = w.format.keyProblem(word);
        if (!problem.empty()) {
            skipKey(w, k, word, problem);
            continue;
        }
        uint32_t page = w.book.isDictionary() ? k : static_cast<uint32_t>(ZAVGetKeyPageNo(w.book, w.table, k));
        uint32_t offset = w.book.isDictionary() ? 0 : static_cast<uint32_t>(ZAVGetKeyPageOffset(w.book, w.table, k));
        uint64_t place = uint64_t{page} << 32 | offset;
        auto found = ids.find(place);
        if (place != cachedPlace && (found == ids.end() || w.format.needsText())) {
            auto content = readPage(w.book, w.table, page);
            if (!content || offset > content->size()) {
                skipKey(w, k, word, "its page " + std::to_string(page) + " cannot be read");
                continue;
            }
            text = content->substr(offset);
            cachedPlace = place;
        }
        if (found == ids.end()) {
            found = ids.emplace(place, static_cast<uint32_t>(ids.size())).first;
            if (!w.format.definition(found->second, text, error)) return false;
        }
        if (!w.format.key(word, found->second, w.format.needsText() ? text : std::string(), error)) return false;
        ++w.written;
    }
    return true;
}

std::unique_ptr<ExportFormat> formatNamed(const std::string &name) {
    if (name == "tsv") return tsvFormat();
    if (name == "dictd") return dictdFormat();
    if (name == "stardict") return stardictFormat();
    return nullptr;
}

int exportTable(const std::string &command, const HostBook &book, int32_t table, ExportFormat &format,
                const std::vector<std::string> &targets, bool quiet) {
    OutputFiles files;
    std::vector<std::string> temporaries;
    std::string error;
    for (const std::string &t : targets) {
        temporaries.push_back(files.add(t, &error));
        if (temporaries.back().empty()) return complain(command, error), EXIT_USAGE;
    }
    ExportedBook info{bookName(book, 1).text, descriptionOf(book, table)};
    Walk walk{book, table, format, command, quiet};
    if (!format.begin(temporaries, info, &error) || !walkKeys(walk, &error) || !format.finish(&error))
        return complain(command, error), EXIT_USAGE;
    std::vector<bool> unused = format.unused();
    for (size_t i = 0; i < unused.size(); ++i)
        if (unused[i]) files.drop(targets[i]);
    if (!files.commit(&error)) return complain(command, error), EXIT_USAGE;
    for (size_t i = 0; i < unused.size(); ++i)
        if (unused[i]) std::remove(targets[i].c_str());  // a stale optional file would join the new ones
    if (!quiet)
        complain(command, "wrote " + std::to_string(walk.written) + " keys, skipped " + std::to_string(walk.skipped));
    return EXIT_OK;
}

}  // namespace

int runExport(int argc, char **argv) {
    const std::string command = "export";
    Args args;
    if (!args.parse(command, argc, argv, {"table"}, {"quiet"})) return EXIT_USAGE;
    if (args.help()) {
        std::fputs(kExportHelp, stdout);
        return EXIT_OK;
    }
    const auto &p = args.positional();
    if (p.size() != 3) return usageError(command, "expected tsv|dictd|stardict BOOK OUT");
    std::unique_ptr<ExportFormat> format = formatNamed(p[0]);
    if (!format) return usageError(command, "unknown format '" + p[0] + "': use tsv, dictd or stardict");
    std::vector<std::string> targets = format->outputs(p[2]);
    if (int rc = refuseOutputOverInput(command, targets, {p[1]})) return rc;
    HostBook book;
    if (int rc = openForCommand(command, p[1], book)) return rc;
    auto table = tableOption(command, args, book);
    if (!table) return EXIT_USAGE;
    return exportTable(command, book, *table, *format, targets, args.flag("quiet"));
}

}  // namespace zavtool
