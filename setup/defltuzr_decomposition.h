#pragma once
// Division of the zone grid's cells among the instances of a run. The model
// runs as one process, so instance 0 owns every valid cell, the halo stays
// empty and the exchange lists are empty.

#include <cstdint>
#include <vector>

class modelobject;

struct RegionDecomposition {
    std::vector<int64_t> CellsPerProcess;  // elements 0 to count - 1 used
    std::vector<int> ExchangeListFirst;
    std::vector<int> ExchangeListSecond;
    int FirstRow = 0;
    int LastRow = 0;
    int RegionsIndex = 0, HelperIndex = 0, HaloIndex = 0;  // grid-table entries
    double** Regions = nullptr;  // "MPIRegions": owning instance, nodata outside
    double** Helper = nullptr;   // "MPIHelper": run-length rows, 2 x columns + 1 elements each
    double** Halo = nullptr;     // "MPIHalo": neighbouring instance, nodata elsewhere
    long HelperLastColumn = 0;   // rows of "MPIHelper" hold elements 0 to this column
};

// Builds "MPIRegions", "MPIHelper" and "MPIHalo" in the first free grid-table
// entry and the two after it, raising `setupGridCount` by three.
void MakeMPIRegions(modelobject& setup, double** zoneGrid, RegionDecomposition& decomposition, int* setupGridCount);

// Releases the three matrices (the grid-table entries are released by their
// owner's teardown).
void FreeMPIRegions(modelobject& setup, RegionDecomposition& decomposition);

// The run-length description of one row: element 0 counts the leading nodata
// cells, then pairs of (value, run length). Returns the number of elements used.
int RunLengthRow(const double* row, int columns, double noData, double* out);
