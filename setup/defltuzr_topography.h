#pragma once
// Slope angle and slope aspect of every cell, derived from the elevation
// model. The kernels work on plain 1-based matrices; the caller looks the
// grids up, stores the derived ones and writes their files.

#include <cstdint>

class DiagnosticsWriter;

// The factor from radians to degrees used for slope and aspect (close to, but
// not exactly, 180 / pi).
inline constexpr double SlopeDegreesPerRadian = 57.29577951307855;

// Slope angle [deg] of a surface with gradients dx = dz/dx and dy = dz/dy
// (dy positive when the surface rises towards the row above):
//   0 when dx = dy = 0, else atan(sqrt(dx^2 + dy^2)).
double SlopeAngleDegrees(double dx, double dy);

// Aspect [deg, 0 to 360] of the same surface, the direction it faces with the
// row above as north: 180 - atan(dy/dx) + 90*sign(dx) when dx != 0, else 180
// when dy > 0 and 0 otherwise. Rising towards larger columns gives 270,
// towards smaller columns 90, towards the row above 180, towards the row
// below 0.
double SlopeAspectDegrees(double dx, double dy);

// Replaces grid[row][col] by the mean of its valid neighbours inside the grid
// (values above nodata), taken in the order (row-1,col+1), (row,col+1),
// (row+1,col+1), (row+1,col), (row+1,col-1), (row,col-1), (row-1,col-1),
// (row-1,col); keeps the value when no neighbour is valid.
void FillFromNeighbours(int32_t row, int32_t col, double** grid, int32_t rows, int32_t cols, double nodata);

// Derives the slope angle and the slope aspect [deg] from the elevation
// [1..rows][1..cols] with the raster's cell size. A null target is a grid the
// user gave: it is neither computed nor touched; with both null nothing is
// done. An elevation at or below nodata counts as missing. A cell is computed
// when its four direct neighbours hold elevations; the outer rows and columns
// and the other cells get nodata first, and then every cell with an elevation
// still holding nodata is filled from its neighbours in two passes, in place
// (aspect before angle in each cell).
void make_Slope_and_Aspect(double** elevation, int32_t rows, int32_t cols, double cellSize, double nodata,
                           double** slopeAngle, double** slopeAspect, DiagnosticsWriter* writer);
