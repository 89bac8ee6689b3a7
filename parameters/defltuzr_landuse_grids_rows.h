#pragma once
// Row loops of the daily land-use parameter grids: rows in parallel, each row
// written by one thread only; a failure stops its row, and after the loop the
// failure of the lowest row is raised again, whatever the thread count.

#include <cstdint>
#include <exception>
#include <vector>

#include "framework/parallel_rows.h"

#include "framework/invariant.h"

// Without a cell count: grids of fewer rows are not worth waking the threads for.
constexpr int MinimumParallelRows = 16;

// `cells`: the valid cells of the rows, which decide whether threads pay.
template <typename RowBody>
void ForEachRow(int firstRow, int lastRow, int64_t cells, RowBody body) {
    if (lastRow < firstRow) return;
    std::vector<std::exception_ptr> failures(static_cast<size_t>(lastRow - firstRow) + 1);
    const bool parallel = WorthThreads(cells);
#pragma omp parallel for schedule(static, 1) if (parallel)
    for (int row = firstRow; row <= lastRow; ++row) {
        try {
            body(row);
        } catch (...) {
            failures[static_cast<size_t>(row - firstRow)] = std::current_exception();
        }
    }
    for (const std::exception_ptr& failure : failures) {
        if (failure) std::rethrow_exception(failure);
    }
}

template <typename RowBody>
void ForEachRow(int firstRow, int lastRow, RowBody body) {
    const int64_t rows = lastRow >= firstRow ? lastRow - firstRow + 1 : 0;
    ForEachRow(firstRow, lastRow, rows >= MinimumParallelRows ? ParallelMinimumCells : 0, body);
}
