// zav export: a table of any book, read through the module's exported calls
// as a host reads it, written as a word list or a dictionary of a common
// format.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <functional>
#include <unordered_map>
#include <vector>

#include "core/atomic_output.h"
#include "core/book_host.h"
#include "core/book_output.h"
#include "core/cli.h"
#include "commands/commands.h"
#include "formats/export_formats.h"
#include "formats/fold_keys.h"
#include "tovix/collation.h"
#include "tovix/format.h"

namespace zavtool {

namespace {

const char kExportHelp[] =
    "usage: zav export tsv|dictd|stardict BOOK OUT [--table N] [--quiet]\n"
    "\n"
    "Write the keys of table N (default 0) of BOOK with the text they lead to:\n"
    "each key's page from the key's offset to the page's end. Any book the\n"
    "module opens can be exported, dictionary books included. Every format\n"
    "gets the headwords as stored, each once: keys added for case folds are\n"
    "left out (an import makes them again), a headword repeated with the\n"
    "same text is written once, and so is a text that several keys hold.\n"
    "\n"
    "tsv       OUT: one line per key, KEY<TAB>TEXT, in the book's key order; in\n"
    "          the text a line feed, tab, carriage return and backslash are\n"
    "          written \\n, \\t, \\r and \\\\ (what 'zav import tsv' reads). What\n"
    "          the book keeps about its dictionary comes first, as dictd's\n"
    "          00-database-short, -info, -url, -author, -email and -date lines.\n"
    "dictd     OUT.index and OUT.dict.dz (dictzip; every chunk inflates on its\n"
    "          own). The index is UTF-8 and allchars, not case-sensitive: its\n"
    "          first column is the headword in lower case, as dictd looks words\n"
    "          up, and a fourth column the headword as stored where it differs,\n"
    "          which dictd shows. Keys that lead to the same text are index\n"
    "          lines to one entry. 00-database-short holds the dictionary's name\n"
    "          (else the book's), 00-database-info and the other 00-database\n"
    "          entries what the book keeps about it.\n"
    "stardict  OUT.ifo, OUT.idx and OUT.dict.dz: every key is a word of .idx\n"
    "          under its own name; keys that lead to the same text point at the\n"
    "          same data. No .syn is written (an OUT.syn of an earlier export is\n"
    "          removed). sdcv shows one entry of a headword listed several times.\n"
    "\n"
    "A key that the format cannot hold (empty, with a tab or line break, or\n"
    "longer than 255 bytes for StarDict) or whose page cannot be read is\n"
    "skipped with a warning. A key that 'zav import' added for a headword's\n"
    "case fold (attribute 0x46) is left out: importing the export adds it\n"
    "again. A text that several keys lead to is written once. In .ifo the\n"
    "description's line breaks become <br> and the other fields are one line\n"
    "each. The files are written to temporary files that take their place\n"
    "only when complete; an OUT that is BOOK is refused. A link is followed;\n"
    "a FIFO or character device is written in place; - is standard output\n"
    "(tsv only); a folder, socket or block device is refused.\n";

struct Walk {
    const HostBook &book;
    int32_t table;
    ExportFormat &format;
    std::string command;
    bool quiet;
    uint64_t written = 0, skipped = 0, folds = 0, repeats = 0;
};

// A key that is not exported: counted, and named in a warning.
void skipKey(Walk &w, uint32_t key, const std::string &word, const std::string &why) {
    ++w.skipped;
    std::fprintf(stderr, "zav %s: key %u (%s): %s; skipped\n", w.command.c_str(), key, escapeText(word).c_str(),
                 why.c_str());
}

// Reads keys and pages with as few calls of the module as a host needs:
// every call reads the book's header and table record again, so the calls
// per key decide the export's speed.
class TableReader {
public:
    TableReader(const HostBook &book, int32_t table)
        : book_(book),
          table_(table),
          dictionary_(book.isDictionary()),
          pages_(static_cast<uint32_t>(std::max(0, ZAVGetTablePageCount(book, table)))),
          word_(kMaxKeyBytes + 2) {}
    uint32_t pageCount() const { return pages_; }
    bool dictionary() const { return dictionary_; }
    // One call: the buffer holds any key text and its terminator. *fold
    // tells a key added for a headword's case fold (plain books).
    std::string word(uint32_t key, bool *fold) {
        word_[0] = '\0';
        int32_t attribute = ZAVGetKeyWord(book_, table_, key, word_.data(), static_cast<int32_t>(word_.size() - 1));
        word_.back() = '\0';
        std::string word(word_.data());
        *fold = isFoldKey(book_, table_, key, word, attribute);
        return word;
    }
    // A key of a dictionary book leads to the page of its own index.
    uint32_t page(uint32_t key) const {
        return dictionary_ ? key : static_cast<uint32_t>(ZAVGetKeyPageNo(book_, table_, key));
    }
    uint32_t offset(uint32_t key) const {
        return dictionary_ ? 0 : static_cast<uint32_t>(ZAVGetKeyPageOffset(book_, table_, key));
    }
    // A page in one call when it fits the buffer (which grows to the largest
    // page read); the size is asked only for an empty, cut or failed read.
    bool readPage(uint32_t page, std::string *out) {
        if (page >= pages_) return false;
        if (!dictionary_) {
            int32_t got = ZAVGetTablePage(book_, table_, page, page_.data(), static_cast<uint32_t>(page_.size()));
            if (got > 0 && static_cast<size_t>(got) < page_.size()) {
                out->assign(page_.data(), static_cast<size_t>(got));
                return true;
            }
        }
        int32_t size = ZAVGetTablePageSize(book_, table_, page);
        if (size < 0 || static_cast<uint64_t>(size) > book_.contentLimit()) return false;
        out->clear();
        if (size == 0) return true;
        if (page_.size() <= static_cast<size_t>(size)) page_.resize(static_cast<size_t>(size) + 1);
        int32_t got = ZAVGetTablePage(book_, table_, page, page_.data(), static_cast<uint32_t>(size));
        if (got <= 0) return false;
        out->assign(page_.data(), std::min(static_cast<size_t>(got), static_cast<size_t>(size)));
        return true;
    }

private:
    static constexpr size_t kMaxKeyBytes = 65535;
    static constexpr size_t kFirstPageBuffer = size_t{64} << 10;
    const HostBook &book_;
    int32_t table_;
    bool dictionary_;
    uint32_t pages_;
    std::vector<char> word_;
    std::vector<char> page_ = std::vector<char>(kFirstPageBuffer);
};

// The definition id of each (page, offset) seen: a slot per table page for
// the texts that start a page, a map for the rest.
class DefinitionIds {
public:
    explicit DefinitionIds(uint32_t pages) : byPage_(pages, kNone) {}
    static constexpr uint32_t kNone = UINT32_MAX;
    uint32_t find(uint32_t page, uint32_t offset) const {
        if (offset == 0 && page < byPage_.size()) return byPage_[page];
        auto found = others_.find(uint64_t{page} << 32 | offset);
        return found == others_.end() ? kNone : found->second;
    }
    // A new id for the place, or `id` when the place holds a text already seen.
    uint32_t add(uint32_t page, uint32_t offset, uint32_t id = kNone) {
        if (id == kNone) id = count_++;
        if (offset == 0 && page < byPage_.size())
            byPage_[page] = id;
        else
            others_.emplace(uint64_t{page} << 32 | offset, id);
        return id;
    }
    uint32_t count() const { return count_; }

private:
    std::vector<uint32_t> byPage_;
    std::unordered_map<uint64_t, uint32_t> others_;
    uint32_t count_ = 0;
};

// The definitions by the hash of their text, so that a text that several
// table pages hold is written once: 8 bytes a slot, the place of each
// definition, and a hit confirmed by reading that place again.
class SameTexts {
public:
    // The id of a definition with this text, or kNone.
    uint32_t find(const std::string &text, TableReader &reader, std::string *scratch) const {
        if (slots_.empty()) return DefinitionIds::kNone;
        const uint32_t hash = hashOf(text);
        for (size_t s = hash & (slots_.size() - 1); slots_[s].id != DefinitionIds::kNone;
             s = (s + 1) & (slots_.size() - 1)) {
            if (slots_[s].hash != hash) continue;
            const auto [page, offset] = places_[slots_[s].id];
            if (reader.readPage(page, scratch) && offset <= scratch->size() &&
                scratch->compare(offset, std::string::npos, text) == 0)
                return slots_[s].id;
        }
        return DefinitionIds::kNone;
    }
    // Definition `id` (the next one) has this text at this place.
    void add(uint32_t id, const std::string &text, uint32_t page, uint32_t offset) {
        places_.emplace_back(page, offset);
        if (size_t{id + 1} * 4 > slots_.size() * 3) grow();
        insert(hashOf(text), id);
    }

private:
    struct Slot {
        uint32_t hash = 0, id = DefinitionIds::kNone;
    };
    static uint32_t hashOf(const std::string &text) { return static_cast<uint32_t>(std::hash<std::string>{}(text)); }
    void insert(uint32_t hash, uint32_t id) {
        size_t s = hash & (slots_.size() - 1);
        while (slots_[s].id != DefinitionIds::kNone) s = (s + 1) & (slots_.size() - 1);
        slots_[s] = Slot{hash, id};
    }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? size_t{1024} : old.size() * 2, Slot{});
        for (const Slot &slot : old)
            if (slot.id != DefinitionIds::kNone) insert(slot.hash, slot.id);
    }
    std::vector<Slot> slots_;
    std::vector<std::pair<uint32_t, uint32_t>> places_;  // per definition id
};

