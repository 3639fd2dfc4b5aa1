// The formats zav import reads. Each importer reads its input, reports the
// entries it skips, and builds the book with buildImported.
#ifndef ZAV_TOOL_IMPORTERS_H
#define ZAV_TOOL_IMPORTERS_H

#include <optional>
#include <string>

#include "formats/import_book.h"

namespace zavtool {

struct ImportOptions {
    std::string command;
    std::string input;  // FILE, INDEX or IFO
    std::string out;
    std::optional<std::string> name, dict, encoding;
    bool quiet = false, strict = false, keepMarkup = false;
    bool dictionaryBook = false;
    std::optional<uint32_t> dictId;
    std::optional<std::string> dictDir;
};

// Where the book (and for a dictionary book its dictionary) goes.
ImportTarget importTarget(const ImportOptions &options, const std::string &bookName);

// Each prints its warnings and summary as it reads (ImportLog); a failure is
// Fault::Usage for an encoding iconv does not know, Fault::Rejected for an
// import stopped by --strict or that keeps no entry, else Fault::Error.
Status importTsv(const ImportOptions &options);
Status importDictd(const ImportOptions &options);
Status importStardict(const ImportOptions &options);

// The reason of an import that --strict stopped before it wrote anything.
inline constexpr const char *kNothingWritten = "nothing written (--strict)";

// The input's file name up to its first dot: the default book name.
std::string defaultBookName(const std::string &path);

}  // namespace zavtool

#endif
