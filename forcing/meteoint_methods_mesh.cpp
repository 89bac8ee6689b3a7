#include "forcing/meteoint_methods_mesh.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace meteoint {

namespace {

constexpr double HalfPi = 1.570796326795;
constexpr double PiRounded = 3.14159265359;

[[noreturn]] void ArraySizeMismatch(const char* file, int line) {
    std::fprintf(stderr, "%s:%d: internal error: coordinate arrays of different sizes\n", file, line);
    std::abort();
}

// n of a pair of 1-based coordinate arrays, which must be equally long.
int32_t PairCount(std::span<const double> a, std::span<const double> b) {
    if (a.size() != b.size()) ArraySizeMismatch(__FILE__, __LINE__);
    return a.empty() ? 0 : static_cast<int32_t>(a.size() - 1);
}

}  // namespace

Anisotropy EstimateAnisotropy(std::span<const double> x, std::span<const double> y) {
    const int32_t n = PairCount(x, y);
    constexpr int32_t None = -9999;

    // Nearest neighbours; a station whose own neighbour is i is passed over,
    // unless every other candidate is more than 1 % (in squared distance)
    // farther away.
    std::vector<int32_t> neighbour(n + 1, None);
    for (int32_t i = 1; i <= n; ++i) {
        bool chosen = false;
        double best = 0;
        double fallbackD2 = 0;
        int32_t fallback = None;
        for (int32_t j = 1; j <= n; ++j) {
            if (j == i) continue;
            const double dx = x[j] - x[i];
            const double dy = y[j] - y[i];
            const double d2 = dx * dx + dy * dy;
            if (!(d2 > 0)) continue;  // a station on the same place gives no direction
            if (!chosen || d2 < best) {
                fallbackD2 = d2;
                fallback = j;
                if (neighbour[j] != i) {
                    chosen = true;
                    neighbour[i] = j;
                    best = d2;
                }
            }
        }
        if (chosen && best > 1.01 * fallbackD2) neighbour[i] = fallback;
    }

    // Directions folded to -90..90 deg, counted in 18 classes of 10 deg;
    // class m holds 10m - 5 <= direction < 10m + 5 (modulo 180).
    std::vector<double> degrees(n + 1, 0.0);
    std::vector<int32_t> klass(n + 1, -1);
    int32_t histogram[36] = {};
    for (int32_t i = 1; i <= n; ++i) {
        const int32_t k = neighbour[i];
        if (k < 1) continue;
        double a = std::atan2(y[k] - y[i], x[k] - x[i]);
        if (!std::isfinite(a)) continue;
        if (a > HalfPi) a -= PiRounded;
        if (a < -HalfPi) a += PiRounded;
        const double deg = a * 180 / PiRounded;
        const int32_t m = static_cast<int32_t>(std::fmod(deg + 365, 360) / 10) % 18;
        degrees[i] = deg;
        klass[i] = m;
        ++histogram[m];
    }

    int32_t main = 0;
    int32_t largest = 0;
    for (int32_t m = 0; m < 36; ++m) {
        if (histogram[m] > largest) {
            largest = histogram[m];
            main = m;
        }
    }

    // Mean direction of the main class over the directions that fall into
    // the class's window when taken as 0..360 deg; for class 0 the
    // directions just below 360 are turned back by 180 deg. Directions below
    // 0 deg therefore never count, and a mesh whose closer spacing runs at
    // such a direction keeps slope 0 and ratio 1.
    const double low = 10.0 * main - 5;
    const double high = 10.0 * main + 5;
    double sum = 0;
    int32_t count = 0;
    for (int32_t i = 1; i <= n; ++i) {
        if (klass[i] != main) continue;
        double dd = std::fmod(degrees[i] + 360, 360);
        if (main == 0 && dd > 5) dd -= 180;
        if (dd >= low && dd <= high) {
            sum += dd;
            ++count;
        }
    }

    Anisotropy result;
    if (count > 0) {
        double s = sum / count;
        // Beyond 45 deg the mesh's other axis is taken.
        if (s > 45) s -= 90;
        if (std::fabs(s) > 0.001) {
            result.SlopeDegrees = s;
            result.Ratio = 0.995;
        }
    }
    return result;
}

double SlopeToRadians(double degrees) { return degrees * 0.017453292519944444; }

AnisotropyCheck CheckAnisotropy(double slopeRadians, double ratio) {
    if (!(slopeRadians >= -HalfPi && slopeRadians <= HalfPi)) return AnisotropyCheck::SlopeOutOfRange;
    if (!(ratio > 0 && ratio <= 1)) return AnisotropyCheck::RatioOutOfRange;
    return AnisotropyCheck::Ok;
}

