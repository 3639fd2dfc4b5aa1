#include "formats/import_dictionary.h"

#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "ZoZizID_writer.h"
#include "dict_format.h"
#include "core/atomic_output.h"
#include "core/cli.h"
#include "tovix/format.h"
#include "zav/book_writer.h"

namespace zavtool {

namespace {

constexpr uint8_t kBaseLanguage = 1;
constexpr uint32_t kByteMask = 0xFF;

// The dictionary file's layout: a 48-byte header, the index, the word list
// and the record area (dict_format.h; described in ZoZizID.h).
using namespace zozizid::format;
constexpr uint32_t kWordLengthSize = 2;    // u16 before each word
constexpr uint32_t kContentCountSize = 4;  // u32 before a record's content entries
constexpr uint64_t kMaxDictionaryFile = UINT32_MAX;
constexpr uint32_t kNoKey = UINT32_MAX;

void put32(FILE *f, uint32_t v) {
    unsigned char b[4];
    tovix::putLe32(b, v);
    std::fwrite(b, 1, sizeof b, f);
}

// The record area holds one record per key, each with its main content and,
// for a key added for a headword's case fold, a content holding that
// headword; then the texts: each page once, however many keys lead to it,
// so that the file stays the size of the book, and the headwords of the
// fold keys.
struct DictLayout {
    uint64_t index = kHeaderSize, words = 0, wordsSize = 0, records = 0, recordsSize = 0, texts = 0;
    std::vector<uint32_t> textAt;    // per book page
    std::vector<uint32_t> headword;  // per key: the key of the headword it is the fold of, or kNoKey
};

// The headword of each fold key: the key without the fold attribute on the
// same table page.
std::vector<uint32_t> foldHeadwords(const zav::PackedKeys &keys, size_t tablePages) {
    std::vector<uint32_t> ofPage(tablePages, kNoKey), headword(keys.size(), kNoKey);
    for (size_t k = 0; k < keys.size(); ++k)
        if (keys.attribute(k) != tovix::KEY_ATTRIBUTE_CASE_FOLD && ofPage[keys.pageNo(k)] == kNoKey)
            ofPage[keys.pageNo(k)] = static_cast<uint32_t>(k);
    for (size_t k = 0; k < keys.size(); ++k)
        if (keys.attribute(k) == tovix::KEY_ATTRIBUTE_CASE_FOLD) headword[k] = ofPage[keys.pageNo(k)];
    return headword;
}

Status layOutDictionary(const zav::PackedKeys &keys, const std::vector<uint32_t> &pageList,
                        const zav::BookStreamWriter &pages, DictLayout *d) {
    d->headword = foldHeadwords(keys, pageList.size());
    d->words = d->index + uint64_t{kIndexEntrySize} * keys.size();
    for (size_t k = 0; k < keys.size(); ++k) d->wordsSize += kWordLengthSize + keys.text(k).size();
    d->records = d->words + d->wordsSize;
    d->texts = d->records;
    for (uint32_t h : d->headword) d->texts += kContentCountSize + kContentEntrySize * (h == kNoKey ? 1 : 2);
    uint64_t at = d->texts;
    d->textAt.reserve(pages.pageCount());
    for (uint32_t p = 0; p < pages.pageCount() && at <= kMaxDictionaryFile; ++p) {
        d->textAt.push_back(static_cast<uint32_t>(at));
        at += pages.pageSize(p);
    }
    for (uint32_t h : d->headword)
        if (h != kNoKey) at += keys.text(h).size();
    d->recordsSize = at - d->records;
    if (at > kMaxDictionaryFile) return Failure{"the dictionary would reach 4 GiB"};
    return Status();
}

// Writes the dictionary file, reading each text back from `pages`.
Status writeDictionary(FILE *f, uint32_t dictId, const zav::PackedKeys &keys, const std::vector<uint32_t> &pageList,
                       const zav::BookStreamWriter &pages) {
    DictLayout d;
    if (Status laid = layOutDictionary(keys, pageList, pages, &d); !laid) return laid;
    unsigned char header[kHeaderSize] = {};
    std::copy(kMagic, kMagic + sizeof kMagic, header + kOffMagic);
    const std::pair<uint32_t, uint64_t> fields[] = {{kOffVersion, kVersion},
                                                    {kOffHeaderSize, kHeaderSize},
                                                    {kOffDictId, dictId},
                                                    {kOffWordCount, keys.size()},
                                                    {kOffIndexOffset, d.index},
                                                    {kOffWordsOffset, d.words},
                                                    {kOffWordsSize, d.wordsSize},
                                                    {kOffRecordsOffset, d.records},
                                                    {kOffRecordsSize, d.recordsSize},
                                                    {kOffFileSize, d.records + d.recordsSize}};
    for (const auto &[field, value] : fields) tovix::putLe32(header + field, static_cast<uint32_t>(value));
    std::fwrite(header, 1, sizeof header, f);
    uint64_t word = d.words, record = d.records;
    for (size_t k = 0; k < keys.size(); ++k) {
        put32(f, static_cast<uint32_t>(word));
        put32(f, static_cast<uint32_t>(record));
        word += kWordLengthSize + keys.text(k).size();
        record += kContentCountSize + kContentEntrySize * (d.headword[k] == kNoKey ? 1 : 2);
    }
    for (size_t k = 0; k < keys.size(); ++k) {
        const std::string_view text = keys.text(k);
        const unsigned char length[kWordLengthSize] = {static_cast<unsigned char>(text.size() & kByteMask),
                                                       static_cast<unsigned char>(text.size() >> 8)};
        std::fwrite(length, 1, sizeof length, f);
        std::fwrite(text.data(), 1, text.size(), f);
    }
    uint64_t headwordAt = d.textAt.empty() ? d.texts : d.textAt.back() + pages.pageSize(pages.pageCount() - 1);
    for (size_t k = 0; k < keys.size(); ++k) {
        const uint32_t page = pageList[keys.pageNo(k)], head = d.headword[k];
        put32(f, head == kNoKey ? 1 : 2);
        put32(f, zozizid::mainContentId(dictId));
        put32(f, d.textAt[page]);
        put32(f, static_cast<uint32_t>(pages.pageSize(page)));
        if (head == kNoKey) continue;
        put32(f, zozizid::subContentId(dictId, tovix::CASE_FOLD_SUB));
        put32(f, static_cast<uint32_t>(headwordAt));
        put32(f, static_cast<uint32_t>(keys.text(head).size()));
        headwordAt += keys.text(head).size();
    }
    std::string text, error;
    for (uint32_t p = 0; p < pages.pageCount(); ++p) {
        if (!pages.readPage(p, &text, &error)) return Failure{error};
        std::fwrite(text.data(), 1, text.size(), f);
    }
    for (uint32_t head : d.headword)
        if (head != kNoKey) std::fwrite(keys.text(head).data(), 1, keys.text(head).size(), f);
    return Status();
}

// Writes the dictionary to `path`.
Status saveDictionary(const std::string &path, uint32_t dictId, const zav::PackedKeys &keys,
                      const std::vector<uint32_t> &pageList, const zav::BookStreamWriter &pages) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) return Failure{path + ": cannot write: " + std::strerror(errno)};
    Status written = writeDictionary(f, dictId, keys, pageList, pages);
    bool ok = std::fflush(f) == 0 && !std::ferror(f);
    ok = std::fclose(f) == 0 && ok;
    if (written && !ok) return Failure{path + ": write error"};
    return written;
}

