#include "formats/import_book.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>

#include "core/atomic_output.h"
#include "core/book_output.h"
#include "formats/fold_keys.h"
#include "formats/book_info.h"
#include "formats/import_dictionary.h"
#include "tovix/collation.h"
#include "tovix/format.h"
#include "zav/book_stream_writer.h"

namespace zavtool {

namespace {

constexpr uint8_t kBaseLanguage = 1;
constexpr size_t kMaxNameBytes = 255;
constexpr uint64_t kMaxArenaBytes = UINT32_MAX;

// A name cut to what a string list holds, without splitting a UTF-8 character.
std::string nameText(std::string text) {
    if (text.size() <= kMaxNameBytes) return text;
    size_t end = kMaxNameBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

// An ASCII headword has no key for its fold: the key collation folds ASCII
// letters itself.
bool hasFold(const char *word) {
    for (; *word; ++word)
        if (static_cast<unsigned char>(*word) >= 0x80) return true;
    return false;
}

bool samePlace(const ImportEntries::Packed &a, const ImportEntries::Packed &b) {
    return a.offset == b.offset && a.length == b.length;
}

// The entries that become keys: every headword leads to the page of its own
// definition, so equal headwords with different definitions ("Bank" and
// "bank", or one headword listed twice) stay separate entries that a look-up
// of every equal key finds. A headword listed twice for the same definition
// gives one key (the repeat is reported as merged). In the order the
// definitions lie in the input, so that a compressed data file is read chunk
// after chunk, and entries of one place next to each other.
std::vector<uint32_t> planKeys(const ImportEntries &entries, ImportLog &log, const std::string &file) {
    std::vector<uint32_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        int32_t c = tovix::compareKeys(entries.word(a), entries.word(b));
        if (c != 0) return c < 0;
        return std::strcmp(entries.word(a), entries.word(b)) < 0;
    });
    std::vector<uint32_t> keep;
    for (size_t i = 0; i < order.size(); ++i) {
        const char *word = entries.word(order[i]);
        size_t repeated = i;
        for (size_t j = i; j-- > 0 && std::strcmp(entries.word(order[j]), word) == 0 && repeated == i;)
            if (samePlace(entries[order[j]], entries[order[i]])) repeated = j;
        if (repeated == i)
            keep.push_back(order[i]);
        else
            log.merge(file, entries[order[i]].line, entries[order[repeated]].line);
    }
    order.clear();
    order.shrink_to_fit();
    std::stable_sort(keep.begin(), keep.end(), [&](uint32_t a, uint32_t b) {
        return entries[a].offset != entries[b].offset ? entries[a].offset < entries[b].offset
                                                      : entries[a].length < entries[b].length;
    });
    return keep;
}

// Pages by the hash of their text: a text already on a page is not stored
// twice. Only 32 bits of each hash are kept (8 bytes per slot); a hit is
// confirmed by reading the page back from the book.
class PagesByText {
public:
    explicit PagesByText(zav::BookStreamWriter &writer) : writer_(writer) {}
    // The page holding `text`, added when it is new.
    Result<uint32_t> page(const std::string &text) {
        const auto hash = static_cast<uint32_t>(std::hash<std::string>{}(text));
        size_t s = slots_.empty() ? 0 : hash & (slots_.size() - 1);
        std::string error;
        for (; !slots_.empty() && slots_[s].page != kEmpty; s = (s + 1) & (slots_.size() - 1)) {
            if (slots_[s].hash != hash) continue;
            if (!writer_.readPage(slots_[s].page, &back_, &error)) return Failure{error};
            if (back_ == text) return slots_[s].page;
        }
        const uint32_t index = writer_.pageCount();
        if (!writer_.addPage(text, &error)) return Failure{error};
        insert(hash, index);
        return index;
    }

private:
    static constexpr uint32_t kEmpty = UINT32_MAX;
    struct Slot {
        uint32_t hash = 0, page = kEmpty;
    };
    void insert(uint32_t hash, uint32_t page) {
        if ((used_ + 1) * 4 > slots_.size() * 3) grow();
        size_t s = hash & (slots_.size() - 1);
        while (slots_[s].page != kEmpty) s = (s + 1) & (slots_.size() - 1);
        slots_[s] = Slot{hash, page};
        ++used_;
    }
    void grow() {
        std::vector<Slot> old = std::move(slots_);
        slots_.assign(old.empty() ? kFirstSlots : old.size() * 2, Slot{});
        used_ = 0;
        for (const Slot &slot : old)
            if (slot.page != kEmpty) insert(slot.hash, slot.page);
    }
    static constexpr size_t kFirstSlots = 1024;
    zav::BookStreamWriter &writer_;
    std::vector<Slot> slots_;
    size_t used_ = 0;
    std::string back_;
};

struct Expected {
    uint64_t front = 0;                        // where the page records will start
    uint64_t foldedKeys = 0, foldedBytes = 0;  // the keys added for case folds
};

// Where the page records will start when every planned entry is kept and
// every place of the input gets its own book page (the pages move when not):
// per place one table page for the headwords without a fold key, and one
// for each headword with one.
Expected expect(const ImportEntries &entries, const std::vector<uint32_t> &plan, const zav::BookDesc &book,
                std::vector<zav::StreamTableDesc> &tables, bool described) {
    Expected e;
    uint64_t keys = 0, places = 0, tablePages = 0;
    bool placeShared = false;  // the current place has a table page for headwords without a fold key
    for (size_t p = 0; p < plan.size(); ++p) {
        const char *word = entries.word(plan[p]);
        size_t length = std::strlen(word);
        keys += tovix::U32_ENTRY_SIZE + tovix::KEY_RECORD_FIXED_SIZE + length;
        if (p == 0 || !samePlace(entries[plan[p]], entries[plan[p - 1]])) ++places, placeShared = false;
        bool owns = false;
        if (hasFold(word))
            for (const std::string &folded : foldedKeysFor(word)) {
                keys += tovix::U32_ENTRY_SIZE + tovix::KEY_RECORD_FIXED_SIZE + folded.size();
                ++e.foldedKeys;
                e.foldedBytes += folded.size() + 1;
                owns = true;
            }
        if (owns || !placeShared) ++tablePages;
        if (!owns) placeShared = true;
    }
    tables[0].pageList.resize(tablePages);
    e.front = zav::BookStreamWriter::frontSize(book, tables, static_cast<uint32_t>(places + described)) + keys;
    tables[0].pageList.clear();
    return e;
}

// The table's pages: each leads to a book page. Headwords without a fold
// key share one table page per book page; a headword with one has a table
// page of its own.
class TablePages {
public:
    uint32_t pageFor(uint32_t bookPage, bool ownPage) {
        if (!ownPage && bookPage < shared_.size() && shared_[bookPage] != kNone) return shared_[bookPage];
        uint32_t page = static_cast<uint32_t>(list_.size());
        list_.push_back(bookPage);
        if (!ownPage) {
            if (shared_.size() <= bookPage) shared_.resize(bookPage + 1, kNone);
            shared_[bookPage] = page;
        }
        return page;
    }
    std::vector<uint32_t> &list() { return list_; }

private:
    static constexpr uint32_t kNone = UINT32_MAX;
    std::vector<uint32_t> list_;    // table page -> book page
    std::vector<uint32_t> shared_;  // book page -> its shared table page
};

struct LayoutState {
    ImportedBook &imported;
    DefinitionSource &source;
    ImportLog &log;
    zav::BookStreamWriter &writer;
    zav::PackedKeys &keys;
    const std::string &out;  // the book written, named in a failure
    TablePages tablePages;
};

const char kStrictStop[] = "stopped at the first line that cannot become an entry (--strict); nothing written";

// The table page of an entry's key, which leads to book page `bookPage`.
uint32_t tablePage(LayoutState &s, uint32_t word, uint32_t bookPage) {
    const char *text = s.keys.textAt(word);
    return s.tablePages.pageFor(bookPage, hasFold(text) && !foldedKeysFor(text).empty());
}

// The entry's key (its text already in the keys' arena) and the keys of its
// case fold, on table page `page`.
Status addKey(LayoutState &s, uint32_t word, uint32_t page) {
    std::vector<std::string> folds;
    if (hasFold(s.keys.textAt(word))) folds = foldedKeysFor(s.keys.textAt(word));
    bool ok = s.keys.addAt(word, page);
    for (const std::string &folded : folds) ok = ok && s.keys.add(folded, page, tovix::KEY_ATTRIBUTE_CASE_FOLD);
    if (!ok) return Failure{s.out + ": a key is longer than 65535 bytes, or the keys reach 2 GiB"};
    return Status();
}

// Writes the pages and collects the keys; it fails when the import must stop
// (Fault::Rejected for --strict). The pages go in the order of the
// definitions in the input; the keys are added afterwards by their words'
// bytes and, for equal words, in the order of the input's lines, so that
// keys equal under the key collation keep that order in the book whatever
// the layout of the data file (an export read back gives the same book).
Status layOut(LayoutState &s, const std::vector<uint32_t> &plan, Progress &progress) {
    const ImportEntries &entries = s.imported.entries;
    PagesByText pages(s.writer);
    // Headwords that share a definition share its page. The plan is in the
    // order of the definitions' offsets, so the places seen at the current
    // offset are all that is needed.
    uint64_t groupOffset = UINT64_MAX;
    std::vector<std::pair<uint64_t, uint32_t>> group;  // length -> book page
    uint64_t done = 0;
    std::vector<std::pair<uint32_t, uint32_t>> placed;  // word (in input order) -> table page
    placed.reserve(plan.size());
    for (uint32_t i : plan) {
        const ImportEntries::Packed &entry = entries[i];
        progress.step(++done);
        if (entry.offset != groupOffset) group.clear(), groupOffset = entry.offset;
        auto place = std::find_if(group.begin(), group.end(), [&](const auto &g) { return g.first == entry.length; });
        if (place == group.end()) {
            Result<std::string> text = s.source.fetch(entry.offset, entry.length);
            if (!text) {
                if (!s.log.skip(s.source.file(), entry.line, text.reason()))
                    return Failure{kStrictStop, Fault::Rejected};
                continue;
            }
            Result<uint32_t> page = pages.page(*text);
            if (!page) return Failure{s.out + ": " + page.reason()};
            place = group.emplace(group.end(), entry.length, *page);
        }
        placed.emplace_back(entry.word, tablePage(s, entry.word, place->second));
        s.log.keep();
    }
    std::sort(placed.begin(), placed.end(), [&](const auto &a, const auto &b) {
        int c = std::strcmp(s.keys.textAt(a.first), s.keys.textAt(b.first));
        return c != 0 ? c < 0 : a.first < b.first;
    });
    for (const auto &[word, page] : placed)
        if (Status added = addKey(s, word, page); !added) return added;
    return Status();
}

zav::BookDesc bookHeader(const std::string &name, uint32_t kind) {
    zav::BookDesc book;
    book.kind = kind;
    book.bookName = zav::StringListDesc{{kBaseLanguage, nameText(name)}};
    book.languages = std::vector<uint8_t>{kBaseLanguage};
    return book;
}

// Opens the temporary that becomes `out`: its file descriptor.
Result<int> openTemporary(OutputFiles &files, const std::string &out, bool standardOutput) {
    Result<std::string> temporary = files.add(out, standardOutput);
    if (!temporary) return temporary.failure();
    int fd = ::open(temporary->c_str(), O_RDWR | O_CLOEXEC);
    if (fd < 0) return Failure{out + ": cannot write: " + std::strerror(errno)};
    return fd;
}

struct Streamed {
    zav::BookDesc book;
    std::vector<zav::StreamTableDesc> tables;
    uint32_t tablePages = 0;
};

// Lays out and writes the plain book into fd.
Status streamBook(const std::string &command, ImportedBook &imported, DefinitionSource &source, ImportLog &log,
                  const ImportTarget &target, int fd, Streamed &s) {
    std::vector<uint32_t> plan = planKeys(imported.entries, log, source.file());
    const bool described = !imported.info.empty() && !target.dictionaryBook;
    const Expected expected = expect(imported.entries, plan, s.book, s.tables, described);
    zav::BookStreamWriter writer(fd, tovix::KIND_PLAIN, expected.front);
    Progress progress(command, "entries laid out", plan.size(), target.quiet);
    LayoutState state{imported, source, log, writer, s.tables[0].keys, target.out, {}};
    // The keys' texts are the headwords: the words move over to the keys.
    if (!state.keys.adopt(imported.entries.takeWords()))
        return Failure{target.out + ": the headwords reach 2 GiB", Fault::Rejected};
    state.keys.reserve(plan.size() + expected.foldedKeys, expected.foldedBytes);
    if (Status laid = layOut(state, plan, progress); !laid) {
        log.summary();
        return laid;
    }
    plan.clear();
    plan.shrink_to_fit();
    imported.entries.clear();
    log.summary();
    if (state.keys.empty()) return Failure{source.file() + ": no entries", Fault::Rejected};
    s.tables[0].pageList = std::move(state.tablePages.list());
    s.tablePages = static_cast<uint32_t>(s.tables[0].pageList.size());
    // What the dictionary says about itself is a page of the book that no
    // key leads to, after the table's pages.
    std::string error;
    if (described && !writer.addPage(bookInfoPage(imported.info), &error)) return Failure{target.out + ": " + error};
    progress.note("sorting the keys and writing the book");
    state.keys.sort();
    uint64_t size = 0;
    if (!writer.finish(s.book, s.tables, &size, &error)) return Failure{target.out + ": " + error};
    if (!target.quiet && !target.dictionaryBook)
        std::fprintf(reportStream(target.out), "wrote %s: %llu bytes, 1 tables, %u pages, %zu keys\n",
                     target.out.c_str(), static_cast<unsigned long long>(size), writer.pageCount(), state.keys.size());
    if (target.dictionaryBook)
        return writeDictionaryBook(command, s.tables[0].name->entries[0].second, s.tables[0].keys, s.tables[0].pageList,
                                   writer, imported.info, target);
    return Status();
}

}  // namespace

