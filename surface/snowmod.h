#pragma once
// The snow model with static and dynamic glaciers.
//
// This is the sub-model's shell: construction, the section switch and the
// wiring operations exist; the snow and glacier physics, the grids and the
// storage content section are still to come.

#include <cstdint>
#include <string>

#include "framework/teilmod.h"
#include "soil/unsatzon.h"

struct StatisticsTableEntry;

class schneemodellklasse : public teilmodellklasse {
public:
    // Section "snow_model". The status is 0; failures of the base are thrown.
    schneemodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                       int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                       MemoryGrid* gridTable);

    // Kept only while on; may be null.
    virtual void SetCorrectedRadiationGrid(double** grid);
    // The solid snow storage grid when on, else null.
    virtual double** GetSnowStorageGrid();
    virtual int GetSnowMethod();
    // `sectionName` is "[lake_model]".
    virtual void InitLakes(const std::string& sectionName);
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    // Glacier runoff goes into the soil model's `Qg`; when on, this also makes
    // the snow model ready.
    virtual void SetGlacierRunoffTarget(RunoffTable qg);
    // `fileName` may be null (the soil model is off).
    virtual void ReadStorageContent(const std::string* fileName, int readCode);
    virtual void FlushStatistics();
    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    double** CorrectedRadiation = nullptr;
    double** SnowStorage = nullptr;
    RunoffTable GlacierRunoffTarget = nullptr;
};
