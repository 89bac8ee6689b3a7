// River water for irrigation and the soil model: the bookkeeping at the start
// of the routing step, the withdrawals at the tributaries and outlets of each
// description, and the availability passed down the network.

#include "routing/exchange.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <string>

#include "framework/zonetable.h"
#include "framework/diagnostics_writer.h"
#include "routing/abfluss.h"
#include "routing/abfluss_routingclass.h"
#include "routing/reservoir.h"
#include "soil/unsatzon.h"

double WithdrawAtMost(double& q, double rate) {
    if (!(rate > 0)) return 0.0;
    const double taken = std::min(std::max(q, 0.0), rate);
    q -= taken;
    return rate - taken;
}

namespace {

// Mean irrigation demand of a demand record [mm per step over the subbasin].
double MeanDemand(const ZoneRecord& r) { return r.RelCellSum > 0 ? r.sx / r.RelCellSum : 0.0; }

}  // namespace

// At the start of a step: availability cleared, the demand records turned
// into the river demand of each subbasin (the delivered mean less what its
// reservoir supplies).
void abflussmodellklasse::BeginExchangeStep() {
    const int n = Subbasins.Count;
    if (!IrrigationDemand || n < 1 || Exchange.Empty()) return;
    double** maxirrig = MaxIrrig.Rows();
    double** fromReservoirs = MaxIrrigFromReservoirs.Rows();
    for (int i = 1; i <= n; ++i) {
        for (int t = 0; t <= RoutingTracerCount; ++t) maxirrig[t][i] = 0.0;
        IrrigationDemand[i].sx = MeanDemand(IrrigationDemand[i]);
        Exchange.Taken[static_cast<size_t>(i)] = 0;
    }
    // The reservoir at a subbasin's outlet supplies at most what it offered
    // and at most what was delivered; the river the rest.
    for (int i = 1; i <= n; ++i) {
        const double mean = std::max(0.0, IrrigationDemand[i].sx);
        const double fromReservoir = std::min(std::max(0.0, fromReservoirs[0][i]), mean);
        Exchange.ReservoirDepth[static_cast<size_t>(i)] = fromReservoir;
        IrrigationDemand[i].sx = mean - fromReservoir;
    }
}

// After every description: the river demand an outlet's routed outflow gave
// up is added back to the availability of every subbasin below it.
void abflussmodellklasse::PushAvailability() {
    const int n = Subbasins.Count;
    if (!IrrigationDemand || n < 1) return;
    double** maxirrig = MaxIrrig.Rows();
    for (int j = 1; j <= n && static_cast<size_t>(j) < TargetList.size(); ++j) {
        const int idx = TargetList[static_cast<size_t>(j)];
        if (idx <= 0 || idx > n) continue;
        const double D = DescriptionOfOutlet[static_cast<size_t>(idx)] >= 1 ? std::max(0.0, IrrigationDemand[idx].sx)
                                                                             : 0.0;
        if (D == 0) continue;
        int guard = 0;
        for (int w = TargetOfSubbasin[static_cast<size_t>(idx)]; w > 0 && w <= n && guard <= n;
             w = TargetOfSubbasin[static_cast<size_t>(w)], ++guard) {
            const double afw = IrrigationDemand[w].rel;
            if (afw > 0) maxirrig[0][w] += IrrigationDemand[idx].rel * D / afw;
        }
    }
}

// Before routing: each tributary subbasin not yet handled in this step
// records its runoff as the river water available for irrigation and gives
// up its river demand, at most what each sub-interval holds.
void routingclass::TakeUpTributaries(bool zeroDate) {
    if (!Demand || zeroDate || !Exchange || Exchange->Empty() || !MaxIrrig) return;
    const int T = Links.TracerCount;
    double*** Fs = SubIntervalFlows;
    for (int e = 1; e <= Counts.OL + Counts.SUMTRIB; ++e) {
        for (int sb : SubbasinRanksOf(e)) {
            if (sb <= 0 || Exchange->Taken[static_cast<size_t>(sb)]) continue;
            Exchange->Taken[static_cast<size_t>(sb)] = 1;
            for (int t = 0; t <= T; ++t) MaxIrrig[t][sb] = Fs[t][1][sb];
            double& deficit = Exchange->IrrigationDeficit[static_cast<size_t>(sb)];
            const double rate = Demand[sb].sx + deficit;
            double unmet = 0, taken = 0;
            for (int s = 1; s <= SubIntervals; ++s) {
                const double before = Fs[0][s][sb];
                unmet += WithdrawAtMost(Fs[0][s][sb], rate);
                taken += before - Fs[0][s][sb];
            }
            deficit = unmet / SubIntervals;
            Exchange->LastStep.IrrigationFromRivers += taken / SubIntervals * FlowAreaOf(sb) * 1000;
        }
    }
}

