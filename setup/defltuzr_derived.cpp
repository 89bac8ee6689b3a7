// The grids the set-up derives from the model grids: cell widths, heights and
// relative areas, the corner coordinates of the cells, slope and aspect, the
// region grid and the region weights. Each derived grid takes a free entry of
// the grid table, is named after the file of the grid it comes from and is
// written once, when it is made.

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles_io.h"
#include "framework/gridtable.h"
#include "setup/control_text.h"
#include "setup/defltuzr.h"
#include "setup/defltuzr_cellsize.h"
#include "setup/defltuzr_topography.h"
#include "setup/derived_grid_names.h"

namespace {

[[noreturn]] void BrokenInvariant(const char* what, const char* file, int line) {
    std::fprintf(stderr, "internal error: %s (%s:%d)\n", what, file, line);
    std::abort();
}

#define DERIVED_CHECK(condition) \
    do { \
        if (!(condition)) BrokenInvariant(#condition, __FILE__, __LINE__); \
    } while (0)

constexpr const char* NoFreeEntry = "FATAL: no free grid found in memory (at position ";

// The first free grid-table entry; when none is left, the FATAL entry
// `text` + 1000 + `tail` and code 12.
int TakeFreeEntry(const defaultini& setup, const char* text = NoFreeEntry, const char* tail = ")") {
    const int index = FindFreeGridEntry(setup.GridTable);
    if (index >= NoFreeGridEntry) {
        gridio::Entry(setup.Writer, text, NoFreeGridEntry, tail);
        throw 12;
    }
    return index;
}

// A new grid of the set-up over all rows (the one process handles every row)
// in entry `index`: write code 0, no stack, no levels. Counts as a set-up grid.
double** CreateDerivedGrid(defaultini& setup, int index, const std::string& fileName, const std::string& name) {
    double** grid = setup.NewOwnedMatrix(1, setup.NRows);
    setup.StoreGrid(index, fileName, grid, nullptr, 0, name, 0, 1, setup.NRows);
    ++setup.Settings.SetupGridCount;
    return grid;
}

// Writes a derived grid once: under a snapshot write code for this one call,
// after which the entry is silent again (also when the write fails).
void WriteOnce(defaultini& setup, int index) {
    setup.CheckGridIndex(index);
    MemoryGrid& entry = setup.GridTable[index];
    struct Restore {
        MemoryGrid& Entry;
        ~Restore() {
            Entry.UnitsDigit = 0;
            Entry.StepCount = 0.0;
        }
    } restore{entry};
    entry.UnitsDigit = 1;
    setup.WriteGridByCode(index, true, true);
}

// The matrix of a grid found in the table; the kernels index every row of the
// model, so the grid must hold them all.
double** WholeGrid(const defaultini& setup, int index) {
    const MemoryGrid& entry = setup.GridTable[index];
    DERIVED_CHECK(entry.Data != nullptr);
    DERIVED_CHECK(entry.FirstRow <= 1 && entry.LastRow >= setup.NRows);
    return entry.Data;
}

// The zone grid of step 6 (entry 1).
double** ZoneGridOf(const defaultini& setup) {
    double** zone = setup.ZoneGrid ? setup.ZoneGrid : (setup.GridTable ? setup.GridTable[1].Data : nullptr);
    DERIVED_CHECK(zone != nullptr);
    return zone;
}

// The valid columns of every row: the ranking's, or derived from the zone
// grid into `fallback` when no ranking is at hand.
const RowExtent* RowExtentsOf(const defaultini& setup, std::vector<RowExtent>& fallback) {
    if (setup.RowExtents) return setup.RowExtents;
    if (setup.ModelZones.RowExtents.size() > static_cast<size_t>(setup.NRows)) {
        return setup.ModelZones.RowExtents.data();
    }
    fallback = DeriveRowExtents(ZoneGridOf(setup), setup.NRows, setup.NCols, setup.NoData);
    return fallback.data();
}

// The entry that holds the most recently stored grid of that name; 0 when
// there is none. A user's grid of the same name, stored earlier, is passed by.
int LastGridNamed(const defaultini& setup, const std::string& name) {
    int found = 0;
    for (int i = FirstGridIndex; i <= LastGridIndex; ++i) {
        const MemoryGrid& entry = setup.GridTable[i];
        if (entry.Data && entry.InternalName == name) found = i;
    }
    return found;
}

}  // namespace

// ---- Cell geometry and coordinates.

void defaultini::CheckCellSizes() {
    double** zone = ZoneGridOf(*this);
    RequirePositiveCellSize(CellSize, Writer);
    const std::string zoneFile = GridTable[1].FileName;

    // A grid the user gave is used as it is; a missing one takes the next
    // free entry.
    const auto takeOrCreate = [&](const char* name, const char* suffix, int& index, bool& given) -> double** {
        index = FindGrid(name);
        given = index > 0;
        if (given) return WholeGrid(*this, index);
        index = TakeFreeEntry(*this);
        return CreateDerivedGrid(*this, index, DerivedGridFileName(zoneFile, suffix), name);
    };
    CellSizeXGrid = takeOrCreate("CellSizeX", CellSizeXSuffix, CellSizeXIndex, CellSizeXGiven);
    CellSizeYGrid = takeOrCreate("CellSizeY", CellSizeYSuffix, CellSizeYIndex, CellSizeYGiven);
    RelCellArea = takeOrCreate("RelCellArea", RelCellAreaSuffix, RelCellAreaIndex, RelCellAreaGiven);

    CellSizeGrids grids;
    grids.CellSizeX = CellSizeXGrid;
    grids.CellSizeY = CellSizeYGrid;
    grids.RelCellArea = RelCellArea;
    grids.GivenX = CellSizeXGiven;
    grids.GivenY = CellSizeYGiven;
    grids.GivenRelCellArea = RelCellAreaGiven;
    grids.FileX = GridTable[CellSizeXIndex].FileName;
    grids.FileY = GridTable[CellSizeYIndex].FileName;
    grids.FileRelCellArea = GridTable[RelCellAreaIndex].FileName;
    ::CheckCellSizes(zone, NRows, NCols, CellSize, NoData, grids, Writer);

    if (!RelCellAreaGiven) WriteOnce(*this, RelCellAreaIndex);
    if (!CellSizeXGiven) WriteOnce(*this, CellSizeXIndex);
    if (!CellSizeYGiven) WriteOnce(*this, CellSizeYIndex);
}

void defaultini::MakeCoordinateGrids() {
    double** zone = ZoneGridOf(*this);
    RequirePositiveCellSize(CellSize, Writer);
    const std::string zoneFile = GridTable[1].FileName;

    CoordXIndex = TakeFreeEntry(*this);
    CoordXGrid = CreateDerivedGrid(*this, CoordXIndex, DerivedGridFileName(zoneFile, CoordXSuffix), "CoordX");
    CoordYIndex = TakeFreeEntry(*this);
    CoordYGrid = CreateDerivedGrid(*this, CoordYIndex, DerivedGridFileName(zoneFile, CoordYSuffix), "CoordY");

    // Variable cells once the cell geometry is complete, else a regular raster.
    const bool variable = RelCellArea != nullptr && CellSizeXGrid != nullptr && CellSizeYGrid != nullptr;
    std::vector<RowExtent> fallback;
    ::MakeCoordinateGrids(zone, NRows, NCols, XllCorner, YllCorner, CellSize, NoData, RowExtentsOf(*this, fallback),
                          variable ? CellSizeXGrid : nullptr, variable ? CellSizeYGrid : nullptr, CoordXGrid,
                          CoordYGrid);

    WriteOnce(*this, CoordXIndex);
    WriteOnce(*this, CoordYIndex);
}

// ---- Slope and aspect.

void defaultini::make_Slope_and_Aspect() {
    const int elevationIndex = FindGrid("[elevation_model]");
    if (elevationIndex <= 0) return;
    int aspectIndex = FindGrid("slope_aspect");
    int angleIndex = FindGrid("slope_angle");
    if (aspectIndex > 0 && angleIndex > 0) return;

    double** elevation = WholeGrid(*this, elevationIndex);
    const std::string elevationFile = GridTable[elevationIndex].FileName;
    double** angle = nullptr;
    double** aspect = nullptr;
    if (angleIndex <= 0) {
        angleIndex = TakeFreeEntry(*this, "FATAL: no free grid found in memeory (at position ", ")");
        angle = CreateDerivedGrid(*this, angleIndex, DerivedGridFileName(elevationFile, SlopeAngleSuffix),
                                  "slope_angle");
    }
    if (aspectIndex <= 0) {
        aspectIndex = TakeFreeEntry(*this, "FATAL: no free grid left (at position ", ")\n");
        aspect = CreateDerivedGrid(*this, aspectIndex, DerivedGridFileName(elevationFile, SlopeAspectSuffix),
                                   "slope_aspect");
    }

    ::make_Slope_and_Aspect(elevation, NRows, NCols, CellSize, NoData, angle, aspect, Writer);

    if (aspect) WriteOnce(*this, aspectIndex);
    if (angle) WriteOnce(*this, angleIndex);
}

void defaultini::FillFromNeighbours(int32_t row, int32_t col, double** grid) {
    ::FillFromNeighbours(row, col, grid, NRows, NCols, NoData);
}

// ---- Regions and their weights.

void defaultini::MakeRegionWeightGrids() {
    Regions = RegionTable{};
    Settings.Regions = nullptr;
    Settings.RegionRank = nullptr;
    Settings.RegionCount = 0;
    Settings.MaxRegionCode = 0;
    double** zone = ZoneGridOf(*this);

    int regionIndex = FindGrid("regression_regions");
    if (regionIndex <= 0) {
        regionIndex = TakeFreeEntry(*this);
        double** regions = CreateDerivedGrid(
            *this, regionIndex, DerivedGridFileName(GridTable[1].FileName, RegionGridSuffix), "regression_regions");
        MakeRegionGridFromZones(zone, regions, NRows, NCols, NoData);
    }
    WholeGrid(*this, regionIndex);

    {
        controltext::ControlFileSession session(*this, ControlFilePath, false, "FATAL: error opening ");
        FindSection("[region_transition_distance]", true);
        ReadValue(ControlFile, "%lf", &RegionTransitionDistance,
                  "transition distance (if or if not using a region grid) ");
        session.Close();
    }

    RankRegions(regionIndex);

    const std::string regionFile = GridTable[regionIndex].FileName;
    std::vector<int> created;
    for (const DerivedRegionGrid& grid : RegionWeightGridsFor(Regions.Count)) {
        const int index = TakeFreeEntry(*this);
        CreateDerivedGrid(*this, index, DerivedGridFileName(regionFile, grid.Suffix), grid.InternalName);
        created.push_back(index);
    }

    GenerateRegionWeights();

    // The region grid itself is not written.
    for (int index : created) WriteOnce(*this, index);
}

void defaultini::RankRegions(int index) {
    if (ProcessNumber != 0) return;
    CheckGridIndex(index);
    const MemoryGrid& entry = GridTable[index];
    Regions = ::RankRegions(ZoneGridOf(*this), WholeGrid(*this, index), NRows, NCols, NoData, Writer, entry.FileName,
                            ModuleName);
    Settings.Regions = Regions.Records.data();
    Settings.RegionCount = Regions.Count;
    Settings.MaxRegionCode = Regions.LargestCode;
    Settings.RegionRank = Regions.CodeToRank.data();
}

void defaultini::GenerateRegionWeights() {
    if (ProcessNumber != 0) return;
    const int regionIndex = FindGrid("regression_regions");
    DERIVED_CHECK(regionIndex > 0);

    // The grids made for these weights are the latest of their names.
    RegionWeightGrids grids;
    double** RegionWeightGrids::*const slots[] = {&RegionWeightGrids::Weights1, &RegionWeightGrids::Regions2,
                                                  &RegionWeightGrids::Weights2, &RegionWeightGrids::Regions3,
                                                  &RegionWeightGrids::Weights3};
    const std::vector<DerivedRegionGrid> made = RegionWeightGridsFor(Regions.Count);
    for (size_t k = 0; k < made.size(); ++k) {
        const int index = LastGridNamed(*this, made[k].InternalName);
        DERIVED_CHECK(index > 0);
        grids.*slots[k] = WholeGrid(*this, index);
    }

    std::vector<RowExtent> fallback;
    ::GenerateRegionWeights(ZoneGridOf(*this), WholeGrid(*this, regionIndex), NRows, NCols, CellSize, NoData,
                            RowExtentsOf(*this, fallback), Regions, &RegionTransitionDistance, grids, Writer);
}
