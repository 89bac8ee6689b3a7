// Glaciers of the snow model: the section "[ice_firn]" and its checks, the
// melt grids and per-subbasin writers, the glacier branch of a cell's step,
// the glacier statistics and the three linear runoff storages per subbasin.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <initializer_list>
#include <string>
#include <variant>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/state_checks.h"
#include "framework/zonalstatistic.h"
#include "setup/control_text.h"
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

    // Melt factors and storage constants finite and within what a glacier
    // can show, albedos within 0 to 1; the initial storages not negative.
    auto ranged = [&](double& target, double lowest, double highest, const char* description) {
        ReadValueInRange(ControlFile, &target, lowest, highest, description, &LineBuffer);
    };
    ranged(DDFice, 0, 1e3, "DDFice  for ");
    ranged(DDFfirn, 0, 1e3, "DDFfirn for ");
    ranged(DDFsnow, 0, 1e3, "DDFsnow for ");
    ranged(MF, 0, 1e3, "MF  for ");
    ranged(Aice_min, 0, 1, "Aice_min for ");
    ranged(Aice_max, 0, 1, "Aice_max for ");
    ranged(Asnow_min, 0, 1, "Asnow_min for ");
    ranged(Asnow_max, 0, 1, "Asnow_max for ");
    ranged(kice_els, -1e6, 1e6, "kice_els for ");
    ranged(kfirn_els, -1e6, 1e6, "kfirn_els ");
    ranged(ksnow_els, -1e6, 1e6, "ksnow_els for ");
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
        ranged(Qice_els[1], 0, 1e6, "initial Qice_els for ");
        ranged(Qfirn_els[1], 0, 1e6, "initial Qfirn_els ");
        ranged(Qsnow_els[1], 0, 1e6, "initial Qsnow_els for ");
    } else {
        double unused = 0;
        ranged(unused, 0, 1e6, "initial Qice_els for ");
        ranged(unused, 0, 1e6, "initial Qfirn_els ");
        ranged(unused, 0, 1e6, "initial Qsnow_els for ");
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
        int readGrids = 0;
        ReadIntegerLine(readGrids, "read grid parameter for glacier model ");
        const std::string head = "FATAL: \n------------- Fatal Error: -------------\n";
        // Each of the next three lines holds several values; a line that
        // lacks one is an error, not a reason to read on into the next line.
        std::string line;
        int firnLevels = 0;
        double firnBase = 0, deltaFirn = 0;
        // The values of a line are whole words; anything after them is free text.
        auto words = [&](std::initializer_list<std::variant<int*, double*>> targets) {
            std::string_view rest = line;
            for (const auto& target : targets) {
                std::string word;
                size_t end = 0;
                if (!controltext::ScanWord(rest, &word, &end)) return false;
                rest = rest.substr(end);
                if (const auto* i = std::get_if<int*>(&target)) {
                    size_t digits = 0;
                    if (!controltext::ScanInt(word, *i, &digits) || digits != word.size()) return false;
                } else {
                    double v = 0;
                    if (!controltext::ScanWholeDouble(word, &v) || !std::isfinite(v) || std::fabs(v) > 1e6) return false;
                    *std::get<double*>(target) = v;
                }
            }
            return true;
        };
        ReadRestOfLine(f, &line);
        if (!words({&firnLevels, &firnBase, &deltaFirn})) {
            ThrowFatal(head + "Could not read the three parameters firn_levels (int),\n" +
                           "firn_base (double), and deltafirnper100m (double)  \n" + "for dynamic glacier modelling ",
                       80);
        }
        int evalDay = 0, evalMonth = 0;
        ReadRestOfLine(f, &line);
        if (!words({&evalDay, &evalMonth})) {
            ThrowFatal(head + "Could not read the two parameters GMBEvalDay (int 1...31)\n" +
                           "and GMBEvalMonth (int 1..12) for dynamic glacier modelling ",
                       80);
        }
        double scaling = 0, exponent = 0;
        int bands = 0, extraWeight = 0;
        ReadRestOfLine(f, &line);
        if (!words({&scaling, &exponent, &bands, &extraWeight})) {
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
        firn_levels = firnLevels;
        firn_base = firnBase;
        deltafirnper100m = deltaFirn;
        GMBEvalDay = evalDay;
        GMBEvalMonth = evalMonth;
        VAscaling = scaling;
        VAexponent = exponent;
        numElevBands = bands;
        extraWeightFactorBand0 = extraWeight;
        readGlacierGrids = readGrids;
        auto gridLines = [&](OutputLine& line, const char* name, const char* code) {
            ReadWordLine(line.Grid, name);
            ReadIntegerLine(line.WriteCode, code);
        };
        gridLines(firnStackLine, "name of the firn stack for ", "write code for the firn stack in ");
        ReadStatisticsLine(firnStatLine, "name of the firn-statistic-file for ");
        gridLines(massBalanceLine, "name of the glacier mass balance grid for ",
                  "write code for glacier mass balance grid in ");
        gridLines(oldMassBalanceLine, "name of the glacier mass balance grid (old reference) for ",
                  "write code for glacier mass balance grid (old reference) in ");
        ReadStatisticsLine(massBalanceStatLine, "name of the glacier mass balance statistics file (1) for ");
        ReadStatisticsLine(massBalanceGlacierStatLine, "name of the glacier mass balance statistics file (2) for ");
        ranged(globalDebrisFactor, 0, 1e3,
                     "global debris scaling factor (requirede when using a debris_on_glaciers grid) ");
        ReadStatisticsLine(noGlacierLine, "name of the sow statistics for snow on glacier for ");
        gridLines(glacierSolidLine,
                  "name of the snow storage grid (solid fraction of WE, glacierized fraction of cell) for ",
                  "write code for snow storage grid (solid fraction of WE, glacierized fraction of cell) in ");
        gridLines(glacierLiquidLine,
                  "name of the snow storage grid (liquid fraction of WE, glacierized fraction of cell) for ",
                  "write code for snow storage grid (liquid fraction of WE, glacierized fraction of cell) in ");
        gridLines(glacierTotalLine, "name of the snow storage grid (total on glacierized fraction of cell) for ",
                  "write code for snow storage grid (total on glacierized fraction of cell) in ");
        gridLines(glacierMeltSnowLine,
                  "name of the snow snow melt grid (incl. rain, total on glacierized fraction of cell) for ",
                  "write code for snow melt grid (incl. rain, total on glacierized fraction of cell) in ");
        gridLines(glacierSurfTempLine,
                  "name of the snow surface temperature grid (incl. rain, total on glacierized fraction of cell) for ",
                  "write code for snow surface temperature  (incl. rain, total on glacierized fraction of cell) in ");
        gridLines(glacierSnowTempLine,
                  "name of the snow temperature grid (incl. rain, total on glacierized fraction of cell) for ",
                  "write code for snow temperature grid (incl. rain, total on glacierized fraction of cell) in ");
        gridLines(glacierEvaporationLine,
                  "name of the snow evaporation grid (incl. rain, total on glacierized fraction of cell) for ",
                  "write code for snow evaporation grid (incl. rain, total on glacierized fraction of cell) in ");
    } else {
        snowOnIceLine.Statistics = SnowOnIceName(glacierMeltLine.Statistics);
        snowOnIceLine.StatisticsCode = glacierMeltLine.StatisticsCode;
    }
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
    if (glacierMethod == 2 || glacierMethod == 12 || glacierMethod == 13) {
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
    if (DynamicGlaciers()) {
        statFirnWE = MakeSubbasinStatistics(firnStatLine, 4, "WE_in_firn_[mm_per_subbasin]");
        statMassBalance = MakeSubbasinStatistics(massBalanceStatLine, 5, "glacier_mass_balance_[mm_per_subbasin]");
        statMassBalanceGlacier =
            MakeSubbasinStatistics(massBalanceGlacierStatLine, 5, "glacier_mass_balance_[mm_GlacierPartOfSubbasin]");
    }
    IceSum.assign(n, 0.0);
    FirnSum.assign(n, 0.0);
    SnowOnIceSum.assign(n, 0.0);
    AreaSum.assign(n, 0.0);
    AreaSumDone = false;
}

zonalstatistic* schneemodellklasse::MakeSubbasinStatistics(const OutputLine& line, int precision,
                                                           const std::string& title) {
    std::vector<ZoneRecord> zones(Subbasins.Records.begin(), Subbasins.Records.end());
    if (zones.empty()) zones.assign(1, ZoneRecord{});
    return CreateOwnedStatistics(std::move(zones), Subbasins.Count, StatisticsTable, StatisticsTableSize,
                                 line.StatisticsCode, precision, line.Statistics, Settings.DefaultOutputDirectory,
                                 title, ModuleName);
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
    if (DynamicGlaciers()) CreateDynamicGlacierGrids();
}

void schneemodellklasse::CreateDynamicGlacierGrids() {
    const bool read = readGlacierGrids == 1;
    auto inSubbasin = [&](int r, int c) { return subbasinGrid && subbasinGrid[r][c] != NoData; };
    auto fresh = [&](double value) {
        double** grid = matrix(1, NRows, 1, NCols, NRows);
        OwnGrids.push_back({0, grid});
        for (int r = 1; r <= NRows; ++r)
            for (int c = 1; c <= NCols; ++c) grid[r][c] = inSubbasin(r, c) ? value : NoData;
        return grid;
    };

    // The firn stack: read, or levels from the elevation above the firn base.
    if (read) {
        firn_levels = ReadStack(firnStackLine.Grid, firnStack);
        if (firn_levels < 1) {
            ThrowFatal("FATAL: the parameter firn_levels of [ice_firn] must be 1 or above. Here: " +
                           std::to_string(firn_levels) + " (the levels of the firn stack " + firnStackLine.Grid + ")",
                       80);
        }
        firnWEGrid = fresh(0);
        for (int r = 1; r <= NRows; ++r)
            for (int c = 1; c <= NCols; ++c) firnWEGrid[r][c] = firnStack[r][c][0];
    } else {
        firnStack = matrix3d(1, NRows, 1, NCols, firn_levels, NRows);
        firnWEGrid = fresh(0);
        for (int r = 1; r <= NRows; ++r)
            for (int c = 1; c <= NCols; ++c) {
                if (inSubbasin(r, c) && glacierFractionGrid[r][c] > 0) {
                    const double level = std::max(0.0, (elevationGrid[r][c] - firn_base) * deltafirnper100m);
                    double sum = 0;
                    for (int k = 1; k <= firn_levels; ++k) {
                        firnStack[r][c][k] = level;
                        sum += level;
                    }
                    firnStack[r][c][0] = sum;
                    firnWEGrid[r][c] = sum;
                } else {
                    for (int k = 0; k <= firn_levels; ++k) firnStack[r][c][k] = NoData;
                    firnWEGrid[r][c] = NoData;
                }
            }
    }
    {
        const int index = FindFreeGridEntry(GridTable, NextEntry);
        StoreGrid(index, firnStackLine.Grid, firnWEGrid, firnStack, firn_levels, "firn_WE_stack",
                  firnStackLine.WriteCode, 1, NRows);
        for (OwnGrid& own : OwnGrids)
            if (own.Data == firnWEGrid) own.Index = index;
        NextEntry = index + 1;
        firnStackIndex = index;
    }

    // Read the way the snow cover's own state grids are read.
    auto state = [&](const OutputLine& line, const char* name, int* index, bool temperature) {
        double** grid = read ? ReadStateGrid(line.Grid, temperature) : fresh(0);
        if (read) {
            statecheck::CheckGrid(*this, statecheck::InputPath(*this, line.Grid), grid, name,
                                  {-statecheck::MaxWaterMm, statecheck::MaxWaterMm});
        }
        *index = Register(grid, line.Grid, name, line.WriteCode);
        return grid;
    };
    if (read) {
        // A hole in one of the two mass-balance grids takes the other's value
        // at the same cell; only holes in both are filled from neighbours.
        double** raw[2] = {nullptr, nullptr};
        double** filled[2] = {nullptr, nullptr};
        const std::string* names[2] = {&massBalanceLine.Grid, &oldMassBalanceLine.Grid};
        for (int k = 0; k < 2; ++k) {
            ReadGrid(*names[k], raw[k], 0, true, false, 0.0, false);
            OwnGrids.push_back({0, raw[k]});
            ReadGrid(*names[k], filled[k], 1, true, false, 0.0, true);
            OwnGrids.push_back({0, filled[k]});
        }
        for (int r = 1; r <= NRows; ++r)
            for (int c = 1; c <= NCols; ++c)
                for (int k = 0; k < 2; ++k) {
                    if (raw[k][r][c] != NoData) continue;
                    const double other = raw[1 - k][r][c];
                    raw[k][r][c] = other != NoData ? other : filled[k][r][c];
                }
        massBalanceGrid = raw[0];
        oldMassBalanceGrid = raw[1];
        massBalanceIndex = Register(massBalanceGrid, massBalanceLine.Grid, "GlacierMassBalance", massBalanceLine.WriteCode);
        oldMassBalanceIndex = Register(oldMassBalanceGrid, oldMassBalanceLine.Grid, "OldGlacierMassBalance",
                                       oldMassBalanceLine.WriteCode);
    } else {
        massBalanceGrid = state(massBalanceLine, "GlacierMassBalance", &massBalanceIndex, false);
        oldMassBalanceGrid = state(oldMassBalanceLine, "OldGlacierMassBalance", &oldMassBalanceIndex, false);
    }
    glacierSolidStorageGrid = state(glacierSolidLine, "SolidSnowStorage_onGlacier", &glacierSolidIndex, false);
    glacierLiquidStorageGrid = state(glacierLiquidLine, "LiquidSnowStorage_onGlacier", &glacierLiquidIndex, false);
    glacierTotalStorageGrid = state(glacierTotalLine, "TotalSnowStorage_onGlacier", &glacierTotalIndex, false);
    if (EnergyBalanceMethod()) {
        glacierSurfTempGrid = state(glacierSurfTempLine, "surftemp_onGlacier", &glacierSurfTempIndex, true);
        glacierSnowTempGrid = state(glacierSnowTempLine, "snowtemp_onGlacier", &glacierSnowTempIndex, true);
    }
    oldGlacierFractionGrid = fresh(0);
    oldGlacierCodeGrid = fresh(0);
    for (int r = 1; r <= NRows; ++r)
        for (int c = 1; c <= NCols; ++c) {
            oldGlacierFractionGrid[r][c] = glacierFractionGrid[r][c];
            oldGlacierCodeGrid[r][c] = glacierCodeGrid[r][c];
        }
    Register(oldGlacierFractionGrid, "GlacierizedCellsOld", "GlacierizedCellsOld", 0);
    Register(oldGlacierCodeGrid, "GlacierCodesOld", "GlacierCodesOld", 0);
    glacierSnowMeltGrid = fresh(0);
    glacierSnowMeltIndex =
        Register(glacierSnowMeltGrid, glacierMeltSnowLine.Grid, "SnowMelt_onGlacier", glacierMeltSnowLine.WriteCode);
    glacierSnowEvaporationGrid = fresh(0);
    glacierSnowEvaporationIndex = Register(glacierSnowEvaporationGrid, glacierEvaporationLine.Grid,
                                           "SnowEvaporation_onGlacier", glacierEvaporationLine.WriteCode);

    BuildGlacierList();
    for (glacierclass& glacier : glaciers) {
        glacier.VolumeFromArea();
        glacier.SetOldVolume(glacier.GetVolume());
        glacier.OldAreaFromOldVolume();
        glacier.CreateBands();
    }
    FindShrinkCandidates(-1);
}

void schneemodellklasse::BuildGlacierList() {
    glaciers.clear();
    glacierIndex.clear();
    if (!glacierFractionGrid || !DynamicGlaciers() || !glacierCodeGrid) return;
    const double cellSize = Settings.CellSize > 0 ? Settings.CellSize : 100.0;
    const double cellArea = cellSize * cellSize / 1e6;
    for (int r = 1; r <= NRows; ++r) {
        int first = 1, last = NCols;
        if (RowExtents) {
            first = std::max(1, RowExtents[r].first);
            last = std::min(static_cast<int>(NCols), RowExtents[r].last);
        }
        for (int c = first; c <= last; ++c) {
            if (!subbasinGrid || subbasinGrid[r][c] == NoData) continue;
            const double g = glacierFractionGrid[r][c];
            if (!(g > 0) || !(glacierCodeGrid[r][c] > 0)) continue;
            const int code = static_cast<int>(glacierCodeGrid[r][c]);
            const int subbasin = static_cast<int>(subbasinGrid[r][c]);
            auto found = glacierIndex.find(code);
            if (found == glacierIndex.end()) {
                found = glacierIndex.emplace(code, glaciers.size()).first;
                glaciers.emplace_back(code, cellSize, 0.0, 0.0, VAscaling, VAexponent, numElevBands,
                                      extraWeightFactorBand0, subbasin);
            }
            glacierclass& glacier = glaciers[found->second];
            if (glacier.subbasin != subbasin) {
                ThrowFatal("FATAL: \n\n=======================================\n!!!! ERROR !!!! \n\nglacier " +
                               std::to_string(code) + " is located in more than one subbasin:\n" +
                               "First cell was found in subbasin " + std::to_string(glacier.subbasin) + ",\n" +
                               "whereas the cell in row " + std::to_string(r) + " and col " + std::to_string(c) +
                               " belongs to subbasin " + std::to_string(subbasin) +
                               ".\nPlease make sure that each single glacier belongs to one specific subbasin only.",
                           84);
            }
            const double z = elevationGrid[r][c];
            if (glacier.cells == 0) {
                glacier.minElevation = glacier.maxElevation = z;
            } else if (firnWEGrid && firnWEGrid[r][c] == 0) {
                glacier.minElevation = std::min(glacier.minElevation, z);
                glacier.maxElevation = std::max(glacier.maxElevation, z);
            }
            ++glacier.cells;
            glacier.area += cellArea * g;
            glacier.oldVolume += (oldMassBalanceGrid[r][c] - massBalanceGrid[r][c]) * g / 1000 * cellArea;
        }
    }
}

void schneemodellklasse::MeltFirnLevels(int row, int col, double F) {
    double r = F;
    for (int k = 1; k <= firn_levels; ++k) {
        double& level = firnStack[row][col][k];
        if (level == NoData) level = 0;
        const double v = level - r;
        if (v >= 0) {
            level = v;
            r = 0;
            break;
        }
        level = 0;
        r = -v;
    }
    // What the firn could not give came from the ice: counted there only.
    if (r > 0) {
        meltFromFirnGrid[row][col] -= r;
        meltFromIceGrid[row][col] += r;
    }
    double sum = 0;
    for (int k = 1; k <= firn_levels; ++k) sum += firnStack[row][col][k];
    firnStack[row][col][0] = sum;
    firnWEGrid[row][col] = sum;
}

double schneemodellklasse::GlacierCell(int row, int col, double T, double* ss, double* sl, double nightWeight,
                                       double dayWeight) {
    const double spd = StepsPerDay;
    const double R = glacierRadiationGrid ? glacierRadiationGrid[row][col] : 0.0;
    const bool pack = glacierSolidStorageGrid != nullptr;  // the glacier part's own pack
    // A cell outside the subbasins has no glacier pack of its own: it starts empty.
    double gss = pack ? glacierSolidStorageGrid[row][col] : 0.0;
    double gsl = pack ? glacierLiquidStorageGrid[row][col] : 0.0;
    if (gss == NoData) gss = 0;
    if (gsl == NoData) gsl = 0;
    double moved = 0, glacierMoved = 0;

    if (glacierMethod != 13) {
        const double P = precipitationGrid[row][col];
        const double f = snowphys::SnowFraction(T, T0R, transzone);
        snowFractionGrid[row][col] = f * P;
        rainFractionGrid[row][col] = (1 - f) * P;
        const double previousTotal = totalStorageGrid[row][col];
        const double previousGlacierTotal = pack ? glacierTotalStorageGrid[row][col] : 0.0;
        *ss += f * P;
        *sl += (1 - f) * P;
        auto melt = [&](double previous) {
            if (!(T > T0) || !(previous > 0)) return 0.0;
            return glacierMethod == 1 || glacierMethod == 11 ? DDFsnow * (T - T0) / spd
                                                             : (MF / spd + Asnow * R) * (T - T0);
        };
        const double outflow = snowphys::Retain(melt(previousTotal), CWH, ss, sl, &moved);
        snowcoverOutflowGrid[row][col] = outflow;
        if (moved > 0) meltFromSnowcoverGrid[row][col] = outflow;
        if (pack) {
            gss += f * P;
            gsl += (1 - f) * P;
            glacierSnowMeltGrid[row][col] = snowphys::Retain(melt(previousGlacierTotal), CWH, &gss, &gsl, &glacierMoved);
        }
    } else {
        // The ice-free part by the snow method, the glacier part with the
        // same partition.
        double scratchTp = 0, scratchTs = 0, scratchEvaporation = 0;
        double* tp = snowTempGrid ? &snowTempGrid[row][col] : &scratchTp;
        double* ts = surfTempGrid ? &surfTempGrid[row][col] : &scratchTs;
        double* evaporation = snowEvaporationGrid ? &snowEvaporationGrid[row][col] : &scratchEvaporation;
        double gScratchTp = 0, gScratchTs = 0;
        double* gtp = glacierSnowTempGrid ? &glacierSnowTempGrid[row][col] : &gScratchTp;
        double* gts = glacierSurfTempGrid ? &glacierSurfTempGrid[row][col] : &gScratchTs;
        double* gEvaporation = &glacierSnowEvaporationGrid[row][col];
        double f = 0, s = 0, gs = 0, melt = 0, glacierMelt = 0;
        if (TimeInterval <= 720) {
            melt = CellSnowBalance(T, 1, row, col, &f, ss, sl, &s, tp, ts, evaporation, false);
            glacierMelt = CellSnowBalance(T, 1, row, col, &f, &gss, &gsl, &gs, gtp, gts, gEvaporation, true);
        } else {
            const double Tn = nightTemperatureGrid[row][col];
            melt = CellSnowBalance(Tn, nightWeight, row, col, &f, ss, sl, &s, tp, ts, evaporation, false);
            glacierMelt = CellSnowBalance(Tn, nightWeight, row, col, &f, &gss, &gsl, &gs, gtp, gts, gEvaporation, true);
            melt += CellSnowBalance(T, dayWeight, row, col, &f, ss, sl, &s, tp, ts, evaporation, false);
            glacierMelt += CellSnowBalance(T, dayWeight, row, col, &f, &gss, &gsl, &gs, gtp, gts, gEvaporation, true);
        }
        const double outflow = snowphys::Retain(melt, CWH, ss, sl, &moved);
        snowcoverOutflowGrid[row][col] = outflow;
        if (moved > 0) meltFromSnowcoverGrid[row][col] = outflow;
        glacierSnowMeltGrid[row][col] = snowphys::Retain(glacierMelt, CWH, &gss, &gsl, &glacierMoved);
    }
    if (pack) {
        glacierSolidStorageGrid[row][col] = gss;
        glacierLiquidStorageGrid[row][col] = gsl;
    }

    // Ice and firn melt once no solid snow covers them; the step's snow melt
    // on them counts against their melt. The static methods keep no glacier
    // pack: the whole cell is glacier and its own pack covers the ice.
    const double cover = pack ? gss : *ss;
    const double mg = std::max(0.0, pack ? glacierMoved : moved);
    if (!(T > T0) || cover > 0) return 0;
    const double phi = debrisGrid ? glacierphys::DebrisFactor(debrisGrid[row][col], NoData) : 1.0;
    const bool degreeDay = glacierMethod == 1 || glacierMethod == 11;
    auto iceMelt = [&]() {
        return degreeDay ? phi * globalDebrisFactor * DDFice * (T - T0) / spd - mg
                         : phi * globalDebrisFactor * glacierphys::RadiationIceMelt(MF, Aice, R, T, T0, spd, 0) - mg;
    };
    auto firnMelt = [&]() {
        return degreeDay ? glacierphys::DegreeDayIceMelt(DDFfirn, T, T0, spd, mg)
                         : glacierphys::RadiationIceMelt(MF, Asnow, R, T, T0, spd, mg);
    };
    if (!DynamicGlaciers()) {
        const double raw = glacierFractionGrid[row][col];
        if (raw == 1) {
            const double I = iceMelt();
            if (I > 0) meltFromIceGrid[row][col] = I;
        } else if (raw == 2) {
            const double F = firnMelt();
            if (F > 0) meltFromFirnGrid[row][col] += F;
        }
        return 0;
    }
    double removal = 0;
    if (firnWEGrid[row][col] > 0) {
        const double F = firnMelt();
        if (F > 0) {
            meltFromFirnGrid[row][col] += F;
            removal = F;
        }
    } else {
        const double I = iceMelt();
        if (I > 0) meltFromIceGrid[row][col] = I;
    }
    MeltFirnLevels(row, col, removal);
    return 0;
}

// After the slides, in the statistics pass over the rows: the snow storage
// without glaciers and the per-subbasin melt, gathered per row (see
// zonalstatistic_rows.h). The runoff storages take their inflow from private
// sums, whatever the writers' codes and intervals: every row lists its
// glacier cells' melt terms, which are added in row order at the end, cell
// by cell as one pass over the grid would add them.
void schneemodellklasse::StartGlacierStatistics() {
    std::fill(IceSum.begin(), IceSum.end(), 0.0);
    std::fill(FirnSum.begin(), FirnSum.end(), 0.0);
    std::fill(SnowOnIceSum.begin(), SnowOnIceSum.end(), 0.0);
    if (!AreaSumDone) {
        std::fill(AreaSum.begin(), AreaSum.end(), 0.0);
        for (int r = 1; r <= NRows; ++r)
            for (int c = 1; c <= NCols; ++c) {
                if (!ActiveCell(r, c)) continue;
                const int s = SubbasinPosition(r, c);
                if (s <= 0) continue;
                double area = 1;
                if (RelCellArea && RelCellArea[r][c] > NoData) area = RelCellArea[r][c];
                AreaSum[static_cast<size_t>(s)] += area;
            }
        AreaSumDone = true;
    }
    GlacierRowTerms.resize(static_cast<size_t>(NRows) + 1);
    auto on = [](zonalstatistic* w) { return w && w->IsOn() ? w : nullptr; };
    GlacierWriters& w = GlacierWritersOn;
    w.NoGlacier = on(statSnowStorageNoGlacier);
    zonalstatistic* zero[5] = {statFirnMelt, statIceMelt, statSnowOnIceMelt, statFirnWE, statMassBalance};
    zonalstatistic* melt[3] = {statFirnMelt, statIceMelt, statSnowOnIceMelt};
    zonalstatistic* dynamic[3] = {statFirnWE, statMassBalance, statMassBalanceGlacier};
    for (int k = 0; k < 5; ++k) w.Zero[k] = on(zero[k]);
    for (int k = 0; k < 3; ++k) w.Melt[k] = on(melt[k]);
    for (int k = 0; k < 3; ++k) w.Dynamic[k] = on(dynamic[k]);
}

bool schneemodellklasse::AddGlacierStatisticsRow(int r) {
    const GlacierWriters& writers = GlacierWritersOn;
    std::vector<GlacierMeltTerms>& terms = GlacierRowTerms[static_cast<size_t>(r)];
    terms.clear();
    bool stored = true;
    for (int c = 1; c <= NCols; ++c) {
        if (!ActiveCell(r, c)) continue;
        const double g = GlacierShare(r, c);
        if (writers.NoGlacier) {
            const int zone = ZoneRankOfCell(r, c);
            writers.NoGlacier->AddToRow(r, c, zone, solidStorageGrid[r][c] + liquidStorageGrid[r][c], 1 - g);
            writers.NoGlacier->AddToRow(r, c, zone, 0, g);
        }
        const int s = SubbasinPosition(r, c);
        if (s <= 0) continue;
        double area = 1;
        if (RelCellArea && RelCellArea[r][c] > NoData) area = RelCellArea[r][c];
        if (g <= 0) {
            for (zonalstatistic* w : writers.Zero)
                if (w) w->AddToRow(r, c, s, 0, 1);
            continue;
        }
        // Snow melt of the glacier pack goes with the firn where firn
        // lies, else with the snow on the ice. A fixed glacier has no
        // pack of its own: the cell's snow cover lies on the ice, and
        // what leaves it there runs off over the ice (the soil model
        // takes water only on the ice-free share of a cell).
        const double packMelt = glacierSnowMeltGrid ? glacierSnowMeltGrid[r][c]
                                : snowcoverOutflowGrid ? snowcoverOutflowGrid[r][c]
                                                       : 0.0;
        const double phiF = firnWEGrid && firnWEGrid[r][c] > 0 ? 1.0 : 0.0;
        const double firn = meltFromFirnGrid[r][c] + phiF * packMelt, ice = meltFromIceGrid[r][c];
        const double snowOnIce = (1 - phiF) * packMelt;
        try {
            terms.push_back(
                GlacierMeltTerms{static_cast<size_t>(s), firn * g * area, ice * g * area, snowOnIce * g * area});
        } catch (...) {
            stored = false;
        }
        const double values[3] = {firn, ice, snowOnIce};
        for (int w = 0; w < 3; ++w) {
            if (!writers.Melt[w]) continue;
            writers.Melt[w]->AddToRow(r, c, s, values[w], g);
            writers.Melt[w]->AddToRow(r, c, s, 0, 1 - g);
        }
        if (!DynamicGlaciers()) continue;
        double& balance = massBalanceGrid[r][c];
        balance += snowFractionGrid[r][c] + rainFractionGrid[r][c] - packMelt - meltFromFirnGrid[r][c] -
                   meltFromIceGrid[r][c];
        if (inputMassGrid) balance += depositionGrid[r][c] + mobileMassGrid[r][c] - inputMassGrid[r][c];
        if (glacierSnowEvaporationGrid) balance -= glacierSnowEvaporationGrid[r][c];
        const double dynamicValues[3] = {firnWEGrid[r][c], balance, balance};
        for (int w = 0; w < 3; ++w)
            if (writers.Dynamic[w]) writers.Dynamic[w]->AddToRow(r, c, s, dynamicValues[w], g);
        for (int w = 0; w < 2; ++w)
            if (writers.Dynamic[w]) writers.Dynamic[w]->AddToRow(r, c, s, 0, 1 - g);
    }
    return stored;
}

void schneemodellklasse::FinishGlacierStatistics(bool outOfMemory) {
    if (outOfMemory) ThrowFatal("FATAL: no free memory for the glacier melt of a step", 1);
    for (int r = 1; r <= NRows; ++r)
        for (const GlacierMeltTerms& t : GlacierRowTerms[static_cast<size_t>(r)]) {
            FirnSum[t.Subbasin] += t.Firn;
            IceSum[t.Subbasin] += t.Ice;
            SnowOnIceSum[t.Subbasin] += t.SnowOnIce;
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

double schneemodellklasse::StoredGlacierRunoff(int s) const {
    const size_t k = static_cast<size_t>(s);
    if (s < 1 || k >= glacierAreas.size() || k >= AreaSum.size() || k >= Qice_els.size()) return 0;
    const SubbasinGlacierArea& area = glacierAreas[k];
    const double cells = area.freeCells + area.glacierCells;
    if (!area.hasGlacier || !(cells > 0)) return 0;
    const double G = area.glacierCells / cells;
    const double held = glacierphys::StoredWater(Qice_els[k], kice_els) + glacierphys::StoredWater(Qfirn_els[k], kfirn_els) +
                        glacierphys::StoredWater(Qsnow_els[k], ksnow_els);
    return held * G * AreaSum[k];
}
