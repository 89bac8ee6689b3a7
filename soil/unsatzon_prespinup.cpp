// The temperature pre-run: freezing and thawing degree days and the mean air
// temperature of every cell over the whole time range, turned at its end
// into a first soil temperature profile.

#include <algorithm>
#include <cmath>
#include <span>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_heat_physics.h"

namespace unsatzon {

double DegreeDayConductivity(double phi, double theta, double lambdaS, double lambdaX) {
    const double e = theta + (1 - phi);
    return 0.0262 * (phi - theta) + e * std::pow(lambdaS, (1 - phi) / e) * std::pow(lambdaX, theta / e);
}

double MeanGroundTemperature(double thawingDegreeDays, double freezingDegreeDays, double nThawing,
                             double nFreezing, double lambdaUnfrozen, double lambdaFrozen, double years) {
    return (lambdaUnfrozen * nThawing * thawingDegreeDays - lambdaFrozen * nFreezing * freezingDegreeDays) /
           (lambdaFrozen * 365 * years);
}

}  // namespace unsatzon

namespace {

bool TakesPart(const unsatzonmodellklasse& m, int i, int j) { return m.OwnModelCell(i, j); }

}  // namespace

void unsatzonmodellklasse::PreSpinUpStep(int64_t hour, int64_t, int64_t, int64_t) {
    if (!AirTemperature || heatTransferSwitch <= 0) {
        if (Writer) {
            *Writer << "FATAL: heat transfer model not active in unsatzon_model. This is required for pre-SpinUp!"
                    << "[end-entry]";
        }
        throw 1040;
    }
    if (!FreezingDegreeDays) {
        const int existing = FindGrid("FreezingDegreeDays");
        const char* names[4] = {"FreezingDegreeDays", "thawingDegreeDays", "DailyTemperature", "AnnualTemperature"};
        double*** grids[4] = {&FreezingDegreeDays, &ThawingDegreeDays, &DailyTemperatureSum, &AnnualTemperatureSum};
        for (int k = 0; k < 4; ++k) {
            if (k == 0 && existing > 0) {
                // A sum brought along is the start of this one.
                FreezingDegreeDays = GridTable[existing].Data;
                continue;
            }
            const int entry = FindFreeGridEntry(GridTable);
            if (entry < FirstGridIndex || entry > LastGridIndex) {
                if (Writer) *Writer << "FATAL: no more free grids in memory, (max. " << 1000 << ")!" << "[end-entry]";
                throw 12;
            }
            double** grid = matrix(1, NRows, 1, NCols, NRows);
            for (int i = 1; i <= NRows; ++i)
                for (int j = 1; j <= NCols; ++j) grid[i][j] = TakesPart(*this, i, j) ? 0.0 : NoData;
            StoreGrid(entry, names[k], grid, nullptr, 1, names[k], 0, 1, NRows);
            PreSpinUpEntries.push_back({entry, grid});
            *grids[k] = grid;
        }
    }
    ++daySteps;
    ++preSpinUpSteps;
    const bool endOfDay = hour + static_cast<int64_t>(TimeShiftHours) == 24;
    const double steps = static_cast<double>(daySteps);
    const int first = std::max(1, FirstRow), last = std::min(LastRow, NRows);
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(Cells()))
    for (int i = first; i <= last; ++i) {
        const int from = RowExtents ? std::max(1, static_cast<int>(RowExtents[i].first)) : 1;
        const int to = RowExtents ? std::min(NCols, static_cast<int>(RowExtents[i].last)) : NCols;
        for (int j = from; j <= to; ++j) {
            if (!TakesPart(*this, i, j)) continue;
            const double Ta = AirTemperature[i][j];
            DailyTemperatureSum[i][j] += Ta;
            AnnualTemperatureSum[i][j] += Ta;
            if (endOfDay) {
                const double mean = DailyTemperatureSum[i][j] / steps;
                if (mean >= 0)
                    ThawingDegreeDays[i][j] += mean;
                else
                    FreezingDegreeDays[i][j] -= mean;
                DailyTemperatureSum[i][j] = 0;
            }
        }
    }
    if (endOfDay) daySteps = 0;
}

