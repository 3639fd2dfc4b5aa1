// Fuzz target: a book of any content on a shelf of the reader library, asked
// what a reader asks: look-ups of its own keys (as stored, in capitals,
// without accents, cut short), every match strategy, suggestions,
// completions, key cursors one by one and in batches, and every answer's
// entry. Besides the sanitizers, the library's promises are checked: an
// answer asked with its text has a text or a reason, never neither; a batch
// never writes past its buffer; a cursor yields each key once, in order.
#include <string.h>

#include <string>
#include <vector>

#include "ZAVReader.h"
#include "fuzz_support.h"

namespace {

constexpr size_t kKeysAsked = 24;
constexpr size_t kBatchBuffer = 4096;
constexpr uint32_t kMillisecondsPerCall = 200;

ZAVReaderLimits limits() {
    ZAVReaderLimits l{};
    l.size = sizeof l;
    l.max_answers = 200;
    l.max_bytes = 1u << 20;
    l.time_ms = kMillisecondsPerCall;
    return l;
}

void checkAnswers(ZAVReaderResult *r, bool withText) {
    FUZZ_CHECK(r != nullptr);
    for (size_t i = 0; i < ZAVReaderResultCount(r); ++i) {
        const ZAVReaderAnswer *a = ZAVReaderResultAt(r, i);
        FUZZ_CHECK(a->headword && a->key);
        if (withText) FUZZ_CHECK((a->text != nullptr) != (a->reason != nullptr));
        if (a->text) FUZZ_CHECK(strlen(a->text) <= a->text_length);
    }
    if (ZAVReaderResultStatus(r) != ZAVR_OK) FUZZ_CHECK(ZAVReaderResultReason(r) && *ZAVReaderResultReason(r));
    ZAVReaderResultFree(r);
}

// Up to kKeysAsked keys of a database, and a check of its cursors.
std::vector<std::string> walk(ZAVReaderShelf *shelf, size_t db) {
    std::vector<std::string> keys;
    ZAVReaderCursor *c = ZAVReaderKeys(shelf, db, nullptr, 0);
    ZAVReaderKey key;
    uint32_t last = 0;
    for (int32_t got; keys.size() < kKeysAsked && (got = ZAVReaderNext(c, &key)) != 0;) {
        if (got < 0) {
            FUZZ_CHECK(ZAVReaderCursorReason(c) != nullptr);
            break;
        }
        FUZZ_CHECK(keys.empty() || key.index == last + 1);
        last = key.index;
        keys.push_back(key.text);
    }
    ZAVReaderCursorFree(c);
    c = ZAVReaderKeys(shelf, db, keys.empty() ? "a" : keys.back().c_str(), 0);
    std::vector<char> buffer(kBatchBuffer + 1, '\x5a');
    size_t used = 0;
    for (int64_t n; (n = ZAVReaderNextBatch(c, buffer.data(), kBatchBuffer, 64, &used)) > 0;)
        FUZZ_CHECK(used <= kBatchBuffer && buffer[kBatchBuffer] == '\x5a');
    ZAVReaderCursorFree(c);
    return keys;
}

std::string variant(const std::string &key, size_t i) {
    switch (i % 4) {
        case 0: return key;
        case 1: {
            std::string upper = key;
            for (char &ch : upper)
                if (ch >= 'a' && ch <= 'z') ch = static_cast<char>(ch - 32);
            return upper;
        }
        case 2: {
            char folded[512];
            ZAVReaderFold(key.c_str(), 1, folded, sizeof folded);
            return folded;
        }
        default: return key.substr(0, key.size() / 2);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    fuzz::pointEngineAtScratch();
    std::string path = fuzz::writeScratchFile("reader.book", data, size);
    ZAVReaderShelf *shelf = ZAVReaderOpen();
    ZAVReaderAdd(shelf, path.c_str(), nullptr);
    ZAVReaderLimits l = limits();
    for (size_t db = 0; db < ZAVReaderDatabaseCount(shelf); ++db) {
        ZAVReaderDatabaseInfo info;
        FUZZ_CHECK(ZAVReaderDatabase(shelf, db, &info) == ZAVR_OK && info.name && *info.name);
        std::vector<std::string> keys = walk(shelf, db);
        for (size_t i = 0; i < keys.size(); ++i) {
            std::string word = variant(keys[i], i);
            checkAnswers(ZAVReaderLookup(shelf, info.name, word.c_str(), i % 3 == 0 ? ZAVR_FIRST : 0, &l), true);
            if (i % 4 == 0) checkAnswers(ZAVReaderSuggest(shelf, info.name, word.c_str(), 5, &l), false);
            if (i % 4 == 1) checkAnswers(ZAVReaderComplete(shelf, info.name, word.c_str(), 5, &l), false);
            checkAnswers(ZAVReaderEntry(shelf, db, static_cast<uint32_t>(i)), true);
        }
        std::string pattern = keys.empty() ? "a" : keys[0].substr(0, 3);
        for (size_t s = 0; ZAVReaderStrategyName(s); ++s)
            checkAnswers(ZAVReaderMatch(shelf, info.name, ZAVReaderStrategyName(s), pattern.c_str(), &l), false);
        checkAnswers(ZAVReaderLookup(shelf, info.name, "zzzz-not-a-word", 0, &l), true);
    }
    ZAVReaderClose(shelf);
    return 0;
}
