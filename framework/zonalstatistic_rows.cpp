#include "framework/zonalstatistic_rows.h"

#include <cstddef>

void ZoneRowSums::Resize(int rows, int zones) {
    Rows.assign(static_cast<size_t>(rows < 0 ? 0 : rows) + 1, RowSums{});
    Mark = 1;
    Zones = zones;
}

int ZoneRowSums::FirstFailure(int* zone, bool* outOfMemory) const {
    for (size_t row = 0; row < Rows.size(); ++row) {
        const RowSums& sums = Rows[row];
        if (sums.Mark != Mark || sums.Failure == None) continue;
        if (zone) *zone = sums.BadZoneIndex;
        if (outOfMemory) *outOfMemory = sums.Failure == NoMemory;
        return static_cast<int>(row);
    }
    return -1;
}