// The export of one key; it fails on a write error.
struct KeyWalk {
    explicit KeyWalk(Walk &walk) : w(walk), reader(walk.book, walk.table), ids(reader.pageCount()) {}
    Walk &w;
    TableReader reader;
    DefinitionIds ids;
    SameTexts texts;
    uint64_t cachedPlace = UINT64_MAX;
    std::string page, text, scratch;
    // The keys written since the last one that differs under the key
    // collation, where a headword repeated with the same text would be.
    std::vector<std::pair<std::string, uint32_t>> run;

    // A headword that an earlier key already gave with the same text.
    bool repeated(const std::string &word, uint32_t id) {
        if (!run.empty() && tovix::compareKeys(run.front().first.c_str(), word.c_str()) != 0) run.clear();
        for (const auto &[other, otherId] : run)
            if (otherId == id && other == word) return true;
        run.emplace_back(word, id);
        return false;
    }

    Status key(uint32_t k, const std::string &word) {
        const uint32_t pageNo = reader.page(k), offset = reader.offset(k);
        const uint64_t place = uint64_t{pageNo} << 32 | offset;
        uint32_t id = ids.find(pageNo, offset);
        if (place != cachedPlace && (id == DefinitionIds::kNone || w.format.needsText())) {
            if (!reader.readPage(pageNo, &page) || offset > page.size()) {
                skipKey(w, k, word, "its page " + std::to_string(pageNo) + " cannot be read");
                return Status();
            }
            text.assign(page, offset, std::string::npos);
            cachedPlace = place;
        }
        if (id == DefinitionIds::kNone) {
            // A text already written under another place is not written again.
            uint32_t same = texts.find(text, reader, &scratch);
            id = ids.add(pageNo, offset, same);
            if (same == DefinitionIds::kNone) {
                texts.add(id, text, pageNo, offset);
                if (Status written = w.format.definition(id, text); !written) return written;
            }
        }
        if (repeated(word, id)) return ++w.repeats, Status();
        if (Status written = w.format.key(word, id, w.format.needsText() ? text : std::string()); !written)
            return written;
        ++w.written;
        return Status();
    }
};

