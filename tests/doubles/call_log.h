// Queries over a recording double's call log, shared by the doubles of the
// dictionary engine and of the memo library. A Call is any record with a
// `name` (the entry point).
#ifndef TOVIX_DOUBLES_CALL_LOG_H
#define TOVIX_DOUBLES_CALL_LOG_H

#include <cstddef>
#include <string>
#include <vector>

namespace doubles {

template <typename Call>
std::vector<Call> callsNamed(const std::vector<Call> &log, const std::string &name) {
    std::vector<Call> out;
    for (const Call &c : log)
        if (c.name == name) out.push_back(c);
    return out;
}

template <typename Call>
size_t countNamed(const std::vector<Call> &log, const std::string &name) {
    size_t n = 0;
    for (const Call &c : log)
        if (c.name == name) ++n;
    return n;
}

template <typename Call>
std::vector<std::string> namesOf(const std::vector<Call> &log) {
    std::vector<std::string> out;
    out.reserve(log.size());
    for (const Call &c : log) out.push_back(c.name);
    return out;
}

}  // namespace doubles

#endif
