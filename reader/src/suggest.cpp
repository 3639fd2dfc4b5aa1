// Suggestions for a word that is not found, read through the key index
// without walking the whole key list: the keys where the word would stand,
// and near spellings found by
//   - exact probes of the word's one-edit variants: a character left out,
//     two neighbours swapped, a character of the word (or its letter without
//     accents) put in or put in place of another;
//   - short scans of the keys that share the word's longer prefixes, which
//     hold the variants one or two edits away near its end;
//   - for each prefix w[0..i) of the word, a skip over the characters that
//     follow it in the key list, probing each one put in at i or in place
//     of w[i] (first position last).
// Every key is read at most once, and the work stops after a fixed number of
// key reads. A spell-capable table of a dictionary book asks the engine's
// correction instead.
#include "suggest.h"

#include <utf8proc.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <set>

#include "ZoZizID.h"
#include "text.h"
#include "tovix/format.h"

namespace zavreader {

namespace {

// Key reads one suggestion search may make: a key read through the module
// costs about 12 microseconds of processor time in a plain book, so at most
// some 18 ms; one served by the dictionary engine (which opens the
// dictionary for each read) about twice that.
constexpr size_t kReadBudget = 1500;
constexpr size_t kEngineReadBudget = 750;
// Keys scanned after the start of each shared prefix.
constexpr size_t kPrefixWindow = 48;
// Neighbours of the word's place offered when there is room.
constexpr size_t kNeighbours = 2;
// Words of up to this many characters are offered one-edit spellings only.
constexpr size_t kShortWord = 3;

// A letter without its accents: the first code point of its canonical
// decomposition ("ï" gives "i").
char32_t baseLetter(char32_t c) {
    utf8proc_int32_t parts[4];
    int boundary = 0;
    utf8proc_ssize_t n =
        utf8proc_decompose_char(static_cast<utf8proc_int32_t>(c), parts, 4, UTF8PROC_DECOMPOSE, &boundary);
    return n >= 1 && n <= 4 ? static_cast<char32_t>(parts[0]) : c;
}

// The one-edit variants of a word that an exact probe can find: the
// characters put in are the word's own and their letters without accents.
std::vector<std::string> oneEditVariants(const std::vector<char32_t> &w) {
    std::vector<std::string> out;
    std::vector<char32_t> alphabet(w.begin(), w.end());
    for (char32_t c : w) alphabet.push_back(baseLetter(c));
    std::sort(alphabet.begin(), alphabet.end());
    alphabet.erase(std::unique(alphabet.begin(), alphabet.end()), alphabet.end());
    for (size_t i = 0; i + 1 < w.size(); ++i) {
        auto v = w;
        std::swap(v[i], v[i + 1]);
        out.push_back(utf8Of(v));
    }
    for (size_t i = 0; i < w.size() && w.size() > 1; ++i) {
        auto v = w;
        v.erase(v.begin() + static_cast<std::ptrdiff_t>(i));
        out.push_back(utf8Of(v));
    }
    for (size_t i = 0; i <= w.size(); ++i) {
        for (char32_t c : alphabet) {
            auto v = w;
            v.insert(v.begin() + static_cast<std::ptrdiff_t>(i), c);
            out.push_back(utf8Of(v));
            if (i < w.size() && w[i] != c) {
                auto s = w;
                s[i] = c;
                out.push_back(utf8Of(s));
            }
        }
    }
    return out;
}

struct Candidate {
    size_t distance;
    uint32_t keyIndex;
    std::string name;
};

class Search {
public:
    Search(KeyReader &reader, const std::string &word)
        : reader_(reader),
          target_(foldCase(keyBody(word))),
          limit_(codePoints(target_).size() <= kShortWord ? 1 : 2),
          budget_(reader.book().isDictionary() ? kEngineReadBudget : kReadBudget) {}

    bool exhausted() const { return reader_.failed() || reader_.reads() >= budget_; }

    // Weigh key i as a near spelling.
    void consider(uint32_t index) {
        if (index >= reader_.count() || exhausted()) return;
        std::string name = keyBody(reader_.headword(index));
        if (name.empty()) return;
        std::string folded = foldCase(name);
        if (collate(folded, target_) == 0) return;
        size_t d = editDistance(folded, target_, limit_);
        if (d > limit_) return;
        auto found = near_.find(folded);
        if (found == near_.end() || found->second.keyIndex > index) near_[folded] = {d, index, name};
    }

    void probe(const std::string &text, uint32_t lo = 0, uint32_t hi = UINT32_MAX) {
        if (exhausted()) return;
        auto at = reader_.lowerBound(text, lo, hi);
        if (at) consider(*at);
    }

    void scanPrefix(const std::string &prefix) {
        auto at = reader_.lowerBound(prefix);
        if (!at) return;
        for (uint32_t i = *at; i < reader_.count() && i - *at < kPrefixWindow; ++i) {
            const std::string *key = exhausted() ? nullptr : reader_.text(i);
            if (!key || !bodyStartsWith(*key, prefix)) break;
            consider(i);
        }
    }

    void run() {
        auto w = codePoints(target_);
        for (const std::string &v : oneEditVariants(w)) probe(v);
        for (size_t length = w.size(); length > (w.size() + 1) / 2; --length) scanPrefix(utf8Of(head(w, length - 1)));
        // Characters the word does not hold, put in or in place of another:
        // the ones that follow each prefix of the word in the key list,
        // found by skipping from one to the next. The first position last:
        // it costs the most and is the least often wrong.
        for (size_t i = 1; i < w.size() && !exhausted(); ++i) followers(w, i);
        if (!w.empty()) followers(w, 0);
    }

