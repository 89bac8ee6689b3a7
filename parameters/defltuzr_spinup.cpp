#include "parameters/defltuzr_spinup.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <system_error>
#include <unordered_map>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/gridfiles_io.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/string_helpers.h"
#include "setup/control_text.h"

namespace {

const char* const UnitGridName = "HydrologicResponseUnits";
const char* const MasterGridName = "MasterHydrologicResponseUnits";
const char* const ClassifiedUnitFile = "All_HydrologicResponseUnits";
const char* const ClassifiedMasterFile = "Master_HydrologicResponseUnits";
// Used only when the renumbered supplied grid would otherwise replace the
// very file it was read from.
const char* const RenumberedFallbackFile = "All_HydrologicResponseUnits_renumbered";

constexpr double LargestClass = 9999;

[[noreturn]] void ValueNotAllowed(modelobject& setup, const std::string& description, const std::string& value,
                                  const std::string& allowed) {
    if (setup.Writer) {
        *setup.Writer << "FATAL: error in control file, " << description << "; " << setup.ModuleName
                      << ": the value " << value << " is not allowed (" << allowed << ")" << "[end-entry]";
    }
    throw 17;
}

// Reads an integer through the control-file integer scan (white space, line
// ends included, skipped; an optional sign; digits) and leaves the stream
// after its last digit. A value beyond the range of int is refused rather
// than wrapped.
void ReadInteger(modelobject& setup, FILE* stream, const std::string& description, int* value) {
    long long v = 0;
    std::string text;
    switch (modelobject::ScanInteger(stream, INT_MIN, INT_MAX, &v, &text)) {
    case modelobject::IntegerScan::Read:
        *value = static_cast<int>(v);
        return;
    case modelobject::IntegerScan::NoNumber:
        setup.ControlFileError(description, "");
        break;
    case modelobject::IntegerScan::OutOfRange:
        ValueNotAllowed(setup, description, text,
                        "whole numbers " + std::to_string(INT_MIN) + " to " + std::to_string(INT_MAX));
    }
    throw 17;  // not reached: both reports throw
}

// One classification grid of a "[SpinUp]" line.
struct ClassGrid {
    std::string Name;
    double Width = 1;
    bool SquareRoot = false;
    const MemoryGrid* Entry = nullptr;

    // The cell's value; a row the grid does not hold counts as nodata.
    double Value(long row, long col, double noData) const {
        if (row < Entry->FirstRow || row > Entry->LastRow || !Entry->Data[row]) return noData;
        return Entry->Data[row][col];
    }
};

// A cell takes part when it lies inside the zone grid (grid-table entry 1)
// and belongs to this process.
struct CellFilter {
    double** Zones = nullptr;
    double** Regions = nullptr;
    double NoData = -9999;
    double Process = 0;

    bool Takes(long row, long col) const {
        if (Zones && (!Zones[row] || Zones[row][col] == NoData)) return false;
        if (Regions && (!Regions[row] || Regions[row][col] != Process)) return false;
        return true;
    }
};

CellFilter MakeCellFilter(modelobject& setup) {
    CellFilter filter;
    filter.Zones = setup.GridTable[FirstGridIndex].Data;
    const int regions = setup.FindGrid("MPIRegions");
    filter.Regions = regions > 0 ? setup.GridTable[regions].Data : nullptr;
    filter.NoData = setup.NoData;
    filter.Process = setup.ProcessNumber;
    return filter;
}

// The units met so far by key; a new key becomes the next unit with the cell
// as its master.
class UnitRegister {
public:
    explicit UnitRegister(std::vector<HRUEntry>& list) : List(list) {}

