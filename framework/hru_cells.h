#pragma once
// Hydrologic response units: one master cell per unit is computed and every
// other cell of the unit copies it. The grid "HydrologicResponseUnits" holds
// each cell's unit id; "MasterHydrologicResponseUnits" holds the unit id at
// the unit's master cell and nodata elsewhere.

#include <cstdint>
#include <utility>
#include <vector>

// Per unit id the master cell (row, column); (0, 0) for ids without one.
using HruMasterTable = std::vector<std::pair<int32_t, int32_t>>;

// Scans the master grid (1-based rows and columns). Values that are nodata,
// not whole numbers or outside 1 to rows x cols are no unit ids.
HruMasterTable FindHruMasterCells(double** masterGrid, int32_t rows, int32_t cols, double noData);

// The master cell of the unit `unitValue` (a cell's value in the unit grid).
// Every unit has a master cell (the set-up builds them so); a unit without
// one is an internal error that ends the process.
std::pair<int32_t, int32_t> HruMasterOf(const HruMasterTable& masters, double unitValue);
