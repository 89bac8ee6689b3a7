// Glaciers of the snow model: the section "[ice_firn]" and its checks, the
// melt grids and per-subbasin writers, the glacier branch of a cell's step,
// the glacier statistics and the three linear runoff storages per subbasin.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/zonalstatistic.h"
#include "surface/glacier_physics.h"
#include "surface/snowmod.h"
#include "surface/snowmod_physics.h"

namespace {

// The qglac name with "_qsgl_" before its extension ("glac.out" gives
// "glac_qsgl_.out"); a name without extension gets it at its end.
std::string SnowOnIceName(const std::string& glacierName) {
    const size_t dot = glacierName.rfind('.');
    if (dot == std::string::npos) return glacierName + "_qsgl_";
    return glacierName.substr(0, dot) + "_qsgl_" + glacierName.substr(dot);
}

bool DynamicMethod(int m) { return m == 11 || m == 12 || m == 13; }

}  // namespace

double schneemodellklasse::GlacierShare(int row, int col) const {
    if (!glacierFractionGrid) return 0;
    const double g = glacierFractionGrid[row][col];
    if (!(g > 0)) return 0;
    return std::min(g, 1.0);
}

int schneemodellklasse::SubbasinPosition(int row, int col) const {
    if (!subbasinGrid) return 0;
    const double value = subbasinGrid[row][col];
    if (value == NoData) return 0;
    const double code = ZoneCodeOf(value);
    if (!(code >= 0 && code <= Subbasins.LargestCode)) return 0;
    return Subbasins.CodeToRank[static_cast<size_t>(code)];
}

