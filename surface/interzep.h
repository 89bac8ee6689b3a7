#pragma once
// Interception storage, throughfall and interception evaporation per
// vegetation layer.
//
// This is the sub-model's shell: construction, the section switch and the
// operations the application calls exist; the layer grids, the statistics
// and the step are still to come.

#include <cstdint>
#include <string>

#include "framework/teilmod.h"

struct StatisticsTableEntry;

class interzeptionsmodellklasse : public teilmodellklasse {
public:
    // Section "interception_model". The status is 0; failures of the base are
    // thrown.
    interzeptionsmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                              int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                              MemoryGrid* gridTable);

    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    virtual void FlushStatistics();

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
};
