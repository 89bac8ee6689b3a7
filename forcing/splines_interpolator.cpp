// The spline interpolator of a station mesh: sub-grid set-up, column pass,
// row pass and the copy onto the model grid.

#include <algorithm>
#include <cmath>
#include <limits>

#include "forcing/splines.h"

namespace {

// A sub-grid larger than this in either direction cannot be held.
constexpr double HardSubgridSide = 1.0e8;

}  // namespace

TSplines::TSplines(const SplineSettings& settings) : S(settings) {
    Writer = S.Writer;
    ModuleName = S.ModuleName;
    const int32_t nR = S.MeshRows;
    const int32_t nC = S.MeshCols;
    if (nR < 1 || nC < 1 || !S.MeshX || !S.MeshY) AllocationError(1);
    Xmin = S.OriginX;
    for (int32_t r = 1; r <= nR; ++r) Xmin = std::min(Xmin, S.MeshX[r][1]);
    Xmax = S.MeshX[1][nC];
    for (int32_t r = 1; r <= nR; ++r) Xmax = std::max(Xmax, S.MeshX[r][nC]);
    Ymin = S.OriginY;
    for (int32_t p = 1; p <= nC; ++p) Ymin = std::min(Ymin, S.MeshY[nR][p]);
    Ymax = S.MeshY[1][1];
    for (int32_t p = 1; p <= nC; ++p) Ymax = std::max(Ymax, S.MeshY[1][p]);
    Cs = S.CellSize / (S.Refinement > 0 ? S.Refinement : 1.0);
    const splines::SubgridSize size =
        splines::MeshSubgridSize(S.MeshX, S.MeshY, nR, nC, S.OriginX, S.OriginY, Cs);
    const double rows = size.Rows;
    const double cols = size.Cols;
    // The input refuses larger meshes before it builds the interpolator.
    if (!(rows <= HardSubgridSide) || !(cols <= HardSubgridSide) || !(Cs > 0)) AllocationError(2);
    NR = std::max(1, static_cast<int32_t>(rows));
    NC = std::max(1, static_cast<int32_t>(cols));

    ComputeSubgridBounds();
    if (!NothingNeeded()) {
        PartRows = Rmax - Rmin + 1;
        PartCols = Cmax - Cmin + 1;
        Result = matrix(1, PartRows + 2, 1, PartCols + 2, PartRows + 2);
        for (int32_t i = 1; i <= PartRows + 2; ++i) std::fill(Result[i] + 1, Result[i] + PartCols + 3, S.GridNoData);
        Flags.assign(static_cast<size_t>(PartRows) * static_cast<size_t>(PartCols), 0);
    }
    MarkNeededCells();

    ColumnValue = matrix(1, NR + 2, 1, nC + 2, NR + 2);
    ColumnY = matrix(1, NR + 2, 1, nC + 2, NR + 2);
    ColumnX = matrix(1, NR + 2, 1, nC + 2, NR + 2);
    const size_t work = static_cast<size_t>(std::max(nR, nC)) + 2;
    WorkX.assign(work, 0.0);
    WorkV.assign(work, 0.0);
    WorkD2.assign(work, 0.0);
    SinSlope = std::sin(S.Slope);
    CosSlope = std::cos(S.Slope);
    RotatedOriginX = S.OriginX;
    RotatedOriginY = S.OriginY;
    RotatePoint(S.Slope, RotatedOriginX, RotatedOriginY);
}

TSplines::~TSplines() {
    if (Result) free_matrix(Result, 1, PartRows + 2, 1, PartCols + 2);
    if (ColumnValue) free_matrix(ColumnValue, 1, NR + 2, 1, S.MeshCols + 2);
    if (ColumnY) free_matrix(ColumnY, 1, NR + 2, 1, S.MeshCols + 2);
    if (ColumnX) free_matrix(ColumnX, 1, NR + 2, 1, S.MeshCols + 2);
}

void TSplines::RotatePoint(double angle, double& x, double& y) {
    const meteoint::RotatedPoint p = meteoint::RotatePoint(x, y, S.CentreX, S.CentreY, angle);
    x = p.X;
    y = p.Y;
}

