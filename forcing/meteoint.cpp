// A meteorological input: construction, the clock (current date, advancing,
// end of data, rewinding) and teardown.

#include "forcing/meteoint.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "forcing/meteoint_files_set.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/hru_cells.h"
#include "framework/zonalstatistic.h"

namespace {

constexpr int MissingRelCellAreaCode = 74;
// Decimals of the statistics files.
constexpr int StatisticsPrecision = 5;

}  // namespace

void AdoptModelSettings(modelobject& component, const ModelSettings& settings, MemoryGrid* gridTable) {
    component.GridTable = gridTable;
    component.NCols = settings.NCols;
    component.NRows = settings.NRows;
    component.FirstRow = settings.FirstRow;
    component.LastRow = settings.LastRow;
    component.XllCorner = settings.XllCorner;
    component.YllCorner = settings.YllCorner;
    component.CellSize = settings.CellSize;
    component.NoData = settings.NoData;
    component.Zones = settings.Zones;
    component.RowExtents = settings.RowExtents;
    component.TimeShiftMinutes = settings.MinToIntEnd;
    component.TimeShiftHours = settings.MinToIntEnd / 60.0;
    component.LogInterval = settings.LogInterval;
    component.SetEndDate(settings.EndYear, settings.EndMonth, settings.EndDay, settings.EndHour);
}

