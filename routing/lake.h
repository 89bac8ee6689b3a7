#pragma once
// Lakes on the grid: the levels of a lake's water-level/volume table, the
// volume below a level and the interpolation between level and volume. Pure
// functions; the reservoir class (lake mode) gathers the lake's cells.

#include <vector>

// Levels of the table of a lake from `top` down to `bottom` [m]: 0.01 m steps
// over the first 4 m, 0.02 m steps over the next 10 m, 0.05 m steps below,
// and the bottom as the last row. Empty when the lake is less than 0.01 m
// deep.
std::vector<double> LakeTableLevels(double top, double bottom);

// Volume below `level` [m3] of cells of area `cellArea` [m2] with the
// elevations `elevations` [m]: the sum of cellArea (level - elevation) over
// the cells below the level.
double LakeVolumeBelow(const std::vector<double>& elevations, double cellArea, double level);

// Linear interpolation in a table whose keys X fall with the row (row 0 the
// highest): rows 0 and 1 for x at or above X[1] (or a table of at most two
// rows), else rows k-1 and k for the first k >= 2 with X[k] <= x, the last
// two rows below the table; the end segments extend beyond the table.
double LakeInterpolate(const std::vector<double>& X, const std::vector<double>& Y, double x);
