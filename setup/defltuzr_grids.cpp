// The model raster and the model-wide grids: the zone-grid header, the zone
// grid, the elevation model, the standard and the variable grids, and the
// matrices the set-up owns for them.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/gridfiles.h"
#include "framework/gridfiles_io.h"
#include "framework/gridtable.h"
#include "framework/signals.h"
#include "setup/control_text.h"
#include "setup/defltuzr.h"

namespace {

constexpr double BinaryMark = -9999;
// Coordinates of a raster lie within this bound (far beyond any map
// projection); their squares, as distances take them, stay finite.
constexpr double MaxCoordinate = 1e15;
// A cell must stay distinguishable at its coordinates: no coordinate of the
// raster is larger than 1e12 cell sizes.
constexpr double MinRelativeCellSize = 1e-12;

[[noreturn]] void BrokenInvariant(const char* what, const char* file, int line) {
    std::fprintf(stderr, "internal error: %s (%s:%d)\n", what, file, line);
    std::abort();
}

#define GRIDS_CHECK(condition) \
    do { \
        if (!(condition)) BrokenInvariant(#condition, __FILE__, __LINE__); \
    } while (0)

template <typename... Pieces>
[[noreturn]] void Fatal(DiagnosticsWriter* writer, int code, const Pieces&... pieces) {
    gridio::Entry(writer, pieces...);
    throw code;
}

// The six measures of a zone-grid header that the model takes over.
struct ZoneHeader {
    double values[6] = {};
};

void ReadTextHeader(DiagnosticsWriter* writer, FILE* file, const std::string& path, ZoneHeader& header) {
    gridio::TextScanner scanner(file);
    std::string word;
    for (double& value : header.values) {
        if (!scanner.NextToken(word) || !scanner.NextNumber(&value)) Fatal(writer, 22, "FATAL: error reading ", path);
    }
}

void ReadDoubleHeader(DiagnosticsWriter* writer, FILE* file, const std::string& path, ZoneHeader& header) {
    unsigned char bytes[12 * 8];
    if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
        Fatal(writer, 22, "FATAL: error reading double value from the header of ", path);
    }
    for (int k = 0; k < 6; ++k) header.values[k] = gridio::GetDouble(bytes + 8 * k);
}

void ReadFloatHeader(DiagnosticsWriter* writer, FILE* file, const std::string& path, ZoneHeader& header) {
    for (int k = 1; k <= 12; ++k) {
        unsigned char bytes[4];
        if (std::fread(bytes, 1, sizeof bytes, file) != sizeof bytes) {
            Fatal(writer, 22, "FATAL: error reading double value #", k, " from the header of ", path);
        }
        if (k <= 6) header.values[k - 1] = gridio::GetFloat(bytes);
    }
}

// The raster measures must describe a grid that can exist and that the file
// can hold: a broken header must not turn into a huge allocation, a zero or
// non-finite cell size or a nodata value no cell can equal.
void CheckRaster(DiagnosticsWriter* writer, const std::string& path, const ZoneHeader& header, long long fileBytes,
                 int valueBytes) {
    const double columns = header.values[0];
    const double rows = header.values[1];
    const auto badCount = [](double value) {
        return !std::isfinite(value) || std::floor(value) < 1 || value >= INT_MAX;
    };
    if (badCount(columns) || badCount(rows)) {
        Fatal(writer, 22, "FATAL: error reading ", path, ": impossible grid size of ", columns, " columns and ",
              rows, " rows");
    }
    for (int k = 2; k < 6; ++k) {
        if (!std::isfinite(header.values[k])) {
            Fatal(writer, 22, "FATAL: error reading ", path, ": header value #", k + 1, " is not a finite number");
        }
    }
    if (!(header.values[4] > 0)) {
        Fatal(writer, 22, "FATAL: error reading ", path, ": the cell size ", header.values[4],
              " is not positive");
    }
    // Cell areas (the square of the cell size) and the coordinates of every
    // cell, and the squared distances between them, must be finite numbers
    // that tell the cells apart.
    const double cellSize = header.values[4];
    const double area = cellSize * cellSize;
    if (!std::isnormal(area)) {
        Fatal(writer, 22, "FATAL: error reading ", path, ": the cell size ", cellSize,
              " gives no usable cell area (its square is ", area, ")");
    }
    for (int k = 0; k < 2; ++k) {
        const double corner = header.values[2 + k];
        const double reach = std::fabs(corner) + std::floor(header.values[k]) * cellSize;
        if (!(reach <= MaxCoordinate) || !(cellSize >= reach * MinRelativeCellSize)) {
            Fatal(writer, 22, "FATAL: error reading ", path, ": the ", k == 0 ? "x" : "y", " corner ", corner,
                  " with ", std::floor(header.values[k]), k == 0 ? " columns" : " rows", " of cell size ", cellSize,
                  " gives coordinates up to ", reach, " (at most ", MaxCoordinate, " and ",
                  1 / MinRelativeCellSize, " cell sizes are allowed)");
        }
    }
    // A binary file holds every value in `valueBytes` after its header; a text
    // file at least one digit and one separator per value.
    const long double cells = std::floor(static_cast<long double>(columns)) * std::floor(static_cast<long double>(rows));
    const long double needed = valueBytes > 0 ? (12.0L + cells) * valueBytes : 2.0L * cells - 1.0L;
    if (fileBytes >= 0 && needed > static_cast<long double>(fileBytes)) {
        Fatal(writer, 22, "FATAL: error reading ", path, ": the file is too short for a grid of ",
              std::floor(columns), " columns and ", std::floor(rows), " rows");
    }
}

}  // namespace

