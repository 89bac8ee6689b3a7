// Lookups in the hydraulic and freezing tables of a soil type. They run for
// every cell, layer and sub-step from parallel loops: they read the record
// only, never allocate, and keep every index inside its table whatever the
// input (a NaN input gives a NaN result).

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "parameters/soil.h"
#include "parameters/soil_physics.h"

namespace {

constexpr int N = SoilType::TablePoints;
constexpr double NotANumber = std::numeric_limits<double>::quiet_NaN();

// Index j (1..29) with table[j] > x and table[j+1] <= x in a table that falls
// from entry 1 to entry 30.
int SearchFalling(const double* table, double x) {
    int lo = 1, hi = N;
    while (lo <= hi) {
        const int probe = lo + (hi - lo) / 2;
        if (x >= table[probe]) {
            hi = probe - 1;
        } else {
            lo = probe + 1;
        }
    }
    return std::clamp(hi, 1, N - 1);
}

// Index j (1..29) with axis[j] < x and axis[j+1] >= x on the rising axis.
int SearchRising(const double* axis, double x) {
    int lo = 1, hi = N;
    while (lo <= hi) {
        const int probe = lo + (hi - lo) / 2;
        if (axis[probe] >= x) {
            hi = probe - 1;
        } else {
            lo = probe + 1;
        }
    }
    return std::clamp(hi, 1, N - 1);
}

[[noreturn]] void FreezingTablesMissing(int code, int layer) {
    std::fprintf(stderr, "%s:%d: freezing tables of soil type %d, layer %d are used before they were made\n",
                 __FILE__, __LINE__, code, layer);
    std::abort();
}

}  // namespace

double SoilType::SuctionFromTheta(int layer, double theta) const {
    CheckLayer(layer, __FILE__, __LINE__);
    const double* w = &WaterContentSuction[static_cast<size_t>(layer) * Row];
    if (theta <= w[N]) return SuctionAxis[N];
    if (theta >= w[1]) return 0;
    const int j = SearchFalling(w, theta);
    const double weight = (theta - w[j + 1]) / (w[j] - w[j + 1]);
    return SuctionAxis[j] * weight + SuctionAxis[j + 1] * (1 - weight);
}

double SoilType::KrelFromTheta(int layer, double a, double b) const {
    CheckLayer(layer, __FILE__, __LINE__);
    const double* v = &WaterContentConduct[static_cast<size_t>(layer) * Row];
    const double* k = &RelativeConduct[static_cast<size_t>(layer) * Row];
    const double theta = (std::isnan(a) || std::isnan(b)) ? a : std::min(a, b);
    if (theta < v[N]) return k[N];
    if (theta >= v[1]) return 1;
    const int j = SearchFalling(v, theta);
    const double weight = (theta - v[j + 1]) / (v[j] - v[j + 1]);
    return k[j] * weight + k[j + 1] * (1 - weight);
}

double SoilType::ThetaFromSuction(int layer, double suctionHead) const {
    CheckLayer(layer, __FILE__, __LINE__);
    if (suctionHead == FieldCapacitySuction) return FieldCapacityContent[static_cast<size_t>(layer)];
    return ThetaFromSuctionInTable(layer, suctionHead);
}

double SoilType::ThetaFromSuctionInTable(int layer, double suctionHead) const {
    const double* w = &WaterContentSuction[static_cast<size_t>(layer) * Row];
    if (suctionHead >= SuctionAxis[N]) return w[N];
    if (suctionHead <= SuctionAxis[1]) return w[1];
    const int j = SearchRising(SuctionAxis, suctionHead);
    const double gap = SuctionAxis[j + 1] - SuctionAxis[j];
    // Points closer than 1 mm are not interpolated.
    if (gap < 0.001) return w[j];
    const double weight = (suctionHead - SuctionAxis[j]) / gap;
    return w[j] * (1 - weight) + w[j + 1] * weight;
}

SoilType::FreezingPlace SoilType::FindFreezingPlace(int layer, double temperature, double theta, size_t& row,
                                                   int& k, double& fraction) const {
    if (FreezingMade[layer] == 0) FreezingTablesMissing(Code, layer);
    const int nf = FreezingSteps;
    row = static_cast<size_t>(layer) * FreezingRow();
    const double* z = &FreezingShift[row];

    // Shift of the freezing point with the relative saturation of the layer.
    const double r = (theta - theta_res[layer]) / (theta_sat[layer] - theta_res[layer]) * nf;
    if (std::isnan(r)) return FreezingPlace::NotANumber;
    double shift;
    if (r <= -1) {  // truncated toward zero below 0
        shift = std::fabs(z[0]);
    } else if (r >= nf) {
        shift = std::fabs(z[nf]);
    } else {
        const int q = static_cast<int>(r);
        const double part = r - q;
        shift = std::fabs(z[q + 1] * part + z[q] * (1 - part));
    }

    const double shifted = temperature + shift;
    if (shifted >= 0) return FreezingPlace::Unfrozen;
    if (std::isnan(shifted)) return FreezingPlace::NotANumber;
    const double p = shifted * nf / FreezingMinTemperature;
    const double whole = std::trunc(p);
    fraction = p - whole;
    if (whole >= nf) {
        k = nf - 1;
    } else if (whole < 0) {
        k = 0;
    } else {
        k = static_cast<int>(whole);
    }
    return FreezingPlace::Table;
}

