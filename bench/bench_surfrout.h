#pragma once
// The surface-routing phase of the benchmark: one sub-step of overland flow
// on a generated tilted and rough plane.

#include <cstdint>
#include <string>
#include <vector>

namespace bench {

struct SurfaceRoutingTiming {
    std::vector<double> StepSeconds;  // the timed sub-steps
    uint64_t Fingerprint = 0;         // of the surface storage, the water handed to the rivers and the outflow
    long Cells = 0;                   // model cells
};

// Surface routing (flowpath `method`) on a plane of rows x cols cells of 10 m
// falling 1 % to the south and 0.2 % towards a channel down the middle, with a roughness of 0.02 m, river cells in the
// last row and along the channel. Every sub-step gets 1 mm of
// direct runoff on every cell plus what the surface held (an impervious
// soil). One untimed sub-step, then `steps` timed ones; `scratch` takes the
// control file of the model.
SurfaceRoutingTiming SurfaceRoutingSubSteps(long rows, long cols, int method, int steps, const std::string& scratch);

}  // namespace bench
