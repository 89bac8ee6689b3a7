// The routing model's wiring with the other sub-models, the start of the
// channel state and the teardown.

#include "routing/abfluss.h"

#include "framework/diagnostics_writer.h"
#include "framework/routstatistic.h"

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

void abflussmodellklasse::LinkLakeGrids() {}

// The start of the channel state: the runoff of the start into the flow
// arrays, every description's storage elements filled from it. The initial
// routing passes follow with the channel routing.
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
        Descriptions[static_cast<size_t>(k)]->SetFlowArrays(F, Fs, &StorageElements, ObservedWindow,
                                                             GaugeColumns.data());
    }
    for (int t = 0; t <= RoutingTracerCount; ++t)
        for (int s = 1; s <= SubIntervals; ++s)
            for (int i = 1; i <= entries; ++i) Fs[t][s][i] = F[t][i];
    for (int k = 1; k <= DescriptionCount; ++k) Descriptions[static_cast<size_t>(k)]->InitStorageElements();
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

void abflussmodellklasse::ReadStorageFile(const std::string*, int) {}

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
    for (int k = 1; k <= DescriptionCount; ++k)
        if (Descriptions[static_cast<size_t>(k)]) Descriptions[static_cast<size_t>(k)]->FlushOutputs();
}

void abflussmodellklasse::DeleteModule() {
    if (Deleted()) return;
    // The routing releases its own tracers while it finishes.
    ReleaseTracers();
    Qg = nullptr;
    IrrigationDemand = nullptr;
    RiverFlows = nullptr;
    ReleaseAll(true);
    modelobject::DeleteModule();
}
