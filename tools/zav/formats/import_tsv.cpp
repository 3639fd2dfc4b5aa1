// Word lists: one entry per line, WORD<TAB>DEFINITION.
#include <cstdio>

#include "core/atomic_output.h"
#include "core/cli.h"
#include "formats/import_book.h"
#include "formats/importers.h"

namespace zavtool {

namespace {

class TsvDefinitions : public DefinitionSource {
public:
    TsvDefinitions(const std::string &path, TextDecoder &decoder) : path_(path), decoder_(decoder) {}
    ~TsvDefinitions() override {
        if (file_) std::fclose(file_);
    }
    bool open() { return (file_ = std::fopen(path_.c_str(), "rb")) != nullptr; }
    Result<std::string> fetch(uint64_t offset, uint64_t length) override {
        std::string raw, decoded;
        if (!readAt(file_, offset, length, &raw)) return Failure{"cannot read the definition"};
        if (!decoder_.decode(raw, &decoded)) return Failure{"the definition is not valid " + decoder_.name()};
        return unescapeField(decoded);
    }
    const std::string &file() const override { return path_; }

private:
    std::string path_;
    TextDecoder &decoder_;
    FILE *file_ = nullptr;
};

// Reads the headwords; false when the import must stop (--strict). Lines
// whose headword is one of dictd's entries about the dictionary
// ("00-database-short", ...) fill `info` instead.
bool readTsvLines(LineReader &reader, const std::string &path, TextDecoder &decoder, ImportLog &log,
                  ImportedBook *book) {
    std::string row, word;
    uint64_t offset = 0;
    while (reader.next(&row, &offset)) {
        if (row.empty()) {
            log.blank();
            continue;
        }
        size_t tab = row.find('\t');
        std::string problem;
        if (row.find('\0') != std::string::npos)
            problem = "the line holds a zero byte";
        else if (tab == std::string::npos)
            problem = "expected WORD<TAB>DEFINITION, found no tab";
        else if (!decoder.decode(row.substr(0, tab), &word))
            problem = "the headword is not valid " + decoder.name();
        else
            problem = headwordProblem(word);
        std::string value;
        if (problem.empty() && isDatabaseEntry(word)) {
            if (!decoder.decode(row.substr(tab + 1), &value)) {
                problem = "the text is not valid " + decoder.name();
            } else {
                log.about();
                if (std::string *field = book->info.field(databaseField(word)))
                    if (field->empty()) *field = trimmedValue(unescapeField(value));
                continue;
            }
        }
        if (!problem.empty()) {
            if (!log.skip(path, reader.line(), problem)) return false;
            continue;
        }
        if (!book->entries.add({word, reader.line(), offset + tab + 1, row.size() - tab - 1}) &&
            !log.skip(path, reader.line(), "the headwords reach 4 GiB"))
            return false;
    }
    return true;
}

}  // namespace

std::string defaultBookName(const std::string &path) {
    std::string name = baseNameOf(path);
    size_t dot = name.find('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

Status importTsv(const ImportOptions &o) {
    if (Status refused = refuseOutputOverInput({o.out}, {o.input}); !refused) return refused;
    TextDecoder decoder;
    if (Status opened = decoder.open(o.encoding.value_or("")); !opened) return opened;
    LineReader reader;
    TsvDefinitions source(o.input, decoder);
    if (Status opened = reader.open(o.input); !opened) return opened;
    if (!source.open()) return Failure{o.input + ": cannot open"};
    ImportLog log(o.command, o.strict, o.quiet);
    ImportedBook book;
    if (!readTsvLines(reader, o.input, decoder, log, &book)) return Failure{kNothingWritten, Fault::Rejected};
    if (reader.failed()) return Failure{o.input + ": read error"};
    book.name = o.name.value_or(book.info.name.empty() ? defaultBookName(o.input) : firstLine(book.info.name));
    return buildImported(o.command, book, source, log, importTarget(o, book.name));
}

}  // namespace zavtool
