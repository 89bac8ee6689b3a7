#pragma once
// The snow model: rain and snow, a solid and a liquid snow storage per cell,
// melt by one of fourteen methods, snow slides on steep slopes and permafrost
// thaw under snow-free ground. Static glaciers ("ice_firn") melt their ice
// and firn under the cell's own snow pack and feed three linear storages per
// subbasin whose outflow joins the subbasin's runoff.
//
// Files: snowmod.cpp (construction and the section), snowmod_grids.cpp (the
// grids and statistics of the set-up, permafrost), snowmod_wiring.cpp (the
// operations the application calls, the storage section, teardown),
// snowmod_physics.* (the kernels), snowmod_step.cpp (the time step),
// snowmod_slides.cpp (the snow slides of a step), snowmod_glacier.cpp (the
// glacier section, grids, melt and runoff storages; kernels in
// glacier_physics.h) and snowmod_geometry.cpp (the yearly change of the
// dynamic glaciers; records in glacierclass.h, kernels in
// glacier_geometry_physics.h).

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonetable.h"
#include "soil/unsatzon.h"
#include "surface/glacierclass.h"

struct StatisticsTableEntry;
class StorageContentStage;
class zonalstatistic;

// One cell of the elevation order of the slides.
struct ElevationOrderCell {
    int row = 0;
    int col = 0;
    double elevation = 0;
    static bool LessByElevation(const ElevationOrderCell& a, const ElevationOrderCell& b) {
        return a.elevation < b.elevation;
    }
};

// Cells with a zone value, lowest first (a stable sort: cells of equal
// elevation keep row-major order). `zone` and `elevation` are 1-based.
std::vector<ElevationOrderCell> SortByElevation(double** zone, double** elevation, int rows, int cols,
                                                double noData);

