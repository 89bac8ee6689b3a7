#include "lateral/irrigate.h"

#include "framework/diagnostics_writer.h"

irrigationclass::irrigationclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                 int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                                 MemoryGrid* gridTable, IrrigationRule* irrigationTable, const SubbasinTable& subbasins)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      IrrigationTable(irrigationTable),
      Subbasins(subbasins) {
    *status = 0;
    if (Method == 0) return;
    try {
        const int n = Subbasins.Count > 0 ? Subbasins.Count : 0;
        DemandRecords.assign(static_cast<size_t>(n) + 1, ZoneRecord{});
        for (int i = 0; i <= n && Subbasins.Records; ++i) {
            DemandRecords[static_cast<size_t>(i)].zonenwert = Subbasins.Records[i].zonenwert;
            DemandRecords[static_cast<size_t>(i)].rel = Subbasins.Records[i].rel;
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void irrigationclass::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                  int statisticsTableSize) {
    *status = 0;
    if (Method != 0) teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
}

void irrigationclass::ReleaseTracers() {
    if (Method != 0) teilmodellklasse::ReleaseTracers();
}

void irrigationclass::SetRiverflowTable(riverflow_table* table) {
    if (Method != 0) RiverFlows = table;
}

void irrigationclass::SetQg(RunoffTable qg) {
    if (Method != 0) Qg = qg;
}

IrrigationDemandTable irrigationclass::GetIrrigationDemand() {
    return Method == 0 || DemandRecords.empty() ? nullptr : DemandRecords.data();
}

void irrigationclass::LinkGroundwaterTracerStorage() {}

void irrigationclass::MissingRoutingTable(const char* first, const char* detail) {
    if (Writer) *Writer << first << detail << "[end-entry]";
    throw 60;
}

void irrigationclass::SetMaxIrrigTables(IrrigationAvailability maxIrrig,
                                        IrrigationAvailability maxIrrigFromReservoirs) {
    if (Method == 0) return;
    if (!maxIrrig) {
        MissingRoutingTable("FATAL: if irrigation is modelled, also routing has to be modelled!",
                            "\n(Adress of array maxirrig[] is NULL\n");
    }
    if (!maxIrrigFromReservoirs) {
        MissingRoutingTable("FATAL: if irrigation is modelled, also routing has to be modelled!",
                            "\n(Adress of array maxirrigFromReservoirs[] is NULL\n");
    }
    MaxIrrig = maxIrrig;
    MaxIrrigFromReservoirs = maxIrrigFromReservoirs;
}

void irrigationclass::SetRoutingTargetTable(RoutingTargetTable table) {
    if (Method == 0) return;
    if (!table) {
        MissingRoutingTable("FATAL: if irrigation is modelled, also routing has to be modelled! ",
                            "\n(Adress of array routing-target is NULL)\n");
    }
    RoutingTargets = table;
}

void irrigationclass::SetAbfrel(AreaFractionTable abfrel) {
    if (Method == 0) return;
    if (!abfrel) {
        MissingRoutingTable("FATAL: if irrigation is modelled, also routing has to be modelled!",
                            " \n(Adress of array abfrel is NULL)\n");
    }
    Abfrel = abfrel;
}

void irrigationclass::FlushStatistics() {}

void irrigationclass::DeleteModule() {
    DemandRecords.clear();
    RiverFlows = nullptr;
    Qg = nullptr;
    MaxIrrig = MaxIrrigFromReservoirs = nullptr;
    RoutingTargets = nullptr;
    Abfrel = nullptr;
    modelobject::DeleteModule();
}