    // The unit id of the key, and whether the cell opened a new unit.
    uint64_t Assign(const std::string& key, long row, long col, bool* isNew) {
        const auto [at, inserted] = Ids.try_emplace(key, static_cast<uint64_t>(List.size()));
        *isNew = inserted;
        if (inserted) {
            HRUEntry unit;
            unit.Id = at->second;
            unit.Key = key;
            unit.MasterRow = static_cast<int32_t>(row);
            unit.MasterCol = static_cast<int32_t>(col);
            List.push_back(std::move(unit));
        }
        return at->second;
    }

private:
    std::vector<HRUEntry>& List;
    std::unordered_map<std::string, uint64_t> Ids;
};

// A new grid over all rows, every cell nodata.
double** NodataGrid(modelobject& setup) {
    double** grid = setup.matrix(1, setup.NRows, 1, setup.NCols, setup.NRows);
    for (long r = 1; r <= setup.NRows; ++r)
        for (long c = 1; c <= setup.NCols; ++c) grid[r][c] = setup.NoData;
    return grid;
}

[[noreturn]] void NoFreeEntry(modelobject& setup, const char* what) {
    if (setup.Writer) {
        *setup.Writer << "FATAL: when trying to create " << what << " grid: no free grid found in memory (max position "
                      << NoFreeGridEntry << ")" << "[end-entry]";
    }
    throw 12;
}

std::vector<ClassGrid> ReadClassGrids(modelobject& setup, FILE* stream, int count) {
    std::vector<ClassGrid> grids;
    for (int k = 0; k < count; ++k) {
        ClassGrid grid;
        std::string spacing;
        std::string width;
        if (!modelobject::ReadWord(stream, &grid.Name) ||
            modelobject::ScanNumberWord(stream, &grid.Width, &width) != modelobject::WordScan::Read ||
            !modelobject::ReadWord(stream, &spacing)) {
            setup.ControlFileError(" error reading HRU defintions ", "");
        }
        modelobject::ReadRestOfLine(stream, nullptr);
        // A width of zero or less would divide by zero or turn the classes
        // round; neither makes units.
        if (!(grid.Width > 0) || !std::isfinite(grid.Width)) {
            ValueNotAllowed(setup, "class width of HRU grid " + grid.Name + " in [SpinUp]", ShortestText(grid.Width),
                            "a number greater than 0");
        }
        grid.SquareRoot = spacing.find("sqrt") != std::string::npos;
        const std::string bracketed = "[" + grid.Name + "]";
        const int index = setup.FindOneOfThreeGrids(grid.Name, bracketed, bracketed);
        grid.Entry = &setup.GridTable[index];
        if (!grid.Entry->Data) {
            if (setup.Writer) {
                *setup.Writer << "FATAL: grid " << grid.Name << " used to create HRUs holds no data" << "[end-entry]";
            }
            throw 33;
        }
        grids.push_back(std::move(grid));
    }
    return grids;
}

void AppendClass(std::string& key, double cls) {
    char buffer[400];  // the widest double printed without decimals fits
    std::snprintf(buffer, sizeof buffer, "%04.0lf'", cls);
    key += buffer;
}

// Classification: every taking part cell whose first grid holds a value gets
// the key of its classes, one per grid up to the first grid without a value.
void Classify(modelobject& setup, const std::vector<ClassGrid>& grids, double** units, double** masters,
              std::vector<HRUEntry>& list) {
    const CellFilter filter = MakeCellFilter(setup);
    const double noData = setup.NoData;
    UnitRegister unitRegister(list);
    std::string key;
    for (long r = 1; r <= setup.NRows; ++r) {
        long first, last;
        gridio::RowRange(setup, r, &first, &last);
        for (long c = first; c <= last; ++c) {
            units[r][c] = noData;
            masters[r][c] = noData;
            if (!filter.Takes(r, c) || grids[0].Value(r, c, noData) == noData) continue;
            key.clear();
            for (size_t k = 0; k < grids.size(); ++k) {
                double v = grids[k].Value(r, c, noData);
                if (v == noData) break;
                if (grids[k].SquareRoot) v = std::sqrt(std::fabs(v));
                // + 0.0 turns a class of -0 into 0, so that both share a key.
                const double cls = std::floor(v / grids[k].Width) + 0.0;
                if (!(cls <= LargestClass)) {
                    if (setup.Writer) {
                        *setup.Writer << "FATAL: Creating HRUs resulted in a re-classify result of " << cls
                                      << " for grid " << grids[k].Name << " at row=" << r << " and col=" << c
                                      << ". Only 10'000 Classes are allowed for each grid. Choose a larger class "
                                         "width or use lg2 spacing to reduce the amount of HRUs."
                                      << "[end-entry]";
                    }
                    throw 1031;
                }
                AppendClass(key, cls);
            }
            bool isNew = false;
            const auto id = static_cast<double>(unitRegister.Assign(key, r, c, &isNew));
            units[r][c] = id;
            if (isNew) masters[r][c] = id;
        }
    }
}

// A supplied unit grid: its codes become the ids 1..U in scan order. Cells
// that do not take part (outside the zone grid, another process's, outside
// the row extents) belong to no unit, so that no unit has its master where
// nothing is computed.
void Renumber(modelobject& setup, const MemoryGrid& unitEntry, double** masters, std::vector<HRUEntry>& list) {
    const CellFilter filter = MakeCellFilter(setup);
    const double noData = setup.NoData;
    double** units = unitEntry.Data;
    UnitRegister unitRegister(list);
    const long firstRow = std::max<long>(1, unitEntry.FirstRow);
    const long lastRow = std::min<long>(setup.NRows, unitEntry.LastRow);
    char key[400];
    for (long r = firstRow; r <= lastRow; ++r) {
        if (!units[r]) continue;
        long first, last;
        gridio::RowRange(setup, r, &first, &last);
        for (long c = 1; c <= setup.NCols; ++c) {
            if (c < first || c > last || !filter.Takes(r, c)) {
                units[r][c] = noData;
                continue;
            }
            std::snprintf(key, sizeof key, "%0.lf", units[r][c]);
            bool isNew = false;
            const auto id = static_cast<double>(unitRegister.Assign(key, r, c, &isNew));
            units[r][c] = id;
            if (isNew) masters[r][c] = id;
        }
    }
}

// The name to write the renumbered supplied grid under: never the file it
// was read from.
std::string RenumberedFileName(const modelobject& setup, const std::string& inputName) {
    std::string input = inputName;
    PrefixDirectory(setup.InputDirectory, input);
    std::string output = ClassifiedUnitFile;
    PrefixDirectory(setup.OutputDirectory, output);
    std::error_code error;
    if (input == output || std::filesystem::equivalent(input, output, error)) return RenumberedFallbackFile;
    return ClassifiedUnitFile;
}

}  // namespace