class schneemodellklasse : public teilmodellklasse {
public:
    // Section "snow_model". The status is 0; failures are thrown.
    schneemodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                       int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                       MemoryGrid* gridTable);
    ~schneemodellklasse() override;

    void DeleteModule() override;
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;

    // One evaluation of the snow method for one pack; answers the potential
    // melt [mm] of the evaluation, already weighted.
    virtual double CellSnowBalance(double T, double w, int row, int col, double* f, double* Ss, double* Sl,
                                   double* S, double* Tp, double* Ts, double* snowEvaporation, bool partitionGiven);
    virtual void FlushStatistics();
    // Kept only while on; may be null.
    virtual void SetCorrectedRadiationGrid(double** grid);
    // "snowstorage_solid" when on, else null.
    virtual double** GetSnowStorageGrid();
    // Glacier runoff goes into the soil model's `Qg`; when on, this also makes
    // the snow model ready.
    virtual void SetGlacierRunoffTarget(RunoffTable qg);
    virtual double SeasonalMeltFactor(int day, int month);
    virtual double SeasonalIceRadiationFactor(int day, int month);
    virtual double SeasonalSnowRadiationFactor(int day, int month);
    // [hPa] over ice at `t` [degC].
    virtual double SaturationVapourPressureIce(double t);
    // `sectionName` is "[lake_model]"; runs whether on or off.
    virtual void InitLakes(const std::string& sectionName);
    // `fileName` may be null (the soil model is off).
    virtual void ReadStorageContent(const std::string* fileName, int readMode);
    virtual void WriteStorageContent(bool append);
    [[noreturn]] virtual void StorageMismatchError(const std::string& description, double run, double file);
    virtual void ReadAndCompareStorageValue(double expected, const std::string& description);
    // The snow method (0 when off).
    virtual int GetSnowMethod();

    // The application's staged storage content file; without one the section
    // is staged and committed on its own.
    void SetStorageContentStage(StorageContentStage* stage) { StorageStage = stage; }

    // Runs the cell physics over the rows (parallel), with `releaseSlides`
    // each row's release of the slides, then the HRU copy.
    void SnowCellLoop(int64_t day, int64_t month, int64_t year, bool releaseSlides = false);
    void CopyHruMasterStates();
    // The slides of one step on their own: the release, every zone's walk
    // over its cells in elevation order (the zones side by side on the
    // threads; no slide crosses a zone border) and the receiving. The time
    // step runs the same parts within its passes over the rows.
    void SnowSlides();

    bool SlideMethod() const;
    bool EnergyBalanceMethod() const;
    bool DepositionMethod() const;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;

    // Settings of "[snow_model]".
    int method = 0;
    int readStorageGrids = 0;
    double maxDepositionSlope = 55, maxDepositionFactor = 1, minSlideSlope = 30, slideMassFrac = 0.01;
    double LWINcorr = 1, LWOUTcorr = 1;
    double T0R = 0, T0 = 0, CWH = 0, CRFR = 0, C0 = 0, C1 = 0, C2 = 0, z0 = 0, RMFMIN = 0, RMFMAX = 0;
    double ALBsnow_min = 0, ALBsnow_max = 0;
    double transzone = 0;
    double rmfMean = 0, rmfAmplitude = 0;
    double seasonalFrequency = 0.017214206, seasonalDayShift = -80;

    // Seasonal factors and day/night weights of the current step.
    double RMF = 0, Asnow = 0, Aice = 0;

    // Grids looked up (owned by their producers).
    double** elevationGrid = nullptr;
    double** precipitationGrid = nullptr;
    double** temperatureGrid = nullptr;
    double** nightTemperatureGrid = nullptr;
    double** windSpeedGrid = nullptr;
    double** vapourPressureGrid = nullptr;
    double** airHumidityGrid = nullptr;
    double** cloudinessGrid = nullptr;
    double** surfaceTemperatureGrid = nullptr;
    double** correctedGlobalRadiationGrid = nullptr;
    double** slopeAngleGrid = nullptr;
    double** slideFractionGrids[5] = {};  // 1 upper, 2 left, 3 right, 4 lower
    double** depositionIndexGrid = nullptr;
    double** albedoGrid = nullptr;
    double** snowEvaporationGrid = nullptr;
    double** correctedRadiationGrid = nullptr;
    std::vector<double**> landuseGrids;  // 1..nLayers
    int nLayers = 1;
    double** regionGrid = nullptr;  // "MPIRegions"
    double** hruGrid = nullptr;     // "HydrologicResponseUnits"
    double** masterHruGrid = nullptr;

    // State, slide and output grids (owned unless found in the grid table).
    double** solidStorageGrid = nullptr;
    double** liquidStorageGrid = nullptr;
    double** totalStorageGrid = nullptr;
    double** snowDaysGrid = nullptr;
    double** snowAgeGrid = nullptr;
    double** snowTempGrid = nullptr;
    double** surfTempGrid = nullptr;
    double** maxDepositionGrid = nullptr;
    double** elevOrderRowGrid = nullptr;
    double** elevOrderColGrid = nullptr;
    double** inputMassGrid = nullptr;
    double** mobileMassGrid = nullptr;
    double** depositionGrid = nullptr;
    double** snowFractionGrid = nullptr;
    double** rainFractionGrid = nullptr;
    double** snowcoverOutflowGrid = nullptr;
    double** meltFromSnowcoverGrid = nullptr;

    // Lakes.
    int lakeFlag = 0;
    double** lakeCodesGrid = nullptr;
    double** pondingStorageGrid = nullptr;

    // The snow model's own subbasin table on "zonegrid_soilmodel".
    double** subbasinGrid = nullptr;
    ZoneTable Subbasins;

    // Glacier runoff storages per subbasin position 1..n; empty without glaciers.
    std::vector<double> Qice_els, Qfirn_els, Qsnow_els;
    // Their inflows of the step (depths over the subbasin).
    std::vector<double> iceInflow, firnInflow, snowInflow;
    RunoffTable runoffTarget = nullptr;

    // Glaciers (section "[ice_firn]"); 0 and null without a glacier grid.
    int glacierMethod = 0;
    double** glacierFractionGrid = nullptr;  // "ice_firn": 1 ice, 2 firn
    double** glacierCodeGrid = nullptr;
    double** debrisGrid = nullptr;
    double** glacierRadiationGrid = nullptr;
    double** meltFromFirnGrid = nullptr;
    double** meltFromIceGrid = nullptr;
    int meltFromFirnIndex = 0, meltFromIceIndex = 0;
    double MF = 0, DDFsnow = 0, DDFfirn = 0, DDFice = 0;
    double asnowMean = 0, aiceMean = 0, asnowAmplitude = 0, aiceAmplitude = 0;
    double Asnow_min = 0, Aice_min = 0, Asnow_max = 0, Aice_max = 0;
    double kfirn_els = 0, ksnow_els = 0, kice_els = 0;
    double globalDebrisFactor = 1;
    struct SubbasinGlacierArea {
        bool hasGlacier = false;
        double glacierCells = 0;  // sum of the glacier fractions
        double freeCells = 0;     // sum of the ice-free fractions
    };
    std::vector<SubbasinGlacierArea> glacierAreas;  // 0..n
    zonalstatistic *statFirnMelt = nullptr, *statIceMelt = nullptr, *statSnowOnIceMelt = nullptr,
                   *statGlacierMelt = nullptr, *statSnowStorageNoGlacier = nullptr, *statFirnWE = nullptr,
                   *statMassBalance = nullptr, *statMassBalanceGlacier = nullptr;

    // Dynamic glaciers (methods 11 to 13): firn in levels, a snow pack on the
    // glacier part of each cell and the mass balance since the last update.
    int readGlacierGrids = 0, firn_levels = 0, GMBEvalMonth = 0, GMBEvalDay = 0;
    double firn_base = 0, deltafirnper100m = 0;
    double VAscaling = 28.5, VAexponent = 1.36, iceDensityRatio = 0.85;
    int numElevBands = 1, extraWeightFactorBand0 = 0;
    GridStack firnStack = nullptr;  // [row][col][level], level 0 the total
    double** firnWEGrid = nullptr;
    double** massBalanceGrid = nullptr;
    double** oldMassBalanceGrid = nullptr;
    double** glacierSolidStorageGrid = nullptr;
    double** glacierLiquidStorageGrid = nullptr;
    double** glacierTotalStorageGrid = nullptr;
    double** glacierSnowMeltGrid = nullptr;
    double** glacierSnowTempGrid = nullptr;
    double** glacierSurfTempGrid = nullptr;
    double** glacierSnowEvaporationGrid = nullptr;
    double** oldGlacierFractionGrid = nullptr;
    double** oldGlacierCodeGrid = nullptr;
    int firnStackIndex = 0, massBalanceIndex = 0, oldMassBalanceIndex = 0, glacierSolidIndex = 0,
        glacierLiquidIndex = 0, glacierTotalIndex = 0, glacierSnowMeltIndex = 0, glacierSnowTempIndex = 0,
        glacierSurfTempIndex = 0, glacierSnowEvaporationIndex = 0;
    std::vector<glacierclass> glaciers;
    std::map<int, size_t> glacierIndex;  // code -> position in `glaciers`
    bool DynamicGlaciers() const { return glacierMethod > 10; }
    // The glacier records from the grids; code 84 for a glacier in two subbasins.
    void BuildGlacierList();
    // Counts cells and area of the glacier `code` (-1: all) into their
    // records; with `widen` the elevation range spans all their cells.
    void SumGlacierAreasChoice(int code, bool widen);
    void SumGlacierAreas(int code) { SumGlacierAreasChoice(code, false); }
    void SumGlacierAreasAndRange(int code) { SumGlacierAreasChoice(code, true); }
    // Fills the bands of the glacier `code` (-1: all) with the cells whose
    // share may change: firn-free cells partly covered or at the glacier's
    // edge, else any such cell of the glacier.
    void FindShrinkCandidates(int code);
    // Attaches free cells beside fully covered cells of the glacier `code`
    // (share 0, its code) and puts them into its bands.
    void FindGrowthCandidates(int code);
    // The yearly change of every glacier's volume, area and cells.
    void UpdateGlacierGeometry();
    // Spreads the mass balance of the area the glacier `code` (-1: all) lost
    // over its remaining cells.
    void GlacierMeanMassBalance(int code);
    // Whether the step that ends at `hour` ends the evaluation day.
    bool GlacierEvaluationStep(int64_t hour, int64_t day, int64_t month) const;
    // The yearly update: firn one level down, the glacier snow as new firn,
    // the new geometry, the recount of the glacier shares per subbasin and
    // the mass balance renewed.
    void AnnualGlacierUpdate();
    // The glacier share of a cell, 0 to 1.
    double GlacierShare(int row, int col) const;
    // The cell's position in the snow model's subbasin table, 0 outside it.
    int SubbasinPosition(int row, int col) const;
    // Moves the glacier melt of the step through the runoff storages into
    // the target (main thread).
    void GlacierRunoffStorages();
    // Water held by the three glacier runoff storages of subbasin position
    // `s`: mm over the subbasin times the summed weight of its cells (0
    // without glaciers or before the first step).
    double StoredGlacierRunoff(int s) const;

    // Permafrost.
    bool permafrost = false;
    double** thawCoeffGrid = nullptr;
    double** snowFreeDaysGrid = nullptr;
    double** snowCoverDaysGrid = nullptr;
    double** thawDepthGrid = nullptr;
    double** rootDepthGrid = nullptr;
    int permafrostMethod = 0;
    double Min_Snow_Age_Refreeze = 0, Max_SWE_SnowFree = 0, reducedKsat = 1e-9;

    // Storage content file.
    std::unique_ptr<std::string> storageFileName;
    FILE* storageFile = nullptr;

    // Row range of the storage grids.
    int storageFirstRow = 0, storageLastRow = 0;
    bool storageAllRows = false;

    // Per-tracer decay factor of one step and input grid, 1-based.
    std::vector<double> TracerDecay;
    std::vector<double**> TracerInput;

    // Grid-table entries of the state and output grids (0 when absent).
    int solidIndex = 0, liquidIndex = 0, totalIndex = 0, daysIndex = 0, ageIndex = 0, snowTempIndex = 0,
        surfTempIndex = 0, inputMassIndex = 0, mobileMassIndex = 0, depositionIndex = 0, snowFractionIndex = 0,
        rainFractionIndex = 0, outflowIndex = 0, meltIndex = 0, maxDepositionIndex = 0, orderRowIndex = 0,
        orderColIndex = 0;

    // Statistics writers (null when not made).
    zonalstatistic *statOutflow = nullptr, *statMeltOnly = nullptr, *statSnowDays = nullptr, *statSnowAge = nullptr,
                   *statSnowFraction = nullptr, *statRainFraction = nullptr, *statSnowStorage = nullptr,
                   *statAlbedo = nullptr, *statSnowTemp = nullptr, *statSurfTemp = nullptr,
                   *statInputMass = nullptr, *statMobileMass = nullptr, *statDeposition = nullptr,
                   *statThawDepth = nullptr;

