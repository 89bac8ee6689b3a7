// The time step of a meteorological input: the date check, the scenario of
// the day, the grid of a grid list, the parallel loop over the rows that
// fills the result grid, copies it to the cells of hydrologic response units
// and gathers the zone sums of the statistics, the warnings of the loop and
// the close of the statistics step.

#include <algorithm>
#include <optional>
#include <utility>
#include <vector>

#include "forcing/meteoint.h"
#include "forcing/meteoint_files_set.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/zonalstatistic.h"

namespace {

constexpr int DateMismatchCode = 52;
constexpr int NoGridNameCode = 1050;
const char* const Rule = "-----------------------------------------------------------------------------";

// Cells of one row that found no station within the search radius, at their
// inverse-distance coordinates.
using RowWarnings = std::vector<std::pair<double, double>>;

}  // namespace

void meteointerpol::InterpolateStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (hour != CurrentHour || day != CurrentDay || month != CurrentMonth || year != CurrentYear) {
        if (Writer) {
            *Writer << "FATAL: " << Rule << "\nerror in date columns of " << ModuleName
                    << "\n\nfirst Meteo data set (this is the set from which data is get:\n"
                    << day << "." << month << "." << year << " " << hour << ". h\n\nbut in " << ModuleName << ":\n"
                    << CurrentDay << "." << CurrentMonth << "." << CurrentYear << " " << CurrentHour << ". h\n\n"
                    << Rule << "\n"
                    << "[end-entry]";
        }
        throw DateMismatchCode;
    }
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    ReportStep(hour, day, month, year);
    if (SzenUse == 1) UpdateScenario(day, month);
    if (InterpolationMethod == 9) ReadListedGrid();
    if (InterpolationMethod == 7 || InterpolationMethod == 8) InterpolateSplines();
    RegionGrid();

    if (Statistics) Statistics->ResetStep();
    PrepareStatisticRuns();
    std::vector<RowWarnings> warnings(static_cast<size_t>(std::max(NRows, 0)) + 1);
    InterpolateCells(warnings);
    WriteWarnings(warnings);
    AddStatistics(hour, day, month, year);
}

void meteointerpol::ReportStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    // A log interval below 1 means every step.
    const int64_t n = LogInterval;
    if (n > 1 && (hour + static_cast<int64_t>(TimeShiftHours)) % n != 0) return;
    if (!Writer) return;
    Writer->SetWidth(20);
    *Writer << ModuleName << " " << day << "." << month << "." << year << " " << hour << ". h ";
    if (SzenUse == 1) *Writer << "using scenarios!";
    *Writer << "[end-entry]";
}

void meteointerpol::UpdateScenario(int64_t day, int64_t month) {
    if (SzenMeth == 5 || SzenMeth == 6) {
        const int64_t current = ((month - 1) % 12 + 12) % 12 + 1;
        if (current == ScenarioMonth || ScenarioGridIndex <= 0) return;
        // The new month's grid is read before the old one goes, so that a
        // failed read leaves no entry without its grid.
        double** grid = nullptr;
        const std::string& name = ScenarioGridNames[static_cast<size_t>(current)];
        ReadGrid(name, grid, 0, true, true, 0, false);
        ReleaseGrid(ScenarioGridIndex);
        free_matrix(ScenarioGrid, 1, NRows, 1, NCols);
        ScenarioGrid = grid;
        StoreGrid(ScenarioGridIndex, name, ScenarioGrid, nullptr, 1, "scenariogrid_" + ModuleName, 0, 1, NRows);
        ScenarioMonth = current;
        return;
    }
    for (meteoint::ScenarioRow& row : ScenarioTable) row.Today = meteoint::ScenarioDayChange(row.Month, day, month);
}

void meteointerpol::ReadListedGrid() {
    double** grid = CurrentListedGrid();
    if (!grid) return;
    for (int32_t row = 1; row <= NRows; ++row) std::copy(grid[row] + 1, grid[row] + NCols + 1, ResultGrid[row] + 1);
}

