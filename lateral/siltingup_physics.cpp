#include "lateral/siltingup_physics.h"

#include <algorithm>
#include <cmath>

namespace siltingup {

double GeometricMeanDiameter(const GrainSizes& g) {
    const double exponent = -1.0969100130080562 * g.clay + 2.1003620619491743 * g.silt +
                            5.100385157531412 * g.sand + 7.100370545117563 * g.stones[0] +
                            8.100370545117563 * g.stones[1] + 9.100370545117563 * g.stones[2] +
                            10.100370545117563 * g.stones[3];
    return std::pow(10.0, 0.5 * exponent);
}

double FinalRate(const CapacityParameters& p, double dg, double sand) {
    return p.B * std::pow(dg, p.C) * std::pow(100.0 * sand, p.D);
}

double EnergyPerMm(double intensity) {
    if (intensity <= 0.05) return 0;
    if (intensity >= 76.2) return 28.33;
    return 11.89 + 8.73 * std::log10(intensity);
}

double Disposition(const CapacityParameters& p, double sand, double dg, double tst) {
    if (!(tst > 0)) return 0;
    return p.E * std::pow(100.0 * sand, p.F) * std::pow(dg, p.G) * std::pow(tst, p.H);
}

double TimeSinceTillage(const std::vector<int32_t>& days, int n, int d) {
    if (!HasTillageDates(days) || n < 0 || static_cast<int>(days.size()) <= n) return 0;
    double t = 0;
    if (d >= days[static_cast<size_t>(n)]) {
        t = d - days[static_cast<size_t>(n)];
    } else if (n > 0) {
        int j = 0;
        for (int k = 1; k <= n; ++k) {
            if (days[static_cast<size_t>(k)] <= d) j = k;
        }
        t = d - days[static_cast<size_t>(j)];
    }
    return t <= 0 ? 0.3 : t;
}

double RainPauseAfter(double rainPause, double intensity, double dtMinutes) {
    return intensity > 0.05 ? 0.0 : rainPause + dtMinutes / 1440.0;
}

double KineticEnergyAfter(double ke, double tst, double intensity, double e, double cover, double rainPause,
                          double minimumRainPause, double dtMinutes) {
    if (tst <= 0) return 0;
    const double gain = intensity * e * (1.0 - cover) * dtMinutes / 60.0;
    return rainPause >= minimumRainPause ? gain : ke + gain;
}

double Capacity(double cv, double ke, double x, double y, double dtMinutes) {
    return (std::exp(-cv * ke) * (x - y) + y) * dtMinutes / 60.0;
}

Partition Split(double u, double capacity, bool tilled) {
    Partition p;
    if (!tilled) {
        p.infiltration = u;
        return p;
    }
    const double v = capacity > 0 ? capacity : 0.0;  // NaN and negatives: nothing infiltrates
    p.directRunoff = u - std::min(v, u);
    p.infiltration = u - p.directRunoff;
    return p;
}

}  // namespace siltingup
