#include "setup/defltuzr_cellsize.h"

#include <cmath>

#include "framework/diagnostics_writer.h"
#include "framework/zonetable.h"

namespace {

[[noreturn]] void Fatal(DiagnosticsWriter* writer, int code, auto&&... pieces) {
    if (writer) {
        (*writer << ... << pieces);
        *writer << "[end-entry]";
    }
    throw code;
}

// A given width must be positive: zero and negative widths (nodata included)
// end the run.
void CheckGivenX(double x, int32_t row, int32_t col, const CellSizeGrids& g, DiagnosticsWriter* writer) {
    if (x == 0) {
        Fatal(writer, 66, "FATAL: cell size in x direction is zero at row ", row, ", column ", col,
              ",\nread from file ", g.FileX, "\n");
    }
    if (!(x > 0)) {
        Fatal(writer, 66, "FATAL: cell size in x direction is negative or missing (", x, ") at row ", row, ", column ",
              col, ",\nread from file ", g.FileX, "\n");
    }
}

void CheckGivenY(double y, int32_t row, int32_t col, const CellSizeGrids& g, DiagnosticsWriter* writer) {
    if (y == 0) {
        Fatal(writer, 66, "FATAL: cell size in y direction is zero at row ", row, ", column ", col,
              ",\nread from file ", g.FileY);
    }
    if (!(y > 0)) {
        Fatal(writer, 66, "FATAL: cell size in y direction is negative or missing (", y, ") at row ", row, ", column ",
              col, ",\nread from file ", g.FileY);
    }
}

// A given relative area from which a cell size is derived must be positive.
void CheckGivenArea(double r, int32_t row, int32_t col, const CellSizeGrids& g, DiagnosticsWriter* writer) {
    if (!(r > 0)) {
        Fatal(writer, 66, "FATAL: relative cell area is not positive (", r, ") at row ", row, ", column ", col,
              ",\nread from file ", g.FileRelCellArea, "\n");
    }
}

}  // namespace

void RequirePositiveCellSize(double cellSize, DiagnosticsWriter* writer) {
    if (!(cellSize > 0) || !std::isfinite(cellSize)) {
        Fatal(writer, 22, "FATAL: the cell size of the model grid must be a positive number, not ", cellSize);
    }
}

void CheckCellSizes(double** zoneGrid, int32_t rows, int32_t cols, double cellSize, double nodata,
                    const CellSizeGrids& g, DiagnosticsWriter* writer) {
    RequirePositiveCellSize(cellSize, writer);
    if (writer)
        *writer << "Checking cell sizes for variable Cells..."
                << "[end-entry]";
    const double cs2 = cellSize * cellSize;

    // Runs once; kept serial so that the first offending cell in row and
    // column order is the one reported.
    for (int32_t i = 1; i <= rows; ++i) {
        double* X = g.CellSizeX[i];
        double* Y = g.CellSizeY[i];
        double* R = g.RelCellArea[i];
        for (int32_t j = 1; j <= cols; ++j) {
            if (zoneGrid[i][j] == nodata) {
                X[j] = Y[j] = R[j] = nodata;
                continue;
            }
            if (g.GivenX) {
                CheckGivenX(X[j], i, j, g, writer);
                if (g.GivenY) {
                    CheckGivenY(Y[j], i, j, g, writer);
                    const double derived = X[j] * Y[j] / cs2;
                    if (!g.GivenRelCellArea) {
                        R[j] = derived;
                    } else if (!(std::fabs(R[j] - derived) <= RelCellAreaTolerance)) {
                        Fatal(writer, 66, "FATAL: Cell size Y (", Y[j], ", from ", g.FileY, ") times\ncell size X (",
                              X[j], ", from ", g.FileX, ") \ndivided by the mean cell area is ", derived,
                              " and differs from \nthe relative grid cell size ", R[j], " (from ", g.FileRelCellArea,
                              ") by more than 0.001%%\n");
                    }
                } else if (g.GivenRelCellArea) {
                    CheckGivenArea(R[j], i, j, g, writer);
                    Y[j] = R[j] * cs2 / X[j];
                } else {
                    Y[j] = cellSize;
                    R[j] = X[j] * Y[j] / cs2;
                }
            } else if (g.GivenY) {
                CheckGivenY(Y[j], i, j, g, writer);
                if (g.GivenRelCellArea) {
                    CheckGivenArea(R[j], i, j, g, writer);
                    X[j] = R[j] * cs2 / Y[j];
                } else {
                    X[j] = cellSize;
                    R[j] = X[j] * Y[j] / cs2;
                }
            } else {
                if (g.GivenRelCellArea) {
                    CheckGivenArea(R[j], i, j, g, writer);
                } else {
                    R[j] = 1;
                }
                X[j] = std::sqrt(cs2 * R[j]);
                Y[j] = X[j];
            }
        }
    }
}

void MakeCoordinateGrids(double** zoneGrid, int32_t rows, int32_t cols, double xllCorner, double yllCorner,
                         double cellSize, double nodata, const RowExtent* rowExtents, double** cellSizeX,
                         double** cellSizeY, double** coordX, double** coordY) {
    // Regular raster.
    for (int32_t i = 1; i <= rows; ++i) {
        const double y = yllCorner + (rows - i) * cellSize;
        for (int32_t j = 1; j <= cols; ++j) {
            coordX[i][j] = xllCorner + (j - 1) * cellSize;
            coordY[i][j] = y;
        }
    }

    // Variable cells: sums of the widths to the left and of the heights below.
    if (cellSizeX && cellSizeY && rows > 0) {
        auto width = [&](int32_t i, int32_t j) { return cellSizeX[i][j] > nodata ? cellSizeX[i][j] : cellSize; };
        auto height = [&](int32_t i, int32_t j) { return cellSizeY[i][j] > nodata ? cellSizeY[i][j] : cellSize; };
        // An empty last row (first valid column 0) keeps the regular values.
        const int32_t first = rowExtents[rows].first;
        if (first >= 1) {
            for (int32_t j = first; j < cols; ++j) coordX[rows][j + 1] = coordX[rows][j] + width(rows, j);
        }
        for (int32_t i = rows - 1; i >= 1; --i) {
            coordX[i][1] = xllCorner;
            for (int32_t j = 1; j < cols; ++j) coordX[i][j + 1] = coordX[i][j] + width(i, j);
            for (int32_t j = 1; j <= cols; ++j) coordY[i][j] = coordY[i + 1][j] + height(i + 1, j);
        }
    }

    for (int32_t i = 1; i <= rows; ++i) {
        for (int32_t j = 1; j <= cols; ++j) {
            if (zoneGrid[i][j] == nodata) coordX[i][j] = coordY[i][j] = nodata;
        }
    }
}
