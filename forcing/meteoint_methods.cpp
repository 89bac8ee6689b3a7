#include "forcing/meteoint_methods.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <limits>

namespace meteoint {

namespace {

[[noreturn]] void ArraySizeMismatch(const char* file, int line) {
    std::fprintf(stderr, "%s:%d: internal error: station arrays of different sizes\n", file, line);
    std::abort();
}

// n of the arrays an operation reads: they must all hold n + 1 elements.
int32_t CountOf(std::initializer_list<std::span<const double>> arrays) {
    const size_t size = arrays.begin()->size();
    for (const auto& a : arrays)
        if (a.size() != size) ArraySizeMismatch(__FILE__, __LINE__);
    return size == 0 ? 0 : static_cast<int32_t>(size - 1);
}

// Weight of a station at the squared distance d2 (already raised to 1 when
// it was not positive), 0 beyond the maximum distance.
inline double IdwWeight(double d2, const IdwParameters& idw) {
    if (idw.Mode == 2000) return d2 > idw.MaxDistanceSquared ? 0.0 : 1.0 / d2;
    const double d = std::sqrt(d2);
    if (idw.Mode == 1000) return d > idw.MaxDistance ? 0.0 : 1.0 / d;
    return d <= idw.MaxDistance ? std::pow(d, -idw.Weight) : 0.0;
}

// Weighted mean over the valid stations; xScale scales the x differences.
double WeightedMean(std::span<const double> value, std::span<const double> xs, std::span<const double> ys,
                    const IdwParameters& idw, double noData, double x, double y, double xScale) {
    const int32_t n = CountOf({value, xs, ys});
    double weightSum = 0;
    double valueSum = 0;
    for (int32_t i = 1; i <= n; ++i) {
        const double v = value[i];
        if (!IsValid(v, noData)) continue;
        const double dx = (xs[i] - x) * xScale;
        const double dy = ys[i] - y;
        double d2 = dx * dx + dy * dy;
        if (d2 <= 0) d2 = 1;  // a station on the point weighs as one at 1 m
        const double w = IdwWeight(d2, idw);
        weightSum += w;
        if (w > 0) valueSum += w * v;
    }
    if (weightSum == 0) return InvalidValue(noData);
    return valueSum / weightSum;
}

// A look-up corner that names a station with a valid value, else 0.
int32_t UsableCorner(int32_t station, int32_t n, std::span<const double> value, double noData) {
    if (station < 1 || station > n) return 0;
    return IsValid(value[station], noData) ? station : 0;
}

// a + g z, or -N - 1 when either term is missing: methods 6 and 8.
double InterceptPlusGradient(double intercept, double gradient, double elevation, double noData) {
    if (!IsValid(intercept, noData) || !IsValid(gradient, noData)) return InvalidValue(noData);
    return intercept + gradient * elevation;
}

}  // namespace

int32_t StationCount(const StationFile& stations) {
    return stations.Value.empty() ? 0 : static_cast<int32_t>(stations.Value.size() - 1);
}

int32_t IdwMode(double weight) {
    const double m = std::floor(1000 * weight);
    if (!(m >= std::numeric_limits<int32_t>::min() && m <= std::numeric_limits<int32_t>::max())) return -1;
    return static_cast<int32_t>(m);
}

IdwParameters MakeIdwParameters(double weight, double maxDistance, double ratio) {
    IdwParameters p;
    p.Weight = weight;
    p.Mode = IdwMode(weight);
    p.MaxDistance = maxDistance;
    p.MaxDistanceSquared = maxDistance < 0 ? -1.0 : maxDistance * maxDistance;
    p.Ratio = ratio;
    return p;
}

double IdwValue(const StationFile& stations, const IdwParameters& idw, double noData, double x, double y) {
    return WeightedMean(stations.Value, stations.X, stations.Y, idw, noData, x, y, 1.0);
}

double IdwValueAnisotropic(const StationFile& stations, const IdwParameters& idw, double noData, double xRot,
                           double yRot) {
    return WeightedMean(stations.Value, stations.XRot, stations.YRot, idw, noData, xRot, yRot, idw.Ratio);
}

double IdwSelected(const StationFile& stations, const IdwParameters& idw, double noData, double x, double y) {
    return idw.Ratio < 1 ? IdwValueAnisotropic(stations, idw, noData, x, y) : IdwValue(stations, idw, noData, x, y);
}

double RegressionValue(const RegressionSet& set, double noData, double gridNoData, double x, double y, double z) {
    if (set.A1 < -noData) return InvalidValue(noData);
    if (set.C0 >= -noData && x != gridNoData && y != gridNoData) {
        const double plane = set.Cx * x + set.C0 + set.Cy * y;
        if (z > set.Hu) return plane - set.A1 + set.A3 + set.B3 * z;
        if (z >= set.Hl) return plane - set.A1 + set.A2 + set.B2 * z;
        return plane + set.B1 * z;
    }
    if (z > set.Hu) return set.A3 + set.B3 * z;
    if (z >= set.Hl) return set.A2 + set.B2 * z;
    return set.A1 + set.B1 * z;
}

double Determinant3(const std::array<double, 3>& p, const std::array<double, 3>& q, const std::array<double, 3>& r) {
    return p[0] * q[1] * r[2] + q[0] * r[1] * p[2] + r[0] * p[1] * q[2] - p[2] * q[1] * r[0] - q[2] * r[1] * p[0] -
           p[1] * r[2] * q[0];
}

double ThiessenValue(const StationFile& stations, double noData, double x, double y) {
    const int32_t n = CountOf({stations.Value, stations.X, stations.Y});
    double result = InvalidValue(noData);
    double best = 1e20;
    for (int32_t i = 1; i <= n; ++i) {
        const double v = stations.Value[i];
        if (!IsValid(v, noData)) continue;
        const double dx = stations.X[i] - x;
        const double dy = stations.Y[i] - y;
        const double d2 = dx * dx + dy * dy;
        if (d2 <= best) {
            result = v;
            best = d2;
        }
    }
    return result;
}

double ThiessenLapseValue(const StationFile& stations, const LapseRate& lapse, double noData, double x, double y,
                          double z) {
    const int32_t n = CountOf({stations.Value, stations.Altitude, stations.X, stations.Y});
    const double g1 = lapse.Gradient;
    const double g2 = lapse.UpperGradient;
    const double hi = lapse.InversionHeight;
    const bool inversion = hi > -9998 && g2 > -9998;
    double result = InvalidValue(noData);
    double best = 1e20;
    for (int32_t i = 1; i <= n; ++i) {
        const double v = stations.Value[i];
        if (!IsValid(v, noData)) continue;
        const double dx = stations.X[i] - x;
        const double dy = stations.Y[i] - y;
        const double d2 = dx * dx + dy * dy;
        if (!(d2 < best)) continue;
        const double zs = stations.Altitude[i];
        double value;
        if (inversion) {
            if (zs > hi)
                value = z > hi ? v + (z - zs) * g2 : v + (hi - zs) * g2 + (z - hi) * g1;
            else
                value = z > hi ? v + (hi - zs) * g1 + (z - hi) * g2 : v + (z - zs) * g1;
        } else {
            value = v + (z - zs) * g1;
        }
        if (lapse.PType && v == 0) value = 0;
        result = value;
        best = d2;
    }
    return result;
}

double BilinearValue(const StationFile& stations, const LookUpCorners& corners, const IdwParameters& idw,
                     double noData, double xRot, double yRot) {
    const int32_t n = CountOf({stations.Value, stations.XRot, stations.YRot});
    const auto& v = stations.Value;
    const auto& xr = stations.XRot;
    const auto& yr = stations.YRot;
    const int32_t ur = UsableCorner(corners.UpperRight, n, v, noData);
    const int32_t ul = UsableCorner(corners.UpperLeft, n, v, noData);
    const int32_t ll = UsableCorner(corners.LowerLeft, n, v, noData);
    const int32_t lr = UsableCorner(corners.LowerRight, n, v, noData);

    if (ur == ul && ur == ll && ur == lr) {
        if (ur != 0) return v[ur];
        return IdwValueAnisotropic(stations, idw, noData, xRot, yRot);
    }
    if (ur == 0 || ul == 0 || ll == 0 || lr == 0) return IdwValueAnisotropic(stations, idw, noData, xRot, yRot);

    const double dx = xr[ur] - xr[ul];
    const double dy = yr[ll] - yr[ul];
    if (dx == 0 || dy == 0) return IdwValueAnisotropic(stations, idw, noData, xRot, yRot);

    const double tx = (xRot - xr[ul]) / dx;
    const double ty = (yRot - yr[ul]) / dy;
    return (1 - tx) * (1 - ty) * v[ul] + tx * (1 - ty) * v[ur] + (1 - tx) * ty * v[ll] + tx * ty * v[lr];
}

int32_t AnyFlagSet(std::span<const int32_t> flags, int32_t n) {
    if (n <= 0 || flags.empty()) return 0;
    const int32_t last = std::min<int64_t>(n, static_cast<int64_t>(flags.size()) - 1);
    for (int32_t i = 1; i <= last; ++i)
        if (flags[i] != 0) return 1;
    return 0;
}

std::optional<double> AllEqualCommonValue(bool allEqualFlag, const StationFile& file0, double noData) {
    if (!allEqualFlag) return std::nullopt;
    const int32_t n = StationCount(file0);
    for (int32_t i = 1; i <= n; ++i)
        if (IsValid(file0.Value[i], noData)) return file0.Value[i];
    return std::nullopt;
}

CellOutcome InterpolateCellValue(const MethodData& data, const CellPoint& cell, std::optional<double> common) {
    const double N = data.NoData;
    const double G = data.GridNoData;
    const StationFile& file0 = data.Files[0];
    const StationFile& file1 = data.Files[1];
    const auto idw0 = [&] { return IdwSelected(file0, data.Idw, N, cell.QX, cell.QY); };
    // Method 8 outside the station mesh: the inverse-distance values of both
    // files, file 1 holding the gradient with elevation.
    const auto idwGradient = [&] { return IdwSelected(file1, data.Idw, N, cell.QX, cell.QY); };
    const bool regressionSet = data.Regression.A1 >= -N;

    CellOutcome out;
    switch (data.Method) {
        case 2:
        case 10:
            if (!regressionSet) {
                out.Computed = false;
                out.Value = cell.Grid;
                return out;
            }
            out.Value = RegressionValue(data.Regression, N, G, cell.X, cell.Y, cell.Elevation);
            return out;
        case 9:
            out.Value = cell.Grid;
            return out;
        case 12:  // the lapse rate applies with or without the shortcut
            out.Value = ThiessenLapseValue(file0, data.Lapse, N, cell.X, cell.Y, cell.Elevation);
            return out;
        default:
            break;
    }

    // Every station of file 0 holds one value: it stands for the term that
    // file 0 contributes. A regression or a gradient of file 1 still applies,
    // so that equal intercepts at every station keep their elevation term.
    if (common) {
        switch (data.Method) {
            case 3:
            case 11:
                if (regressionSet) {
                    const double r = RegressionValue(data.Regression, N, G, cell.X, cell.Y, cell.Elevation);
                    out.Value = (1 - data.IdwFraction) * r + data.IdwFraction * *common;
                    return out;
                }
                break;
            case 6:
                out.Value = InterceptPlusGradient(
                    *common, BilinearValue(file1, cell.Corners[1], data.Idw, N, cell.QX, cell.QY), cell.Elevation, N);
                return out;
            case 8:
                out.Value = cell.Grid2 == G ? InterceptPlusGradient(*common, idwGradient(), cell.Elevation, N)
                                            : *common + cell.Grid2 * cell.Elevation;
                return out;
            default:
                break;
        }
        out.Value = *common;
        return out;
    }

    switch (data.Method) {
        case 1:
            out.Value = idw0();
            out.NoStationInRadius = !IsValid(out.Value, N);
            return out;
        case 3:
        case 11: {
            const double i = idw0();
            out.NoStationInRadius = !IsValid(i, N);
            if (!regressionSet) {
                out.Value = i;
                return out;
            }
            const double r = RegressionValue(data.Regression, N, G, cell.X, cell.Y, cell.Elevation);
            out.Value = IsValid(i, N) ? (1 - data.IdwFraction) * r + data.IdwFraction * i : r;
            return out;
        }
        case 4:
            out.Value = ThiessenValue(file0, N, cell.X, cell.Y);
            return out;
        case 5:
            out.Value = BilinearValue(file0, cell.Corners[0], data.Idw, N, cell.QX, cell.QY);
            return out;
        case 6:
            out.Value = InterceptPlusGradient(BilinearValue(file0, cell.Corners[0], data.Idw, N, cell.QX, cell.QY),
                                              BilinearValue(file1, cell.Corners[1], data.Idw, N, cell.QX, cell.QY),
                                              cell.Elevation, N);
            return out;
        case 7:
            out.Value = cell.Grid == G ? idw0() : cell.Grid;
            return out;
        case 8:
            out.Value = cell.Grid == G || cell.Grid2 == G
                            ? InterceptPlusGradient(idw0(), idwGradient(), cell.Elevation, N)
                            : cell.Grid + cell.Grid2 * cell.Elevation;
            return out;
        default:
            out.Value = InvalidValue(N);
            return out;
    }
}

double InterpolatePointValue(const MethodData& data, const PointQuery& point) {
    const double N = data.NoData;
    const double G = data.GridNoData;
    const StationFile& file0 = data.Files[0];
    const StationFile& file1 = data.Files[1];
    switch (data.Method) {
        case 1:
            return IdwSelected(file0, data.Idw, N, point.QX, point.QY);
        case 2:
        case 10:
            return RegressionValue(data.Regression, N, G, point.X, point.Y, point.Z);
        case 3:
        case 11: {
            const double i = IdwSelected(file0, data.Idw, N, point.QX, point.QY);
            const double r = RegressionValue(data.Regression, N, G, point.X, point.Y, point.Z);
            const bool iValid = IsValid(i, N);
            const bool rValid = IsValid(r, N);
            if (iValid && rValid) return i * data.IdwFraction + (1 - data.IdwFraction) * r;
            if (!iValid && rValid) return r;
            return i;
        }
        case 4:
            return ThiessenValue(file0, N, point.X, point.Y);
        case 5:
            return BilinearValue(file0, point.Corners[0], data.Idw, N, point.QX, point.QY);
        case 6:
            return InterceptPlusGradient(BilinearValue(file0, point.Corners[0], data.Idw, N, point.QX, point.QY),
                                         BilinearValue(file1, point.Corners[1], data.Idw, N, point.QX, point.QY),
                                         point.CellElevation, N);
        case 7:
            return ThiessenValue(file0, N, point.CellX, point.CellY);
        case 9:
            return point.Grid == G ? InvalidValue(N) : point.Grid;
        case 8:
            return InterceptPlusGradient(ThiessenValue(file0, N, point.CellX, point.CellY),
                                         ThiessenValue(file1, N, point.CellX, point.CellY), point.CellElevation, N);
        case 12:
            return ThiessenLapseValue(file0, data.Lapse, N, point.X, point.Y, point.Z);
        default:
            return InvalidValue(N);
    }
}

}  // namespace meteoint
