#include "surface/interzep_physics.h"

#include <algorithm>

namespace interzep {

double Capacity(double intercepCap, double siDicke, double leafAreaIndex) {
    const double perLeafArea = intercepCap >= 0 ? intercepCap : siDicke;
    return std::max(0.0, perLeafArea * leafAreaIndex);
}

FillResult FillStorage(double input, double coverage, double storage, double capacity) {
    const double v = std::clamp(coverage, 0.0, 1.0);
    FillResult out;
    out.throughfallBefore = (1 - v) * input;
    out.throughfall = out.throughfallBefore;
    out.storage = storage + v * input;
    if (out.storage > capacity) {
        out.overflow = out.storage - capacity;
        out.throughfall += out.overflow;
        out.storage = capacity;
    }
    return out;
}

EvaporationResult EvaporateByTranspiration(double storage, double potTranspiration) {
    const double tp = std::max(0.0, potTranspiration);
    EvaporationResult out;
    if (tp >= storage) {
        out.evaporation = storage;
        out.storage = 0;
        out.potTranspiration = tp - storage;
    } else {
        out.evaporation = tp;
        out.storage = storage - tp;
        out.potTranspiration = 0;
    }
    out.totalReduction = out.evaporation;
    return out;
}

EvaporationResult EvaporateByInterception(double storage, double potInterception, double potTranspiration) {
    const double ep = std::max(0.0, potInterception);
    EvaporationResult out;
    if (ep >= storage) {
        out.evaporation = storage;
        out.storage = 0;
    } else {
        out.evaporation = ep;
        out.storage = storage - ep;
    }
    const double tp = std::max(0.0, potTranspiration);
    const double t = std::min(tp, out.evaporation);
    out.potTranspiration = tp - t;
    out.totalReduction = t;
    return out;
}

}  // namespace interzep
