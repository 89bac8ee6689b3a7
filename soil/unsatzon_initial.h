#pragma once
// Kernels of the soil model's initial state for one column: the layer that
// holds the groundwater table, water contents in hydrostatic equilibrium with
// it, the hydraulic heads, the saturated block that marks the groundwater
// level, the tile-drainage layer and the mean water content of the root zone.
//
// Layers run from 1 (top) to L (bottom); per-layer arrays have L + 1 entries.
// `bottom[l]` is the elevation of the bottom of layer l [m], `bottom[0]` the
// surface; thicknesses, depths and suctions in [m], water contents [m3/m3].

#include <span>

class SoilType;

namespace unsatzon {

// Groundwater layer of a cold start from "ini_gw_level" (> 0):
//   k = floor((L - 1) / ini) + 1, at most L.
int ColdStartGroundwaterLayer(int layers, double iniGwLevel);

// Groundwater layer from the table position d [m] (negative below the
// surface): the number of layers whose bottom lies above the table, 0 when it
// lies in layer 1, L below the profile.
int GroundwaterLayerFromDistance(std::span<const double> bottom, int layers, double distance);

// Water contents theta[1..L] with the table at the middle of layer k + 1
// (the bottom of the profile when k = L): layers 1..k in hydrostatic
// equilibrium, s_l = centre_l - reference, layers k + 1..L saturated; theta[0]
// is theta_sat of layer 1.
void HydrostaticWaterContent(const SoilType& soil, std::span<const double> bottom, std::span<const double> thickness,
                             int layers, int k, std::span<double> theta);

// Hydraulic heads: head[0] the surface, head[l] = centre of layer l minus the
// suction at theta[l].
void HydraulicHeadsFromTheta(const SoilType& soil, std::span<const double> bottom, int layers,
                             std::span<const double> theta, std::span<double> head);

// The saturated block that reaches down to layer L - 1 (a layer is saturated
// above 0.9995 theta_sat). `level` gets its top layer, `thetaAbove` the water
// content of the layer above it and, with `setDistance`, `distance` the
// (negative) depth of the block's top. A column without such a block gets
// level L, the layer on whose bottom the table lies.
struct GroundwaterScan {
    int level = 0;
    double thetaAbove = 0;
    double distance = 0;
};
GroundwaterScan ScanGroundwaterLevel(std::span<const double> theta, std::span<const double> thetaSat,
                                     std::span<const double> bottom, int layers, bool setDistance);

// Layer holding the drains at `drainageDepth` [m] (0.01 m above it counts):
// 0 when that lies at or above the surface, else the first layer whose bottom
// is at or below it, at most L.
int DrainageLayer(std::span<const double> bottom, int layers, double drainageDepth);

// Depth-weighted mean water content over 0..R (R = root depth [m], 9999 = the
// whole profile, limited to the profile depth minus 1e-8): theta[1] for R <= 0,
// 1 when the depth is not above 1e-8.
double RootZoneWaterContent(std::span<const double> theta, std::span<const double> thickness, int layers,
                            double rootDepth);

}  // namespace unsatzon
