#pragma once
// Surface routing: water on the soil surface between cells, and direct
// runoff and interflow through travel-time zones to the subbasin outlets.
//
// In every sub-step the surface storage takes over the soil model's direct
// runoff and, in short iterations of an adaptive sub time step, the water
// flows from cell to cell over the elevation model until it lies on a river
// cell, where it is handed back to "directflow". The direct runoff of the
// river cells and the soil model's interflow are summed per subbasin into
// travel-time zones, shifted one zone towards the outlet every step, and what
// leaves zone 1 passes one linear storage each; with the soil model's
// baseflow they make up the runoff table `Qg` that the routing takes.
//
// A sub-step runs as one parallel region: the take-over, every iteration and
// the closing of the cells over the rows (each row writes only its own
// cells), then the zone sums over groups of zones: every zone adds its cells
// in row order, as one thread adding the whole grid would.
//
// Files: surfrout.cpp (construction, tracer set-up, wiring, teardown),
// surfrout_step.cpp (the sub-step), surfrout_zones.cpp (zones and outlet
// runoff), surfrout_state.cpp (the storage content section),
// surfrout_physics.* (kernels).

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/teilmod.h"
#include "lateral/surfrout_physics.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_runoff.h"

struct StatisticsTableEntry;
class zonalstatistic;
class StorageContentStage;

