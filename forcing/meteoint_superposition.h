#pragma once
// Regional superposition: new grids as region-weighted sums of existing
// grids, with soft transitions between neighbouring regions. Each entity of
// the section builds one output grid (see meteoint_superposition_entity.h).

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "forcing/meteoint_superposition_entity.h"
#include "framework/teilmod.h"

struct StatisticsTableEntry;

class RegionalSuperposition : public teilmodellklasse {
public:
    // Section "RegionalSuperposition" (required). The region table comes with
    // the settings. Failures are thrown; the status is always 0.
    RegionalSuperposition(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                          int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                          MemoryGrid* gridTable);
    ~RegionalSuperposition() override;

    // Stores the date; when on, every entity superposes.
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    // When on, every entity writes its output grid and statistics step.
    virtual void WriteOutputs();
    virtual void FlushStatistics();
    // Releases every entity, then the base teardown.
    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    int64_t CurrentHour = 0, CurrentDay = 0, CurrentMonth = 0, CurrentYear = 0;
    // The text of each entity block, in the order of the section.
    std::vector<std::string> EntityTexts;
    // The entities, in the order of the section.
    std::vector<std::unique_ptr<cSuperposition>> Entities;

private:
    void ReadEntities();
};
