#pragma once
// The zone (subbasin) table: zones ranked 1 to n in ascending order of code,
// with cell counts and area fractions, and per grid row the range of columns
// that hold valid cells.

#include <cstdint>

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
