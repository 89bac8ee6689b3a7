#pragma once
// Regression regions of the set-up: the region table ranked from a grid of
// region codes, and the weight grids with which values of neighbouring
// regions are blended near their borders. The kernels work on plain 1-based
// matrices; the caller looks the grids up, stores and writes them.

#include <cstdint>
#include <string>
#include <vector>

class DiagnosticsWriter;
struct RowExtent;

inline constexpr int MaxRegionCode = 32767;
inline constexpr int MaxRegionCount = 30;

// One regression region: the mean position of its cells and their number.
struct RegionRecord {
    int MeanRow = 0;          // mean row, truncated towards zero
    int MeanCol = 0;          // mean column, truncated towards zero
    double MeanRowExact = 0;  // mean row
    double MeanColExact = 0;  // mean column
    double CellCount = 0;     // number of cells
};

struct RegionTable {
    std::vector<RegionRecord> Records;  // ranks 0..Count; record 0 is all 0
    std::vector<double> Codes;          // ranks 0..Count: the value of the first cell met with the code; 0 at rank 0
    std::vector<int> CodeToRank;        // codes 0..LargestCode; 0 for a code without a region
    int Count = 0;                      // number of regions r
    int LargestCode = 0;                // largest region code
};

// The derived grids of the region weights, 1-based [1..rows][1..cols] matrices
// allocated by the caller: Weights1 always, Regions2 and Weights2 when the
// region count is above 1, Regions3 and Weights3 when it is above 2.
struct RegionWeightGrids {
    double** Weights1 = nullptr;  // "regression_weights1": weight of the cell's own region
    double** Regions2 = nullptr;  // "regression_regions2": nearest other region, 0 when none
    double** Weights2 = nullptr;  // "regression_weights2"
    double** Regions3 = nullptr;  // "regression_regions3": second other region, 0 when none
    double** Weights3 = nullptr;  // "regression_weights3"
};

// Internal name and file-name suffix of a derived region grid.
struct DerivedRegionGrid {
    const char* InternalName;
    const char* Suffix;
};

// The weight and region grids made for `regionCount` regions, in the order in
// which they take grid-table entries and are written: "regression_weights1",
// then with more than one region "regression_regions2" and
// "regression_weights2", with more than two "regression_regions3" and
// "regression_weights3".
std::vector<DerivedRegionGrid> RegionWeightGridsFor(int regionCount);

// The region grid used when the user gave none: 1 where the zone grid differs
// from nodata, nodata elsewhere.
void MakeRegionGridFromZones(double** zoneGrid, double** regionGrid, int32_t rows, int32_t cols, double nodata);

// Ranks the region codes (a cell's value rounded, halves upwards) of every cell
// where the zone grid differs from nodata, in ascending order of code. A code
// outside 1..MaxRegionCode there (a nodata region value included) ends the run
// with code 3, more than MaxRegionCount regions with code 4. `regionFileName`
// and `moduleName` appear in the messages only.
RegionTable RankRegions(double** zoneGrid, double** regionGrid, int32_t rows, int32_t cols, double nodata,
                        DiagnosticsWriter* writer, const std::string& regionFileName, const std::string& moduleName);

// Fills the weight grids of the table's regions. `transitionDistance` is in
// the length unit of the cell size; 0 or less (or not a number) becomes 0.01,
// which the caller keeps; an infinite distance ends the run with code 17.
// Cells whose zone value is at most nodata get nodata in the region grid, and
// within a row's valid columns (`rowExtents`, 1-based per row) in all weight
// and region grids; cells outside the valid columns get 0. In every valid cell
// the weights add up to 1.
void GenerateRegionWeights(double** zoneGrid, double** regionGrid, int32_t rows, int32_t cols, double cellSize,
                           double nodata, const RowExtent* rowExtents, const RegionTable& regions,
                           double* transitionDistance, const RegionWeightGrids& grids, DiagnosticsWriter* writer);
