#include "surface/etpetr.h"

verdunstungsmodellklasse::verdunstungsmodellklasse(int* status, DiagnosticsWriter* writer,
                                                   StatisticsTableEntry* statisticsTable, int statisticsTableSize,
                                                   const std::string& sectionName, const ModelSettings& settings,
                                                   MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
}

void verdunstungsmodellklasse::SetCorrectedRadiationGrid(double** grid) {
    if (Method != 0) CorrectedRadiation = grid;
}

void verdunstungsmodellklasse::SetSnowStorageGrid(double** grid) {
    if (Method != 0) SnowStorage = grid;
}

void verdunstungsmodellklasse::SetSnowMethod(int method) { SnowMethod = method; }

void verdunstungsmodellklasse::InitLakes(const std::string&) {}

void verdunstungsmodellklasse::PotentialEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year) {
    teilmodellklasse::RunTimeStep(hour, day, month, year);
}

void verdunstungsmodellklasse::SnowEvaporation(int64_t, int64_t, int64_t, int64_t) {}
void verdunstungsmodellklasse::BeginRealEvapotranspiration(int64_t, int64_t, int64_t, int64_t) {}
void verdunstungsmodellklasse::RunSubstep(int64_t, int64_t, int64_t, int64_t) {}
void verdunstungsmodellklasse::SumRealEvapotranspiration(int64_t, int64_t, int64_t, int64_t) {}
void verdunstungsmodellklasse::FlushStatistics() {}

void verdunstungsmodellklasse::DeleteModule() {
    CorrectedRadiation = nullptr;
    SnowStorage = nullptr;
    modelobject::DeleteModule();
}
