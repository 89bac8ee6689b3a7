#pragma once
// Kernels of the soil-column cell step around the solver: root water uptake
// and soil evaporation, macropore infiltration, the baseflow law, baseflow
// supplied from below or drained at the groundwater table, the position of
// the table inside its layer, the recharge, and the control of iteration
// steps and passes.
//
// Column conventions are those of unsatzon_column.h: layers 1 (top) to n,
// per-layer arrays of n + 1 entries, rates in [m/s] (positive upward where a
// direction matters), lengths and elevations in [m], water contents
// [m3/m3], step lengths in [s]. A "scale" is 1000 times the step length, so
// that a rate times the scale is mm of water.

#include <span>

class SoilType;

namespace unsatzon {

constexpr double FieldCapacitySuctionM = 3.45;  // [m]
constexpr double SaturatedShare = 0.9995;       // a layer above this share of theta_sat counts as saturated

// Land-use parameters of one vegetation layer.
struct RootParameters {
    double rootDist = 0;      // "RootDist": shape of the root density
    double hReduDry = 0;      // "HReduDry" [m of suction]
    double tReduWet = 1;      // "TReduWet": share of theta_sat
    double limitReduWet = 1;  // "LimitReduWet": reduction at saturation
};

// Distributes the transpiration rate Tp [m/s] of one vegetation layer with
// cover fraction cf over the layers of its root depth R [m] (raised to the
// first layer's thickness and written back), with the root density
//   w(z) = (1 - z/R)(1 + a z/R)
// at the middle depth z of each layer's rooted part, reduces the uptake of a
// layer that is too wet or too dry (a reduced weight moves to the next
// deeper layer above the groundwater layer, which can gain at most twice its
// own weight) and turns the lost share together with the potential soil
// evaporation rate into soil evaporation from the top layers down to
// "EvapMaxDepth". Fills rootFraction, rootWeight, layerTranspiration and
// layerEvaporation, adds to layerEtr (element 0 the evaporation). Returns
// the number of root layers. Changes no water content.
int RootWaterUptake(const SoilType& soil, const RootParameters& p, double evaporationRate, double dt,
                    double evapMaxDepth, double& rootDepth, double cover, double transpirationRate, int layers,
                    std::span<const double> layerThickness, std::span<const double> thetaSat,
                    std::span<const double> thetaRes, std::span<const double> theta,
                    std::span<const double> boundaryElevation, std::span<double> rootFraction,
                    std::span<double> layerTranspiration, std::span<double> layerEtr, std::span<double> rootWeight,
                    std::span<double> layerEvaporation, int groundwaterLayer);

// Takes the uptake of root layers 1..m from the water contents. A root layer
// at or above the groundwater layer g gives its own water, no further than
// to 0 (layer 1) or theta_res; a root layer below g draws from a source layer
// that starts at g and moves down, each giving no more than its water above
// field capacity (3.45 m suction). Moves the rates drawn from a source layer
// to that layer in layerTranspiration. Returns the uptake taken [m/s, as a
// depth rate over the column]; demand nobody serves stays in
// layerTranspiration without changing a water content.
double ApplyRootUptake(const SoilType& soil, int rootLayers, int groundwaterLayer, int layers, double dt,
                       std::span<const double> layerThickness, std::span<const double> thetaRes,
                       std::span<double> thetaNew, std::span<double> layerTranspiration);

// Takes the soil evaporation from layers 1, 2, ... while their rate is above
// 0, no deeper than the root layers. Returns the evaporation taken [m/s];
// `deepest` receives the deepest layer it came from (unchanged when none).
double ApplySoilEvaporation(int rootLayers, double dt, std::span<const double> layerThickness,
                            std::span<const double> layerEvaporation, std::span<double> thetaNew, int& deepest);

// Lets the part of the infiltration rate I [m/s] above the soil's threshold,
// at most its macropore capacity, bypass the matrix into the layers of the
// macropore zone, filling the deepest first. Adds the water to theta, lowers
// I by it and returns it [mm]; `scale` = 1000 dt.
double MacroporeInfiltration(double& infiltration, const SoilType& soil, int layers,
                             std::span<const double> layerThickness, std::span<double> macroporeCapacity,
                             std::span<const double> thetaSat, double scale, std::span<double> theta,
                             std::span<double> macroporeInflow);

// Baseflow law without a groundwater model:
//   Q = Q0 exp(d kelsqlat)
// with d the table's position below the surface [m] (0 or negative). An
// infinite kelsqlat (a constant of 0 in the section) gives Q0 at the surface
// and 0 below it.
double BaseflowLaw(double q0, double distance, double kelsqlat);

// Fills the layers from the lowest unsaturated one upward to saturation with
// the rate Y [m/s] supplied from below; records each layer's share in
// capillarySupply, and what no layer can take in capillarySupply[0].
void SupplyFromBelow(double supply, int layers, double dt, std::span<const double> layerThickness,
                     std::span<const double> thetaSat, std::span<double> thetaNew, std::span<double> capillarySupply);

// The groundwater layer: the first layer from the bottom that is not
// saturated; 1 when all are.
int GroundwaterLayerOf(int layers, std::span<const double> thetaSat, std::span<const double> thetaNew);

// Drains the baseflow rate Y [m/s] from the groundwater layer g downward,
// each layer giving its water above field capacity. Every layer that does
// not give the whole rest moves g down by one (at most to n). Records each
// layer's share in baseflowWithdrawal; returns the rate no layer could give.
double DrainBaseflow(const SoilType& soil, double baseflow, int& groundwaterLayer, int layers, double dt,
                     std::span<const double> layerThickness, std::span<double> thetaNew,
                     std::span<double> baseflowWithdrawal);

// With the groundwater model on, what it moved on from its first layer has
// left the column whether or not the column held water above field capacity:
// the rest Y [m/s] that the saturated zone could not give comes out of the
// water above the residual content, deepest layer first. Records each
// layer's share in baseflowWithdrawal; returns what even that could not give.
double DrainBelowFieldCapacity(double rest, int layers, double dt, std::span<const double> layerThickness,
                               std::span<const double> thetaRes, std::span<double> thetaNew,
                               std::span<double> baseflowWithdrawal);

// New elevation of the groundwater table [m] inside layer g from its water
// content and the content above the table (`thetaInGwLevel`): the surface
// when layer 1 holds the table and is saturated.
double GroundwaterTableElevation(int g, std::span<const double> boundaryElevation, std::span<const double> thetaNew,
                                 std::span<const double> thetaSat, std::span<const double> layerThickness,
                                 double thetaInGwLevel);

// Recharge of the saturated zone in one step [mm]: the change of storage
// when the table moves from H0 to H1 inside layer k plus the outflow of the
// saturated zone (baseflow + capillarySupply[0] + river exchange [m/s])
// times `scale`. With an external table, the flux into layer k instead.
double GroundwaterRecharge(bool externalTable, int k, double h0, double h1, double scale,
                           std::span<const double> boundaryElevation, std::span<const double> thetaNew,
                           std::span<const double> thetaSat, std::span<const double> thetaStart,
                           std::span<const double> layerThickness, std::span<const double> interfaceFlux,
                           double saturatedOutflow);

// Iteration steps of a sub-step of T seconds for the dynamic method: the
// sub-step divided by the larger of the minimum step and the shortest travel
// time through a layer [s] (T when there is none), rounded up; at least 1.
int DynamicIterationSteps(double subStepSeconds, double minimumStep, double shortestTravelTime);

// Brings the iteration steps U and the heat steps s of a sub-step into line;
// returns the heat steps per iteration step.
int ReconcileHeatSteps(int& iterationSteps, int& heatSteps);

// Passes of the iteration: `pass(p)` runs pass p (from 1) and returns its
// largest change of a water content. The passes stop when the change is not
// above the tolerance, which is maxError and 5 maxError from pass 21 on, or
// after maxIterations passes.
struct IterationResult {
    int passes = 0;
    double lastChange = 0;
};
template <typename Pass>
IterationResult Iterate(double maxError, double maxIterations, Pass pass) {
    IterationResult r;
    double tolerance = maxError;
    do {
        ++r.passes;
        if (r.passes == 21) tolerance = 5 * maxError;
        r.lastChange = pass(r.passes);
    } while (r.lastChange > tolerance && r.passes < maxIterations);
    return r;
}

// Iterations with more passes than this are reported.
constexpr int ReportedPasses = 100;

}  // namespace unsatzon
