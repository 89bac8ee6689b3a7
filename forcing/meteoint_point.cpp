// The value of a meteorological input at an arbitrary point, and the
// scenario change of a cell.

#include <cmath>

#include "forcing/meteoint.h"

double meteointerpol::ScenarioValue(int row, int column, double x, double y) {
    return ScenarioChange(row, column, x, y);
}

double meteointerpol::ScenarioChange(int row, int column, double x, double y) const {
    if (SzenMeth == 5 || SzenMeth == 6) {
        if (!ScenarioGrid || row < 1 || row > NRows || column < 1 || column > NCols) {
            return meteoint::NeutralScenarioChange(SzenMeth);
        }
        return ScenarioGrid[row][column];
    }
    // Without a row near enough the value stays as it is (a factor of 0
    // would wipe it out).
    const int64_t nearest = meteoint::NearestScenarioRow(ScenarioTable, x, y);
    if (nearest < 0) return meteoint::NeutralScenarioChange(SzenMeth);
    return ScenarioTable[static_cast<size_t>(nearest)].Today;
}

double meteointerpol::InterpolatePoint(double* /*work*/, double x, double y, double z) {
    if (SzenUse == 1 && SzenMeth != 5 && SzenMeth != 6) {
        for (meteoint::ScenarioRow& row : ScenarioTable) {
            row.Today = meteoint::ScenarioDayChange(row.Month, CurrentDay, CurrentMonth);
        }
    }

    meteoint::PointQuery point;
    point.X = x;
    point.Y = y;
    point.Z = z;
    point.QX = x;
    point.QY = y;
    if (Method.Idw.Ratio < 1 && x != NoData && y != NoData) {
        const meteoint::RotatedPoint rotated = meteoint::RotatePoint(x, y, XllCorner, YllCorner, AnisotropySlope);
        point.QX = rotated.X;
        point.QY = rotated.Y;
    }

    // The point's cell from the unrotated point, kept within the grid.
    double r = NRows - std::trunc((y - YllCorner) / CellSize);
    if (!(r > 0)) r = 1;
    if (r > NRows) r = NRows;
    double c = std::trunc((x - XllCorner) / CellSize) + 1;
    if (!(c > 0)) c = 1;
    if (c > NCols) c = NCols;
    const int row = static_cast<int>(r);
    const int column = static_cast<int>(c);
    point.CellX = CoordX[row][column];
    point.CellY = CoordY[row][column];
    point.CellElevation = ElevationGrid[row][column];
    for (size_t f = 0; f < LookUp.size() && f < 2; ++f) point.Corners[f] = LookUp[f].At(row, column);
    if (InterpolationMethod == 9) {
        double** grid = CurrentListedGrid();
        point.Grid = grid ? grid[row][column] : NoData;
    }

    const double v = meteoint::InterpolatePointValue(Method, point);
    if (v < -NoDataBound) return v;
    return PostProcess(v, row, column, x, y);
}
