#pragma once
// Interception storage, throughfall and interception evaporation per
// vegetation layer (section "[interception_model]").
//
// Every step the water input (the snow cover's outflow, else precipitation)
// passes the vegetation layers from the top: the covered share fills the
// layer's storage up to its capacity, the rest and the overflow fall through
// to the next layer; the storage evaporates by the potentials of
// evapotranspiration, which are lowered by what it took. Layer 0 holds the
// cell's totals: "throughfall0" is what reaches the ground.

#include <cstdint>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonetable.h"

struct StatisticsTableEntry;
class zonalstatistic;

class interzeptionsmodellklasse : public teilmodellklasse {
public:
    // Section "interception_model". The status is 0; failures are thrown.
    interzeptionsmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                              int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                              MemoryGrid* gridTable);
    ~interzeptionsmodellklasse() override;

    void DeleteModule() override;
    // Tracer set-up; any integer thrown inside becomes the status, another
    // failure 103.
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    virtual void FlushStatistics();

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;

    // Settings.
    int EvaporationMethod = 0;  // 1 by potential transpiration, 2 by potential interception evaporation
    double SIdicke = 0;         // storage depth per unit of leaf area index [mm]
    int StorageReadMode = 0;    // 1: initial storages from the files
    int LayerCount = 1;         // L

    // Grids of the layers 0..L (created; layer 0 the totals).
    std::vector<double**> Storage, Evaporation, Throughfall;

private:
    struct OwnGrid {
        int Index = 0;
        double** Data = nullptr;
    };

    void Construct();
    void ReadSection();
    void LookUpInputs();
    void CreateGridsAndStatistics();
    double** CreateGrid(int entry, const std::string& fileName, const std::string& name, int writeCode, bool read);
    zonalstatistic* CreateStatistics(const std::string& fileName, int code, const std::string& header);
    bool ActiveCell(int32_t row, int32_t col) const;
    double GlacierFractionOf(int32_t row, int32_t col) const;
    double CapacityOf(int k, int32_t row, int32_t col) const;
    void ComputeRow(int32_t row);
    void ComputeCell(int32_t row, int32_t col);
    void LayeredCell(int32_t row, int32_t col);
    template <typename Step>
    void ForEachCellTracer(int32_t row, int32_t col, Step step);
    void LayeredCellTracers(int32_t row, int32_t col, double before, double input, double throughfall);
    void SingleLayerCell(int32_t row, int32_t col);
    void Evaporate(int k, int32_t row, int32_t col, double& storage, double& evaporation);
    std::pair<int32_t, int32_t> RowColumns(int32_t row) const;
    void AddRowStatistics(int32_t row);
    void AddRunStatistics(int32_t row, int32_t first, int32_t last, int zone);
    void AddCellStatistics(int32_t row, int32_t col, int zone);
    void ReleaseAll();

    double** Regions = nullptr;
    double** WaterInput = nullptr;
    double** Elevation = nullptr;
    double** GlacierFraction = nullptr;
    double** UnitGrid = nullptr;
    double** MasterGrid = nullptr;
    std::vector<double**> Landuse, LeafArea, Coverage, PotTranspiration, PotInterception, RealTranspiration;

    std::vector<OwnGrid> OwnGrids;
    std::vector<int> StorageIndex, EvaporationIndex, ThroughfallIndex;
    std::vector<zonalstatistic*> StorageStats, EvaporationStats, ThroughfallStats;

    // Tracers 1..T (entry 0 unused): input concentration, decay factor per step.
    std::vector<double**> TracerInput;
    std::vector<double> TracerDecay;

    // Section values.
    std::string ThroughfallName, EvaporationName, StorageName;
    int ThroughfallWrite = 0, EvaporationWrite = 0, StorageWrite = 0;
    std::string ThroughfallStat, EvaporationStat, StorageStat;
    int ThroughfallStatCode = 0, EvaporationStatCode = 0, StorageStatCode = 0;
};
