#include "framework/parallel_rows.h"

#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

int64_t ThresholdFromEnvironment() {
    const char* text = std::getenv("RUVEX_PARALLEL_MIN_CELLS");
    if (!text || !*text) return ParallelMinimumCells;
    char* end = nullptr;
    const long long value = std::strtoll(text, &end, 10);
    if (*end != '\0' || value < 0) return ParallelMinimumCells;
    return value;
}

}  // namespace

int64_t ParallelThreshold() {
    static const int64_t threshold = ThresholdFromEnvironment();
    return threshold;
}

void ChooseThreadWaitPolicy(char** argv) {
    if (!argv || !argv[0]) return;
    if (std::getenv("OMP_WAIT_POLICY") || std::getenv("GOMP_SPINCOUNT")) return;
    // Under valgrind a new start would leave the tool (or fail): keep the run.
    const char* preload = std::getenv("LD_PRELOAD");
    if (preload && std::strstr(preload, "vgpreload")) return;
    // Once set, the setting stops a failed start from looping.
    if (setenv("GOMP_SPINCOUNT", "5000", 0) != 0) return;
    execv("/proc/self/exe", argv);
}