// The soil model's river withdrawal of the step (m3/s) from the subbasins of
// channel e, over the area its river-flow record counts the flow on.
void routingclass::SoilRiverWithdrawal(int e, bool zeroDate) {
    if (!RiverFlows || zeroDate || !Exchange || Exchange->Empty()) return;
    double*** Fs = SubIntervalFlows;
    for (int j : SubbasinRanksOf(e)) {
        if (j <= 0) continue;
        riverflow_table& record = RiverFlows[j];
        double& deficit = Exchange->SoilDeficit[static_cast<size_t>(j)];
        const double wanted = record.area > 0 ? ConvertToMm(record.withdrawn, record.area, TimeStep) : 0.0;
        const double rate = wanted + deficit;
        double unmet = 0, taken = 0;
        for (int s = 1; s <= SubIntervals; ++s) {
            const double before = Fs[0][s][j];
            unmet += WithdrawAtMost(Fs[0][s][j], rate);
            taken += before - Fs[0][s][j];
        }
        deficit = unmet / SubIntervals;
        Exchange->LastStep.SoilFromRivers += taken / SubIntervals * std::max(0.0, record.area) * 1000;
    }
}

// After routing: the outlet's routed outflow is the river water available to
// its irrigation, which then gives up the outlet's river demand.
void routingclass::OutletAvailability(bool zeroDate) {
    if (!Demand || zeroDate || !Exchange || Exchange->Empty() || !MaxIrrig) return;
    const int g = RankOf(OutletCode);
    if (g <= 0 || Exchange->Taken[static_cast<size_t>(g)]) return;
    Exchange->Taken[static_cast<size_t>(g)] = 1;
    const int T = Links.TracerCount;
    double** F = StepFlows;
    double*** Fs = SubIntervalFlows;
    const double f = AreaFactor;
    const double ag = Links.Abfrel[0][g];
    const double ad = Demand[g].rel;
    if (!(ad > 0) || !(ag > 0)) return;
    MaxIrrig[0][g] = ag / ad * F[0][g] / f;
    for (int t = 1; t <= T; ++t) MaxIrrig[t][g] = F[t][g];
    double& deficit = Exchange->IrrigationDeficit[static_cast<size_t>(g)];
    // From mm over the subbasin to mm over the description's area A / f.
    const double toOutlet = ad / ag * f;
    const double rate = (Demand[g].sx + deficit) * toOutlet;
    if (!(rate > 0)) return;
    double unmet = 0, sum = 0, taken = 0;
    for (int s = 1; s <= SubIntervals; ++s) {
        const double before = Fs[0][s][g];
        unmet += WithdrawAtMost(Fs[0][s][g], rate);
        sum += Fs[0][s][g];
        taken += before - Fs[0][s][g];
    }
    F[0][g] = sum / SubIntervals;
    deficit = unmet / SubIntervals / toOutlet;
    Exchange->LastStep.IrrigationFromRivers += taken / SubIntervals * CatchmentArea / AreaFactor * 1000;
}

double routingclass::FlowAreaOf(int i) const {
    double** abfrel = Links.Abfrel;
    return i > 0 && abfrel && abfrel[1][i] != 0 ? abfrel[0][0] * abfrel[0][i] / abfrel[1][i] : 0.0;
}

// The withdrawals carried into the next step [m3]: per subbasin the
// irrigation's over the subbasin and the soil model's over its river-flow
// area, and what each reservoir still owes.
double abflussmodellklasse::CarriedWithdrawalVolume() const {
    double m3 = 0;
    const int n = Subbasins.Count;
    for (int i = 1; i <= n && !Exchange.Empty(); ++i) {
        const size_t k = static_cast<size_t>(i);
        if (IrrigationDemand) m3 += Exchange.IrrigationDeficit[k] * IrrigationDemand[0].rel * IrrigationDemand[i].rel * 1000;
        if (RiverFlows) m3 += Exchange.SoilDeficit[k] * RiverFlows[i].area * 1000;
    }
    for (int k = 1; k <= DescriptionCount; ++k)
        for (const auto& reservoir : Descriptions[static_cast<size_t>(k)]->Reservoirs)
            if (reservoir) m3 += reservoir->CarriedWithdrawal;
    return m3;
}

