#pragma once
// A grid table for in-process tests of a sub-model: grids of one value are
// added by name, found by name, and freed with the table. A fixture that
// owns a model releases it before this base frees the grids (members of the
// derived fixture go first).

#include <memory>
#include <string>
#include <vector>

#include "framework/gridtable.h"
#include "framework/memory_handling.h"

namespace testsupport {

struct TestGridTable {
    int GridRows, GridCols;
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    memory_handling memory;
    std::vector<double**> grids;

    TestGridTable(int rows, int cols) : GridRows(rows), GridCols(cols) {}
    ~TestGridTable() {
        for (double** grid : grids) memory.free_matrix(grid, 1, GridRows, 1, GridCols);
    }
    TestGridTable(const TestGridTable&) = delete;
    TestGridTable& operator=(const TestGridTable&) = delete;

    // A new grid filled with `value` in the first free entry.
    double** Add(const std::string& name, double value, const std::string& fileName = "") {
        double** grid = memory.matrix(1, GridRows, 1, GridCols, GridRows);
        for (int r = 1; r <= GridRows; ++r)
            for (int c = 1; c <= GridCols; ++c) grid[r][c] = value;
        grids.push_back(grid);
        MemoryGrid& entry = table[FindFreeGridEntry(table.get())];
        entry.Data = grid;
        entry.InternalName = name;
        entry.FileName = fileName;
        entry.EverUsed = true;
        return grid;
    }
    // The grid of that name, or null.
    double** Grid(const std::string& name, bool exact = false) {
        const int index = FindGridEntry(table.get(), name, exact);
        return index > 0 ? table[index].Data : nullptr;
    }
};

}  // namespace testsupport
