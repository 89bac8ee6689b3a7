#pragma once
// The built-in laws of the silting-up model: crusting of tilled soil as the
// kinetic energy of rain accumulates after tillage, and the split of the water
// reaching the surface into infiltration and direct runoff. Pure functions on
// plain values; dt is the model interval [min].

#include <cstdint>
#include <vector>

namespace siltingup {

// Parameters A to H of the built-in capacity law.
struct CapacityParameters {
    double A = 65;     // initial infiltration rate X [mm/h]
    double B = 12.2;   // final rate Y = B Dg^C (100 sand)^D [mm/h]
    double C = 0.52;
    double D = -0.64;
    double E = 0.013;  // disposition Cv = E (100 sand)^F Dg^G TST^H
    double F = -1.03;
    double G = 0.7;
    double H = -0.19;
};

// Grain-size fractions of a soil (0..1): sand, silt, clay, stones 1 to 4.
struct GrainSizes {
    double sand = 0.3333, silt = 0.3333, clay = 0.3334;
    double stones[4] = {0, 0, 0, 0};
};

// Geometric mean grain diameter Dg = 10^(0.5 sum(f_k log-size_k)).
double GeometricMeanDiameter(const GrainSizes& g);

// Final infiltration rate Y = B Dg^C (100 sand)^D [mm/h].
double FinalRate(const CapacityParameters& p, double dg, double sand);

// Kinetic energy per mm of rain at intensity I [mm/h] (Wischmeier and Smith,
// metric): 11.89 + 8.73 log10(I) for 0.05 < I < 76.2, 28.33 from 76.2 on, 0 at
// or below 0.05.
double EnergyPerMm(double intensity);

// Silting-up disposition Cv = E (100 sand)^F Dg^G TST^H for TST > 0, else 0.
double Disposition(const CapacityParameters& p, double sand, double dg, double tst);

// Days since the last tillage for the day of the year d. `days` holds the
// tillage days 0..n with day 0 = day n - 366; a day 0 below -9997 means no
// tillage dates and gives 0. The tillage day itself counts 0.3 days.
double TimeSinceTillage(const std::vector<int32_t>& days, int n, int dayOfYear);
inline bool HasTillageDates(const std::vector<int32_t>& days) { return !days.empty() && days[0] >= -9997; }

// Rain pause [d] after a step: 0 when I > 0.05 mm/h, else grown by dt.
double RainPauseAfter(double rainPause, double intensity, double dtMinutes);

// Accumulated kinetic energy [J/m2] after a step: 0 without tillage (TST <= 0);
// else the gain I e (1 - cov) dt/60 starts a new accumulation once the rain
// pause has reached the minimum, and adds to KE before that.
double KineticEnergyAfter(double ke, double tst, double intensity, double e, double cover, double rainPause,
                          double minimumRainPause, double dtMinutes);

// Infiltration capacity of the step [mm]: (exp(-Cv KE) (X - Y) + Y) dt/60.
double Capacity(double cv, double ke, double x, double y, double dtMinutes);

// The water U reaching the surface split into infiltration and direct runoff.
// A capacity below 0 or not a number counts as 0; without tillage dates all
// of U infiltrates.
struct Partition {
    double infiltration = 0;
    double directRunoff = 0;
};
Partition Split(double u, double capacity, bool tilled);

}  // namespace siltingup
