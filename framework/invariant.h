#pragma once
// Internal invariants: a condition the model's own set-up guarantees. A
// broken one is a programming error, so the check stays on in release builds
// and ends the process with the file and line.

// Writes "file:line: internal error: what" to standard error and aborts.
[[noreturn]] void RuvexInvariantFailure(const char* what, const char* file, int line);

#define RUVEX_INVARIANT(condition, what)                                  \
    do {                                                                 \
        if (!(condition)) RuvexInvariantFailure((what), __FILE__, __LINE__); \
    } while (0)