private:
    struct OwnGrid {
        int Index = 0;
        double** Data = nullptr;
    };
    // Section values: grid names, write codes, statistics names and codes.
    struct OutputLine {
        std::string Grid;
        int WriteCode = 0;
        std::string Statistics;
        int StatisticsCode = 0;
    };

    void Construct();
    void ReadSection();
    void ReadRealLine(double& target, const std::string& description);
    void ReadIntegerLine(int& target, const std::string& description);
    void ReadWordLine(std::string& target, const std::string& description);
    void ReadStatisticsLine(OutputLine& line, const std::string& description);
    void ReadSlideSettings();
    void CreateStatistics();
    void LookUpInputs();
    void CreateStateGrids();
    void CreateSlideGrids();
    void CreateOutputGrids();
    void SetUpPermafrost();
    void ReadGlacierSection();
    void CreateGlacierGrids();
    void ReleaseAll();

    // Registers `grid` in the next entry from `NextEntry`; owned by the snow model.
    int Register(double** grid, const std::string& fileName, const std::string& name, int writeCode);
    double** NewGrid(double activeValue, double inactiveValue);
    double** ReadStateGrid(const std::string& fileName, bool temperature);
    zonalstatistic* MakeStatistics(const OutputLine& line, int precision, const std::string& title);
    // A writer over the snow model's own subbasin table.
    zonalstatistic* MakeSubbasinStatistics(const OutputLine& line, int precision, const std::string& title);
    // The glacier branch of a cell's step; `ss` and `sl` are the cell's pack.
    double GlacierCell(int row, int col, double T, double* ss, double* sl, double nightWeight, double dayWeight);
    // The glacier statistics of a step: prepared, gathered row by row in the
    // statistics pass (false: no memory for the row's melt terms) and
    // finished with the per-subbasin melt sums.
    void StartGlacierStatistics();
    bool AddGlacierStatisticsRow(int row);
    void FinishGlacierStatistics(bool outOfMemory);
    bool ZoneCell(int row, int col) const { return ZoneGrid && ZoneGrid[row][col] != NoData; }
    bool ActiveCell(int row, int col) const {
        return ZoneCell(row, col) && (!regionGrid || regionGrid[row][col] == ProcessNumber);
    }
    void ComputeRow(int row, int64_t day, int64_t month, int64_t year, double nightWeight, double dayWeight);
    // The statistics pass over the rows; with `slides` every zone's walk of
    // the slides before it and each row's receiving first.
    void AddStatistics(bool slides);
    void AddStatisticsRow(int row);
    void AddTracerStatisticsRow(int row, const std::vector<size_t>& tracers);
    void WriteGrids();
    [[noreturn]] void ThrowFatal(const std::string& text, int code);

    StorageContentStage* StorageStage = nullptr;
    int NextEntry = 0;
    std::vector<OwnGrid> OwnGrids;

    OutputLine rainLine, snowLine, snowDaysLine, snowAgeLine, albedoLine, outflowLine, meltOnlyLine, solidLine,
        liquidLine, totalStatLine, totalLine, snowTempLine, surfTempLine, inputMassLine, mobileMassLine,
        depositionLine, thawDepthLine;
    OutputLine firnLine, iceLine, glacierMeltLine, snowOnIceLine, noGlacierLine, firnStackLine, firnStatLine,
        massBalanceLine, oldMassBalanceLine, massBalanceStatLine, massBalanceGlacierStatLine, glacierSolidLine,
        glacierLiquidLine, glacierTotalLine, glacierMeltSnowLine, glacierSurfTempLine, glacierSnowTempLine,
        glacierEvaporationLine;
    void CreateDynamicGlacierGrids();
    // The firn walk of a dynamic glacier cell: firn melt `F` taken from
    // level 1 down, what the levels cannot give counted as ice melt.
    void MeltFirnLevels(int row, int col, double F);
    // Private per-subbasin sums of the step: melt x glacier share x cell area.
    // The areas depend on the set-up grids only and are summed once.
    std::vector<double> IceSum, FirnSum, SnowOnIceSum, AreaSum;
    bool AreaSumDone = false;
    // The glacier cells' melt terms of one row in column order, gathered by
    // the row's thread and added to the sums above in row order.
    struct GlacierMeltTerms {
        size_t Subbasin = 0;
        double Firn = 0, Ice = 0, SnowOnIce = 0;
    };
    std::vector<std::vector<GlacierMeltTerms>> GlacierRowTerms;  // rows 0..NRows
    // The writers of the glacier statistics that are on in this step (else null).
    struct GlacierWriters {
        zonalstatistic* NoGlacier = nullptr;
        zonalstatistic* Zero[5] = {};     // take a cell without glacier as 0
        zonalstatistic* Melt[3] = {};     // firn, ice, snow on ice
        zonalstatistic* Dynamic[3] = {};  // firn, mass balance, mass balance of the glacier part
    };
    GlacierWriters GlacierWritersOn;

    // The walk of the slides, built once from the elevation order. The zone
    // cells are numbered zone after zone, each zone's cells in the order of
    // the walk; a slide passes snow only between neighbours of one zone, so
    // the zones' walks are independent of each other.
    struct SlideState {
        double Deposition = 0, Mobile = 0, Capacity = 0, Input = 0;
    };
    struct SlideLinks {
        double Share[4] = {};  // of the mobile mass, per neighbour (upper, left, right, lower)
        int32_t Target[4] = {-1, -1, -1, -1};  // the neighbour's number when it is of the cell's zone
        bool Spreads = false;  // some share: the cell passes its mass on
    };
    struct SlideWalk {
        std::vector<int32_t> Number;     // by (row - 1) * NCols + col - 1; -1 outside the zones
        std::vector<int32_t> ZoneBegin;  // the numbers of zone z: ZoneBegin[z] to ZoneBegin[z + 1] - 1
        std::vector<int32_t> Schedule;   // the zones, most cells first
        std::vector<SlideState> State;   // by number
        std::vector<SlideLinks> Links;   // by number
    };
    SlideWalk Slides;
    void BuildSlideWalk();
    // The walk of zone `k` of the schedule; zones run side by side on the threads.
    void WalkSlideZone(int k);
    // Clears the slide grids of row `row`, releases the snow of its steep
    // cells and gathers their numbered state.
    void ReleaseSlideRow(int row);
    // Hands the walk's result to the grids of row `row` and puts the snow
    // that came to rest on the packs.
    void ReceiveSlideRow(int row);
    std::vector<int> HruMasterRow, HruMasterCol;  // by unit number
};