RotatedPoint RotatePoint(double x, double y, double x0, double y0, double slopeRadians) {
    const double dx = x - x0;
    const double dy = y - y0;
    const double r = std::sqrt(dx * dx + dy * dy);
    double th;
    if (dx == 0)
        th = dy > 0 ? HalfPi : -HalfPi;
    else
        th = std::atan2(dy, dx);
    return {x0 + r * std::cos(th - slopeRadians), y0 + r * std::sin(th - slopeRadians)};
}

RotatedStations RotateStationCoords(std::span<const double> x, std::span<const double> y, double x0, double y0,
                                    double slopeRadians) {
    const int32_t n = PairCount(x, y);
    RotatedStations out;
    out.X.assign(x.size(), 0.0);
    out.Y.assign(x.size(), 0.0);
    out.Radius.assign(x.size(), 0.0);
    for (int32_t i = 1; i <= n; ++i) {
        const RotatedPoint p = RotatePoint(x[i], y[i], x0, y0, slopeRadians);
        out.X[i] = p.X;
        out.Y[i] = p.Y;
        const double dx = x[i] - x0;
        const double dy = y[i] - y0;
        out.Radius[i] = std::sqrt(dx * dx + dy * dy);
    }
    return out;
}

void CreateRotatedCoordGrids(double** coordX, double** coordY, int32_t rows, int32_t cols, double gridNoData,
                             double x0, double y0, double slopeRadians, double** rotatedX, double** rotatedY) {
#pragma omp parallel for schedule(static, 1)
    for (int32_t row = 1; row <= rows; ++row) {
        for (int32_t col = 1; col <= cols; ++col) {
            const double x = coordX[row][col];
            const double y = coordY[row][col];
            if (x == gridNoData || y == gridNoData) {
                rotatedX[row][col] = gridNoData;
                rotatedY[row][col] = gridNoData;
                continue;
            }
            const RotatedPoint p = RotatePoint(x, y, x0, y0, slopeRadians);
            rotatedX[row][col] = p.X;
            rotatedY[row][col] = p.Y;
        }
    }
}

StationSpacing CalcStationDistances(std::span<const double> xRot, std::span<const double> yRot) {
    const int32_t n = PairCount(xRot, yRot);
    double sumH = 0, sumV = 0;
    int32_t countH = 0, countV = 0;
    for (int32_t i = 1; i <= n; ++i) {
        double horizontal = -9999;
        double vertical = -9999;
        for (int32_t j = 1; j <= n; ++j) {
            if (j == i) continue;
            const double dx = xRot[j] - xRot[i];
            const double dy = yRot[j] - yRot[i];
            const double d = std::sqrt(dx * dx + dy * dy);
            if (std::fabs(dy) > std::fabs(dx) && dy > 0) {
                if (d < vertical || vertical < -1000) vertical = d;
            }
            if (std::fabs(dy) <= std::fabs(dx) && dx > 0) {
                if (d < horizontal || horizontal < -1000) horizontal = d;
            }
        }
        if (horizontal > -1000) {
            sumH += horizontal;
            ++countH;
        }
        if (vertical > -1000) {
            sumV += vertical;
            ++countV;
        }
    }
    StationSpacing spacing;
    if (countH > 0) spacing.Horizontal = sumH / countH;
    if (countV > 0) spacing.Vertical = sumV / countV;
    return spacing;
}

int32_t FindStationInRect(const StationFile& stations, double px, double py, double dx1, double dx2, double dy1,
                          double dy2) {
    const int32_t n = PairCount(stations.XRot, stations.YRot);
    for (int32_t i = 1; i <= n; ++i) {
        const double x = stations.XRot[i];
        const double y = stations.YRot[i];
        if (px + dx1 < x && x < px + dx2 && py + dy1 < y && y < py + dy2) return i;
    }
    return 0;
}

