#pragma once
// The groundwater sub-step on the generated basin: two aquifer layers,
// fixed heads in the lowest cell, a fixed number of sweeps per layer.

#include <cstdint>
#include <string>
#include <vector>

#include "bench/bench_basin.h"

namespace bench {

struct GroundwaterTiming {
    std::vector<double> StepSeconds;  // the timed sub-steps
    uint64_t Fingerprint = 0;         // of the heads and flows left behind
};

// One untimed sub-step, then `steps` timed ones; `scratch` takes the control
// file of the model.
GroundwaterTiming GroundwaterSubSteps(const Basin& basin, int steps, const std::string& scratch);

}  // namespace bench
