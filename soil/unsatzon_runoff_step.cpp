// The sums of a sub-step after the cell loop: the cells' direct runoff and
// interflow into the flow-time zones of their subbasins, the subbasin
// baseflow and the zonal statistics, gathered per grid row in one pass and
// folded in row order, so that every sum is the same on any number of threads.

#include <algorithm>

#include "framework/invariant.h"
#include "framework/parallel_rows.h"
#include "setup/irrigation_table.h"
#include "soil/unsatzon.h"

namespace {

unsatzon::RunoffPartial& PartialOf(std::vector<unsatzon::RunoffPartial>& partials, size_t& lastHit, int subbasin,
                                   int zone) {
    if (lastHit < partials.size() && partials[lastHit].Subbasin == subbasin && partials[lastHit].Zone == zone)
        return partials[lastHit];
    for (size_t i = 0; i < partials.size(); ++i) {
        if (partials[i].Subbasin == subbasin && partials[i].Zone == zone) {
            lastHit = i;
            return partials[i];
        }
    }
    partials.push_back(unsatzon::RunoffPartial{});
    partials.back().Subbasin = subbasin;
    partials.back().Zone = zone;
    lastHit = partials.size() - 1;
    return partials.back();
}

}  // namespace

bool unsatzonmodellklasse::IrrigatedFromGroundwater(int row, int column) const {
    if (!irrigationRules || !IrrigationCodes || !IrrigationAmounts) return false;
    const double position = IrrigationCodes[row][column];
    if (!(position >= 1 && position <= irrigationRules[0].Code)) return false;
    return irrigationRules[static_cast<int>(position)].Origin == 1;
}

void unsatzonmodellklasse::AddRunoffToFlowTimeZones() {
    if (!zoneFZT_QD.Allocated()) return;
    if (RowRunoff.size() != static_cast<size_t>(NRows) + 1) RowRunoff.assign(static_cast<size_t>(NRows) + 1, {});
    const double S = SubSteps > 0 ? SubSteps : 1;
    const bool zoned = FlowTimes && SurfaceRoutingActive == 0;
    const bool groundwater = GroundwaterActive == 1;
    zonalstatistic* const* st = Statistics;
    const bool resizing = st[wIMMO] && GlacierFractionOld && GlacierFraction;

#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
    for (int r = 1; r <= NRows; ++r) {
        std::vector<unsatzon::RunoffPartial>& partials = RowRunoff[static_cast<size_t>(r)];
        partials.clear();
        size_t lastHit = 0;
        int first = 1, last = NCols;
        if (RowExtents) {
            first = std::max(1, static_cast<int>(RowExtents[r].first));
            last = std::min(NCols, static_cast<int>(RowExtents[r].last));
        }
        for (int c = first; c <= last; ++c) {
            if (!OwnModelCell(r, c)) continue;
            const int s = SubbasinRankOfCell(r, c);
            if (s < 1) continue;
            const double g = GlacierShare(r, c);
            const double w = 1 - g;
            const double A = CellWeight(r, c);
            const int k = zoned ? static_cast<int>(FlowTimes[r][c]) : 1;
            unsatzon::RunoffPartial& p = PartialOf(partials, lastHit, s, k);
            auto add = [&](zonalstatistic* statistic, double value, double weight) {
                if (statistic) statistic->AddToRow(r, c, s, value, weight);
            };
            double resized = 0;
            if (resizing) {
                const double before = GlacierFractionOld[r][c], now = GlacierFraction[r][c];
                if (before != now && before >= 0 && now >= 0) resized = (before - now) * SB2[r][c];
            }
            auto value = [&](double** grid, double factor) { return grid ? factor * grid[r][c] : 0.0; };
            if (g < 1) {
                p.DirectN += w;
                p.DirectSx += A * DirectFlow[r][c] * w * S;
                p.DirectWeight += A * w;
                p.InterN += w;
                p.InterSx += A * InterFlow[r][c] * w * S;
                p.InterWeight += A * w;
                if (!SoilTracers.empty()) AddTracerRunoff(p, r, c, A, w);
                add(st[wSB_1], SB1[r][c], w);
                add(st[wSB_2], SB2[r][c], w);
                if (resizing) add(st[wIMMO], resized, w);
                add(st[wROOT], RootGrid[r][c], w);
                add(st[wINFEX], S * InfiltrationExcess[r][c], w);
                add(st[wGWN], S * GroundwaterRecharge[r][c], w);
                add(st[wMACRO], S * MacroporeInfiltration[r][c], w);
                add(st[wSUBSTEPS], value(NumberOfSubsteps, 1), w);
                add(st[wINFILT], S * TotalInfiltration[r][c], w);
                add(st[wGWSTAND], GroundwaterDistance[r][c], w);
                add(st[wGWIN], value(RiverInfiltration, S), w);
                add(st[wGWEX], value(RiverExfiltration, S), w);
                // The groundwater irrigation of the step left the groundwater
                // and not the river: the sub-step's share (mm) leaves its baseflow.
                double base = 0;
                if (groundwater) {
                    base = value(RiverExfiltration, S);
                } else {
                    double b = Baseflow[r][c];
                    if (IrrigatedFromGroundwater(r, c)) b -= IrrigationAmounts[r][c] / S;
                    base = S * b;
                }
                p.BaseSum += A * w * base;
                p.BaseWeight += A * w;
                add(st[wPOND], value(PondingStorage, 1), w);
                add(st[wQDRAIN], value(DrainageFlow, S), w);
                if (heatMethod > 0) add(st[wTHAW], value(ThawDepth, 1), w);
            }
            if (g > 0) {
                p.DirectN += g;
                p.DirectWeight += A * g;
                p.InterN += g;
                p.InterWeight += A * g;
                p.BaseWeight += A * g;
                for (int i : {wSB_1, wSB_2, wROOT, wINFEX, wGWN, wMACRO, wSUBSTEPS, wINFILT, wGWSTAND, wGWIN, wGWEX, wPOND,
                              wQDRAIN})
                    add(st[i], 0.0, g);
                if (resizing) add(st[wIMMO], resized, g);
            }
        }
    }

    for (int r = 1; r <= NRows; ++r) {
        for (const unsatzon::RunoffPartial& p : RowRunoff[static_cast<size_t>(r)]) {
            RUVEX_INVARIANT(p.Zone >= 1 && p.Zone <= zoneFZT_QD.ZoneCount(p.Subbasin),
                            "flow-time zone outside the queue of its subbasin");
            unsatzon::FlowTimeZone& d = zoneFZT_QD.Zones(0, p.Subbasin)[p.Zone];
            unsatzon::FlowTimeZone& i = zoneFZT_QI.Zones(0, p.Subbasin)[p.Zone];
            d.n += p.DirectN;
            d.sx += p.DirectSx;
            d.RelCellSum += p.DirectWeight;
            i.n += p.InterN;
            i.sx += p.InterSx;
            i.RelCellSum += p.InterWeight;
            BaseflowSum[static_cast<size_t>(p.Subbasin)] += p.BaseSum;
            BaseflowWeight[static_cast<size_t>(p.Subbasin)] += p.BaseWeight;
            if (!SoilTracers.empty()) FoldTracerRunoff(p);
        }
    }
}