LookUpCorners ChooseLookUpCorners(const StationFile& stations, const StationSpacing& spacing, double xRot,
                                  double yRot) {
    const int32_t n = PairCount(stations.XRot, stations.YRot);
    const auto& xr = stations.XRot;
    const auto& yr = stations.YRot;
    LookUpCorners c;

    int32_t nearest = 0;
    double best = 1e30;
    for (int32_t i = 1; i <= n; ++i) {
        const double dx = xr[i] - xRot;
        const double dy = yr[i] - yRot;
        const double d2 = dx * dx + dy * dy;
        if (d2 < best) {
            best = d2;
            nearest = i;
        }
    }
    if (nearest == 0) return c;

    const double t = spacing.Tolerance;
    const double dh = spacing.Horizontal;
    const double dv = spacing.Vertical;
    // Neighbours of a placed corner; a search from none finds none.
    const auto right = [&](int32_t from) {
        return from == 0 ? 0
                         : FindStationInRect(stations, xr[from], yr[from], (1 - t) * dh, (1 + t) * dh, -t * dv, t * dv);
    };
    const auto left = [&](int32_t from) {
        return from == 0 ? 0
                         : FindStationInRect(stations, xr[from], yr[from], -(1 + t) * dh, -(1 - t) * dh, -t * dv,
                                             t * dv);
    };
    const auto above = [&](int32_t from) {
        return from == 0 ? 0
                         : FindStationInRect(stations, xr[from], yr[from], -t * dh, t * dh, (1 - t) * dv, (1 + t) * dv);
    };
    const auto below = [&](int32_t from) {
        return from == 0 ? 0
                         : FindStationInRect(stations, xr[from], yr[from], -t * dh, t * dh, -(1 + t) * dv,
                                             -(1 - t) * dv);
    };

    const double dx = xr[nearest] - xRot;
    const double dy = yr[nearest] - yRot;
    if (dx > 0 && dy > 0) {
        c.UpperRight = nearest;
        c.UpperLeft = left(c.UpperRight);
        c.LowerLeft = below(c.UpperLeft);
        c.LowerRight = below(c.UpperRight);
    } else if (dx > 0) {
        c.LowerRight = nearest;
        c.LowerLeft = left(c.LowerRight);
        c.UpperLeft = above(c.LowerLeft);
        c.UpperRight = above(c.LowerRight);
    } else if (dy <= 0) {
        c.LowerLeft = nearest;
        c.UpperLeft = above(c.LowerLeft);
        c.UpperRight = right(c.UpperLeft);
        c.LowerRight = right(c.LowerLeft);
    } else {
        c.UpperLeft = nearest;
        c.LowerLeft = below(c.UpperLeft);
        c.LowerRight = right(c.LowerLeft);
        c.UpperRight = right(c.UpperLeft);
    }
    return c;
}

LookUpCorners LookUpGrids::At(int32_t row, int32_t col) const {
    if (row < 1 || row > Rows || col < 1 || col > Cols) return {};
    const size_t k = static_cast<size_t>(row - 1) * static_cast<size_t>(Cols) + static_cast<size_t>(col - 1);
    return {UpperRight[k], UpperLeft[k], LowerLeft[k], LowerRight[k]};
}

LookUpGrids ChooseLookUpStations(const StationFile& stations, const StationSpacing& spacing, int32_t rows,
                                 int32_t cols, double** qx, double** qy, std::span<const RowExtent> rowExtents,
                                 const std::function<bool(int32_t row, int32_t col)>& selected) {
    LookUpGrids grids;
    grids.Rows = std::max(rows, 0);
    grids.Cols = std::max(cols, 0);
    const size_t cells = static_cast<size_t>(grids.Rows) * static_cast<size_t>(grids.Cols);
    grids.UpperRight.assign(cells, 0);
    grids.UpperLeft.assign(cells, 0);
    grids.LowerLeft.assign(cells, 0);
    grids.LowerRight.assign(cells, 0);
    const int32_t lastRow = std::min<int64_t>(grids.Rows, static_cast<int64_t>(rowExtents.size()) - 1);

#pragma omp parallel for schedule(static, 1)
    for (int32_t row = 1; row <= lastRow; ++row) {
        const int32_t first = std::max(rowExtents[row].first, 1);
        const int32_t last = std::min(rowExtents[row].last, grids.Cols);
        for (int32_t col = first; col <= last; ++col) {
            if (!selected(row, col)) continue;
            const LookUpCorners c = ChooseLookUpCorners(stations, spacing, qx[row][col], qy[row][col]);
            const size_t k = static_cast<size_t>(row - 1) * static_cast<size_t>(grids.Cols) +
                             static_cast<size_t>(col - 1);
            grids.UpperRight[k] = c.UpperRight;
            grids.UpperLeft[k] = c.UpperLeft;
            grids.LowerLeft[k] = c.LowerLeft;
            grids.LowerRight[k] = c.LowerRight;
        }
    }
    return grids;
}

}  // namespace meteoint
