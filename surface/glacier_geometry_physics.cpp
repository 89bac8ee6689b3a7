// The glacier geometry kernels.

#include "surface/glacier_geometry_physics.h"

#include <cmath>

namespace glaciergeom {

double VolumeFromArea(double area, double scaling, double exponent) {
    return scaling * std::pow(FlooredArea(area), exponent);
}

double AreaFromVolume(double volume, double scaling, double exponent) {
    return std::pow(FlooredVolume(volume) / scaling, 1.0 / exponent);
}

double VolumeChange(double balanceChange, double fraction, double cellSize, double iceDensityRatio) {
    return balanceChange / iceDensityRatio * fraction / 1000 * cellSize * cellSize / 1e6;
}

double CellsToChange(double area, double oldArea, double cellSize) {
    return (area - oldArea) * 1e6 / (cellSize * cellSize);
}

double CellsPerIteration(double w, const std::vector<int>& changeable, int extraWeight) {
    const int n = static_cast<int>(changeable.size());
    double visits = 0;
    for (int k = 0; k < n; ++k) visits += static_cast<double>(changeable[static_cast<size_t>(k)]) * (n - k);
    if (n > 0) visits += static_cast<double>(extraWeight) * changeable[0] * n;
    return visits > 0 ? w / visits : 0.0;
}

void ShiftFirnLevels(double* firn, int levels, double newFirn, double noData) {
    for (int k = levels - 1; k >= 1; --k) firn[k + 1] = firn[k] == noData ? 0.0 : firn[k];
    firn[1] = newFirn;
    double total = 0;
    for (int k = 1; k <= levels; ++k) total += firn[k];
    firn[0] = total;
}

void ShareFirnLevels(double* firn, int levels, double neighbourTotal) {
    const double share = neighbourTotal / levels;
    double total = 0;
    for (int k = 1; k <= levels; ++k) {
        firn[k] = share;
        total += share;
    }
    firn[0] = total;
}

}  // namespace glaciergeom
