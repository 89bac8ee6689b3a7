#include "setup/defltuzr_decomposition.h"

#include <cmath>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"

int RunLengthRow(const double* row, int columns, double noData, double* out) {
    int c = 1;
    int leading = 0;
    while (c <= columns && row[c] == noData) {
        ++leading;
        ++c;
    }
    out[0] = leading;
    int used = 1;
    while (c <= columns) {
        const double value = row[c];
        int length = 0;
        while (c <= columns && row[c] == value) {
            ++length;
            ++c;
        }
        out[used] = value;
        out[used + 1] = length;
        used += 2;
    }
    return used;
}

void MakeMPIRegions(modelobject& setup, double** zoneGrid, RegionDecomposition& d, int* setupGridCount) {
    const int rows = setup.NRows;
    const int cols = setup.NCols;
    const double noData = setup.NoData;
    const int processCount = setup.ProcessCount > 0 ? setup.ProcessCount : 1;
    const int process = setup.ProcessNumber;
    d.FirstRow = 1;
    d.LastRow = rows;
    d.CellsPerProcess.assign(static_cast<size_t>(processCount) + 1, 0);
    d.ExchangeListFirst.clear();
    d.ExchangeListSecond.clear();
    if (process != 0) return;

    const int first = FindFreeGridEntry(setup.GridTable);
    if (first == NoFreeGridEntry || first + 2 > LastGridIndex || !GridEntryFree(setup.GridTable[first + 1]) ||
        !GridEntryFree(setup.GridTable[first + 2])) {
        if (setup.Writer) {
            *setup.Writer << "FATAL: when trying to create MPI-Regions: no free grid found in memory (at position "
                          << 1000 << ")" << "[end-entry]";
        }
        throw 12;
    }
    d.Regions = setup.matrix(1, rows, 1, cols, rows);
    // A run-length row needs up to twice the columns plus one elements.
    d.HelperLastColumn = 2L * cols;
    d.Helper = setup.matrix(1, rows, 1, d.HelperLastColumn, rows);
    d.Halo = setup.matrix(1, rows, 1, cols, rows);
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            d.Regions[r][c] = noData;
            d.Halo[r][c] = noData;
        }
    }
    d.RegionsIndex = first;
    d.HelperIndex = first + 1;
    d.HaloIndex = first + 2;
    setup.StoreGrid(d.RegionsIndex, "", d.Regions, nullptr, 1, "MPIRegions", 0, 1, rows);
    setup.StoreGrid(d.HelperIndex, "", d.Helper, nullptr, 1, "MPIHelper", 0, 1, rows);
    setup.StoreGrid(d.HaloIndex, "", d.Halo, nullptr, 1, "MPIHalo", 0, 1, rows);
    if (setupGridCount) *setupGridCount += 3;

    setup.FindGrid("river_links");
    int64_t valid = 0;
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c)
            if (zoneGrid[r][c] > noData) ++valid;
    if (setup.Writer) {
        *setup.Writer << "MPI regular cells: " << static_cast<long long>(valid) << "\nMPI river cells: " << 0
                      << "[end-entry]";
    }

    // Quotas: equal shares, the last instance takes the remainder.
    std::vector<int64_t> quota(static_cast<size_t>(processCount), 0);
    int64_t dealt = 0;
    for (int i = 0; i < processCount - 1; ++i) {
        quota[static_cast<size_t>(i)] =
            static_cast<int64_t>(std::floor(static_cast<double>(valid) / processCount + 0.4999));
        dealt += quota[static_cast<size_t>(i)];
    }
    quota[static_cast<size_t>(processCount - 1)] = valid - dealt;
    for (int i = 0; i < processCount; ++i) {
        if (setup.Writer) {
            *setup.Writer << "MPI num cells: " << static_cast<long long>(quota[static_cast<size_t>(i)])
                          << " for instance: " << i << "[end-entry]";
        }
    }

    int current = processCount - 1;
    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            if (!(zoneGrid[r][c] > noData)) continue;
            d.Regions[r][c] = current;
            if (--quota[static_cast<size_t>(current)] <= 0 && current > 0) --current;
        }
    }
    for (int r = 1; r <= rows; ++r) RunLengthRow(d.Regions[r], cols, noData, d.Helper[r]);

    static const int dr[8] = {-1, -1, -1, 0, 1, 1, 1, 0};
    static const int dc[8] = {-1, 0, 1, 1, 1, 0, -1, -1};
    for (int r = d.FirstRow; r <= d.LastRow; ++r) {
        for (int c = 1; c <= cols; ++c) {
            if (d.Regions[r][c] != process) continue;
            for (int k = 0; k < 8; ++k) {
                const int nr = r + dr[k];
                const int nc = c + dc[k];
                if (nr < 1 || nr > rows || nc < 1 || nc > cols) continue;
                const double other = d.Regions[nr][nc];
                if (other != process && other != noData) {
                    d.Halo[nr][nc] = other;
                    d.Halo[r][c] = other;
                }
            }
        }
    }

    for (int r = 1; r <= rows; ++r) {
        for (int c = 1; c <= cols; ++c) {
            if (zoneGrid[r][c] > noData && d.Regions[r][c] > noData) {
                const int owner = static_cast<int>(d.Regions[r][c]);
                if (owner >= 0 && owner < processCount) ++d.CellsPerProcess[static_cast<size_t>(owner)];
            }
        }
    }
}

void FreeMPIRegions(modelobject& setup, RegionDecomposition& d) {
    const int rows = setup.NRows;
    setup.free_matrix(d.Regions, 1, rows, 1, setup.NCols);
    setup.free_matrix(d.Helper, 1, rows, 1, d.HelperLastColumn);
    setup.free_matrix(d.Halo, 1, rows, 1, setup.NCols);
    d.Regions = d.Helper = d.Halo = nullptr;
}
