#include "forcing/meteoint_postprocess.h"

namespace meteoint {

namespace {
constexpr int DaysOfMonth[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int64_t MonthInRange(int64_t month) { return ((month - 1) % 12 + 12) % 12 + 1; }
}  // namespace

double ScaleAndLimit(double value, double scale, double lower, double lowerReplacement, double upper,
                     double upperReplacement) {
    value *= scale;
    if (value < lower) return lowerReplacement;
    if (value > upper) return upperReplacement;
    return value;
}

double ScenarioDayChange(const double* monthChanges, int64_t day, int64_t month) {
    const int64_t m = MonthInRange(month);
    const int64_t previous = m == 1 ? 12 : m - 1;
    const int64_t next = m == 12 ? 1 : m + 1;
    const double d = static_cast<double>(day);
    if (day <= 15) {
        const double length = DaysOfMonth[previous];
        return monthChanges[m] * (length - 16 + d) / length + monthChanges[previous] * (16 - d) / length;
    }
    const double length = DaysOfMonth[m];
    return monthChanges[next] * (d - 15) / length + monthChanges[m] * (length - d + 15) / length;
}

int64_t NearestScenarioRow(std::span<const ScenarioRow> rows, double x, double y) {
    double best = ScenarioSearchLimit;
    int64_t nearest = -1;
    for (size_t i = 0; i < rows.size(); ++i) {
        const double dx = x - rows[i].X;
        const double dy = y - rows[i].Y;
        const double d2 = dx * dx + dy * dy;
        if (d2 <= best) {
            best = d2;
            nearest = static_cast<int64_t>(i);
        }
    }
    return nearest;
}

}  // namespace meteoint
