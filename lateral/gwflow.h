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
// even rows, each row in column order. A row reads only rows of the other
// colour, so the result does not depend on the number of threads.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonetable.h"
#include "soil/unsatzon.h"

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
    virtual void ComputeTransmissivities();
    virtual void WriteControlPointFluxes();
    virtual void ComputeFlows();
    // One sweep over layer k; returns the largest (unrelaxed) change.
    virtual double SorIteration(int k);
    // Cells of layer k whose head turned direction against the sub-step
    // before by more than the tolerance.
    virtual double CountOscillations(int k);
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
    void AddStepBalances();

    // Runs every row pass on the thread team whatever the grid size (tests).
    bool AlwaysParallel = false;

    // Model cell: zone not nodata and in this instance's region.
    bool ModelCell(int32_t row, int32_t col) const;
    double GlacierOf(int32_t row, int32_t col) const;
    double WidthX(int32_t row, int32_t col) const;
    double WidthY(int32_t row, int32_t col) const;
    double SubStepSeconds() const;

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

    // Row bodies of a sub-step.
    void ComputeLeakageRows(int k, int32_t row);
    void StartIterationRows(int k, int32_t row);
    void ComputeTransmissivitiesRows(int k, int32_t row);
    void SorSweepRows(int k, double dt, int32_t row);
    void ComputeFlowsRows(int k, int32_t row);
    void ComputeBalancesRows(int k, double dt, int32_t row);
    void SolveLayer(int k);
    void RecordControlPoint();
    double EffectiveThickness(int k, int32_t row, int32_t col) const;
    int RankOfZone(int32_t row, int32_t col) const;

    std::vector<OwnGrid> OwnGrids;
    // Per-row partials of a sweep, folded in row order.
    std::vector<double> RowLargest, RowRelaxSum, RowRelaxCount;
    std::vector<int64_t> RowUnsolvable;
    bool FrozenFromThawModel = false;  // "ThawDepthTMod" is the frozen-ground grid
};
