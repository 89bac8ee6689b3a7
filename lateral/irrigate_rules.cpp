#include "lateral/irrigate_rules.h"

#include <algorithm>
#include <cmath>

#include "framework/zonetable.h"
#include "setup/irrigation_table.h"
#include "soil/unsatzon.h"

namespace irrigate {

double RefillAmount(double sb1, double sbHigh, double rootDepth, double profileDepth, double dtMinutes) {
    const double deficit = sbHigh - sb1;
    if (!(deficit > 0)) return 0.0;
    double depth = rootDepth;
    // The soil model integrates the root zone over at most the profile.
    if (profileDepth > 0 && !(depth <= profileDepth)) depth = profileDepth;
    if (!(depth > 0)) return 0.0;
    return deficit * depth * 1000.0 * dtMinutes / 1440.0;
}

double RuleAmount(const IrrigationRule& rule, const CellWater& cell, double dtMinutes, int64_t month, int64_t day,
                  double noData) {
    const double keep = std::isfinite(cell.Previous) && cell.Previous > noData ? cell.Previous : 0.0;
    const bool subDaily = dtMinutes < 1440;
    auto refill = [&] { return RefillAmount(cell.SB1, cell.SBHigh, cell.RootDepth, cell.ProfileDepth, dtMinutes); };
    // A nodata water content is no water content: the soil rules stay dry.
    const bool soilKnown = cell.SB1 > noData && cell.SBHigh > noData;
    if (!soilKnown && (rule.Method == IrrigationRule::DemandEtrEtp || rule.Method == IrrigationRule::DemandSuction))
        return 0.0;
    switch (rule.Method) {
        case IrrigationRule::DemandEtrEtp:
            if (rule.MinEtrToEtp > cell.EtrToEtp) return keep == 0 ? refill() : keep;
            return subDaily && cell.SB1 < cell.SBHigh ? keep : 0.0;
        case IrrigationRule::DemandSuction:
            if (cell.SB1 < cell.SBLow) return keep == 0 ? refill() : keep;
            return !subDaily || cell.SB1 >= cell.SBHigh ? 0.0 : keep;
        case IrrigationRule::ScheduleList:
        case IrrigationRule::ScheduleText: {
            const int events = std::min<int64_t>(
                rule.tabcnt, std::min({static_cast<int64_t>(rule.Month.size()), static_cast<int64_t>(rule.Day.size()),
                                       static_cast<int64_t>(rule.Amount.size())}) - 1);
            for (int m = 1; m <= events; ++m) {
                const size_t k = static_cast<size_t>(m);
                if (rule.Month[k] == month && rule.Day[k] == day) return rule.Amount[k] * dtMinutes / 1440.0;
            }
            return 0.0;
        }
        default:
            return keep;
    }
}

double MixedConcentration(double cInput, double p, double cWater, double a) {
    if (!(a > 0)) return p > 0 ? cInput : 0.0;
    const double q = p + a;
    return q == 0 ? 0.0 : (cInput * p + cWater * a) / q;
}

double MeanDemand(const ZoneRecord& record) { return record.RelCellSum > 0 ? record.sx / record.RelCellSum : 0.0; }

namespace {

// Lowers the routed flow of a river-flow record by `m3s` and keeps the depth
// in step with it; neither goes below 0.
void LowerRiverFlow(riverflow_table& record, double m3s, double dtMinutes) {
    if (record.description == 0) return;
    record.flowm3s -= m3s;
    if (record.area > 0) record.flow_mm[0] = record.flowm3s / record.area * dtMinutes * 0.06;
    if (record.flowm3s < 0 || record.flow_mm[0] < 0) {
        record.flowm3s = 0;
        record.flow_mm[0] = 0;
    }
}

}  // namespace

Limitation LimitSurfaceWater(const ExchangeView& t) {
    const int n = t.Count;
    Limitation result;
    result.Factor.assign(static_cast<size_t>(std::max(n, 0)) + 1, 1.0);
    result.Reservoir.assign(static_cast<size_t>(std::max(n, 0)) + 1, 0.0);
    if (n < 1 || !t.Demand || !t.MaxIrrig || !t.FromReservoirs) return result;
    const double dt = t.TimeStep;
    const double totalArea = t.Demand[0].rel;  // [km2]
    std::vector<double> mean(static_cast<size_t>(n) + 1, 0.0), J(static_cast<size_t>(n) + 1, 0.0);
    std::vector<double>& o = result.Reservoir;
    double* available = t.MaxIrrig[0];
    for (int k = 1; k <= n; ++k) {
        const size_t i = static_cast<size_t>(k);
        mean[i] = std::max(0.0, MeanDemand(t.Demand[k]));
        J[i] = t.FromReservoirs[0][k];
        o[i] = J[i] > 0 ? std::min(mean[i], J[i]) : 0.0;
    }
    // River water, subbasin by subbasin: taken at the subbasin itself and
    // missing in every subbasin below it.
    const double toM3s = dt > 0 ? 1.0 / (dt * 0.06) : 0.0;
    for (int v = 1; v <= n; ++v) {
        const size_t i = static_cast<size_t>(v);
        const double demand = mean[i] - o[i];
        const double D = std::max(0.0, std::min(available[v], demand));
        const double area = totalArea * t.Demand[v].rel;
        if (t.Rivers) LowerRiverFlow(t.Rivers[v], D * area * toM3s, dt);
        const double afv = t.Demand[v].rel;
        int steps = 0;
        for (int w = t.Targets ? t.Targets[1][v] : 0; w > 0 && w <= n && steps < n; w = t.Targets[1][w], ++steps) {
            const double afw = t.Demand[w].rel;
            if (afw > 0) available[w] = std::max(0.0, available[w] - afv * D / afw);
            if (t.Rivers) LowerRiverFlow(t.Rivers[w], demand * area * toM3s, dt);
        }
    }
    // Supplied fractions of the river demands.
    for (int k = 1; k <= n; ++k) {
        const size_t i = static_cast<size_t>(k);
        const double diff = mean[i] - o[i];
        if (t.Demand[k].sx > 0 && diff > 1e-8) {
            available[k] /= diff;
            if (available[k] >= 1) {
                available[k] = 1;
            } else {
                result.Short = true;
            }
        } else {
            available[k] = 1;
        }
        if (mean[i] > J[i]) result.Short = true;
    }
    // A subbasin receives its reservoir share and the supplied part of its
    // river demand: exactly what the routing takes out of the reservoir and
    // the river for it.
    for (int k = 1; k <= n; ++k) {
        const size_t i = static_cast<size_t>(k);
        if (mean[i] > 0) {
            const double W = std::clamp(available[k], 0.0, 1.0);
            result.Factor[i] = std::min(1.0, (o[i] + W * (mean[i] - o[i])) / mean[i]);
        }
        t.FromReservoirs[0][k] = o[i];
    }
    return result;
}

}  // namespace irrigate