void schneemodellklasse::ReadGlacierSection() {
    ControlFile = std::fopen(ControlFilePath.c_str(), "rt");
    if (!ControlFile) ThrowFatal("FATAL: error opening " + ControlFilePath, 28);
    FindSection("[ice_firn]", true);
    FILE* f = ControlFile;
    ReadIntegerLine(glacierMethod, "Glacier-Method for ");
    if (glacierMethod != 1 && glacierMethod != 2 && !DynamicMethod(glacierMethod)) {
        ThrowFatal("FATAL: \n-----------Fatal Error:----------\nMethod for glacier melt must be 1(resp 11 for dynamic "
                   "model; t-index)\n or 2 (resp. 12 for dynamic model; t-index with correction by radiation) or 13 "
                   "(dynamic glaciers with T-Index for ice and firn and the melt method used for snow as in the snow "
                   "model)",
                   80);
    }
    debrisGrid = OptionalGrid("debris_on_glaciers");
    if (!DynamicMethod(glacierMethod)) {
        glacierFractionGrid = RequiredGrid("ice_firn");
    } else {
        storageAllRows = true;
        storageFirstRow = 1;
        storageLastRow = NRows;
        glacierFractionGrid = RequiredGrid("GlacierizedCells");
        glacierCodeGrid = RequiredGrid("GlacierCodes");
        bool anyGlacier = false, anyCode = false;
        for (int r = 1; r <= NRows; ++r) {
            int first = 1, last = NCols;
            if (RowExtents) {
                first = std::max(1, RowExtents[r].first);
                last = std::min(static_cast<int>(NCols), RowExtents[r].last);
            }
            for (int c = first; c <= last; ++c) {
                if (glacierFractionGrid[r][c] > 0) {
                    anyGlacier = true;
                    if (glacierCodeGrid[r][c] == NoData) {
                        ThrowFatal("FATAL: \n-----------Fatal Error:----------\nThere is a cell in the "
                                   "GlacierizedCells-grid having no valid value in \nGlacierCodes (must be an integer "
                                   "ID for each separate glacier) at row " +
                                       std::to_string(r) + " and col " + std::to_string(c),
                                   80);
                    }
                }
                if (subbasinGrid && subbasinGrid[r][c] != NoData && glacierCodeGrid[r][c] > 0) anyCode = true;
            }
        }
        if (!anyGlacier) {
            ThrowFatal("FATAL: \n-----------Fatal Error:----------\nThere are no glacierized cells in "
                       "GlacierizedCells-grid (all nodata or equal to 0)!",
                       80);
        }
        if (!anyCode) {
            const int index = FindGrid("GlacierCodes");
            ThrowFatal(std::string("FATAL: \n----------- Fatal Error: ----------\nThe GlacierCodes grid (") +
                           (index > 0 ? GridTable[index].FileName : std::string()) + ")contains nodata values only. \n" +
                           "Dynamic glacier modelling will not be possible without \n" +
                           "distinct glacier codes for each glacier",
                       80);
        }
    }

    const size_t n = static_cast<size_t>(Subbasins.Count) + 1;
    Qice_els.assign(n, 0.0);
    Qfirn_els.assign(n, 0.0);
    Qsnow_els.assign(n, 0.0);
    iceInflow.assign(n, 0.0);
    firnInflow.assign(n, 0.0);
    snowInflow.assign(n, 0.0);

    ReadRealLine(DDFice, "DDFice  for ");
    ReadRealLine(DDFfirn, "DDFfirn for ");
    ReadRealLine(DDFsnow, "DDFsnow for ");
    ReadRealLine(MF, "MF  for ");
    ReadRealLine(Aice_min, "Aice_min for ");
    ReadRealLine(Aice_max, "Aice_max for ");
    ReadRealLine(Asnow_min, "Asnow_min for ");
    ReadRealLine(Asnow_max, "Asnow_max for ");
    ReadRealLine(kice_els, "kice_els for ");
    ReadRealLine(kfirn_els, "kfirn_els ");
    ReadRealLine(ksnow_els, "ksnow_els for ");
    // A negative constant would make the outflow grow without inflow.
    auto notNegative = [&](double value, const char* name) {
        if (value >= 0) return;
        char text[256];
        std::snprintf(text, sizeof text,
                      "FATAL: the storage constant %s of [ice_firn] must be 0 or above (0 means no delay). Here: %.17g",
                      name, value);
        ThrowFatal(text, 80);
    };
    notNegative(kice_els, "kice_els");
    notNegative(kfirn_els, "kfirn_els");
    notNegative(ksnow_els, "ksnow_els");
    if (n > 1) {
        ReadRealLine(Qice_els[1], "initial Qice_els for ");
        ReadRealLine(Qfirn_els[1], "initial Qfirn_els ");
        ReadRealLine(Qsnow_els[1], "initial Qsnow_els for ");
    } else {
        double unused = 0;
        ReadRealLine(unused, "initial Qice_els for ");
        ReadRealLine(unused, "initial Qfirn_els ");
        ReadRealLine(unused, "initial Qsnow_els for ");
    }
    for (size_t i = 2; i < n; ++i) {
        Qice_els[i] = Qice_els[1];
        Qfirn_els[i] = Qfirn_els[1];
        Qsnow_els[i] = Qsnow_els[1];
    }
    ReadWordLine(firnLine.Grid, "name of the firn grid for ");
    ReadIntegerLine(firnLine.WriteCode, "write code for firn grid for ");
    ReadStatisticsLine(firnLine, "name of the qfirn-statistic-file for ");
    ReadWordLine(iceLine.Grid, "name of the ice grid for ");
    ReadIntegerLine(iceLine.WriteCode, "write code for ice grid for ");
    ReadStatisticsLine(iceLine, "name of the qice-statistic-file for ");
    ReadStatisticsLine(glacierMeltLine, "name of the qglac-statistic-file for ");

    if (DynamicMethod(glacierMethod)) {
        ReadStatisticsLine(snowOnIceLine, "name of the qSnowOnGlac-statistic-file for ");
        int readGlacierGrids = 0;
        ReadIntegerLine(readGlacierGrids, "read grid parameter for glacier model ");
        const std::string head = "FATAL: \n------------- Fatal Error: -------------\n";
        // Each of the next three lines holds several values; a line that
        // lacks one is an error, not a reason to read on into the next line.
        std::string line;
        int firnLevels = 0;
        double firnBase = 0, deltaFirn = 0;
        ReadRestOfLine(f, &line);
        if (std::sscanf(line.c_str(), "%d%lf%lf", &firnLevels, &firnBase, &deltaFirn) != 3) {
            ThrowFatal(head + "Could not read the three parameters firn_levels (int),\n" +
                           "firn_base (double), and deltafirnper100m (double)  \n" + "for dynamic glacier modelling ",
                       80);
        }
        int evalDay = 0, evalMonth = 0;
        ReadRestOfLine(f, &line);
        if (std::sscanf(line.c_str(), "%d%d", &evalDay, &evalMonth) != 2) {
            ThrowFatal(head + "Could not read the two parameters GMBEvalDay (int 1...31)\n" +
                           "and GMBEvalMonth (int 1..12) for dynamic glacier modelling ",
                       80);
        }
        double scaling = 0, exponent = 0;
        int bands = 0, extraWeight = 0;
        ReadRestOfLine(f, &line);
        if (std::sscanf(line.c_str(), "%lf%lf%d%d", &scaling, &exponent, &bands, &extraWeight) != 4) {
            ThrowFatal(head +
                           "Could not read the four parameters VAscaling, VAexponent, numElevBands and "
                           "extraWeightFactorBand0\n" +
                           "for Volume-Area-Relation in dynamic glacier modelling ",
                       80);
        }
        auto range = [&](bool ok, const std::string& name, const std::string& allowed, double value) {
            if (ok) return;
            char number[64];
            std::snprintf(number, sizeof number, "%.17g", value);
            ThrowFatal("FATAL: the parameter " + name + " of [ice_firn] must be " + allowed + ". Here: " + number,
                       80);
        };
        range(firnLevels >= 1, "firn_levels", "1 or above", firnLevels);
        range(evalDay >= 1 && evalDay <= 31, "GMBEvalDay", "within 1 to 31", evalDay);
        range(evalMonth >= 1 && evalMonth <= 12, "GMBEvalMonth", "within 1 to 12", evalMonth);
        range(scaling > 0, "VAscaling", "above 0", scaling);
        range(exponent > 0, "VAexponent", "above 0", exponent);
        range(bands >= 1, "numElevBands", "1 or above", bands);
        range(extraWeight >= 0, "extraWeightFactorBand0", "0 or above", extraWeight);
        // The firn levels, the glacier packs, the mass balance and the yearly
        // change of the glaciers' extent are not in this version.
        ThrowFatal("FATAL: the dynamic glacier methods 11, 12 and 13 are not available in this version of the snow "
                   "model; use the static methods 1 or 2 with an ice_firn grid",
                   80);
    }
    snowOnIceLine.Statistics = SnowOnIceName(glacierMeltLine.Statistics);
    snowOnIceLine.StatisticsCode = glacierMeltLine.StatisticsCode;

    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) ThrowFatal("FATAL: cannot close " + ControlFilePath, 11);

    statFirnMelt = MakeSubbasinStatistics(firnLine, 5, "glacier_melt_from_firn_areas__");
    statIceMelt = MakeSubbasinStatistics(iceLine, 5, "glacier_melt_from_ice_areas__");
    statSnowOnIceMelt = MakeSubbasinStatistics(snowOnIceLine, 5, "snow_melt_from_ice_areas__");
    statGlacierMelt = MakeSubbasinStatistics(glacierMeltLine, 5, "glacier_melt_total(firn+ice)__");
    statSnowStorageNoGlacier = MakeStatistics(noGlacierLine, 3, "snow_storage_in_mm_WITHOUT_GLACIERS_");

    asnowAmplitude = (Asnow_max - Asnow_min) * 0.5;
    asnowMean = asnowAmplitude + Asnow_min;
    aiceAmplitude = (Aice_max - Aice_min) * 0.5;
    aiceMean = aiceAmplitude + Aice_min;
    if (glacierMethod == 2) {
        const int index = FindOneOfThreeGrids("global_radiation", "Ieff_max", "\x01no grid bears this name");
        glacierRadiationGrid = GridTable[index].Data;
    }

    glacierAreas.assign(n, SubbasinGlacierArea{});
    for (int r = 1; r <= NRows; ++r) {
        int first = 1, last = NCols;
        if (RowExtents) {
            first = std::max(1, RowExtents[r].first);
            last = std::min(static_cast<int>(NCols), RowExtents[r].last);
        }
        for (int c = first; c <= last; ++c) {
            const int s = SubbasinPosition(r, c);
            if (s <= 0) continue;
            const double g = GlacierShare(r, c);
            SubbasinGlacierArea& area = glacierAreas[static_cast<size_t>(s)];
            area.glacierCells += g;
            area.freeCells += 1 - g;
            if (g > 0) area.hasGlacier = true;
        }
    }
    IceSum.assign(n, 0.0);
    FirnSum.assign(n, 0.0);
    SnowOnIceSum.assign(n, 0.0);
    AreaSum.assign(n, 0.0);
}

