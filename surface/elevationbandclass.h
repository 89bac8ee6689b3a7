#pragma once
// One elevation band of a glacier: the cells whose glacier share may change
// in the yearly update, held by their places in the grids "GlacierizedCells"
// and "GlacierCodes", which the band changes in place.

#include <cstdint>
#include <vector>

class elevationbandclass {
public:
    elevationbandclass(double lower, double upper);

    // Appends a cell (its share and code in the grids), able to change.
    void AddCell(double* fraction, double* code);
    void ClearCells();
    // lower <= elevation < upper.
    bool Contains(double elevation) const;
    // The cells that can take a change of this sign: a share below 1 for
    // growth, above 0 for shrinking; every other cell is marked as unable.
    // Nothing can take a change of 0.
    int CountChangeableCells(double change);
    // Adds `d` cells to each able cell, in at most five passes that hand on
    // what cells at 0 or 1 could not take; a cell that falls below 0 leaves
    // the glacier (share 0, code nodata). Answers the part not placed.
    double DistributeCellChange(double d);

    double lowerElevation = 0, upperElevation = 0, bandHeight = 0;  // [m]
    int64_t cellCount = 0;
    std::vector<double*> fractions;
    std::vector<double*> codes;
    std::vector<int32_t> cannotChange;

    static constexpr double LeftGlacierCode = -9999;
    static constexpr int MaximumPasses = 5;
};
