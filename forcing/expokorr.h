#pragma once
// Radiation correction for slope, aspect and terrain shadow, and the
// corrected temperature.
//
// This is the sub-model's shell: construction, the section switch and the
// operations the application calls exist; the correction grids and the step
// are still to come, so the corrected-radiation grid does not exist yet.

#include <cstdint>
#include <string>

#include "framework/teilmod.h"

struct StatisticsTableEntry;

class expokorrklasse : public teilmodellklasse {
public:
    // Section "radiation_correction". The status is 0; failures of the base
    // are thrown.
    expokorrklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                   int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                   MemoryGrid* gridTable);

    // The "radiation_correction" grid when the method is 1, else null.
    virtual double** GetCorrectedRadiationGrid();

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    double** CorrectedRadiation = nullptr;  // not created yet
};
