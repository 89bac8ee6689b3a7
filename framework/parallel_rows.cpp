#include "framework/parallel_rows.h"

#include <omp.h>
#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

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

int ThreadsForLoad(int cores, double load) {
    cores = std::max(cores, 1);
    if (!(load > 0)) return cores;  // also a load that could not be read
    if (load >= cores) return 1;
    const int busy = static_cast<int>(std::floor(load + 0.5));
    return std::clamp(cores - busy, 1, cores);
}

double OtherLoad(const char* text) {
    if (!text) return -1;
    double average = 0;
    long running = 0, tasks = 0;
    if (std::sscanf(text, "%lf %*f %*f %ld/%ld", &average, &running, &tasks) != 3) return -1;
    if (!(average >= 0) || running < 1) return -1;
    return std::min(average, static_cast<double>(running - 1));
}

int ChooseThreadCount() {
    const char* given = std::getenv("OMP_NUM_THREADS");
    if (given && *given) return 0;
    char text[128] = {};
    FILE* file = std::fopen("/proc/loadavg", "r");
    if (!file) return 0;
    const size_t length = std::fread(text, 1, sizeof text - 1, file);
    std::fclose(file);
    text[length] = '\0';
    const double load = OtherLoad(text);
    if (load < 0) return 0;
    const int threads = ThreadsForLoad(omp_get_num_procs(), load);
    omp_set_num_threads(threads);
    return threads;
}
