// Fit of the elevation-dependent regression of methods 10 and 11.

#include "forcing/meteoint_regression.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace meteoint {

namespace {

#define REGRESSION_CHECK(condition)                                                                       \
    do {                                                                                                  \
        if (!(condition)) {                                                                               \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);            \
            std::abort();                                                                                 \
        }                                                                                                 \
    } while (false)

// Relative size below which a spread of altitudes or of map positions counts
// as rounding noise of the sums.
constexpr double SingularRatio = 1e-12;
// A point closer than this to the altitude where two lines are to meet [m].
constexpr double MeetingPointTolerance = 1e-6;

bool TakesPart(double v, double z, double noData) { return v > -noData && std::isfinite(v) && std::isfinite(z); }

int32_t CheckedCount(const StationFile& stations) {
    REGRESSION_CHECK(stations.Value.size() == stations.Altitude.size());
    return StationCount(stations);
}

}  // namespace

void AltitudeGroup::Add(double z, double v) {
    if (Count == 0) {
        MinZ = MaxZ = z;
    } else if (z < MinZ) {
        MinZ = z;
    } else if (z > MaxZ) {
        MaxZ = z;
    }
    ++Count;
    SumZ += z;
    SumV += v;
    SumZZ += z * z;
    SumVZ += v * z;
}

AltitudeGroup AltitudeGroup::Union(const AltitudeGroup& other) const {
    if (Count == 0) return other;
    if (other.Count == 0) return *this;
    AltitudeGroup both = *this;
    both.Count += other.Count;
    both.SumZ += other.SumZ;
    both.SumV += other.SumV;
    both.SumZZ += other.SumZZ;
    both.SumVZ += other.SumVZ;
    both.MinZ = std::fmin(MinZ, other.MinZ);
    both.MaxZ = std::fmax(MaxZ, other.MaxZ);
    return both;
}

double AltitudeGroup::AltitudeSpread() const {
    if (Count == 0) return 0;
    return SumZZ - SumZ * SumZ / static_cast<double>(Count);
}

bool AltitudeGroup::AltitudesCoincide() const {
    if (Count < 2) return true;
    return AltitudeSpread() <= SingularRatio * SumZZ;
}

std::optional<AltitudeLine> FitAltitudeLine(const AltitudeGroup& group) {
    if (group.Count < 2 || group.AltitudesCoincide()) return std::nullopt;
    const double n = static_cast<double>(group.Count);
    const double d = group.AltitudeSpread();
    AltitudeLine line;
    line.B = (group.SumVZ - group.SumZ * group.SumV / n) / d;
    line.A = (group.SumV - group.SumZ * line.B) / n;
    return line;
}

void CollapseToMeanPoint(AltitudeGroup& group, bool lowerGroup) {
    if (group.Count == 0) return;
    const double n = static_cast<double>(group.Count);
    const double z = group.SumZ / n;
    const double v = group.SumV / n;
    group.SumZ = z;
    group.SumV = v;
    group.Count = 1;
    group.SumZZ = z * z;
    group.SumVZ = v * z;
    if (lowerGroup) {
        group.MinZ = z;
    } else {
        group.MaxZ = z;
    }
}

AltitudeLine LineMeetingAt(double z0, double v0, const AltitudeLine& other, double h) {
    AltitudeLine line;
    if (std::fabs(h - z0) <= MeetingPointTolerance) {
        line.B = other.B;
        line.A = v0 - other.B * z0;
        return line;
    }
    line.B = (h * other.B + other.A - v0) / (h - z0);
    line.A = h * (other.B - line.B) + other.A;
    return line;
}

