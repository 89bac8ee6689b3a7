#include "forcing/expokorr_physics.h"

#include <algorithm>
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

void TerrainShadow(const double* const* elevation, const double* const* zones, double** shadow, int32_t nrows,
                   int32_t ncols, double noData, double cellSize, double azimuth, double sunElevation) {
    if (nrows < 1 || ncols < 1) return;
    // Column sign p and row sign q of the sun's quadrant; a ray runs away
    // from the sun, its column changing by -p and its row by +q.
    int p, q;
    if (azimuth <= 1.570796326795) {
        p = 1, q = 1;
    } else if (azimuth <= 3.14159265359) {
        p = 1, q = -1;
    } else if (azimuth <= 4.7123889803850005) {
        p = -1, q = -1;
    } else {
        p = -1, q = 1;
    }
    const double sinA = std::sin(azimuth);
    const double cosA = std::cos(azimuth);
    const double tanE = std::tan(sunElevation);
    const bool columnMajor = std::fabs(cosA) <= 0.707106781;
    int64_t gain, loss, initialError;
    double drop;  // [m] fall of a ray's height per step
    if (columnMajor) {
        gain = static_cast<int64_t>(std::trunc(std::fabs(ncols * cosA / sinA)));
        loss = ncols;
        initialError = -(ncols / 2);
        drop = std::fabs(cellSize / sinA) * tanE;
    } else {
        gain = static_cast<int64_t>(std::trunc(std::fabs(nrows * sinA / cosA)));
        loss = nrows;
        initialError = -(nrows / 2);
        drop = std::fabs(cellSize / cosA) * tanE;
    }
    if (!std::isfinite(drop)) return;

    auto march = [&](int32_t row, int32_t col) {
        double h = elevation[row][col];
        int64_t error = initialError;
        for (;;) {
            if (h > noData) h -= drop;
            if (columnMajor) {
                col -= p;
                error += gain;
                if (error >= 0) {
                    row += q;
                    error -= loss;
                }
            } else {
                row += q;
                error += gain;
                if (error >= 0) {
                    col -= p;
                    error -= loss;
                }
            }
            if (row < 1 || row > nrows || col < 1 || col > ncols) return;
            const double e = elevation[row][col];
            if (zones[row][col] == noData || e == noData) continue;
            if (h > e) {
                shadow[row][col] = 1;
            } else {
                shadow[row][col] = 0;
                h = e;
            }
        }
    };

    const int32_t edgeRow = q == 1 ? 1 : nrows;
    const int32_t edgeCol = p == 1 ? ncols : 1;
    // Rows from the one farthest from the sun-facing edge row towards it; the
    // edge row, last, starts a ray in every column.
    for (int32_t k = 0; k < nrows; ++k) {
        const int32_t row = q == 1 ? nrows - k : 1 + k;
        if (row != edgeRow) {
            march(row, edgeCol);
            continue;
        }
        for (int32_t c = 0; c < ncols; ++c) march(row, p == 1 ? 1 + c : ncols - c);
    }
}

}  // namespace expokorr
