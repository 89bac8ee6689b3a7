// The routing model's wiring with the other sub-models, the start of the
// channel state and the teardown.

#include "routing/abfluss.h"

#include "framework/diagnostics_writer.h"
#include "framework/routstatistic.h"
#include "framework/tracer_info.h"
#include "framework/zonalstatistic.h"

#include <cstdio>

#include <omp.h>

#include <algorithm>
#include <cmath>
#include <vector>

void abflussmodellklasse::SetQg(RunoffTable qg) {
    if (Method == 0) return;
    const int n = Subbasins.Count > 0 ? Subbasins.Count : 0;
    StepFlows.Allocate(RoutingTracerCount + 1, n + Totals.ZL + Totals.AL + 3);
    if (!qg) {
        if (Writer) {
            *Writer << "FATAL: No valid discharges for discharge routing!\nYou have to run the model including at "
                       "least precipitation interpolation and soil model\nif discharges are wished."
                    << "[end-entry]";
        }
        throw 43;
    }
    Qg = qg;
}

namespace {

// The most initial routing passes.
constexpr int MaxInitialPasses = 1000;

}  // namespace

// The start of the channel state: the runoff of the start into the flow
// arrays, every description's storage elements filled from it, then the
// initial routing passes with the zero date (none when the state is read
// from grids).
void abflussmodellklasse::InitRouting() {
    if (Method == 0 || !Qg || !StepFlows.Rows()) return;
    const int n = Subbasins.Count;
    const int entries = n + Totals.ZL;
    double** F = StepFlows.Rows();
    double*** Fs = SubIntervalFlows.Rows();
    for (int t = 0; t <= RoutingTracerCount; ++t) {
        for (int i = 1; i <= n; ++i) F[t][i] = Qg[t][i];
        for (int i = n + 1; i <= entries; ++i) F[t][i] = 0.0;
    }
    for (int k = 1; k <= DescriptionCount; ++k) {
        Descriptions[static_cast<size_t>(k)]->SubstituteMm = SubstituteMm.empty() ? nullptr : SubstituteMm.data();
        Descriptions[static_cast<size_t>(k)]->SetFlowArrays(F, Fs, &StorageElements, ObservedWindow,
                                                             GaugeColumns.data());
    }
    for (int t = 0; t <= RoutingTracerCount; ++t)
        for (int s = 1; s <= SubIntervals; ++s)
            for (int i = 1; i <= entries; ++i) Fs[t][s][i] = F[t][i];
    Exchange.Resize(n);
    for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->Exchange = &Exchange;
    if (Writer) *Writer << "checking connection of internal inflows and abstractions" << "[end-entry]";
    ConnectInternalFlows();
    for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->InitStorageElements();

    const int passes = InitialRoutingPasses();
    if (GridReadMode != 0) return;
    if (Writer) *Writer << "routing the initialization discharges (" << passes << " times)" << "[end-entry]";
    std::vector<std::vector<double>> saved(static_cast<size_t>(RoutingTracerCount + 1),
                                           std::vector<double>(static_cast<size_t>(entries + 1), 0.0));
    for (int pass = 1; pass <= passes; ++pass) {
        for (int t = 0; t <= RoutingTracerCount; ++t)
            for (int i = 1; i <= entries; ++i) saved[static_cast<size_t>(t)][static_cast<size_t>(i)] = F[t][i];
        for (int t = 0; t <= RoutingTracerCount; ++t)
            for (int s = 1; s <= SubIntervals; ++s)
                for (int i = 1; i <= entries; ++i) Fs[t][s][i] = F[t][i];
        for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->RouteTimeStep(0, 0, 0, 0);
        if (Writer) *Writer << ".";
        for (int t = 0; t <= RoutingTracerCount; ++t)
            for (int i = 1; i <= n; ++i) F[t][i] = saved[static_cast<size_t>(t)][static_cast<size_t>(i)];
    }
    if (Writer) *Writer << "[end-entry]";
}

