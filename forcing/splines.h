#pragma once
// Interpolation from a station mesh by bicubic splines (methods 7 and 8 of a
// meteorological input).
//
// The stations of a mesh stand in columns along the rotated y axis, every
// column with the same number of stations. `BuildStationMesh` sorts the
// stations into such columns; `TSplines` evaluates natural cubic splines
// along every mesh column at the rows of a sub-grid, then natural cubic
// splines across the columns at every sub-grid cell that a model cell uses,
// and copies the sub-grid onto the model grid.
//
// All coordinates are the rotated ones of the input; arrays and matrices are
// 1-based.

#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "forcing/meteoint_methods.h"
#include "forcing/meteoint_methods_mesh.h"
#include "framework/memory_handling.h"

namespace splines {

// Code of a station set that does not form columns of equal length.
inline constexpr int IrregularMeshCode = 70;
// Code of a spline evaluation that meets two equal abscissae.
inline constexpr int EqualAbscissaeCode = 82;
inline constexpr const char* IrregularMeshText =
    "FATAL: Error converting the station coordinates into a grid:\nThe actual version of Ruvex-QOR accepts only "
    "station meshs\nwith an equal number of more or less equally spaced stations\nin each column, whereas the total "
    "number of both, rows \nand columns, are each virtually unlimited\n";

// An end slope above this marks a natural end (second derivative 0).
inline constexpr double NaturalEnd = 1e30;

// Second derivatives y2[lo..hi] of the cubic spline through (x[i], y[i]),
// i = lo..hi, by the tridiagonal algorithm; a slope above 9.9e29 gives a
// natural end. The abscissae may rise or fall but must differ from their
// neighbours. A single point (lo == hi) gets y2 = 0.
void SplineCoefficients(double startSlope, double endSlope, const double* x, const double* y, int32_t lo,
                        int32_t hi, double* y2);

// Value at `x` of the spline through xa[1..n] (rising), ya and y2a, with the
// interval search continued from `klo` (in/out; `khi` out):
//   A = (xa[khi] - x)/h, B = (x - xa[klo])/h, h = xa[khi] - xa[klo],
//   A ya[klo] + B ya[khi] + ((A^3 - A) y2a[klo] + (B^3 - B) y2a[khi]) h^2 / 6.
// Gives `fill` outside xa[1]..xa[n] and when an end of the interval has a
// value or second derivative below t0 + 0.01. Two equal abscissae of the
// interval are reported on standard output and end the run with code 82.
// Reads only indices 1..n.
double SplineValue(const double* xa, const double* ya, int32_t& klo, int32_t& khi, const double* y2a, double x,
                   double t0, double fill, int32_t n);

// Second derivatives of one sequence of values (1..n): the runs of
// consecutive values above nd + 0.01 each get the natural spline over their
// abscissae; every other entry gets `gap`.
void RunSplineCoefficients(const double* x, const double* v, int32_t n, double nd, double gap, double* y2);

// The stations of a mesh: Station[(r - 1) * Cols + p - 1] is the station
// number at mesh row r (1 at the top) and mesh column p (1 at the left).
struct StationMesh {
    int32_t Rows = 0;  // nR
    int32_t Cols = 0;  // nC
    std::vector<int32_t> Station;
    int32_t At(int32_t r, int32_t p) const { return Station[static_cast<size_t>((r - 1) * Cols + (p - 1))]; }
};

enum class MeshStatus {
    Ok,
    Irregular,  // columns of different lengths, or no station at all
};

struct MeshResult {
    MeshStatus Status = MeshStatus::Ok;
    StationMesh Mesh;
};

// Sorts the stations of a file (rotated coordinates XRot, YRot) into
// columns: each column starts at the leftmost station still free and is
// walked down and up through windows of one mean vertical spacing Dv (t of it
// either way) and t Dh wide. Columns are ordered as they were made.
MeshResult BuildStationMesh(const meteoint::StationFile& stations, const meteoint::StationSpacing& spacing);

// The sub-grid of a mesh spans its stations at the model's cell size, so one
// station far from the others (a typing error in a coordinate) would make it
// huge. A sub-grid side may hold at most 100 times the larger side of the
// model grid in cells, and at least 10000 cells.
double LargestSubgridSide(int32_t modelRows, int32_t modelCols);

struct SubgridSize {
    double Rows = 0;  // NR = floor((ymax - ymin) / cs + 0.49999) + 1
    double Cols = 0;  // NC = floor((xmax - xmin) / cs + 0.49999) + 1
};

// The sub-grid size of a mesh: xmin = the smallest x' of mesh column 1 and
// the origin, xmax = the largest x' of column nC, ymin = the smallest y' of
// mesh row nR and the origin, ymax = the largest y' of row 1; cs the cell
// size over the refinement. Infinite or not a number when an extent is not
// finite, so that no limit holds it.
SubgridSize MeshSubgridSize(double** meshX, double** meshY, int32_t meshRows, int32_t meshCols, double originX,
                            double originY, double subgridCellSize);

// The station of `x`, `y` (1-based, unrotated) farthest outside the model
// grid's rectangle (lower-left corner, rows x cols cells of `cellSize`); the
// first of equally far ones, 0 without stations.
int32_t StationFarthestOutside(std::span<const double> x, std::span<const double> y, double xll, double yll,
                               double cellSize, int32_t rows, int32_t cols);

}  // namespace splines

