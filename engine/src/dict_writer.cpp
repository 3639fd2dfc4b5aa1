#include "ZoZizID_writer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "tovix/collation.h"
#include "tovix/le.h"
#include "dict_format.h"

namespace zozizid {

namespace {

constexpr size_t kBlockSize = size_t{1} << 20;   // bytes of the table's blocks
constexpr size_t kOwnBlock = kBlockSize / 4;     // bytes kept in a block of their own
constexpr size_t kFileBuffer = size_t{1} << 20;  // bytes buffered when writing a file
constexpr size_t kWordPreview = 40;              // bytes of a word quoted in a message
constexpr uint64_t kMaxFileSize = 0xFFFFFFFFull;

bool fail(std::string *error, const std::string &message) {
    if (error) *error = message;
    return false;
}

// Where the laid-out bytes go.
class Sink {
public:
    virtual ~Sink() = default;
    virtual void put(const void *bytes, size_t size) = 0;
    void put32(uint32_t v) {
        uint8_t b[4];
        tovix::putLe32(b, v);
        put(b, sizeof b);
    }
};

class VectorSink : public Sink {
public:
    explicit VectorSink(std::vector<uint8_t> *out) : out_(out) {}
    void put(const void *bytes, size_t size) override {
        const auto *b = static_cast<const uint8_t *>(bytes);
        out_->insert(out_->end(), b, b + size);
    }

private:
    std::vector<uint8_t> *out_;
};

class FileSink : public Sink {
public:
    explicit FileSink(std::FILE *file) : file_(file) {}
    void put(const void *bytes, size_t size) override {
        if (ok && size && std::fwrite(bytes, 1, size, file_) != size) ok = false;
    }
    bool ok = true;

private:
    std::FILE *file_;
};

// Of a record's contents (in id order), the ones written: the last of
// each run of equal ids.
bool kept(const DictWordTable &t, size_t i, size_t k) {
    return k + 1 == t.contentCount(i) || t.contentId(i, k + 1) != t.contentId(i, k);
}

size_t keptCount(const DictWordTable &t, size_t i) {
    size_t n = 0;
    for (size_t k = 0; k < t.contentCount(i); ++k) n += kept(t, i, k) ? 1 : 0;
    return n;
}

uint64_t recordSize(const DictWordTable &t, size_t i) {
    uint64_t size = 4;
    for (size_t k = 0; k < t.contentCount(i); ++k)
        if (kept(t, i, k)) size += format::kContentEntrySize + uint64_t{t.contentSize(i, k)};
    return size;
}

bool validate(const DictWordTable &t, std::string *error) {
    using namespace format;
    for (size_t i = 0; i < t.size(); ++i) {
        std::string_view w = t.word(i);
        if (w.empty()) return fail(error, "empty word");
        if (w.size() > kMaxWordLength)
            return fail(error, "word longer than 65535 bytes: " + std::string(w.substr(0, kWordPreview)));
        if (w.find('\0') != std::string_view::npos) return fail(error, "word holds a zero byte");
        if (keptCount(t, i) > kMaxContents) return fail(error, "more than 1024 contents in word " + std::string(w));
        for (size_t k = 0; k < t.contentCount(i); ++k)
            if (t.contentSize(i, k) > kMaxContentLength)
                return fail(error, "content of 2 GiB or more in word " + std::string(w));
    }
    return true;
}

struct Plan {
    std::vector<uint32_t> order;
    uint64_t wordsSize = 0, recordsSize = 0, total = 0;
};

// Check the words and size the file, in 64 bits, so that an oversized
// dictionary is refused before anything is written.
bool plan(DictWordTable &t, Plan *p, std::string *error) {
    t.sortContents();
    if (!validate(t, error)) return false;
    p->order = recordOrder(t);
    for (size_t i = 0; i < t.size(); ++i) {
        p->wordsSize += 2 + t.word(i).size();
        p->recordsSize += recordSize(t, i);
    }
    p->total = format::kHeaderSize + uint64_t{format::kIndexEntrySize} * t.size() + p->wordsSize + p->recordsSize;
    if (p->total > kMaxFileSize) return fail(error, "dictionary of 4 GiB or more");
    return true;
}

void putHeader(uint32_t dictId, size_t count, const Plan &p, Sink &out) {
    using namespace format;
    const uint32_t wordsOffset = static_cast<uint32_t>(kHeaderSize + uint64_t{kIndexEntrySize} * count);
    uint8_t h[kHeaderSize] = {};
    std::memcpy(h + kOffMagic, kMagic, sizeof kMagic);
    tovix::putLe32(h + kOffVersion, kVersion);
    tovix::putLe32(h + kOffHeaderSize, kHeaderSize);
    tovix::putLe32(h + kOffDictId, dictId);
    tovix::putLe32(h + kOffWordCount, static_cast<uint32_t>(count));
    tovix::putLe32(h + kOffIndexOffset, kHeaderSize);
    tovix::putLe32(h + kOffWordsOffset, wordsOffset);
    tovix::putLe32(h + kOffWordsSize, static_cast<uint32_t>(p.wordsSize));
    tovix::putLe32(h + kOffRecordsOffset, static_cast<uint32_t>(wordsOffset + p.wordsSize));
    tovix::putLe32(h + kOffRecordsSize, static_cast<uint32_t>(p.recordsSize));
    tovix::putLe32(h + kOffFileSize, static_cast<uint32_t>(p.total));
    out.put(h, sizeof h);
}

// The header, the index, the words, then the records, in record order.
void layOut(uint32_t dictId, const DictWordTable &t, const Plan &p, Sink &out) {
    putHeader(dictId, t.size(), p, out);
    uint64_t wordAt = format::kHeaderSize + uint64_t{format::kIndexEntrySize} * t.size();
    uint64_t recordAt = wordAt + p.wordsSize;
    for (uint32_t i : p.order) {
        out.put32(static_cast<uint32_t>(wordAt));
        out.put32(static_cast<uint32_t>(recordAt));
        wordAt += 2 + t.word(i).size();
        recordAt += recordSize(t, i);
    }
    for (uint32_t i : p.order) {
        std::string_view w = t.word(i);
        const uint8_t length[2] = {static_cast<uint8_t>(w.size()), static_cast<uint8_t>(w.size() >> 8)};
        out.put(length, sizeof length);
        out.put(w.data(), w.size());
    }
    recordAt = format::kHeaderSize + uint64_t{format::kIndexEntrySize} * t.size() + p.wordsSize;
    for (uint32_t i : p.order) {
        out.put32(static_cast<uint32_t>(keptCount(t, i)));
        uint64_t dataAt = recordAt + 4 + uint64_t{format::kContentEntrySize} * keptCount(t, i);
        for (size_t k = 0; k < t.contentCount(i); ++k) {
            if (!kept(t, i, k)) continue;
            out.put32(t.contentId(i, k));
            out.put32(static_cast<uint32_t>(dataAt));
            out.put32(t.contentSize(i, k));
            dataAt += t.contentSize(i, k);
        }
        for (size_t k = 0; k < t.contentCount(i); ++k)
            if (kept(t, i, k)) out.put(t.contentData(i, k), t.contentSize(i, k));
        recordAt = dataAt;
    }
}

DictWordTable tableOf(const std::vector<DictWord> &words) {
    DictWordTable t;
    for (const DictWord &w : words) {
        t.addWord(w.word);
        for (const auto &c : w.contents) t.addContent(c.first, c.second);
    }
    return t;
}

}  // namespace

const char *DictWordTable::keep(std::string_view bytes, bool zeroAfter) {
    size_t need = bytes.size() + (zeroAfter ? 1 : 0);
    char *at;
    if (need >= kOwnBlock) {
        blocks_.emplace_back(new char[need]);
        at = blocks_.back().get();
    } else {
        if (need > blockLeft_) {
            blocks_.emplace_back(new char[kBlockSize]);
            blockAt_ = blocks_.back().get();
            blockLeft_ = kBlockSize;
        }
        at = blockAt_;
        blockAt_ += need;
        blockLeft_ -= need;
    }
    if (!bytes.empty()) std::memcpy(at, bytes.data(), bytes.size());
    if (zeroAfter) at[bytes.size()] = '\0';
    return at;
}

void DictWordTable::addWord(std::string_view word) {
    const char *data = keep(word, true);
    words_.push_back({data, static_cast<uint32_t>(std::min<size_t>(word.size(), UINT32_MAX)),
                      static_cast<uint32_t>(contents_.size())});
}

void DictWordTable::addContent(uint32_t id, std::string_view bytes) {
    contents_.push_back({keep(bytes, false), static_cast<uint32_t>(std::min<size_t>(bytes.size(), UINT32_MAX)), id});
}

void DictWordTable::sortContents() {
    for (size_t i = 0; i < words_.size(); ++i)
        std::stable_sort(contents_.begin() + words_[i].firstContent, contents_.begin() + contentEnd(i),
                         [](const Entry &a, const Entry &b) { return a.id < b.id; });
}

std::vector<uint32_t> recordOrder(const DictWordTable &words) {
    std::vector<uint32_t> order(words.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = static_cast<uint32_t>(i);
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        return tovix::compareKeys(words.wordText(a), words.wordText(b)) < 0;
    });
    return order;
}

