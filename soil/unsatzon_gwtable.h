#pragma once
// The groundwater table seen from outside the column: the water that
// irrigation may pump from below the table, and a table level imposed by an
// external groundwater model.
//
// Per-layer arrays run 0..n (element 0 the surface where said), lengths and
// elevations in [m], water contents in [m3/m3], water amounts in [mm].

#include <span>

namespace unsatzon {

// Water above field capacity in the layers g..n-1 [mm]:
//   sum 1000 dz_k (theta_s,k - theta_fc,k)
// The bottom layer is the aquifer's floor and never counts, so a table in
// layer n gives 0.
double PumpingCapacity(int groundwaterLayer, int layers, std::span<const double> layerThickness,
                       std::span<const double> thetaSat, std::span<const double> thetaFc);

struct ExternalTableMove {
    int layer = 0;         // the new groundwater layer
    double table = 0;      // the new table elevation [m] (clamped to the profile bottom)
    double balance = 0;    // water added to the column [mm], negative when drained
};

// Moves the table of a column from elevation H to the external level E [m].
// Lowering drains each layer between the two levels down to field capacity;
// raising fills the layers between them to saturation. No layer ends above
// saturation or below 0, and the balance is the water actually added,
//   1000 sum (theta_after - theta_before) dz.
// `boundaryElevation`: [0] the surface, [k] the lower boundary of layer k.
ExternalTableMove MoveTableTo(int groundwaterLayer, int layers, double H, double E,
                              std::span<const double> boundaryElevation, std::span<const double> layerThickness,
                              std::span<const double> thetaSat, std::span<const double> thetaFc,
                              std::span<double> theta);

}  // namespace unsatzon