// The arguments of a spline interpolator.
struct SplineSettings {
    double OriginX = 0, OriginY = 0;  // x', y' of mesh row nR, column 1
    double Dh = 0, Dv = 0;            // mean horizontal and vertical station distances [m]
    double MeshNoData = -9999;        // nd
    double CentreX = 0, CentreY = 0;  // rotation centre: the model grid's lower-left origin
    double CellSize = 1;              // of the model grid [m]
    double** MeshX = nullptr;         // [1..nR][1..nC]
    double** MeshY = nullptr;
    int32_t MeshRows = 0, MeshCols = 0;  // nR, nC
    double** CellX = nullptr;            // rotated cell coordinates [1..rows][1..cols]
    double** CellY = nullptr;
    int32_t Rows = 0, Cols = 0;  // of the model grid
    double GridNoData = -9999;   // g
    double Slope = 0;            // [rad]
    double Refinement = 1.0;
    int32_t EndExtension = 0;
    double** ZoneGrid = nullptr;  // may be null
    DiagnosticsWriter* Writer = nullptr;  // for the report of exhausted memory
    std::string ModuleName;
};

class TSplines : public memory_handling {
public:
    explicit TSplines(const SplineSettings& settings);
    ~TSplines() override;
    TSplines(const TSplines&) = delete;
    TSplines& operator=(const TSplines&) = delete;

    // Rotates (x, y) by minus `angle` [rad] around the rotation centre.
    virtual void RotatePoint(double angle, double& x, double& y);
    virtual void SplineCoefficients(double startSlope, double endSlope, const double* x, const double* y,
                                    int32_t lo, int32_t hi, double* y2);
    virtual void SplineValue(const double* xa, const double* ya, int32_t& klo, int32_t& khi, const double* y2a,
                             double x, double t0, double fill, int32_t n, double& value);
    // Second derivatives along every mesh column of `values` [1..nR][1..nC].
    virtual void PrepareColumnSplines(double** values, double** secondDerivatives);
    // Fills every cell of `target` [1..rows][1..cols].
    virtual void InterpolateMesh(double** values, double** secondDerivatives, double** target);
    virtual void ComputeSubgridBounds();
    virtual void CopyToGrid(double** target);
    virtual void MarkNeededCells();

    // Sub-grid geometry, for inspection.
    int32_t SubgridRows() const { return NR; }
    int32_t SubgridCols() const { return NC; }
    double SubgridCellSize() const { return Cs; }
    double XMin() const { return Xmin; }
    double YMin() const { return Ymin; }
    // True when no model cell lies on the sub-grid.
    bool NothingNeeded() const { return Rmin > Rmax || Cmin > Cmax; }

private:
    // The sub-grid position (u, v) of model cell (row, col); false when the
    // cell does not take part or lies outside the sub-grid.
    bool SubgridPosition(int32_t row, int32_t col, int32_t& u, int32_t& v) const;

    SplineSettings S;
    double Xmin = 0, Xmax = 0, Ymin = 0, Ymax = 0;
    double Cs = 1;
    int32_t NR = 1, NC = 1;
    int32_t Rmin = 1, Rmax = 0, Cmin = 1, Cmax = 0;
    double SinSlope = 0, CosSlope = 1;
    double RotatedOriginX = 0, RotatedOriginY = 0;
    // The needed part of the sub-grid: flags and results, rows 1..Rmax-Rmin+1
    // and columns 1..Cmax-Cmin+1 (stored with one spare row and column).
    int32_t PartRows = 0, PartCols = 0;
    std::vector<uint16_t> Flags;  // (i - 1) * PartCols + (j - 1)
    double** Result = nullptr;
    // Column pass [1..NR][1..nC]: spline value, y of the sub-grid row, x of
    // the column at that row.
    double** ColumnValue = nullptr;
    double** ColumnY = nullptr;
    double** ColumnX = nullptr;
    // Per model cell (row-major from (1, 1)) the index into Result's needed
    // part, or -1.
    std::vector<int64_t> CellSlot;
    // Work arrays over 0..max(nR, nC) + 1.
    std::vector<double> WorkX, WorkV, WorkD2;
};

// The mesh an input keeps for its splines: five matrices [1..nR][1..nC]
// (station x', y', station number, current value and its second derivative
// along the column).
class SplineMeshGrids : public memory_handling {
public:
    explicit SplineMeshGrids(const splines::StationMesh& mesh);
    ~SplineMeshGrids() override;
    SplineMeshGrids(const SplineMeshGrids&) = delete;
    SplineMeshGrids& operator=(const SplineMeshGrids&) = delete;

    int32_t Rows = 0, Cols = 0;
    double** X = nullptr;
    double** Y = nullptr;
    double** Station = nullptr;
    double** Value = nullptr;
    double** SecondDerivative = nullptr;
};