std::string dictionaryFileName(uint32_t dictId) {
    char name[16];
    std::snprintf(name, sizeof name, "%08x.zzd", static_cast<unsigned>(dictId));
    return name;
}

std::string dictionaryPath(const std::string &folder, uint32_t dictId) {
    if (folder.empty() || folder.back() == '/' || folder.back() == '\\') return folder + dictionaryFileName(dictId);
    return folder + "/" + dictionaryFileName(dictId);
}

bool buildDictionary(uint32_t dictId, DictWordTable &words, std::vector<uint8_t> *out, std::string *error) {
    Plan p;
    if (!plan(words, &p, error)) return false;
    std::vector<uint8_t> bytes;
    bytes.reserve(static_cast<size_t>(p.total));
    VectorSink sink(&bytes);
    layOut(dictId, words, p, sink);
    if (out) *out = std::move(bytes);
    return true;
}

bool writeDictionary(const std::string &path, uint32_t dictId, DictWordTable &words, std::string *error) {
    Plan p;
    if (!plan(words, &p, error)) return false;
    std::FILE *file = std::fopen(path.c_str(), "wb");
    if (!file) return fail(error, "cannot create " + path);
    std::vector<char> buffer(kFileBuffer);
    std::setvbuf(file, buffer.data(), _IOFBF, buffer.size());
    FileSink sink(file);
    layOut(dictId, words, p, sink);
    bool closed = std::fclose(file) == 0;
    if (!sink.ok || !closed) return fail(error, "cannot write " + path);
    return true;
}

bool buildDictionary(uint32_t dictId, std::vector<DictWord> words, std::vector<uint8_t> *out, std::string *error) {
    DictWordTable table = tableOf(words);
    words.clear();
    return buildDictionary(dictId, table, out, error);
}

bool writeDictionary(const std::string &path, uint32_t dictId, std::vector<DictWord> words, std::string *error) {
    DictWordTable table = tableOf(words);
    words.clear();
    return writeDictionary(path, dictId, table, error);
}

}  // namespace zozizid
