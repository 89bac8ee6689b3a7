#include "forcing/expokorr.h"

expokorrklasse::expokorrklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                               int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                               MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
}

double** expokorrklasse::GetCorrectedRadiationGrid() { return Method == 1 ? CorrectedRadiation : nullptr; }
