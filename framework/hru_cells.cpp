#include "framework/hru_cells.h"

#include <cmath>

#include "framework/invariant.h"

HruMasterTable FindHruMasterCells(double** masterGrid, int32_t rows, int32_t cols, double noData) {
    HruMasterTable masters;
    if (!masterGrid) return masters;
    const double largestId = static_cast<double>(rows) * static_cast<double>(cols);
    for (int32_t row = 1; row <= rows; ++row) {
        for (int32_t col = 1; col <= cols; ++col) {
            const double id = masterGrid[row][col];
            if (id == noData || !(id >= 1 && id <= largestId) || id != std::floor(id)) continue;
            const size_t k = static_cast<size_t>(id);
            if (masters.size() <= k) masters.resize(k + 1, {0, 0});
            masters[k] = {row, col};
        }
    }
    return masters;
}

std::pair<int32_t, int32_t> HruMasterOf(const HruMasterTable& masters, double unitValue) {
    const bool known = unitValue >= 1 && unitValue < static_cast<double>(masters.size());
    RUVEX_INVARIANT(known, "a cell of a hydrologic response unit whose unit has no master cell");
    const auto cell = masters[static_cast<size_t>(unitValue)];
    RUVEX_INVARIANT(cell.first > 0, "a cell of a hydrologic response unit whose unit has no master cell");
    return cell;
}