// Every key of the table, each text handed over once; it fails on a write
// error. A key added for a headword's case fold is left out when a headword
// leads to the same place (it is made again when the export is imported);
// one that no headword leads to is written after the others.
Status walkKeys(Walk &w) {
    uint32_t count = static_cast<uint32_t>(ZAVGetKeyCount(w.book, w.table));
    Progress progress(w.command, "keys exported", count, w.quiet);
    KeyWalk walk(w);
    std::vector<uint32_t> folds;
    for (uint32_t k = 0; k < count; ++k) {
        progress.step(k + 1);
        bool fold = false;
        std::string word = walk.reader.word(k, &fold);
        if (Status accepted = w.format.accepts(word); !accepted) {
            skipKey(w, k, word, accepted.reason());
        } else if (fold) {
            folds.push_back(k);
        } else if (Status exported = walk.key(k, word); !exported) {
            return exported;
        }
    }
    for (uint32_t k : folds) {
        // A dictionary book's fold key names its headword, which is a key of its own.
        if (walk.reader.dictionary() ||
            walk.ids.find(walk.reader.page(k), walk.reader.offset(k)) != DefinitionIds::kNone) {
            ++w.folds;
            continue;
        }
        bool fold = false;
        if (Status exported = walk.key(k, walk.reader.word(k, &fold)); !exported) return exported;
    }
    return Status();
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
    for (const std::string &t : targets) {
        Result<std::string> temporary = files.add(t, targets.size() == 1);
        if (!temporary) return reportFailure(command, temporary.failure());
        temporaries.push_back(std::move(*temporary));
    }
    ExportedBook info{readBookInfo(book), std::string()};
    Localized name = bookName(book, ZAV_LANG_CHOOSE);
    info.name = info.info.name.empty() ? inUtf8(name.text, name.language) : info.info.name;
    Walk walk{book, table, format, command, quiet};
    Status written = format.begin(temporaries, info);
    if (written) written = walkKeys(walk);
    if (written) written = format.finish();
    if (!written) return reportFailure(command, written);
    std::vector<bool> unused = format.unused();
    for (size_t i = 0; i < unused.size(); ++i)
        if (unused[i]) files.drop(targets[i]);
    if (Status committed = files.commit(); !committed) return reportFailure(command, committed);
    for (size_t i = 0; i < unused.size(); ++i)
        if (unused[i]) removeRegularFile(targets[i]);  // a stale optional file would join the new ones
    if (!quiet) {
        std::string summary = "wrote " + std::to_string(walk.written) + " keys";
        if (walk.folds) summary += ", left out " + std::to_string(walk.folds) + " keys added for case folds";
        if (walk.repeats)
            summary += ", left out " + std::to_string(walk.repeats) + " keys that repeat a headword with its text";
        complain(command, summary + ", skipped " + std::to_string(walk.skipped));
    }
    return EXIT_OK;
}

}  // namespace

