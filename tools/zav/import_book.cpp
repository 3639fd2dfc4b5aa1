#include "import_book.h"

#include <algorithm>
#include <unordered_map>

#include "book_output.h"
#include "cli.h"
#include "entries.h"
#include "tovix/collation.h"
#include "tovix/format.h"
#include "zav/book_writer.h"

namespace zavtool {

namespace {

constexpr uint8_t kBaseLanguage = 1;
constexpr size_t kMaxNameBytes = 255;

// A name cut to what a string list holds, without splitting a UTF-8 character.
std::string nameText(std::string text) {
    if (text.size() <= kMaxNameBytes) return text;
    size_t end = kMaxNameBytes;
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
    text.resize(end);
    return text;
}

// The entries that become keys: every headword leads to the page of its own
// definition, so equal headwords with different definitions ("Bank" and
// "bank", or one headword listed twice) stay separate entries that a look-up
// of every equal key finds. A headword listed twice for the same definition
// gives one key. In the order the definitions lie in the input, so that a
// compressed data file is read chunk after chunk.
bool samePlace(const ImportEntry &a, const ImportEntry &b) { return a.offset == b.offset && a.length == b.length; }

std::vector<uint32_t> planKeys(const std::vector<ImportEntry> &entries) {
    std::vector<uint32_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        int32_t c = tovix::compareKeys(entries[a].word.c_str(), entries[b].word.c_str());
        if (c != 0) return c < 0;
        return entries[a].word < entries[b].word;
    });
    std::vector<uint32_t> keep;
    for (size_t i = 0; i < order.size(); ++i) {
        const ImportEntry &entry = entries[order[i]];
        bool repeated = false;
        for (size_t j = i; j-- > 0 && entries[order[j]].word == entry.word && !repeated;)
            repeated = samePlace(entries[order[j]], entry);
        if (!repeated) keep.push_back(order[i]);
    }
    std::stable_sort(keep.begin(), keep.end(),
                     [&](uint32_t a, uint32_t b) { return entries[a].offset < entries[b].offset; });
    return keep;
}

// Adds pages and keys to the book; a definition already on a page is not
// stored twice.
class Layout {
public:
    Layout(zav::BookDesc &book, zav::TableDesc &table) : book_(book), table_(table) {}
    uint32_t page(std::string text) {
        size_t hash = std::hash<std::string>{}(text);
        auto found = pageByHash_.find(hash);
        if (found != pageByHash_.end() && book_.pages[found->second].data == text) return found->second;
        uint32_t index = static_cast<uint32_t>(book_.pages.size());
        if (found == pageByHash_.end()) pageByHash_.emplace(hash, index);
        table_.pageList.push_back(index);
        book_.pages.push_back(zav::PageDesc{std::move(text), {}});
        return index;
    }
    void key(std::string word, uint32_t page) {
        zav::KeyDesc key;
        key.text = std::move(word);
        key.pageNo = page;
        table_.keys.push_back(std::move(key));
        addFoldedKeys(&table_.keys, table_.keys.back().text, page);
    }

private:
    zav::BookDesc &book_;
    zav::TableDesc &table_;
    std::unordered_map<size_t, uint32_t> pageByHash_;
};

// Lays the pages and keys of the table out; false when the import must stop.
bool layOut(ImportedBook &imported, DefinitionSource &source, ImportLog &log, Layout &layout, Progress &progress) {
    std::vector<ImportEntry> &entries = imported.entries;
    std::vector<uint32_t> plan = planKeys(entries);
    // A headword listed twice for the same definition is kept as one key.
    log.keep(entries.size() - plan.size());
    // Headwords that share a definition share its page.
    std::unordered_map<uint64_t, std::unordered_map<uint64_t, uint32_t>> pageByPlace;
    std::string text, reason;
    uint64_t done = 0;
    for (uint32_t i : plan) {
        ImportEntry &entry = entries[i];
        progress.step(++done);
        auto &byLength = pageByPlace[entry.offset];
        auto place = byLength.find(entry.length);
        if (place == byLength.end()) {
            if (!source.fetch(entry, &text, &reason)) {
                if (!log.skip(source.file(), entry.line, reason)) return false;
                continue;
            }
            place = byLength.emplace(entry.length, layout.page(std::move(text))).first;
        }
        layout.key(std::move(entry.word), place->second);
        log.keep();
    }
    return true;
}

}  // namespace

int buildImported(const std::string &command, ImportedBook imported, DefinitionSource &source, ImportLog &log,
                  const std::string &out, bool quiet) {
    zav::BookDesc book;
    book.kind = tovix::KIND_PLAIN;
    book.bookName = zav::StringListDesc{{kBaseLanguage, nameText(imported.name)}};
    book.languages = std::vector<uint8_t>{kBaseLanguage};
    zav::TableDesc table;
    table.name = zav::StringListDesc{{kBaseLanguage, nameText(imported.name)}};
    table.locale = kBaseLanguage;
    table.keys.reserve(imported.entries.size());
    Progress progress(command, "entries laid out", imported.entries.size(), quiet);
    Layout layout(book, table);
    if (!layOut(imported, source, log, layout, progress)) {
        log.summary();
        complain(command, "stopped at the first line that cannot become an entry (--strict); nothing written");
        return EXIT_FAILED;
    }
    imported.entries.clear();
    imported.entries.shrink_to_fit();
    log.summary();
    if (table.keys.empty()) {
        complain(command, source.file() + ": no entries");
        return EXIT_FAILED;
    }
    // The description is a page of the book that no key leads to, after the
    // table's pages.
    if (!imported.description.empty()) book.pages.push_back(zav::PageDesc{std::move(imported.description), {}});
    table.autoPageToKey = true;
    book.tables.push_back(std::move(table));
    progress.note("sorting the keys and writing the book");
    return writeBookFile(command, book, out, quiet);
}

}  // namespace zavtool