bool ImportEntries::add(const ImportEntry &entry) {
    if (arena_.size() + entry.word.size() + 1 > kMaxArenaBytes) return false;
    uint32_t line = entry.line > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(entry.line);
    entries_.push_back(Packed{entry.offset, entry.length, static_cast<uint32_t>(arena_.size()), line});
    arena_.append(entry.word);
    arena_.push_back('\0');
    return true;
}

void ImportEntries::clear() {
    std::string().swap(arena_);
    std::vector<Packed>().swap(entries_);
}

Status buildImported(const std::string &command, ImportedBook &imported, DefinitionSource &source, ImportLog &log,
                     const ImportTarget &target) {
    Streamed s;
    s.book = bookHeader(imported.name, tovix::KIND_PLAIN);
    s.tables.emplace_back();
    s.tables[0].name = zav::StringListDesc{{kBaseLanguage, nameText(imported.name)}};
    s.tables[0].locale = kBaseLanguage;
    s.tables[0].autoPageToKey = true;
    // A dictionary book's words are laid out as a plain book first, in a
    // temporary that is never kept; its pages are read back for the words.
    OutputFiles files;
    const std::string plainOut = target.dictionaryBook ? target.out + ".words" : target.out;
    Result<int> fd = openTemporary(files, plainOut, !target.dictionaryBook);
    if (!fd) return fd.status();
    Status streamed = streamBook(command, imported, source, log, target, *fd, s);
    bool closed = ::close(*fd) == 0;
    if (!streamed) return streamed;
    if (target.dictionaryBook) return Status();  // the temporary is removed with `files`
    if (!closed) return Failure{target.out + ": cannot write the book"};
    return files.commit();
}

}  // namespace zavtool
