// dictd dictionaries: an .index of HEADWORD<TAB>OFFSET<TAB>LENGTH lines (and
// the headword as spelt in a fourth field, where the first one holds the form
// dictd searches) and a data file (.dict, or .dict.dz in dictzip) read by random access.
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "core/atomic_output.h"
#include "core/cli.h"
#include "formats/dictzip.h"
#include "formats/import_book.h"
#include "formats/book_info.h"
#include "formats/importers.h"

namespace zavtool {

namespace {

// dictd's numbers: base 64 with the digits A-Z a-z 0-9 + /, most significant first.
bool decodeDictdNumber(const std::string &text, uint64_t *value) {
    static const char kDigits[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    if (text.empty() || text.size() > 6) return false;  // 6 digits = 36 bits, beyond any book
    uint64_t v = 0;
    for (char c : text) {
        const char *p = c ? std::strchr(kDigits, c) : nullptr;
        if (!p) return false;
        v = v * 64 + static_cast<uint64_t>(p - kDigits);
    }
    *value = v;
    return true;
}

bool fileExists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

class DictdDefinitions : public DefinitionSource {
public:
    DictdDefinitions(const std::string &index, DataFile &data, TextDecoder &decoder)
        : index_(index), data_(data), decoder_(decoder) {}
    Result<std::string> fetch(uint64_t offset, uint64_t length) override {
        Result<std::string> raw = data_.read(offset, length);
        if (!raw) return raw;
        if (raw->find('\0') != std::string::npos) return Failure{"the definition holds a zero byte"};
        std::string text;
        if (!decoder_.decode(*raw, &text)) return Failure{"the definition is not valid " + decoder_.name()};
        return text;
    }
    const std::string &file() const override { return index_; }

private:
    std::string index_;
    DataFile &data_;
    TextDecoder &decoder_;
};

// One index line split into an entry; "" or the reason it cannot be one.
// A fourth field, when there is one, is the headword as the dictionary
// spells it (the first is then the form dictd searches, often in lower
// case): it becomes the key. *about tells a line of dictd's entries
// about the dictionary, which dictd finds by the first field.
std::string parseIndexLine(const std::string &row, TextDecoder &decoder, ImportEntry *entry, bool *about) {
    size_t t1 = row.find('\t');
    size_t t2 = t1 == std::string::npos ? t1 : row.find('\t', t1 + 1);
    if (t2 == std::string::npos) return "expected HEADWORD<TAB>OFFSET<TAB>LENGTH";
    size_t t3 = row.find('\t', t2 + 1);
    size_t t4 = t3 == std::string::npos ? t3 : row.find('\t', t3 + 1);
    std::string offsetText = row.substr(t1 + 1, t2 - t1 - 1);
    std::string lengthText = row.substr(t2 + 1, t3 == std::string::npos ? std::string::npos : t3 - t2 - 1);
    if (!decodeDictdNumber(offsetText, &entry->offset) || !decodeDictdNumber(lengthText, &entry->length))
        return "\"" + escapeText(offsetText) + "\" / \"" + escapeText(lengthText) +
               "\" is not a dictd base-64 offset and length";
    std::string searched = row.substr(0, t1);
    *about = isDatabaseEntry(searched);
    std::string original =
        t3 == std::string::npos ? std::string() : row.substr(t3 + 1, t4 == std::string::npos ? t4 : t4 - t3 - 1);
    if (!decoder.decode(original.empty() || *about ? searched : original, &entry->word))
        return "the headword is not valid " + decoder.name();
    return headwordProblem(entry->word);
}

// Reads the index; false when the import must stop (--strict). dictd's entries about
// the dictionary (00-database-short, 00databaseinfo, ...) fill book->info
// and are not keys.
bool readIndex(LineReader &reader, const std::string &index, TextDecoder &decoder, DictdDefinitions &source,
               ImportLog &log, ImportedBook *book) {
    std::string row;
    uint64_t offset = 0;
    while (reader.next(&row, &offset)) {
        if (row.empty()) {
            log.blank();
            continue;
        }
        ImportEntry entry;
        entry.line = reader.line();
        bool about = false;
        std::string problem = parseIndexLine(row, decoder, &entry, &about);
        if (problem.empty() && about) {
            std::string *field = book->info.field(databaseField(entry.word));
            Result<std::string> text = field ? source.fetch(entry.offset, entry.length) : std::string();
            if (text) {
                if (field && field->empty()) *field = databaseValue(*text);
                log.about();
                continue;
            }
            problem = text.reason();
        }
        if (!problem.empty()) {
            if (!log.skip(index, entry.line, problem)) return false;
            continue;
        }
        if (!book->entries.add(entry) && !log.skip(index, entry.line, "the headwords reach 4 GiB")) return false;
    }
    return true;
}

std::string dataFileFor(const std::string &index, const std::optional<std::string> &dict) {
    if (dict) return *dict;
    std::string stem = index;
    if (stem.size() > 6 && stem.compare(stem.size() - 6, 6, ".index") == 0) stem.resize(stem.size() - 6);
    if (fileExists(stem + ".dict")) return stem + ".dict";
    if (fileExists(stem + ".dict.dz")) return stem + ".dict.dz";
    return std::string();
}

}  // namespace

Status importDictd(const ImportOptions &o) {
    if (!fileExists(o.input)) return Failure{o.input + ": cannot open: " + std::strerror(ENOENT)};
    std::string dictPath = dataFileFor(o.input, o.dict);
    if (dictPath.empty())
        return Failure{o.input + ": no data file beside it (looked for .dict and .dict.dz; name one with --dict)"};
    if (Status refused = refuseOutputOverInput({o.out}, {o.input, dictPath}); !refused) return refused;
    TextDecoder decoder;
    if (Status opened = decoder.open(o.encoding.value_or("")); !opened) return opened;
    LineReader reader;
    DataFile data;
    if (Status opened = reader.open(o.input); !opened) return opened;
    if (Status opened = data.open(dictPath); !opened) return opened;
    DictdDefinitions source(o.input, data, decoder);
    ImportLog log(o.command, o.strict, o.quiet, "index lines");
    ImportedBook book;
    if (!readIndex(reader, o.input, decoder, source, log, &book)) return Failure{kNothingWritten, Fault::Rejected};
    if (reader.failed()) return Failure{o.input + ": read error"};
    book.name = o.name.value_or(book.info.name.empty() ? defaultBookName(o.input) : firstLine(book.info.name));
    return buildImported(o.command, book, source, log, importTarget(o, book.name));
}

}  // namespace zavtool
