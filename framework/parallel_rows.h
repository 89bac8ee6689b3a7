#pragma once
// When a pass over the grid rows is worth a team of threads, and how idle
// threads wait.
//
// Every cell loop of the time loop runs as one parallel region per pass
// (compute, limit, correct and gather the zone sums of a row in one go, see
// zonalstatistic_rows.h) with `schedule(static, 1)`, and only when its grid
// has at least `ParallelMinimumCells` valid cells:
//
//     #pragma omp parallel for schedule(static, 1) if (WorthThreads(cells))
//
// RUVEX_PARALLEL_MIN_CELLS in the environment replaces the threshold; the
// tests set it to 1 so that their small grids take the parallel path.
//
// Static scheduling hands every thread the same rows in every step, so the
// results and the cache use do not depend on timing. The rows are dealt out
// one at a time (thread t takes rows t, t + p, t + 2p, ...): a basin is seldom
// a rectangle, and blocks of neighbouring rows give the threads very unequal
// numbers of valid cells. On the 400 x 300 valley (53,839 valid cells) the
// busiest of 8 threads had 2.13 times the mean with blocks, 1.00 dealt out
// row by row; the same split held the 8-thread run back to at most 3.8 times
// the one-thread speed before anything else was counted. A pass whose rows
// cost very different and changing amounts (the soil columns, whose iteration
// steps follow the weather) hands its rows out on demand instead,
// `schedule(dynamic, 1)`; that too leaves the results alone as long as every
// row writes only its own cells and partial sums.
//
// Every region wakes the team and ends at a barrier, and with short spinning
// (below) a team that waited long has gone to sleep: a sub-model whose step
// is a sequence of passes runs the whole step in one region, each pass an
// `omp for` whose closing barrier orders it before the next (groundwater,
// surface routing, radiation correction, the snow's statistics with its
// slides). A decision that follows from row sums (another sweep of a solver)
// is taken by every thread folding the same partials in row order, so all
// threads take it alike without a serial section. Where a row needs only its
// neighbour rows of the pass before, it may wait for those rows alone
// (groundwater's sweeps: an atomic mark per row, then a short spin and
// yielding) instead of a barrier after all rows.

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <thread>
#include <vector>

// Below this many valid cells a pass runs on one thread. Measured with the
// bench's inverse-distance interpolation of 20 stations (about 30 ns of work
// per cell) on an 8-core machine shared with other work, idle threads
// sleeping: 2 and 8 threads lost against one thread on 716, 1,741, 2,828 and
// 6,376 cells (1,741 cells: 20.0 million cell-steps per second on 1 thread,
// 17.9 on 2, 16.7 on 8); 2 threads first won at 17,692 cells (31.8 against
// 47.8). A quiet machine breaks even lower; 8,192 lies between, and keeps
// the example basin (2,153 cells) on one thread, where waking a team for a
// pass of some 30 us costs as much as it saves.
constexpr int64_t ParallelMinimumCells = 8192;

// The threshold in force: ParallelMinimumCells or the environment's.
int64_t ParallelThreshold();

inline bool WorthThreads(int64_t cells) { return cells >= ParallelThreshold(); }

// A pass of a few operations per cell (a copy, a sum, a limit) needs more
// cells before threads pay: a write code's sum takes some 12 instructions a
// cell against some 260 for the inverse-distance weighting of five stations
// (callgrind, one thread, the 400 x 300 valley). On the loaded machine the
// write codes' pass on 6,376 cells gained nothing (455 million cell-steps per
// second on 1 thread, 433 on 8); from 32,768 cells a pass lasts about 0.1 ms,
// several times what a team of sleeping threads takes to wake.
constexpr int64_t LightPassFactor = 4;
inline bool WorthThreadsForLightPass(int64_t cells) { return cells >= ParallelThreshold() * LightPassFactor; }

// Makes idle threads spin only briefly before they sleep, unless the user
// chose a wait policy (OMP_WAIT_POLICY or GOMP_SPINCOUNT): on a machine whose
// cores are busy, threads that spin long take the time slices of the threads
// that work, and a run becomes many times slower than on one thread; threads
// that sleep at once pay a wake-up at every parallel pass. Measured on the
// 400 x 300 valley over 3 days, whole runs: on a quiet 8-core machine 1
// thread took 25.0 s, 8 threads 6.4 s with GOMP_SPINCOUNT=5000 against 7.3 s
// sleeping at once (6.6 s against 7.3 s in a second pairing); with every core
// busy with a competing loop, 1 thread 31-34 s, 8 threads 28-29 s with 5000,
// 23-24 s sleeping at once, 39 s with 30000 and 71 s with 200000. So the
// short spin of 5000 gains about 12 % on a quiet machine and keeps a busy
// one faster than a single thread. The OpenMP runtime reads its settings
// once when it starts, so the program starts itself anew with the setting in
// its environment; `argv` is that of main. Returns only when nothing was to
// be done or the new start failed.
void ChooseThreadWaitPolicy(char** argv);

// Threads a run can use on `cores` processors while other work keeps `load`
// of them busy: the idle cores, at least 1 and at most `cores`. A thread
// more than the idle cores shares a core with other work, and the whole team
// then waits at every barrier for the thread that lost its time slice: on
// the 400 x 300 valley at a load of about 5, 8 threads were slower than 4.
int ThreadsForLoad(int cores, double load);

// The work of other processes on the machine from /proc/loadavg
// (`text` its contents): the smaller of the one-minute average and the tasks
// runnable now less the reader itself, so that a machine that has just
// become quiet (or the load of this user's previous run) does not hold the
// count down. Negative when the text cannot be read.
double OtherLoad(const char* text);

// Sets the team size of the run's parallel regions to ThreadsForLoad of the
// processors the run may use and the load of the machine at its start,
// unless OMP_NUM_THREADS is set (then the runtime's choice stands). Returns
// the number of threads chosen, 0 when the choice was left alone.
int ChooseThreadCount();

// Cuts rows 1..rows into `threads` blocks of neighbouring rows of about equal
// cost (`cost(r)` is row r's): a pass in which every thread takes its own
// block keeps what a row reads of its neighbour rows mostly in the thread's
// own cache. Returns threads + 1 block starts; thread t has the rows from
// start t up to start t + 1 (exclusive), the last start being rows + 1.
template <typename RowCost>
std::vector<int32_t> RowBlocksOfEqualCost(int32_t rows, int threads, RowCost cost) {
    threads = std::max(threads, 1);
    rows = std::max(rows, 0);
    std::vector<int64_t> before(static_cast<size_t>(rows) + 2, 0);
    for (int32_t r = 1; r <= rows; ++r)
        before[static_cast<size_t>(r) + 1] = before[static_cast<size_t>(r)] + cost(r);
    const int64_t total = before[static_cast<size_t>(rows) + 1];
    std::vector<int32_t> start(static_cast<size_t>(threads) + 1, rows + 1);
    int32_t r = 1;
    for (int t = 0; t < threads; ++t) {
        const int64_t from = total * t / threads;
        while (r <= rows && before[static_cast<size_t>(r)] < from) ++r;
        start[static_cast<size_t>(t)] = r;
    }
    return start;
}

// Waits until a row's mark has reached `serial` (the pass or iteration the
// row has finished): a short spin, then the core goes to whatever else wants
// it between looks, so a busy machine is not held up by waiting threads.
inline void WaitForRow(const std::atomic<int64_t>& done, int64_t serial) {
    for (int looks = 0; done.load(std::memory_order_acquire) < serial; ++looks)
        if (looks >= 64) std::this_thread::yield();
}
