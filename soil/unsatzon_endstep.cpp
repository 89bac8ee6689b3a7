// End of a step of the soil model, runoff part: what leaves the outlet zone of
// every subbasin passes a single linear storage each for direct runoff and
// interflow; baseflow is the subbasin mean of the step; the total adds the
// three and the glacier runoff of the step. Then the statistics close the step.

#include <algorithm>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_runoff.h"

namespace {

// A statistics record showing one value for the subbasin, weighted by its area
// fraction in the total.
void SetRecord(zonalstatistic* statistic, int s, double value) {
    if (!statistic || !statistic->GetZones()) return;
    ZoneRecord& record = statistic->GetZones()[s];
    record.n = record.rel;
    record.RelCellSum = record.rel;
    record.sx = record.rel * value;
}

}  // namespace

void unsatzonmodellklasse::EndTimeStepRunoff() {
    double** qd = QD.Rows();
    double** qdd = QDd.Rows();
    double** qi = QI.Rows();
    double** qii = QIi.Rows();
    double** qb = QBb.Rows();
    double** qg = Qg.Rows();
    double** glacier = GlacierRunoff.Rows();
    const int n = Subbasins.Count;
    const bool bypassed = SurfaceRoutingActive != 0;
    const int tracers = zoneFZT_QD.Allocated() ? zoneFZT_QD.Tracers() : 0;

    // Outlet zone and linear storage of one component.
    auto component = [&](unsatzon::FlowTimeQueues& queue, double** outlet, double** storage, double recession,
                         int s) {
        for (int t = 0; t <= tracers; ++t) {
            const unsatzon::FlowTimeZone& z = queue.Zones(t, s)[1];
            outlet[t][s] = t == 0 || z.RelCellSum > 0 ? unsatzon::OutletValue(z) : 0.0;
        }
        const double m = unsatzon::StorageFactor(TimeInterval, recession, bypassed);
        for (int t = 1; t <= tracers; ++t) {
            storage[t][s] =
                unsatzon::StorageConcentration(outlet[0][s], outlet[t][s], storage[0][s], storage[t][s], m);
        }
        storage[0][s] = unsatzon::StorageOutflow(outlet[0][s], storage[0][s], m);
    };

    for (int s = 1; s <= n; ++s) {
        const size_t i = static_cast<size_t>(s);
        if (qd && zoneFZT_QD.Allocated()) component(zoneFZT_QD, qd, qdd, kelsqd[i], s);
        if (qd) SetRecord(Statistics[wQD], s, qdd[0][s]);
        if (qb) {
            const double mean = BaseflowWeight[i] != 0 ? BaseflowSum[i] / BaseflowWeight[i] : 0.0;
            // No negative runoff leaves a subbasin: what a step lacks is owed
            // by the following ones, so that no water is made up.
            const double owed = i < BaseflowDeficit.size() ? BaseflowDeficit[i] : 0.0;
            const double net = mean - owed;
            qb[0][s] = std::max(0.0, net);
            if (i < BaseflowDeficit.size()) BaseflowDeficit[i] = std::max(0.0, -net);
            SetRecord(Statistics[wQB], s, qb[0][s]);
        }
        if (qi && zoneFZT_QI.Allocated()) component(zoneFZT_QI, qi, qii, kelsqi[i], s);
        if (qi) SetRecord(Statistics[wQI], s, qii[0][s]);
        if (!qg || !qg[0]) {
            if (Writer) {
                *Writer << "FATAL: Qg[" << s << "] not initialized (may be, tracer module not linked? -> "
                        << "programmers error!)" << "[end-entry]";
            }
            throw 57;
        }
        double total = qdd[0][s] + qii[0][s] + qb[0][s];
        // The glacier runoff the snow model stored in this step; the table
        // is emptied so that a step without glacier runoff adds nothing.
        // With surface routing on, the runoff leaves through it, and it
        // takes the glacier runoff and empties the table.
        if (!GlacierSubbasins.empty() && GlacierSubbasins[i].hasGlacier && glacier) total += glacier[0][s];
        if (glacier && !bypassed) glacier[0][s] = 0;
        qg[0][s] = total;
        SetRecord(Statistics[wQg], s, qg[0][s]);
    }

    const StatisticsWriter order[] = {wGWSTAND, wGWN,   wINFILT, wMACRO, wSUBSTEPS, wSB_1,  wSB_2, wIMMO,
                                wROOT,    wINFEX, wQD,     wQI,    wQB,       wQg,    wQDRAIN, wPOND,
                                wTHAW, wGWIN, wGWEX};
    // The statistics' rows are folded together, one statistic per thread,
    // before they close in their order.
    std::vector<zonalstatistic*> closing;
    for (StatisticsWriter w : order) {
        if (w == wTHAW && heatMethod <= 0) continue;
        if (Statistics[w]) closing.push_back(Statistics[w]);
    }
    zonalstatistic::FoldRowsOf(closing.data(), static_cast<int>(closing.size()));
    for (zonalstatistic* statistic : closing) statistic->CloseStep(StepYear, StepMonth, StepDay, StepHour);
}