double** meteointerpol::CurrentListedGrid() {
    const GridListReader* list = FileSet ? FileSet->GridList() : nullptr;
    if (!list) return nullptr;
    const int64_t date = ((CurrentYear * 100 + CurrentMonth) * 100 + CurrentDay) * 100 + CurrentHour;
    if (ListedGrid && ListedGridDate == date) return ListedGrid;
    if (!ListedGrid) {
        ListedGrid = matrix(1, NRows, 1, NCols, NRows);
        for (int32_t row = 1; row <= NRows; ++row) std::fill(ListedGrid[row] + 1, ListedGrid[row] + NCols + 1, NoData);
    }
    ListedGridDate = -1;
    const std::string& name = list->GridFileName();
    if (name == "-9999") {
        if (LastValidGridName.empty()) {
            if (Writer) {
                *Writer << "FATAL: interpolation method 9 (read from grid) no valid grid name was found (-9999 as "
                           "input) and no last valid grid name present (i.e., simulation starts, when input list "
                           "file contains -9999 only)"
                        << "[end-entry]";
            }
            throw NoGridNameCode;
        }
        ReadGrid(LastValidGridName, ListedGrid, 0, false, true, 0, false);
    } else {
        ReadGrid(name, ListedGrid, 0, false, true, 0, false);
        LastValidGridName = name;
    }
    ListedGridDate = date;
    return ListedGrid;
}

double** meteointerpol::RegionGrid() {
    if (!Regions) {
        const int index = FindGrid("MPIRegions");
        if (index > 0) Regions = GridTable[index].Data;
    }
    return Regions;
}

bool meteointerpol::CellTakesPart(int row, int column) const {
    if (ZoneGrid[row][column] == NoData) return false;
    if (Regions && Regions[row][column] != ProcessNumber) return false;
    if (MasterGrid && MasterGrid[row][column] == NoData) return false;
    return true;
}

bool meteointerpol::StationValuesAllEqual() const {
    const StationFileReader* file = FileSet ? FileSet->Station(0) : nullptr;
    if (!file || !file->AllEqual()) return false;
    // The values may have changed since they were read (a correction of the
    // station data): the shortcut holds only while they are still equal.
    const std::vector<double>& values = file->Values();
    bool seen = false;
    double common = 0;
    for (size_t i = 1; i < values.size(); ++i) {
        const double v = values[i];
        if (!meteoint::IsValid(v, NoDataBound)) continue;
        if (seen && v != common) return false;
        common = v;
        seen = true;
    }
    return true;
}

double meteointerpol::PostProcess(double value, int row, int column, double x, double y) const {
    double v =
        meteoint::ScaleAndLimit(value, ScalingFactor, LowerLimit, LowerReplacement, UpperLimit, UpperReplacement);
    if (SzenUse == 1) {
        v = meteoint::ApplyScenario(v, ScenarioChange(row, column, x, y), SzenMeth);
    }
    return v;
}

void meteointerpol::InterpolateCells(std::vector<std::vector<std::pair<double, double>>>& warnings) {
    const double G = NoData;
    // Every value the loop reads is fixed here: the station values, the
    // regression set and the common value of the all-equal shortcut. The
    // station values themselves are left as read.
    const std::optional<double> common =
        meteoint::AllEqualCommonValue(StationValuesAllEqual(), Method.Files[0], NoDataBound);
    const bool warn = WarningsOn != 0;
    const bool lookUp = !LookUp.empty();
    const int32_t firstRow = std::max(FirstRow, 1);
    const int32_t lastRow = std::min(LastRow, NRows);

    std::vector<unsigned char> failed(static_cast<size_t>(std::max(NRows, 0)) + 1, 0);
    // A cell of a unit takes the value of the unit's master cell, which may lie
    // in a row computed later: with units the statistics wait for every row.
    const bool units = MasterGrid != nullptr;
    const bool parallel = WorthThreads(CellCount(firstRow, lastRow));

#pragma omp parallel if (parallel)
    {
#pragma omp for schedule(static, 1)
    for (int32_t row = firstRow; row <= lastRow; ++row) {
        double* result = ResultGrid[row];
        const RowExtent extent = Extents[static_cast<size_t>(row)];
        // Cells outside the row's valid columns belong to no zone.
        for (int32_t col = 1; col <= NCols; ++col) {
            if (col < extent.first || col > extent.last) result[col] = G;
        }
        RowWarnings& rowWarnings = warnings[static_cast<size_t>(row)];
        for (int32_t col = extent.first; col <= extent.last; ++col) {
            if (!CellTakesPart(row, col)) {
                result[col] = G;
                continue;
            }
            meteoint::CellPoint cell;
            cell.X = CoordX[row][col];
            cell.Y = CoordY[row][col];
            cell.QX = IdwX[row][col];
            cell.QY = IdwY[row][col];
            cell.Elevation = ElevationGrid[row][col];
            if (lookUp) {
                for (size_t f = 0; f < LookUp.size() && f < 2; ++f) cell.Corners[f] = LookUp[f].At(row, col);
            }
            cell.Grid = result[col];
            if (SplineGrid2) cell.Grid2 = SplineGrid2[row][col];
            const meteoint::CellOutcome outcome = meteoint::InterpolateCellValue(Method, cell, common);
            if (!outcome.Computed) continue;
            if (warn && outcome.NoStationInRadius) {
                // No exception may leave the parallel loop.
                try {
                    rowWarnings.emplace_back(cell.QX, cell.QY);
                } catch (...) {
                    failed[static_cast<size_t>(row)] = 1;
                }
            }
            double v = PostProcess(outcome.Value, row, col, cell.X, cell.Y);
            if (ScalingGrid) v *= ScalingGrid[row][col];
            result[col] = v;
        }
        if (!units) FinishRow(row);
    }
    if (units) {
#pragma omp for schedule(static, 1)
        for (int32_t row = firstRow; row <= lastRow; ++row) FinishRow(row);
    }
    }
    for (unsigned char rowFailed : failed) {
        if (rowFailed) AllocationError(1);
    }
}

