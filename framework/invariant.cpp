#include "framework/invariant.h"

#include <cstdio>
#include <cstdlib>

void RuvexInvariantFailure(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: internal error: %s\n", file, line, what);
    std::abort();
}
