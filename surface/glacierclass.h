#pragma once
// One glacier of the grid "GlacierCodes": its area and volume, linked by the
// volume-area law, their values after the last yearly update, and its cells
// split into elevation bands for that update (band 0 lowest).

#include <cstdint>
#include <memory>
#include <vector>

#include "surface/elevationbandclass.h"

class glacierclass {
public:
    glacierclass() { SetDefaults(); }
    // Area [km2] and volume [m km2] are also the old values; no bands yet.
    glacierclass(int code, double cellSize, double area, double volume, double scaling, double exponent,
                 int bandCount, int extraWeightFactorBand0, int subbasin);

    void SetDefaults();
    // Counts a cell of elevation `elevation` [m] and glacier share `fraction`.
    // The first cell sets the elevation range; later ones widen it only
    // when `widen` is set.
    void AddCell(bool widen, double elevation, double fraction);
    void AddOldVolume(double value) { oldVolume += value; }
    void AddVolume(double value) { volume += value; }

    double GetArea() const { return area; }
    double GetVolume() const { return volume; }
    double GetOldArea() const { return oldArea; }
    double GetOldVolume() const { return oldVolume; }
    double GetCellsToChange() const { return cellsToChange; }
    int GetExtraWeightFactorBand0() const { return extraWeightFactorBand0; }
    void SetArea(double value) { area = value; }
    void SetVolume(double value) { volume = value; }
    void SetOldArea(double value) { oldArea = value; }
    void SetOldVolume(double value) { oldVolume = value; }
    void SetExtraWeightFactorBand0(int value) { extraWeightFactorBand0 = value; }

    // The law both ways, with the floors 0.01 km2 and 0.0543 applied to the
    // value they start from.
    void VolumeFromArea();
    void AreaFromVolume();
    void OldAreaFromOldVolume();
    // Cells to change from the area change since the last update.
    void ComputeCellsToChange();
    // New empty bands over the elevation range.
    void CreateBands();
    // Puts a cell into the band of its elevation (the range's ends fall into
    // the first and last band).
    void AssignCellToBand(double* fraction, double* code, double elevation);
    void ClearBands();
    void DeleteBands();
    int CountChangeableCells(double change);
    // The change per cell and visit for the stored cells to change, or for
    // `w`; both mark the cells that cannot take a change of that sign.
    double CellsPerIteration();
    double CellsPerIterationFor(double w);
    // One sweep over bands 0 to `lastBand` with the change `d` per cell,
    // band 0 taken extraWeightFactorBand0 more times; answers the change
    // not placed.
    double ApplyCellChange(int lastBand, double d);
    bool RangeUnset() const { return minElevation == UnsetMinimum; }
    void UnsetRange() {
        minElevation = UnsetMinimum;
        maxElevation = UnsetMaximum;
    }

    static constexpr double UnsetMinimum = 10000, UnsetMaximum = -10000;

    int code = 0;
    double cellSize = 100;  // [m]
    int64_t cells = 0;
    double area = 0;    // [km2]
    double volume = 0;  // [m km2]
    double oldArea = 0, oldVolume = 0;
    double scaling = 28.5, exponent = 1.36;
    double minElevation = UnsetMinimum, maxElevation = UnsetMaximum;
    int bandCount = 1;
    double cellsToChange = 0;
    double changeAccumulator = 0;
    int changeableCells = 0;
    int extraWeightFactorBand0 = 0;
    int subbasin = 0;
    // Working sums of the spreading of the mass balance of lost area.
    double lostMass = 0, oldFractionSum = 0, newFractionSum = 0, meanMassBalance = 0;
    std::vector<std::unique_ptr<elevationbandclass>> bands;
};
