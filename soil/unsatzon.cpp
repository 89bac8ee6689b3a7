#include "soil/unsatzon.h"

#include "framework/diagnostics_writer.h"

unsatzonmodellklasse::unsatzonmodellklasse(int* status, DiagnosticsWriter* writer,
                                           StatisticsTableEntry* statisticsTable, int statisticsTableSize,
                                           const std::string& sectionName, const ModelSettings& settings,
                                           MemoryGrid* gridTable, IrrigationRule* irrigationTable, int subSteps)
    : teilmodellklasse(writer, sectionName, settings, gridTable, subSteps),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      IrrigationTable(irrigationTable) {
    *status = 0;
    // Until the soil model ranks "zonegrid_soilmodel" itself, its subbasins
    // are the application's zones.
    Subbasins.Records = settings.Zones;
    Subbasins.CodeToRank = settings.ZoneRank;
    Subbasins.Count = settings.ZoneCount;
    Subbasins.LargestCode = settings.MaxZoneCode;
    if (Method == 0) return;
    try {
        Kelsqd.assign(static_cast<size_t>(Subbasins.Count) + 1, 0.0);
        Kelsqi.assign(static_cast<size_t>(Subbasins.Count) + 1, 0.0);
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void unsatzonmodellklasse::UpdateMaxPumping() {}

void unsatzonmodellklasse::SetDumpMode(int dumpMode, int closeAfterDump) {
    DumpMode = dumpMode;
    CloseAfterDump = closeAfterDump;
}

void unsatzonmodellklasse::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                       int statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
    if (*status != 0) return;
    try {
        const int rows = (n > 0 ? n : 0) + 1;
        const int columns = Subbasins.Count + 1;
        Qg.Allocate(rows, columns);
        QBb.Allocate(rows, columns);
        RiverFlows.clear();
        if (GroundwaterActive == 1) RiverFlows.assign(static_cast<size_t>(columns), riverflow_table{});
    } catch (...) {
        *status = 103;
    }
}

void unsatzonmodellklasse::ReleaseTracers() {
    if (Method == 0) return;
    teilmodellklasse::ReleaseTracers();
    Qg.Release();
    QBb.Release();
    RiverFlows.clear();
    RiverFlows.shrink_to_fit();
}

void unsatzonmodellklasse::SetSurfaceRoutingActive(int active) { SurfaceRoutingActive = active; }

RunoffTable unsatzonmodellklasse::CheckedTable(ExchangeTable<double>& table, const char* name) {
    if (Method == 0) return nullptr;
    double** rows = table.Rows();
    if (!rows || !rows[0]) {
        if (Writer) {
            *Writer << "FATAL: " << name << (rows ? "[0]" : "")
                    << " not initialized (may be, tracer module not linked? -> programmers error!)"
                    << "[end-entry]";
        }
        throw 57;
    }
    return rows;
}

RunoffTable unsatzonmodellklasse::GetQg() { return CheckedTable(Qg, "Qg"); }
RunoffTable unsatzonmodellklasse::GetQBb() { return CheckedTable(QBb, "QBb"); }
double* unsatzonmodellklasse::GetKelsqd() { return Method == 0 || Kelsqd.empty() ? nullptr : Kelsqd.data(); }
double* unsatzonmodellklasse::GetKelsqi() { return Method == 0 || Kelsqi.empty() ? nullptr : Kelsqi.data(); }

riverflow_table* unsatzonmodellklasse::GetRiverflowTable() {
    return Method == 0 || RiverFlows.empty() ? nullptr : RiverFlows.data();
}

const std::string* unsatzonmodellklasse::GetStorageFileName() { return Method == 0 ? nullptr : &StorageFileName; }

SubbasinTable unsatzonmodellklasse::GetSubbasinTable() { return Subbasins; }

void unsatzonmodellklasse::BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    teilmodellklasse::RunTimeStep(hour, day, month, year);
}

void unsatzonmodellklasse::RunTimeStep(int64_t, int64_t, int64_t, int64_t) {}
void unsatzonmodellklasse::EndTimeStep(int64_t, int64_t, int64_t, int64_t) {}
void unsatzonmodellklasse::ApplyExternalGWTable(int) {}

void unsatzonmodellklasse::PreSpinUpStep(int64_t, int64_t, int64_t, int64_t) {
    if (HeatTransferActive != 0) return;
    if (Writer) {
        *Writer << "FATAL: heat transfer model not active in unsatzon_model. This is required for pre-SpinUp!"
                << "[end-entry]";
    }
    throw 1040;
}

void unsatzonmodellklasse::FinishPreSpinUp() {}
void unsatzonmodellklasse::FlushOutputs() {}

void unsatzonmodellklasse::FinishRun(int /*append*/) {
    ReleaseTracers();
    Kelsqd.clear();
    Kelsqi.clear();
    modelobject::DeleteModule();
}
