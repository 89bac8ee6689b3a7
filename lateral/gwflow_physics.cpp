#include "lateral/gwflow_physics.h"

#include <algorithm>
#include <cmath>

namespace gwflow {

double CellTransmissivity(double head, double top, double mEffective, double mFull, double conductivity,
                          double glacier, bool inclusive) {
    if (glacier > 0) return 0;
    const bool partial = inclusive ? head <= top + 0.01 : head < top + 0.01;
    return partial ? (head - top + mEffective) * conductivity : mFull * conductivity;
}

double FaceTransmissivity(const FaceSide& cell, const FaceSide& neighbour, bool neighbourUsable) {
    const double tc = cell.transmissivity;
    const double tn = neighbourUsable ? neighbour.transmissivity : 0.0;
    if (tc > 0 && tn > 0) return 2 * tc * tn / (tc + tn);
    if (tc <= 0 && tn > 0) {
        return (neighbour.head > cell.head && cell.conductivity > 0 && cell.glacier == 0) ? tn : 0.0;
    }
    if (tn <= 0 && tc > 0) {
        return (neighbourUsable && cell.head > neighbour.head && neighbour.conductivity > 0 && neighbour.glacier == 0)
                   ? tc
                   : 0.0;
    }
    return 0;
}

double Leakage(double headUpper, double headLower, double topLower, double kolmation) {
    double d = 0;
    if (headUpper < headLower || topLower <= headLower) {
        d = headLower - headUpper;
    } else {
        d = topLower - headUpper;
        if (d > 0) d = 0;
    }
    return std::clamp(d, -1.0, 1.0) * kolmation;
}

double GaussSeidelValue(const CellEquation& e, double current, bool* solvable) {
    const double a = e.alpha;
    double sumC = 0, weighted = 0;
    for (int x = 0; x < 4; ++x) {
        sumC += e.conductance[x];
        weighted += e.conductance[x] * ((1 - a) * e.startHead[x] + a * e.currentHead[x]);
    }
    const double q = e.storage / e.dt * e.ownStart + e.leakage;
    const double denominator = a * sumC + e.storage * e.area / e.dt;
    if (!(denominator != 0) || !std::isfinite(denominator)) {
        *solvable = false;
        return current;
    }
    *solvable = true;
    return ((q + e.inflow) * e.area + weighted - (1 - a) * e.ownStart * sumC) / denominator;
}

double AdaptiveFactor(double gaussSeidel, double current, double previous) {
    if (previous == current) return 1;
    double w = (gaussSeidel - current) / (current - previous) + 1;
    if (w <= 0) w = 1;
    if (w > 2) w = 2;
    return w;
}

double FaceConductance(double transmissivity, double widthA, double widthB, double distanceA, double distanceB) {
    if (transmissivity == 0) return 0.0;
    const double width = (widthA + widthB) / 2, distance = (distanceA + distanceB) / 2;
    return width / distance * transmissivity;
}

double BalanceResidual(double head, double startHead, double storage, double netInflowVolume, double area) {
    return ((head - startHead) * storage - netInflowVolume / area) * 1000;
}

double MixedConcentration(double c0, double volume, double loads, double total) {
    return total > 0 ? (c0 * volume + loads) / total : 0.0;
}

double StartHead(double elevation, double distance, bool pondsUsed, double ponding, bool surfaceStorageUsed,
                 double surfaceStorage) {
    const bool atSurface = std::fabs(distance) < 0.001;
    if (pondsUsed && atSurface) return elevation + distance + ponding / 1000;
    if (surfaceStorageUsed && surfaceStorage > 0 && atSurface) return elevation + distance + surfaceStorage / 1000;
    return elevation + distance;
}

std::string OldHeadFileName(const std::string& headFileName) {
    const size_t slash = headFileName.rfind('/');
    const size_t from = slash == std::string::npos ? 0 : slash + 1;
    const size_t point = headFileName.rfind('.');
    if (point == std::string::npos || point < from) return headFileName + "_old";
    return headFileName.substr(0, point) + "_old" + headFileName.substr(point);
}

int64_t ControlPointCapacity(int layers) {
    const int64_t perRecord = 48 * static_cast<int64_t>(layers) + 40;
    const int64_t capacity = 2097152 / perRecord;
    return capacity > 0 ? capacity : 1;
}

double DecayFactor(double intervalMinutes, int subSteps, double halfLifeDays) {
    return std::exp(-(intervalMinutes / subSteps / 60 / 24) / (1.442695041111 * halfLifeDays));
}

}  // namespace gwflow