    static std::vector<char32_t> head(const std::vector<char32_t> &w, size_t n) {
        return std::vector<char32_t>(w.begin(), w.begin() + static_cast<std::ptrdiff_t>(n));
    }

    // For each character x that follows w[0..i) in the key list, probe the
    // word with x in place of w[i] and with x put in before w[i].
    void followers(const std::vector<char32_t> &w, size_t i) {
        std::vector<char32_t> prefix = head(w, i);
        std::string prefixText = utf8Of(prefix);
        auto at = reader_.lowerBound(prefixText);
        while (at && *at < reader_.count() && !exhausted()) {
            const std::string *key = reader_.text(*at);
            if (!key || !bodyStartsWith(*key, prefixText)) return;
            auto chars = codePoints(foldCase(keyBody(*key)));
            if (chars.size() <= i) {
                ++*at;
                continue;
            }
            char32_t x = chars[i];
            prefix.push_back(x + 1);
            auto next = reader_.gallop(utf8Of(prefix), *at);
            prefix.pop_back();
            if (!next) return;
            // A key whose text is not UTF-8 need not sort before the next
            // character's text: step past it, so that the walk always moves.
            if (*next <= *at) next = *at + 1;
            // Both variants start with w[0..i) x: they stand among keys [at, next).
            auto replaced = w, inserted = w;
            replaced[i] = x;
            inserted.insert(inserted.begin() + static_cast<std::ptrdiff_t>(i), x);
            probe(utf8Of(replaced), *at, *next);
            probe(utf8Of(inserted), *at, *next);
            at = next;
        }
    }

    std::vector<Candidate> ranked() const {
        std::vector<Candidate> out;
        for (const auto &n : near_) out.push_back(n.second);
        std::sort(out.begin(), out.end(), [](const Candidate &a, const Candidate &b) {
            return a.distance != b.distance ? a.distance < b.distance : a.keyIndex < b.keyIndex;
        });
        return out;
    }

    const std::string &target() const { return target_; }

private:
    KeyReader &reader_;
    std::string target_;
    size_t limit_;
    size_t budget_;
    std::map<std::string, Candidate> near_;
};

// A dictionary book's spell-capable table: the engine's correction, which
// reads its own word list once, gives the near spellings.
bool spellCapable(KeyReader &reader) {
    uint32_t dictId = static_cast<uint32_t>(ZAVGetDictClass(reader.handle(), reader.table()));
    return reader.book().isDictionary() && tovix::isSpellCapable(dictId);
}

std::vector<Candidate> engineCorrections(KeyReader &reader, const std::string &word, size_t count) {
    constexpr size_t kMostSlots = 255;
    std::vector<Candidate> out;
    std::string body = keyBody(word);
    if (body.size() >= ZOZIZID_SLOT_SIZE) return out;
    size_t wanted = std::min(count, kMostSlots);
    std::vector<char> slots(wanted * ZOZIZID_SLOT_SIZE, '\0');
    int32_t n = EBDSCCorrection(reader.handle(), reader.table(), reinterpret_cast<intptr_t>(body.c_str()),
                                reinterpret_cast<intptr_t>(slots.data()), static_cast<uint32_t>(wanted));
    for (int32_t i = 0; i >= 0 && i < n && static_cast<size_t>(i) < wanted; ++i) {
        char *slot = slots.data() + static_cast<size_t>(i) * ZOZIZID_SLOT_SIZE;
        slot[ZOZIZID_SLOT_SIZE - 1] = '\0';
        if (collate(slot, body) != 0) out.push_back({0, static_cast<uint32_t>(i), slot});
    }
    return out;
}

// The headwords nearest to the word's place, after it first, alternating.
bool neighbours(KeyReader &reader, const std::string &word, size_t count, std::vector<std::string> *out) {
    auto at = reader.lowerBound(word);
    if (!at) return false;
    std::set<std::string> seen;
    int64_t after = *at, before = static_cast<int64_t>(*at) - 1;
    while (out->size() < count && (after < reader.count() || before >= 0)) {
        for (int64_t *side : {&after, &before}) {
            if (*side < 0 || *side >= reader.count() || out->size() >= count) continue;
            std::string name = keyBody(reader.headword(static_cast<uint32_t>(*side)));
            if (reader.failed()) return false;
            *side += side == &after ? 1 : -1;
            if (!name.empty() && seen.insert(foldCase(name)).second) out->push_back(name);
        }
    }
    return true;
}

}  // namespace

Status suggestWords(KeyReader &reader, const std::string &word, size_t count, std::vector<Suggestion> *out) {
    if (reader.count() == 0 || count == 0 || keyBody(word).empty()) return Status::ok();
    Search search(reader, word);
    std::vector<Candidate> near;
    if (spellCapable(reader)) {
        near = engineCorrections(reader, word, count);
    } else {
        search.run();
        near = search.ranked();
    }
    if (reader.failed()) return Status::fail(ZAVR_UNREADABLE, reader.error());
    std::vector<std::string> around;
    if (!neighbours(reader, word, count, &around)) return Status::fail(ZAVR_UNREADABLE, reader.error());
    size_t roomForNear = count > kNeighbours && !around.empty() ? count - std::min(kNeighbours, around.size()) : count;
    std::set<std::string> seen;
    for (const Candidate &c : near) {
        if (out->size() >= roomForNear) break;
        if (seen.insert(foldCase(c.name)).second) out->push_back({c.name, static_cast<uint32_t>(c.distance)});
    }
    for (const std::string &name : around) {
        if (out->size() >= count) break;
        if (seen.insert(foldCase(name)).second) out->push_back({name, 0});
    }
    return Status::ok();
}

}  // namespace zavreader