Status saveBytes(const std::string &path, const std::vector<uint8_t> &bytes) {
    if (zav::saveBook(bytes, path)) return Status();
    return Failure{path + ": cannot write"};
}

}  // namespace

uint32_t defaultDictId(const std::string &name) {
    uLong crc = crc32(0L, reinterpret_cast<const Bytef *>(name.data()), static_cast<uInt>(name.size()));
    return tovix::SPELL_DICT_ID_BITS | (static_cast<uint32_t>(crc) & kByteMask) << tovix::SPELL_DICT_ID_FREE_SHIFT;
}

Status writeDictionaryBook(const std::string &command, const std::string &name, const zav::PackedKeys &keys,
                           const std::vector<uint32_t> &pageList, const zav::BookStreamWriter &pages,
                           const BookInfo &info, const ImportTarget &target) {
    std::string error;
    zav::BookDesc book;
    book.kind = tovix::KIND_DICTIONARY;
    book.bookName = zav::StringListDesc{{kBaseLanguage, name}};
    book.languages = std::vector<uint8_t>{kBaseLanguage};
    zav::TableDesc table;
    table.name = zav::StringListDesc{{kBaseLanguage, name}};
    table.locale = kBaseLanguage;
    table.dictId = target.dictId;
    book.tables.push_back(std::move(table));
    if (!info.empty()) {
        book.pages.push_back(zav::PageDesc{bookInfoPage(info), {}});
    }
    zav::WrittenBook written;
    if (!zav::writeBook(book, &written, &error))
        return Failure{target.out + ": the book cannot be laid out: " + error, Fault::Rejected};
    const std::string dictPath = zozizid::dictionaryPath(target.dictDir, target.dictId);
    OutputFiles files;
    Result<std::string> dictTemp = files.add(dictPath);
    if (!dictTemp) return dictTemp.status();
    Result<std::string> bookTemp = files.add(target.out);
    if (!bookTemp) return bookTemp.status();
    if (Status saved = saveDictionary(*dictTemp, target.dictId, keys, pageList, pages); !saved) return saved;
    if (Status saved = saveBytes(*bookTemp, written.bytes); !saved) return saved;
    if (Status committed = files.commit(); !committed) return committed;
    if (!tovix::isSpellCapable(target.dictId))
        complain(command, "note: dictionary " + hex(target.dictId, 8) +
                              " is not of the form 0x0001XX01, so the book offers no spell checking");
    if (!target.quiet) {
        std::printf("wrote %s: %zu bytes, dictionary book of dictionary %s, %zu words\n", target.out.c_str(),
                    written.bytes.size(), hex(target.dictId, 8).c_str(), keys.size());
        std::printf("wrote %s; the host finds it with %s=%s\n", dictPath.c_str(), "ZOZIZID_DICT_DIR",
                    target.dictDir.empty() ? "." : target.dictDir.c_str());
    }
    return Status();
}

}  // namespace zavtool
