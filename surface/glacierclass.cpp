// Glacier records and their elevation bands: the volume-area law on the
// record, the bands over the elevation range and the distribution of an area
// change over the bands' cells.

#include "surface/glacierclass.h"

#include <cmath>
#include <iostream>

#include "surface/glacier_geometry_physics.h"

elevationbandclass::elevationbandclass(double lower, double upper)
    : lowerElevation(lower), upperElevation(upper), bandHeight(upper - lower) {}

void elevationbandclass::AddCell(double* fraction, double* code) {
    fractions.push_back(fraction);
    codes.push_back(code);
    cannotChange.push_back(0);
    ++cellCount;
}

void elevationbandclass::ClearCells() {
    fractions.clear();
    codes.clear();
    cannotChange.clear();
    cellCount = 0;
}

bool elevationbandclass::Contains(double elevation) const {
    return lowerElevation <= elevation && elevation < upperElevation;
}

int elevationbandclass::CountChangeableCells(double change) {
    int count = 0;
    for (size_t i = 0; i < fractions.size(); ++i) {
        const double f = *fractions[i];
        const bool able = change > 0 ? f < 1 : (change < 0 ? f > 0 : false);
        if (able)
            ++count;
        else
            cannotChange[i] = 1;
    }
    return count;
}

double elevationbandclass::DistributeCellChange(double d) {
    int k = 0;
    for (int32_t flag : cannotChange)
        if (flag == 0) ++k;
    double x = d * k;  // the band's share of the change
    for (int pass = 1;; ++pass) {
        const double b = k >= 1 ? x / k : 0.0;
        double a = x;
        k = 0;
        for (size_t i = 0; i < fractions.size(); ++i) {
            if (cannotChange[i] != 0 || *codes[i] < 0) continue;
            double& f = *fractions[i];
            const double v = f + b;
            if (v < 0) {
                // The cell gives its whole share and leaves the glacier.
                a += f;
                f = 0;
                *codes[i] = LeftGlacierCode;
            } else if (v > 1) {
                a -= 1 - f;
                f = 1;
            } else {
                a -= v - f;
                f = v;
                ++k;
            }
        }
        const bool again = std::fabs(a) > glaciergeom::ChangeTolerance && std::fabs(x - a) > glaciergeom::ChangeTolerance;
        if (pass == MaximumPasses) {
            std::cerr << "error: could not remove or add the required number of cells for the glacier\n";
            return a;
        }
        if (!again) return a;
        x = a;
    }
}

glacierclass::glacierclass(int code_, double cellSize_, double area_, double volume_, double scaling_,
                           double exponent_, int bandCount_, int extraWeight, int subbasin_) {
    SetDefaults();
    code = code_;
    cellSize = cellSize_;
    area = oldArea = area_;
    volume = oldVolume = volume_;
    scaling = scaling_;
    exponent = exponent_;
    bandCount = bandCount_;
    extraWeightFactorBand0 = extraWeight;
    subbasin = subbasin_;
}

void glacierclass::SetDefaults() {
    code = 0;
    cellSize = 100;
    cells = 0;
    area = volume = oldArea = oldVolume = 0;
    scaling = 28.5;
    exponent = 1.36;
    UnsetRange();
    bandCount = 1;
    cellsToChange = changeAccumulator = 0;
    changeableCells = 0;
    extraWeightFactorBand0 = 0;
    subbasin = 0;
    lostMass = oldFractionSum = newFractionSum = meanMassBalance = 0;
    bands.clear();
}

void glacierclass::AddCell(bool widen, double elevation, double fraction) {
    if (cells == 0) {
        minElevation = maxElevation = elevation;
    } else if (widen) {
        if (elevation < minElevation) minElevation = elevation;
        if (elevation > maxElevation) maxElevation = elevation;
    }
    ++cells;
    area += fraction * cellSize * cellSize / 1e6;
}

void glacierclass::VolumeFromArea() {
    area = glaciergeom::FlooredArea(area);
    volume = glaciergeom::VolumeFromArea(area, scaling, exponent);
}

void glacierclass::AreaFromVolume() {
    volume = glaciergeom::FlooredVolume(volume);
    area = glaciergeom::AreaFromVolume(volume, scaling, exponent);
}

void glacierclass::OldAreaFromOldVolume() {
    oldVolume = glaciergeom::FlooredVolume(oldVolume);
    oldArea = glaciergeom::AreaFromVolume(oldVolume, scaling, exponent);
}

void glacierclass::ComputeCellsToChange() {
    cellsToChange = glaciergeom::CellsToChange(area, oldArea, cellSize);
    changeAccumulator = 0;
}

void glacierclass::CreateBands() {
    bands.clear();
    changeableCells = 0;
    const double height = (maxElevation - minElevation) / bandCount;
    for (int k = 0; k < bandCount; ++k)
        bands.push_back(std::make_unique<elevationbandclass>(minElevation + k * height, minElevation + (k + 1) * height));
}

void glacierclass::AssignCellToBand(double* fraction, double* code_, double elevation) {
    const size_t n = bands.size();
    for (size_t k = 0; k < n; ++k) {
        if (bands[k]->Contains(elevation) || (elevation >= maxElevation && k + 1 == n) ||
            (elevation <= minElevation && k == 0)) {
            bands[k]->AddCell(fraction, code_);
            ++changeableCells;
            return;
        }
    }
}

void glacierclass::ClearBands() {
    for (auto& band : bands) band->ClearCells();
    changeableCells = 0;
}

void glacierclass::DeleteBands() { bands.clear(); }

int glacierclass::CountChangeableCells(double change) {
    int count = 0;
    for (auto& band : bands) count += band->CountChangeableCells(change);
    return count;
}

double glacierclass::CellsPerIteration() { return CellsPerIterationFor(cellsToChange); }

double glacierclass::CellsPerIterationFor(double w) {
    std::vector<int> changeable;
    changeable.reserve(bands.size());
    for (auto& band : bands) changeable.push_back(band->CountChangeableCells(w));
    return glaciergeom::CellsPerIteration(w, changeable, extraWeightFactorBand0);
}

double glacierclass::ApplyCellChange(int lastBand, double d) {
    changeAccumulator = 0;
    for (int k = 0; k <= lastBand && k < static_cast<int>(bands.size()); ++k) {
        elevationbandclass& band = *bands[static_cast<size_t>(k)];
        changeAccumulator += band.DistributeCellChange(d);
        if (k == 0)
            for (int e = 0; e < extraWeightFactorBand0; ++e) changeAccumulator += band.DistributeCellChange(d);
    }
    return changeAccumulator;
}
