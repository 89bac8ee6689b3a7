#pragma once
// The set-up object of one model run (module "defaults"): compiles the control
// file, reads the model-wide sections and holds the model-wide settings until
// the application takes them over.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "framework/zonetable.h"
#include "setup/defltuzr_decomposition.h"
#include "setup/defltuzr_regions.h"
#include "framework/model_settings.h"
#include "parameters/landuse.h"
#include "parameters/multilayer_landuse.h"
#include "parameters/soil.h"
#include "setup/irrigation_table.h"
#include "parameters/defltuzr_spinup.h"
#include "parameters/defltuzr_landuse_grids.h"
#include "setup/defltuzr_coupling.h"
#include "framework/zonalstatistic.h"
#include <memory>

struct StatisticsTableEntry;

class defaultini : public modelobject {
public:
    // A compiled line holds at most this many characters before its line end:
    // the readers take a line in pieces of 1199 characters, line end included.
    static constexpr size_t MaxCompiledLineLength = 1198;
    // While symbols are substituted a line may grow beyond the final limit
    // (joining marks are removed afterwards), but never beyond this.
    static constexpr size_t MaxSubstitutionLength = 8192;

    // `status` receives 0, the code of an error raised inside, or 103.
    defaultini(int* status, DiagnosticsWriter* writer, const std::string& controlFilePath,
               StatisticsTableEntry* statisticsTable, int statisticsTableSize, int modelVariant,
               MemoryGrid* gridTable);
    ~defaultini() override;

    // Frees each buffer from AllocBuffer that is not null.
    virtual void FreeBuffers(void* first = nullptr, void* second = nullptr, void* third = nullptr,
                             void* fourth = nullptr, void* fifth = nullptr, void* sixth = nullptr);

    // Writes the copy of `sourcePath` with its "$set" symbols replaced, its
    // comments cut and its joining marks removed, under the name
    // "<sourcePath>_<process number>.$$$", which `targetPath` receives.
    // `targetPath` may be the object's own ControlFilePath.
    virtual void CompileSymbols(const std::string& sourcePath, std::string& targetPath);

    // Reads "[output_interval]" with its key lines, "[output_list]",
    // "[coordinates]", "[meteo_data_count]" and "[meteo_names]" from the file.
    // The values go into `receiver` (names and codes as references to arrays
    // this object owns), the third line of "[output_interval]" into
    // OutputSwitch and OutputSwitchRaw, the key values also into the base part.
    virtual void ReadOutputControl(const std::string& controlFilePath, ModelSettings& receiver);

    // Treats one line in place: cuts its comment, substitutes the references to
    // symbols 1 to `count` (names and values are 1-based) and removes the
    // joining marks "//". Lines holding "$set" keep everything but their
    // comment. `lineNumber` is only quoted in messages.
    virtual std::string& ReplaceSymbols(std::string& line, int lineNumber, const std::vector<std::string>& names,
                                        const std::vector<std::string>& values, int count);

    // Requires the section "[radiation_correction]".
    virtual void ReadRadiationCorrection();

    // Reads "[model_time]" into Settings (start and end date, normalised) and
    // sets February of the calendar from the end year.
    virtual void ReadModelTime();

    // Reads the optional "[soil_surface_groundwater_substeps]"; returns the
    // count (1 when absent) and keeps it in Substeps.
    int ReadSubsteps();

    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    int ModelVariant = 0;
    int InitStepCounter = 0;

    // The model-wide settings as far as they are known; the compiled-path
    // buffer is Settings.CompiledControlFile.
    ModelSettings Settings;

    // Third line of "[output_interval]": as read, and as the 0/1 switch.
    int OutputSwitchRaw = 0;
    int OutputSwitch = 0;

    int Substeps = 1;

private:
    [[noreturn]] void UndefinedSymbol(int lineNumber, const std::string& line);
    [[noreturn]] void LineTooLong(int lineNumber, const std::string& line, size_t length, size_t limit);
    [[noreturn]] void ValueOutOfRange(const std::string& description, long long value, const std::string& allowed);
    void WarnEqualSymbolValues(const std::vector<std::string>& names, const std::vector<std::string>& values,
                               int newest);
    void ReadOutputInterval(ModelSettings& receiver);
    void ReadOutputKeys(ModelSettings& receiver, const std::string& path);
    void ReadOutputList(ModelSettings& receiver);
    void ReadMeteoInputs(ModelSettings& receiver);

