#pragma once
// Special output: time series of grid values at chosen points.
//
// This is the sub-model's shell: construction with its optional section, the
// step, the flush and the teardown exist; the output files are still to come.

#include <cstdint>
#include <string>

#include "framework/teilmod.h"

struct StatisticsTableEntry;

class SpecialOutputClass : public teilmodellklasse {
public:
    // Section "special_output", which may be missing: then the sub-model is
    // off. `subSteps` is the count of "[soil_surface_groundwater_substeps]".
    // The status is 0, or the code of a failure inside the body.
    SpecialOutputClass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                       int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                       MemoryGrid* gridTable, int subSteps);

    // Called with (date, true, j) in sub-step j = 1..sub-steps and with
    // (date, false, 0) at the end of the step.
    virtual void Step(int64_t hour, int64_t day, int64_t month, int64_t year, bool subStepCall, int subStep);
    virtual void Flush();
    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
};