int runExport(int argc, char **argv) {
    const std::string command = "export";
    Args args;
    if (Status parsed = args.parse(argc, argv, {"table"}, {"quiet"}); !parsed) return reportFailure(command, parsed);
    if (args.help()) {
        std::fputs(kExportHelp, stdout);
        return EXIT_OK;
    }
    const auto &p = args.positional();
    if (p.size() != 3) return usageError(command, "expected tsv|dictd|stardict BOOK OUT");
    std::unique_ptr<ExportFormat> format = formatNamed(p[0]);
    if (!format) return usageError(command, "unknown format '" + p[0] + "': use tsv, dictd or stardict");
    std::vector<std::string> targets = format->outputs(p[2]);
    if (p[2] == kStandardOutput && targets.size() != 1)
        return usageError(command, p[0] + " writes several files; only tsv can be written to - (standard output)");
    if (Status refused = refuseOutputOverInput(targets, {p[1]}); !refused) return reportFailure(command, refused);
    HostBook book;
    if (Status opened = openBook(p[1], book); !opened) return reportFailure(command, opened);
    Result<int32_t> table = tableOption(args, book);
    if (!table) return reportFailure(command, table.failure());
    return exportTable(command, book, *table, *format, targets, args.flag("quiet"));
}

}  // namespace zavtool
