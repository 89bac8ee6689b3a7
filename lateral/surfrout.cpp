#include "lateral/surfrout.h"

#include "framework/diagnostics_writer.h"

surfaceroutingclass::surfaceroutingclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                         int statisticsTableSize, const std::string& sectionName,
                                         const ModelSettings& settings, MemoryGrid* gridTable, int subSteps)
    : teilmodellklasse(writer, sectionName, settings, gridTable, subSteps),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
}

void surfaceroutingclass::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                      int statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
    if (*status != 0) return;
    try {
        Qg.Allocate((n > 0 ? n : 0) + 1, (Settings.ZoneCount > 0 ? Settings.ZoneCount : 0) + 1);
    } catch (...) {
        *status = 103;
    }
}

void surfaceroutingclass::ReleaseTracers() {
    if (Method == 0) return;
    teilmodellklasse::ReleaseTracers();
    Qg.Release();
}

void surfaceroutingclass::SetQBb(RunoffTable qbb) {
    if (Method != 0) QBb = qbb;
}

void surfaceroutingclass::SetKelsqd(double* kelsqd) {
    if (Method != 0) Kelsqd = kelsqd;
}

void surfaceroutingclass::SetKelsqi(double* kelsqi) {
    if (Method != 0) Kelsqi = kelsqi;
}

RunoffTable surfaceroutingclass::GetQg() {
    if (Method == 0) return nullptr;
    double** rows = Qg.Rows();
    if (!rows || !rows[0]) {
        if (Writer) {
            *Writer << (rows ? "FATAL: Qg[0] (surface routing) not initialized (may be, tracer module not linked? -> "
                               "programmers error!)"
                             : "FATAL: Qg (surface routing) not initialized (may be, tracer module not linked? -> "
                               "programmers error!)")
                    << "[end-entry]";
        }
        throw 57;
    }
    return rows;
}

void surfaceroutingclass::BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    teilmodellklasse::RunTimeStep(hour, day, month, year);
}

void surfaceroutingclass::RunTimeStep(int64_t, int64_t, int64_t, int64_t) {}
void surfaceroutingclass::RouteZonesToSubbasins(int64_t, int64_t, int64_t, int64_t) {}
void surfaceroutingclass::FlushStatistics() {}

void surfaceroutingclass::FinishRun(int /*append*/) {
    ReleaseTracers();
    QBb = nullptr;
    Kelsqd = Kelsqi = nullptr;
    modelobject::DeleteModule();
}
