#pragma once
// Kernels of the undercatch correction of precipitation: the factor by which
// a gauge value grows with the wind speed, separately for rain and snow, and
// the refit of an altitude regression set to corrected values.

#include <cstddef>
#include <functional>
#include <span>
#include <vector>

#include "forcing/meteoint_methods.h"

namespace meteoint {

struct UndercatchParameters {
    double Threshold = 0;     // T0: rain above, snow at or below [degC]
    double RainConstant = 1;  // aR
    double RainSlope = 0;     // bR [1/(m/s)]
    double SnowConstant = 1;  // aS
    double SnowSlope = 0;     // bS [1/(m/s)]
};

// Undercatch factor at temperature T [degC] and wind speed u [m/s]:
//   f = bR u + aR when T > T0, f = bS u + aS otherwise.
double UndercatchFactor(const UndercatchParameters& p, double temperature, double windSpeed);

// A temperature as the correction takes it: a missing value (below -N, or not
// a number) counts as rain, T0 + 1.
double UsableTemperature(double temperature, double noData, double threshold);
// A wind speed as the correction takes it: a missing value (below -N, or not a
// number) counts as calm, 0.
double UsableWindSpeed(double windSpeed, double noData);

// f v for a valid value v (v >= -N); an invalid one stays as it is.
double CorrectedPrecipitation(double value, double noData, double factor);

// Sample altitudes z = start, start + step, ... (the step added up) while
// z <= limit. None for a step that is not positive and finite; the sampling
// also ends when z no longer grows and after MaxLayerSamples altitudes.
constexpr std::size_t MaxLayerSamples = 10001;
std::vector<double> SampleAltitudes(double start, double step, double limit);

// Least-squares line w = A + B z through the samples:
//   B = (n Szw - Sz Sw) / (n Szz - Sz^2),  A = (Sw - B Sz) / n.
// Not fitted without samples or when the line is not determined (all z
// equal, or a sum not finite).
struct LineFit {
    bool Fitted = false;
    double Intercept = 0;  // A
    double Gradient = 0;   // B [unit/m]
};
LineFit FitLine(std::span<const double> z, std::span<const double> w);

// Refits the layers of a regression set to values corrected for undercatch:
// each resampled layer is the line through f(z) (A + B z) at its sample
// altitudes, f(z) the undercatch factor at altitude z.
//   - hl > 0 and b1 != 0: the lower layer at 0, hl/10, ... up to hl;
//     otherwise the middle layer at 0, hu/10, ... up to hu.
//   - b3 != 0 and zmax > hu: the upper layer at hu, hu + (zmax - hu)/10, ...
//     up to the larger of 2 hu and zmax.
//   - hl > 0: the middle layer joins the lower layer at hl and the upper one
//     at hu again; otherwise hu moves to where the middle and upper layers
//     meet, when their gradients differ by more than 0.0001.
// A missing set (a1 < -N) stays as it is; so do hl and the trend plane.
void RefitRegression(RegressionSet& set, double noData, double maxAltitude,
                     const std::function<double(double z)>& factorAt);

}  // namespace meteoint
