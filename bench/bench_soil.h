#pragma once
// The soil-column phase of the benchmark.

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_basin.h"

namespace bench {

struct SoilPhaseResult {
    std::vector<double> StepSeconds;  // the timed steps
    uint64_t Fingerprint = 0;         // of the water contents and the runoff grids left behind
    long ValidCells = 0;
};

// Builds the soil model on a generated basin of rows x cols cells and times
// `steps` sub-steps of every soil column (after one untimed step). Files of
// the set-up go to `scratch`.
SoilPhaseResult SoilColumns(long rows, long cols, int steps, const std::string& scratch);

}  // namespace bench
