#pragma once
// Elevation-dependent regression fitted to the current values of a station
// file (interpolation methods 10 and 11): a lower and an upper altitude
// gradient, split at a configured inversion height and joined into up to
// three layers, plus a trend plane in x and y of the lowest layer's intercept.
// The result is a RegressionSet that RegressionValue (meteoint_methods.h)
// evaluates.
//
// Everything here is a pure function of its arguments. Station arrays are
// 1-based (element 0 unused); altitudes and coordinates in [m]. A station
// takes part in the fit when its value v > -N (strictly) and both v and its
// altitude are finite numbers; -N - 1 marks a missing coefficient.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "forcing/meteoint_methods.h"

namespace meteoint {

// The method-10/11 parameter line of the input's section.
struct RegressionFitSettings {
    double LowerInversion = 0;      // Zl [m]: splits the stations into a lower and an upper group
    double UpperInversion = 0;      // Zu [m]
    double Tolerance = 0;           // tol [m] around [Zl, Zu] for the intersection of the two lines
    int32_t Overlap = 0;            // > 0: the stations nearest to Zl on either side count in both groups
    double ClusterRange = 0;        // R [m]: a group spanning less altitude acts as its mean point
    double UpperLapseRate = -9999;  // gU [unit/m] above Zu, -9999 when not given
};

// Least-squares sums of the stations of one altitude group.
struct AltitudeGroup {
    int64_t Count = 0;
    double SumZ = 0, SumV = 0, SumZZ = 0, SumVZ = 0;
    double MinZ = 0, MaxZ = 0;  // lowest and highest altitude of the group's stations

    // Adds a station (altitude z, value v); the first station of an empty
    // group sets both extremes.
    void Add(double z, double v);
    void Clear() { *this = AltitudeGroup{}; }
    // The sums of both groups together (extremes spanning both).
    AltitudeGroup Union(const AltitudeGroup& other) const;
    // D = sum z^2 - (sum z)^2 / n, the spread of the altitudes.
    double AltitudeSpread() const;
    // True when the group's altitudes are all the same, up to the rounding of
    // the sums: D is no larger than 1e-12 sum z^2 (or the group has fewer
    // than two stations).
    bool AltitudesCoincide() const;
};

// v = A + B z.
struct AltitudeLine {
    double A = 0;  // intercept at altitude 0
    double B = 0;  // gradient [unit/m]
    double At(double z) const { return A + B * z; }
};

// Least-squares line of v on z over a group of at least two stations at
// different altitudes:
//   b = (sum vz - sum z sum v / n) / D,  a = (sum v - sum z b) / n;
// none for fewer than two stations or coinciding altitudes.
std::optional<AltitudeLine> FitAltitudeLine(const AltitudeGroup& group);

// Replaces the group by its mean point (mean z, mean v) as a group of one
// station. The lower group keeps the mean as its lowest altitude, the upper
// group as its highest: those are the extremes compared afterwards.
void CollapseToMeanPoint(AltitudeGroup& group, bool lowerGroup);

// The line through the point (z0, v0) that meets `other` at altitude h:
//   b = (h b_o + a_o - v0) / (h - z0),  a = h (b_o - b) + a_o.
// When the point lies at h (within 1e-6 m) the line cannot be drawn that
// way; it then runs through the point with the gradient of `other`.
AltitudeLine LineMeetingAt(double z0, double v0, const AltitudeLine& other, double h);

// Steps 1 to 3 of the fit: the stations at or below Zl form the lower group,
// the others the upper group; then the valid station(s) at the highest
// altitude strictly below Zl (of any station of the file, valid or not) join
// the upper group when the overlap is on or the upper group has exactly one
// station at that moment, and those at the lowest altitude strictly above Zl
// join the lower group likewise. Reads Value and Altitude.
struct AltitudeGroups {
    AltitudeGroup Lower, Upper;
};
AltitudeGroups GroupStations(const StationFile& stations, const RegressionFitSettings& settings, double noData);

// c0 + cx x + cy y.
struct TrendPlane {
    double C0 = 0, Cx = 0, Cy = 0;
};

// Least-squares plane r = c0 + cx x + cy y through the points (x(k), y(k),
// r(k)), k = 0..m-1, by Cramer's rule on the normal equations (centred on the
// points' mean for accuracy with large map coordinates). None for fewer than
// four points, or when the points lie on one straight line in the plane.
std::optional<TrendPlane> FitTrendPlane(std::span<const double> x, std::span<const double> y,
                                        std::span<const double> r);

// The layers of a set at altitude z without the trend plane: the upper
// layer when z > hu, the middle one when hl <= z <= hu, else the lower one.
double LayerValue(const RegressionSet& set, double z);

// The whole fit over the valid stations of a file (reads Value, Altitude, X,
// Y). Without a valid station, or when no lower line results, every
// coefficient is -N - 1 (a missing set); with three or fewer valid stations
// the trend plane is missing (c0 = cx = cy = -N - 1).
RegressionSet FitElevationRegression(const StationFile& stations, const RegressionFitSettings& settings,
                                     double noData);

}  // namespace meteoint
