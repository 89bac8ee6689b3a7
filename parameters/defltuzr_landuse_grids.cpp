// Creation of the daily land-use parameter grids and their start values.
// The per-step update and the dynamic phenology are in
// defltuzr_landuse_grids_update.cpp.

#include "parameters/defltuzr_landuse_grids.h"

#include <cmath>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/zonetable.h"
#include "parameters/defltuzr_landuse_grids_rows.h"

const char* const LanduseParameterGrids::LayerGridNames[LayerGridCount] = {
    "root_depth",         "vegetation_coverage_degree", "leaf_area_index",   "SurfaceCanopyResistance",
    "SurfaceIntercepResistance", "RoughnessLength",     "VegetationStart",   "VegetationStop",
    "VegetationDuration", "SumOfForcingUnits",          "Pheno_start",       "SumOfChillingUnits",
    "FStar_ForcingThreshold"};

namespace {

bool IsDynamicMethod(int method) {
    return method >= LanduseMethodDynamicPhenology1 && method <= LanduseMethodDynamicPhenology4;
}

// Methods whose start of the season is the dynamic start of the cell.
bool HasDynamicStart(int method) {
    return method == LanduseMethodDynamicPhenology1 || method == LanduseMethodDynamicPhenology2 ||
           method == LanduseMethodDynamicPhenology4;
}

// The records of the dynamic methods come from the table reader, which
// guarantees their lists; anything else is a broken caller.
void CheckDynamicRecord(const LanduseType& R) {
    const size_t n = static_cast<size_t>(R.FixPointCount);
    const bool listsOk = R.FixPointCount >= 1 && R.JulDays.size() > n && R.AltDep.size() > n &&
                         (R.Method != LanduseMethodDynamicPhenology3 || R.ForcingThreshold.size() > n);
    if (!listsOk) RuvexInvariantFailure("land-use record of a dynamic method without its fix points", __FILE__, __LINE__);
}

}  // namespace

LanduseParameterGrids::LanduseParameterGrids(modelobject& setup) : Setup(setup) {}

LanduseParameterGrids::~LanduseParameterGrids() {
    if (!Released) FreeCreated(false);
}

// ----- cell tests -------------------------------------------------------------------

bool LanduseParameterGrids::InsideZone(int row, int col) const { return Zone[row][col] > Setup.NoData; }

bool LanduseParameterGrids::Own(int row, int col) const {
    return !Regions || Regions[row][col] == static_cast<double>(Setup.ProcessNumber);
}

int LanduseParameterGrids::Position(double layerValue) const {
    const int entries = Table ? static_cast<int>(Table->size()) - 1 : 0;
    // NaN fails both comparisons and so has no land use either.
    if (!(layerValue > Setup.NoData) || !(layerValue >= 1.0) || !(layerValue < entries + 1.0)) return 0;
    return static_cast<int>(layerValue);
}

int LanduseParameterGrids::FirstColumn(int row) const {
    if (!Setup.RowExtents) return 1;
    return Setup.RowExtents[row].first < 1 ? 1 : Setup.RowExtents[row].first;
}

int LanduseParameterGrids::LastColumn(int row) const {
    if (!Setup.RowExtents) return Setup.NCols;
    return Setup.RowExtents[row].last > Setup.NCols ? Setup.NCols : Setup.RowExtents[row].last;
}

int64_t LanduseParameterGrids::ValidCells() const {
    int64_t cells = 0;
    for (int r = 1; r <= Setup.NRows; ++r) {
        const int first = FirstColumn(r), last = LastColumn(r);
        if (last >= first) cells += last - first + 1;
    }
    return cells;
}

int LanduseParameterGrids::ModelDayOfYear(long day, long month) const {
    if (month < 1 || month > 12) throw 150;
    long dayOfYear = day;
    for (long m = 1; m < month; ++m) dayOfYear += Setup.DaysPerMonth[m];
    return static_cast<int>(dayOfYear);
}

// ----- grid-table entries -------------------------------------------------------------

int LanduseParameterGrids::TakeFreeEntry() {
    const int entry = FindFreeGridEntry(Setup.GridTable, NextFreeEntry);
    if (entry == NoFreeGridEntry && Created.empty()) {
        if (Setup.Writer) {
            *Setup.Writer << "FATAL: no free grid found in memory (at position " << NoFreeGridEntry << ")\n"
                          << "[end-entry]";
        }
        throw 12;
    }
    // A later grid that finds no entry ends the run when it is stored.
    NextFreeEntry = entry + 1;
    return entry;
}