void TSplines::SplineCoefficients(double startSlope, double endSlope, const double* x, const double* y,
                                  int32_t lo, int32_t hi, double* y2) {
    splines::SplineCoefficients(startSlope, endSlope, x, y, lo, hi, y2);
}

void TSplines::SplineValue(const double* xa, const double* ya, int32_t& klo, int32_t& khi, const double* y2a,
                           double x, double t0, double fill, int32_t n, double& value) {
    value = splines::SplineValue(xa, ya, klo, khi, y2a, x, t0, fill, n);
}

bool TSplines::SubgridPosition(int32_t row, int32_t col, int32_t& u, int32_t& v) const {
    const double g = S.GridNoData;
    if (S.ZoneGrid && !(S.ZoneGrid[row][col] > g + 0.01)) return false;
    const double x = S.CellX[row][col];
    const double y = S.CellY[row][col];
    if (!(x > g + 0.01) || !(y > g + 0.01)) return false;
    // The nearest sub-grid node, rows counted from the top.
    const double du = static_cast<double>(NR) - std::floor((y - Ymin) / Cs + 0.4999);
    const double dv = std::floor((x - Xmin) / Cs + 0.4999) + 1;
    if (!(du >= 1 && du <= NR && dv >= 1 && dv <= NC)) return false;
    u = static_cast<int32_t>(du);
    v = static_cast<int32_t>(dv);
    return true;
}

void TSplines::ComputeSubgridBounds() {
    Rmin = NR;
    Rmax = 1;
    Cmin = NC;
    Cmax = 1;
    bool any = false;
    for (int32_t row = 1; row <= S.Rows; ++row) {
        for (int32_t col = 1; col <= S.Cols; ++col) {
            int32_t u = 0, v = 0;
            if (!SubgridPosition(row, col, u, v)) continue;
            any = true;
            Rmin = std::min(Rmin, u);
            Rmax = std::max(Rmax, u);
            Cmin = std::min(Cmin, v);
            Cmax = std::max(Cmax, v);
        }
    }
    if (!any) {
        Rmin = Cmin = 1;
        Rmax = Cmax = 0;
        return;
    }
    if (Cmin > 1) --Cmin;
    if (Cmax < NC) ++Cmax;
    if (Rmin > 1) --Rmin;
    if (Rmax < NR) ++Rmax;
}

void TSplines::MarkNeededCells() {
    CellSlot.assign(static_cast<size_t>(std::max(S.Rows, 0)) * static_cast<size_t>(std::max(S.Cols, 0)), -1);
    if (NothingNeeded()) return;
    for (int32_t row = 1; row <= S.Rows; ++row) {
        for (int32_t col = 1; col <= S.Cols; ++col) {
            int32_t u = 0, v = 0;
            if (!SubgridPosition(row, col, u, v)) continue;
            if (u < Rmin || u > Rmax || v < Cmin || v > Cmax) continue;
            const int64_t slot = static_cast<int64_t>(u - Rmin) * PartCols + (v - Cmin);
            Flags[static_cast<size_t>(slot)] = 1;
            CellSlot[static_cast<size_t>(row - 1) * static_cast<size_t>(S.Cols) + static_cast<size_t>(col - 1)] =
                slot;
        }
    }
}

void TSplines::PrepareColumnSplines(double** values, double** secondDerivatives) {
    const int32_t nR = S.MeshRows;
    for (int32_t p = 1; p <= S.MeshCols; ++p) {
        for (int32_t r = 1; r <= nR; ++r) {
            WorkX[static_cast<size_t>(r)] = S.MeshY[r][p];
            WorkV[static_cast<size_t>(r)] = values[r][p];
        }
        splines::RunSplineCoefficients(WorkX.data(), WorkV.data(), nR, S.MeshNoData, S.GridNoData, WorkD2.data());
        for (int32_t r = 1; r <= nR; ++r) secondDerivatives[r][p] = WorkD2[static_cast<size_t>(r)];
    }
}

