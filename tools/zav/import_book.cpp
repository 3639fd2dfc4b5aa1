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

// How the entries become keys. A look-up finds one of the keys that are
// equal under the key collation, so equal headwords with different
// definitions ("Bank", "bank", or one headword listed twice) share one page
// that holds all their definitions ("merged"); the others lead each to the
// page of their own definition ("single", in the order their definitions lie
// in the input, so that a compressed data file is read chunk after chunk).
// A headword listed twice for the same definition gives one key.
struct Plan {
    std::vector<uint32_t> single;
    std::vector<std::vector<uint32_t>> merged;  // each in input order
};

bool samePlace(const ImportEntry &a, const ImportEntry &b) { return a.offset == b.offset && a.length == b.length; }

Plan planKeys(const std::vector<ImportEntry> &entries) {
    std::vector<uint32_t> order(entries.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return tovix::compareKeys(entries[a].word.c_str(), entries[b].word.c_str()) < 0;
    });
    Plan plan;
    for (size_t begin = 0, end; begin < order.size(); begin = end) {
        const ImportEntry &first = entries[order[begin]];
        bool onePlace = true;
        for (end = begin + 1;
             end < order.size() && tovix::compareKeys(first.word.c_str(), entries[order[end]].word.c_str()) == 0; ++end)
            onePlace = onePlace && samePlace(first, entries[order[end]]);
        if (!onePlace) {
            plan.merged.emplace_back(order.begin() + static_cast<ptrdiff_t>(begin), order.begin() + static_cast<ptrdiff_t>(end));
            continue;
        }
        for (size_t i = begin; i < end; ++i) {
            bool repeated = false;
            for (size_t j = begin; j < i && !repeated; ++j) repeated = entries[order[j]].word == entries[order[i]].word;
            if (!repeated) plan.single.push_back(order[i]);
        }
    }
    std::stable_sort(plan.single.begin(), plan.single.end(),
                     [&](uint32_t a, uint32_t b) { return entries[a].offset < entries[b].offset; });
    auto firstPlace = [&](const std::vector<uint32_t> &group) {
        uint64_t low = UINT64_MAX;
        for (uint32_t i : group) low = std::min(low, entries[i].offset);
        return low;
    };
    std::stable_sort(plan.merged.begin(), plan.merged.end(),
                     [&](const auto &a, const auto &b) { return firstPlace(a) < firstPlace(b); });
    return plan;
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

// The merged groups: their definitions are fetched in the order they lie in
// the input, then each group's definitions, each once and in input order,
// make its page, and its distinct spellings become keys to it. False when
// the import must stop.
bool layOutMerged(std::vector<ImportEntry> &entries, const std::vector<std::vector<uint32_t>> &groups,
                  DefinitionSource &source, ImportLog &log, Layout &layout, Progress &progress, uint64_t done) {
    struct Member {
        uint32_t entry, group;
    };
    std::vector<Member> members;
    for (size_t g = 0; g < groups.size(); ++g)
        for (uint32_t i : groups[g]) members.push_back({i, static_cast<uint32_t>(g)});
    std::stable_sort(members.begin(), members.end(),
                     [&](const Member &a, const Member &b) { return entries[a.entry].offset < entries[b.entry].offset; });
    std::unordered_map<uint32_t, std::string> texts;  // by entry
    std::string text, reason;
    for (const Member &m : members) {
        progress.step(++done);
        if (source.fetch(entries[m.entry], &text, &reason)) {
            texts[m.entry] = std::move(text);
            log.keep();
        } else if (!log.skip(source.file(), entries[m.entry].line, reason)) {
            return false;
        }
    }
    for (const auto &group : groups) {
        std::vector<std::string *> parts;
        std::vector<std::string> words;
        for (uint32_t i : group) {
            auto found = texts.find(i);
            if (found == texts.end()) continue;
            bool seen = false;
            for (std::string *p : parts) seen = seen || *p == found->second;
            if (!seen) parts.push_back(&found->second);
            if (std::find(words.begin(), words.end(), entries[i].word) == words.end()) words.push_back(entries[i].word);
        }
        if (parts.empty()) continue;
        std::string joined = *parts[0];
        for (size_t t = 1; t < parts.size(); ++t) joined += "\n" + *parts[t];
        uint32_t page = layout.page(std::move(joined));
        for (std::string &w : words) layout.key(std::move(w), page);
    }
    return true;
}

// Lays the pages and keys of the table out; false when the import must stop.
bool layOut(ImportedBook &imported, DefinitionSource &source, ImportLog &log, Layout &layout, Progress &progress) {
    std::vector<ImportEntry> &entries = imported.entries;
    Plan plan = planKeys(entries);
    // A headword listed twice for the same definition is kept as one key.
    size_t grouped = plan.single.size();
    for (const auto &group : plan.merged) grouped += group.size();
    log.keep(entries.size() - grouped);
    // Headwords that share a definition share its page.
    std::unordered_map<uint64_t, std::unordered_map<uint64_t, uint32_t>> pageByPlace;
    std::string text, reason;
    uint64_t done = 0;
    for (uint32_t i : plan.single) {
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
    return layOutMerged(entries, plan.merged, source, log, layout, progress, done);
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