zonalstatistic* schneemodellklasse::MakeSubbasinStatistics(const OutputLine& line, int precision,
                                                           const std::string& title) {
    auto own = std::make_unique<OwnStatistics>();
    own->Zones.assign(Subbasins.Records.begin(), Subbasins.Records.end());
    if (own->Zones.empty()) own->Zones.assign(1, ZoneRecord{});
    int status = 0;
    std::string name = line.Statistics;
    own->Statistics = std::make_unique<zonalstatistic>(
        &status, Writer, StatisticsTable, StatisticsTableSize, RelCellArea, NRows, NCols, own->Zones.data(),
        Subbasins.Count, line.StatisticsCode, precision, name, Settings.DefaultOutputDirectory,
        Settings.OutputListCount, Settings.OutputListCodes);
    if (status != 0) throw status;
    own->Statistics->WriteHeader(title, ModuleName);
    zonalstatistic* result = own->Statistics.get();
    OwnStats.push_back(std::move(own));
    return result;
}

void schneemodellklasse::CreateGlacierGrids() {
    auto meltGrid = [&](const OutputLine& line, const char* name, int* index) {
        double** grid = matrix(1, NRows, 1, NCols, NRows);
        OwnGrids.push_back({0, grid});
        for (int r = 1; r <= NRows; ++r)
            for (int c = 1; c <= NCols; ++c) grid[r][c] = subbasinGrid && subbasinGrid[r][c] != NoData ? 0.0 : NoData;
        *index = Register(grid, line.Grid, name, line.WriteCode);
        return grid;
    };
    meltFromFirnGrid = meltGrid(firnLine, "melt_from_firn", &meltFromFirnIndex);
    meltFromIceGrid = meltGrid(iceLine, "melt_from_ice", &meltFromIceIndex);
}