SpinUpSettings ReadSpinUpAndCreateHRUs(modelobject& setup, int* setupGridCount) {
    SpinUpSettings result;
    if (setup.Writer) *setup.Writer << "DEBUG: Creating HRUs" << "[end-entry]";

    controltext::ControlFileSession session(setup, setup.ControlFilePath, false, "FATAL: Error opening ");
    if (!setup.FindSection("[SpinUp]", false)) {
        session.Close();
        return result;
    }
    FILE* stream = setup.ControlFile;
    ReadInteger(setup, stream, "SpinUp-switch not found", &result.SpinUpSwitch);
    if (result.SpinUpSwitch == 0) {
        session.Close();
        return result;
    }
    modelobject::ReadRestOfLine(stream, nullptr);
    // The rest of this line is not skipped: the repeat count may follow on it.
    ReadInteger(setup, stream, "doTemperaturePreSpinUp not found", &result.doTemperaturePreSpinUp);
    ReadInteger(setup, stream, "repeatCnt not found", &result.repeatCnt);
    modelobject::ReadRestOfLine(stream, nullptr);
    int numGrids = 0;
    ReadInteger(setup, stream, "numGrids not found", &numGrids);
    modelobject::ReadRestOfLine(stream, nullptr);
    if (numGrids < 0) {
        ValueNotAllowed(setup, "numGrids in [SpinUp]", std::to_string(numGrids),
                        "0 for a supplied grid HydrologicResponseUnits, or the number of classification grids");
    }

    MemoryGrid* table = setup.GridTable;
    double** units = nullptr;
    double** masters = nullptr;
    if (numGrids > 0) {
        const std::vector<ClassGrid> grids = ReadClassGrids(setup, stream, numGrids);
        // Every user of the units looks the unit grid up by name and would
        // find a supplied one first, with codes that do not match the list.
        if (FindGridEntry(table, UnitGridName, false) > 0) {
            ValueNotAllowed(setup, "numGrids in [SpinUp]", std::to_string(numGrids),
                            "0 while a standard grid HydrologicResponseUnits is read; remove that grid to "
                            "classify");
        }
        const int unitIndex = FindFreeGridEntry(table);
        if (unitIndex == NoFreeGridEntry) NoFreeEntry(setup, "HRU");
        const int masterIndex = FindFreeGridEntry(table, unitIndex + 1);
        if (masterIndex == NoFreeGridEntry) NoFreeEntry(setup, "HRUMaster");
        units = NodataGrid(setup);
        setup.StoreGrid(unitIndex, ClassifiedUnitFile, units, nullptr, 1, UnitGridName, 0, 1, setup.NRows);
        masters = NodataGrid(setup);
        setup.StoreGrid(masterIndex, ClassifiedMasterFile, masters, nullptr, 1, MasterGridName, 0, 1, setup.NRows);
        if (setupGridCount) *setupGridCount += 2;
        result.UnitGridIndex = unitIndex;
        result.MasterGridIndex = masterIndex;

        Classify(setup, grids, units, masters, result.HRUList);
        session.Close();
    } else {
        session.Close();
        const int unitIndex = setup.FindGrid(UnitGridName);
        if (unitIndex <= 0) {
            if (setup.Writer) {
                *setup.Writer << "FATAL: standard grid with identifier " << UnitGridName
                              << " not found (Hydrologic Respond Units, HRU; used for SpinUp mode)" << "[end-entry]";
            }
            throw 1030;
        }
        const int masterIndex = FindFreeGridEntry(table);
        if (masterIndex == NoFreeGridEntry) NoFreeEntry(setup, "HRUMaster");
        masters = NodataGrid(setup);
        setup.StoreGrid(masterIndex, MasterGridName, masters, nullptr, 1, MasterGridName, 0, 1, setup.NRows);
        if (setupGridCount) *setupGridCount += 1;
        result.UnitGridIndex = unitIndex;
        result.MasterGridIndex = masterIndex;

        Renumber(setup, table[unitIndex], masters, result.HRUList);
        units = table[unitIndex].Data;
    }

    if (setup.ProcessNumber == 0) {
        const std::string& unitName = table[result.UnitGridIndex].FileName;
        const std::string unitFile = numGrids > 0 ? unitName : RenumberedFileName(setup, unitName);
        setup.WriteGrid(unitFile, units, setup.WriteAsciiGrids, setup.WriteDoubleGrids);
        setup.WriteGrid(table[result.MasterGridIndex].FileName, masters, setup.WriteAsciiGrids,
                        setup.WriteDoubleGrids);
    }
    return result;
}
