#pragma once
// Runoff per subbasin: the flow-time zones through which the cells' direct
// runoff and interflow travel to the subbasin outlet, the single linear
// storage behind them, and the initial baseflow law.
//
// A flow-time queue holds per subbasin the zones 1..Z (index 0 belongs to no
// zone); zone k holds what reaches the outlet k - 1 steps later. A sub-step
// adds weighted runoff to the zone of each cell, the outlet value of a step is
// sx / RelCellSum of zone 1, and the queue moves one zone towards the outlet
// at the start of every step.

#include <cstddef>
#include <vector>

namespace unsatzon {

// One zone of a flow-time queue (the field order is that of the storage
// content file).
struct FlowTimeZone {
    double n = 0;          // count of what was added (cells or cell fractions)
    double sx = 0;         // weighted runoff (water) or load (tracers) in the zone
    double zonenwert = 0;  // the zone number
    double rel = 0;        // share of the subbasin's cell weight in this zone
    double RelCellSum = 0; // weights belonging to sx
};

// Zone of a travel time t [s] at a step of dt [min]: max(1, ceil(t / 60 / dt)).
// A negative, non-finite or nodata travel time gives zone 1 and sets
// `missing`. Zones beyond MaxFlowTimeZones give MaxFlowTimeZones + 1.
constexpr int MaxFlowTimeZones = 100000;
int FlowTimeZoneIndex(double seconds, double stepMinutes, double noData, bool* missing);

// What leaves zone 1 in a step: sx / RelCellSum, 0 without weight.
inline double OutletValue(const FlowTimeZone& outlet) {
    return outlet.RelCellSum != 0 ? outlet.sx / outlet.RelCellSum : 0.0;
}

// Recession factor of a single linear storage over one step:
//   m = exp(-dt / k)   (dt, k [min]); 0 when the storage is bypassed.
double StorageFactor(double stepMinutes, double recessionMinutes, bool bypassed);

// Outflow of a single linear storage with inflow q and previous outflow o
// [mm per step]:  K = q (1 - m) + m o.
inline double StorageOutflow(double inflow, double previousOutflow, double m) {
    return inflow * (1 - m) + m * previousOutflow;
}

// Water held by a single linear storage whose outflow is o [mm per step]:
//   S = o m / (1 - m); 0 for m = 0.
inline double StorageContent(double outflow, double m) { return m > 0 ? outflow * m / (1 - m) : 0.0; }

// Concentration of a storage's outflow after mixing its old water (outflow o,
// concentration co) with the inflow (q, cq); 0 when the new outflow K is not
// positive.
double StorageConcentration(double inflow, double inflowConcentration, double previousOutflow,
                            double previousConcentration, double m);

// Baseflow of a cell without a groundwater model [mm per step]:
//   Q0 exp(d kelsqlat), d the groundwater distance [m] (0 or negative),
//   kelsqlat the inverse recession constant [1/m].
double BaselineBaseflow(double q0, double groundwaterDistance, double kelsqlat);

// The flow-time queues of one runoff component: per tracer 0..T and subbasin
// 1..n the zones 0..maxzeit[s], in one block.
class FlowTimeQueues {
public:
    // `zones` per subbasin rank 0..n (rank 0 unused); every record zeroed.
    void Allocate(const std::vector<int>& zones, int tracers);
    void Release();
    bool Allocated() const { return !Records.empty(); }
    // Zones 0..ZoneCount(s) of subbasin s for tracer t.
    FlowTimeZone* Zones(int tracer, int subbasin) {
        return Records.data() + static_cast<size_t>(tracer) * PerTracer + Offsets[static_cast<size_t>(subbasin)];
    }
    const FlowTimeZone* Zones(int tracer, int subbasin) const {
        return Records.data() + static_cast<size_t>(tracer) * PerTracer + Offsets[static_cast<size_t>(subbasin)];
    }
    int ZoneCount(int subbasin) const { return ZoneCounts[static_cast<size_t>(subbasin)]; }
    int Subbasins() const { return static_cast<int>(ZoneCounts.size()) - 1; }
    int Tracers() const { return TracerRows - 1; }
    // Moves every queue one zone towards the outlet: n, sx and RelCellSum of
    // zone k go to zone k - 1, the last zone is cleared (zonenwert and rel
    // stay). With one zone this clears zone 1.
    void Advance();

private:
    std::vector<FlowTimeZone> Records;
    std::vector<size_t> Offsets;  // per subbasin, within one tracer's block
    std::vector<int> ZoneCounts;  // per subbasin
    size_t PerTracer = 0;
    int TracerRows = 0;
};

// The sums one grid row adds to the zone of a subbasin in a sub-step, folded
// into the queues in row order after the pass over the rows.
struct RunoffPartial {
    int Subbasin = 0;
    int Zone = 0;
    double DirectN = 0, DirectSx = 0, DirectWeight = 0;
    double InterN = 0, InterSx = 0, InterWeight = 0;
    double BaseSum = 0, BaseWeight = 0;  // baseflow of the subbasin: area x weight x value, area x weight
    // Per solute 1..9: loads (or concentration x flow) and their flow weights.
    struct Solute {
        double DirectN = 0, DirectSx = 0, DirectWeight = 0;
        double InterN = 0, InterSx = 0, InterWeight = 0;
        double BaseSx = 0, BaseWeight = 0;
    };
    Solute Solutes[10];
};

// Prefill of a cold start, water only: after it each zone carries the weight
// of all cells at or beyond it, counted `subSteps` times as the sub-steps of a
// step count the cells that add to a zone:
//   n(k) = S sum_{j>=k} n(j),  RelCellSum(k) = S sum_{j>=k} RelCellSum(j).
void PrefillQueue(FlowTimeZone* zones, int zoneCount, int subSteps);

}  // namespace unsatzon
