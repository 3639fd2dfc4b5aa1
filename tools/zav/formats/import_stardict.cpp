// StarDict dictionaries: an .ifo description, an .idx word list (or .idx.gz),
// the data in .dict or .dict.dz, and synonyms in .syn when present.
#include <sys/stat.h>
#include <zlib.h>

#include <map>

#include "core/atomic_output.h"
#include "core/cli.h"
#include "formats/dictzip.h"
#include "formats/import_book.h"
#include "formats/importers.h"
#include "formats/markup_text.h"

namespace zavtool {

namespace {

constexpr uint64_t kMaxIfoBytes = 1 << 20;
constexpr size_t kMaxWordBytes = 65536;  // a longer word is damage, not a headword
const char kIfoMagic[] = "StarDict's dict ifo file";

struct StardictFiles {
    std::map<std::string, std::string> options;
    std::string idx, dict, syn;
    bool offsets64 = false;
};

bool exists(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0;
}

std::string firstExisting(const std::string &stem, std::initializer_list<const char *> suffixes) {
    for (const char *s : suffixes)
        if (exists(stem + s)) return stem + s;
    return std::string();
}

// The .ifo description. One with no markup but <br> and the entities &amp;
// &lt; &gt; (as the tool's StarDict export writes it) is read exactly, its
// spaces kept; any other is HTML.
std::string ifoDescriptionText(const std::string &value) {
    static const std::pair<std::string, char> kExact[] = {{"<br>", '\n'}, {"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}};
    std::string out;
    for (size_t at = 0; at < value.size();) {
        char c = value[at];
        if (c != '<' && c != '&' && c != '>') {
            out += c;
            ++at;
            continue;
        }
        size_t before = at;
        for (const auto &[markup, plain] : kExact)
            if (value.compare(at, markup.size(), markup) == 0) {
                out += plain;
                at += markup.size();
                break;
            }
        if (at == before) return trimmedValue(markupToText(value, true));
    }
    return trimmedValue(out);
}

Status readIfo(const std::string &path, StardictFiles *files) {
    struct stat st;
    if (::stat(path.c_str(), &st) == 0 && static_cast<uint64_t>(st.st_size) > kMaxIfoBytes)
        return Failure{path + ": too large for an .ifo file"};
    Result<std::string> read = readWholeFile(path);
    if (!read) return read.status();
    std::string text = std::move(*read);
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    if (text.rfind(kIfoMagic, 0) != 0)
        return Failure{path + ": not a StarDict .ifo file (it must start with \"" + kIfoMagic + "\")"};
    for (size_t at = 0; at < text.size();) {
        size_t nl = text.find('\n', at);
        std::string line = text.substr(at, nl == std::string::npos ? std::string::npos : nl - at);
        at = nl == std::string::npos ? text.size() : nl + 1;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t eq = line.find('=');
        if (eq != std::string::npos) files->options[line.substr(0, eq)] = line.substr(eq + 1);
    }
    files->offsets64 = files->options["idxoffsetbits"] == "64";
    std::string stem =
        path.size() > 4 && path.compare(path.size() - 4, 4, ".ifo") == 0 ? path.substr(0, path.size() - 4) : path;
    files->idx = firstExisting(stem, {".idx", ".idx.gz"});
    files->dict = firstExisting(stem, {".dict", ".dict.dz"});
    files->syn = firstExisting(stem, {".syn", ".syn.gz"});
    if (files->idx.empty() || files->dict.empty())
        return Failure{path + ": the word list (" + stem + ".idx or .idx.gz) or the data (" + stem +
                       ".dict or .dict.dz) is missing"};
    return Status();
}

// Reads .idx and .syn records one at a time (gzip or not).
class RecordReader {
public:
    ~RecordReader() {
        if (in_) gzclose(in_);
    }
    bool open(const std::string &path) { return (in_ = gzopen(path.c_str(), "rb")) != nullptr; }
    // The NUL-terminated word; false at the end (or on damage, see damaged()).
    bool word(std::string *out) {
        out->clear();
        int c;
        while ((c = gzgetc(in_)) > 0) {
            if (out->size() == kMaxWordBytes) return damaged_ = true, false;
            out->push_back(static_cast<char>(c));
        }
        if (c < 0) damaged_ = !out->empty();
        return c == 0;
    }
    bool number(int bytes, uint64_t *value) {
        unsigned char b[8];
        if (gzread(in_, b, static_cast<unsigned>(bytes)) != bytes) return damaged_ = true, false;
        *value = 0;
        for (int i = 0; i < bytes; ++i) *value = *value << 8 | b[i];
        return true;
    }
    bool damaged() const { return damaged_; }

private:
    gzFile in_ = nullptr;
    bool damaged_ = false;
};

class StardictDefinitions : public DefinitionSource {
public:
    StardictDefinitions(const std::string &idx, DataFile &data, TextDecoder &decoder, std::string types,
                        bool keepMarkup)
        : idx_(idx), data_(data), decoder_(decoder), types_(std::move(types)), keepMarkup_(keepMarkup) {}
    Result<std::string> fetch(uint64_t offset, uint64_t length) override;
    const std::string &file() const override { return idx_; }

private:
    Status field(char type, const std::string &data, std::string *text);
    std::string idx_;
    DataFile &data_;
    TextDecoder &decoder_;
    std::string types_;
    bool keepMarkup_;
};

// One data field as text (appended to *text); binary fields add nothing.
Status StardictDefinitions::field(char type, const std::string &data, std::string *text) {
    static const std::string kTextTypes = "mtyl", kHtml = "h", kMarkupTypes = "gxkw";
    bool html = kHtml.find(type) != std::string::npos;
    if (kTextTypes.find(type) == std::string::npos && !html && kMarkupTypes.find(type) == std::string::npos)
        return Status();
    std::string decoded;
    if (!decoder_.decode(data, &decoded))
        return Failure{std::string("the '") + type + "' text is not valid " + decoder_.name()};
    if ((html || kMarkupTypes.find(type) != std::string::npos) && !keepMarkup_) decoded = markupToText(decoded, html);
    if (type == 't' && !decoded.empty()) decoded = "[" + decoded + "]";
    if (decoded.empty()) return Status();
    if (!text->empty()) *text += '\n';
    *text += decoded;
    return Status();
}

Result<std::string> StardictDefinitions::fetch(uint64_t offset, uint64_t size) {
    Result<std::string> read = data_.read(offset, size);
    if (!read) return read;
    const std::string &data = *read;
    std::string text;
    size_t at = 0, fields = 0;
    // With sametypesequence the types are not stored and the last field runs
    // to the end of the entry; otherwise each field starts with its type.
    while (at < data.size() && (types_.empty() || fields < types_.size())) {
        char type = types_.empty() ? data[at++] : types_[fields];
        bool last = !types_.empty() && fields + 1 == types_.size();
        ++fields;
        size_t length;
        if (last) {
            length = data.size() - at;
        } else if (type >= 'a' && type <= 'z') {
            size_t nul = data.find('\0', at);
            length = (nul == std::string::npos ? data.size() : nul) - at;
        } else {
            if (data.size() - at < 4) break;
            length = 0;
            for (int i = 0; i < 4; ++i) length = length << 8 | static_cast<unsigned char>(data[at++]);
            if (length > data.size() - at) break;
        }
        std::string value = data.substr(at, length);
        if (last && type >= 'a' && type <= 'z' && !value.empty() && value.back() == '\0') value.pop_back();
        at += length + (!last && type >= 'a' && type <= 'z' && at + length < data.size() ? 1 : 0);
        if (value.find('\0') != std::string::npos) return Failure{"the text holds a zero byte"};
        if (Status added = field(type, value, &text); !added) return added.failure();
    }
    if (text.empty() && !data.empty()) return Failure{"the entry holds no text"};
    return text;
}

// Reads .idx; it fails when the import must stop (Fault::Rejected for
// --strict). places[i] is entry i's definition.
Status readIdx(const StardictFiles &files, TextDecoder &decoder, ImportLog &log, ImportedBook *book,
               std::vector<std::pair<uint64_t, uint64_t>> *places) {
    RecordReader in;
    if (!in.open(files.idx)) return Failure{files.idx + ": cannot open"};
    std::string raw;
    for (uint64_t number = 1; in.word(&raw); ++number) {
        ImportEntry entry;
        entry.line = number;
        if (!in.number(files.offsets64 ? 8 : 4, &entry.offset) || !in.number(4, &entry.length)) break;
        places->emplace_back(entry.offset, entry.length);
        std::string problem = decoder.decode(raw, &entry.word) ? headwordProblem(entry.word)
                                                               : "the headword is not valid " + decoder.name();
        if (!problem.empty()) {
            if (!log.skip(files.idx, number, problem)) return Failure{kNothingWritten, Fault::Rejected};
            continue;
        }
        if (!book->entries.add(entry)) return Failure{files.idx + ": the headwords reach 4 GiB"};
    }
    if (in.damaged())
        return Failure{files.idx + ": entry " + std::to_string(places->size() + 1) + " is cut short or damaged"};
    return Status();
}

// Each synonym is one more key to its entry's definition.
Status readSyn(const StardictFiles &files, TextDecoder &decoder, ImportLog &log, ImportedBook *book,
               const std::vector<std::pair<uint64_t, uint64_t>> &places) {
    RecordReader in;
    if (!in.open(files.syn)) return Failure{files.syn + ": cannot open"};
    std::string raw;
    uint64_t number = 1, target = 0;
    for (; in.word(&raw) && in.number(4, &target); ++number) {
        ImportEntry entry;
        entry.line = number;
        std::string problem = !decoder.decode(raw, &entry.word) ? "the synonym is not valid " + decoder.name()
                              : target >= places.size()
                                  ? "the synonym points at entry " + std::to_string(target) + ", past the " +
                                        std::to_string(places.size()) + " of " + files.idx
                                  : headwordProblem(entry.word);
        if (!problem.empty()) {
            if (!log.skip(files.syn, number, problem)) return Failure{kNothingWritten, Fault::Rejected};
            continue;
        }
        entry.offset = places[target].first;
        entry.length = places[target].second;
        if (!book->entries.add(entry)) return Failure{files.syn + ": the headwords reach 4 GiB"};
    }
    if (in.damaged()) return Failure{files.syn + ": synonym " + std::to_string(number) + " is cut short or damaged"};
    return Status();
}

}  // namespace

Status importStardict(const ImportOptions &o) {
    StardictFiles files;
    if (Status read = readIfo(o.input, &files); !read) return read;
    if (Status refused = refuseOutputOverInput({o.out}, {o.input, files.idx, files.dict, files.syn}); !refused)
        return refused;
    TextDecoder decoder;
    if (Status opened = decoder.open(o.encoding.value_or("")); !opened) return opened;
    DataFile data;
    if (Status opened = data.open(files.dict); !opened) return opened;
    ImportLog log(o.command, o.strict, o.quiet, "records (.idx entries and .syn synonyms)");
    ImportedBook book;
    std::vector<std::pair<uint64_t, uint64_t>> places;
    if (Status read = readIdx(files, decoder, log, &book, &places); !read) return read;
    Status synonyms = files.syn.empty() ? Status() : readSyn(files, decoder, log, &book, places);
    if (!synonyms) return synonyms;
    book.info.name = trimmedValue(files.options["bookname"]);
    book.info.description = ifoDescriptionText(files.options["description"]);
    for (const char *field : {"author", "email", "website", "date"})
        *book.info.field(field) = trimmedValue(files.options[field]);
    book.name = o.name.value_or(book.info.name.empty() ? defaultBookName(o.input) : book.info.name);
    StardictDefinitions source(files.idx, data, decoder, files.options["sametypesequence"], o.keepMarkup);
    return buildImported(o.command, book, source, log, importTarget(o, book.name));
}

}  // namespace zavtool
