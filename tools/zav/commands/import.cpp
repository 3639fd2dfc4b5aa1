// zav import: a plain book from a word list (tsv), a dictd dictionary or a
// StarDict dictionary. Each headword becomes a key that leads to the page
// holding its definition.
#include <cstdio>
#include <string>

#include "core/atomic_output.h"
#include "core/cli.h"
#include "commands/commands.h"
#include "formats/import_dictionary.h"
#include "formats/importers.h"

namespace zavtool {

namespace {

const char kImportHelp[] =
    "usage: zav import tsv FILE OUT [options]\n"
    "       zav import dictd INDEX OUT [--dict DICT] [options]\n"
    "       zav import stardict IFO OUT [--keep-markup] [options]\n"
    "\n"
    "Build a plain book with one table from a dictionary: one page per\n"
    "definition and one key per headword leading to it, sorted under the key\n"
    "collation. Headwords that share a definition share its page; duplicate\n"
    "headwords are kept. With --dictionary-book the words go into an engine\n"
    "dictionary instead, named by a dictionary book.\n"
    "\n"
    "tsv       one entry per line: WORD<TAB>DEFINITION. In the definition \\n, \\t,\n"
    "          \\r and \\\\ stand for a line feed, a tab, a carriage return and a\n"
    "          backslash. Empty lines are skipped. Lines whose word is one of\n"
    "          dictd's entries about a dictionary (below) are not keys.\n"
    "dictd     a dictd .index (HEADWORD<TAB>OFFSET<TAB>LENGTH, numbers in dictd's\n"
    "          base 64) and its data file: DICT, or INDEX with .index replaced by\n"
    "          .dict, or else .dict.dz (dictzip, read by random access).\n"
    "          dictd's 00-database entries (with or without hyphens) are not\n"
    "          keys; 00-database-short names the book. A fourth field, where a\n"
    "          line has one, is the headword as spelt (the first is then the\n"
    "          form dictd searches) and becomes the key.\n"
    "stardict  IFO and the files beside it with the same name: .idx or .idx.gz,\n"
    "          .dict or .dict.dz, and .syn when present (each synonym is one more\n"
    "          key to its entry's page). The book is named after bookname. Plain\n"
    "          text fields are kept as they are; HTML, Pango markup and XDXF\n"
    "          become plain text (line breaks kept, entities resolved) unless\n"
    "          --keep-markup. Sound, picture and resource fields are left out.\n"
    "\n"
    "A line or entry that cannot become one (no tab, an empty or all-space\n"
    "headword, a zero byte, a definition outside the data file, text that is\n"
    "not valid in the input's encoding) is skipped with a warning naming the\n"
    "file and line (the entry's number in StarDict files); the import ends\n"
    "with a summary that counts every line read once: kept, about the\n"
    "dictionary, merged (a line that repeats another's headword and\n"
    "definition, named in a warning), skipped or blank. A UTF-8 byte-order\n"
    "mark is dropped.\n"
    "\n"
    "What the dictionary says about itself is kept in the book, on a page after\n"
    "the table's pages: dictd's 00-database-short (name), -info (description),\n"
    "-url (website), -author, -email and -date, and a StarDict .ifo's bookname,\n"
    "description, author, email, website and date. 'zav info' shows it and\n"
    "'zav export' writes it back.\n"
    "\n"
    "OUT is written whole or not at all: it is written to a temporary file\n"
    "that takes the place of OUT when complete. An OUT that is one of the\n"
    "inputs is refused. A link is followed; a FIFO or character device is\n"
    "written in place; - is standard output (not with --dictionary-book); a\n"
    "folder, socket or block device is refused.\n"
    "\n"
    "  --name NAME        the book's name (default: from the dictionary, else the\n"
    "                     input's file name)\n"
    "  --encoding NAME    the input's text encoding (any name iconv knows, e.g.\n"
    "                     LATIN1, CP1252); its text is converted to UTF-8.\n"
    "                     Default UTF-8, checked.\n"
    "  --strict           a line that cannot become an entry is an error: nothing\n"
    "                     is written\n"
    "  --keep-markup      StarDict: keep HTML, Pango and XDXF markup as it is\n"
    "  --dictionary-book  make a dictionary book (kind 1): its one table names\n"
    "                     an engine dictionary, written as DIR/XXXXXXXX.zzd (the\n"
    "                     dictId in hex), that holds every key with its text, so\n"
    "                     that the engine serves look-ups, spell correction and\n"
    "                     wildcard search. A host finds the file when\n"
    "                     ZOZIZID_DICT_DIR names DIR.\n"
    "  --dict-id N        the dictionary's id (default: 0x0001XX01 with XX from\n"
    "                     the book's name; only ids of that form are offered\n"
    "                     spell checking)\n"
    "  --dict-dir DIR     where the dictionary file goes (default: OUT's folder)\n"
    "  --quiet            no progress or summary lines\n"
    "\n"
    "The definitions are read from the input while the book is written, one at\n"
    "a time; memory holds the headwords, not the texts (a dictionary book's\n"
    "dictionary file is laid out in memory).\n";

}  // namespace

ImportTarget importTarget(const ImportOptions &o, const std::string &bookName) {
    ImportTarget target;
    target.out = o.out;
    target.quiet = o.quiet;
    target.dictionaryBook = o.dictionaryBook;
    target.dictId = o.dictId.value_or(defaultDictId(bookName));
    target.dictDir = o.dictDir.value_or(directoryOf(o.out));
    return target;
}

int runImport(int argc, char **argv) {
    ImportOptions o;
    o.command = "import";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"name", "dict", "encoding", "dict-id", "dict-dir"},
                                   {"quiet", "strict", "keep-markup", "dictionary-book"});
        !parsed)
        return reportFailure(o.command, parsed);
    if (args.help()) {
        std::fputs(kImportHelp, stdout);
        return EXIT_OK;
    }
    const auto &p = args.positional();
    if (p.size() != 3) return usageError(o.command, "expected tsv FILE OUT, dictd INDEX OUT or stardict IFO OUT");
    o.input = p[1];
    o.out = p[2];
    o.name = args.value("name");
    o.dict = args.value("dict");
    o.encoding = args.value("encoding");
    o.quiet = args.flag("quiet");
    o.strict = args.flag("strict");
    o.keepMarkup = args.flag("keep-markup");
    o.dictionaryBook = args.flag("dictionary-book");
    o.dictDir = args.value("dict-dir");
    if (auto id = args.value("dict-id")) {
        auto value = parseInteger(*id);
        if (!value || *value <= 0 || *value > UINT32_MAX)
            return usageError(o.command, "--dict-id takes a number from 1 to 0xFFFFFFFF, not '" + *id + "'");
        o.dictId = static_cast<uint32_t>(*value);
    }
    if (o.out == kStandardOutput && o.dictionaryBook)
        return usageError(o.command, "--dictionary-book writes a book and a dictionary file; OUT cannot be -");
    if ((o.dictId || o.dictDir) && !o.dictionaryBook)
        return usageError(o.command, "--dict-id and --dict-dir belong to --dictionary-book");
    if (o.dict && p[0] != "dictd") return usageError(o.command, "--dict belongs to dictd imports");
    if (o.keepMarkup && p[0] != "stardict") return usageError(o.command, "--keep-markup belongs to stardict imports");
    Status (*import)(const ImportOptions &) = p[0] == "tsv"        ? importTsv
                                              : p[0] == "dictd"    ? importDictd
                                              : p[0] == "stardict" ? importStardict
                                                                   : nullptr;
    if (!import) return usageError(o.command, "unknown format '" + p[0] + "': use tsv, dictd or stardict");
    Status imported = import(o);
    return imported ? EXIT_OK : reportFailure(o.command, imported);
}

}  // namespace zavtool
