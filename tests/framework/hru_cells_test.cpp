// The master cells of hydrologic response units.

#include <gtest/gtest.h>

#include "framework/hru_cells.h"
#include "framework/memory_handling.h"

TEST(HruCells, MastersAndAUnitWithout) {
    memory_handling memory;
    double** masters = memory.matrix(1, 2, 1, 3, 2);
    const double values[2][3] = {{-9999, 2, -9999}, {1, 1.5, 7}};
    for (int r = 1; r <= 2; ++r)
        for (int c = 1; c <= 3; ++c) masters[r][c] = values[r - 1][c - 1];
    const HruMasterTable table = FindHruMasterCells(masters, 2, 3, -9999);
    memory.free_matrix(masters, 1, 2, 1, 3);
    // 1.5 is no unit id and 7 lies beyond the 6 cells of the grid
    ASSERT_EQ(table.size(), 3u);
    EXPECT_EQ(HruMasterOf(table, 1), std::make_pair(2, 1));
    EXPECT_EQ(HruMasterOf(table, 2.0), std::make_pair(1, 2));
    EXPECT_TRUE(FindHruMasterCells(nullptr, 2, 3, -9999).empty());
    // a unit without a master cell stops the process, also in release builds
    EXPECT_DEATH(HruMasterOf(table, 3), "has no master cell");
    EXPECT_DEATH(HruMasterOf(table, -9999), "hru_cells.cpp");
}
