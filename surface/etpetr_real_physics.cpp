#include "surface/etpetr_real_physics.h"

#include <algorithm>

namespace etpetr {

double TakeFromStore(double& store, double& potential) {
    if (!(store > 0) || !(potential > 0)) return 0;
    const double x = std::min(store, potential);
    store -= x;
    potential -= x;
    return x;
}

double RealEvapotranspirationTotal(bool withInterception, double interceptionEvaporation, double snowEvaporation,
                                   double realEvaporation, double transpirationSum, double totalSoFar) {
    if (withInterception) return interceptionEvaporation + snowEvaporation + realEvaporation + transpirationSum;
    return totalSoFar + snowEvaporation;
}

double GlacierWeightedTotal(double total, double glacierFraction, double glacierSnowEvaporation) {
    return (1 - glacierFraction) * total + glacierFraction * glacierSnowEvaporation;
}

}  // namespace etpetr
