#pragma once
// Dynamic phenology of the land-use methods 3 to 6: forcing and chilling
// units from the daily mean temperature, the start of the growing season, the
// fix-point days found one by one (method 5) and the leaf fall (method 6).
//
// The kernels are pure functions on plain values; AdvancePhenologyDay moves
// the state of one cell and one land-use layer by one day. The cell loop that
// gathers the state from the grids lives with the daily parameter grids.

#include <vector>

#include "parameters/landuse.h"

// Forcing rate of a day [forcing units/d] for the daily mean temperature T
// and the base temperature Tb [degC]:
//   r = 28.4 / (1 + exp(-0.185 (T - Tb - 18.4)))  for T > Tb, else 0.
double SigmoidForcingRate(double meanTemperature, double baseTemperature);

// Chill units of a day [1/d] for the daily mean temperature T [degC], with
// the offsets O1 < Tc < O2 and the base chilling temperature Tc:
//   0 for T <= O1; (T - O1)/(Tc - O1) for O1 < T <= Tc and T < O2;
//   (T - O2)/(Tc - O2) for Tc < T < O2; 0 from O2 on.
double ChillRate(double meanTemperature, double offset1, double baseChilling, double offset2);

// Soil-moisture stress g of the forcing (0..): (M - HReduDry) / (150 - HReduDry)
// when the mean root-zone moisture M is given and at least HReduDry, else 0.
// A HReduDry of 150 or more leaves no range to scale by: g = 0.
double PhenologyStressFactor(bool hasMoisture, double meanTheta, double hReduDry);

// Forcing added for a rate r: (1 + g s) r when the stress weight s is above 0,
// else r.
double WeightedForcing(double rate, double stressFactor, double stressWeight);

// The first fix point whose day is not yet passed or not yet known (the last
// one when all are passed), searched in the levels P[1..] of a cell's sample
// days: m = 1; while a > P[m] > 0, m + 1 <= L + 1 and P[m + 1] > nodata + 1,
// m = m + 1. `levels` holds the levels 0..L + 1.
int StartTimesSearch(const double* levels, int dayOfYear, int largestFixPointCount, double noData);

// State of one cell in one land-use layer during a day.
struct PhenologyCellState {
    double ForcingSum = 0;         // F
    double StartDay = -1;          // S, below 0 while the season has not started
    double ChillingSum = 0;        // Ch
    double ForcingThreshold = 0;   // Fc, threshold of the cell (methods 4 and 6)
    double LeafFallDay = 0;        // LF, 0 until the leaf has fallen (shared by all layers)
    double ColdDayCount = 0;       // Z, consecutive cold days of method 6 (shared by all layers)
    double* SampleDays = nullptr;  // P[0..L + 1], or null without sample-day stacks
};

// Weather of the cell for the day.
struct PhenologyCellWeather {
    double MeanTemperature = 0;        // T [degC], daily mean
    double MovingMeanTemperature = 0;  // T7 [degC], mean of the last seven daily means
    double StressFactor = 0;           // g, from PhenologyStressFactor
};

// Advances the state of a cell of land use R by the day of the year a (rule 3
// for method 3 and for methods 4 and 6 in their first season, otherwise the
// rule of R's method; other methods leave the state alone). L is the largest
// fix-point count of the table (the sample days have the levels 0..L + 1).
void AdvancePhenologyDay(const LanduseType& R, int dayOfYear, int largestFixPointCount, double noData,
                         const PhenologyCellWeather& weather, PhenologyCellState& state);

// Ends the first season of every class of method 4 or 6 whose dormancy starts
// on day a (records 1..N of the table).
void EndFirstSeasons(std::vector<LanduseType>& table, int dayOfYear);
