#pragma once
// Internal invariants: a condition the model's own set-up guarantees. A
// broken one is a programming error, so the check stays on in release builds
// and ends the process with the file and line.

#include <cstdio>
#include <cstdlib>

#define RUVEX_INVARIANT(condition, what)                                                              \
    do {                                                                                             \
        if (!(condition)) {                                                                          \
            std::fprintf(stderr, "internal error at %s:%d: %s\n", __FILE__, __LINE__, (what));       \
            std::abort();                                                                            \
        }                                                                                            \
    } while (0)
