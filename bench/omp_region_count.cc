// Counts the OpenMP parallel regions a run opens and the team barriers its
// threads meet inside them, for the bench: loaded into a run of the model
// with LD_PRELOAD, it stands in front of the OpenMP runtime's entry points,
// counts each call and passes it on. At the end of the run it writes
//   regions <count>
//   barriers <count>
// into the file RUVEX_REGION_COUNT_FILE names. A barrier is counted once per
// team (by its thread 0): the closing barrier of an `omp for` without
// `nowait` and every explicit or implied `omp barrier` (a `single` without
// `nowait` ends with one). The join at the end of each region is not
// counted as a barrier.

#include <dlfcn.h>
#include <omp.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

namespace {

std::atomic<long long> Regions{0};
std::atomic<long long> Barriers{0};

template <typename F>
F Next(const char* name, const char* version) {
    void* found = dlvsym(RTLD_NEXT, name, version);
    if (!found) found = dlsym(RTLD_NEXT, name);
    if (!found) {
        std::fprintf(stderr, "omp_region_count: %s not found\n", name);
        std::abort();
    }
    return reinterpret_cast<F>(found);
}

void CountBarrier() {
    if (omp_get_thread_num() == 0) Barriers.fetch_add(1, std::memory_order_relaxed);
}

struct Report {
    ~Report() {
        const char* path = std::getenv("RUVEX_REGION_COUNT_FILE");
        if (!path || !*path) return;
        if (FILE* f = std::fopen(path, "w")) {
            std::fprintf(f, "regions %lld\nbarriers %lld\n", Regions.load(), Barriers.load());
            std::fclose(f);
        }
    }
} report;

}  // namespace

extern "C" {

void GOMP_parallel(void (*fn)(void*), void* data, unsigned threads, unsigned flags) {
    using F = void (*)(void (*)(void*), void*, unsigned, unsigned);
    static const F next = Next<F>("GOMP_parallel", "GOMP_4.0");
    Regions.fetch_add(1, std::memory_order_relaxed);
    next(fn, data, threads, flags);
}

void GOMP_barrier() {
    using F = void (*)();
    static const F next = Next<F>("GOMP_barrier", "GOMP_1.0");
    CountBarrier();
    next();
}

void GOMP_loop_end() {
    using F = void (*)();
    static const F next = Next<F>("GOMP_loop_end", "GOMP_1.0");
    CountBarrier();
    next();
}

bool GOMP_loop_end_cancel() {
    using F = bool (*)();
    static const F next = Next<F>("GOMP_loop_end_cancel", "GOMP_4.0");
    CountBarrier();
    return next();
}

void GOMP_sections_end() {
    using F = void (*)();
    static const F next = Next<F>("GOMP_sections_end", "GOMP_1.0");
    CountBarrier();
    next();
}

}  // extern "C"
