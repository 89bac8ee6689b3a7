// Snow evaporation before the snow model, and the total real
// evapotranspiration after the soil model.

#include <algorithm>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/parallel_rows.h"
#include "framework/zonalstatistic.h"
#include "surface/etpetr.h"
#include "surface/etpetr_real_physics.h"

namespace {

// The snow methods whose energy balance evaporates the snow itself: the
// potentials are spent on a snow-covered cell.
bool SnowMethodEvaporates(int method) { return method == 5 || method == 6 || method == 7 || method == 11; }

}  // namespace

void verdunstungsmodellklasse::SnowEvaporation(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0 || !SnowStorage) return;
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    if (Writer && (LogInterval <= 1 || (static_cast<int64_t>(TimeShiftHours) + hour) % LogInterval == 0)) {
        Writer->SetWidth(20);
        *Writer << "snow_evaporation" << " " << day << "." << month << "." << year << " " << hour << ". h "
                << "(time of meteo data)" << "[end-entry]";
    }
    if (FirstSnowEvaporation) {
        if (FindGrid("SnowEvaporation_onGlacier") > 0 && FindGrid("TotalSnowStorage_onGlacier") > 0) {
            GlacierSnowEvaporation = RequiredGrid("SnowEvaporation_onGlacier");
            GlacierSnowStorage = RequiredGrid("SolidSnowStorage_onGlacier");
        }
        FirstSnowEvaporation = false;
    }
    SnowEvaporationStats->ResetStep();

    // One region: every row spends the potentials on its packs, then unit
    // cells take their master's values (a master may lie in another row) and
    // each row gathers its zone sums, which the statistics fold in row order.
    // Each row keeps the untouched potentials of its cell in its own slots.
    const int layers = LayerCount;
    std::vector<double> potentials((static_cast<size_t>(NRows) + 1) * (static_cast<size_t>(layers) + 1));
#pragma omp parallel if (WorthThreads(static_cast<int64_t>(NRows) * NCols))
    {
#pragma omp for schedule(static, 1)
        for (int32_t i = 1; i <= NRows; ++i)
            SnowEvaporationRow(i, potentials.data() + static_cast<size_t>(i) * (static_cast<size_t>(layers) + 1));
#pragma omp for schedule(static, 1)
        for (int32_t i = 1; i <= NRows; ++i) {
            for (int32_t j = 1; j <= NCols; ++j) {
                if (!ActiveCell(i, j)) continue;
                if (CopiesMaster(i, j)) {
                    const auto [r, c] = MasterOf(i, j);
                    for (int k = 0; k <= layers; ++k) {
                        PotTranspiration[k][i][j] = PotTranspiration[k][r][c];
                        PotInterception[k][i][j] = PotInterception[k][r][c];
                    }
                    PotEvaporation[i][j] = PotEvaporation[r][c];
                    SnowEvaporationGrid[i][j] = SnowEvaporationGrid[r][c];
                    SnowStorage[i][j] = SnowStorage[r][c];
                    if (GlacierSnowEvaporation) GlacierSnowEvaporation[i][j] = GlacierSnowEvaporation[r][c];
                    if (GlacierSnowStorage) GlacierSnowStorage[i][j] = GlacierSnowStorage[r][c];
                }
                SnowEvaporationStats->AddToRow(i, j, ZoneRankOfCell(i, j), SnowEvaporationGrid[i][j], 1);
            }
        }
    }
    SnowEvaporationStats->CloseStep(year, month, day, hour);
    WriteGridByCode(SnowEvaporationIndex, true, false);
}

void verdunstungsmodellklasse::SnowEvaporationRow(int32_t i, double* potentials) {
    const int layers = LayerCount;
    for (int32_t j = 1; j <= NCols; ++j) {
        if (!ActiveCell(i, j) || CopiesMaster(i, j)) continue;
        const double g = GlacierFractionOf(i, j);
        if (SnowMethodEvaporates(SnowMethod)) {
            if (SnowStorage[i][j] > 0 && layers >= 1) {
                for (int k = 1; k <= layers; ++k)
                    if (LayerPresent(k, i, j)) PotTranspiration[k][i][j] = 0;
                PotEvaporation[i][j] = 0;
            }
            continue;
        }
        SnowEvaporationGrid[i][j] = 0;
        if (GlacierSnowEvaporation) GlacierSnowEvaporation[i][j] = 0;
        for (int k = 1; k <= layers; ++k) potentials[k] = PotTranspiration[k][i][j];
        double soilPotential = PotEvaporation[i][j];

        // The ice-free pack lowers the cell's potentials.
        if (g < 1 && SnowStorage[i][j] > 0) {
            double store = SnowStorage[i][j];
            for (int k = 1; k <= layers; ++k) {
                if (!LayerPresent(k, i, j)) continue;
                SnowEvaporationGrid[i][j] += etpetr::TakeFromStore(store, PotTranspiration[k][i][j]);
            }
            SnowEvaporationGrid[i][j] += etpetr::TakeFromStore(store, PotEvaporation[i][j]);
            SnowStorage[i][j] = store;
        }
        // The glacier pack sees the same full potentials; the grids stay as
        // the ice-free part left them.
        if (g > 0 && GlacierSnowEvaporation && GlacierSnowStorage) {
            double store = GlacierSnowStorage[i][j];
            for (int k = 1; k <= layers; ++k) {
                if (!LayerPresent(k, i, j)) continue;
                GlacierSnowEvaporation[i][j] += etpetr::TakeFromStore(store, potentials[k]);
            }
            GlacierSnowEvaporation[i][j] += etpetr::TakeFromStore(store, soilPotential);
            GlacierSnowStorage[i][j] = store;
        }
    }
}

