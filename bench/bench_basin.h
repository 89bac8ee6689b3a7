#pragma once
// A generated basin for the benchmark: a valley on a raster of any size,
// three subbasins side by side along it, nodata outside an ellipse, three
// land uses by elevation, and twenty meteorological stations spread over
// the raster. Everything is deterministic.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "framework/memory_handling.h"

namespace bench {

constexpr double NoData = -9999;
constexpr int StationCount = 20;

// Grids are 1-based row-pointer matrices owned by the basin.
struct Basin {
    Basin(long rows, long cols);
    ~Basin();
    Basin(const Basin&) = delete;
    Basin& operator=(const Basin&) = delete;

    long Rows, Cols;
    double CellSize = 100;
    double XllCorner = 600000, YllCorner = 200000;
    long ValidCells = 0;  // cells inside the basin

    memory_handling Memory;
    double** Zones;       // 1, 2, 3 inside, nodata outside
    double** Elevation;   // [m]
    double** Landuse;     // table positions 1..3 everywhere
    double** RelCellArea; // 1 inside, nodata outside
    double** CoordX;      // cell centres [m]
    double** CoordY;

    // Stations: 1-based arrays of StationCount + 1 (element 0 unused).
    std::vector<double> StationX, StationY, StationZ, StationValue;

    // A new matrix over the raster, filled with `value`; freed with the basin.
    double** NewGrid(double value);

private:
    std::vector<double**> Owned;
};

// A fingerprint of the grid's bits over the raster, to see that two runs give
// the same grid.
uint64_t Fingerprint(double** grid, long rows, long cols, uint64_t seed = 1469598103934665603ULL);

// Seconds since `start`.
double SecondsSince(std::chrono::steady_clock::time_point start);

// A temporary directory for whatever a phase must be given as output
// directory; removed with everything in it when the object goes.
class ScratchDirectory {
public:
    ScratchDirectory();
    ~ScratchDirectory();
    ScratchDirectory(const ScratchDirectory&) = delete;
    ScratchDirectory& operator=(const ScratchDirectory&) = delete;
    const std::string& Path() const { return PathText; }  // ends with "/"

private:
    std::string PathText;
};

}  // namespace bench
