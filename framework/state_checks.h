#pragma once
// Checks of the values a warm start reads: every value finite and within what
// it can physically be. A grid or stack value out of range is FATAL with code
// 22, a value of a state file (the storage content file, surface routing's
// state file) with code 71; the message names the file, the cell or the
// value's label, and the value.

#include <functional>
#include <string>

#include "framework/modelobject.h"

class DiagnosticsWriter;

namespace statecheck {

// Bounds wide enough for any real basin, narrow enough to stop a value that
// would overflow or make water.
inline constexpr double MaxWaterMm = 1.0e7;          // storages, depths [mm]
inline constexpr double MaxHeadM = 1.0e5;            // heads and levels [m]
inline constexpr double MinTemperatureC = -100.0;    // soil and pack temperatures [degC]
inline constexpr double MaxTemperatureC = 100.0;
inline constexpr double MaxConcentration = 1.0e12;   // tracer contents and concentrations
inline constexpr double MaxDischarge = 1.0e6;        // flows [m3/s]
inline constexpr double MaxKineticEnergy = 1.0e6;    // rain's kinetic energy [J/m2]
// Any finite value.
inline constexpr double MaxHuge = 1.0e300;
// Theta may lie a hair above saturation where the model's own arithmetic
// rounds; a tenth of a percent of volume is far below any real excess.
inline constexpr double ThetaTolerance = 1.0e-3;

struct Range {
    double Low, High;
};

// The value of cell (i, j) (and level l of a stack, 0 for a grid) may lie in
// the range this returns.
using CellRange = std::function<Range(long i, long j, int l)>;

// Every cell of `grid` that does not hold the reader's nodata value is finite
// and within `range`; else FATAL (code 22) naming `file`, the cell and the
// value. `what` says what the grid holds.
void CheckGrid(const modelobject& reader, const std::string& file, double** grid, const std::string& what,
               Range range);
// The same for the levels `firstLevel` to `lastLevel` of a stack, with a
// range that may differ from cell to cell and level to level.
void CheckStack(const modelobject& reader, const std::string& file, GridStack stack, int firstLevel, int lastLevel,
                const std::string& what, const CellRange& range);

// One value of a state file: finite and within `range`, else FATAL "error in
// storage file content reading" naming `file`, `what` and the value, thrown
// with `code`.
void CheckValue(DiagnosticsWriter* writer, const std::string& file, const std::string& what, double value,
                Range range, int code = 71);

// The path a reader opens for `fileName` (the initial-state directory in
// front of a relative name).
std::string InputPath(const modelobject& reader, const std::string& fileName);

}  // namespace statecheck