double** LanduseParameterGrids::FindOrCreateGrid(const std::string& name, int* index) {
    const int found = Setup.FindGrid(name);
    if (found > 0) {
        *index = found;
        return Setup.GridTable[found].Data;
    }
    const int entry = TakeFreeEntry();
    double** grid = Setup.matrix(1, Setup.NRows, 1, Setup.NCols, Setup.NRows);
    Created.push_back({entry, grid, nullptr});
    Setup.StoreGrid(entry, name, grid, nullptr, 1, name, 0, 1, Setup.NRows);
    ++*GridCount;
    *index = entry;
    return grid;
}

GridStack LanduseParameterGrids::FindOrCreateStack(const std::string& name, int levels, int* index, bool* created) {
    // A stack stored without a matrix is found by its name alone.
    const int found = FindGridEntry(Setup.GridTable, name, false);
    if (found > 0) {
        const MemoryGrid& entry = Setup.GridTable[found];
        if (!entry.Stack || entry.NumLevels < levels) {
            if (Setup.Writer) {
                *Setup.Writer << "FATAL: the grid " << name << " cannot hold the sample days of the fix points: "
                              << "a stack with the levels 0 to " << levels << " is needed, it holds "
                              << (entry.Stack ? entry.NumLevels : -1) << " as its top level" << "[end-entry]";
            }
            throw 22;
        }
        *index = found;
        *created = false;
        return entry.Stack;
    }
    const int entry = TakeFreeEntry();
    GridStack stack = Setup.matrix3d(1, Setup.NRows, 1, Setup.NCols, levels, Setup.NRows);
    Created.push_back({entry, nullptr, stack});
    Setup.StoreGrid(entry, name, nullptr, stack, levels, name, 3, 1, Setup.NRows);
    ++*GridCount;
    *index = entry;
    *created = true;
    return stack;
}

void LanduseParameterGrids::CreateMovingMean() {
    const std::string name = "TemperatureMOVAVG7";
    const int found = Setup.FindGrid(name);
    if (found > 0) {
        const MemoryGrid& entry = Setup.GridTable[found];
        if (!entry.Stack || entry.NumLevels < 7) {
            if (Setup.Writer) {
                *Setup.Writer << "FATAL: the grid " << name << " cannot hold the daily mean temperatures: "
                              << "a stack with the levels 0 to 8 is needed" << "[end-entry]";
            }
            throw 22;
        }
        MovingMeanIndex = found;
        MovingMean = entry.Data;
        MovingMeanStack = entry.Stack;
        return;
    }
    const int entry = TakeFreeEntry();
    const long rows = Setup.NRows, cols = Setup.NCols;
    double** grid = Setup.matrix(1, rows, 1, cols, rows);
    Created.push_back({entry, grid, nullptr});
    GridStack stack = Setup.matrix3d(1, rows, 1, cols, 8, rows);
    Created.back().Stack = stack;
    const int writeCode = Setup.GridTable[TemperatureSumIndex].UnitsDigit;
    Setup.StoreGrid(entry, name, grid, stack, 8, name, writeCode, 1, rows);
    // The mean is kept beside the stack; level 1 is not the grid's value.
    Setup.GridTable[entry].OwnData = 1;
    ++*GridCount;
    MovingMeanIndex = entry;
    MovingMean = grid;
    MovingMeanStack = stack;
    const double noData = Setup.NoData;
    ForEachRow(1, Setup.NRows, ValidCells(), [&](int r) {
        for (int c = 1; c <= Setup.NCols; ++c) {
            const double start = Zone[r][c] != noData ? 0.0 : noData;
            grid[r][c] = start;
            for (int level = 0; level <= 7; ++level) stack[r][c][level] = start;
        }
    });
}