// State the next step reads besides the channels: per subbasin the carried
// withdrawals and the water offered to irrigation, per internal inflow the
// flows its abstraction handed over in the last step.
void abflussmodellklasse::WriteCarriedState(std::string& out) {
    const int n = Subbasins.Count;
    char buffer[64];
    auto put = [&](double v) {
        const auto r = std::to_chars(buffer, buffer + sizeof buffer, v);
        out.append(buffer, r.ptr);
        out += ' ';
    };
    for (int i = 1; i <= n && !Exchange.Empty(); ++i) {
        const double a = Exchange.IrrigationDeficit[static_cast<size_t>(i)];
        const double b = Exchange.SoilDeficit[static_cast<size_t>(i)];
        if (a == 0 && b == 0) continue;
        out += std::to_string(i) + ' ';
        put(a);
        put(b);
        out += "(carried irrigation and soil withdrawals of subbasin)\n";
    }
    // What the rivers and reservoirs offered to irrigation in the last step:
    // the next step's irrigation draws on it before the routing runs.
    double** rivers = MaxIrrig.Rows();
    double** reservoirs = MaxIrrigFromReservoirs.Rows();
    for (int i = 1; i <= n && IrrigationDemand && rivers && reservoirs; ++i) {
        bool any = false;
        for (int t = 0; t <= RoutingTracerCount; ++t) any = any || rivers[t][i] != 0 || reservoirs[t][i] != 0;
        if (!any) continue;
        out += std::to_string(i) + ' ';
        for (int t = 0; t <= RoutingTracerCount; ++t) put(rivers[t][i]);
        for (int t = 0; t <= RoutingTracerCount; ++t) put(reservoirs[t][i]);
        out += "(irrigation availability of subbasin)\n";
    }
    double** F = StepFlows.Rows();
    double*** Fs = SubIntervalFlows.Rows();
    if (!F || !Fs) return;
    for (int k = 1; k <= DescriptionCount; ++k) {
        const routingclass& d = *Descriptions[static_cast<size_t>(k)];
        for (int z = 1; z <= d.Counts.ZL; ++z) {
            if (d.InflowMode[static_cast<size_t>(z)] != 3) continue;
            const int i = n + d.InflowNumber[static_cast<size_t>(z)];
            out += std::to_string(i) + ' ';
            for (int t = 0; t <= RoutingTracerCount; ++t) put(F[t][i]);
            for (int t = 0; t <= RoutingTracerCount; ++t)
                for (int s = 1; s <= SubIntervals; ++s) put(Fs[t][s][i]);
            out += "(flows of internal inflow)\n";
        }
    }
}

bool abflussmodellklasse::ReadCarriedState(const std::string& line, const std::string& path) {
    const bool deficits = line.find("(carried irrigation and soil withdrawals") != std::string::npos;
    const bool inflow = line.find("(flows of internal inflow)") != std::string::npos;
    const bool availability = line.find("(irrigation availability of subbasin)") != std::string::npos;
    if (!deficits && !inflow && !availability) return false;
    const int n = Subbasins.Count;
    auto bad = [&]() {
        if (Writer) *Writer << "FATAL: error reading carried flows in file " << path << " (line \"" << line << "\")" << "[end-entry]";
        throw 71;
    };
    const char* text = line.c_str();
    char* end = nullptr;
    const long i = std::strtol(text, &end, 10);
    if (end == text) bad();
    text = end;
    auto next = [&]() {
        const double v = std::strtod(text, &end);
        if (end == text || !std::isfinite(v)) bad();
        text = end;
        return v;
    };
    if (deficits) {
        if (i < 1 || i > n || Exchange.Empty()) bad();
        Exchange.IrrigationDeficit[static_cast<size_t>(i)] = next();
        Exchange.SoilDeficit[static_cast<size_t>(i)] = next();
        return true;
    }
    if (availability) {
        double** rivers = MaxIrrig.Rows();
        double** reservoirs = MaxIrrigFromReservoirs.Rows();
        if (i < 1 || i > n || !rivers || !reservoirs) bad();
        for (int t = 0; t <= RoutingTracerCount; ++t) rivers[t][i] = next();
        for (int t = 0; t <= RoutingTracerCount; ++t) reservoirs[t][i] = next();
        return true;
    }
    double** F = StepFlows.Rows();
    double*** Fs = SubIntervalFlows.Rows();
    if (i <= n || i > n + Totals.ZL || !F || !Fs) bad();
    for (int t = 0; t <= RoutingTracerCount; ++t) F[t][i] = next();
    for (int t = 0; t <= RoutingTracerCount; ++t)
        for (int s = 1; s <= SubIntervals; ++s) Fs[t][s][i] = next();
    return true;
}
