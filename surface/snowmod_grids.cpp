// The grids of the snow model's set-up: state grids (new or read for a warm
// start), the slide grids with the deposition capacity and the elevation
// order, the output grids and the permafrost set-up.

#include <algorithm>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/state_checks.h"
#include "framework/zonalstatistic.h"
#include "surface/snowmod.h"
#include "surface/snowmod_physics.h"

std::vector<ElevationOrderCell> SortByElevation(double** zone, double** elevation, int rows, int cols,
                                                double noData) {
    std::vector<ElevationOrderCell> cells;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c)
            if (zone[r][c] != noData) cells.push_back({r, c, elevation[r][c]});
    std::stable_sort(cells.begin(), cells.end(), ElevationOrderCell::LessByElevation);
    return cells;
}

double** schneemodellklasse::NewGrid(double activeValue, double inactiveValue) {
    double** grid = matrix(1, NRows, 1, NCols, NRows);
    OwnGrids.push_back({0, grid});
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(static_cast<int64_t>(NRows) * NCols))
    for (int r = 1; r <= NRows; ++r)
        for (int c = 1; c <= NCols; ++c) grid[r][c] = ZoneCell(r, c) ? activeValue : inactiveValue;
    return grid;
}

int schneemodellklasse::Register(double** grid, const std::string& fileName, const std::string& name, int writeCode) {
    const int index = FindFreeGridEntry(GridTable, NextEntry);
    StoreGrid(index, fileName, grid, nullptr, 1, name, writeCode, 1, NRows);  // code 12 past entry 999
    for (OwnGrid& own : OwnGrids)
        if (own.Data == grid) own.Index = index;
    NextEntry = index + 1;
    return index;
}

// A state grid of a warm start: storages fill holes from their neighbours.
// A temperature without a value is a pack's unset temperature (the pack was
// empty when the earlier run ended) and stays unset, so that returning snow
// starts from the air temperature exactly as it would have in one long run;
// filling such cells with 273.16 K made a warm start drift from it.
double** schneemodellklasse::ReadStateGrid(const std::string& fileName, bool temperature) {
    double** grid = nullptr;
    if (temperature)
        ReadGrid(fileName, grid, 0, true, false, 0.0, false);
    else
        ReadGrid(fileName, grid, 1, true, false, 0.0, true);
    OwnGrids.push_back({0, grid});
    return grid;
}

void schneemodellklasse::CreateStateGrids() {
    const bool read = readStorageGrids == 1;
    // What a warm start reads is checked against what it can be: storages
    // and counts not negative, temperatures of a pack (K) within physical
    // bounds.
    auto state = [&](const OutputLine& line, const char* name, int* index, const char* what) {
        double** grid = read ? ReadStateGrid(line.Grid, false) : NewGrid(0, NoData);
        if (read) {
            statecheck::CheckGrid(*this, statecheck::InputPath(*this, line.Grid), grid, what,
                                  {0, statecheck::MaxWaterMm});
        }
        *index = Register(grid, line.Grid, name, line.WriteCode);
        return grid;
    };
    solidStorageGrid = state(solidLine, "snowstorage_solid", &solidIndex, "solid snow storage [mm]");
    liquidStorageGrid = state(liquidLine, "snowstorage_liquid", &liquidIndex, "liquid snow storage [mm]");
    totalStorageGrid = state(totalLine, "snow_storage_total", &totalIndex, "total snow storage [mm]");
    snowDaysGrid = state(snowDaysLine, "days_snow", &daysIndex, "number of snow days");
    snowAgeGrid = state(snowAgeLine, "snow_age", &ageIndex, "snow age");
    if (EnergyBalanceMethod()) {
        auto temperature = [&](const OutputLine& line, const char* name, int* index) {
            double** grid = read ? ReadStateGrid(line.Grid, true) : NewGrid(NoData, NoData);
            if (read) {
                statecheck::CheckGrid(*this, statecheck::InputPath(*this, line.Grid), grid, "temperature [K]",
                                      {273.15 + statecheck::MinTemperatureC, 273.15 + statecheck::MaxTemperatureC});
            }
            *index = Register(grid, line.Grid, name, line.WriteCode);
            return grid;
        };
        snowTempGrid = temperature(snowTempLine, "snowtemp", &snowTempIndex);
        surfTempGrid = temperature(surfTempLine, "surftemp", &surfTempIndex);
    }
}