AltitudeGroups GroupStations(const StationFile& stations, const RegressionFitSettings& settings, double noData) {
    const int32_t n = CheckedCount(stations);
    const double zl = settings.LowerInversion;
    AltitudeGroups groups;
    for (int32_t i = 1; i <= n; ++i) {
        const double v = stations.Value[i], z = stations.Altitude[i];
        if (!TakesPart(v, z, noData)) continue;
        (z <= zl ? groups.Lower : groups.Upper).Add(z, v);
    }
    // The neighbours of the split, over every station whatever its value.
    double above = 1e9, below = -1e8;
    for (int32_t i = 1; i <= n; ++i) {
        const double z = stations.Altitude[i];
        if (z > zl && z < above) above = z;
        if (z < zl && z > below) below = z;
    }
    for (int32_t i = 1; i <= n; ++i) {
        const double v = stations.Value[i], z = stations.Altitude[i];
        if (!TakesPart(v, z, noData)) continue;
        if (z == below && (settings.Overlap > 0 || groups.Upper.Count == 1)) groups.Upper.Add(z, v);
        if (z == above && (settings.Overlap > 0 || groups.Lower.Count == 1)) groups.Lower.Add(z, v);
    }
    return groups;
}

std::optional<TrendPlane> FitTrendPlane(std::span<const double> x, std::span<const double> y,
                                        std::span<const double> r) {
    REGRESSION_CHECK(x.size() == y.size() && x.size() == r.size());
    const size_t m = x.size();
    if (m < 4) return std::nullopt;
    const double n = static_cast<double>(m);
    double mx = 0, my = 0, mr = 0;
    for (size_t k = 0; k < m; ++k) {
        mx += x[k];
        my += y[k];
        mr += r[k];
    }
    mx /= n;
    my /= n;
    mr /= n;
    double sxx = 0, syy = 0, sxy = 0, sxr = 0, syr = 0;
    for (size_t k = 0; k < m; ++k) {
        const double dx = x[k] - mx, dy = y[k] - my, dr = r[k] - mr;
        sxx += dx * dx;
        syy += dy * dy;
        sxy += dx * dy;
        sxr += dx * dr;
        syr += dy * dr;
    }
    // Normal equations in centred coordinates: the sums of x, y and r vanish.
    const std::array<double, 3> p{n, 0, 0}, q{0, sxx, sxy}, t{0, sxy, syy}, rhs{0, sxr, syr};
    const double d = Determinant3(p, q, t);
    if (!(sxx > 0 && syy > 0) || !(d > SingularRatio * n * sxx * syy)) return std::nullopt;
    TrendPlane plane;
    plane.Cx = Determinant3(p, rhs, t) / d;
    plane.Cy = Determinant3(p, q, rhs) / d;
    plane.C0 = mr - plane.Cx * mx - plane.Cy * my;
    if (!std::isfinite(plane.C0) || !std::isfinite(plane.Cx) || !std::isfinite(plane.Cy)) return std::nullopt;
    return plane;
}

double LayerValue(const RegressionSet& set, double z) {
    if (z > set.Hu) return set.A3 + set.B3 * z;
    if (z >= set.Hl) return set.A2 + set.B2 * z;
    return set.A1 + set.B1 * z;
}

