// Fuzz target: a book manifest of any content, as `zav build` reads it.
//
// The text is parsed with the line-tracking JSON parser, whose results are
// checked (every line it reports is a line of the text, and the line of a
// value stands for what lies inside it), then built into a book, its
// dictionaries and its memo sidecar by `zav build` in a scratch folder that
// is emptied after each run.
#include <filesystem>
#include <string>

#include "commands/commands.h"
#include "fuzz_support.h"
#include "formats/manifest_json.h"

namespace {

void checkLocations(const std::string &text) {
    size_t lines = 1;
    for (char c : text) lines += c == '\n';
    zavtool::LocatedJson doc;
    size_t line = 0;
    std::string message;
    if (!zavtool::parseLocatedJson(text, &doc, &line, &message)) {
        FUZZ_CHECK(line >= 1 && line <= lines && !message.empty());
        return;
    }
    size_t rootLine = doc.lineOf("");  // the line a message about the whole document names
    FUZZ_CHECK(rootLine >= 1 && rootLine <= lines);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::string text(reinterpret_cast<const char *>(data), size);
    checkLocations(text);

    const std::string folder = fuzz::scratchFolder() + "/build";
    std::filesystem::create_directories(folder);
    std::string manifest = folder + "/manifest.json", out = folder + "/out.zav";
    fuzz::writeScratchFile("build/manifest.json", data, size);
    std::string quiet = "--quiet";
    char *argv[] = {manifest.data(), out.data(), quiet.data(), nullptr};
    int rc = zavtool::runBuild(3, argv);
    FUZZ_CHECK(rc == 0 || rc == 1 || rc == 2);
    std::error_code ignored;
    std::filesystem::remove_all(folder, ignored);
    return 0;
}
