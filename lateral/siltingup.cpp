#include "lateral/siltingup.h"

siltingupclass::siltingupclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                               int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                               MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
}

void siltingupclass::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                 int statisticsTableSize) {
    *status = 0;
    if (Method != 0) teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
}

void siltingupclass::ReleaseTracers() {
    if (Method != 0) teilmodellklasse::ReleaseTracers();
}

void siltingupclass::FlushStatistics() {}