defaultini::~defaultini() {
    // A run that ends during the initialisation never reaches DeleteModule.
    FreeMPIRegions(*this, Decomposition);
    FreeOwnedMatrices();
}

void defaultini::ReadGridHeader(int32_t& columns, int32_t& rows, double& xllCorner, double& yllCorner,
                                double& cellSize, double& noData) {
    CheckGridIndex(1);
    // The same path as the grid reader will open.
    std::string path = GridTable[1].FileName;
    PrefixDirectory(InputDirectory, path);

    CtrlCIgnored quiet;
    gridio::CFile file(std::fopen(path.c_str(), "rb"));
    if (!file.get()) Fatal(Writer, 21, "FATAL: error opening ", path);

    unsigned char head[12 * 8];
    const size_t got = std::fread(head, 1, sizeof head, file.get());
    std::rewind(file.get());
    ZoneHeader header;
    int valueBytes = 0;
    if (got >= 4 && std::memcmp(head, "ncol", 4) == 0) {
        ReadTextHeader(Writer, file.get(), path, header);
    } else if (got >= sizeof head && gridio::GetDouble(head + 40) == BinaryMark) {
        ReadDoubleHeader(Writer, file.get(), path, header);
        valueBytes = 8;
    } else if (got >= 24 && gridio::GetFloat(head + 20) == static_cast<float>(BinaryMark)) {
        ReadFloatHeader(Writer, file.get(), path, header);
        valueBytes = 4;
    } else {
        Fatal(Writer, 22, "FATAL: could not recognise file format (ascii, double or double) for ", path);
    }
    CheckRaster(Writer, path, header, gridio::FileSize(file.get()), valueBytes);
    if (!file.Close()) Fatal(Writer, 23, "FATAL: error closing grid ", path);

    columns = static_cast<int32_t>(std::floor(header.values[0]));
    rows = static_cast<int32_t>(std::floor(header.values[1]));
    xllCorner = header.values[2];
    yllCorner = header.values[3];
    cellSize = header.values[4];
    noData = header.values[5];
}

void defaultini::ReadZoneGrid() {
    ReadGridHeader(NCols, NRows, XllCorner, YllCorner, CellSize, NoData);
    // One process handles every row.
    FirstRow = 1;
    LastRow = NRows;
    CopyGeometryToSettings();

    MemoryGrid& zone = GridTable[1];
    const std::string fileName = zone.FileName;
    double** grid = nullptr;
    ReadGrid(fileName, grid, 0, true, true, 0, false);
    AdoptOwnedMatrix(grid, 1, NRows);
    StoreGrid(1, fileName, grid, nullptr, 1, "[zone_grid]", zone.UnitsDigit, 1, NRows);
    ZoneGrid = grid;
}

double** defaultini::NewOwnedMatrix(long firstRow, long lastRow) {
    double** grid = matrix(firstRow, lastRow, 1, NCols, NRows);
    AdoptOwnedMatrix(grid, firstRow, lastRow);
    return grid;
}

void defaultini::AdoptOwnedMatrix(double** grid, long firstRow, long lastRow) {
    if (!grid) return;
    for (const OwnedMatrix& owned : OwnedMatrices) {
        if (owned.Grid == grid) return;
    }
    OwnedMatrices.push_back({grid, firstRow, lastRow, NCols});
}

template <typename InsideTest>
double** defaultini::CreateMaskedGrid(double inside, InsideTest isInside) {
    GRIDS_CHECK(ZoneGrid != nullptr);
    double** grid = NewOwnedMatrix(FirstRow, LastRow);
    for (long i = FirstRow; i <= LastRow; ++i) {
        for (long j = 1; j <= NCols; ++j) grid[i][j] = isInside(ZoneGrid[i][j]) ? inside : NoData;
    }
    return grid;
}

