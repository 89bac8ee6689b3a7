#pragma once
// The layered groundwater flow model (section "[groundwater_flow]").
//
// A stack of L aquifer layers on the model grid. Layer 1 is the soil column:
// its top is the surface, its thickness the soil depth, and at the start of
// every sub-step its head is taken from the soil model's groundwater table.
// Every sub-step computes the leakage between the layers, the face
// transmissivities, solves each layer for its heads by Gauss-Seidel sweeps
// with over-relaxation (theta method in time), and derives the flows, the
// balance residuals and the mixed tracer concentrations. The head change of
// layer 1 goes back to the soil model as "baseflow" [m/s].
//
// The sweep runs in two colours of rows: all odd rows (in parallel), then all
// even rows, each row in column order; an even row starts as soon as its two
// odd neighbours are done. A row reads only rows of the other colour, so the
// result does not depend on the number of threads.
//
// A sub-step runs as one parallel region: the team goes through the passes
// and the sweeps of every layer together, with a barrier where a pass reads
// the rows of its neighbours, instead of starting a team for every pass and
// every colour of a sweep. Whatever is summed over cells is summed per row and
// folded in row order.

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonetable.h"
#include "soil/unsatzon.h"
#include "surface/glacier_share.h"

struct IrrigationRule;
struct StatisticsTableEntry;
class zonalstatistic;

// One buffered line of the control point file: the date and 6 L values
// (element 0 unused; layer k at 6 (k - 1) + 1 to 6 k).
struct ControlPointRecord {
    int64_t Year = 0, Month = 0, Day = 0, Hour = 0;
    double* Values = nullptr;
};