RegressionSet FitElevationRegression(const StationFile& stations, const RegressionFitSettings& settings,
                                     double noData) {
    const double missing = InvalidValue(noData);
    RegressionSet missingSet{missing, missing, missing, missing, missing, missing,
                             missing, missing, missing, missing, missing};
    const double zl = settings.LowerInversion, zu = settings.UpperInversion;

    AltitudeGroups groups = GroupStations(stations, settings, noData);
    AltitudeGroup& lower = groups.Lower;
    AltitudeGroup& upper = groups.Upper;

    // Clusters: a group within the cluster range, or all at one altitude,
    // acts as its mean point.
    const double range = settings.ClusterRange;
    if (lower.Count > 1 && (lower.MaxZ - lower.MinZ < range || lower.AltitudesCoincide()))
        CollapseToMeanPoint(lower, true);
    if (upper.Count > 1 && (upper.MaxZ - upper.MinZ < range || upper.AltitudesCoincide()))
        CollapseToMeanPoint(upper, false);

    // Two single points: one point when they are close, else both lines run
    // through both.
    if (lower.Count == 1 && upper.Count == 1) {
        const AltitudeGroup both = lower.Union(upper);
        if (upper.MaxZ - lower.MinZ < range || both.AltitudesCoincide()) {
            upper.Clear();
        } else {
            lower = upper = both;
        }
    }

    if (lower.Count == 0 && upper.Count == 0) return missingSet;

    std::optional<AltitudeLine> lowerLine = lower.Count > 1 ? FitAltitudeLine(lower) : std::nullopt;
    std::optional<AltitudeLine> upperLine = upper.Count > 1 ? FitAltitudeLine(upper) : std::nullopt;

    // Groups of one point or none.
    if (lower.Count == 0) {
        if (upper.Count == 1) upperLine = AltitudeLine{upper.SumV, 0};
        lowerLine = upperLine;
    } else if (lower.Count == 1) {
        if (upper.Count == 0) {
            lowerLine = upperLine = AltitudeLine{lower.SumV, 0};
        } else if (upperLine) {
            lowerLine = LineMeetingAt(lower.SumZ, lower.SumV, *upperLine, zl);
        }
    } else {
        if (upper.Count == 0) {
            upperLine = lowerLine;
        } else if (upper.Count == 1 && lowerLine) {
            upperLine = LineMeetingAt(upper.SumZ, upper.SumV, *lowerLine, zl);
        }
    }
    if (!lowerLine) return missingSet;
    if (!upperLine) upperLine = lowerLine;

    // Intersection of the two lines.
    const AltitudeLine lo = *lowerLine, up = *upperLine;
    RegressionSet set;
    set.Hu = (up.A <= -noData || up.B == lo.B) ? zl : (up.A - lo.A) / (lo.B - up.B);
    set.Hl = 0;

    // Layers. Two layers: the lower line from hl upwards, constant at its
    // value at hl below, the upper line above hu.
    auto twoLayers = [&] {
        set.A3 = up.A;
        set.B3 = up.B;
        set.A2 = lo.A;
        set.B2 = lo.B;
        set.A1 = lo.A;
        set.B1 = 0;
    };
    if (set.Hu >= zl - settings.Tolerance && set.Hu <= zu + settings.Tolerance) {
        twoLayers();
    } else {
        set.Hu = zu;
        set.Hl = zl;
        if (set.Hl > 0) {
            set.A3 = up.A;
            set.B3 = up.B;
            set.A1 = lo.A;
            set.B1 = lo.B;
            if (set.Hu != set.Hl) {
                set.B2 = (set.A3 + set.B3 * set.Hu - set.A1 - set.B1 * set.Hl) / (set.Hu - set.Hl);
                set.A2 = set.Hl * (set.B1 - set.B2) + set.A1;
            } else {
                // No room for a middle layer: it only holds at hl itself.
                set.A2 = set.A1;
                set.B2 = set.B1;
            }
        } else {
            twoLayers();
        }
    }

    // Fixed lapse rate above hu: the upper layer keeps its value at hu.
    if (settings.UpperLapseRate > -9998) {
        set.A3 = set.A3 + set.B3 * set.Hu - settings.UpperLapseRate * set.Hu;
        set.B3 = settings.UpperLapseRate;
    }

    // Trend plane of the intercepts that make the layers meet each station.
    const int32_t n = CheckedCount(stations);
    std::vector<double> xs, ys, rs;
    xs.reserve(static_cast<size_t>(n));
    ys.reserve(static_cast<size_t>(n));
    rs.reserve(static_cast<size_t>(n));
    bool placesKnown = stations.X.size() == stations.Value.size() && stations.Y.size() == stations.Value.size();
    for (int32_t i = 1; i <= n && placesKnown; ++i) {
        const double v = stations.Value[i], z = stations.Altitude[i];
        if (!TakesPart(v, z, noData)) continue;
        if (!std::isfinite(stations.X[i]) || !std::isfinite(stations.Y[i])) continue;
        xs.push_back(stations.X[i]);
        ys.push_back(stations.Y[i]);
        rs.push_back(set.A1 + v - LayerValue(set, z));
    }
    const std::optional<TrendPlane> plane = FitTrendPlane(xs, ys, rs);
    if (plane) {
        set.C0 = plane->C0;
        set.Cx = plane->Cx;
        set.Cy = plane->Cy;
    } else {
        set.C0 = set.Cx = set.Cy = missing;
    }

    // Non-finite coefficients (overflowing sums of absurd altitudes) are no
    // regression.
    for (double c : {set.A1, set.B1, set.Hl, set.A2, set.B2, set.Hu, set.A3, set.B3})
        if (!std::isfinite(c)) return missingSet;
    return set;
}

}  // namespace meteoint