void verdunstungsmodellklasse::BeginRealEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    if (Writer && (LogInterval <= 1 || (static_cast<int64_t>(TimeShiftHours) + hour) % LogInterval == 0)) {
        Writer->SetWidth(20);
        *Writer << "real evapotranspir." << " " << day << "." << month << "." << year << " " << hour << ". h "
                << "(time of meteo data)" << "[end-entry]";
    }
    if (!InterceptionFound && FindGrid("interception_evaporation0") > 0) {
        InterceptionTotal = RequiredGrid("interception_evaporation0");
        InterceptionFound = true;
    }
    for (int k = 0; k <= LayerCount; ++k) RealTranspirationStats[k]->ResetStep();
    RealEvaporationStats->ResetStep();
}

void verdunstungsmodellklasse::RunSubstep(int64_t, int64_t, int64_t, int64_t) {}

void verdunstungsmodellklasse::SumRealEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    const int layers = LayerCount;
#pragma omp parallel for schedule(static, 1) if (WorthThreads(static_cast<int64_t>(NRows) * NCols))
    for (int32_t i = 1; i <= NRows; ++i) SumRealEvapotranspirationRow(i);
    std::vector<int> indices;
    for (int k = 0; k <= layers; ++k) {
        RealTranspirationStats[k]->CloseStep(year, month, day, hour);
        indices.push_back(RealTranspirationIndex[k]);
    }
    RealEvaporationStats->CloseStep(year, month, day, hour);
    indices.push_back(RealEvaporationIndex);
    // The sums of every grid in one pass over the rows, then the grids.
    WriteGridsByCode(indices.data(), static_cast<int>(indices.size()), true, false);
}

void verdunstungsmodellklasse::SumRealEvapotranspirationRow(int32_t i) {
    const int layers = LayerCount;
    for (int32_t j = 1; j <= NCols; ++j) {
        if (!ActiveCell(i, j)) continue;
        const int zone = ZoneRankOfCell(i, j);
        const double w = GlacierFractionOf(i, j);
        const double a = 1 - w;
        double transpiration = 0;
        for (int k = 1; k <= layers; ++k) {
            const bool present = LayerPresent(k, i, j) && RealTranspiration[k][i][j] != NoData;
            const double value = present ? RealTranspiration[k][i][j] : 0;
            RealTranspirationStats[k]->AddToRow(i, j, zone, value, a);
            RealTranspirationStats[k]->AddToRow(i, j, zone, 0, w);
            transpiration += value;
        }
        const double total = etpetr::RealEvapotranspirationTotal(
            InterceptionTotal != nullptr, InterceptionTotal ? InterceptionTotal[i][j] : 0, SnowEvaporationGrid[i][j],
            RealEvaporation[i][j], transpiration, RealTranspiration[0][i][j]);
        RealTranspiration[0][i][j] = total;
        const double glacierSnow = GlacierSnowEvaporation ? GlacierSnowEvaporation[i][j] : SnowEvaporationGrid[i][j];
        RealTranspirationStats[0]->AddToRow(i, j, zone, etpetr::GlacierWeightedTotal(total, w, glacierSnow), 1);
        RealEvaporationStats->AddToRow(i, j, zone, RealEvaporation[i][j], a);
        RealEvaporationStats->AddToRow(i, j, zone, 0, w);
    }
}

void verdunstungsmodellklasse::LinkSoilStorageGrids() {
    if (Method == 0) return;
    SoilStorage = OptionalGrid("soil_storage");
    AvailableSoilMoisture = OptionalGrid("available_soil_moisture");
}

void verdunstungsmodellklasse::RealEvapotranspiration(int64_t, int64_t, int64_t, int64_t) {}
