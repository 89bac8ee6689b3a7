#pragma once
// The silting-up of the soil surface under rain.
//
// This is the sub-model's shell: construction, the section switch and the
// operations the application calls exist; the expressions, the grids and the
// cell step are still to come.

#include <cstdint>
#include <string>

#include "framework/teilmod.h"

struct StatisticsTableEntry;

class siltingupclass : public teilmodellklasse {
public:
    // Section "SiltingUpModel". The status is 0; failures of the base are
    // thrown.
    siltingupclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                   int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                   MemoryGrid* gridTable);

    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    virtual void FlushStatistics();

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
};
