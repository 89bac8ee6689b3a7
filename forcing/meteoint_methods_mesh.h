#pragma once
// Set-up operations on the station geometry of a meteorological input, run
// once while the input is built: the main direction of the station mesh, the
// rotation of station and cell coordinates into the frame of the anisotropy
// ellipse, the mean distances between neighbouring stations and the choice of
// the four look-up stations of every grid cell for the bilinear methods.
//
// Pure functions on plain values: the caller writes the log lines and the
// FATAL entries, registers grids and keeps the results. Station arrays are
// 1-based (element 0 not used); grids are the 1-based row-pointer matrices
// [1..rows][1..cols].
//
// Order at construction: EstimateAnisotropy (methods 5 to 8 only),
// SlopeToRadians, CheckAnisotropy and RotateStationCoords (methods 1, 3 to 8,
// 10 to 12), CreateRotatedCoordGrids (same methods, only when b/a < 1),
// CalcStationDistances, then ChooseLookUpStations per station file (methods 5
// and 6).

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

#include "forcing/meteoint_methods.h"
#include "framework/zonetable.h"

namespace meteoint {

// The slope of the main axis of the anisotropy ellipse [deg] and the ratio b/a.
struct Anisotropy {
    double SlopeDegrees = 0;
    double Ratio = 1;
};

// Main direction of a station mesh from the directions between nearest
// neighbours (unrotated coordinates of station file 0, 1-based, n + 1 each).
// Directions are folded to -90..90 deg and counted in 18 classes of 10 deg;
// the fullest class (the first of equally full ones) gives the mean of its
// directions from 0 to 95 deg (directions below 0 deg do not count), less
// 90 deg when above 45 deg. A slope of more than 0.001 deg gives the ratio
// 0.995, which makes the later steps rotate stations and cells into the
// mesh's frame; otherwise slope 0 and ratio 1, also when the main class
// holds only directions below 0 deg. Stations at the same place are not
// each other's neighbours.
// Methods 5 to 8.
Anisotropy EstimateAnisotropy(std::span<const double> x, std::span<const double> y);

// Degrees to radians as the input converts the slope: deg x 0.017453292519944444.
double SlopeToRadians(double degrees);

// The methods that check the slope and ratio and rotate stations and cells
// when b/a < 1: 1, 3 to 8 and 10 to 12 (not the regression, 2, nor the grid
// list, 9).
inline bool UsesAnisotropy(int method) { return method == 1 || (method >= 3 && method <= 8) || method >= 10; }

enum class AnisotropyCheck {
    Ok,
    SlopeOutOfRange,  // slope outside -pi/2..pi/2 (or not a number)
    RatioOutOfRange,  // b/a outside (0, 1] (or not a number)
};

// FATAL texts of the two failed checks; both end the run with code 54.
inline constexpr const char* SlopeOutOfRangeText = "FATAL: anisotropy slope has to range from -90 to +90 degree \n";
inline constexpr const char* RatioOutOfRangeText = "FATAL: ratio of anisotropy has to range from +1 to >0 liegen";
inline constexpr int AnisotropyErrorCode = 54;

// Checks the slope [rad] first, then the ratio.
AnisotropyCheck CheckAnisotropy(double slopeRadians, double ratio);

// A point rotated about the origin (x0, y0) by -slope, so that the main axis
// of the anisotropy ellipse becomes the x axis.
struct RotatedPoint {
    double X = 0;
    double Y = 0;
};

// dx = x - x0, dy = y - y0, r = sqrt(dx^2 + dy^2), th = atan2(dy, dx) (for
// dx = 0: +1.570796326795 when dy > 0, else -1.570796326795);
// result (x0 + r cos(th - slope), y0 + r sin(th - slope)). Slope in [rad].
RotatedPoint RotatePoint(double x, double y, double x0, double y0, double slopeRadians);

// Rotated station coordinates x'(i), y'(i) and distances r(i) from the
// origin, 1-based like the input arrays.
struct RotatedStations {
    std::vector<double> X, Y, Radius;
};

// Every station rotated with RotatePoint (no nodata test). Call it only when
// b/a < 1; with b/a = 1 the rotated coordinates are the unrotated arrays.
RotatedStations RotateStationCoords(std::span<const double> x, std::span<const double> y, double x0, double y0,
                                    double slopeRadians);

// Fills the rotated coordinate grids ("CoordXRot_%s", "CoordYRot_%s") from
// "CoordX" and "CoordY" over rows 1..rows and columns 1..cols. A cell whose x
// or y equals the grid nodata value G gets G in both.
void CreateRotatedCoordGrids(double** coordX, double** coordY, int32_t rows, int32_t cols, double gridNoData,
                             double x0, double y0, double slopeRadians, double** rotatedX, double** rotatedY);

// Average distances to the next station to the right (Dh) and above (Dv) in
// the rotated frame, and the window tolerance t of the look-up search.
struct StationSpacing {
    double Horizontal = -9999;  // Dh [m], -9999 when no station has one to its right
    double Vertical = -9999;    // Dv [m], -9999 when no station has one above it
    double Tolerance = 0.25;    // t
};

// For every station the nearest other station whose direction is more
// vertical than horizontal and above it (|dy| > |dx|, dy > 0), and the nearest
// one to its right (|dy| <= |dx|, dx > 0); Dh and Dv are the means of those
// distances. Rotated coordinates of station file 0.
StationSpacing CalcStationDistances(std::span<const double> xRot, std::span<const double> yRot);

// The first station i (1..n) strictly inside the window
// px + dx1 < x'(i) < px + dx2, py + dy1 < y'(i) < py + dy2 (rotated
// coordinates, values not looked at), or 0.
int32_t FindStationInRect(const StationFile& stations, double px, double py, double dx1, double dx2, double dy1,
                          double dy2);

// The look-up stations of one point in the rotated frame: the nearest
// station takes the corner of its quadrant, the other three are searched in
// windows of about one mean spacing (t of it either way) from a corner found
// before. All 0 for a file without stations.
LookUpCorners ChooseLookUpCorners(const StationFile& stations, const StationSpacing& spacing, double xRot,
                                  double yRot);

// The four look-up station grids of one station file (grids 4f+1 to 4f+4),
// each rows x cols integers stored row by row.
struct LookUpGrids {
    int32_t Rows = 0;
    int32_t Cols = 0;
    std::vector<int32_t> UpperRight, UpperLeft, LowerLeft, LowerRight;

    // The corners of cell (row, col), 1-based; all 0 outside the grid.
    LookUpCorners At(int32_t row, int32_t col) const;
};

// Chooses the look-up stations of every selected cell from the rotated cell
// coordinates qx, qy (the rotated grids, or "CoordX"/"CoordY" when b/a = 1).
// Cells are visited from the first to the last valid column of each row
// (`rowExtents`, 1-based, rows + 1 entries) and taken when `selected`(row,
// col) is true (a valid zone code in this process's region); every other
// cell keeps 0 in all four grids. `selected` is called from several threads.
LookUpGrids ChooseLookUpStations(const StationFile& stations, const StationSpacing& spacing, int32_t rows,
                                 int32_t cols, double** qx, double** qy, std::span<const RowExtent> rowExtents,
                                 const std::function<bool(int32_t row, int32_t col)>& selected);

}  // namespace meteoint
