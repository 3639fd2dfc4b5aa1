// The values a manifest of `zav build` is written in: numbers (also as
// hexadecimal strings), texts (strings, or {"hex": ...} for bytes in another
// code page), names in several languages, and contents given in place or as
// a file beside the manifest. Each reader throws a ManifestError naming the
// value's place (its JSON pointer) for a value it does not take.
#ifndef ZAV_TOOL_FORMATS_MANIFEST_VALUES_H
#define ZAV_TOOL_FORMATS_MANIFEST_VALUES_H

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

#include <nlohmann/json.hpp>

#include "zav/book_writer.h"

namespace zavtool {

class ManifestValues {
public:
    // `folder`: where the files a manifest names are looked for.
    explicit ManifestValues(std::string folder) : folder_(std::move(folder)) {}

    // Throw the ManifestError for the value at `at` (line: of that value
    // when known, else 0).
    [[noreturn]] void fail(const std::string &at, const std::string &message, size_t line = 0) const;
    void checkRange(uint64_t v, const std::string &at, uint64_t low, uint64_t high, size_t line = 0) const;
    // An object with no other fields than `names`.
    void allowFields(const nlohmann::json &j, const std::string &at, std::initializer_list<const char *> names) const;
    uint64_t number(const nlohmann::json &j, const std::string &at, uint64_t low, uint64_t high) const;
    std::string text(const nlohmann::json &j, const std::string &at, size_t maxBytes) const;
    uint8_t language(const std::string &code, const std::string &at) const;
    // A name: a text (language 1), {"1": TEXT, ...} or [[language, TEXT], ...].
    zav::StringListDesc texts(const nlohmann::json &j, const std::string &at) const;
    // A text, or {"file": path} for the bytes of a file.
    std::string content(const nlohmann::json &j, const std::string &at) const;

private:
    std::string folder_;
};

}  // namespace zavtool

#endif