meteointerpol::meteointerpol(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                             int statisticsTableSize, const std::string& name, int gridIndex,
                             const ModelSettings& settings, MemoryGrid* gridTable)
    : modelobject(writer, settings.CompiledControlFile, settings.WriteAsciiGrids, settings.WriteDoubleGrids,
                  settings.InitialStateDirectory, settings.DefaultOutputDirectory),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      Settings(settings) {
    *status = 0;
    GridTable = gridTable;
    try {
        Construct(name, gridIndex);
        return;
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
    // A failed construction leaves nothing behind in the grid table.
    try {
        ReleaseAll(true);
    } catch (...) {
    }
    throw *status;
}

meteointerpol::~meteointerpol() { ReleaseAll(false); }

void meteointerpol::Construct(const std::string& name, int gridIndex) {
    ModuleName = name;
    if (Writer) {
        *Writer << "file "
                << "meteoint"
                << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
        *Writer << "DEBUG: initializing interpolator for " << name << "[end-entry]";
    }
    AdoptModelSettings(*this, Settings, GridTable);
    CheckGridIndex(gridIndex);

    // The rows and their valid columns, kept within the grid.
    Extents.assign(static_cast<size_t>(std::max(NRows, 0)) + 1, RowExtent{});
    for (int32_t row = 1; row <= NRows; ++row) {
        RowExtent extent{1, NCols};
        if (Settings.RowExtents) extent = Settings.RowExtents[row];
        extent.first = std::max(extent.first, 1);
        extent.last = std::min(extent.last, NCols);
        Extents[static_cast<size_t>(row)] = extent;
    }

    ZoneGrid = GridTable[1].Data;
    ElevationGrid = GridTable[2].Data;
    if (!ZoneGrid || !ElevationGrid) {
        if (Writer) {
            *Writer << "FATAL: the zone grid and the elevation model (grid-table entries 1 and 2) are needed by "
                    << ModuleName << "[end-entry]";
        }
        throw 33;
    }
    FindHydrologicResponseUnits();

    const int relCellArea = FindGrid("RelCellArea");
    if (relCellArea <= 0) {
        if (Writer) {
            *Writer
                << "FATAL: \n-----------------------------------------------------------\nRuvex-QOR no longer works "
                   "without a RelCellArea-Grid.\nIf this message appears, then something is wrong with the "
                   "code,\nso please contact the author.\n-----------------------------------------------------"
                   "------\n\n"
                << "[end-entry]";
        }
        throw MissingRelCellAreaCode;
    }
    RelCellArea = GridTable[relCellArea].Data;
    CoordX = RequiredGrid("CoordX");
    CoordY = RequiredGrid("CoordY");
    IdwX = CoordX;
    IdwY = CoordY;
    const int regions = FindGrid("MPIRegions");
    Regions = regions > 0 ? GridTable[regions].Data : nullptr;

    ReadControlSection();
    CreateResultGrid(gridIndex);
    CreateScenarioGrid();

    const int64_t unset = static_cast<int64_t>(-NoDataBound - 1);
    CurrentHour = CurrentDay = CurrentMonth = CurrentYear = unset;
    EndOfDataFlag = false;

    ComposeDescription();
    CreateStatistics();
    OpenFiles();

    const int scaling = FindGrid("ScalingGrid_" + ModuleName);
    ScalingGrid = scaling > 0 ? GridTable[scaling].Data : nullptr;
    BuildMethodData();
}

void meteointerpol::FindHydrologicResponseUnits() {
    const int units = FindGrid("HydrologicResponseUnits");
    const int masters = FindGrid("MasterHydrologicResponseUnits");
    MasterCells.clear();
    if (units <= 0 || masters <= 0) return;
    UnitGrid = GridTable[units].Data;
    MasterGrid = GridTable[masters].Data;
    MasterCells = FindHruMasterCells(MasterGrid, NRows, NCols, NoData);
}

void meteointerpol::CreateResultGrid(int gridIndex) {
    ResultGrid = matrix(1, NRows, 1, NCols, NRows);
    for (int32_t row = 1; row <= NRows; ++row) std::fill(ResultGrid[row] + 1, ResultGrid[row] + NCols + 1, NoData);
    StoreGrid(gridIndex, ResultFileName, ResultGrid, nullptr, 1, ModuleName, ResultWriteCode, 1, NRows);
    ResultGridIndex = gridIndex;
}

void meteointerpol::CreateScenarioGrid() {
    if (SzenUse != 1 || (SzenMeth != 5 && SzenMeth != 6)) return;
    // The entry after the result grid's, unless that one is taken.
    const int index = FindFreeGridEntry(GridTable, ResultGridIndex + 1);
    CheckGridIndex(index);
    ScenarioMonth = ((Settings.StartMonth - 1) % 12 + 12) % 12 + 1;
    ReadGrid(ScenarioGridNames[static_cast<size_t>(ScenarioMonth)], ScenarioGrid, 0, true, true, 0, false);
    StoreGrid(index, ScenarioGridNames[static_cast<size_t>(ScenarioMonth)], ScenarioGrid, nullptr, 1,
              "scenariogrid_" + ModuleName, 0, 1, NRows);
    ScenarioGridIndex = index;
}

void meteointerpol::CreateStatistics() {
    const int zoneCount = Settings.Zones ? Settings.ZoneCount : 0;
    StatisticsZones.assign(static_cast<size_t>(zoneCount) + 1, ZoneRecord{});
    for (int z = 0; z <= zoneCount && Settings.Zones; ++z) {
        const ZoneRecord& source = Settings.Zones[z];
        ZoneRecord& copy = StatisticsZones[static_cast<size_t>(z)];
        copy.zonenwert = source.zonenwert;
        copy.rel = source.rel;
        copy.RelCellSum = source.RelCellSum;
    }
    int status = 0;
    std::string fileName = StatisticsFileName;
    Statistics = std::make_unique<zonalstatistic>(
        &status, Writer, StatisticsTable, StatisticsTableSize, RelCellArea, NRows, NCols,
        Settings.Zones ? StatisticsZones.data() : nullptr, zoneCount, StatisticsCode, StatisticsPrecision, fileName,
        Settings.DefaultOutputDirectory, Settings.OutputListCount, Settings.OutputListCodes);
    if (status != 0) throw status;
    Statistics->WriteHeader(DescriptionLine, ModuleName);
}

void meteointerpol::OpenFiles() {
    const MeteoDate start{Settings.StartYear, Settings.StartMonth, Settings.StartDay, Settings.StartHour};
    FileSet = std::make_unique<MeteoFileSet>(Writer, ModuleName, InterpolationMethod, NoDataBound, start);
    const int stationFiles = MeteoFileSet::StationFileCount(InterpolationMethod);
    for (int f = 0; f < stationFiles; ++f) {
        const StationFileLine& line = StationFileLines[static_cast<size_t>(f)];
        FileSet->OpenStationFile(f, line.FileName, line.AdditionalColumns);
    }
    if (stationFiles > 0) SetUpStationGeometry();
    // The slope is held in radians from here on, whatever the method.
    if (stationFiles == 0) AnisotropySlope = meteoint::SlopeToRadians(AnisotropySlope);

    // A regression set is missing until a file or a fit gives one.
    Method.Regression = meteoint::RegressionSet{};
    Method.Regression.A1 = Method.Regression.C0 = -NoDataBound - 1;
    if (MeteoFileSet::UsesRegressionFile(InterpolationMethod)) {
        FileSet->OpenRegressionFile(RegressionFileName);
        TakeRegressionFromFile();
    }
    if (MeteoFileSet::UsesGridList(InterpolationMethod)) {
        const StationFileLine& line = StationFileLines[0];
        const GridListReader& list = FileSet->OpenGridList(line.FileName, line.AdditionalColumns);
        const StationDescription& columns = list.Columns();
        SetGifGeoreference(ZoneGrid, columns.X[1], columns.Y[1], columns.Altitude[1]);
    }
    TakeDateFromFiles();
}

void meteointerpol::TakeRegressionFromFile() {
    const RegressionFileReader* file = FileSet ? FileSet->Regression() : nullptr;
    if (!file) return;
    const RegressionCoefficients& c = file->Coefficients();
    Method.Regression = meteoint::RegressionSet{c.a1, c.b1, c.hl, c.a2, c.b2, c.hu, c.a3, c.b3, c.c0, c.cx, c.cy};
}

void meteointerpol::TakeDateFromFiles() {
    const MeteoDate& date = FileSet->CurrentDate();
    CurrentHour = date.Hour;
    CurrentDay = date.Day;
    CurrentMonth = date.Month;
    CurrentYear = date.Year;
}

StationFileReader* meteointerpol::StationFile(int f) const { return FileSet ? FileSet->Station(f) : nullptr; }

int meteointerpol::StationFileCount() const { return MeteoFileSet::StationFileCount(InterpolationMethod); }

void meteointerpol::SetWarnings(int on) { WarningsOn = on; }

void meteointerpol::SetTimeStep(double hours) {
    TimeShiftHours = hours;
    TimeShiftMinutes = hours * 60.0;
}

void meteointerpol::GetActualDate(int64_t* hour, int64_t* day, int64_t* month, int64_t* year) {
    *hour = CurrentHour;
    *day = CurrentDay;
    *month = CurrentMonth;
    *year = CurrentYear;
}

void meteointerpol::ReadNextStep() {
    if (!FileSet) {
        EndOfDataFlag = true;
        return;
    }
    FileSet->ReadNextStep(EndKey);
    EndOfDataFlag = FileSet->EndOfData();
    TakeDateFromFiles();
    if (!EndOfDataFlag) TakeRegressionFromFile();
}

bool meteointerpol::EndOfData() { return EndOfDataFlag; }

void meteointerpol::StopAtActualDate() { SetEndDate(CurrentYear, CurrentMonth, CurrentDay, CurrentHour); }

void meteointerpol::FlushStatistics() {
    if (Statistics) Statistics->Flush();
}

void meteointerpol::ResetToStart() {
    EndOfDataFlag = false;
    if (!FileSet) return;
    FileSet->ResetToStart();
    TakeDateFromFiles();
}

void meteointerpol::WriteResultGrid() {
    if (ResultGridIndex > 0 && ResultGrid) WriteGridByCode(ResultGridIndex, true, false);
}

void meteointerpol::ReleaseAll(bool touchGridTable) {
    auto release = [&](double**& grid, int& index) {
        if (touchGridTable && GridTable && index >= FirstGridIndex && index <= LastGridIndex) ReleaseGrid(index);
        index = index > 0 ? 0 : index;
        if (grid) free_matrix(grid, 1, NRows, 1, NCols);
        grid = nullptr;
    };
    release(ScenarioGrid, ScenarioGridIndex);
    release(ResultGrid, ResultGridIndex);
    if (ListedGrid) free_matrix(ListedGrid, 1, NRows, 1, NCols);
    ListedGrid = nullptr;
    ListedGridDate = -1;
    release(RotatedX, RotatedXIndex);
    release(RotatedY, RotatedYIndex);
    RotatedXIndex = RotatedYIndex = -1;
    IdwX = CoordX;
    IdwY = CoordY;
    if (Statistics && touchGridTable) Statistics->Close();
    Statistics.reset();
    LookUp.clear();
    ReleaseSplines();
    Method.Files[0] = Method.Files[1] = meteoint::StationFile{};
    FileSet.reset();
    ScenarioTable.clear();
    ScenarioGridNames.clear();
}

void meteointerpol::DeleteModule() {
    if (Deleted()) return;
    if (Writer) *Writer << "DEBUG: deleting interpolator for " << ModuleName << "[end-entry]";
    ReleaseAll(true);
    modelobject::DeleteModule();
}