double SoilType::FreezingLookup(const std::vector<double>& table, int layer, double temperature, double theta,
                                double unfrozenValue) const {
    size_t row = 0;
    int k = 0;
    double fraction = 0;
    switch (FindFreezingPlace(layer, temperature, theta, row, k, fraction)) {
    case FreezingPlace::NotANumber:
        return NotANumber;
    case FreezingPlace::Unfrozen:
        return unfrozenValue;
    case FreezingPlace::Table:
        break;
    }
    const double* t = &table[row];
    return t[k + 1] * fraction + t[k] * (1 - fraction);
}

void SoilType::CalcUnfrozenFraction(double* out, const double* temperature, const double* theta) const {
    if (!temperature) return;
    if (LayerCount > 0) CheckLayer(LayerCount, __FILE__, __LINE__);
    for (int l = 1; l <= LayerCount; ++l) {
        const double t = temperature[l];
        if (t > 0) {
            out[l] = 1;
        } else if (t <= FreezingMinTemperature) {
            out[l] = 0;
        } else {
            out[l] = FreezingLookup(UnfrozenFraction, l, t, theta[l], 1);
        }
    }
}

void SoilType::CalcFreezingSlope(double* out, const double* temperature, const double* theta) const {
    if (!temperature) return;
    if (LayerCount > 0) CheckLayer(LayerCount, __FILE__, __LINE__);
    for (int l = 1; l <= LayerCount; ++l) {
        const double t = temperature[l];
        if (t > 0 || t < FreezingMinTemperature) {
            out[l] = 0;
        } else {
            out[l] = FreezingLookup(UnfrozenSlope, l, t, theta[l], 0);
        }
    }
}

void SoilType::CalcUnfrozenFractionAndSlope(double* fraction, double* slope, const double* temperature,
                                            const double* theta) const {
    if (!temperature) return;
    if (LayerCount > 0) CheckLayer(LayerCount, __FILE__, __LINE__);
    for (int l = 1; l <= LayerCount; ++l) {
        const double t = temperature[l];
        if (t > 0) {
            fraction[l] = 1;
            slope[l] = 0;
            continue;
        }
        // The fraction is 0 from the coldest temperature of the tables down,
        // the slope only below it.
        const bool fractionLooked = !(t <= FreezingMinTemperature);
        const bool slopeLooked = !(t < FreezingMinTemperature);
        if (!fractionLooked) fraction[l] = 0;
        if (!slopeLooked) slope[l] = 0;
        if (!fractionLooked && !slopeLooked) continue;
        size_t row = 0;
        int k = 0;
        double w = 0;
        switch (FindFreezingPlace(l, t, theta[l], row, k, w)) {
        case FreezingPlace::NotANumber:
            if (fractionLooked) fraction[l] = NotANumber;
            if (slopeLooked) slope[l] = NotANumber;
            break;
        case FreezingPlace::Unfrozen:
            if (fractionLooked) fraction[l] = 1;
            if (slopeLooked) slope[l] = 0;
            break;
        case FreezingPlace::Table: {
            const double* f = &UnfrozenFraction[row];
            const double* s = &UnfrozenSlope[row];
            if (fractionLooked) fraction[l] = f[k + 1] * w + f[k] * (1 - w);
            if (slopeLooked) slope[l] = s[k + 1] * w + s[k] * (1 - w);
            break;
        }
        }
    }
}

void SoilType::CalcHeatCapacity(const double* temperature, double* out, const double* unfrozenFraction,
                                const double* addend, const double* theta, double waterDensity,
                                double waterCapacity, double iceCapacity0, double iceCapacity20) const {
    if (LayerCount > 0) CheckLayer(LayerCount, __FILE__, __LINE__);
    for (int l = 1; l <= LayerCount; ++l) {
        const double ice = soilphysics::IceHeatCapacity(temperature[l], iceCapacity0, iceCapacity20);
        out[l] = soilphysics::VolumetricHeatCapacity(theta[l], waterDensity, unfrozenFraction[l], waterCapacity, ice,
                                                     DryDensity[l], DryHeatCapacity[l], addend[l]);
    }
}
