#include "formats/manifest_values.h"

#include "core/cli.h"
#include "formats/manifest_json.h"
#include "tovix/format.h"

namespace zavtool {

void ManifestValues::fail(const std::string &at, const std::string &message, size_t line) const {
    throw ManifestError(at, message, line);
}

// line: of the value at `at` when known, else 0.
void ManifestValues::checkRange(uint64_t v, const std::string &at, uint64_t low, uint64_t high, size_t line) const {
    if (v < low || v > high)
        fail(at,
             "the number " + std::to_string(v) + " is out of range (" + std::to_string(low) + " to " +
                 std::to_string(high) + ")",
             line);
}

void ManifestValues::allowFields(const nlohmann::json &j, const std::string &at,
                                 std::initializer_list<const char *> names) const {
    if (!j.is_object()) fail(at, "expected an object");
    for (auto it = j.begin(); it != j.end(); ++it) {
        bool known = false;
        for (const char *n : names) known = known || it.key() == n;
        if (!known) {
            std::string list;
            for (const char *n : names) list += (list.empty() ? "" : ", ") + std::string(n);
            fail(at + "/" + it.key(), "unknown field \"" + it.key() + "\" (known: " + list + ")");
        }
    }
}

uint64_t ManifestValues::number(const nlohmann::json &j, const std::string &at, uint64_t low, uint64_t high) const {
    uint64_t v = 0;
    if (j.is_number_unsigned()) {
        v = j.get<uint64_t>();
    } else if (j.is_number_integer()) {
        fail(at, high == UINT64_MAX ? "expected a number of 0 or more"
                                    : "expected a number from " + std::to_string(low) + " to " + std::to_string(high));
    } else if (j.is_string()) {
        auto parsed = parseInteger(j.get<std::string>());
        if (!parsed || *parsed < 0) fail(at, "expected a number, not \"" + j.get<std::string>() + "\"");
        v = static_cast<uint64_t>(*parsed);
    } else {
        fail(at, "expected a number");
    }
    checkRange(v, at, low, high);
    return v;
}

std::string ManifestValues::text(const nlohmann::json &j, const std::string &at, size_t maxBytes) const {
    std::string out;
    if (j.is_string()) {
        out = j.get<std::string>();
    } else if (j.is_object() && j.size() == 1 && j.contains("hex") && j["hex"].is_string()) {
        std::string h = j["hex"].get<std::string>();
        std::string digits;
        for (char c : h)
            if (c != ' ') digits += c;
        if (digits.size() % 2) fail(at + "/hex", "hex text needs an even number of digits");
        for (size_t i = 0; i < digits.size(); i += 2) {
            auto v = parseInteger("0x" + digits.substr(i, 2));
            if (!v) fail(at + "/hex", "\"" + digits.substr(i, 2) + "\" is not a hex byte");
            out += static_cast<char>(*v);
        }
    } else {
        fail(at, "expected a text (a string or {\"hex\": \"...\"})");
    }
    if (out.size() > maxBytes)
        fail(at,
             "the text is " + std::to_string(out.size()) + " bytes; at most " + std::to_string(maxBytes) + " fit here");
    return out;
}

uint8_t ManifestValues::language(const std::string &code, const std::string &at) const {
    auto v = parseInteger(code);
    if (!v || !tovix::isLanguageCode(static_cast<uint32_t>(*v)))
        fail(at, "\"" + code + "\" is not a language code (1 to 5)");
    return static_cast<uint8_t>(*v);
}

zav::StringListDesc ManifestValues::texts(const nlohmann::json &j, const std::string &at) const {
    zav::StringListDesc list;
    if (j.is_object() && !(j.size() == 1 && j.contains("hex"))) {
        for (auto it = j.begin(); it != j.end(); ++it) {
            std::string where = at + "/" + it.key();
            list.entries.emplace_back(language(it.key(), where), text(it.value(), where, tovix::STRING_TEXT_MAX));
        }
    } else if (j.is_array()) {
        for (size_t i = 0; i < j.size(); ++i) {
            std::string where = at + "/" + std::to_string(i);
            const nlohmann::json &e = j[i];
            if (!e.is_array() || e.size() != 2) fail(where, "expected [language, text]");
            list.entries.emplace_back(
                static_cast<uint8_t>(number(e[0], where + "/0", tovix::LANG_FIRST, tovix::LANG_LAST)),
                text(e[1], where + "/1", tovix::STRING_TEXT_MAX));
        }
    } else {
        list.entries.emplace_back(tovix::LANG_BASE, text(j, at, tovix::STRING_TEXT_MAX));
    }
    if (list.entries.size() > tovix::MAX_COUNT8) fail(at, "a name holds at most 255 translations");
    return list;
}

std::string ManifestValues::content(const nlohmann::json &j, const std::string &at) const {
    if (j.is_object() && j.contains("file")) {
        std::string path = joinPath(folder_, text(j["file"], at + "/file", 4096));
        Result<std::string> data = readWholeFile(path);
        if (!data) fail(at + "/file", data.reason());
        return std::move(*data);
    }
    return text(j, at, 0x7FFFFFFF);
}

}  // namespace zavtool