void TSplines::InterpolateMesh(double** values, double** secondDerivatives, double** target) {
    const int32_t nR = S.MeshRows;
    const int32_t nC = S.MeshCols;
    const double nd = S.MeshNoData;
    const double g = S.GridNoData;
    double* xa = WorkX.data();
    double* ya = WorkV.data();
    double* y2 = WorkD2.data();

    // Column pass: every mesh column at every sub-grid row, bottom-up
    // abscissae.
    for (int32_t p = 1; p <= nC; ++p) {
        for (int32_t j = 1; j <= nR; ++j) {
            const int32_t r = nR - j + 1;
            const double y = S.MeshY[r][p];
            xa[j] = y > nd ? y : RotatedOriginY + (j - 1) * S.Dv;
            ya[j] = values[r][p];
            y2[j] = secondDerivatives[r][p];
        }
        xa[nR + 1] = ya[nR + 1] = y2[nR + 1] = g;
        int32_t klo = 1, khi = 1;
        int32_t h = 2;
        for (int32_t k = 1; k <= NR; ++k) {
            const double y = Ymin + (NR - k) * Cs;
            double x = S.MeshX[1][p];
            if (nR >= 2) {
                while (h < nR && y < S.MeshY[h][p]) ++h;
                const double w = (y - S.MeshY[h - 1][p]) / (S.MeshY[h][p] - S.MeshY[h - 1][p]);
                x = (1 - w) * S.MeshX[h - 1][p] + w * S.MeshX[h][p];
            }
            ColumnY[k][p] = y;
            ColumnX[k][p] = x;
            SplineValue(xa, ya, klo, khi, y2, y, nd, g, nR, ColumnValue[k][p]);
        }
    }

    // Row pass: across the columns at every needed sub-grid cell.
    for (int32_t k = Rmin; k <= Rmax && !NothingNeeded(); ++k) {
        for (int32_t p = 1; p <= nC; ++p) {
            xa[p] = ColumnX[k][p];
            ya[p] = ColumnValue[k][p];
        }
        splines::RunSplineCoefficients(xa, ya, nC, nd, g, y2);
        xa[nC + 1] = ya[nC + 1] = y2[nC + 1] = g;
        int32_t klo = 1, khi = 1;
        const size_t flagRow = static_cast<size_t>(k - Rmin) * static_cast<size_t>(PartCols);
        for (int32_t m = Cmin; m <= Cmax; ++m) {
            if (!Flags[flagRow + static_cast<size_t>(m - Cmin)]) continue;
            const double x = Xmin + (m - 1) * Cs;
            SplineValue(xa, ya, klo, khi, y2, x, g, nd, nC, Result[k - Rmin + 1][m - Cmin + 1]);
        }
    }
    CopyToGrid(target);
}

void TSplines::CopyToGrid(double** target) {
    for (int32_t row = 1; row <= S.Rows; ++row) {
        const int64_t* slots = CellSlot.data() + static_cast<size_t>(row - 1) * static_cast<size_t>(S.Cols);
        for (int32_t col = 1; col <= S.Cols; ++col) {
            const int64_t slot = slots[col - 1];
            target[row][col] = slot < 0 ? S.GridNoData : Result[slot / PartCols + 1][slot % PartCols + 1];
        }
    }
}

SplineMeshGrids::SplineMeshGrids(const splines::StationMesh& mesh) : Rows(mesh.Rows), Cols(mesh.Cols) {
    double*** all[5] = {&X, &Y, &Station, &Value, &SecondDerivative};
    for (double*** m : all) {
        *m = matrix(1, Rows, 1, Cols, Rows);
        for (int32_t r = 1; r <= Rows; ++r) std::fill((*m)[r] + 1, (*m)[r] + Cols + 1, 0.0);
    }
    for (int32_t r = 1; r <= Rows; ++r) {
        for (int32_t p = 1; p <= Cols; ++p) Station[r][p] = mesh.At(r, p);
    }
}

SplineMeshGrids::~SplineMeshGrids() {
    double** all[5] = {X, Y, Station, Value, SecondDerivative};
    for (double** m : all) {
        if (m) free_matrix(m, 1, Rows, 1, Cols);
    }
}
