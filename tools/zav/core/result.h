// Failed, and why: the one way the tool's functions tell their caller that
// they could not do what was asked.
//
// A function that gives nothing back returns a Status; one that gives a
// value returns a Result<T>, which holds either the value or a Failure. A
// Failure is a reason, written to be read by a person and naming what
// failed ("book.zav: cannot open: No such file or directory"), and a Fault
// that says what the failure means for the command that meets it. Only the
// commands print: they turn a failure into "zav COMMAND: REASON" and an exit
// code (reportFailure in core/cli.h).
//
//     Result<std::string> readWholeFile(const std::string &path);
//     auto text = readWholeFile(path);
//     if (!text) return Failure{"the manifest: " + text.reason()};
//     use(*text);
#ifndef ZAV_TOOL_CORE_RESULT_H
#define ZAV_TOOL_CORE_RESULT_H

#include <cstdint>
#include <optional>
#include <string>
#include <utility>

namespace zavtool {

// What a failure means for the command that meets it.
enum class Fault : uint8_t {
    Error,     // unreadable input, an output that cannot be written, a damaged book: exit 2
    Usage,     // an argument the command does not take: exit 2, with the hint to try --help
    Rejected,  // the input was read, but it cannot give what was asked: exit 1
};

struct Failure {
    std::string reason;
    Fault fault = Fault::Error;
};

// Success, or a failure with its reason.
class [[nodiscard]] Status {
public:
    Status() = default;  // success
    Status(Failure failure) : failure_(std::move(failure)), failed_(true) {}

    bool ok() const { return !failed_; }
    explicit operator bool() const { return ok(); }
    // The failure; empty reason on success.
    const Failure &failure() const { return failure_; }
    const std::string &reason() const { return failure_.reason; }
    Fault fault() const { return failure_.fault; }

private:
    Failure failure_;
    bool failed_ = false;
};

// A value, or a failure with its reason.
template <class T>
class [[nodiscard]] Result {
public:
    Result(T value) : value_(std::move(value)) {}
    Result(Failure failure) : failure_(std::move(failure)) {}

    bool ok() const { return value_.has_value(); }
    explicit operator bool() const { return ok(); }
    // The value; only when ok().
    T &operator*() { return *value_; }
    const T &operator*() const { return *value_; }
    T *operator->() { return &*value_; }
    const T *operator->() const { return &*value_; }
    T value_or(T otherwise) const { return value_ ? *value_ : std::move(otherwise); }
    // The failure; empty reason on success.
    const Failure &failure() const { return failure_; }
    const std::string &reason() const { return failure_.reason; }
    Fault fault() const { return failure_.fault; }
    Status status() const { return ok() ? Status() : Status(failure_); }

private:
    std::optional<T> value_;
    Failure failure_;
};

}  // namespace zavtool

#endif
