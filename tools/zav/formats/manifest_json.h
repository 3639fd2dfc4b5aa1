// JSON parsing for manifests. The parser notes the line of every value as it
// reads, so that a manifest error names the line it is on, and it can hand
// over the elements of a table's long lists one at a time, so that a large
// manifest is never held whole: neither its text nor its document.
#ifndef ZAV_TOOL_MANIFEST_JSON_H
#define ZAV_TOOL_MANIFEST_JSON_H

#include <cstddef>
#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace zavtool {

// The line of each value of a document, found by JSON pointer. Entries are
// added in document order, a value's parent before the value.
class LineTable {
public:
    static constexpr size_t kNoParent = SIZE_MAX;

    // Note a value: the entry of its parent (kNoParent for the root), the key
    // or index that names it there, and its line. Returns its entry.
    size_t add(size_t parent, std::string token, size_t line);
    // The line (1-based) of the value at pointer ("" for the root,
    // "/tables/0/keys/3" for a nested value), or of its nearest enclosing
    // value; 1 when the table is empty.
    size_t lineOf(const std::string &pointer) const;
    // The pointer of an entry.
    std::string pointerOf(size_t entry) const;
    // The line of the child named token of an entry (0 when there is none).
    size_t childLine(size_t entry, const std::string &token) const;
    void clear() { entries_.clear(); }

private:
    struct Entry {
        size_t parent;
        std::string token;
        size_t line;
    };
    std::vector<Entry> entries_;
};

// A JSON document and the lines of its values.
struct LocatedJson {
    nlohmann::json value;
    LineTable lines;
    size_t lineOf(const std::string &pointer) const { return lines.lineOf(pointer); }
};

// A problem with a value of the manifest. line is 0 until the line of the
// value at pointer is known.
struct ManifestError : std::runtime_error {
    std::string pointer;
    size_t line = 0;
    ManifestError(std::string where, const std::string &message, size_t at = 0)
        : std::runtime_error(message), pointer(std::move(where)), line(at) {}
};

// Lists of each table (each element of the root's "tables") that are handed
// over one element at a time, each as soon as it is complete, and not kept:
// the document holds an empty list in their place. take() gets the list's
// field name, the table's index, the element, its pointer and the lines of
// its values (pointers relative to the element); a ManifestError it throws
// ends the parse, given the line of the value it names.
struct StreamedLists {
    std::vector<std::string> fields;  // e.g. "words"
    std::function<void(const std::string &field, size_t table, const nlohmann::json &element,
                       const std::string &pointer, const LineTable &lines)>
        take;
    std::function<void(uint64_t bytesRead)> progress;  // after each element; may be empty
};

// Parse the manifest file at path, streaming `streamed` (may be null). On a
// syntax or read error returns false with *message set and *line set (0 for
// a file that cannot be read). Throws ManifestError (line set) for a field
// that appears twice in an object and for what take() throws.
bool parseManifestFile(const std::string &path, const StreamedLists *streamed, LocatedJson *out, size_t *line,
                       std::string *message);

// Parse text held in memory, without streaming. Returns false with *line and
// *message set on any error, a field given twice included.
bool parseLocatedJson(const std::string &text, LocatedJson *out, size_t *line, std::string *message);

}  // namespace zavtool

#endif