void meteointerpol::WriteWarnings(const std::vector<std::vector<std::pair<double, double>>>& warnings) {
    if (!Writer) return;
    const char* start = InterpolationMethod == 1 ? "WARNING:  at x=" : "WARNING: at x=";
    for (const RowWarnings& row : warnings) {
        for (const auto& [x, y] : row) {
            *Writer << start << x << ", y=" << y << " "
                    << "no station within the specified search radius!"
                    << "[end-entry]";
        }
    }
}

int meteointerpol::ZoneRankOf(int row, int column) const {
    const double code = ZoneCodeOf(ZoneGrid[row][column]);
    if (!Settings.ZoneRank || !(code >= 0 && code <= Settings.MaxZoneCode)) return -1;
    return Settings.ZoneRank[static_cast<int>(code)];
}

int64_t meteointerpol::CellCount(int32_t firstRow, int32_t lastRow) const {
    int64_t cells = 0;
    for (int32_t row = firstRow; row <= lastRow; ++row) {
        const RowExtent extent = Extents[static_cast<size_t>(row)];
        if (extent.last >= extent.first) cells += extent.last - extent.first + 1;
    }
    return cells;
}

void meteointerpol::FinishRow(int32_t row) {
    const bool statistics = Statistics && Statistics->IsOn();
    if (MasterGrid) {
        const RowExtent extent = Extents[static_cast<size_t>(row)];
        for (int32_t col = extent.first; col <= extent.last; ++col) {
            if (ZoneGrid[row][col] == NoData) continue;
            if (Regions && Regions[row][col] != ProcessNumber) continue;
            if (MasterGrid[row][col] != NoData) continue;
            // A cell of a unit takes the value of the unit's master cell.
            const double unit = UnitGrid[row][col];
            if (unit >= 1 && unit < static_cast<double>(MasterCells.size())) {
                const auto [masterRow, masterCol] = MasterCells[static_cast<size_t>(unit)];
                if (masterRow > 0) ResultGrid[row][col] = ResultGrid[masterRow][masterCol];
            }
        }
    }
    if (!statistics) return;
    for (const ZoneRun& run : StatisticRuns.Row(row))
        Statistics->AddRunToRow(row, run.Zone, ResultGrid[row], run.First, run.Last, 1.0);
}

void meteointerpol::PrepareStatisticRuns() {
    if (StatisticRuns.Built() || !Statistics || !Statistics->IsOn()) return;
    // The zones, regions and units do not change during a run.
    StatisticRuns.Build(std::max(FirstRow, 1), std::min(LastRow, NRows), NRows, Extents.data(),
                        [this](int row, int col) {
                            if (ZoneGrid[row][col] == NoData) return -1;
                            if (Regions && Regions[row][col] != ProcessNumber) return -1;
                            return ZoneRankOf(row, col);
                        });
}

void meteointerpol::AddStatistics(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Statistics && Statistics->IsOn()) Statistics->CloseStep(year, month, day, hour);
}
