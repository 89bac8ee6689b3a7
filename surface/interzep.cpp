#include "surface/interzep.h"

interzeptionsmodellklasse::interzeptionsmodellklasse(int* status, DiagnosticsWriter* writer,
                                                     StatisticsTableEntry* statisticsTable, int statisticsTableSize,
                                                     const std::string& sectionName, const ModelSettings& settings,
                                                     MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
}

void interzeptionsmodellklasse::InitTracers(int* status, int n, TracerInfo* table,
                                            StatisticsTableEntry* statisticsTable, int statisticsTableSize) {
    *status = 0;
    if (Method != 0) teilmodellklasse::InitTracers(status, n, table, statisticsTable, statisticsTableSize);
}

void interzeptionsmodellklasse::ReleaseTracers() {
    if (Method != 0) teilmodellklasse::ReleaseTracers();
}

void interzeptionsmodellklasse::FlushStatistics() {}