void unsatzonmodellklasse::FinishPreSpinUp() {
    if (!FreezingDegreeDays || preSpinUpSteps <= 0) return;
    PrepareHeat();
    const double years = static_cast<double>(preSpinUpSteps) * TimeInterval / 525600;
    const int n = maxLayers;
    const double steps = static_cast<double>(preSpinUpSteps);
    const int first = std::max(1, FirstRow), last = std::min(LastRow, NRows);
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
    for (int i = first; i <= last; ++i) {
        const int from = RowExtents ? std::max(1, static_cast<int>(RowExtents[i].first)) : 1;
        const int to = RowExtents ? std::min(NCols, static_cast<int>(RowExtents[i].last)) : NCols;
        for (int j = from; j <= to; ++j) {
            if (!TakesPart(*this, i, j)) continue;
            AnnualTemperatureSum[i][j] /= steps;
            const double Tm = AnnualTemperatureSum[i][j];
            const SoilType& soil = CellSoil(i, j);
            const double* theta = Theta[i][j];
            const double* z = GeodeticHeads[i][j];
            double* T = SoilTemperature[i][j];
            int J = 0;
            double depth = 0;
            while (J < n && depth < 1) depth += soil.thickness[static_cast<size_t>(++J)];
            const int R = std::max(1, J / 3);
            double nff = -1, nft = -1;
            const double position = Landuse.size() > 1 && Landuse[1] ? Landuse[1][i][j] : NoData;
            if (position >= 1 && position <= Settings.LanduseCount && Settings.LanduseTable) {
                nff = Settings.LanduseTable[static_cast<int>(position)].GetNfFreezing();
                nft = Settings.LanduseTable[static_cast<int>(position)].GetNfThawing();
            }
            if (nff < 0) nff = dTModNFactorFreezing;
            if (nft < 0) nft = dTModNFactorThawing;
            auto phi = [&](int k) { return soil.theta_sat[static_cast<size_t>(k)]; };
            auto ls = [&](int k) { return soil.DryThermalConduct[static_cast<size_t>(k)]; };
            const double lu = unsatzon::DegreeDayConductivity(phi(R), theta[R], ls(R), dTModLamWat);
            const double lf = unsatzon::DegreeDayConductivity(phi(R), theta[R], ls(R), dTModLamIce);
            const double Tg = unsatzon::MeanGroundTemperature(ThawingDegreeDays[i][j], FreezingDegreeDays[i][j], nft,
                                                              nff, lu, lf, years);
            const double q = HeatFluxLowerGrid ? HeatFluxLowerGrid[i][j] : 0.06;
            if (Tg < 0) {
                T[J] = Tg;
                for (int k = J + 1; k <= n; ++k) {
                    const double lx = T[k - 1] > 0 ? dTModLamWat : dTModLamIce;
                    T[k] = T[k - 1] + q * soil.thickness[static_cast<size_t>(k)] /
                                          unsatzon::DegreeDayConductivity(phi(k), theta[k], ls(k), lx);
                }
                for (int k = J - 1; k >= 0; --k)
                    T[k] = z[0] == z[J] ? Tg : Tg + (Tm - Tg) * (z[k] - z[J]) / (z[0] - z[J]);
            } else {
                T[1] = Tm;
                for (int k = 2; k <= n; ++k)
                    T[k] = T[k - 1] + q * soil.thickness[static_cast<size_t>(k)] /
                                          unsatzon::DegreeDayConductivity(phi(k), theta[k], ls(k), dTModLamWat);
            }
        }
    }
    WriteGrid("FreezingDegreeDays", FreezingDegreeDays, WriteAsciiGrids, WriteDoubleGrids);
    WriteGrid("thawingDegreeDays", ThawingDegreeDays, WriteAsciiGrids, WriteDoubleGrids);
    WriteGrid("AnnualTemperature", AnnualTemperatureSum, WriteAsciiGrids, WriteDoubleGrids);
    if (SoilTemperature) WriteStack(TemperatureStack.Name, SoilTemperature, n, WriteAsciiGrids, WriteDoubleGrids);
    for (const auto& [entry, grid] : PreSpinUpEntries) {
        ReleaseGrid(entry);
        free_matrix(grid, 1, NRows, 1, NCols);
    }
    PreSpinUpEntries.clear();
    FreezingDegreeDays = ThawingDegreeDays = DailyTemperatureSum = AnnualTemperatureSum = nullptr;
    InitialTemperatureProfile = 0;
}
