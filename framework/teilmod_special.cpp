#include "framework/teilmod_special.h"

SpecialOutputClass::SpecialOutputClass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                       int statisticsTableSize, const std::string& sectionName,
                                       const ModelSettings& settings, MemoryGrid* gridTable, int subSteps)
    : teilmodellklasse(writer, sectionName, settings, gridTable, subSteps, false),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
}

void SpecialOutputClass::Step(int64_t, int64_t, int64_t, int64_t, bool, int) {}

void SpecialOutputClass::Flush() {}

void SpecialOutputClass::DeleteModule() { modelobject::DeleteModule(); }
