#include "routing/abfluss.h"

#include "framework/diagnostics_writer.h"

abflussmodellklasse::abflussmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                         int statisticsTableSize, const std::string& sectionName,
                                         const ModelSettings& settings, MemoryGrid* gridTable,
                                         const SubbasinTable& subbasins, int tracerCount, TracerInfo* tracers,
                                         int soilReadCode)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      Subbasins(subbasins),
      RoutingTracerCount(tracerCount > 0 ? tracerCount : 0),
      RoutingTracers(tracers),
      SoilReadCode(soilReadCode) {
    *status = 0;
    if (Method == 0) return;
    try {
        const int n = Subbasins.Count > 0 ? Subbasins.Count : 0;
        MaxIrrig.Allocate(RoutingTracerCount + 1, n + 1);
        MaxIrrigFromReservoirs.Allocate(RoutingTracerCount + 1, n + 1);
        TargetList.assign(static_cast<size_t>(2 * n + 1), 0);
        TargetOfSubbasin.assign(static_cast<size_t>(n + 1), 0);
        DescriptionOfOutlet.assign(static_cast<size_t>(n + 1), 0);
        TargetRows[0] = TargetList.data();
        TargetRows[1] = TargetOfSubbasin.data();
        TargetRows[2] = DescriptionOfOutlet.data();
        // Area fractions from the subbasin table (entry 0: the total area),
        // area factors 1.
        Abfrel.Allocate(2, n + 1);
        double** abfrel = Abfrel.Rows();
        for (int i = 0; i <= n; ++i) {
            abfrel[0][i] = Subbasins.Records ? Subbasins.Records[i].rel : 0.0;
            abfrel[1][i] = 1.0;
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void abflussmodellklasse::SetQg(RunoffTable qg) {
    if (Method == 0) return;
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
void abflussmodellklasse::InitRouting() {}

void abflussmodellklasse::SetIrrigationDemand(ZoneRecord* demand) {
    if (Method != 0) IrrigationDemand = demand;
}

void abflussmodellklasse::SetRiverflowTable(riverflow_table* table) {
    if (Method != 0) RiverFlows = table;
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

void abflussmodellklasse::FlushOutputs() {}

void abflussmodellklasse::DeleteModule() {
    // The routing releases its own tracers while it finishes.
    ReleaseTracers();
    Qg = nullptr;
    IrrigationDemand = nullptr;
    RiverFlows = nullptr;
    MaxIrrig.Release();
    MaxIrrigFromReservoirs.Release();
    Abfrel.Release();
    TargetList.clear();
    TargetOfSubbasin.clear();
    DescriptionOfOutlet.clear();
    TargetRows[0] = TargetRows[1] = TargetRows[2] = nullptr;
    modelobject::DeleteModule();
}
