#include "forcing/expokorr_physics.h"

#include <algorithm>
#include <atomic>
#include <cmath>

#include "framework/solar_geometry.h"

namespace expokorr {

SubStepSun SunOfSubStep(double start, double end, double sunrise, double sunset) {
    SubStepSun sun;
    const double length = end - start;
    if (!(length > 0)) return sun;  // no sub-step at all: dark
    const solar::DarkHours dark = solar::DarkHoursOfInterval(start, end, sunrise, sunset);
    sun.BeforeSunrise = dark.BeforeSunrise;
    sun.AfterSunset = dark.AfterSunset;
    double fraction = (dark.BeforeSunrise + dark.AfterSunset) / length;
    if (fraction > 1) fraction -= 1;
    sun.DarkFraction = fraction;
    sun.Night = fraction > NightFraction;
    sun.SunFraction = sun.Night ? 0 : 1 - fraction;
    sun.SunTime = 0.5 * (start + end) + (dark.BeforeSunrise - dark.AfterSunset) / 2;
    return sun;
}

double BeamEnergy(double length, double sunFraction, double sunElevation) {
    if (!(sunElevation > MinimumSunElevation)) return 0;
    const double cosZenith = std::cos(0.5 * solar::Pi - sunElevation);
    if (!(cosZenith > 0)) return 0;
    return length * sunFraction * SolarConstant * std::pow(Transmissivity, 0.9 / cosZenith);
}

double SlopeRadiation(double cosIncidence, double cosZenith, double beamEnergy, bool shadowed, bool overcast) {
    if (shadowed || !(beamEnergy > 0)) return 0;
    if (!(cosIncidence > 0)) return 0;
    const double m = overcast ? cosZenith : cosIncidence;
    return std::min(m, MaximumIncidenceRatio * cosZenith) * beamEnergy;
}

double CorrectionRatio(double slopeSum, double horizontalSum) {
    return horizontalSum > 0 ? slopeSum / horizontalSum : 0;
}

double CorrectedTemperature(double temperature, double ratio, double scaling, double sunshine, double horizontalSum) {
    if (ratio > 0.2) return temperature + std::log(ratio) * scaling * sunshine;
    if (horizontalSum > 0) return temperature - 1.6094 * scaling * sunshine;
    return temperature;
}

bool ShadowRays::Lay(int32_t nrows, int32_t ncols, double cellSize, double azimuth, double sunElevation) {
    Rows = nrows;
    Cols = ncols;
    StartRow.clear();
    StartCol.clear();
    if (nrows < 1 || ncols < 1) return false;
    // Column sign p and row sign q of the sun's quadrant; a ray runs away
    // from the sun, its column changing by -p and its row by +q.
    if (azimuth <= 1.570796326795) {
        P = 1, Q = 1;
    } else if (azimuth <= 3.14159265359) {
        P = 1, Q = -1;
    } else if (azimuth <= 4.7123889803850005) {
        P = -1, Q = -1;
    } else {
        P = -1, Q = 1;
    }
    const double sinA = std::sin(azimuth);
    const double cosA = std::cos(azimuth);
    const double tanE = std::tan(sunElevation);
    ColumnMajor = std::fabs(cosA) <= 0.707106781;
    if (ColumnMajor) {
        Gain = static_cast<int64_t>(std::trunc(std::fabs(ncols * cosA / sinA)));
        Loss = ncols;
        InitialError = -(ncols / 2);
        Drop = std::fabs(cellSize / sinA) * tanE;
    } else {
        Gain = static_cast<int64_t>(std::trunc(std::fabs(nrows * sinA / cosA)));
        Loss = nrows;
        InitialError = -(nrows / 2);
        Drop = std::fabs(cellSize / cosA) * tanE;
    }
    if (!std::isfinite(Drop)) return false;
    // Rows from the one farthest from the sun-facing edge row towards it,
    // each from the sun-facing edge column; the edge row, last, starts a ray
    // in every column.
    const int32_t edgeRow = Q == 1 ? 1 : nrows;
    const int32_t edgeCol = P == 1 ? ncols : 1;
    StartRow.reserve(static_cast<size_t>(nrows) + static_cast<size_t>(ncols));
    StartCol.reserve(static_cast<size_t>(nrows) + static_cast<size_t>(ncols));
    for (int32_t k = 0; k < nrows; ++k) {
        const int32_t row = Q == 1 ? nrows - k : 1 + k;
        if (row != edgeRow) {
            StartRow.push_back(row);
            StartCol.push_back(edgeCol);
            continue;
        }
        for (int32_t c = 0; c < ncols; ++c) {
            StartRow.push_back(row);
            StartCol.push_back(P == 1 ? 1 + c : ncols - c);
        }
    }
    return true;
}

void TerrainShadow(const double* const* elevation, const double* const* zones, double** shadow, int32_t nrows,
                   int32_t ncols, double noData, double cellSize, double azimuth, double sunElevation) {
    ShadowRays rays;
    if (!rays.Lay(nrows, ncols, cellSize, azimuth, sunElevation)) return;
    for (int32_t i = 0; i < rays.Count(); ++i)
        rays.March(i, elevation, zones, noData, [shadow](int32_t r, int32_t c, int value) { shadow[r][c] = value; });
}

bool ShadowMarch::Lay(int32_t nrows, int32_t ncols, double cellSize, double azimuth, double sunElevation) {
    const size_t width = static_cast<size_t>(ncols < 0 ? 0 : ncols) + 1;
    const size_t cells = (static_cast<size_t>(nrows < 0 ? 0 : nrows) + 1) * width;
    if (cells != Keys.size() || width != Width) {
        Keys.assign(cells, 0);
        Width = width;
        Base = 0;
        Next = 0;
    }
    Base = Next;
    if (!Rays.Lay(nrows, ncols, cellSize, azimuth, sunElevation)) return false;
    Next = Base + 2 * (static_cast<uint64_t>(Rays.Count()) + 1);
    return true;
}

void ShadowMarch::MarchRay(int32_t i, const double* const* elevation, const double* const* zones, double noData) {
    const uint64_t order = Base + 2 * (static_cast<uint64_t>(i) + 1);
    uint64_t* keys = Keys.data();
    const size_t width = Width;
    Rays.March(i, elevation, zones, noData, [keys, width, order](int32_t r, int32_t c, int value) {
        std::atomic_ref<uint64_t> key(keys[static_cast<size_t>(r) * width + static_cast<size_t>(c)]);
        const uint64_t mine = order + static_cast<uint64_t>(value);
        uint64_t seen = key.load(std::memory_order_relaxed);
        while (seen < mine && !key.compare_exchange_weak(seen, mine, std::memory_order_relaxed)) {
        }
    });
}

}  // namespace expokorr