double schneemodellklasse::GlacierCell(int row, int col, double T, double* ss, double* sl) {
    const double P = precipitationGrid[row][col];
    const double f = snowphys::SnowFraction(T, T0R, transzone);
    snowFractionGrid[row][col] = f * P;
    rainFractionGrid[row][col] = (1 - f) * P;
    const double previousTotal = totalStorageGrid[row][col];
    *ss += f * P;
    *sl += (1 - f) * P;
    const double spd = StepsPerDay;
    const double R = glacierRadiationGrid ? glacierRadiationGrid[row][col] : 0.0;
    double M = 0;
    if (T > T0 && previousTotal > 0)
        M = glacierMethod == 1 ? DDFsnow * (T - T0) / spd : (MF / spd + Asnow * R) * (T - T0);
    double moved = 0;
    const double outflow = snowphys::Retain(M, CWH, ss, sl, &moved);
    snowcoverOutflowGrid[row][col] = outflow;
    if (moved > 0) meltFromSnowcoverGrid[row][col] = outflow;

    // The whole cell is glacier: its own pack covers the ice and the firn,
    // which melt once that pack holds no solid snow; the step's snow melt
    // counts against their melt.
    if (T > T0 && *ss <= 0) {
        const double raw = glacierFractionGrid[row][col];
        const double phi = debrisGrid ? glacierphys::DebrisFactor(debrisGrid[row][col], NoData) : 1.0;
        if (raw == 1) {
            const double I = glacierMethod == 1
                                 ? phi * globalDebrisFactor * DDFice * (T - T0) / spd - moved
                                 : phi * globalDebrisFactor * glacierphys::RadiationIceMelt(MF, Aice, R, T, T0, spd, 0) -
                                       moved;
            if (I > 0) meltFromIceGrid[row][col] = I;
        } else if (raw == 2) {
            const double F = glacierMethod == 1 ? glacierphys::DegreeDayIceMelt(DDFfirn, T, T0, spd, moved)
                                                : glacierphys::RadiationIceMelt(MF, Asnow, R, T, T0, spd, moved);
            if (F > 0) meltFromFirnGrid[row][col] += F;
        }
    }
    return outflow;
}

