// Wrappers of the C library's file calls that count them and pass them on.
// The benchmark program exports them, so that the libraries it loads (the
// dictionary engine, SQLite) call them too. No system header that declares
// these functions is included here, to keep their declarations our own.
#include <dlfcn.h>
#include <stdarg.h>
#include <sys/types.h>

#include "file_call_count.h"

namespace bench {
std::atomic<uint64_t> gReadCalls{0}, gOtherFileCalls{0};
}  // namespace bench

namespace {

// The C library's function `name`, looked up once.
template <typename Fn>
Fn next(Fn *cache, const char *name) {
    if (!*cache) *cache = reinterpret_cast<Fn>(dlsym(RTLD_NEXT, name));
    return *cache;
}

}  // namespace

#define COUNT_READ ++bench::gReadCalls
#define COUNT_OTHER ++bench::gOtherFileCalls

// Each wrapper: count, then call the C library's function of the same name.
#define FORWARD(counter, Ret, name, params, args) \
    extern "C" Ret name params {                  \
        static Ret(*real) params = nullptr;       \
        counter;                                  \
        return next(&real, #name) args;           \
    }

struct stat;
FORWARD(COUNT_READ, ssize_t, read, (int fd, void *b, size_t n), (fd, b, n))
FORWARD(COUNT_READ, ssize_t, pread, (int fd, void *b, size_t n, off_t at), (fd, b, n, at))
FORWARD(COUNT_READ, ssize_t, pread64, (int fd, void *b, size_t n, off_t at), (fd, b, n, at))
FORWARD(COUNT_OTHER, int, close, (int fd), (fd))
FORWARD(COUNT_OTHER, int, fstat, (int fd, struct stat *st), (fd, st))
FORWARD(COUNT_OTHER, int, fstat64, (int fd, struct stat *st), (fd, st))
FORWARD(COUNT_OTHER, int, stat, (const char *p, struct stat *st), (p, st))
FORWARD(COUNT_OTHER, int, stat64, (const char *p, struct stat *st), (p, st))

// The calls with an optional last argument (a mode, or fcntl's argument).
#define FORWARD_VARIADIC(Ret, name, First, Second)        \
    extern "C" Ret name(First a, Second b, ...) {         \
        static Ret (*real)(First, Second, ...) = nullptr; \
        COUNT_OTHER;                                      \
        va_list rest;                                     \
        va_start(rest, b);                                \
        void *extra = va_arg(rest, void *);               \
        va_end(rest);                                     \
        return next(&real, #name)(a, b, extra);           \
    }
FORWARD_VARIADIC(int, open, const char *, int)
FORWARD_VARIADIC(int, open64, const char *, int)
FORWARD_VARIADIC(int, fcntl, int, int)
FORWARD_VARIADIC(int, fcntl64, int, int)

extern "C" int openat(int dir, const char *path, int flags, ...) {
    static int (*real)(int, const char *, int, ...) = nullptr;
    COUNT_OTHER;
    va_list rest;
    va_start(rest, flags);
    void *extra = va_arg(rest, void *);
    va_end(rest);
    return next(&real, "openat")(dir, path, flags, extra);
}