    // Arrays handed out by reference through the settings (1-based).
    std::vector<std::string> MeteoNameList;
    std::vector<int> OutputListCodeList;

    // ---- Model grids: zone grid (entry 1), elevation model (entry 2), the
    // standard grids (entries 3 to n + 2) and the variable grids after them.
    // Settings.SetupGridCount counts the entries in use after entries 1 and 2.
public:
    // Reads "[zone_grid]", "[elevation_model]" and "[standard_grids]" into the
    // grid table: names and options only, no grid file is read. Uses the open
    // control file, or opens ControlFilePath for the call.
    virtual void ReadStandardGrids();
    // Reads the header of entry 1's file (text, binary double or binary
    // single grid); columns and rows are the whole parts of the first two
    // values.
    virtual void ReadGridHeader(int32_t& columns, int32_t& rows, double& xllCorner, double& yllCorner,
                                double& cellSize, double& noData);
    // Reads "[variable_grids]" (opening the control file itself), reads or
    // creates every variable grid, raises the set-up grid count and returns
    // the number of variable grids.
    virtual int ReadVariableGrids();
    // Every time step, before the grids are written: re-reads the dated files
    // of periodic standard grids, and gives non-persistent grids their set-up
    // values back after their persistence steps.
    virtual void UpdatePeriodicGrids(int64_t hour, int64_t day, int64_t month, int64_t year);
    // Every time step, in this order: output by write code of the elevation
    // model, the standard and the derived grids, then of the variable grids.
    virtual void WriteStandardGrids(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void WriteVariableGrids(int64_t hour, int64_t day, int64_t month, int64_t year);
    // Largest value of a grid over the rows handled and the valid columns of
    // each row; the nodata value when no value is larger.
    virtual double GridMaximum(int index);
    virtual double GetMaxElevation();
    // Reports when no grid is named "ice_firn".
    virtual void check_ice_firn_grid();

    // Steps of the initialisation. Step 6 (before the region decomposition):
    // the raster from the zone-grid header, the zone grid read into entry 1.
    void ReadZoneGrid();
    // Step 8 (before ReadVariableGrids): reads or creates the elevation model
    // and every standard grid that holds no grid yet.
    void ReadOrCreateStandardGrids();
    // Step 12: keeps entry 2's grid as the elevation model and its maximum.
    void TakeElevationModel();
    // Matrices of set-up grids that DeleteModule (or the destructor) frees:
    // a new one over rows first to last and the model's columns, or one
    // allocated elsewhere (over the model's columns) whose ownership passes
    // to the set-up.
    double** NewOwnedMatrix(long firstRow, long lastRow);
    void AdoptOwnedMatrix(double** grid, long firstRow, long lastRow);

    double** ZoneGrid = nullptr;        // entry 1's grid
    double** ElevationModel = nullptr;  // entry 2's grid, from step 12
    double MaxElevation = 0;
    double** SoilStorageGrid = nullptr;  // the variable grid "soil_storage", if any
    int FirstVariableEntry = 0;          // 0 without variable grids
    int VariableGridCount = 0;
    std::vector<int> VariableGridReadFlags;  // 1-based

private:
    struct OwnedMatrix {
        double** Grid;
        long FirstRow;
        long LastRow;
        long Columns;
    };
    void ParseStandardGridLine(int k, const std::string& line);
    // A grid of `inside` where `isInside` holds for the zone-grid value and
    // nodata elsewhere, over the rows handled.
    template <typename InsideTest>
    double** CreateMaskedGrid(double inside, InsideTest isInside);
    void RereadPeriodicGrid(int index, int64_t hour, int64_t day, int64_t month, int64_t year);
    void ReleaseModelGrids();
    void FreeOwnedMatrices();

    std::vector<OwnedMatrix> OwnedMatrices;
    // The file each set-up grid was read from, by entry: an entry's own file
    // name becomes its output name when one was given.
    std::vector<std::string> InputFileNames;

    // ---- Derived grids of the set-up: cell geometry, coordinates, slope and
    // aspect, regions and their weights (steps 9 to 12, 18 and 20).
public:
    // Step 10: makes "CellSizeX", "CellSizeY" and "RelCellArea" exist, complete
    // and consistent; writes the ones it created.
    virtual void CheckCellSizes();
    // Step 11: creates, fills and writes "CoordX" and "CoordY".
    virtual void MakeCoordinateGrids();
    // Step 18: "slope_angle" and "slope_aspect" from the elevation model
    // where they are not given.
    virtual void make_Slope_and_Aspect();
    virtual void FillFromNeighbours(int32_t row, int32_t col, double** grid);
    // Step 20: the region grid, its ranking and the region weight grids.
    virtual void MakeRegionWeightGrids();
    virtual void RankRegions(int index);
    virtual void GenerateRegionWeights();

    // Cell geometry and coordinates (grid-table indices and matrices).
    int CellSizeXIndex = 0, CellSizeYIndex = 0, RelCellAreaIndex = 0, CoordXIndex = 0, CoordYIndex = 0;
    double** CellSizeXGrid = nullptr;
    double** CellSizeYGrid = nullptr;
    double** CoordXGrid = nullptr;
    double** CoordYGrid = nullptr;
    bool CellSizeXGiven = false, CellSizeYGiven = false, RelCellAreaGiven = false;
    // Regions: the table and the transition distance [m].
    RegionTable Regions;
    double RegionTransitionDistance = 0;

    // ---- Stepwise initialisation and export.
public:
    // Performs the step given by InitStepCounter; `done` is set after the last.
    virtual void InitStep(int* done);
    // Step 7: ranks the zone grid (entry 1) into the model's zone table.
    virtual void RankZonesMaster();
    // Zonal statistics of the standard grids with a statistics file.
    void InitGridStatistics();
    void ResetGridStatistics();
    void AddGridStatistics();
    void CloseGridStatisticsStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    void FlushGridStatistics();
    void CloseGridStatistics();
    // Hands the model-wide settings to the application.
    void ExportSettings(ModelSettings& receiver);
    // Reads "[SpinUp]" and classifies the cells into hydrologic response
    // units; the unit grids become the set-up's.
    SpinUpSettings ReadSpinUpAndCreateHRUs();

    ZoneTable ModelZones;                // step 7
    RegionDecomposition Decomposition;  // step 6
    int IrrigationSwitch = 0;            // step 5

    // ---- Parameter tables (steps 3 to 5); entry 0 of each holds no record of
    // its own. An empty table means the section was absent.
    std::vector<MultilayerLanduseType> MultilayerTable;
    std::vector<LanduseType> LanduseTable;
    std::vector<SoilType> SoilTable;
    std::vector<IrrigationRule> IrrigationTable;
    // Land-use layers (step 13): slot k holds the matrix of layer k, slot 0
    // the first layer too; empty without a land-use grid.
    std::vector<double**> LanduseLayers;
    int LanduseLayerCount = 0;
    // External coupling with another program (step 22 and every step).
    ExternalCoupling Coupling{*this};
    bool IsCoupled() const { return Coupling.IsCoupled(); }
    void GetCouplingParameters() { Coupling.GetCouplingParameters(); }
    void FindCouplingEntities(StatisticsTableEntry* table, int entries) {
        Coupling.FindCouplingEntities(table, entries, Settings.ZoneCount);
    }
    // Daily land-use parameter grids and phenology (step 14 and every step).
    std::unique_ptr<LanduseParameterGrids> LanduseGrids;
    virtual void generateMultiLayerParameterGrids(int layerCount);
    // A run that goes on from an earlier run's state: the daily land-use
    // parameters of its first step are those the earlier run held there.
    void ResumeLanduseParameters();
    // The dynamic phenology's section of the storage content file (empty
    // without it), and its reading at a warm start from the file `path`.
    std::string PhenologyStateText() const;
    void ReadPhenologyState(const std::string& path);
    virtual void CalcActualLanduseParameters(int64_t hour, int64_t day, int64_t month, int64_t year,
                                             int periodMinutes);

private:
    // Per standard grid with a statistics file: its writer and zone records.
    struct GridStatistics {
        int Index = 0;
        std::vector<ZoneRecord> Zones;
        std::unique_ptr<zonalstatistic> Writer;
    };
    std::vector<GridStatistics> StandardGridStatistics;
    ZoneRuns StatisticRuns;  // the cells the standard grids' statistics count, by row
    void Progress(const char* text);
    void CopyGeometryToSettings();
};