void LanduseParameterGrids::InitialSampleDays(int layer, GridStack stack, long startDay, long startMonth) {
    const int L = LargestFixPoints;
    const double noData = Setup.NoData;
    const int d = ModelDayOfYear(startDay, startMonth);
    double** cells = LayerCells[layer];
    ForEachRow(1, Setup.NRows, ValidCells(), [&](int r) {
        for (int c = 1; c <= Setup.NCols; ++c) {
            double* P = stack[r][c];
            const int position = (Zone[r][c] != noData && Own(r, c)) ? Position(cells[r][c]) : 0;
            if (position == 0) {
                for (int m = 1; m <= L; ++m) P[m] = noData;
                continue;
            }
            const LanduseType& R = (*Table)[position];
            const int n = R.FixPointCount;
            const bool method5 = R.Method == LanduseMethodDynamicPhenology3;
            P[0] = 0;
            for (int m = 1; m <= L; ++m) {
                if (m > n) {
                    P[m] = noData;
                } else if (method5 && R.ForcingThreshold[m] >= 0 && d < R.JulDays[m]) {
                    P[m] = -1;  // still to be found by its forcing threshold
                } else {
                    const double altitude = Elevation[r][c];
                    P[m] = R.JulDays[m] + std::trunc((altitude - 400) * R.AltDep[m]);
                }
                if (m <= n && method5 && d >= R.JulDays[m] && R.ForcingThreshold[m] > 0) {
                    P[0] = R.ForcingThreshold[m];
                }
            }
        }
    });
}

// ----- creation -------------------------------------------------------------------------

void LanduseParameterGrids::generateMultiLayerParameterGrids(int layerCount, std::vector<LanduseType>& landuseTable,
                                                             double** const* layerGrids, long startDay,
                                                             long startMonth, long startYear, int& setupGridCount) {
    if (Setup.Writer) *Setup.Writer << "1" << "[end-entry]";
    Table = &landuseTable;
    if (!layerGrids || layerCount < 1) return;
    if (!Setup.GridTable || !Setup.GridTable[1].Data || !Setup.GridTable[2].Data) {
        RuvexInvariantFailure("land-use parameter grids without zone grid and elevation model", __FILE__, __LINE__);
    }
    Layers = layerCount;
    LayerCells.assign(static_cast<size_t>(Layers) + 1, nullptr);
    for (int k = 1; k <= Layers; ++k) {
        if (!layerGrids[k]) RuvexInvariantFailure("missing land-use layer grid", __FILE__, __LINE__);
        LayerCells[k] = layerGrids[k];
    }
    Zone = Setup.GridTable[1].Data;
    Elevation = Setup.GridTable[2].Data;
    const int regions = Setup.FindGrid("MPIRegions");
    Regions = regions > 0 ? Setup.GridTable[regions].Data : nullptr;
    GridCount = &setupGridCount;

    // What the table asks for: the largest fix-point count and the methods.
    std::vector<LanduseType>& table = landuseTable;
    for (size_t i = 1; i < table.size(); ++i) {
        const LanduseType& R = table[i];
        if (R.FixPointCount > LargestFixPoints) LargestFixPoints = R.FixPointCount;
        if (IsDynamicMethod(R.Method)) {
            CheckDynamicRecord(R);
            DynamicPhenology = true;
        }
        if (R.Method == LanduseMethodDynamicPhenology3 || R.Method == LanduseMethodDynamicPhenology4) {
            MultipleStartTimes = true;
        }
    }
    for (size_t i = 1; i < table.size(); ++i) {
        if (HasDynamicStart(table[i].Method)) {
            table[i].CheckMaxStartDay(static_cast<int>(startDay), static_cast<int>(startMonth),
                                      static_cast<int>(startYear));
        }
    }

    AlbedoIndex = Setup.FindGrid("albedo");
    if (AlbedoIndex == 0) {
        if (Setup.Writer) {
            *Setup.Writer << "FATAL: Albedo Grid not found for use within Landuse-Table.\n This grid must be read in "
                             "as standard or variable grid (there, it can be created automatically)"
                          << "[end-entry]";
        }
        throw 12;
    }
    Albedo = Setup.GridTable[AlbedoIndex].Data;
    EvaporationResistance = FindOrCreateGrid("SurfaceEvaporationResistance", &EvaporationResistanceIndex);
    if (DynamicPhenology) {
        TemperatureSum = FindOrCreateGrid("TemperatureAVG", &TemperatureSumIndex);
        LeafFall = FindOrCreateGrid("StartDayOfLeaveFall", &LeafFallIndex);
        CreateMovingMean();
    }

    const size_t slots = static_cast<size_t>(Layers) + 1;
    for (auto& grids : Grids) grids.assign(slots, nullptr);
    for (auto& indexes : GridIndex) indexes.assign(slots, 0);
    SampleDayStacks.assign(slots, nullptr);
    SampleDayIndex.assign(slots, 0);
    const int gridsPerLayer = DynamicPhenology ? LayerGridCount : StaticLayerGridCount;
    for (int k = 1; k <= Layers; ++k) {
        for (int g = 0; g < gridsPerLayer; ++g) {
            Grids[g][k] = FindOrCreateGrid(LayerGridNames[g] + std::to_string(k), &GridIndex[g][k]);
        }
        if (MultipleStartTimes) {
            bool created = false;
            SampleDayStacks[k] = FindOrCreateStack("MultipleStartTimes" + std::to_string(k), LargestFixPoints + 1,
                                                   &SampleDayIndex[k], &created);
            if (created) {
                if (k == 1) FirstSampleDayIndexCreated = SampleDayIndex[k];
                InitialSampleDays(k, SampleDayStacks[k], startDay, startMonth);
            }
        }
    }
    GridCount = nullptr;

    // The records of the dynamic methods read their cells' start days,
    // forcing sums and sample days through these per-layer arrays.
    if (DynamicPhenology) {
        for (size_t i = 1; i < table.size(); ++i) {
            if (!IsDynamicMethod(table[i].Method)) continue;
            table[i].AttachCellGrids(Layers, LargestFixPoints, Grids[PhenoStartGrid].data(),
                                     Grids[ForcingThresholdGrid].data(), Grids[ForcingSumGrid].data(),
                                     MultipleStartTimes ? SampleDayStacks.data() : nullptr);
        }
    }

    for (int k = 1; k <= Layers; ++k) StartValuesOfLayer(k, startDay, startMonth, startYear);
}

