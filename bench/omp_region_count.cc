// Counts the OpenMP parallel regions a run opens for a team of threads and
// the team barriers its threads meet inside them, for the bench: loaded into a run of the model
// with LD_PRELOAD, it stands in front of the OpenMP runtime's entry points,
// counts each call and passes it on. At the end of the run it writes
//   regions <count>
//   barriers <count>
// into the file RUVEX_REGION_COUNT_FILE names. A barrier is counted once per
// team (by its thread 0): the closing barrier of an `omp for` without
// `nowait` and every explicit or implied `omp barrier` (a `single` without
// `nowait` ends with one). The join at the end of each region is not
// counted as a barrier. With RUVEX_REGION_COUNT_DETAIL set the file also
// lists each region's body by its offset in the program, its regions and
// the barriers met in it (`nm -C` on the program names the bodies).

#include <dlfcn.h>
#include <omp.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>

namespace {

std::atomic<long long> Regions{0};
std::atomic<long long> Barriers{0};
std::mutex BodiesLock;
// Region body -> regions and barriers, with RUVEX_REGION_COUNT_DETAIL.
std::map<void*, std::pair<long long, long long>>* Bodies = nullptr;
std::atomic<void*> CurrentBody{nullptr};  // the body of the region open now

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
    if (omp_get_thread_num() != 0) return;
    Barriers.fetch_add(1, std::memory_order_relaxed);
    if (Bodies) {
        std::lock_guard<std::mutex> hold(BodiesLock);
        ++(*Bodies)[CurrentBody.load()].second;
    }
}

struct Report {
    ~Report() {
        const char* path = std::getenv("RUVEX_REGION_COUNT_FILE");
        if (!path || !*path) return;
        if (FILE* f = std::fopen(path, "w")) {
            std::fprintf(f, "regions %lld\nbarriers %lld\n", Regions.load(), Barriers.load());
            if (Bodies) {
                for (const auto& [body, counts] : *Bodies) {
                    Dl_info info{};
                    uintptr_t offset = reinterpret_cast<uintptr_t>(body);
                    if (dladdr(body, &info) && info.dli_fbase) offset -= reinterpret_cast<uintptr_t>(info.dli_fbase);
                    std::fprintf(f, "body %#lx %lld %lld %s\n", static_cast<unsigned long>(offset), counts.first,
                                 counts.second, info.dli_fname ? info.dli_fname : "?");
                }
            }
            std::fclose(f);
        }
    }
} report;

}  // namespace

extern "C" {

void GOMP_parallel(void (*fn)(void*), void* data, unsigned threads, unsigned flags) {
    using F = void (*)(void (*)(void*), void*, unsigned, unsigned);
    static const F next = Next<F>("GOMP_parallel", "GOMP_4.0");
    // A region whose `if` clause is false runs on the calling thread alone
    // (the compiler asks for one thread) and wakes no team: not counted.
    if (threads == 1) {
        next(fn, data, threads, flags);
        return;
    }
    Regions.fetch_add(1, std::memory_order_relaxed);
    static const bool detail = std::getenv("RUVEX_REGION_COUNT_DETAIL") != nullptr;
    if (detail) {
        std::lock_guard<std::mutex> hold(BodiesLock);
        if (!Bodies) Bodies = new std::map<void*, std::pair<long long, long long>>;
        ++(*Bodies)[reinterpret_cast<void*>(fn)].first;
    }
    CurrentBody.store(reinterpret_cast<void*>(fn));
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
