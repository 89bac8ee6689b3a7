#pragma once
// The soil heat of one column inside the cell step: its work arrays, held
// per grid row by the thread that runs the row.

#include <vector>

namespace unsatzon {

struct HeatWork {
    explicit HeatWork(int layers);
    std::vector<double> unfrozen, conductivity, slope, capacity, flux, change, start, trial, a, b, c, r,
        freezingPoint;
};

// Heat steps of a model step of `stepSeconds`: more while the trial change
// of layer 1 exceeds a quarter of its distance to the air per step and the
// steps stay longer than `shortest`, or while they are longer than
// `longest`. A heat step lasts at least a second.
int HeatStepCount(double trialChange, double airTemperature, double topTemperature, double stepSeconds,
                  double shortest, double longest);

// Depth of the deepest thaw front [m, 0 or negative] from the layer
// temperatures T, freezing points Tf (per layer), the lower boundary
// temperature and the boundary elevations z.
double ThawDepthOfColumn(int layers, const double* T, const double* Tf, double lowerTemperature, const double* z);

}  // namespace unsatzon
