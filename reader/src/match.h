// The match strategies over a table's headwords.
#ifndef ZAV_READER_MATCH_H
#define ZAV_READER_MATCH_H

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "budget.h"
#include "status.h"
#include "table_index.h"

namespace zavreader {

struct Strategy {
    const char *name;
    const char *description;
};
// Every strategy, in the order a server lists them.
const std::vector<Strategy> &strategies();
bool knownStrategy(const std::string &name);

// A headword a strategy selects: its place in the index and, for lev, its
// distance from the pattern.
struct Hit {
    size_t entry;
    uint32_t distance = 0;
};

// A pattern made ready for one strategy (a regular expression compiled, a
// soundex code computed), to be run over any number of tables.
class Matcher {
public:
    Matcher();
    ~Matcher();
    Matcher(const Matcher &) = delete;
    Matcher &operator=(const Matcher &) = delete;
    // ZAVR_BAD_ARGUMENT for an unknown strategy, ZAVR_BAD_PATTERN for a
    // pattern it refuses.
    Status prepare(const std::string &strategy, const std::string &pattern);
    // The headwords of `index` the strategy selects, in key order (lev:
    // nearest first, then key order). Stops when the budget is spent.
    void run(const TableIndex &index, Budget &budget, std::vector<Hit> *out) const;

private:
    struct Impl;
    Impl *impl_;
};

}  // namespace zavreader

#endif