// After the slides, on the main thread in row order: the snow storage
// without glaciers and the per-subbasin melt. The runoff storages take their
// inflow from private sums, whatever the writers' codes and intervals.
void schneemodellklasse::AddGlacierStatistics() {
    std::fill(IceSum.begin(), IceSum.end(), 0.0);
    std::fill(FirnSum.begin(), FirnSum.end(), 0.0);
    std::fill(SnowOnIceSum.begin(), SnowOnIceSum.end(), 0.0);
    std::fill(AreaSum.begin(), AreaSum.end(), 0.0);
    for (int r = 1; r <= NRows; ++r) {
        for (int c = 1; c <= NCols; ++c) {
            if (!ActiveCell(r, c)) continue;
            const double g = GlacierShare(r, c);
            if (statSnowStorageNoGlacier && statSnowStorageNoGlacier->IsOn()) {
                const int zone = ZoneRankOfCell(r, c);
                statSnowStorageNoGlacier->AddValue(r, c, zone, solidStorageGrid[r][c] + liquidStorageGrid[r][c],
                                                   1 - g);
                statSnowStorageNoGlacier->AddValue(r, c, zone, 0, g);
            }
            const int s = SubbasinPosition(r, c);
            if (s <= 0) continue;
            double area = 1;
            if (RelCellArea && RelCellArea[r][c] > NoData) area = RelCellArea[r][c];
            const size_t k = static_cast<size_t>(s);
            AreaSum[k] += area;
            if (g <= 0) {
                for (zonalstatistic* w : {statFirnMelt, statIceMelt, statSnowOnIceMelt})
                    if (w && w->IsOn()) w->AddValue(r, c, s, 0, 1);
                continue;
            }
            // Static glaciers keep no glacier pack: no snow melt on ice.
            const double firn = meltFromFirnGrid[r][c], ice = meltFromIceGrid[r][c], snowOnIce = 0;
            FirnSum[k] += firn * g * area;
            IceSum[k] += ice * g * area;
            SnowOnIceSum[k] += snowOnIce * g * area;
            const double values[3] = {firn, ice, snowOnIce};
            zonalstatistic* writers[3] = {statFirnMelt, statIceMelt, statSnowOnIceMelt};
            for (int w = 0; w < 3; ++w) {
                if (!writers[w] || !writers[w]->IsOn()) continue;
                writers[w]->AddValue(r, c, s, values[w], g);
                writers[w]->AddValue(r, c, s, 0, 1 - g);
            }
        }
    }
}

void schneemodellklasse::GlacierRunoffStorages() {
    const int n = Subbasins.Count;
    for (int s = 1; s <= n && static_cast<size_t>(s) < glacierAreas.size(); ++s) {
        const size_t k = static_cast<size_t>(s);
        const SubbasinGlacierArea& area = glacierAreas[k];
        if (!area.hasGlacier) {
            if (statGlacierMelt && statGlacierMelt->IsOn()) statGlacierMelt->AddValue(0, 0, s, 0, AreaSum[k]);
            continue;
        }
        const double cells = area.freeCells + area.glacierCells;
        const double G = cells > 0 ? area.glacierCells / cells : 0.0;
        const double a = AreaSum[k];
        iceInflow[k] = a > 0 ? IceSum[k] / a : 0.0;
        firnInflow[k] = a > 0 ? FirnSum[k] / a : 0.0;
        snowInflow[k] = a > 0 ? SnowOnIceSum[k] / a : 0.0;
        if (G > 0) {
            Qice_els[k] = glacierphys::LinearStorageStep(Qice_els[k], kice_els, iceInflow[k] / G);
            Qfirn_els[k] = glacierphys::LinearStorageStep(Qfirn_els[k], kfirn_els, firnInflow[k] / G);
            Qsnow_els[k] = glacierphys::LinearStorageStep(Qsnow_els[k], ksnow_els, snowInflow[k] / G);
        } else {
            Qice_els[k] = Qfirn_els[k] = Qsnow_els[k] = 0;
        }
        const double runoff = (Qice_els[k] + Qfirn_els[k] + Qsnow_els[k]) * G;
        if (statGlacierMelt && statGlacierMelt->IsOn()) statGlacierMelt->AddValue(0, 0, s, runoff, a);
        if (runoffTarget && runoffTarget[0]) runoffTarget[0][s] = runoff;
    }
}
