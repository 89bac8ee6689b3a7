#pragma once
// When a pass over the grid rows is worth a team of threads, and how idle
// threads wait.
//
// Every cell loop of the time loop runs as one parallel region per pass
// (compute, limit, correct and gather the zone sums of a row in one go, see
// zonalstatistic_rows.h) with `schedule(static)`, and only when its grid has
// at least `ParallelMinimumCells` valid cells:
//
//     #pragma omp parallel for schedule(static) if (WorthThreads(cells))
//
// RUVEX_PARALLEL_MIN_CELLS in the environment replaces the threshold; the
// tests set it to 1 so that their small grids take the parallel path.
//
// Static scheduling hands every thread the same rows in every step, so the
// results and the cache use do not depend on timing.

#include <cstdint>

// Below this many cells a pass runs on one thread. Measured on the example
// basin with inverse-distance weighting of five stations (about 0.15 us of
// work per cell and input): opening and closing a region with passive waiting
// costs 10 to 30 us on 8 threads, so a pass needs some 1500 cells before
// 2 threads win and about 2000 before 8 threads do; a quiet machine gained
// nothing from threads below that, a busy one lost.
constexpr int64_t ParallelMinimumCells = 2000;

// The threshold in force: ParallelMinimumCells or the environment's.
int64_t ParallelThreshold();

inline bool WorthThreads(int64_t cells) { return cells >= ParallelThreshold(); }

// A pass of a few operations per cell (a copy, a sum, a limit) does some 30
// times less work per cell than an interpolation: it needs that many more
// cells before threads pay (65,536 valid cells by default; 300 x 400 basin:
// summing a grid for its write code took 0.02 ms on one thread, the same on
// eight).
constexpr int64_t LightPassFactor = 32;
inline bool WorthThreadsForLightPass(int64_t cells) { return cells >= ParallelThreshold() * LightPassFactor; }

// Makes idle threads sleep instead of spinning unless the user chose a wait
// policy (OMP_WAIT_POLICY or GOMP_SPINCOUNT): on a machine whose cores are
// busy, spinning threads take the time slices of the threads that work, and
// a run becomes many times slower than on one thread. The OpenMP runtime
// reads its settings once when it starts, so the program starts itself anew
// with the setting in its environment; `argv` is that of main. Returns only
// when nothing was to be done or the new start failed.
void ChooseThreadWaitPolicy(char** argv);