class surfaceroutingclass : public teilmodellklasse {
public:
    // Section "SurfaceRoutingModel"; `subSteps` is the count of
    // "[soil_surface_groundwater_substeps]". The status is 0, or the code of
    // a failure inside the body (103 for anything but a code); failures of
    // the base are thrown. A spin-up run (`spinUpSwitch` not 0) has the
    // model off.
    surfaceroutingclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                        int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                        MemoryGrid* gridTable, int subSteps, int spinUpSwitch = 0);
    ~surfaceroutingclass() override;

    // The base tracer set-up, the travel-time zones, the tracer grids and the
    // runoff tables; the storage content section when the read code is 1.
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    void SetSubSteps(int n) override;

    // The soil model's tables, kept while on.
    virtual void SetQBb(RunoffTable qbb);
    // The table the snow model writes a step's glacier runoff into: it joins
    // the subbasins' runoff here, and the table is emptied.
    virtual void SetGlacierRunoff(RunoffTable glacier);
    virtual void SetKelsqd(double* kelsqd);
    virtual void SetKelsqi(double* kelsqi);
    virtual void SetDirectRunoffConcArrays(RunoffTable qd);
    virtual void SetInterflowConcArrays(RunoffTable qi);
    // Null when off. When on, a table that does not exist yet ends the run
    // (code 57).
    virtual RunoffTable GetQg();
    // What flowed onto the cell from its neighbours less what flowed off it
    // over the current model step [mm over the cell]; summed over a set of
    // cells it is the flow across the set's border.
    double StepNetInflow(int32_t row, int32_t col) const {
        const size_t at = static_cast<size_t>(row) * static_cast<size_t>(NCols + 2) + static_cast<size_t>(col);
        return at < NetInflow.size() ? NetInflow[at] : 0.0;
    }
    // The soil model's subbasin table: the ranks of this model index its
    // tables, so the subbasin codes must be the same (else code 3).
    void CheckSubbasins(const SubbasinTable& soil);
    // Where the storage content section is staged (else a stage of its own).
    void SetStorageContentStage(StorageContentStage* stage) { StorageStage = stage; }

    virtual void BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    // One sub-step of surface flow with its zone sums.
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    virtual void RouteZonesToSubbasins(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void FlushStatistics();
    // End of run in place of DeleteModule. `append` is 1 when an earlier
    // section has already created the storage content file.
    virtual void FinishRun(int append);

    // The storage content section.
    virtual void WriteStorageContent(int append);
    virtual void ReadStorageContent();
    [[noreturn]] virtual void StorageMismatchError(const std::string& description, double run, double file);
    virtual void ReadAndCompareStorageValue(double expected, const std::string& description);
    // The flow velocities that start the next step's velocity iteration: the
    // block after the linear storages, and its reader (no block: all 0).
    std::string VelocityBlock() const;
    void ReadVelocityBlock();

    // Geometry and flow of one cell (the step's parallel phases call them).
    int SteepestWaterSurfaceSlope(int32_t row, int32_t col, double* slope, double* angle);
    void OutflowWeights(int32_t row, int32_t col, int* kind, int iteration, double slope, double angle);
    void DirectionalVelocityAndFlux(int32_t row, int32_t col, int iteration, int mark);
    double ShortestTravelTime();
    void ComputePlanCurvature();
    void FillFromNeighbours(int32_t row, int32_t col, double** grid);
    virtual void InitFlowTimeZones();

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    RunoffTable QBb = nullptr;
    RunoffTable GlacierRunoff = nullptr;
    double* Kelsqd = nullptr;
    double* Kelsqi = nullptr;

    // Settings.
    int FlowpathMethod = 0;
    std::string StatFile[5];  // QDSR, QISR, QBSR, QGSR, storage
    int StatCode[5] = {};
    std::string VelocityStackFile, FluxStackFile;
    int VelocityStackCode = 0, FluxStackCode = 0;
    surfrout::VelocityControls Controls;
    int ReadCode = 0;
    std::string StorageFile;  // with "_" and the instance number

    // Grids and stacks.
    GridStack Velocity = nullptr, Fluxes = nullptr, Weights = nullptr;
    double** Depth = nullptr;       // "SurfaceRoutingTotalInput" [m]
    double** Curvature = nullptr;   // "Plancurvature"
    double** QIn = nullptr;         // [mm] of the last iteration
    double** QOut = nullptr;
    double** CriticalShear = nullptr;
    double** Elevation = nullptr;
    double** Surface = nullptr;     // "SurfStorSiltingUp" [mm]
    double** DirectFlow = nullptr;  // "directflow" [mm]
    double** InterFlow = nullptr;   // "interflow" [mm]
    double** RiverDepth = nullptr;
    double** RiverWidth = nullptr;
    double** FlowTimes = nullptr;
    double** Regions = nullptr;
    std::vector<double> NetInflow;  // StepNetInflow of every cell, (NCols + 2) per row
    // "ice_firn": the glacier share of a cell of a glacier of fixed extent
    // (null without one); the soil model works on the rest of the cell.
    double** IceShare = nullptr;
    double IceFreeShare(int32_t row, int32_t col) const;
    bool SiltingUpRunoff = false;   // "DirectRunoffSiltingUp" exists

    // Zones and runoff tables.
    std::vector<double> maxzeit;  // per subbasin rank
    unsatzon::FlowTimeQueues zoneFZT_QD, zoneFZT_QI;
    ExchangeTable<double> QD, QDd, QI, QIi;
    std::vector<double> TracerDecay;  // per-sub-step factor of this model, tracers 1..t

    // Water handed to river cells in the last sub-step [mm x weight], and
    // the take-over, for balance checks.
    double LastTakeOver = 0;
    double LastHandedOver = 0;

private:
    struct OwnGrid {
        int Index = 0;
        double** Data = nullptr;
        GridStack Stack = nullptr;
        int Levels = 0;
        bool Halo = false;
    };

    void Construct(int spinUpSwitch);
    void ReadSection();
    void RegisterGrids();
    void CreateStatistics();
    void ReleaseAll();
    int NextFreeEntry(int from);
    [[noreturn]] void NoFreeGrid();
    double** OwnedGrid(int entry, const std::string& name, double modelValue, bool halo, bool ownWhenAbsent);
    GridStack OwnedStack(int entry, const std::string& name, const std::string& file, int code, bool halo);

    bool IsModelCell(int32_t row, int32_t col) const {
        if (ZoneGrid[row][col] == NoData) return false;
        return !Regions || Regions[row][col] == ProcessNumber;
    }
    bool IsRiverCell(int32_t row, int32_t col) const { return RiverDepth[row][col] > 0 && RiverWidth[row][col] > 0; }
    bool ValidNeighbour(int32_t row, int32_t col, int d) const;  // exists, zone value above 0
    bool ExistingNeighbour(int32_t row, int32_t col, int d) const;  // exists, zone value not nodata
    double OwnDepthForGeometry(int32_t row, int32_t col) const;
    double NeighbourDepth(int32_t row, int32_t col, int d) const;
    int LanduseOf(int32_t row, int32_t col) const;
    int ZoneOfCell(int32_t row, int32_t col, int subbasin) const;
    double CellWeight(int32_t row, int32_t col) const;

    // The cells of every travel-time zone of every subbasin (a "key": the
    // zones of subbasin 1, then those of subbasin 2, ...) and of every
    // subbasin, each in row order, and the groups of them that the threads
    // take one at a time. Built at the first sub-step and again whenever a
    // cell changes its zone.
    struct ZoneCell {
        int32_t Row = 0, Col = 0;
    };
    struct ZoneSumTask {
        int Subbasin = 0;           // above 0: the storage statistic of this subbasin
        int FirstKey = 0, EndKey = 0;  // else the keys FirstKey to EndKey - 1
    };
    struct ZoneCellLists {
        std::vector<int> CellKey;  // per cell, (row - 1) * NCols + col - 1: key + 1, 0 none, -1 not yet known
        std::vector<int> KeyBase;  // per subbasin 1..n: the key of its zone 1; n + 1: the number of keys
        std::vector<size_t> KeyStart;  // keys 0..count: where a key's cells begin in KeyCells
        std::vector<ZoneCell> KeyCells;
        std::vector<size_t> SubbasinStart;  // subbasins 1..n + 1
        std::vector<ZoneCell> SubbasinCells;
        std::vector<int> KeySubbasin;  // per key
        std::vector<ZoneSumTask> Tasks;
        std::vector<char> RowChanged;
        bool Built = false;
    };

    void TakeOverRow(int32_t row);
    void ComputeFluxesRow(int32_t row, int iteration, int mark, double dt);
    double ShortestTravelTimeRow(int32_t row) const;
    void CheckLanduse();
    void LimitOutflowRow(int32_t row, double dt);
    void SnapshotRow(int32_t row);
    void ApplyFluxesRow(int32_t row, double dt);
    void GatherInflow(int32_t row, int32_t col, double dt, double* loads);
    // Take-over and iterations of a sub-step, the closing of every cell and
    // the zone sums, run by every thread of a team (or by one thread alone).
    void RouteInTeam();
    // Hands every thread of a team of `threads` one block of neighbouring
    // rows, the blocks of about equal cost (model cells and columns).
    void SplitRowsIntoBlocks(int threads);
    // The rows [first, end) of the calling thread's block.
    std::pair<int32_t, int32_t> OwnRowBlock() const;
    // Passes the tracer concentrations on, turns the river cells' tracer
    // loads into concentrations and notes the zone of every cell.
    void CloseCellsRow(int32_t row);
    int KeyOfCell(int32_t row, int32_t col) const;
    // Key bases from the subbasins' zone counts; forgets the lists when they change.
    void PrepareZoneCells();
    void BuildZoneCells();
    // The lists hold every cell in the zone it has now.
    bool ZoneCellsCurrent() const;
    void AddZoneSumsInTeam();
    void RethrowZoneSumFailure();
    void AddKeyZoneSums(int key, double nsub);
    void AddStorageStatistic(int subbasin);

    std::vector<OwnGrid> OwnGrids;
    ZoneCellLists ZoneCells;
    std::vector<double> RowShortest;  // shortest travel time of every row's cells
    std::vector<int32_t> RowBlockStart;  // per thread: the first row of its block; last: NRows + 1
    // Per row 0..NRows + 1: the last iteration whose fluxes, and whose
    // exchange, the row has finished; iterations are counted over the run.
    std::unique_ptr<std::atomic<int64_t>[]> FluxesDone, ExchangeDone;
    size_t RowMarksSize = 0;
    int64_t IterationSerial = 0;
    std::vector<std::exception_ptr> ZoneSumFailures;  // per task of the zone sums
    zonalstatistic* Stats[5] = {};
    int LayerCount = 1;
    std::vector<double**> Landuse;
    std::vector<double**> TracerQD, TracerQI, TracerSurface;  // 1..t
    std::vector<double**> TracerSnapshot;                     // start-of-phase concentrations, 1..t
    std::vector<int> TracerSurfaceEntry;  // grid-table entry of an own surface-water grid, else 0
    std::vector<int> TracerSharedEntry;   // grid-table entry of the silting-up model's grid it uses, else 0
    bool ConcentrationsFromSiltingUp = false;
    ExchangeTable<double> Qg;
    StorageContentStage* StorageStage = nullptr;
    FILE* StateFile = nullptr;  // the storage content file while it is read
    std::string StatePath;      // its path
};
