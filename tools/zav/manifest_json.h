// JSON parsing for manifests, with the line of any value found on demand, so
// that a manifest error names the line it is on.
#ifndef ZAV_TOOL_MANIFEST_JSON_H
#define ZAV_TOOL_MANIFEST_JSON_H

#include <cstddef>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

namespace zavtool {

// A JSON document and the text it was parsed from (which must outlive it).
struct LocatedJson {
    nlohmann::json value;
    const std::string *text = nullptr;

    // The line (1-based) of the value at a JSON pointer ("" for the root,
    // "/tables/0/keys/3" for a nested value), or of its nearest enclosing
    // value. Reads the text again up to that value: meant for error messages.
    size_t lineOf(const std::string &pointer) const;
};

// Parse text (kept by reference in *out). On a syntax error returns false
// with *line and *message set.
bool parseLocatedJson(const std::string &text, LocatedJson *out, size_t *line, std::string *message);

// The line that byte `position` (0-based) of text is on.
size_t lineAt(const std::string &text, size_t position);

// A problem with a value of the manifest, found while reading it.
struct ManifestError : std::runtime_error {
    std::string pointer;
    ManifestError(std::string where, const std::string &message)
        : std::runtime_error(message), pointer(std::move(where)) {}
};

}  // namespace zavtool

#endif
