#pragma once
// The daily land-use parameter grids of the set-up: for every cell and every
// land-use layer the parameters of the layer's land use at the current day
// and the cell's altitude, published in the grid table under fixed names
// ("root_depth1", "leaf_area_index1", ...), with the state of the dynamic
// phenology (daily and 7-day mean temperature, forcing and chilling sums,
// start days and the sample days of the fix points).
//
// The object belongs to the set-up object and works through it: the grid
// table, the geometry, the diagnostics writer, the model calendar, the date
// fields and the grid writers are those of the set-up's modelobject part.
// Grid-table entry 1 holds the zone grid and entry 2 the elevation model.
// A layer cell holds the position of its land use in the table; a value at or
// below nodata, or outside 1..N, means that the cell has no land use there.

#include <cstdint>
#include <array>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "parameters/landuse.h"

class modelobject;

class LanduseParameterGrids {
public:
    // Per-layer grids, in the order in which they are created for a layer;
    // the last four exist only with dynamic phenology.
    enum LayerGrid {
        RootDepthGrid,
        VegetationCoverageGrid,
        LeafAreaIndexGrid,
        CanopyResistanceGrid,
        InterceptionResistanceGrid,
        RoughnessLengthGrid,
        VegetationStartGrid,
        VegetationStopGrid,
        VegetationDurationGrid,
        ForcingSumGrid,
        PhenoStartGrid,
        ChillingSumGrid,
        ForcingThresholdGrid,
        LayerGridCount
    };
    static constexpr int StaticLayerGridCount = ForcingSumGrid;
    // Base names of the per-layer grids (the layer number follows).
    static const char* const LayerGridNames[LayerGridCount];

    explicit LanduseParameterGrids(modelobject& setup);
    // Frees what Release has not freed, without touching the grid table
    // (which may be gone by then): call Release at teardown.
    ~LanduseParameterGrids();
    LanduseParameterGrids(const LanduseParameterGrids&) = delete;
    LanduseParameterGrids& operator=(const LanduseParameterGrids&) = delete;

    // Finds or creates every grid, links the dynamic-phenology grids to the
    // land-use records of methods 3 to 6 and fills all grids for the start
    // date of the run. `landuseTable` holds the entries 0..N (the object keeps
    // a reference and writes to the records' phenology fields); `layerGrids`
    // holds the layer grids in the slots 1..layerCount (slot 0 unused), or is
    // null when the run has no land-use grid. Every grid created raises
    // `setupGridCount` by one. Failures: 12 ("albedo" missing, no free
    // grid-table entry), 22 (an existing sample-day or 7-day stack too small),
    // 150 and the codes of the land-use value operations.
    void generateMultiLayerParameterGrids(int layerCount, std::vector<LanduseType>& landuseTable,
                                          double** const* layerGrids, long startDay, long startMonth,
                                          long startYear, int& setupGridCount);

    // Once per time step: accumulates the daily mean temperature; at the last
    // step of a day (hour plus the truncated time shift = 24) logs the date,
    // updates the 7-day mean, advances the dynamic phenology, recomputes the
    // parameter grids and raises the vegetation-period flags of the grid
    // table on the table-wide balance days; in every step counts the
    // vegetation-period duration. `periodMinutes` is the length of the step.
    // Failures: 33 ("temperature" missing with dynamic phenology), 150 and the
    // codes of the land-use value operations.
    void CalcActualLanduseParameters(long hour, long day, long month, long year, int periodMinutes);

    // A run that goes on from the state an earlier run left: the parameter
    // grids take the values that run held at the first step (hour, day,
    // month, year), those of the last day that ended before it, instead of
    // the start date's. The vegetation-period grids keep their start values.
    void ResumeParameters(long hour, long day, long month, long year);

    // The state of the dynamic phenology that goes on from day to day, as the
    // section "[dynamic_phenology]" of the storage content file: the daily and
    // 7-day mean temperatures with their levels and day count, the leaf-fall
    // day, the forcing and chilling sums, start days and thresholds of every
    // layer, the sample days of the fix points, and every class's first-season
    // flag and start day. Empty without dynamic phenology.
    std::string PhenologyStateText() const;

    // Loads that section from the storage content file `path` (after the
    // start values are set). A file without it leaves the start values, with
    // a WARNING; a section from another configuration (grid size, land-use
    // layers or classes, fix points) or of a run without dynamic phenology is
    // code 71, naming what does not fit. The section is read whole before any
    // grid changes.
    void ReadPhenologyState(const std::string& path);