int abflussmodellklasse::InitialRoutingPasses() {
    double hours = 0;
    for (int k = 1; k <= DescriptionCount; ++k) {
        const routingclass& d = *Descriptions[static_cast<size_t>(k)];
        double slowest = 0;
        for (int e = 1; e <= d.ChannelCount; ++e) {
            const wqtab& w = d.Tables[static_cast<size_t>(e)];
            if (w.Rows >= 1) slowest = std::max(slowest, std::floor(w.t[1]));
        }
        hours += slowest;
    }
    const double passes = std::ceil(hours / TimeInterval * 60.0);
    // The passes only bring the channels near the state that the start's
    // runoff would keep; a channel slower than MaxInitialPasses steps (a
    // tiny catchment area, a very long channel) starts emptier instead of
    // holding up the start for hours. That is a valid, if less settled,
    // start: a warning, not a failure.
    if (passes > MaxInitialPasses) {
        if (Writer) {
            *Writer << "WARNING: the slowest channels of " << ModuleName << " need " << passes
                    << " initial routing passes to fill; only " << MaxInitialPasses
                    << " are made, so the channels start below their steady state" << "[end-entry]";
        }
        return MaxInitialPasses;
    }
    return passes >= 1 ? static_cast<int>(passes) : 1;
}

double abflussmodellklasse::RoutedDischarge(int i) {
    const double q = StepFlows.Rows()[0][i];
    if (OutputUnit != 1) return q;
    double** abfrel = Abfrel.Rows();
    const double m3s = abfrel[0][0] * abfrel[0][i] * 16.6666667 / TimeInterval * q;
    const int k = static_cast<size_t>(i) < DescriptionOfOutlet.size() ? DescriptionOfOutlet[static_cast<size_t>(i)] : 0;
    return k > 0 ? m3s / Descriptions[static_cast<size_t>(k)]->AreaFactor : m3s;
}

// One step: the runoff into the flow arrays, every description in order
// (a later one routes on what an earlier one wrote for its outlet), then the
// routed discharge per subbasin.
void abflussmodellklasse::RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    if (Method == 0 || !Qg || !StepFlows.Rows()) return;
    if (!omp_in_parallel()) teilmodellklasse::RunTimeStep(hour, day, month, year);
    const int n = Subbasins.Count;
    const int entries = n + Totals.ZL;
    double** F = StepFlows.Rows();
    double*** Fs = SubIntervalFlows.Rows();
    Exchange.LastStep = {};
    BeginExchangeStep();
    for (int t = 0; t <= RoutingTracerCount; ++t)
        for (int i = 1; i <= n; ++i) F[t][i] = Qg[t][i];
    for (int k = 1; k <= DescriptionCount; ++k)
        Descriptions[static_cast<size_t>(k)]->ReadInflows(F, year, month, day, hour);
    for (int t = 0; t <= RoutingTracerCount; ++t)
        for (int s = 1; s <= SubIntervals; ++s)
            for (int i = 1; i <= entries; ++i) Fs[t][s][i] = F[t][i];
    for (int k = 1; k <= DescriptionCount; ++k) {
        routingclass& d = *Descriptions[static_cast<size_t>(k)];
        d.RouteTimeStep(year, month, day, hour);
        if (RiverFlows) d.UpdateRiverflowTable();
    }
    PushAvailability();
    CompareObservedDischarge(year, month, day, hour);
    if (RoutedStatistics) {
        RoutedStatistics->ResetStep();
        for (int i = 1; i <= n; ++i) {
            ZoneRecord& record = RoutedRecords[static_cast<size_t>(i)];
            record.n += 1;
            record.RelCellSum += 1;
            record.sx += RoutedDischarge(i);
        }
        RoutedStatistics->CloseRoutedStep(year, month, day, hour);
    }
    for (int t = 1; t <= RoutingTracerCount && static_cast<size_t>(t) < RoutedTracers.size(); ++t) {
        RoutedTracer& tracer = RoutedTracers[static_cast<size_t>(t)];
        if (!tracer.Statistics) continue;
        tracer.Statistics->ResetStep();
        for (int i = 1; i <= n; ++i) {
            ZoneRecord& record = tracer.Records[static_cast<size_t>(i)];
            record.n += 1;
            record.RelCellSum += 1;
            record.sx += F[t][i];
        }
        tracer.Statistics->CloseStep(year, month, day, hour);
    }
}

