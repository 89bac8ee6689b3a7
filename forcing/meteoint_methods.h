#pragma once
// Value operations of the spatial interpolation of a meteorological input:
// inverse-distance weighting (plain and anisotropic), the three-layer altitude
// regression with its trend plane, the nearest station with and without a
// lapse rate, bilinear interpolation between four look-up stations, and the
// dispatch by method number for one grid cell or one point.
//
// Everything here is a pure function of its arguments: no state, no I/O. The
// cell loop calls these functions concurrently from several threads.
//
// Conventions:
// - Station arrays are 1-based like every station array of the input: a span
//   over n + 1 doubles whose element 0 is not used.
// - N is the station nodata bound (positive); a station value v is valid when
//   v >= -N, and -N - 1 (`InvalidValue`) is returned when there is nothing to
//   interpolate from. G is the grid nodata value (-9999).
// - Coordinates and altitudes in [m].
//
// Which method uses which operation (methods 1 to 12 of the input's section;
// "IDW" is `IdwValueAnisotropic` when the anisotropy ratio b/a < 1, else
// `IdwValue`):
//   1        IDW
//   2, 10    RegressionValue
//   3, 11    RegressionValue blended with IDW
//   4        ThiessenValue
//   5        BilinearValue of station file 0
//   6        BilinearValue of file 0 + BilinearValue of file 1 x elevation
//   7        spline value, IDW where the spline has none
//   8        spline values of files 0 and 1 (second x elevation); where
//            either spline has none, IDW of file 0 + IDW of file 1 x elevation
//   9        the grid read in the step
//   12       ThiessenLapseValue
//   Determinant3 serves the regression fit of methods 10 and 11.

#include <array>
#include <cstdint>
#include <optional>
#include <span>

