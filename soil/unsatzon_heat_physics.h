#pragma once
// Heat in a soil column: conductivities of moist and frozen soil, the latent
// heat of the freezing water, conductive fluxes, the explicit step with its
// no-overshoot limiter and the implicit (tridiagonal) step with optional
// transport of heat by the water that moves through the column.
//
// Layers 1..n, every array n + 1 long (element 0 is no layer unless said).
// Temperatures [degC], lengths [m], times [s], conductivities [W/(m K)],
// heat capacities [J/(m3 K)], heat fluxes [W/m2] positive upward, water
// fluxes [m/s] positive upward.

#include <span>

namespace unsatzon {

constexpr double AirConductivity = 0.0262;          // [W/(m K)]
constexpr double WaterHeatCapacity = 4187000;       // [J/(m3 K)] for the water carried along

// Conductivity of one layer with porosity phi, water content theta, liquid
// share f of the water and dry conductivity lambdaS:
//   nearly saturated (phi - theta < 0.01):
//     lambdaS^(1-phi) lambdaW^(f theta) lambdaI^((1-f) theta), f < 0.99
//     lambdaS^(1-phi) lambdaW^phi                               otherwise
//   else, e = theta + 1 - phi:
//     0.0262 (phi - theta) + e lambdaS^((1-phi)/e) lambdaW^(f theta/e) [lambdaI^((1-f) theta/e), f < 0.99]
double LayerConductivity(double phi, double theta, double f, double lambdaS, double lambdaW, double lambdaI);

// The last arguments and result of LayerConductivity for one layer, so that
// a layer whose arguments did not change (a saturated layer, a layer the
// water step left alone) costs no powers. A nearly saturated unfrozen layer
// depends only on phi, lambdaS and lambdaW and is kept apart.
struct ConductivityMemo {
    double phi = 0, theta = 0, f = 0, lambdaS = 0, lambdaW = 0, lambdaI = 0, value = 0;
    bool valid = false;
    double saturatedPhi = 0, saturatedLambdaS = 0, saturatedLambdaW = 0, saturatedValue = 0;
    bool saturatedValid = false;
};

// LayerConductivity, answered from the memo when its arguments are the same.
double RememberedLayerConductivity(ConductivityMemo& memo, double phi, double theta, double f, double lambdaS,
                                   double lambdaW, double lambdaI);

// Per layer 1..layers; with a memo (one entry per layer) through it.
void ThermalConductivity(std::span<double> conductivity, int layers, std::span<const double> thetaSat,
                         std::span<const double> dryConductivity, std::span<const double> unfrozenFraction,
                         std::span<const double> theta, double lambdaW, double lambdaI,
                         std::span<ConductivityMemo> memo = {});

// Turns the slope of the unfrozen fraction [1/K] into the latent-heat term
// [J/(m3 K)]: L rho (theta - theta_r) slope, 0 at or below theta_r.
void LatentHeat(int layers, std::span<const double> theta, std::span<const double> thetaRes, double latentHeat,
                double waterDensity, std::span<double> freezingSlope);

// Conductive fluxes of the explicit step, from the temperatures T:
//   F0 = -2 l1 / dz1 (nf Tair - T1)
//   Fk = -2 lk (Tk - Tk+1) / (dzk + dzk+1)
//   Fn = -2 ln / dzn (Tn - Tlow)
void HeatFluxes(std::span<double> heatFlux, int layers, std::span<const double> conductivity,
                std::span<const double> layerThickness, std::span<const double> T, double lowerTemperature,
                double airTemperature, double nFactor);

// dTk = s / (dzk Ck) (Fk - Fk-1) for a step of s whole seconds.
void TemperatureChange(std::span<double> change, int layers, std::span<const double> heatFlux,
                       std::span<const double> layerThickness, std::span<const double> heatCapacity, long seconds);

// T += dT from the bottom layer up. With the limiter a layer never passes
// the start temperature of the neighbour its heat comes from or goes to
// (the air above layer 1, the lower boundary below layer n).
void ApplyTemperatureChange(int layers, std::span<double> T, std::span<const double> startTemperature,
                            std::span<const double> change, std::span<const double> heatFlux, bool limiter,
                            double lowerTemperature, double airTemperature);

// The lower boundary temperature of the implicit step: the given
// temperature, or with a heat flux q into the column the bottom layer's
// start temperature raised by q dzn / (2 ln).
double LowerBoundaryValue(bool fluxBoundary, double boundaryTemperature, double heatFluxIn, double bottomThickness,
                          double bottomConductivity, double bottomStartTemperature);

struct ImplicitHeatStep {
    double dt = 0;              // heat step [s]
    double nFactor = 1;
    double airTemperature = 0;  // Ta
    double inflowTemperature = 0;  // D: of the water entering through macropores (0 under snow)
    double lowerValue = 0;      // E, see LowerBoundaryValue
    bool advection = false;     // water carries heat (heat method 12 and above)
};

// One implicit step: row l reads a_l T_l-1 + b_l T_l + c_l T_l+1 = r_l with
// conduction kappa = 2 dt lambda / ((dz_l + dz_l+-1) dz_l C_l) towards both
// neighbours (half a layer to the surface and to the lower boundary). With
// advection, water entering a layer (from above when the flux at its top is
// downward, from below when the flux at its bottom is upward, through
// macropores) brings the temperature it comes with: upwind, with weight
// omega |W|, omega = 4187000 dt / (dz C). Solved without pivoting in the
// caller's work arrays; T receives T1..Tn. A single layer has both
// boundaries in its one row.
void SolveHeatConduction(int layers, std::span<const double> conductivity, std::span<const double> heatCapacity,
                         std::span<const double> layerThickness, const ImplicitHeatStep& step,
                         std::span<const double> startTemperature, std::span<const double> macroporeInflow,
                         std::span<const double> interfaceFlux, std::span<double> a, std::span<double> b,
                         std::span<double> c, std::span<double> r, std::span<double> T);

// The first profile of a cell: level 0 the lower boundary temperature,
// layer k the mix A Tlow + (1 - A) Tair with A the depth of its centre over
// the depth of the column. `z` is the column of boundary elevations.
void InitialTemperatureProfile(int layers, std::span<const double> z, double lowerTemperature,
                               double airTemperature, std::span<double> T);

// Conductivity of a layer all liquid (lambdaX = lambdaW) or all ice
// (lambdaI) in the pre-run, e = theta + 1 - phi:
//   0.0262 (phi - theta) + e lambdaS^((1-phi)/e) lambdaX^(theta/e)
double DegreeDayConductivity(double phi, double theta, double lambdaS, double lambdaX);

// Mean ground temperature [degC] from thawing and freezing degree days
// [K d] over Y years of 365 days, the n-factors and the conductivities of
// unfrozen and frozen soil:
//   Tg = (lu nt TDD - lf nf FDD) / (lf 365 Y)
double MeanGroundTemperature(double thawingDegreeDays, double freezingDegreeDays, double nThawing,
                             double nFreezing, double lambdaUnfrozen, double lambdaFrozen, double years);

}  // namespace unsatzon