class gwflowclass : public teilmodellklasse {
public:
    // Section "groundwater_flow". `subbasins` is the soil model's subbasin
    // table, `subSteps` the count of "[soil_surface_groundwater_substeps]",
    // `spinUpSwitch` the first value of "[SpinUp]" (the model stays off when
    // it is not 0). The status is 0, or the code of a failure inside the
    // body (103 for anything but a code); failures of the base are thrown.
    gwflowclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable, int statisticsTableSize,
                const std::string& sectionName, const ModelSettings& settings, MemoryGrid* gridTable,
                IrrigationRule* irrigationTable, const SubbasinTable& subbasins, int subSteps, int spinUpSwitch = 0);
    ~gwflowclass() override;

    virtual void InitLakes(const std::string& sectionName);
    virtual void WriteControlPointFluxes();
    // The base step: date and progress line.
    virtual void BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void WriteOutput(int64_t hour, int64_t day, int64_t month, int64_t year);
    // Kept while on; the groundwater model does not read them.
    virtual void SetQg(RunoffTable qg);
    virtual void SetRiverflowTable(riverflow_table* table);
    virtual void FlushOutputs();

    void DeleteModule() override;
    void SetSubSteps(int n) override;
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    // One sub-step.
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    IrrigationRule* IrrigationTable = nullptr;
    SubbasinTable Subbasins;
    riverflow_table* RiverFlows = nullptr;
    RunoffTable Qg = nullptr;
    int SpinUpSwitch = 0;

    // --- Settings of "[groundwater_flow]" ---------------------------------
    int MethodLine = 0;          // read, not used
    int MaxSweeps = 0;           // per layer and sub-step
    double Tolerance = 0;        // largest head change of a sweep [m]
    double Alpha = 1;            // implicitness weight
    double SorParameter = 1;     // 0 or less: adaptive relaxation
    bool AdaptiveRelaxation = false;
    int GridReadCode = 0;        // 1: start heads and concentrations from files
    int Layers = 0;              // L
    int ControlRow = 0, ControlColumn = 0;
    std::string ControlPointFileName;
    int UsePondFlag = 0;
    bool PondFlagPresent = false;
    bool PondsUsed = false;
    int LakeFlowControl = 0;
    int LakeInitMethod = 0;
    // Per layer 1..L (entry 0 unused).
    std::vector<std::string> HeadFileName, OldHeadFileName, FlowXFileName, FlowYFileName, BalanceFileName;
    std::vector<int> HeadWriteCode, FlowXWriteCode, FlowYWriteCode, BalanceWriteCode;

    // --- Grids of the layers 1..L (owned) -----------------------------------
    std::vector<double**> Head, HeadStart, HeadPrevious, HeadIterate;  // h, h_s, h_p, h_i
    std::vector<double**> TransX, TransY, FlowX, FlowY, Balance, Leak, Top;
    // Water gained since the model started [m over the cell]: each
    // sub-step's head change times the storage coefficient the solver took
    // for it (SolverStorage).
    std::vector<double**> StoredWater;
    // Conductance of the face towards the next column (ConductX) and the
    // next row (ConductY) [m2/s], set with the transmissivities at the start
    // of each sub-step and read by every sweep (kept by the model alone).
    std::vector<double**> ConductX, ConductY;
    std::vector<int> HeadIndex, HeadStartIndex, FlowXIndex, FlowYIndex, BalanceIndex;

    // --- Input grids (owned by the grid table) ------------------------------
    std::vector<double**> Thickness, Kx, Ky, StorageCoeff, FixedHead, FixedInflow, Kolmation;
    double** Elevation = nullptr;
    double** Distance = nullptr;       // "groundwater_distance" [m]
    double** BaseflowGrid = nullptr;   // "baseflow" [m/s]
    int BaseflowIndex = 0;
    double** SoilTypes = nullptr;
    double** CellSizeX = nullptr;
    double** CellSizeY = nullptr;
    double** Glacier = nullptr;
    double** Regions = nullptr;
    double** Permafrost = nullptr;     // "PermafrostThawDepth" [m]
    double** FrozenSoil = nullptr;     // "frozenSoilInGroundwater" [m]
    double** SurfaceStorage = nullptr; // "SurfStorSiltingUp" [mm]
    double** Ponding = nullptr;        // "ponding_storage" [mm]
    double** LakeCodes = nullptr;

    // --- Work values of the solver ------------------------------------------
    int SweepCount = 0;
    double LargestChange = 0;
    double RelaxationSum = 0, RelaxedCells = 0;
    int64_t OscillatingCells = 0;
    double OscillationSum = 0, OscillationMax = 0;
    // Cells with a zero denominator met in the last sweep (kept unchanged).
    int64_t UnsolvableCells = 0;

    // Control point buffer.
    std::vector<ControlPointRecord> ControlRecords;  // 1..capacity
    std::vector<double> ControlValues;
    int64_t ControlCapacity = 0;
    int64_t ControlCount = 0;

    // Per tracer 1..T: the decay factor of one sub-step (1: no decay), the
    // concentration grids of the layers and the temporary matrix.
    std::vector<double> DecayPerSubStep;
    std::vector<std::vector<double**>> Concentration;  // [tracer][layer]
    std::vector<std::vector<int>> ConcentrationIndex;
    std::vector<std::vector<zonalstatistic*>> TracerStatistics;
    std::vector<double**> TracerTemporary;

    // Summed over the sub-steps of the current step [m3]: what the fixed
    // heads gave (negative: took), and what the iterative solution left in
    // the other cells; the balance residuals times the cell areas.
    double StepFixedHeadVolume = 0, StepResidualVolume = 0;

    // Runs every row pass on the thread team whatever the grid size (tests).
    bool AlwaysParallel = false;

    // Model cell: zone not nodata and in this instance's region.
    bool ModelCell(int32_t row, int32_t col) const {
        if (!ZoneGrid || ZoneGrid[row][col] == NoData) return false;
        return !Regions || Regions[row][col] == ProcessNumber;
    }
    double GlacierOf(int32_t row, int32_t col) const { return GlacierShareOf(Glacier, row, col); }
    double WidthX(int32_t row, int32_t col) const { return CellSizeX ? CellSizeX[row][col] : CellSize; }
    double WidthY(int32_t row, int32_t col) const { return CellSizeY ? CellSizeY[row][col] : CellSize; }
    double SubStepSeconds() const;
    // The storage coefficient of layer k at a cell for the sub-step that
    // starts from HeadStart: the layer's own while that head is at or above
    // the layer's top (confined), else layer 1's (the layer drains like the
    // soil above it). The solver, the balance and StoredWater all take it.
    double SolverStorage(int k, int32_t row, int32_t col) const {
        const size_t kk = static_cast<size_t>(k);
        return HeadStart[kk][row][col] >= Top[kk][row][col] ? StorageCoeff[kk][row][col] : StorageCoeff[1][row][col];
    }

