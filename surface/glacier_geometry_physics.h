#pragma once
// Glacier geometry on plain values: the volume-area law, the volume change
// from the mass balance, the cells an area change amounts to, the change per
// cell of one distribution over the elevation bands, and the yearly move of
// the firn levels. Areas in km2, volumes in m x km2 (metres of ice over
// km2), mass balances in mm of water, cell sizes in m.

#include <vector>

namespace glaciergeom {

// The smallest area and volume a glacier record keeps; they match through
// the law with its usual parameters (28.5 x 0.01^1.36 = 0.0543).
constexpr double MinimumArea = 0.01;
constexpr double MinimumVolume = 0.0543;
// Ice density over water density.
constexpr double IceDensityRatio = 0.85;
// A change below this many cells counts as placed.
constexpr double ChangeTolerance = 1e-5;

// V = scaling A^exponent, the area raised to `MinimumArea` first.
double VolumeFromArea(double area, double scaling, double exponent);

// A = (V / scaling)^(1 / exponent), the volume raised to `MinimumVolume` first.
double AreaFromVolume(double volume, double scaling, double exponent);

// The area of a volume the law gives; the volume is raised to the floor.
inline double FlooredVolume(double volume) { return volume <= MinimumVolume ? MinimumVolume : volume; }
inline double FlooredArea(double area) { return area <= MinimumArea ? MinimumArea : area; }

// Ice volume [m km2] of a mass-balance change `balanceChange` [mm water] on
// the glacier share `fraction` of a cell of side `cellSize` [m]:
// dV = dB / ratio x g / 1000 x cellSize^2 / 1e6.
double VolumeChange(double balanceChange, double fraction, double cellSize, double iceDensityRatio);

// Cells to add (positive) or remove (negative) for the area going from
// `oldArea` to `area`: (A - A_old) 1e6 / cellSize^2.
double CellsToChange(double area, double oldArea, double cellSize);

// Change per cell and visit of one distribution: the change `w` over the
// visits, band k (0 lowest of n) visited n - k times, band 0 another
// `extraWeight` x n times: d = w / (sum_k c_k (n - k) + extraWeight c_0 n)
// with c_k the changeable cells of band k. 0 when no cell can change.
double CellsPerIteration(double w, const std::vector<int>& changeable, int extraWeight);

// Firn levels 0..levels of one cell (level 0 the total): every level moves
// one down, the deepest is dropped, `newFirn` becomes level 1, and level 0
// the sum of levels 1..levels. A level holding `noData` counts as empty.
void ShiftFirnLevels(double* firn, int levels, double newFirn, double noData);

// Firn levels 0..levels of a cell that joins a glacier beside a cell with
// the firn total `neighbourTotal`: each of levels 1..levels gets an equal
// share, level 0 their sum (the neighbour's total).
void ShareFirnLevels(double* firn, int levels, double neighbourTotal);

}  // namespace glaciergeom