void defaultini::ReadOrCreateStandardGrids() {
    GRIDS_CHECK(ZoneGrid != nullptr);
    const int last = Settings.SetupGridCount + 2;
    for (int index = 2; index <= last; ++index) {
        CheckGridIndex(index);
        MemoryGrid& entry = GridTable[index];
        if (entry.Data) continue;
        double** grid = nullptr;
        long firstRow = FirstRow;
        long lastRow = LastRow;
        if (entry.ReadCode >= 1) {
            ReadGrid(entry.FileName, grid, entry.FillCode, true, true, entry.DefaultValue, true);
            firstRow = 1;
            lastRow = NRows;
            AdoptOwnedMatrix(grid, firstRow, lastRow);
        } else {
            grid = CreateMaskedGrid(entry.DefaultValue, [this](double zone) { return zone != NoData; });
        }
        // Output goes under the output name when one was given, so that the
        // input file is never overwritten by the grid's own output.
        const std::string storeName = entry.OutputName.empty() ? entry.FileName : entry.OutputName;
        StoreGrid(index, storeName, grid, nullptr, 1, entry.InternalName, entry.UnitsDigit, firstRow, lastRow);
        if (!entry.Persistent) {
            double** backup = NewOwnedMatrix(firstRow, lastRow);
            for (long i = firstRow; i <= lastRow; ++i) std::copy(grid[i] + 1, grid[i] + NCols + 1, backup[i] + 1);
            entry.Backup = backup;
        }
    }
}

int defaultini::ReadVariableGrids() {
    controltext::ControlFileSession session(*this, ControlFilePath, false, "FATAL: error opening ");
    FindSection("[variable_grids]", true);
    int count = 0;
    ReadValue(ControlFile, "%d", &count, " number of variable grids ");
    if (count < 0) ValueOutOfRange(" number of variable grids ", count, "0 or more variable grids");

    VariableGridReadFlags.assign(1, 0);
    VariableGridCount = 0;
    FirstVariableEntry = 0;
    if (count == 0) {
        session.Close();
        return 0;
    }
    // The count is checked against the free entries of the grid table before
    // anything is allocated for it.
    const int first = FindFreeGridEntry(GridTable);
    if (first >= NoFreeGridEntry || count > LastGridIndex - first + 1) {
        Fatal(Writer, 12, "FATAL: no free grid found in memory (an Position ", NoFreeGridEntry, ")\n",
              "[variable_grids]: ", count, " variable grids do not fit into the ",
              first >= NoFreeGridEntry ? 0 : LastGridIndex - first + 1, " free entries of the grid table (",
              ControlFilePath, ")");
    }
    VariableGridReadFlags.assign(static_cast<size_t>(count) + 1, 0);
    FirstVariableEntry = first;

    for (int k = 1; k <= count; ++k) {
        const std::string description = "\nfile for vargrid " + std::to_string(k) +
                                        " or the identifier or the fillcode or the defaultvalue (which is new in "
                                        "version 7.7) in ";
        std::string fileName, identifier, word;
        int fillCode = 0;
        double defaultValue = 0;
        const bool lineRead = ReadWord(ControlFile, &fileName) && ReadWord(ControlFile, &identifier) &&
                              ReadWord(ControlFile, &word) && controltext::ScanInt(word, &fillCode) &&
                              ReadWord(ControlFile, &word) && controltext::ScanDouble(word, &defaultValue);
        if (!lineRead) ControlFileError(description, ModuleName);
        // The default value is one whole, finite number ("1e<bytes>-7" is none).
        if (!controltext::ScanWholeDouble(word, &defaultValue) || !std::isfinite(defaultValue)) {
            const long after = std::ftell(ControlFile);
            ValueRefused("default value of variable grid " + std::to_string(k) + " (" + identifier + ")",
                         word, "is not a finite number",
                         after >= 0 ? LineAt(ControlFile, after - static_cast<long>(word.size())) : 0);
        }
        // The grids the sub-models take as physical parameters start from
        // their default: it must be a value of that parameter.
        struct DefaultRange {
            const char* name;  // the identifier, or its stem before the layer number
            bool stem;
            double lowest, highest;
        };
        static const DefaultRange ranges[] = {
            {"albedo", false, 0, 1},                   // [-]
            {"SurfStorSiltingUp", false, 0, 1e5},      // [mm]
            {"aquifer_thickness_", true, 0, 1e4},      // [m]
            {"gw_k_x_", true, 0, 1},                   // [m/s]
            {"gw_k_y_", true, 0, 1},                   // [m/s]
            {"gw_storage_coeff_", true, 0, 1},         // [-]
            {"gw_kolmation_", true, 0, 1},             // [1/s]
            {"gw_boundary_fix_h_", true, -1e4, 1e5},   // [m], -9999 for none
            {"gw_boundary_fix_q_", true, -1e4, 1e4},   // -9999 for none
        };
        for (const DefaultRange& range : ranges) {
            const bool named = range.stem ? identifier.rfind(range.name, 0) == 0 : identifier == range.name;
            const std::string fault = named ? RangeFault(defaultValue, range.lowest, range.highest) : "";
            if (fault.empty()) continue;
            const long after = std::ftell(ControlFile);
            ValueRefused("default value of variable grid " + std::to_string(k) + " (" + identifier + ")", word, fault,
                         after >= 0 ? LineAt(ControlFile, after - static_cast<long>(word.size())) : 0);
        }
        ReadRestOfLine(ControlFile, nullptr);
        if (identifier.size() > 100) {
            ControlFileError("\nthe identifier " + identifier + " of variable grid " + std::to_string(k) +
                                 " is longer than 100 characters in ",
                             ModuleName);
        }
        int writeCode = 0;
        ReadValue(ControlFile, "%d", &writeCode, "Writegrid for a variable grid ");
        int readFlag = 0;
        ReadValue(ControlFile, "%d", &readFlag, "Readgrid for a variable grid ");
        VariableGridReadFlags[static_cast<size_t>(k)] = readFlag;

        const int index = first + k - 1;
        if (!GridEntryFree(GridTable[index])) {
            Fatal(Writer, 12, "FATAL: no free grid found in memory (an Position ", index, ")\n");
        }
        double** grid = nullptr;
        long firstRow = FirstRow;
        long lastRow = LastRow;
        if (readFlag == 1) {
            ReadGrid(fileName, grid, fillCode, true, true, 0, true);
            firstRow = 1;
            lastRow = NRows;
            AdoptOwnedMatrix(grid, firstRow, lastRow);
        } else {
            grid = CreateMaskedGrid(defaultValue, [this](double zone) { return zone > NoData; });
        }
        MemoryGrid& entry = GridTable[index];
        entry.FillCode = fillCode;
        entry.DefaultValue = defaultValue;
        entry.ReadCode = readFlag;
        if (InputFileNames.size() < GridTableEntries) InputFileNames.resize(GridTableEntries);
        InputFileNames[static_cast<size_t>(index)] = fileName;
        StoreGrid(index, fileName, grid, nullptr, 1, identifier, writeCode, firstRow, lastRow);
        if (identifier == "soil_storage") SoilStorageGrid = grid;
        VariableGridCount = k;
    }
    session.Close();
    Settings.SetupGridCount += count;
    return count;
}

