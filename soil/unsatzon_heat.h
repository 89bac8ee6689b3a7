#pragma once
// The soil heat of one column inside the cell step: its work arrays, held
// per grid row by the thread that runs the row.

#include <vector>

#include "soil/unsatzon_heat_physics.h"

class SoilType;

namespace unsatzon {

// Freezing point [degC] of layers 1..layers of a soil into out[1..layers]
// (out[0] repeats layer 1): the temperature at which the unfrozen fraction
// of its table first falls to `unfrozenShare` or below, on the table's grid
// of 10 / FreezingSteps K.
void FreezingPointsOfSoil(const SoilType& soil, int layers, double unfrozenShare, double* out);

// The freezing points of every soil that one pass over a row of columns
// meets, each computed once; the soil tables must not change while it is in
// use.
class FreezingPointCache {
public:
    // layers + 1 values, as FreezingPointsOfSoil writes them.
    const double* Of(const SoilType& soil, int layers, double unfrozenShare);

private:
    struct Entry {
        const SoilType* soil;
        int layers;
        double share;
        std::vector<double> points;
    };
    std::vector<Entry> Entries;
    size_t Last = 0;
};

struct HeatWork {
    explicit HeatWork(int layers);
    std::vector<double> unfrozen, conductivity, slope, capacity, flux, change, start, trial, a, b, c, r;
    FreezingPointCache freezingPoints;
    std::vector<ConductivityMemo> conductivityMemo;  // per layer, kept from cell to cell of the row
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
