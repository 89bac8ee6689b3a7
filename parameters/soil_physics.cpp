#include "parameters/soil_physics.h"

#include <cmath>

namespace soilphysics {

double VanGenuchtenSaturation(double suction, double alpha, double n, double m) {
    return std::pow(1.0 / (1.0 + std::pow(alpha * suction, n)), m);
}

double WaterContentFromSaturation(double saturation, double thetaSat, double thetaRes) {
    return (thetaSat - thetaRes) * saturation + thetaRes;
}

double MualemRelativeConductivity(double saturation, double m, double tau) {
    const double inner = 1.0 - std::pow(1.0 - std::pow(saturation, 1.0 / m), m);
    return std::pow(saturation, tau) * (inner * inner);
}

double UnfrozenFraction(double scaledTemperature, double n, double m) {
    return std::pow(1.0 / (std::pow(scaledTemperature, n) + 1.0), m);
}

double UnfrozenFractionSlope(double scaledTemperature, double alpha, double factor, double n, double m) {
    // The factor alpha fT vanishes with u, so the slope does too, whatever n.
    if (scaledTemperature == 0) return 0;
    return m * n * alpha * factor * std::pow(scaledTemperature, n - 1) *
           std::pow(std::pow(scaledTemperature, n) + 1.0, -m - 1);
}

double FreezingShift(double slopeTemperature, double steepestTemperature) {
    const double ts = slopeTemperature;
    const double tc = steepestTemperature;
    if (ts >= tc) return 0;
    if (ts < FreezingShiftK1 * tc) return ts - 1.15 * tc;
    return ts - tc * (1 + (ts - tc) * FreezingShiftK3 / (tc * FreezingShiftK4));
}

double IceHeatCapacity(double temperature, double iceCapacity0, double iceCapacity20) {
    if (temperature >= 0) return iceCapacity0;
    if (temperature < -20) return iceCapacity20;
    return (temperature / -20) * iceCapacity20 + (temperature / 20 + 1) * iceCapacity0;
}

double VolumetricHeatCapacity(double waterContent, double waterDensity, double unfrozenFraction,
                              double waterCapacity, double iceCapacity, double dryDensity, double dryCapacity,
                              double addend) {
    return waterContent * waterDensity * (unfrozenFraction * waterCapacity + (1 - unfrozenFraction) * iceCapacity) +
           dryDensity * dryCapacity + addend;
}

}  // namespace soilphysics
