#pragma once
// Numerical kernels of the soil-water solver for one soil column: hydraulic
// heads, interface conductivities and Darcy fluxes, the flux limiter, the
// redistribution of water that would leave a layer above saturation or below
// its residual content, the update of the water contents and the mean water
// content of a depth interval.
//
// Layers run from 1 (top) to n (bottom); every per-layer array has n + 1
// entries, index 0 used only where said. Fluxes are in [m/s], positive
// upward: interfaceFlux[0] crosses the soil surface, interfaceFlux[L] the
// boundary between layers L and L + 1, interfaceFlux[n] the column bottom.
// Lengths, elevations, heads and suctions in [m], water contents in [m3/m3],
// time steps in [s]. The kernels keep no state, touch nothing but their
// arguments and only read the soil table, so different columns can be solved
// concurrently.

#include <span>

class SoilType;

namespace unsatzon {

// The work arrays of one column (all n + 1 long), owned by the cell step.
struct SoilColumn {
    int LayerCount = 0;        // n
    int GroundwaterLayer = 0;  // g: the layer holding the groundwater table
    int InputDepthLayer = 1;   // deepest layer the step's soil evaporation came from (>= 1)

    std::span<const double> thetaStart;         // content at the start of the step
    std::span<double> thetaIter;                // averaged iterate heads and conductivities use
    std::span<double> thetaNew;                 // newest raw iterate (the stored content)
    std::span<double> thetaTrial;               // scratch of the redistribution
    std::span<double> interfaceFlux;            // [m/s], positive upward
    std::span<double> layerInterflow;           // lateral outflow per layer [m/s], >= 0
    std::span<double> riverInfiltration;        // inflow from a river per layer [m/s]
    std::span<double> riverExfiltration;        // outflow into a river per layer [m/s]
    std::span<const double> layerThickness;     // [m]
    std::span<const double> boundaryElevation;  // [0] surface, [L] lower boundary of layer L [m]
    std::span<double> hydraulicHead;            // [m]
    std::span<double> suctionStart;             // suction at thetaStart [m]
    std::span<const double> unfrozenFraction;   // liquid fraction 0..1; empty = all liquid
    std::span<const double> thetaSat;
    std::span<const double> thetaRes;

    double riverInfiltrationTotal = 0;  // column sums of the river exchange [m/s]
    double riverExfiltrationTotal = 0;
    double drainageFlux = 0;            // tile-drainage outflow of the column [m/s]

