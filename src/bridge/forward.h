// Calls into a companion library through an entry point looked up by name,
// typed by the library's public header.
#ifndef TOVIX_FORWARD_H
#define TOVIX_FORWARD_H

#include <utility>

namespace tovix {

// Call `symbol` as a function of type Fn; 0 when it is null.
template <typename Fn, typename... A>
auto callEntry(void *symbol, A... args) -> decltype(std::declval<Fn>()(args...)) {
    Fn fn = reinterpret_cast<Fn>(symbol);
    return fn ? fn(args...) : 0;
}

}  // namespace tovix

// name(...) forwards to the entry point `name` of the public header, found by
// lookup(const char *name).
#define TOVIX_FORWARD(lookup, name)                                           \
    template <typename... A>                                                  \
    inline auto name(A... args) {                                             \
        return ::tovix::callEntry<decltype(&::name)>(lookup(#name), args...); \
    }

#endif