private:
    struct OwnGrid {
        int Index = 0;
        double** Data = nullptr;
    };

    void Construct();
    void ReadSection();
    void CheckControlPoint();
    void ReadPondFlag();
    void ReadLayerLines();
    void LookUpInputs();
    void SetLayerOneThickness();
    double** NewGrid();
    double** Register(double** grid, const std::string& fileName, const std::string& name, int writeCode,
                      int* index = nullptr);
    void CreateGrids();
    void CreateControlPointFile();
    double StartHeadOf(int32_t row, int32_t col) const;
    void ReleaseAll();
    void ReleaseTracerStorage();
    bool Parallel() const;

    // What one sweep left in a row, and its fold over the rows.
    struct SweepPartial {
        double Largest = 0, RelaxSum = 0, RelaxCount = 0;
        int64_t Unsolvable = 0;
    };
    // Oscillating cells of a row.
    struct OscillationPartial {
        int64_t Count = 0;
        double Sum = 0, Largest = 0;
    };
    // How the sweeps of a layer ended in a sub-step.
    struct LayerSolution {
        int Sweeps = 0;
        SweepPartial Last;  // the fold of the last sweep
    };

    // Row bodies of a sub-step.
    void ComputeLeakageRows(int k, int32_t row);
    void StartIterationRows(int k, int32_t row);
    void ComputeTransmissivitiesRows(int k, int32_t row);
    void ConductancesRow(int k, int32_t r);
    void SorSweepRows(int k, double dt, int32_t row, SweepPartial* partials);
    void ComputeFlowsRows(int k, int32_t row);
    void ComputeBalancesRows(int k, double dt, int32_t row);
    void BaseflowRow(double dt, int32_t row);
    // Marks the cells outside the zones, takes the mixed concentrations and
    // sums the row's balance volumes.
    void FinishBalancesRow(int k, int32_t row);
    void StepBalanceRow(int k, int32_t row);
    void OscillationRow(int k, int32_t row, OscillationPartial* partials) const;

    // Run by every thread of a team (or by one thread alone), each on its
    // block of rows [begin, end); every thread returns the same values.
    void SweepInTeam(int k, double dt, SweepPartial* partials, int64_t serial, int32_t begin, int32_t end);
    SweepPartial FoldSweep(const SweepPartial* partials) const;
    // `serial` is the last sweep's number; it counts the layer's sweeps on.
    LayerSolution SolveLayerInTeam(int k, double dt, int64_t* serial, int32_t begin, int32_t end);
    void SubStepInTeam(double dt);
    // Hands every thread of a team of `threads` one block of neighbouring
    // rows, the blocks of about equal cost (model cells and columns).
    void SplitRowsIntoBlocks(int threads);
    // The rows [first, end) of the calling thread's block; splits the rows
    // anew (one thread, then a barrier) when the team size changed.
    std::pair<int32_t, int32_t> OwnRowBlock();

    // Row partials sized for the grid and the layers. Serial.
    void SizeRowPartials();
    // The layer's sweep and oscillation results in the members, and the log line.
    void FinishLayer(int k, const LayerSolution& solution);
    void FoldStepBalances();
    void RecordControlPoint();
    double EffectiveThickness(int k, int32_t row, int32_t col) const;
    int RankOfZone(int32_t row, int32_t col) const;

    std::vector<OwnGrid> OwnGrids;
    // Per-row partials, folded in row order: two sets of rows 0..NRows for the
    // sweeps (one sweep fills one set while the threads may still fold the
    // other), per layer for the oscillations, the sub-step's solutions, and
    // per layer and row the volumes of the fixed heads and of the residuals.
    std::vector<SweepPartial> SweepPartials;
    std::vector<OscillationPartial> OscillationPartials;
    std::vector<LayerSolution> Solutions;
    std::vector<double> RowFixedVolume, RowResidualVolume;
    // The sweeps of the run so far, and per row the last sweep an odd row
    // has finished (rows 0..NRows + 1).
    int64_t SweepSerial = 0;
    std::unique_ptr<std::atomic<int64_t>[]> OddRowDone;
    size_t OddRowDoneSize = 0;
    std::vector<int32_t> RowBlockStart;  // per thread: the first row of its block; last: NRows + 1
    bool FrozenFromThawModel = false;  // "ThawDepthTMod" is the frozen-ground grid
};