void abflussmodellklasse::InitTracers(int* status, int T, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                      int statisticsTableSize) {
    *status = 0;
    if (Method == 0 || T < 1 || !table) return;
    try {
        const int n = Subbasins.Count > 0 ? Subbasins.Count : 0;
        RoutedTracers.clear();
        RoutedTracers.resize(static_cast<size_t>(T) + 1);
        for (int t = 1; t <= T; ++t) {
            const TracerInfo& info = table[t];
            RoutedTracer& tracer = RoutedTracers[static_cast<size_t>(t)];
            if (info.radioactive == 1) {
                const double h = info.half_time;
                tracer.StepDecay = h > 0 ? std::exp(-(TimeInterval / 60 / 24) / (1.442695041111 * h)) : 0.0;
                tracer.SubIntervalDecay =
                    h > 0 ? std::exp(-(TimeInterval / SubIntervals / 60 / 24) / (1.442695041111 * h)) : 0.0;
            }
            if (Subbasins.Records) {
                tracer.Records.assign(Subbasins.Records, Subbasins.Records + n + 1);
            } else {
                tracer.Records.assign(static_cast<size_t>(n + 1), ZoneRecord{});
            }
            for (ZoneRecord& record : tracer.Records) record.n = record.sx = 0;
            char name[1201];
            std::snprintf(name, sizeof name, "%s%.3s%.5s.%.3s", info.path.c_str(), info.name.c_str(), "routing_model",
                          info.statext.c_str());
            tracer.FileName = name;
            int writerStatus = 0;
            tracer.Statistics = std::make_unique<zonalstatistic>(
                &writerStatus, Writer, statisticsTable, statisticsTableSize, nullptr, 1, 1, tracer.Records.data(), n,
                info.statcode, 99, tracer.FileName, OutputDirectory, Settings.OutputListCount,
                Settings.OutputListCodes);
            if (writerStatus != 0) throw writerStatus;
            char title[300];
            std::snprintf(title, sizeof title, "tracer concentration for tracer %d (%s) ", t, info.name.c_str());
            tracer.Statistics->WriteHeader(title, ModuleName, statisticsTable, statisticsTableSize);
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void abflussmodellklasse::ReleaseTracers() {
    for (RoutedTracer& tracer : RoutedTracers) {
        if (tracer.Statistics) tracer.Statistics->Close();
    }
    RoutedTracers.clear();
}

void abflussmodellklasse::SetIrrigationDemand(ZoneRecord* demand) {
    if (Method == 0) return;
    IrrigationDemand = demand;
    for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->SetIrrigationDemand(demand);
}

void abflussmodellklasse::SetRiverflowTable(riverflow_table* table) {
    if (Method == 0) return;
    RiverFlows = table;
    for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->SetRiverflowTable(table, k);
}


IrrigationAvailability abflussmodellklasse::GetMaxIrrig() { return Method == 0 ? nullptr : MaxIrrig.Rows(); }

IrrigationAvailability abflussmodellklasse::GetMaxIrrigFromReservoirs() {
    return Method == 0 ? nullptr : MaxIrrigFromReservoirs.Rows();
}

RoutingTargetTable abflussmodellklasse::GetRoutingTargetTable() {
    return Method == 0 || !TargetRows[0] ? nullptr : TargetRows;
}

AreaFractionTable abflussmodellklasse::GetAbfrel() { return Method == 0 ? nullptr : Abfrel.Rows(); }

void abflussmodellklasse::FlushOutputs() {
    if (Method == 0) return;
    if (RoutedStatistics) RoutedStatistics->Flush();
    for (RoutedTracer& tracer : RoutedTracers)
        if (tracer.Statistics) tracer.Statistics->Flush();
    for (int k = 1; k <= DescriptionCount; ++k)
        if (Descriptions[static_cast<size_t>(k)]) Descriptions[static_cast<size_t>(k)]->FlushOutputs();
}

void abflussmodellklasse::DeleteModule() {
    if (Deleted()) return;
    if (Method > 0 && Status == 1) WriteStorageFile();
    // The routing releases its own tracers while it finishes.
    ReleaseTracers();
    if (Method > 0 && Status == 1) WriteEfficiencyTables();
    ObservedReader.reset();
    Qg = nullptr;
    IrrigationDemand = nullptr;
    RiverFlows = nullptr;
    ReleaseAll(true);
    modelobject::DeleteModule();
}
