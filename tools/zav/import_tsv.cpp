// Word lists: one entry per line, WORD<TAB>DEFINITION.
#include <cstdio>

#include "atomic_output.h"
#include "cli.h"
#include "import_book.h"
#include "importers.h"

namespace zavtool {

namespace {

class TsvDefinitions : public DefinitionSource {
public:
    TsvDefinitions(const std::string &path, TextDecoder &decoder) : path_(path), decoder_(decoder) {}
    ~TsvDefinitions() override {
        if (file_) std::fclose(file_);
    }
    bool open() { return (file_ = std::fopen(path_.c_str(), "rb")) != nullptr; }
    bool fetch(uint64_t offset, uint64_t length, std::string *text, std::string *reason) override {
        std::string raw, decoded;
        if (!readAt(file_, offset, length, &raw)) {
            *reason = "cannot read the definition";
            return false;
        }
        if (!decoder_.decode(raw, &decoded)) {
            *reason = "the definition is not valid " + decoder_.name();
            return false;
        }
        *text = unescapeField(decoded);
        return true;
    }
    const std::string &file() const override { return path_; }

private:
    std::string path_;
    TextDecoder &decoder_;
    FILE *file_ = nullptr;
};

// Reads the headwords; false when the import must stop. Lines whose
// headword is one of dictd's entries about the dictionary
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

int importTsv(const ImportOptions &o) {
    if (int rc = refuseOutputOverInput(o.command, {o.out}, {o.input})) return rc;
    std::string error;
    TextDecoder decoder;
    if (!decoder.open(o.encoding.value_or(""), &error)) return usageError(o.command, error);
    LineReader reader;
    TsvDefinitions source(o.input, decoder);
    if (!reader.open(o.input, &error) || !source.open()) {
        complain(o.command, error.empty() ? o.input + ": cannot open" : error);
        return EXIT_USAGE;
    }
    ImportLog log(o.command, o.strict, o.quiet);
    ImportedBook book;
    if (!readTsvLines(reader, o.input, decoder, log, &book)) {
        complain(o.command, "nothing written (--strict)");
        return EXIT_FAILED;
    }
    if (reader.failed()) {
        complain(o.command, o.input + ": read error");
        return EXIT_USAGE;
    }
    book.name = o.name.value_or(book.info.name.empty() ? defaultBookName(o.input) : firstLine(book.info.name));
    return buildImported(o.command, book, source, log, importTarget(o, book.name));
}

}  // namespace zavtool
