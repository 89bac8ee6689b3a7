#pragma once
// Potential evapotranspiration and the bookkeeping of real
// evapotranspiration.
//
// This is the sub-model's shell: construction, the section switch and the
// wiring operations exist; the methods, the grids and the statistics are
// still to come.

#include <cstdint>
#include <string>

#include "framework/teilmod.h"

struct StatisticsTableEntry;

class verdunstungsmodellklasse : public teilmodellklasse {
public:
    // Section "evapotranspiration". The status is 0; failures of the base are
    // thrown.
    verdunstungsmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                             int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                             MemoryGrid* gridTable);

    // The grids may be null; they are kept only while on.
    virtual void SetCorrectedRadiationGrid(double** grid);
    virtual void SetSnowStorageGrid(double** grid);
    virtual void SetSnowMethod(int method);
    // `sectionName` is "[lake_model]".
    virtual void InitLakes(const std::string& sectionName);

    virtual void PotentialEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void SnowEvaporation(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void BeginRealEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void RunSubstep(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void SumRealEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void FlushStatistics();
    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    double** CorrectedRadiation = nullptr;
    double** SnowStorage = nullptr;
    int SnowMethod = 0;
};
