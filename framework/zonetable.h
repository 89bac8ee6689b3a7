#pragma once
// The zone (subbasin) table: zones ranked 1 to n in ascending order of code,
// with cell counts and area fractions, and per grid row the range of columns
// that hold valid cells.

#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

class DiagnosticsWriter;

struct ZoneRecord {
    double n = 0;          // weighted cell sum (relative areas, or cell count)
    double sx = 0;         // number of cells
    double zonenwert = 0;  // the zone code
    double rel = 0;        // area fraction; record 0: total area [km2]
    double RelCellSum = 0; // the same sum as n after the ranking
};

struct RowExtent {
    int32_t first = 0;  // first column with a valid cell
    int32_t last = -1;  // last column with a valid cell; -1 for an empty row
};

constexpr int MaxZoneCode = 32767;
constexpr int MaxZoneCount = 16000;
constexpr int MaxSubbasinCount = 10000;

// A ranked zone grid. The caller owns it; components that keep raw pointers
// (modelobject::Zones, modelobject::RowExtents) point into its vectors.
struct ZoneTable {
    std::vector<ZoneRecord> Records;    // ranks 0..Count; record 0 is the basin record
    std::vector<int> CodeToRank;        // codes 0..LargestCode; 0 for a code without a zone
    int Count = 0;                      // number of zones n
    int LargestCode = 0;                // largest code met
    std::vector<RowExtent> RowExtents;  // rows 0..rows (0 unused) when derived here, else empty
};

// The two rankings differ in where the row extents come from, the limit on the
// number of zones, the code of the basin record and their messages.
enum class ZoneRankingKind {
    // A sub-model's subbasin table: scans within the given row extents, at
    // most MaxSubbasinCount zones, record 0 has zonenwert 1.
    SubModel,
    // The set-up's zone table: derives the row extents from the whole grid,
    // no subbasin limit, record 0 keeps zonenwert 0.
    SetUp,
};

// Code of a zone-grid cell: its value rounded to the nearest whole number,
// halves upwards.
inline double ZoneCodeOf(double value) { return std::floor(value + 0.5); }

// First and last column of each row 1..rows whose value differs from the
// missing value; an empty row gets first 0 and last -1. Entry 0 is unused.
std::vector<RowExtent> DeriveRowExtents(double** grid, int32_t rows, int32_t cols, double missingValue);

// Ranks the codes of a zone grid [1..rows][1..cols]. Cells equal to the missing
// value are skipped. `rowExtents` (1-based, one per row) limits the scan of a
// SubModel ranking and is ignored by a SetUp ranking. `relativeArea` (may be
// null) weights each cell; without it every cell counts 1. `cellSize` [m]
// gives the basin area [km2] in record 0. `fileName` and `moduleName` only
// appear in the messages. Bad input writes a FATAL entry and throws 3, 4 or 7.
ZoneTable RankZoneGrid(ZoneRankingKind kind, double** zoneGrid, int32_t rows, int32_t cols,
                       const RowExtent* rowExtents, double missingValue, double cellSize, double** relativeArea,
                       DiagnosticsWriter* writer, const std::string& fileName, const std::string& moduleName);