    // Liquid fraction of layer j (1 without soil heat).
    double Unfrozen(int j) const { return unfrozenFraction.empty() ? 1.0 : unfrozenFraction[j]; }
};

// Cell values and model settings the flux computation needs.
struct FluxSettings {
    double groundwaterDistance = 0;  // table elevation minus surface elevation [m], <= 0
    bool permafrost = false;         // a thaw depth is given for the cell
    double permafrostThawDepth = 0;  // [m]
    double permafrostKsat = 1e-9;    // conductivity below the thaw depth [m/s]
    int clayLayer = 0;               // layer holding the top of the clay, 0 = none
    double clayKsat = 0;             // "k_sat. for clay" [m/s]
    double drainageDensity = 0;      // of the cell's subbasin [1/m]
    double tanBeta = 0;              // the cell's slope tangent
    bool drainage = false;           // the drainage grids exist
    int drainageLevel = 0;           // layer of the drain
    double drainSpacing = 0;         // distance of the drains [m]; 0 = no drain
    double cellSize = 0;             // [m]
};

// Settings of the river coupling the redistribution needs.
struct RiverSettings {
    bool groundwaterModelOn = false;
    int surfaceWaterInteraction = 0;  // 0, 1 or 2
};

// --- Computation ranges ------------------------------------------------------
// Moves `start` down while the next layer exchanges water with a river; never
// past layer n.
int ExtendForRiver(const SoilColumn& c, int start);
// Last layer whose head is computed (never n; 0 for n = 1).
int HeadsLastLayer(const SoilColumn& c);
// Last interface whose flux is computed (at most n - 1).
int FluxesLastInterface(const SoilColumn& c);
// Lowest layer the redistribution visits.
int RedistributionLastLayer(const SoilColumn& c);
// Last layer the theta update writes: its own range, reaching down to every
// layer the redistribution may change a flux of.
int UpdateLastLayer(const SoilColumn& c);

// --- Kernels -------------------------------------------------------------------
// Darcy flux [m/s] between two layer centres, positive upward:
//   q = k (hUpper - hLower) / (-(dzUpper + dzLower) / 2)
// k [m/s], heads and thicknesses [m]. No distance gives no flux.
double DarcyFlux(double k, double hUpper, double hLower, double dzUpper, double dzLower);

// Hydraulic heads of the layers of the column's head range from the mean of
// the suctions at thetaStart and thetaIter. With pass 0 the suctions at
// thetaStart are computed first. The head of layer n keeps its stored value.
void HydraulicHeads(const SoilType& soil, SoilColumn& c, int pass, double groundwaterDistance);

// Conductivity [m/s] of interface L (upper layer L, lower L + 1) between
// unsaturated layers from the relative conductivities k1, k2 [-] of the two
// layers, their saturated conductivities [m/s] and thicknesses [m]: the ratio
// k1 / k2 is bounded by maxRatio; above g - 1 the larger of the two, at g - 1
// and g the thickness-weighted harmonic mean
//   K = K1 K2 (dz1 + dz2) / (K2 dz1 + K1 dz2).
double InterfaceConductivity(double k1, double k2, double ksatUpper, double ksatLower, double dzUpper,
                             double dzLower, double maxRatio, bool harmonic);

// Keeps one step of flux q [m/s] across interface L from inverting the head
// difference of layers L and L + 1 (both heads read from layer L's retention
// curve) and an upward flux from filling layer L above saturation. May scale
// layerInterflow[L] in place with the same factor as the flux. Returns the
// limited flux [m/s].
double LimitInterfaceFlux(const SoilType& soil, const SoilColumn& c, int L, std::span<double> layerInterflow,
                          double thetaUpper, double thetaLower, double fluxAbove, double flux, double fluxBelow,
                          double dt);

// Fluxes of one pass: the surface flux from the infiltration rate [m/s,
// positive downward], the interface fluxes, the lateral outflow of each
// layer, the tile drainage, then the limiter from the top down. The river
// arrays and totals must already hold the pass's river exchange.
void ComputeFluxes(const SoilType& soil, SoilColumn& c, const FluxSettings& s, double surfaceInfiltration,
                   double dt);

// Moves the water that would fill a layer above saturation or drain it below
// its residual content to its neighbours, the river or its interflow, in up
// to `maxSweeps` bottom-up sweeps. Every change is to a flux the theta update
// uses, so the column's water is conserved.
void RedistributeExcessWater(SoilColumn& c, const RiverSettings& river, int maxSweeps, double dt);

// The water contents of pass `pass` (1 for the first) from the fluxes:
//   theta = thetaStart + (q[j] - q[j-1] - I - R + S) dt / dz
// thetaNew takes the raw value. thetaIter takes, in passes 1 to 3, the mean
// of the previous and the new raw value, from pass 4 on the running mean
// (m thetaIter + theta) / (m + 1) with m = pass - 3, kept in `passCount`.
// Returns the largest change of a layer's content against the previous raw
// iterate (0 for an empty range).
double UpdateTheta(SoilColumn& c, int pass, double dt, int& passCount);

// Mode 1: the water [m] in the depth interval [top, bottom] below the surface
// [m]; other modes: the thickness-weighted mean of theta / thetaSat over it.
// bottom 9999 is the whole profile. An empty interval gives 1; bottom <= 0 or
// a top above the surface gives `nodata`.
double MeanWaterContent(std::span<const double> layerThickness, std::span<const double> theta,
                        std::span<const double> thetaSat, int layerCount, int mode, double top, double bottom,
                        double nodata);

}  // namespace unsatzon
