#include "lateral/gwflow.h"

gwflowclass::gwflowclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                         int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                         MemoryGrid* gridTable, IrrigationRule* irrigationTable, const SubbasinTable& subbasins,
                         int subSteps)
    : teilmodellklasse(writer, sectionName, settings, gridTable, subSteps),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      IrrigationTable(irrigationTable),
      Subbasins(subbasins) {
    *status = 0;
}

void gwflowclass::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                              int statisticsTableSize) {
    *status = 0;
    if (Method != 0) teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
}

void gwflowclass::ReleaseTracers() {
    if (Method != 0) teilmodellklasse::ReleaseTracers();
}

void gwflowclass::SetRiverflowTable(riverflow_table* table) {
    if (Method != 0) RiverFlows = table;
}

void gwflowclass::SetQg(RunoffTable qg) {
    if (Method != 0) Qg = qg;
}

void gwflowclass::BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    teilmodellklasse::RunTimeStep(hour, day, month, year);
}

void gwflowclass::RunTimeStep(int64_t, int64_t, int64_t, int64_t) {}
void gwflowclass::WriteOutput(int64_t, int64_t, int64_t, int64_t) {}
void gwflowclass::FlushOutputs() {}

void gwflowclass::DeleteModule() {
    RiverFlows = nullptr;
    Qg = nullptr;
    modelobject::DeleteModule();
}
