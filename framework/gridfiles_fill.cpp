#include <algorithm>
#include <string>

#include "framework/gridfiles_io.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"

namespace gridio {

namespace {

constexpr int MaxSearchDistance = 10;

// Searches the neighbourhood of a hole: for distance d, the rows row - d to
// row + d, in the k-th of them the columns column - k to column + k. The scan
// stops at the end of the first row that yields a valid value; the last
// (rightmost) valid value of that row wins.
bool SearchNeighbours(const modelobject& reader, double** grid, long row, long column, double* found) {
    for (long d = 1; d <= MaxSearchDistance; ++d) {
        for (long k = 0; k <= 2 * d; ++k) {
            const long r = row - d + k;
            if (r < 1 || r > reader.NRows || !grid[r]) continue;
            bool any = false;
            for (long c = std::max(1L, column - k); c <= std::min<long>(reader.NCols, column + k); ++c) {
                if (grid[r][c] != reader.NoData) {
                    *found = grid[r][c];
                    any = true;
                }
            }
            if (any) return true;
        }
    }
    return false;
}

struct InstanceLog {
    FILE* File = nullptr;
    ~InstanceLog() {
        if (File) std::fclose(File);
    }
};

struct CopyMatrix {
    modelobject& Owner;
    double** Grid = nullptr;
    ~CopyMatrix() {
        if (Grid) Owner.free_matrix(Grid, 1, Owner.NRows, 1, Owner.NCols);
    }
};

}  // namespace

void FillNodataHoles(modelobject& reader, const std::string& path, double** grid, double fileNoData, int fillMode,
                     double fillValue, bool fromNeighbours, bool verbose) {
    const long rows = reader.NRows;
    const long cols = reader.NCols;
    const double noData = reader.NoData;
    if (verbose) Entry(reader.Writer, "... ", path, " checking nodata values and replace");

    const std::string logName = "modell_" + std::to_string(reader.ProcessNumber) + ".log";
    InstanceLog log;
    log.File = std::fopen(logName.c_str(), "a");
    if (!log.File) {
        Entry(reader.Writer, "FATAL: error opening log file ", logName);
        throw 5;
    }

    CopyMatrix copy{reader};
    copy.Grid = reader.matrix(1, rows, 1, cols, rows);
    for (long i = 1; i <= rows; ++i) {
        if (!grid[i]) {
            std::fill(copy.Grid[i] + 1, copy.Grid[i] + cols + 1, noData);
            continue;
        }
        for (long j = 1; j <= cols; ++j) {
            if (grid[i][j] == fileNoData) grid[i][j] = noData;
            copy.Grid[i][j] = grid[i][j];
        }
    }

    // Entry 1 holds the zone grid, the mask of valid cells. Before it exists
    // (while the zone grid itself is read) there is nothing to fill.
    double** mask = reader.GridTable ? reader.GridTable[1].Data : nullptr;
    long holes = 0;
    if (mask) {
        for (long i = 1; i <= rows; ++i) {
            for (long j = 1; j <= cols; ++j) {
                if (!mask[i] || mask[i][j] == noData) {
                    copy.Grid[i][j] = noData;
                    continue;
                }
                if (!grid[i] || grid[i][j] != noData) continue;
                ++holes;
                if (fillMode == 2 || !fromNeighbours) {
                    copy.Grid[i][j] = fillValue;
                    continue;
                }
                double value = 0;
                if (!SearchNeighbours(reader, grid, i, j, &value)) {
                    Entry(reader.Writer, "FATAL: In ", path, " is a too big hole at x/y = ", i, "/", j, "!");
                    std::fprintf(log.File, "In %s is a too big hole at x/y = %ld/%ld\n!\n", path.c_str(), i, j);
                    throw 25;
                }
                copy.Grid[i][j] = value;
                Entry(reader.Writer, "DEBUG: ", "y: ", i, " x: ", j, "in ", path, ": ", grid[i][j], " replaced by ",
                      value);
                std::fprintf(log.File, "y: %ld x: %ld  in %s %lf replaced by %lf!\n", i, j, path.c_str(), grid[i][j],
                             value);
            }
        }
    }
    if (holes > 0) {
        Entry(reader.Writer, "DEBUG: In ", path, ": ", holes, " nodata values replaced!");
        std::fprintf(log.File, "in %s: %ld nodata values replaced!\n\n", path.c_str(), holes);
    }

    for (long i = 1; i <= rows; ++i) {
        if (grid[i]) std::copy(copy.Grid[i] + 1, copy.Grid[i] + cols + 1, grid[i] + 1);
    }
    FILE* file = log.File;
    log.File = nullptr;
    const bool writeFailed = std::ferror(file) != 0;
    if (std::fclose(file) != 0 || writeFailed) {
        Entry(reader.Writer, "FATAL: error writing log file ", logName);
        throw 5;
    }
}

}  // namespace gridio
