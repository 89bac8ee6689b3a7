#include "framework/parallel_rows.h"

#include <cstdlib>
#include <unistd.h>

void ChooseThreadWaitPolicy(char** argv) {
    if (!argv || !argv[0]) return;
    if (std::getenv("OMP_WAIT_POLICY") || std::getenv("GOMP_SPINCOUNT")) return;
    // Both are set, so that a failed start cannot loop.
    if (setenv("OMP_WAIT_POLICY", "passive", 0) != 0) return;
    if (setenv("GOMP_SPINCOUNT", "0", 0) != 0) return;
    execv("/proc/self/exe", argv);
}
