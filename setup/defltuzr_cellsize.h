#pragma once
// Cell geometry of the set-up: the width, height and relative area of every
// cell ("CellSizeX", "CellSizeY", "RelCellArea"), derived from the ones the
// user gave, and the coordinates of every cell's lower-left corner ("CoordX",
// "CoordY"). The kernels work on plain 1-based matrices; looking grids up,
// storing them and writing their files is the caller's business.

#include <cstdint>
#include <string>

class DiagnosticsWriter;
struct RowExtent;

// The three cell-geometry grids, each a 1-based matrix [1..rows][1..cols]. A
// grid the user gave is `Given`; a grid made by the caller only has to be
// allocated (its values are never read before they are set). The file names
// appear in the messages only.
struct CellSizeGrids {
    double** CellSizeX = nullptr;
    double** CellSizeY = nullptr;
    double** RelCellArea = nullptr;
    bool GivenX = false;
    bool GivenY = false;
    bool GivenRelCellArea = false;
    std::string FileX;
    std::string FileY;
    std::string FileRelCellArea;
};

// Largest difference accepted between a given relative cell area and the one
// that follows from given cell sizes.
inline constexpr double RelCellAreaTolerance = 0.00001;

// The raster's cell size must be a positive, finite number before anything
// is divided by it: otherwise a FATAL entry and code 22.
void RequirePositiveCellSize(double cellSize, DiagnosticsWriter* writer);

// Makes the three grids complete and consistent over all rows and columns.
// Cells where the zone grid holds `nodata` become nodata in all three (given
// grids included). In a valid cell, with cs the raster's cell size:
//   X and Y given:  R := X*Y/cs^2, or checked against a given R (tolerance
//                   above);
//   one size and R: the other size := R*cs^2/(given size);
//   one size only:  the other size := cs, R := X*Y/cs^2;
//   R only:         X = Y := sqrt(cs^2*R);
//   nothing:        X = Y := cs, R := 1.
// A given size that is not positive, a given R that is not positive where a
// size is derived from it, or a mismatch of all three ends the run with a
// FATAL entry and code 66 at the first such cell in row and column order.
void CheckCellSizes(double** zoneGrid, int32_t rows, int32_t cols, double cellSize, double nodata,
                    const CellSizeGrids& grids, DiagnosticsWriter* writer);

// Fills CoordX and CoordY [1..rows][1..cols] with the x and y of every cell's
// lower-left corner; rows count from the top, so the last row lies on the y
// corner. Without cell-size grids (either null) the raster is regular. With
// them, widths and heights are summed: a cell's width is its CellSizeX when
// that is above nodata, else cs (its height likewise). CoordX of a row starts
// at the x corner; in the last row the sum starts at its first valid column
// (`rowExtents`, 1-based per row). CoordY of a row is the CoordY of the cell
// below plus that cell's height. Cells where the zone grid holds nodata get
// nodata in both grids.
void MakeCoordinateGrids(double** zoneGrid, int32_t rows, int32_t cols, double xllCorner, double yllCorner,
                         double cellSize, double nodata, const RowExtent* rowExtents, double** cellSizeX,
                         double** cellSizeY, double** coordX, double** coordY);
