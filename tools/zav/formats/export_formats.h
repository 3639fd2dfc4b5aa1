// The formats zav export writes. The exporter walks a table's keys through
// the module and hands each format the definitions (each once) and the keys
// that lead to them.
#ifndef ZAV_TOOL_EXPORT_FORMATS_H
#define ZAV_TOOL_EXPORT_FORMATS_H

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/result.h"
#include "formats/book_info.h"

namespace zavtool {

struct ExportedBook {
    BookInfo info;     // what the book keeps about its dictionary (fields may be empty)
    std::string name;  // the dictionary's name: info.name, else the book's own name
};

class ExportFormat {
public:
    virtual ~ExportFormat() = default;
    // The files written, from OUT ("OUT" for tsv, "OUT.index" and
    // "OUT.dict.dz" for dictd, ...); optional ones included.
    virtual std::vector<std::string> outputs(const std::string &out) const = 0;
    // Start writing; `paths` are the temporaries for outputs(), in order.
    virtual Status begin(const std::vector<std::string> &paths, const ExportedBook &book) = 0;
    // A definition not seen before; ids count up from 0.
    virtual Status definition(uint32_t id, const std::string &text) = 0;
    // A key leading to definition `id`. Formats that repeat the text per key
    // get it in `text` (needsText); others get an empty string.
    virtual Status key(const std::string &word, uint32_t id, const std::string &text) = 0;
    virtual bool needsText() const { return false; }
    // Fails with the reason `word` cannot be written in this format.
    virtual Status accepts(const std::string &word) const;
    // Complete the files. The optional ones left empty are reported by
    // unused() and not kept.
    virtual Status finish() = 0;
    virtual std::vector<bool> unused() const { return {}; }
};

std::unique_ptr<ExportFormat> tsvFormat();
std::unique_ptr<ExportFormat> dictdFormat();
std::unique_ptr<ExportFormat> stardictFormat();

// Opens `path` for writing; the failure names it.
Result<FILE *> openForWriting(const std::string &path);

}  // namespace zavtool

#endif
