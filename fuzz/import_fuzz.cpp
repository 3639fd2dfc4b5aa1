// Fuzz target: the importers of `zav import` (tsv, dictd, StarDict) on
// inputs of any content, through their entry points in a scratch folder.
//
// Byte 0 selects the importer and its options (see Selector); the rest is
// split at each kSeparator into the files the importer reads:
//   tsv       the whole rest is the .tsv file
//   dictd     .index, then the data (.dict, or .dict.dz when kCompressed)
//   stardict  .ifo, .idx (.idx.gz when kGzipLists), the data (.dict or
//             .dict.dz), and a .syn (.syn.gz) when there is a fourth part
// A file with no part is empty. When an import succeeds, the book it wrote
// must open and pass `zav check`.
#include <string.h>

#include <filesystem>
#include <string>
#include <vector>

#include "commands/commands.h"
#include "fuzz_support.h"
#include "formats/importers.h"

namespace {

constexpr char kSeparator[] = "\n=====\n";
constexpr size_t kSeparatorLength = sizeof kSeparator - 1;

enum Selector : uint8_t {
    kFormatMask = 3,  // 0 tsv, 1 dictd, 2 stardict, 3 tsv
    kCompressed = 4,
    kGzipLists = 8,
    kStrict = 16,
    kKeepMarkup = 32,
    kEncodingShift = 6,  // 0 none, then kEncodings
};
enum Format : uint8_t { kTsv, kDictd, kStardict };
const char *const kEncodings[] = {"ISO-8859-1", "CP936", "UTF-16LE"};

std::vector<std::string> splitParts(const uint8_t *data, size_t size) {
    std::string rest(reinterpret_cast<const char *>(data), size);
    std::vector<std::string> parts;
    size_t at = 0;
    for (size_t next; (next = rest.find(kSeparator, at)) != std::string::npos; at = next + kSeparatorLength)
        parts.push_back(rest.substr(at, next - at));
    parts.push_back(rest.substr(at));
    return parts;
}

std::string part(const std::vector<std::string> &parts, size_t i) { return i < parts.size() ? parts[i] : ""; }

std::string writeFile(const std::string &name, const std::string &bytes) {
    return fuzz::writeScratchFile("import/" + name, bytes.data(), bytes.size());
}

// Writes the input's files; returns the path the importer is given.
std::string writeInputs(Format format, uint8_t selector, const uint8_t *data, size_t size) {
    if (format == kTsv) return writeFile("in.tsv", std::string(reinterpret_cast<const char *>(data), size));
    std::vector<std::string> parts = splitParts(data, size);
    std::string dataName = selector & kCompressed ? "in.dict.dz" : "in.dict";
    if (format == kDictd) {
        writeFile(dataName, part(parts, 1));
        return writeFile("in.index", part(parts, 0));
    }
    std::string gz = selector & kGzipLists ? ".gz" : "";
    writeFile("in.idx" + gz, part(parts, 1));
    writeFile(dataName, part(parts, 2));
    if (parts.size() > 3) writeFile("in.syn" + gz, part(parts, 3));
    return writeFile("in.ifo", part(parts, 0));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    uint8_t selector = data[0];
    Format format = static_cast<Format>((selector & kFormatMask) % 3);
    const std::string folder = fuzz::scratchFolder() + "/import";
    std::filesystem::create_directories(folder);

    zavtool::ImportOptions o;
    o.command = "import";
    o.input = writeInputs(format, selector, data + 1, size - 1);
    o.out = folder + "/out.book";
    o.quiet = true;
    o.strict = selector & kStrict;
    o.keepMarkup = selector & kKeepMarkup;
    if (selector >> kEncodingShift) o.encoding = kEncodings[(selector >> kEncodingShift) - 1];
    zavtool::Status imported;
    int checked = 0;
    {
        fuzz::QuietOutput quiet;
        imported = format == kTsv     ? zavtool::importTsv(o)
                   : format == kDictd ? zavtool::importDictd(o)
                                      : zavtool::importStardict(o);
        std::string out = o.out;
        char *argv[] = {out.data(), nullptr};
        if (imported) checked = zavtool::runCheck(1, argv);
    }
    FUZZ_CHECK(imported || !imported.reason().empty());  // a failure says why
    if (imported) FUZZ_CHECK(checked == 0);              // an imported book is sound
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
