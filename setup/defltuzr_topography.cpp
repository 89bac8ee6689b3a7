#include "setup/defltuzr_topography.h"

#include <cmath>

#include "framework/diagnostics_writer.h"
#include "setup/defltuzr_cellsize.h"

double SlopeAngleDegrees(double dx, double dy) {
    if (dx == 0 && dy == 0) return 0;
    return std::atan(std::sqrt(dx * dx + dy * dy)) * SlopeDegreesPerRadian;
}

double SlopeAspectDegrees(double dx, double dy) {
    if (dx != 0) return 180 - std::atan(dy / dx) * SlopeDegreesPerRadian + 90 * dx / std::fabs(dx);
    return dy > 0 ? 180 : 0;
}

void FillFromNeighbours(int32_t row, int32_t col, double** grid, int32_t rows, int32_t cols, double nodata) {
    static constexpr int32_t Offsets[8][2] = {{-1, 1}, {0, 1}, {1, 1}, {1, 0}, {1, -1}, {0, -1}, {-1, -1}, {-1, 0}};
    double sum = 0;
    double count = 0;
    for (const auto& o : Offsets) {
        const int32_t r = row + o[0];
        const int32_t c = col + o[1];
        if (r < 1 || r > rows || c < 1 || c > cols) continue;
        const double v = grid[r][c];
        if (!(v > nodata)) continue;
        sum += v;
        count += 1;
    }
    if (count > 0) grid[row][col] = sum / count;
}

void make_Slope_and_Aspect(double** elevation, int32_t rows, int32_t cols, double cellSize, double nodata,
                           double** slopeAngle, double** slopeAspect, DiagnosticsWriter* writer) {
    if (!slopeAngle && !slopeAspect) return;
    RequirePositiveCellSize(cellSize, writer);
    if (writer)
        *writer << "calculating the lokal topography (aspect, slope ...).. "
                << "[end-entry]";
    if (rows < 1 || cols < 1) return;

    // A file may mark missing cells with a value below the model's nodata.
    auto valid = [&](int32_t i, int32_t j) { return elevation[i][j] > nodata; };

    for (double** g : {slopeAngle, slopeAspect}) {
        if (!g) continue;
        for (int32_t j = 1; j <= cols; ++j) g[1][j] = g[rows][j] = nodata;
    }

    const double twoCs = 2 * cellSize;
    // Threads only pay off on grids of some size.
    const bool parallel = static_cast<int64_t>(rows) * cols >= 65536;
#pragma omp parallel for schedule(static) if (parallel)
    for (int32_t i = 2; i <= rows - 1; ++i) {
        for (double** g : {slopeAngle, slopeAspect}) {
            if (g) g[i][1] = g[i][cols] = nodata;
        }
        for (int32_t j = 2; j <= cols - 1; ++j) {
            if (!(valid(i - 1, j) && valid(i, j - 1) && valid(i, j + 1) && valid(i + 1, j))) {
                if (slopeAngle) slopeAngle[i][j] = nodata;
                if (slopeAspect) slopeAspect[i][j] = nodata;
                continue;
            }
            const double dx = (elevation[i][j + 1] - elevation[i][j - 1]) / twoCs;
            const double dy = (elevation[i - 1][j] - elevation[i + 1][j]) / twoCs;
            if (slopeAngle) slopeAngle[i][j] = SlopeAngleDegrees(dx, dy);
            if (slopeAspect) slopeAspect[i][j] = SlopeAspectDegrees(dx, dy);
        }
    }

    // Gaps: in place, so the second pass reaches cells whose neighbours were
    // all missing in the first.
    for (int pass = 0; pass < 2; ++pass) {
        for (int32_t i = 1; i <= rows; ++i) {
            for (int32_t j = 1; j <= cols; ++j) {
                if (!valid(i, j)) continue;
                if (slopeAspect && slopeAspect[i][j] == nodata)
                    FillFromNeighbours(i, j, slopeAspect, rows, cols, nodata);
                if (slopeAngle && slopeAngle[i][j] == nodata) FillFromNeighbours(i, j, slopeAngle, rows, cols, nodata);
            }
        }
    }
}
