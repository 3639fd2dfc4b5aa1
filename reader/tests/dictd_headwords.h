// The headwords of a dictd index as a book made from it holds them: each
// line's first field without the spaces around it, in UTF-8, in key order.
// For the comparison with dictd (match_cli.cpp) and its benchmark.
#ifndef ZAV_READER_TESTS_DICTD_HEADWORDS_H
#define ZAV_READER_TESTS_DICTD_HEADWORDS_H

#include <algorithm>
#include <fstream>
#include <string>
#include <vector>

#include "table_index.h"
#include "text.h"

namespace zavreader {

// False when the index cannot be read.
inline bool loadDictdHeadwords(const char *path, TableIndex *index) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    std::vector<std::string> words;
    for (std::string line; std::getline(in, line);) {
        std::string word = line.substr(0, line.find('\t'));
        size_t from = word.find_first_not_of(' '), to = word.find_last_not_of(' ');
        if (from == std::string::npos) continue;
        words.push_back(toUtf8(word.substr(from, to + 1 - from), 0));
    }
    std::stable_sort(words.begin(), words.end(),
                     [](const std::string &a, const std::string &b) { return collate(a, b) < 0; });
    for (size_t i = 0; i < words.size(); ++i) index->add(static_cast<uint32_t>(i), words[i]);
    index->seal();
    return true;
}

}  // namespace zavreader

#endif
