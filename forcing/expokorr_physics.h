#pragma once
// Kernels of the radiation correction: the sun in one sub-step, the clear-sky
// beam, the direct radiation a sloped cell receives, the ratio to a
// horizontal surface, the exposition-corrected temperature and the shadow
// the terrain casts. Pure functions on plain values.

#include <cstddef>
#include <cstdint>
#include <vector>

namespace expokorr {

// The solar constant [W/m2] and the clear-sky transmissivity of the beam.
inline constexpr double SolarConstant = 1367;
inline constexpr double Transmissivity = 0.86;
// The sun is taken as up (beam on the ground) above this elevation [rad].
inline constexpr double MinimumSunElevation = 0.017;
// A sub-step darker than this fraction counts as night.
inline constexpr double NightFraction = 0.95;
// A cell's incidence is capped at this many times that of a flat cell.
inline constexpr double MaximumIncidenceRatio = 5;

// The sunlit part of a sub-step [a, b] (hours) on a day with the given
// sunrise and sunset (hours of the day, as the day's sun times give them;
// they repeat every 24 h).
struct SubStepSun {
    double BeforeSunrise = 0;  // [h] dark lead-in up to a sunrise inside the sub-step
    double AfterSunset = 0;    // [h] the other dark hours of the sub-step
    double DarkFraction = 0;   // dark part of the sub-step, 0..1
    bool Night = true;         // dark part above 0.95
    double SunFraction = 0;    // 1 - dark part, 0 at night
    double SunTime = 0;        // [h] centre of the sunlit part
};
SubStepSun SunOfSubStep(double start, double end, double sunrise, double sunset);

// Clear-sky beam energy of a sub-step [1367 W/m2 x h] on a surface normal to
// the sun: W = L f 1367 0.86^(0.9 / cos z), with sub-step length L [h], sunlit
// fraction f and sun elevation [rad]; 0 at or below 0.017 rad.
double BeamEnergy(double length, double sunFraction, double sunElevation);

// Direct radiation a cell receives in a sub-step, from the cosine m of the
// angle between the sun and the surface normal, the cosine of the sun's
// zenith angle and the beam energy W: min(max(m, 0), 5 cos z) W. A cell in the
// terrain shadow gets nothing; under an overcast sky (relative sunshine below
// 0.1) every lit cell facing the sun counts as flat (m = cos z).
double SlopeRadiation(double cosIncidence, double cosZenith, double beamEnergy, bool shadowed, bool overcast);

// Ratio of slope to horizontal direct radiation summed over a step; 0 when
// the horizontal sum is not positive.
double CorrectionRatio(double slopeSum, double horizontalSum);

// Temperature corrected for exposition [degC]: T + ln(q) k S for a ratio
// q > 0.2 and T - 1.6094 k S (the ratio counted as 0.2) otherwise, with the
// scaling factor k and the relative sunshine S; T unchanged when the step
// saw no sun (horizontal sum 0).
double CorrectedTemperature(double temperature, double ratio, double scaling, double sunshine, double horizontalSum);

// Terrain shadow for the sun at azimuth [rad, clockwise from north] and
// elevation [rad]. Grids are 1-based [row][column], rows from north to south.
// Rays start at the sun-facing edges and run away from the sun in integer
// Bresenham steps, their height falling by cellSize / |sin or cos A| x tan e
// per step; a cell below a ray is marked 1, any other cell 0 (the ray then
// continues at its height). Cells whose zone is nodata are passed over and
// keep their mark; start cells are not marked. Rays end at the grid's border.
// The rays march one after the other (see ShadowRays); where they overlap,
// the later ray's mark stands.
void TerrainShadow(const double* const* elevation, const double* const* zones, double** shadow, int32_t nrows,
                   int32_t ncols, double noData, double cellSize, double azimuth, double sunElevation);

// The rays of the shadow march for one position of the sun, in their order:
// rows from the one farthest from the sun-facing edge row towards it, each
// from the sun-facing edge column, then the edge row's rays, one per column.
class ShadowRays {
public:
    // False when no ray marches (an empty grid, a drop per step that is not
    // finite).
    bool Lay(int32_t nrows, int32_t ncols, double cellSize, double azimuth, double sunElevation);
    int32_t Count() const { return static_cast<int32_t>(StartRow.size()); }

    // Marches ray `i`: `mark(row, col, value)` receives every cell it
    // passes over that has a zone and an elevation, 1 below the ray, else
    // 0. The marks depend on the terrain alone, not on other rays; the
    // major coordinate moves one cell every step, so a ray meets a cell at
    // most once.
    template <typename Mark>
    void March(int32_t i, const double* const* elevation, const double* const* zones, double noData,
               Mark&& mark) const {
        int32_t row = StartRow[static_cast<size_t>(i)], col = StartCol[static_cast<size_t>(i)];
        double h = elevation[row][col];
        int64_t error = InitialError;
        for (;;) {
            if (h > noData) h -= Drop;
            if (ColumnMajor) {
                col -= P;
                error += Gain;
                if (error >= 0) {
                    row += Q;
                    error -= Loss;
                }
            } else {
                row += Q;
                error += Gain;
                if (error >= 0) {
                    col -= P;
                    error -= Loss;
                }
            }
            if (row < 1 || row > Rows || col < 1 || col > Cols) return;
            const double e = elevation[row][col];
            if (zones[row][col] == noData || e == noData) continue;
            if (h > e) {
                mark(row, col, 1);
            } else {
                mark(row, col, 0);
                h = e;
            }
        }
    }

private:
    int32_t Rows = 0, Cols = 0;
    int P = 1, Q = 1;  // column and row sign of the sun's quadrant
    bool ColumnMajor = false;
    int64_t Gain = 0, Loss = 1, InitialError = 0;
    double Drop = 0;  // [m] fall of a ray's height per step
    std::vector<int32_t> StartRow, StartCol;
};

// The shadow march with its rays on any threads in any order, with the
// result of `TerrainShadow`: every ray leaves in a cell its place in the
// order and its mark, and a cell keeps those of the latest ray. The places
// of a march lie above those of every earlier march, so the keys need no
// clearing between marches.
class ShadowMarch {
public:
    // Lays the rays of a march (false: none marches).
    bool Lay(int32_t nrows, int32_t ncols, double cellSize, double azimuth, double sunElevation);
    int32_t Count() const { return Rays.Count(); }
    // Marches ray `i`; any thread, each ray once.
    void MarchRay(int32_t i, const double* const* elevation, const double* const* zones, double noData);
    // After the rays: the mark a cell received (0 or 1), -1 when no ray of
    // this march met it.
    int Mark(int32_t row, int32_t col) const {
        const uint64_t key = Keys[static_cast<size_t>(row) * Width + static_cast<size_t>(col)];
        return key > Base ? static_cast<int>(key & 1u) : -1;
    }

private:
    ShadowRays Rays;
    std::vector<uint64_t> Keys;  // [row * Width + col]
    size_t Width = 0;
    uint64_t Base = 0;  // the keys of this march lie above
    uint64_t Next = 0;  // and below this
};

}  // namespace expokorr