void schneemodellklasse::CreateSlideGrids() {
    const int supplied = FindGrid("max_deposition");
    if (supplied > 0 && GridTable[supplied].Data) {
        maxDepositionGrid = GridTable[supplied].Data;
    } else {
        maxDepositionGrid = NewGrid(0, NoData);
#pragma omp parallel for schedule(static, 1) if (WorthThreads(static_cast<int64_t>(NRows) * NCols))
        for (int r = 1; r <= NRows; ++r)
            for (int c = 1; c <= NCols; ++c)
                if (ZoneCell(r, c))
                    maxDepositionGrid[r][c] =
                        snowphys::DepositionCapacity(maxDepositionFactor, slopeAngleGrid[r][c], maxDepositionSlope);
        maxDepositionIndex = Register(maxDepositionGrid, "", "max_deposition", 0);
    }

    elevOrderRowGrid = NewGrid(NoData, NoData);
    elevOrderColGrid = NewGrid(NoData, NoData);
    const std::vector<ElevationOrderCell> order = SortByElevation(ZoneGrid, elevationGrid, NRows, NCols, NoData);
    size_t k = 0;
    for (int r = 1; r <= NRows; ++r)
        for (int c = 1; c <= NCols; ++c)
            if (ZoneCell(r, c) && k < order.size()) {
                elevOrderRowGrid[r][c] = order[k].row;
                elevOrderColGrid[r][c] = order[k].col;
                ++k;
            }
    orderRowIndex = Register(elevOrderRowGrid, "", "elev_order_row", 0);
    orderColIndex = Register(elevOrderColGrid, "", "elev_order_col", 0);

    inputMassGrid = NewGrid(0, NoData);
    inputMassIndex = Register(inputMassGrid, inputMassLine.Grid, "input_mass", inputMassLine.WriteCode);
    mobileMassGrid = NewGrid(0, NoData);
    mobileMassIndex = Register(mobileMassGrid, mobileMassLine.Grid, "mobile_mass", mobileMassLine.WriteCode);
    depositionGrid = NewGrid(0, NoData);
    depositionIndex = Register(depositionGrid, depositionLine.Grid, "deposition", depositionLine.WriteCode);
}

void schneemodellklasse::CreateOutputGrids() {
    snowFractionGrid = NewGrid(0, NoData);
    snowFractionIndex = Register(snowFractionGrid, snowLine.Grid, "snow_fraction", snowLine.WriteCode);
    rainFractionGrid = NewGrid(0, NoData);
    rainFractionIndex = Register(rainFractionGrid, rainLine.Grid, "rain_fraction", rainLine.WriteCode);
    snowcoverOutflowGrid = NewGrid(0, NoData);
    outflowIndex = Register(snowcoverOutflowGrid, outflowLine.Grid, "snowcover_outflow", outflowLine.WriteCode);
    meltFromSnowcoverGrid = NewGrid(0, NoData);
    meltIndex = Register(meltFromSnowcoverGrid, meltOnlyLine.Grid, "melt_from_snowcover", meltOnlyLine.WriteCode);
}

void schneemodellklasse::SetUpPermafrost() {
    auto dayCount = [&](const char* name) {
        double** found = OptionalGrid(name);
        if (found) return found;
        double** grid = NewGrid(0, NoData);
        Register(grid, "", name, 0);
        return grid;
    };
    snowFreeDaysGrid = dayCount("SnowFreeDaysGrid");
    snowCoverDaysGrid = dayCount("SnowCoverDaysGrid");
    thawCoeffGrid = RequiredGrid("ThawCoeffPermaFrost");
    thawDepthGrid = RequiredGrid("PermafrostThawDepth");
    rootDepthGrid = RequiredGrid("root_depth1");

    ControlFile = std::fopen(ControlFilePath.c_str(), "rt");
    if (!ControlFile) ThrowFatal("FATAL: error opening " + ControlFilePath, 28);
    FindSection("[permafrost]", true);
    FILE* f = ControlFile;
    ReadValue(f, "%d", &permafrostMethod, "Permafrost-Method for ", &LineBuffer);
    if (permafrostMethod != 1) ThrowFatal("FATAL: method for permafrost melt must be 1 (alpha*sqrt(time))", 80);
    ReadValue(f, "%lf", &Min_Snow_Age_Refreeze, "Min_Snow_Age_Refreeze for ", &LineBuffer);
    ReadValue(f, "%lf", &Max_SWE_SnowFree, "Max_SWE_SnowFree for ", &LineBuffer);
    if (!ReadWord(f, &thawDepthLine.Statistics)) ControlFileError("name of thaw depth statistics file ", ModuleName);
    ReadValue(f, "%d", &thawDepthLine.StatisticsCode, "name of thaw depth statistics file ", &LineBuffer);
    ReadValue(f, "%lf", &reducedKsat, "reduced k_sat (in m/s)", &LineBuffer);
    statThawDepth = MakeStatistics(thawDepthLine, 4, "thaw_depth_in_m_");
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) ThrowFatal("FATAL: cannot close " + ControlFilePath, 11);
    permafrost = true;
}