void LanduseParameterGrids::StartValuesOfLayer(int layer, long startDay, long startMonth, long startYear) {
    ForEachRow(1, Setup.NRows, ValidCells(), [&](int r) {
        for (int c = 1; c <= Setup.NCols; ++c) StartValuesOfCell(layer, r, c, startDay, startMonth, startYear);
    });
    if (!DynamicPhenology) return;
    // A cell of a dynamic class that starts with a chilling sum (always so
    // with a new grid) ends the class's first season at once. The records
    // are written here, after the parallel loop.
    std::vector<LanduseType>& table = *Table;
    for (int r = 1; r <= Setup.NRows; ++r) {
        for (int c = 1; c <= Setup.NCols; ++c) {
            if (!InsideZone(r, c) || !Own(r, c)) continue;
            const int position = Position(LayerCells[layer][r][c]);
            if (position == 0 || !HasDynamicStart(table[position].Method)) continue;
            if (At(ChillingSumGrid, layer, r, c) >= 0) table[position].DynamicPhenology = false;
        }
    }
}

void LanduseParameterGrids::StartValuesOfCell(int k, int r, int c, long startDay, long startMonth, long startYear) {
    const double noData = Setup.NoData;
    const bool inside = InsideZone(r, c) && Own(r, c);
    const int position = inside ? Position(LayerCells[k][r][c]) : 0;
    if (position == 0) {
        for (LayerGrid g : {RootDepthGrid, LeafAreaIndexGrid, VegetationCoverageGrid, CanopyResistanceGrid,
                            InterceptionResistanceGrid, RoughnessLengthGrid, VegetationStartGrid, VegetationStopGrid,
                            VegetationDurationGrid}) {
            At(g, k, r, c) = noData;
        }
        if (k == 1) {
            EvaporationResistance[r][c] = noData;
            // Outside the zone grid the albedo keeps its value.
            if (inside) Albedo[r][c] = noData;
        }
        if (DynamicPhenology) {
            for (LayerGrid g : {ForcingSumGrid, PhenoStartGrid, ChillingSumGrid, ForcingThresholdGrid}) {
                At(g, k, r, c) = noData;
            }
        }
        return;
    }

    const LanduseType& R = (*Table)[position];
    DiagnosticsWriter* log = Setup.Writer;
    const int day = static_cast<int>(startDay), month = static_cast<int>(startMonth), year = static_cast<int>(startYear);
    if (HasDynamicStart(R.Method)) {
        if (At(ForcingSumGrid, k, r, c) < 0) At(ForcingSumGrid, k, r, c) = 0;
        if (At(PhenoStartGrid, k, r, c) < 0) At(PhenoStartGrid, k, r, c) = R.TStart;
        if (At(ChillingSumGrid, k, r, c) < 0) At(ChillingSumGrid, k, r, c) = 0;
        if (At(ForcingThresholdGrid, k, r, c) < 0) At(ForcingThresholdGrid, k, r, c) = R.FStar;
    }
    const int doy = R.DayOfYear(day, month, year);
    const double altitude = Elevation[r][c];
    const int mask = R.InternalParameterMask;
    double& rootDepth = At(RootDepthGrid, k, r, c);
    double& lai = At(LeafAreaIndexGrid, k, r, c);
    double& vcf = At(VegetationCoverageGrid, k, r, c);
    double& rsc = At(CanopyResistanceGrid, k, r, c);
    double& rsi = At(InterceptionResistanceGrid, k, r, c);
    double& z0 = At(RoughnessLengthGrid, k, r, c);
    if (mask & 64) rootDepth = R.GetRootDepthAtJulDay(log, doy, k, r, c, altitude);
    if (mask & 16) lai = R.GetLAIAtJulDay(log, doy, k, r, c, altitude);
    if (mask & 32) vcf = R.GetVCFAtJulDay(log, doy, k, r, c, altitude);
    if (mask & 4) rsc = R.GetRscAtDate(log, day, month, year, k, altitude, r, c);
    if (mask & 8) rsi = R.GetRsInterceptionAtDate(log, day, month, year, k, altitude, r, c);
    if (mask & 128) z0 = R.GetZ0AtJulDay(log, doy, k, r, c, altitude);
    double& vegStart = At(VegetationStartGrid, k, r, c);
    if (vegStart <= 0) vegStart = R.BalancePeriodDayAtJulDay(log, doy, k, r, c, altitude);
    At(VegetationDurationGrid, k, r, c) = 0;
    At(VegetationStopGrid, k, r, c) = -1;
    if (k == 1) {
        if (mask & 2) EvaporationResistance[r][c] = R.GetRsEvaporationAtDate(log, day, month, year, k, altitude, r, c);
        if (mask & 1) Albedo[r][c] = R.GetAlbedoAtDate(log, day, month, year, k, altitude, r, c);
        if (EvaporationResistance[r][c] < 0) EvaporationResistance[r][c] = 0;
    }
    if (rootDepth < 0.01) rootDepth = 0.01;
    if (vcf < 0) vcf = 0;
    if (vcf > 1) vcf = 1;
    if (lai < 0) lai = 0;
    if (rsc < 0) rsc = 0;
    if (rsi < 0) rsi = 0;
    if (z0 < 0.01) z0 = 0.01;
}

