#pragma once
// One entity of the regional superposition: an output grid that is, in every
// cell, the sum over up to three region layers and over the entity's inputs
// of input grid x the input's weight for the layer's region x the layer's
// transition weight. The entity registers its output grid in the grid table,
// writes it by its write code and keeps zonal statistics of it.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/zonetable.h"

class RegionalSuperposition;
class zonalstatistic;

// One input of an entity: a grid of the grid table with one weight per region.
struct SuperpositionInput {
    std::string GridName;
    int GridIndex = 0;
    double** Grid = nullptr;  // refreshed from the grid table in every step
    std::vector<int32_t> RegionCodes;  // as listed: the region codes in ascending order
    std::vector<double> Weights;       // rank k at index k-1
};

// A region layer: the grid of region codes and the grid of their transition
// weights.
struct RegionLayer {
    int RegionIndex = 0;
    int WeightIndex = 0;
    double** Regions = nullptr;
    double** Weights = nullptr;
};

class cSuperposition {
public:
    // Parses the block text (name, inputs, output keys), checks the region
    // lists and weights, creates and registers the output grid and the
    // statistics. Failures are FATAL entries and thrown codes.
    cSuperposition(RegionalSuperposition* owner, const std::string& blockText);
    virtual ~cSuperposition();
    cSuperposition(const cSuperposition&) = delete;
    cSuperposition& operator=(const cSuperposition&) = delete;

    // Writes the output grid by its write code and closes a statistics step.
    virtual void WriteOutput();
    virtual void FlushStatistics();
    // Stores the date, begins a statistics step and computes the output grid.
    virtual void Superpose(int64_t hour, int64_t day, int64_t month, int64_t year);
    // Frees the output grid with its grid-table entry and closes the
    // statistics.
    virtual void Release();

    std::string Name;
    std::vector<SuperpositionInput> Inputs;
    std::string OutputGridName;
    int WriteCode = 0;
    std::string OutputTable;
    int StatisticsCode = 0;
    int OutputGridIndex = 0;
    double** OutputGrid = nullptr;
    std::unique_ptr<zonalstatistic> Statistics;
    std::vector<ZoneRecord> StatisticsZones;  // ranks 0..zone count
    std::vector<RegionLayer> Layers;          // at most three
    int RegionCount = 0;
    int32_t Year = 0, Month = 0, Day = 0, Hour = 0;

private:
    void ParseBlock(const std::string& blockText);
    void ParseInput(std::string& body);
    void ParseOutputKeys(const std::string& rest);
    void CheckWeightSums();
    void CreateOutputGrid();
    void CreateStatistics();
    void TakeRegionLayers();
    // True for a cell the superposition computes and counts.
    bool Counted(int32_t row, int32_t col) const;
    // Computes the rows; answers the first cell (row-major) whose region code
    // has no rank, or {0, 0}.
    std::pair<int32_t, int32_t> SuperposeCells();
    int ZoneRankOf(int32_t row, int32_t col) const;
    // The entry of a grid that must exist with its values (code 33).
    int RequiredGrid(const std::string& name) const;
    [[noreturn]] void Fatal(const std::string& text, int code) const;

    RegionalSuperposition* Owner = nullptr;
    int32_t Rows = 0, Cols = 0;
    double NoData = -9999;
    double** ZoneGrid = nullptr;
    double** ProcessRegions = nullptr;  // "MPIRegions", when it exists
    double** Helper = nullptr;          // "MPIHelper", when it exists
    int32_t InstanceNumber = 0;
    std::vector<RowExtent> Extents;     // rows 0..Rows, kept within the grid
    const int* RegionRank = nullptr;
    int LargestRegionCode = 0;
    bool Released = false;
};
