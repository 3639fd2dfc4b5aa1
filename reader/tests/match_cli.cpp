// The match strategies over the headwords of a dictd index, for a comparison
// with dictd (tools/tests/match_dictd.py):
//
//   zavreader_match_cli INDEX < QUERIES
//
// Each line of QUERIES is STRATEGY, a tab and PATTERN. For each, in order:
// a line "N<TAB>DISTANCE<TAB>HEADWORD" per headword selected (N counts the
// queries from 0), "N<TAB>!<TAB>CODE REASON" when the pattern is refused,
// then "N<TAB>.". The headwords are the index's first fields with the spaces
// around them taken off, in key order, as a book made from the index holds
// them. Exit 2 when the index cannot be read.
#include <algorithm>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include "dictd_headwords.h"
#include "match.h"
#include "text.h"

int main(int argc, char **argv) {
    if (argc != 2) {
        std::cerr << "usage: zavreader_match_cli INDEX < QUERIES (lines of STRATEGY<TAB>PATTERN)\n";
        return 2;
    }
    zavreader::TableIndex index;
    if (!zavreader::loadDictdHeadwords(argv[1], &index)) {
        std::cerr << argv[1] << ": cannot be read\n";
        return 2;
    }
    size_t n = 0;
    for (std::string line; std::getline(std::cin, line); ++n) {
        size_t tab = line.find('\t');
        zavreader::Matcher matcher;
        zavreader::Status s = tab == std::string::npos
                                  ? zavreader::Status::fail(ZAVR_BAD_ARGUMENT, "no tab in the query line")
                                  : matcher.prepare(line.substr(0, tab), line.substr(tab + 1));
        if (!s) {
            std::cout << n << "\t!\t" << s.code << ' ' << s.reason << '\n';
        } else {
            std::vector<zavreader::Hit> hits;
            zavreader::Budget budget;
            matcher.run(index, budget, &hits);
            for (const zavreader::Hit &h : hits)
                std::cout << n << '\t' << h.distance << '\t' << index.headword(h.entry) << '\n';
        }
        std::cout << n << "\t.\n" << std::flush;
    }
    return 0;
}
