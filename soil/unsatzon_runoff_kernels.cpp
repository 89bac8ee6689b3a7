// Kernels of the runoff per subbasin: flow-time zones, single linear storages
// and the baseflow law.

#include <cmath>

#include "soil/unsatzon_runoff.h"

namespace unsatzon {

int FlowTimeZoneIndex(double seconds, double stepMinutes, double noData, bool* missing) {
    *missing = false;
    if (seconds == noData || !std::isfinite(seconds) || seconds < 0) {
        *missing = true;
        return 1;
    }
    const double zone = std::ceil(seconds / 60 / stepMinutes);
    // A travel time of 0 reaches the outlet in the step it starts.
    if (!(zone >= 1)) return 1;
    if (zone > MaxFlowTimeZones) return MaxFlowTimeZones + 1;
    return static_cast<int>(zone);
}

double StorageFactor(double stepMinutes, double recessionMinutes, bool bypassed) {
    if (bypassed) return 0.0;
    return std::exp(-stepMinutes / recessionMinutes);
}

double StorageConcentration(double inflow, double inflowConcentration, double previousOutflow,
                            double previousConcentration, double m) {
    const double k = StorageOutflow(inflow, previousOutflow, m);
    if (!(k > 0)) return 0.0;
    return (inflow * inflowConcentration * (1 - m) + previousOutflow * previousConcentration * m) / k;
}

double BaselineBaseflow(double q0, double groundwaterDistance, double kelsqlat) {
    // A kelsqlat given as 0 is stored as an infinite reciprocal: the whole Q0
    // flows while the water table is at or above its reference, none below
    // (0 times infinity would make a NaN of it).
    if (std::isinf(kelsqlat)) return groundwaterDistance < 0 ? 0.0 : q0;
    return q0 * std::exp(groundwaterDistance * kelsqlat);
}

void FlowTimeQueues::Allocate(const std::vector<int>& zones, int tracers) {
    ZoneCounts = zones;
    if (ZoneCounts.empty()) ZoneCounts.push_back(0);
    ZoneCounts[0] = 0;
    Offsets.assign(ZoneCounts.size(), 0);
    size_t next = 0;
    for (size_t s = 1; s < ZoneCounts.size(); ++s) {
        Offsets[s] = next;
        next += static_cast<size_t>(ZoneCounts[s]) + 1;
    }
    PerTracer = next;
    TracerRows = (tracers > 0 ? tracers : 0) + 1;
    Records.assign(PerTracer * static_cast<size_t>(TracerRows), FlowTimeZone{});
}

void FlowTimeQueues::Release() {
    Records.clear();
    Records.shrink_to_fit();
    Offsets.clear();
    ZoneCounts.clear();
    PerTracer = 0;
    TracerRows = 0;
}

void FlowTimeQueues::Advance() {
    for (int t = 0; t < TracerRows; ++t) {
        for (int s = 1; s <= Subbasins(); ++s) {
            FlowTimeZone* z = Zones(t, s);
            const int last = ZoneCount(s);
            for (int k = 2; k <= last; ++k) {
                z[k - 1].n = z[k].n;
                z[k - 1].sx = z[k].sx;
                z[k - 1].RelCellSum = z[k].RelCellSum;
            }
            if (last >= 1) z[last].n = z[last].sx = z[last].RelCellSum = 0;
        }
    }
}

void PrefillQueue(FlowTimeZone* zones, int zoneCount, int subSteps) {
    for (int k = zoneCount - 1; k >= 1; --k) {
        zones[k].n += zones[k + 1].n;
        zones[k].RelCellSum += zones[k + 1].RelCellSum;
    }
    const double s = subSteps > 0 ? subSteps : 1;
    for (int k = 1; k <= zoneCount; ++k) {
        zones[k].n *= s;
        zones[k].RelCellSum *= s;
    }
}

}  // namespace unsatzon
