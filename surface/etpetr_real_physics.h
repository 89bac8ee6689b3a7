#pragma once
// Kernels of snow evaporation and of the real-evapotranspiration total.
// Water in mm per step.

namespace etpetr {

// Evaporation from a store by a potential: takes x = min(store, potential)
// (nothing when either is not positive), lowers both by x and returns x.
double TakeFromStore(double& store, double& potential);

// Total real evapotranspiration of a cell. With interception:
// interception evaporation + snow evaporation + soil evaporation + the sum of
// the layers' transpiration; without it the total found so far plus the snow
// evaporation.
double RealEvapotranspirationTotal(bool withInterception, double interceptionEvaporation, double snowEvaporation,
                                   double realEvaporation, double transpirationSum, double totalSoFar);

// The cell's value of the total for the statistics: the ice-free share
// (1 - g) of the total plus the glacier share g of the snow evaporation on
// the glacier.
double GlacierWeightedTotal(double total, double glacierFraction, double glacierSnowEvaporation);

}  // namespace etpetr