namespace meteoint {

// The value that marks "nothing to interpolate from": -N - 1.
inline double InvalidValue(double noData) { return -noData - 1; }

// A station value counts when it is at least -N.
inline bool IsValid(double value, double noData) { return value >= -noData; }

// One station file as the interpolation reads it; all arrays 1-based over
// n + 1 doubles. An operation reads only the arrays it needs (named in its
// comment); those must all have the same size, which is checked on every call
// (a mismatch is a programming error and aborts the process).
struct StationFile {
    std::span<const double> Value;     // current values v(i)
    std::span<const double> Altitude;  // z(i)
    std::span<const double> X, Y;      // coordinates x(i), y(i)
    std::span<const double> XRot, YRot;  // rotated coordinates x'(i), y'(i); the same arrays as X, Y when b/a = 1
};

// Number of stations n of a file: the size of its value array less one, 0 for
// an empty array.
int32_t StationCount(const StationFile& stations);

// IDW mode M = floor(1000 w) as a 32-bit integer: 2000 selects the fast path
// of the weight 2, 1000 that of the weight 1. A weight whose mode would not
// fit into 32 bits (or is not a number) gets mode -1, the general path.
int32_t IdwMode(double weight);

// Parameters of inverse-distance weighting.
struct IdwParameters {
    double Weight = 2;                  // w, the power of the inverse distance
    int32_t Mode = 2000;                // floor(1000 w)
    double MaxDistance = 1e30;          // D [m]
    double MaxDistanceSquared = 1e60;   // D^2 [m2], compared with squared distances in mode 2000
    double Ratio = 1;                   // anisotropy ratio b/a, 0 < b/a <= 1
};

// The parameters from the section's values as read: the weight w, the maximum
// distance D (not squared, whatever the weight) and the anisotropy ratio b/a.
IdwParameters MakeIdwParameters(double weight, double maxDistance, double ratio);

// Inverse-distance weighting at (x, y) over the valid stations of a file
// (reads Value, X, Y):
//   d2 = (x(i) - x)^2 + (y(i) - y)^2, replaced by 1 when d2 <= 0;
//   weight(i) = d^-w for d <= D, else 0 (mode 2000: 1/d2; mode 1000: 1/d);
//   value = sum weight(i) v(i) / sum weight(i), or -N - 1 when the sum is 0.
// Methods 1, 3, 11 and the fallback of 7 and 8 when b/a = 1.
double IdwValue(const StationFile& stations, const IdwParameters& idw, double noData, double x, double y);

// The same with the rotated coordinates and the x difference scaled by b/a
// (reads Value, XRot, YRot): d2 = ((x'(i) - x) b/a)^2 + (y'(i) - y)^2.
// Methods 1, 3, 11, 7, 8 when b/a < 1; always the fallback of 5 and 6.
double IdwValueAnisotropic(const StationFile& stations, const IdwParameters& idw, double noData, double xRot,
                           double yRot);

// IdwValueAnisotropic when b/a < 1, else IdwValue: the inverse-distance value
// that the methods use at their IDW coordinates.
double IdwSelected(const StationFile& stations, const IdwParameters& idw, double noData, double x, double y);

// The regression set of an input, in the order of a regression file row.
// The set is missing while a1 < -N; the trend plane is absent while c0 < -N.
struct RegressionSet {
    double A1 = 0, B1 = 0;  // lower layer: intercept, altitude gradient [unit/m]
    double Hl = 0;          // lower inversion height [m]
    double A2 = 0, B2 = 0;  // middle layer
    double Hu = 0;          // upper inversion height [m]
    double A3 = 0, B3 = 0;  // upper layer
    double C0 = 0, Cx = 0, Cy = 0;  // trend plane c0 + cx x + cy y of the lower intercept
};

// Three-layer altitude regression at a cell or point (x, y) of altitude z:
//   z > hu: a3 + b3 z;  hl <= z <= hu: a2 + b2 z;  z < hl: a1 + b1 z.
// With a trend plane and both coordinates known (neither equal to G), the
// plane P = cx x + c0 + cy y replaces a1 and shifts the upper intercepts by
// P - a1. Returns -N - 1 when the set is missing. Methods 2, 3, 10, 11.
double RegressionValue(const RegressionSet& set, double noData, double gridNoData, double x, double y, double z);

// Determinant of the 3x3 matrix with the columns p, q, r (components 1 to 3
// at indices 0 to 2). Used to fit the trend plane of methods 10 and 11.
double Determinant3(const std::array<double, 3>& p, const std::array<double, 3>& q, const std::array<double, 3>& r);

// Value of the nearest valid station to (x, y) (reads Value, X, Y); at equal
// distance the later station wins; a station more than 1e10 m away is never
// taken; -N - 1 without one. Method 4; the point value of 7, 8 and 9.
double ThiessenValue(const StationFile& stations, double noData, double x, double y);

// Lapse-rate parameters of method 12.
struct LapseRate {
    double Gradient = 0;             // g1 [unit/m]
    double InversionHeight = -9999;  // hi [m], -9999 when not given
    double UpperGradient = -9999;    // g2 [unit/m] above the inversion, -9999 when not given
    bool PType = false;              // a station value 0 stays 0 at every altitude
};

// Value of the nearest valid station to (x, y) moved to the altitude z with
// the lapse rate (reads Value, Altitude, X, Y); at equal distance the earlier
// station wins. Without an inversion: v + (z - zs) g1. With an inversion
// (hi and g2 both given, above -9998) the part of the altitude difference
// above hi uses g2 and the part below it g1. With P-type a station value of 0
// gives 0. -N - 1 without a valid station. Method 12.
double ThiessenLapseValue(const StationFile& stations, const LapseRate& lapse, double noData, double x, double y,
                          double z);

// The four look-up stations of a grid cell in the station mesh; 0 means none.
struct LookUpCorners {
    int32_t UpperRight = 0;
    int32_t UpperLeft = 0;
    int32_t LowerLeft = 0;
    int32_t LowerRight = 0;
};

// Bilinear interpolation between the four look-up stations of a cell at the
// rotated point (reads Value, XRot, YRot):
//   tx = (x - x'(UL)) / (x'(UR) - x'(UL)), ty = (y - y'(UL)) / (y'(LL) - y'(UL)),
//   (1-tx)(1-ty) v(UL) + tx(1-ty) v(UR) + (1-tx) ty v(LL) + tx ty v(LR).
// A corner that is 0, out of the range 1..n or whose value is not valid counts
// as none. All four the same valid station: its value. A corner missing or a
// degenerate mesh cell (dx or dy 0): IdwValueAnisotropic. Methods 5 and 6.
double BilinearValue(const StationFile& stations, const LookUpCorners& corners, const IdwParameters& idw,
                     double noData, double xRot, double yRot);

// 1 when any of flags[1..n] is non-zero, else 0 (also for n <= 0); flags is
// 1-based and never read beyond its end. Set-up of methods 7 and 8.
int32_t AnyFlagSet(std::span<const int32_t> flags, int32_t n);

// Everything the dispatch of a method reads of the input.
struct MethodData {
    int32_t Method = 0;            // 1..12
    double NoData = 9999;          // N
    double GridNoData = -9999;     // G
    IdwParameters Idw;
    double IdwFraction = 0;        // f, the share of IDW in methods 3 and 11
    RegressionSet Regression;      // methods 2, 3, 10, 11
    LapseRate Lapse;               // method 12
    StationFile Files[2];          // station files 0 and 1 (file 1: methods 6 and 8)
};

// The common value of the all-equal shortcut: when the all-equal flag of
// station file 0 is set and the file has a valid value, the first valid value
// (station 1 first); otherwise none, and the methods interpolate as usual.
std::optional<double> AllEqualCommonValue(bool allEqualFlag, const StationFile& file0, double noData);

// What the cell loop knows of one grid cell.
struct CellPoint {
    double X = 0, Y = 0;       // "CoordX", "CoordY" of the cell
    double QX = 0, QY = 0;     // IDW and bilinear coordinates: the rotated grids when b/a < 1, else X, Y
    double Elevation = 0;      // the elevation grid at the cell
    LookUpCorners Corners[2];  // look-up stations of the cell per station file (methods 5 and 6)
    double Grid = 0;           // result grid before the loop: spline value (7, 8) or the grid read (9)
    double Grid2 = 0;          // second spline grid S2 (method 8)
};

struct CellOutcome {
    double Value = 0;
    // False for methods 2 and 10 without a regression set: the cell keeps its
    // value and is not post-processed.
    bool Computed = true;
    // Methods 1, 3, 11: the IDW found no station within the search radius
    // (the cell loop's warning).
    bool NoStationInRadius = false;
};

// The value of one cell by the input's method, before scaling, limits,
// scenario and scaling grid. `common` is `AllEqualCommonValue` of the step:
// when there is one, it replaces the term of file 0 without interpolating:
// methods 1, 4, 5 and 7 give it, 3 and 11 mix it with their regression, 6 and
// 8 add their gradient times the elevation; 2, 9, 10 (regression and grids)
// and 12 (which applies its lapse rate) do not use it.
// Method 6 gives -N - 1 when either of its two terms has nothing to
// interpolate from; where either spline grid holds G, method 8 takes the
// inverse-distance values of both files (the second times the elevation), as
// -N - 1 when either has nothing to interpolate from.
CellOutcome InterpolateCellValue(const MethodData& data, const CellPoint& cell, std::optional<double> common);

// What the point service knows of one point.
struct PointQuery {
    double X = 0, Y = 0;         // the point
    double QX = 0, QY = 0;       // the rotated point when b/a < 1 and neither x nor y is G, else X, Y
    double Z = 0;                // altitude of the point
    double CellX = 0, CellY = 0; // "CoordX", "CoordY" of the point's cell
    double CellElevation = 0;    // the elevation grid at the point's cell
    LookUpCorners Corners[2];    // look-up stations of the point's cell (methods 5 and 6)
    double Grid = 0;             // method 9: the current grid of the list at the point's cell
};

// The value of the point service at one point by the input's method, before
// scaling, limits and scenario; a value below -N when there is nothing to
// interpolate from. Method 7 takes the nearest station of file 0 at the
// point's cell; method 8 adds the nearest station of file 1 times the cell's
// elevation, as method 6 adds its gradient; method 9, which has no stations,
// takes its grid at the point's cell (nothing where the grid holds G).
double InterpolatePointValue(const MethodData& data, const PointQuery& point);

}  // namespace meteoint
