#pragma once
// Regional superposition: new grids as region-weighted sums of existing
// grids.
//
// This is the sub-model's shell: it reads the switch, the entity count and
// the entity blocks of its section; building and superposing the entities is
// still to come.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/teilmod.h"

struct StatisticsTableEntry;

class RegionalSuperposition : public teilmodellklasse {
public:
    // Section "RegionalSuperposition" (required). Failures are thrown; the
    // status is always 0.
    RegionalSuperposition(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                          int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                          MemoryGrid* gridTable);

    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    virtual void WriteOutputs();
    virtual void FlushStatistics();
    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    int64_t CurrentHour = 0, CurrentDay = 0, CurrentMonth = 0, CurrentYear = 0;
    // The text of each entity block, in the order of the section.
    std::vector<std::string> EntityTexts;

private:
    void ReadEntities();
};