    // Advances the dynamic phenology of every own cell and layer by the day
    // of the year `dayOfYear` (model calendar).
    void UpdateDynamicPhenology(int dayOfYear, int layerCount);

    // Teardown: writes the sample-day stack of layer 1 as "<file name>_End"
    // when it was created here, then frees every grid created here and
    // releases its grid-table entry. Idempotent.
    void Release(bool writeAsciiGrids, bool writeDoubleGrids);

    int LayerCount() const { return Layers; }
    bool HasDynamicPhenology() const { return DynamicPhenology; }
    bool HasMultipleStartTimes() const { return MultipleStartTimes; }
    int LargestFixPointCount() const { return LargestFixPoints; }
    int DaysInMovingMean() const { return MovingMeanDays; }

private:
    struct CreatedGrid {
        int Index = 0;
        double** Data = nullptr;
        GridStack Stack = nullptr;
    };

    // Cell test shared by the loops: zone value and ownership.
    bool Own(int row, int col) const;
    bool InsideZone(int row, int col) const;
    // Table position of a layer value, or 0 for no land use.
    int Position(double layerValue) const;
    int FirstColumn(int row) const;
    int LastColumn(int row) const;
    // Cells from the first to the last column of every row.
    int64_t ValidCells() const;
    int ModelDayOfYear(long day, long month) const;

    // Grid-table entries.
    int TakeFreeEntry();
    double** FindOrCreateGrid(const std::string& name, int* index);
    GridStack FindOrCreateStack(const std::string& name, int levels, int* index, bool* created);
    void CreateMovingMean();
    void InitialSampleDays(int layer, GridStack stack, long startDay, long startMonth);

    void StartValuesOfLayer(int layer, long startDay, long startMonth, long startYear);
    void StartValuesOfCell(int layer, int row, int col, long startDay, long startMonth, long startYear);
    void DailyValuesOfCell(int layer, int row, int col, long day, long month, long year);
    // The parameter grids alone (no vegetation period) of one cell and layer.
    void DailyParametersOfCell(int layer, int row, int col, long day, long month, long year);
    void LookUpWeather();
    void UpdateMovingMean();
    void RaiseVegetationFlags();
    void CountVegetationDuration();
    void LogDayEnd(long hour, long day, long month, long year);
    void FreeCreated(bool releaseEntries);
    // The grids and stack levels of the dynamic phenology, in the order of
    // the state section: a grid (level -1) or a level of a stack.
    struct StateBlock {
        std::string Name;
        int Level;
        double** Rows;
        GridStack Stack;
    };
    std::vector<StateBlock> PhenologyStateBlocks() const;

    double& At(LayerGrid grid, int layer, int row, int col) const { return Grids[grid][layer][row][col]; }

    modelobject& Setup;
    std::vector<LanduseType>* Table = nullptr;
    int Layers = 0;
    std::vector<double**> LayerCells;  // 1..Layers
    double** Zone = nullptr;
    double** Elevation = nullptr;
    double** Regions = nullptr;  // "MPIRegions", or null: every zone cell is own

    std::array<std::vector<double**>, LayerGridCount> Grids;  // [grid][layer], slot 0 unused
    std::array<std::vector<int>, LayerGridCount> GridIndex;
    std::vector<GridStack> SampleDayStacks;  // "MultipleStartTimes" k
    std::vector<int> SampleDayIndex;

    double** Albedo = nullptr;
    double** EvaporationResistance = nullptr;
    double** TemperatureSum = nullptr;       // "TemperatureAVG"
    double** LeafFall = nullptr;             // "StartDayOfLeaveFall"
    double** MovingMean = nullptr;           // "TemperatureMOVAVG7"
    GridStack MovingMeanStack = nullptr;     // levels 1..7 daily means, level 0 cold days
    int AlbedoIndex = 0, EvaporationResistanceIndex = 0, TemperatureSumIndex = 0, LeafFallIndex = 0,
        MovingMeanIndex = 0;
    int FirstSampleDayIndexCreated = 0;  // entry of "MultipleStartTimes1" when created here

    bool DynamicPhenology = false;
    bool MultipleStartTimes = false;
    int LargestFixPoints = 0;
    int MovingMeanDays = 0;

    double** Temperature = nullptr;  // "temperature"
    double** MeanTheta = nullptr;    // "MeanThetaInRootZone", or null

    std::vector<CreatedGrid> Created;
    int NextFreeEntry = 1;
    int* GridCount = nullptr;  // the set-up grid count, while the grids are created
    bool Released = false;
};
