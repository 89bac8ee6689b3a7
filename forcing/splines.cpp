// Cubic spline kernels and the sorting of stations into a mesh.

#include "forcing/splines.h"

#include <algorithm>
#include <cmath>
#include <iostream>
#include <limits>
#include <span>

namespace splines {

void SplineCoefficients(double startSlope, double endSlope, const double* x, const double* y, int32_t lo,
                        int32_t hi, double* y2) {
    if (hi < lo) return;
    std::vector<double> u(static_cast<size_t>(hi) + 1, 0.0);
    // Natural end, or the end slope given: y2 from the clamped condition.
    if (startSlope > 0.99e30 || hi == lo) {
        y2[lo] = 0;
        u[static_cast<size_t>(lo)] = 0;
    } else {
        y2[lo] = -0.5;
        u[static_cast<size_t>(lo)] =
            (3.0 / (x[lo + 1] - x[lo])) * ((y[lo + 1] - y[lo]) / (x[lo + 1] - x[lo]) - startSlope);
    }
    for (int32_t i = lo + 1; i <= hi - 1; ++i) {
        const double sig = (x[i] - x[i - 1]) / (x[i + 1] - x[i - 1]);
        const double p = sig * y2[i - 1] + 2.0;
        y2[i] = (sig - 1.0) / p;
        const double d = (y[i + 1] - y[i]) / (x[i + 1] - x[i]) - (y[i] - y[i - 1]) / (x[i] - x[i - 1]);
        u[static_cast<size_t>(i)] = (6.0 * d / (x[i + 1] - x[i - 1]) - sig * u[static_cast<size_t>(i - 1)]) / p;
    }
    if (hi == lo) return;
    double qn = 0, un = 0;
    if (!(endSlope > 0.99e30)) {
        qn = 0.5;
        un = (3.0 / (x[hi] - x[hi - 1])) * (endSlope - (y[hi] - y[hi - 1]) / (x[hi] - x[hi - 1]));
    }
    y2[hi] = (un - qn * u[static_cast<size_t>(hi - 1)]) / (qn * y2[hi - 1] + 1.0);
    for (int32_t k = hi - 1; k >= lo; --k) y2[k] = y2[k] * y2[k + 1] + u[static_cast<size_t>(k)];
}

double SplineValue(const double* xa, const double* ya, int32_t& klo, int32_t& khi, const double* y2a, double x,
                   double t0, double fill, int32_t n) {
    if (klo > n) klo = n;
    while (klo > 0 && x < xa[klo]) --klo;
    // The last point belongs to the last interval, so that a position on it
    // still has a value.
    while (klo >= 1 && klo < n - 1 && x >= xa[klo + 1]) ++klo;
    khi = klo + 1;
    while (khi <= n && x > xa[khi]) ++khi;
    if (klo < 1 || khi < 2 || khi > n) return fill;
    const double limit = t0 + 0.01;
    if (ya[klo] < limit || ya[khi] < limit || y2a[klo] < limit || y2a[khi] < limit) return fill;
    const double h = xa[khi] - xa[klo];
    if (h == 0) {
        std::cout << "The two input coordinates " << xa[klo] << " (index " << klo << ") \n"
                  << "and " << xa[khi] << " (index " << khi << ") for the 1-D-Splineevaluation are the same!"
                  << std::endl;
        throw EqualAbscissaeCode;
    }
    const double a = (xa[khi] - x) / h;
    const double b = (x - xa[klo]) / h;
    return a * ya[klo] + b * ya[khi] + ((a * a * a - a) * y2a[klo] + (b * b * b - b) * y2a[khi]) * (h * h) / 6.0;
}

void RunSplineCoefficients(const double* x, const double* v, int32_t n, double nd, double gap, double* y2) {
    int32_t i = 1;
    while (i <= n) {
        if (!(v[i] > nd + 0.01)) {
            y2[i] = gap;
            ++i;
            continue;
        }
        int32_t hi = i;
        while (hi + 1 <= n && v[hi + 1] > nd + 0.01) ++hi;
        SplineCoefficients(NaturalEnd, NaturalEnd, x, v, i, hi, y2);
        i = hi + 1;
    }
}

MeshResult BuildStationMesh(const meteoint::StationFile& stations, const meteoint::StationSpacing& spacing) {
    MeshResult out;
    const int32_t n = meteoint::StationCount(stations);
    if (n <= 0) {
        out.Status = MeshStatus::Irregular;
        return out;
    }
    const double t = spacing.Tolerance;
    const double dh = spacing.Horizontal;
    const double dv = spacing.Vertical;
    std::span<const double> x = stations.XRot;
    std::span<const double> y = stations.YRot;
    // 1: still available.
    std::vector<int32_t> available(static_cast<size_t>(n) + 1, 1);
    available[0] = 0;
    std::vector<std::vector<int32_t>> columns;

    while (meteoint::AnyFlagSet(available, n)) {
        int32_t start = 0;
        for (int32_t i = 1; i <= n; ++i) {
            if (available[static_cast<size_t>(i)] && (start == 0 || x[static_cast<size_t>(i)] < x[static_cast<size_t>(start)]))
                start = i;
        }
        std::vector<int32_t> column;
        // Down from the start.
        int32_t current = start;
        while (true) {
            available[static_cast<size_t>(current)] = 0;
            column.push_back(current);
            const int32_t next = meteoint::FindStationInRect(stations, x[static_cast<size_t>(current)],
                                                             y[static_cast<size_t>(current)], -t * dh, t * dh,
                                                             -(1 + t) * dv, -(1 - t) * dv);
            if (next == 0 || !available[static_cast<size_t>(next)]) break;
            current = next;
        }
        // Up from the start; the column then runs from top to bottom.
        current = start;
        while (true) {
            const int32_t next = meteoint::FindStationInRect(stations, x[static_cast<size_t>(current)],
                                                             y[static_cast<size_t>(current)], -t * dh, t * dh,
                                                             (1 - t) * dv, (1 + t) * dv);
            if (next == 0 || !available[static_cast<size_t>(next)]) break;
            available[static_cast<size_t>(next)] = 0;
            column.insert(column.begin(), next);
            current = next;
        }
        columns.push_back(std::move(column));
    }

    const size_t rows = columns.front().size();
    for (const auto& column : columns) {
        if (column.size() != rows) {
            out.Status = MeshStatus::Irregular;
            return out;
        }
    }
    out.Mesh.Rows = static_cast<int32_t>(rows);
    out.Mesh.Cols = static_cast<int32_t>(columns.size());
    out.Mesh.Station.assign(rows * columns.size(), 0);
    for (size_t p = 0; p < columns.size(); ++p) {
        for (size_t r = 0; r < rows; ++r) out.Mesh.Station[r * columns.size() + p] = columns[p][r];
    }
    return out;
}

double LargestSubgridSide(int32_t modelRows, int32_t modelCols) {
    return std::max(100.0 * std::max(modelRows, modelCols), 10000.0);
}

SubgridSize MeshSubgridSize(double** meshX, double** meshY, int32_t meshRows, int32_t meshCols, double originX,
                            double originY, double subgridCellSize) {
    double xmin = originX, xmax = meshX[1][meshCols];
    double ymin = originY, ymax = meshY[1][1];
    for (int32_t r = 1; r <= meshRows; ++r) {
        xmin = std::min(xmin, meshX[r][1]);
        xmax = std::max(xmax, meshX[r][meshCols]);
    }
    for (int32_t p = 1; p <= meshCols; ++p) {
        ymin = std::min(ymin, meshY[meshRows][p]);
        ymax = std::max(ymax, meshY[1][p]);
    }
    SubgridSize size;
    size.Rows = std::floor((ymax - ymin) / subgridCellSize + 0.49999) + 1;
    size.Cols = std::floor((xmax - xmin) / subgridCellSize + 0.49999) + 1;
    return size;
}

int32_t StationFarthestOutside(std::span<const double> x, std::span<const double> y, double xll, double yll,
                               double cellSize, int32_t rows, int32_t cols) {
    const double xur = xll + cols * cellSize;
    const double yur = yll + rows * cellSize;
    int32_t farthest = 0;
    double worst = -1;
    const size_t n = std::min(x.size(), y.size());
    for (size_t i = 1; i < n; ++i) {
        const double dx = std::max({0.0, xll - x[i], x[i] - xur});
        const double dy = std::max({0.0, yll - y[i], y[i] - yur});
        double d = std::hypot(dx, dy);
        if (std::isnan(d)) d = std::numeric_limits<double>::infinity();
        if (d > worst) {
            worst = d;
            farthest = static_cast<int32_t>(i);
        }
    }
    return farthest;
}

}  // namespace splines
