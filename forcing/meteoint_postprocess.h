#pragma once
// What a meteorological input does to a value after the interpolation: the
// scaling, the limits with their replacements and the change of a climate
// scenario, and the scenario table's change of the current day. Pure
// functions on plain values.

#include <cstdint>
#include <span>

namespace meteoint {

// value * scale; then below `lower` it becomes `lowerReplacement`, otherwise
// above `upper` it becomes `upperReplacement`.
double ScaleAndLimit(double value, double scale, double lower, double lowerReplacement, double upper,
                     double upperReplacement);

// SzenMeth 1 and 6 add their change; every other scenario method multiplies.
inline bool ScenarioIsAdditive(int32_t szenMeth) { return szenMeth == 1 || szenMeth == 6; }
inline double ApplyScenario(double value, double change, int32_t szenMeth) {
    return ScenarioIsAdditive(szenMeth) ? value + change : value * change;
}
// The change that leaves a value as it is: 0 when added, 1 when multiplied.
inline double NeutralScenarioChange(int32_t szenMeth) { return ScenarioIsAdditive(szenMeth) ? 0.0 : 1.0; }

// One row of a scenario table: its point and the change of every month
// (Month[1] January to Month[12] December), and the change of the current
// day, recomputed every step.
struct ScenarioRow {
    double X = 0, Y = 0;  // [m]
    double Month[13] = {};
    double Today = 0;
};

// The change of day `day` of month `month` (1 to 12), interpolated linearly
// between the month centres with the fixed month lengths 31, 28, 31, ... (no
// leap years), D(m) the length of month m and c(m) its change:
//   day <= 15: c(m) (D(m-1) - 16 + day) / D(m-1) + c(m-1) (16 - day) / D(m-1)
//   day > 15:  c(m+1) (day - 15) / D(m) + c(m) (D(m) - day + 15) / D(m)
// with December before January and January after December. A month outside
// 1 to 12 counts modulo 12.
double ScenarioDayChange(const double* monthChanges, int64_t day, int64_t month);

// Squared distances beyond this never select a scenario row [m2].
inline constexpr double ScenarioSearchLimit = 1e15;

// Index of the row nearest to (x, y) with a squared distance of at most
// ScenarioSearchLimit (a later row wins a tie), or -1.
int64_t NearestScenarioRow(std::span<const ScenarioRow> rows, double x, double y);

}  // namespace meteoint