double defaultini::GridMaximum(int index) {
    CheckGridIndex(index);
    const MemoryGrid& entry = GridTable[index];
    double maximum = NoData;
    if (!entry.Data) return maximum;
    const long firstRow = std::max<long>(FirstRow, entry.FirstRow);
    const long lastRow = std::min<long>(LastRow, entry.LastRow);
    for (long i = firstRow; i <= lastRow; ++i) {
        const double* row = entry.Data[i];
        if (!row) continue;
        long first = 1, last = 0;
        gridio::RowRange(*this, i, &first, &last);
        for (long j = first; j <= last; ++j) {
            if (row[j] > maximum) maximum = row[j];
        }
    }
    return maximum;
}

double defaultini::GetMaxElevation() { return MaxElevation; }

void defaultini::TakeElevationModel() {
    CheckGridIndex(2);
    ElevationModel = GridTable[2].Data;
    MaxElevation = GridMaximum(2);
}

void defaultini::check_ice_firn_grid() {
    if (FindGrid("ice_firn") > 0) return;
    if (Writer) {
        *Writer << "INFO: ice-grid not found in memory (at position " << FindFreeGridEntry(GridTable) << ")"
                << "[end-entry]";
    }
}

void defaultini::ReleaseModelGrids() {
    if (GridTable) {
        const int last = std::min(Settings.SetupGridCount + 2, LastGridIndex);
        for (int index = 1; index <= last; ++index) {
            GridTable[index].Backup = nullptr;
            ReleaseGrid(index);
        }
    }
    ZoneGrid = nullptr;
    ElevationModel = nullptr;
    SoilStorageGrid = nullptr;
    VariableGridReadFlags.clear();
    FreeOwnedMatrices();
}

void defaultini::FreeOwnedMatrices() {
    for (const OwnedMatrix& owned : OwnedMatrices) free_matrix(owned.Grid, owned.FirstRow, owned.LastRow, 1, owned.Columns);
    OwnedMatrices.clear();
}

void defaultini::CopyGeometryToSettings() {
    Settings.NCols = NCols;
    Settings.NRows = NRows;
    Settings.FirstRow = FirstRow;
    Settings.LastRow = LastRow;
    Settings.XllCorner = XllCorner;
    Settings.YllCorner = YllCorner;
    Settings.CellSize = CellSize;
    Settings.NoData = NoData;
}