// ----- teardown ---------------------------------------------------------------------------

void LanduseParameterGrids::Release(bool writeAsciiGrids, bool writeDoubleGrids) {
    if (Released) return;
    Released = true;
    try {
        if (FirstSampleDayIndexCreated > 0 && Setup.GridTable && SampleDayStacks.size() > 1 && SampleDayStacks[1]) {
            Setup.WriteStack(Setup.GridTable[FirstSampleDayIndexCreated].FileName + "_End", SampleDayStacks[1],
                             LargestFixPoints + 1, writeAsciiGrids, writeDoubleGrids);
        }
    } catch (...) {
        FreeCreated(true);
        throw;
    }
    FreeCreated(true);
}

void LanduseParameterGrids::FreeCreated(bool releaseEntries) {
    for (const CreatedGrid& grid : Created) {
        if (releaseEntries && Setup.GridTable && grid.Index >= FirstGridIndex && grid.Index <= LastGridIndex) {
            const MemoryGrid& entry = Setup.GridTable[grid.Index];
            const bool ours = (grid.Data && entry.Data == grid.Data) || (grid.Stack && entry.Stack == grid.Stack);
            if (ours) Setup.ReleaseGrid(grid.Index);
        }
        if (grid.Data) Setup.free_matrix(grid.Data, 1, Setup.NRows, 1, Setup.NCols);
        if (grid.Stack) Setup.free_matrix3d(grid.Stack, 1, Setup.NRows);
    }
    Created.clear();
    for (auto& grids : Grids) grids.assign(grids.size(), nullptr);
    SampleDayStacks.assign(SampleDayStacks.size(), nullptr);
    EvaporationResistance = TemperatureSum = LeafFall = MovingMean = nullptr;
    MovingMeanStack = nullptr;
    Albedo = nullptr;
    FirstSampleDayIndexCreated = 0;
}
