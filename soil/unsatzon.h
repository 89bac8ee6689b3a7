#pragma once
// The unsaturated-zone (soil) model and the tables it hands to the lateral
// models and the routing: the runoff tables per subbasin, the river-flow
// records and its subbasin table.
//
// The constructor does the whole set-up (settings, subbasin table, output
// files, grids and the initial soil state); each sub-step advances every
// soil column (unsatzon_cell.cpp, unsatzon_step.cpp). A step turns the cells' runoff
// into runoff per subbasin through flow-time zones and linear storages
// (unsatzon_runoff*.cpp, unsatzon_endstep.cpp), copies response-unit masters
// (unsatzon_hru.cpp) and writes the control point (unsatzon_points.cpp).

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "framework/state_checks.h"
#include "framework/teilmod.h"
#include "framework/zonalstatistic.h"
#include "framework/zonetable.h"
#include "soil/unsatzon_runoff.h"
#include "soil/unsatzon_tracer_physics.h"

struct IrrigationRule;
class StorageContentStage;
namespace unsatzon {
struct ColumnWork;
}
class SoilType;
struct StatisticsTableEntry;
namespace unsatzon {
struct HeatWork;
}

// Rows 0..rows-1 of `columns` values each, carved from one zero-filled block.
// Rows() hands the table out as row pointers (null while it is not allocated);
// the owner keeps it until Release.
template <typename T>
class ExchangeTable {
public:
    void Allocate(int rows, int columns) {
        Block.assign(static_cast<size_t>(rows) * static_cast<size_t>(columns), T{});
        RowPointers.assign(static_cast<size_t>(rows), nullptr);
        for (int r = 0; r < rows; ++r)
            RowPointers[static_cast<size_t>(r)] = Block.data() + static_cast<size_t>(r) * columns;
    }
    void Release() {
        Block.clear();
        Block.shrink_to_fit();
        RowPointers.clear();
        RowPointers.shrink_to_fit();
    }
    T** Rows() { return RowPointers.empty() ? nullptr : RowPointers.data(); }
    const T* const* Rows() const { return RowPointers.empty() ? nullptr : RowPointers.data(); }

private:
    std::vector<T> Block;
    std::vector<T*> RowPointers;
};

// Runoff per subbasin (`Qg`, `QD`, `QI`, `QBb`): row 0 water [mm per step],
// rows 1..T the tracer concentrations; columns 0..n by subbasin rank (column
// 0 unused).
using RunoffTable = double**;

// One record per subbasin rank 1..n (record 0 unused). The routing fills the
// flows and what it still owes the soil columns, the soil columns add their
// river withdrawal, irrigation lowers the flows. It exists only while the
// soil model and the groundwater model are on.
struct riverflow_table {
    double flow_mm[10] = {};  // routed outflow: [0] water [mm per step], [1..9] tracer concentrations
    double flowm3s = 0;       // discharge [m3/s]
    double speed = 0;         // flow velocity [m/s]
    double area = 0;          // channel catchment area [km2]
    double withdrawn = 0;     // river water taken in the step [m3/s]
    double reserved = 0;      // kept 0
    int32_t description = 0;  // routing description that routes the subbasin; 0: not routed
    int32_t channel = 0;      // channel index within that description
    double carried = 0;       // river water the routing still owes the soil columns from earlier steps [m3/s]
};

// The soil model's zone table of subbasins, handed to irrigation, groundwater
// and routing in place of the application's zone table. A view: the records
// and the code-to-rank table stay owned by whoever built them.
struct SubbasinTable {
    ZoneRecord* Records = nullptr;  // ranks 0..Count; record 0 holds the total area [km2] in `rel`
    int* CodeToRank = nullptr;      // codes 0..LargestCode
    int Count = 0;                  // number of subbasins n
    int LargestCode = 0;
};

// Per subbasin rank, when glaciers are modelled.
struct GlacierSubbasinRecord {
    uint8_t hasGlacier = 0;      // 1: some cell has a glacier fraction above 0
    double glacierSum = 0;       // sum of the glacier fractions of the cells
    double unglacierisedSum = 0; // sum of 1 - fraction (1 for a cell without glacier)
};

// One point-output buffer: `Capacity` rows, each with its dated values.
struct ControlPointBuffer {
    std::vector<DatedRow> Rows;    // rows 1..Capacity (row 0 unused)
    std::vector<double> Values;    // one block for all rows
    int64_t Capacity = 0;
    int64_t Fill = 0;
    int ValuesPerRow = 0;
    void Allocate(int valuesPerRow);
};

// One solute of the soil model: its stack (level 0 the soil surface, levels
// 1..L the layers; concentrations for an evaporating solute, amounts
// [concentration x mm] for the others), its grids, its sums per subbasin and
// its point buffer.
struct SoilTracer {
    std::vector<ZoneRecord> ZoneSums;  // subbasin ranks 0..n, for the statistics
    std::unique_ptr<zonalstatistic> Statistics;
    std::string StatisticsFileName, StackFileName, PointFileName;
    int StackIndex = 0, QDIndex = 0, QIIndex = 0;
    GridStack Stack = nullptr;
    double** Concentration = nullptr;  // shares the stack's entry
    // Direct runoff and interflow of the sub-step: the concentration of an
    // evaporating solute, the amount of the others.
    double** QDConc = nullptr;
    double** QIConc = nullptr;
    double** Input = nullptr;        // concentration of the water input (not owned)
    double** SiltingFlux = nullptr;  // of the silting-up water (not owned); none: the input's
    double** Groundwater = nullptr;  // the groundwater model's layer-1 concentration (not owned)
    double DecayPerSubStep = 1;
    // Baseflow of the sub-step per cell: load and water (row-major, NRows + 1 by NCols + 1).
    std::vector<double> BaseflowLoad, BaseflowWater;
    // Baseflow per subbasin rank over the step: flow-weighted load and flow.
    std::vector<double> BaseSum, BaseWeight;
    std::vector<DatedRow> PointRows;  // 1..PointCapacity
    std::vector<double> PointValues;
    int64_t PointCapacity = 0, PointFill = 0;
};

// Rows a point buffer of `values` doubles per row holds: 2097152 bytes at
// 8 bytes a value and 32 a row, at least 1.
int64_t ControlPointCapacity(int values);

// The header line of a point file of per-layer values: "YY\tMM\tDD\tHH\t",
// the quantity with "[row][column]" and the note, then "[l]\t" for layers
// first..last.
std::string LayerPointHeader(const std::string& quantity, int row, int column, int firstLayer, int lastLayer,
                             const std::string& note = "");
std::string OtherDataPointHeader(int row, int column, int vegetationLayers);

// The dump switches of the command line: an argument after the program name
// that is exactly "-dumpmode" or "-closeAfterDump".
struct DumpSwitches {
    int DumpMode = 0;
    int CloseAfterDump = 0;
};
DumpSwitches DumpSwitchesOf(int argc, const char* const* argv);

// The short tag of the active options shown in the step's log line.
std::string MakeUnsatzonOptionTag(bool flowTimes, bool irrigation, int surfaceWaterInteraction, bool drainage,
                                  bool clay, bool ponding);

// "x.sta" -> "x_immo.sta"; the insert goes before the last "." of the file
// name part, or at the end when that part has none.
std::string ImmobilisedFileName(const std::string& name);

// The key = value lines of "[unsatzon_tuning]" from `stream` (after the
// header line): a line with "max_error" or "max_iterations" sets the value
// after its first "="; the section ends at a blank line, at the end of the
// stream or at a last line without newline, which is not evaluated. A line
// without "=" or without a number keeps the value.
void ReadTuningLines(FILE* stream, double* maxError, double* maxIterations);

// The subbasin code line: each listed code marks its rank; ranks skipped
// between two listed codes are gaps that take the values of the rank below.
// When the first listed code is not the smallest, the smallest counts as
// listed before it (if a gap follows it). Marks: the code, -1 for a gap, 0 for
// an unmarked rank (which also takes the rank below, rank 0 being 0).
class SubbasinCodeMarks {
public:
    SubbasinCodeMarks(const int* codeToRank, int largestCode, int count, int smallestCode);
    // False for a code below 1, above the largest, without a subbasin, or
    // listed out of ascending order or twice.
    bool Add(int code);
    // True once the largest code has been listed.
    bool Complete() const { return Previous == LargestCode && AnyListed; }
    const std::vector<double>& Marks() const { return MarksByRank; }

private:
    const int* CodeToRank;
    int LargestCode, Count, SmallestCode, Previous;
    int LastRank = 0;
    bool AnyListed = false;
    std::vector<double> MarksByRank;  // ranks 0..n
};

// Per rank 1..n the value of a parameter line: a marked rank takes the next
// number from `next` (false: unreadable, `failedRank` tells which), the others
// the stored value of the rank below. `convert` turns a number into the
// stored value.
template <typename Next, typename Convert>
bool AssignGroupValues(const std::vector<double>& marks, std::vector<double>& values, Next next, Convert convert,
                       int* failedRank) {
    values.assign(marks.size(), 0.0);
    for (size_t r = 1; r < marks.size(); ++r) {
        if (marks[r] > 0) {
            double v = 0;
            if (!next(&v)) {
                *failedRank = static_cast<int>(r);
                return false;
            }
            values[r] = convert(v);
        } else {
            values[r] = values[r - 1];
        }
    }
    return true;
}

// Recession constant in hours to minutes: 60 h, 0.06 below 0.001 h.
inline double RecessionMinutes(double hours) { return hours >= 0.001 ? hours * 60 : 0.06; }
// The reciprocal of kelsqlat; 0 for a negative value.
inline double LateralReciprocal(double value) { return value >= 0 ? 1 / value : 0; }

class unsatzonmodellklasse : public teilmodellklasse {
public:
    // Section "unsatzon_model". `subSteps` comes from
    // "[soil_surface_groundwater_substeps]". The status is 0, or the code of
    // a failure inside the body (103 for anything but a code); a missing
    // section or an unreadable switch or interval is thrown by the base.
    unsatzonmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                         int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                         MemoryGrid* gridTable, IrrigationRule* irrigationTable, int subSteps);
    ~unsatzonmodellklasse() override;

    // Set by the application before the tracer set-up: 1 when the
    // groundwater model is on.
    int GroundwaterActive = 0;

    // Allocates the runoff tables and, with the groundwater model on, the
    // river-flow records. Off: status 0 and nothing else.
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    // One sub-step.
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;

    // Null when off.
    virtual const std::string* GetStorageFileName();
    virtual void FlushOutputs();
    virtual void UpdateMaxPumping();
    // Null when off. When on, a table that does not exist yet ends the run
    // (code 57).
    virtual RunoffTable GetQg();
    // Recession constants [min] per subbasin rank; null when off.
    virtual double* GetKelsqi();
    virtual double* GetKelsqd();
    virtual RunoffTable GetQBb();
    // Null when off or when the groundwater model is off.
    virtual riverflow_table* GetRiverflowTable();
    virtual void BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void EndTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    // End of run in place of DeleteModule. `append` is 1 when an earlier
    // section has already created the storage content file.
    virtual void FinishRun(int append);
    // The read mode of the state grids, 0 to 3.
    virtual int GetReadGridMode();
    virtual void ApplyExternalGWTable(int externalTimeStep);
    // Lakes on the grid "lake_codes", set up from `sectionName` (line 1: the
    // lake flag, line 2: the initialisation method; unsatzon_lakes.cpp).
    virtual void InitLakes(const std::string& sectionName);
    void SetSubSteps(int n) override;

    // --- storage content file (unsatzon_state.cpp) ------------------------------
    // Writes the section "[unsatzon_model]": into the staged file when an
    // earlier section of this run is staged there, else into a new one.
    virtual void WriteStorageContent(bool append);
    // Reads the section back (read mode 1) and loads the flow-time zones and
    // the linear storages; a missing file is code 64, a missing section or a
    // stored value that does not fit this run code 71.
    virtual void ReadStorageContent();
    // Reads one value from the open storage file and compares it with
    // `current` (relative 1e-5; a stored 0 needs a current 0).
    virtual void ReadAndCompareStorageValue(double current, const std::string& label);
    // The section's last line, the baseflow each subbasin still owes.
    // False for an older section that ends before it.
    bool ReadBaseflowDeficit();
    // The lines after the deficits: the date of the state (a warm start at
    // another date is warned about) and the soil layer thicknesses (another
    // set of soil layers is code 71).
    void ReadStateStamp();
    [[noreturn]] virtual void StorageMismatchError(const std::string& label, double current, double stored);
    // The staged storage content file of the application; without one the
    // section is written and committed on its own.
    void SetStorageContentStage(StorageContentStage* stage) { StorageStage = stage; }
    virtual void SetSurfaceRoutingActive(int active);
    virtual void PreSpinUpStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void FinishPreSpinUp();
    virtual void SetDumpMode(int dumpMode, int closeAfterDump);

    // --- runoff per subbasin and point output ---------------------------------
    // Set-up (called by InitTracers): the flow-time zones from "flow_times"
    // (converted in place into zone numbers), the runoff tables with the
    // initial baseflow and `Qg`[0], and the master cells of the units.
    void InitFlowTimeZones();
    void InitRunoffTables(int tracers);
    void PrepareHruCopy();
    // Begin of a step (after the date is stored): the queues advance, the
    // subbasin sums and the statistics writers open the step.
    void BeginTimeStepRunoff();
    // Sub-step, after the cell loop: the HRU copy (parallel over rows), the
    // runoff into the flow-time zones with the zonal statistics, then the
    // control-point records of the stacks and the writing of full buffers.
    // What a sub-step does after the columns: response units, flow-time
    // zones and statistics, point output.
    void RunoffAfterColumns();
    void CopyHruState();
    void CopyHruStateRows(int row);
    void AddRunoffToFlowTimeZones();
    void AppendStackPointRecords();
    // The cell step's records of the control point (not in HRU mode): etr
    // values 0..L and interflow 1..L [mm per sub-step]; the other data are
    // taken from the grids of the cell. Only the control cell calls it.
    void AppendCellPointRecords(int row, int column, const double* etr, const double* layerInterflow,
                                double infiltration);
    // The same from the cell step's work arrays after the last iteration
    // step: rates [m/s] of that step, converted with `mmPerRate`; the
    // infiltration is -q0 of the surface flux.
    void AppendControlCellRecords(int row, int column, const std::vector<double>& layerEtr,
                                  const std::vector<double>& layerInterflow, double surfaceFlux, double mmPerRate);
    bool IsControlCell(int row, int column) const {
        return PointOutput && row == controlRow && column == controlColumn && !MasterHydrologicResponseUnits;
    }
    // End of a step, before the grids are written: outlet zones, linear
    // storages, `QBb`, `Qg` and the closing of the statistics writers.
    void EndTimeStepRunoff();
    // Appends records 1..fill (values first..last, 0 = L) to the file and
    // empties the buffer; SIGINT is ignored meanwhile. Code 65 when the file
    // cannot be opened or written.
    void WritePointBuffer(FILE* unused, const std::string& fileName, int64_t* fill, DatedRow* records, int first,
                          int last);
    void WritePointBuffers();
    void WriteFullPointBuffers();
    void WriteModelEndReport();
    // Mean soil water [m^3/m^2] of the own cells with a subbasin over the
    // layers 1..`layers`: of the ice-free parts, and of the glacier-covered
    // parts (counted as saturated). Each cell's water and area count with its
    // weight, so that the two add up to the mean over all cells.
    struct SoilWaterMeans {
        double Unglacierised = 0, Glacierised = 0;
    };
    SoilWaterMeans MeanSoilWater(int layers) const;
    // The three lines of those means in the instance log, at `moment`
    // ("model-start", "model-end").
    void WriteMeanSoilWater(FILE* log, int layers, const char* moment) const;
    virtual RunoffTable GetQD();
    virtual RunoffTable GetQI();
    // The table the snow model writes the glacier runoff of a step into
    // (row 0, by subbasin rank); shaped like `Qg`. Null when off.
    virtual RunoffTable GetGlacierRunoff();
    // Water on its way to the outlet of subbasin `s` [mm over the subbasin]:
    // the flow-time zones behind the outlet zone and the two linear storages,
    // less the baseflow it still owes.
    double StoredRunoff(int s) const;
    // Rank of a model cell's subbasin (0: none) and its weight ("RelCellArea",
    // 1 without that grid).
    int SubbasinRankOfCell(int row, int column) const;
    double CellWeight(int row, int column) const;
    // Clamped glacier fraction of a cell (0 without glaciers).
    double GlacierShare(int row, int column) const;
    // True for a cell whose irrigation rule takes its water from groundwater.
    bool IrrigatedFromGroundwater(int row, int column) const;

    std::vector<double> maxzeit;  // flow-time zones per subbasin rank
    unsatzon::FlowTimeQueues zoneFZT_QD, zoneFZT_QI;
    ExchangeTable<double> QD, QDd, QI, QIi, GlacierRunoff;
    // Baseflow of the step per subbasin, whatever the QB statistic's code:
    // sum of area x weight x value and of area x weight.
    std::vector<double> BaseflowSum, BaseflowWeight;
    // Baseflow a subbasin still owes [mm]: a step whose mean baseflow is
    // negative (water drawn from below, groundwater irrigation beyond the
    // baseflow) hands on 0 and pays the rest from the next steps' baseflow.
    std::vector<double> BaseflowDeficit;
    // Cell weight per subbasin (sum of "RelCellArea" over its cells).
    std::vector<double> SubbasinCellWeight;
    std::vector<std::pair<int32_t, int32_t>> HruMasters;  // per unit its master cell
    double** RiverExfiltration = nullptr;
    double** RiverInfiltration = nullptr;
    int64_t MissingFlowTimeCells = 0;
    std::vector<std::vector<unsatzon::RunoffPartial>> RowRunoff;  // per grid row
    // --- end of runoff per subbasin and point output ----------------------------

    // --- solutes ----------------------------------------------------------
    // Set-up of the solutes (unsatzon_tracers.cpp), called by InitTracers
    // once the runoff tables exist; released by ReleaseTracers.
    void InitSoilTracers(TracerInfo* table, StatisticsTableEntry* statisticsTable, int statisticsTableSize);
    void ReleaseSoilTracers();
    // The cell step's hooks: the start of a cell's sub-step, the start of an
    // iteration step (the groundwater model's values below the groundwater
    // layer; the water contents kept), the transport after the water of the
    // step is known, and the end of the cell's sub-step.
    struct TracerSurface {
        double Rain = 0, Silting = 0, DirectSilting = 0, SurfaceLeft = 0, Direct = 0;  // [mm]
    };
    void TracerCellBegin(int row, int column);
    void TracerStepBegin(int row, int column, unsatzon::ColumnWork& w, std::span<const double> theta);
    void TracerColumnStep(int row, int column, int step, int groundwaterLayer, int iterationSteps, double mm,
                          unsatzon::ColumnWork& w, std::span<const double> theta,
                          std::span<const double> interfaceFlux, double pondStart, double pondEnd,
                          const TracerSurface& surface);
    void TracerCellEnd(int row, int column);
    // After the cell pass: flow-time and baseflow sums of one cell's solutes
    // (into the row's partial), folded in row order; the outlet values, `QBb`,
    // `Qg`, grids and statistics at the end of a step; the point records.
    void AddTracerRunoff(unsatzon::RunoffPartial& partial, int row, int column, double area, double weight);
    void FoldTracerRunoff(const unsatzon::RunoffPartial& partial);
    void EndTimeStepTracers();
    void AppendTracerPointRecords(bool writeFull);
    void WriteTracerPointBuffers();
    void FlushTracerStatistics();
    // What one iteration step moved of one solute in one cell, handed to
    // `TracerObserver` when set (a test's balance check, on one thread).
    struct TracerStepRecord {
        int Row = 0, Column = 0, Tracer = 0, Step = 0;
        double Before = 0, After = 0;  // amount held by the surface and the layers
        unsatzon::TracerColumnLoads Loads;
    };
    std::function<void(const TracerStepRecord&)> TracerObserver;
    std::vector<SoilTracer> SoilTracers;  // 1..T, entry 0 unused
    double** TracerRiverLinks = nullptr;
    double** TracerAquiferThickness = nullptr;
    // --- end of solutes ----------------------------------------------------

    // The subbasin table that irrigation, groundwater and routing receive.
    SubbasinTable GetSubbasinTable();

    // --- Settings --------------------------------------------------------
    int solverMethod = 0;
    int surfaceWaterInteraction = 0;
    int pondSwitch = 0;
    int drainageSwitch = 0;
    int claySwitch = 0;
    double ksatClay = 0;      // [m/s]
    double ini_gw_level = 0;  // (L - 1) / ini_gw_level places the table of a cold start
    int controlRow = 0, controlColumn = 0;
    int readgrid = 0;
    std::string storageFileName;
    double dParameterMinStep = 0;  // [s]
    double max_error = 1e-5;
    double max_iterations = 100;
    double reducedKsatPermafrost = 1e-9;  // [m/s]
    int heatTransferSwitch = 0;
    int heatMethod = 0;
    double dTModLowBoundBase = 12;  // [degC]
    double dTModLapseRate = -0.007; // [K/m]
    double dTModCDrySoil = 800;
    double dTModRhoDrySoil = 1500;
    double dTModLamDrySoil = 0.58;
    double dTModKmin = 1e-10;
    double dTModLamWat = 0.5562;
    double dTModLamIce = 2.33;
    double dTModCWater = 4187;
    double dTModCIce20 = 1940;
    double dTModCIce0 = 2090;
    double dTModLatHeat = 334000;
    double dTModRhoWater = 1000;
    double dTModFactor = 1.22;
    double dTModSEForStat = 0.5;
    double dTModShortestStep = 60;  // [s]
    double dTModLongestStep = 1800; // [s]
    double dTModNFactorFreezing = 1;
    double dTModNFactorThawing = 1;
    int maxLayers = 0;
    int vegetationLayers = 1;
    IrrigationRule* irrigationRules = nullptr;
    SoilType* soilTypes = nullptr;

    // Statistics files of the section: name and output code.
    struct NamedCode {
        std::string Name;
        int Code = 0;
    };
    enum StatisticsLine { sQDRAIN, sGWSTAND, sGWN, sSB_1, sSB_2, sROOT, sINFEX, sPOND, sQD, sQI, sQB, sQg, sGWIN,
                          sGWEX, sMACRO, sINFILT, StatisticsLines };
    NamedCode StatisticsFiles[StatisticsLines];
    NamedCode SubstepsStatistics, TemperatureStatistics;
    // The 24 grid and stack pairs (1-based, as numbered in the section).
    NamedCode GridFiles[25];
    NamedCode SubstepsGrid, TemperatureStack, ThawDepthGrid;
    enum PointFile { QBottomFile, ThetaFile, HhydFile, OtherDataFile, EtrFile, InterflowFile, PointFiles };
    std::string PointFileNames[PointFiles];
    std::string TemperatureFileName;

    // --- Subbasins ---------------------------------------------------------
    std::vector<double> subbasinCodes, kelsqd, kelsqi, channelNetworkDensity, kelsqlat, qbRedFaktor,
        SnowRunoff_fraction;
    std::vector<GlacierSubbasinRecord> GlacierSubbasins;

    // --- Outputs -------------------------------------------------------------
    enum StatisticsWriter { wGWSTAND, wGWN, wSB_1, wSB_2, wROOT, wINFEX, wQD, wQI, wQB, wQg, wMACRO, wINFILT,
                            wSUBSTEPS, wTHAW, wQDRAIN, wPOND, wIMMO, wGWIN, wGWEX, StatisticsWriters };
    zonalstatistic* Statistics[StatisticsWriters] = {};
    ControlPointBuffer PointBuffers[PointFiles + 1];  // the last one: temperatures
    bool PointOutput = false;
    std::string UnsatzonOptionTag;
    uint8_t DumpMode = 0;
    uint8_t CloseAfterDump = 0;
    int SurfaceRoutingActive = 0;
    std::string StorageFileName;
    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    IrrigationRule* IrrigationTable = nullptr;

    // --- Grids -------------------------------------------------------------
    double** Regions = nullptr;  // "MPIRegions"
    double** Elevation = nullptr;
    double** SoilTypeGrid = nullptr;
    double** SlopeAngle = nullptr;
    double** WaterInput = nullptr;
    double** MaxPonding = nullptr;
    double** DrainageDepth = nullptr;
    double** DrainageDistance = nullptr;
    double** ClayDepth = nullptr;
    double** SnowStorage = nullptr;
    double** FlowTimes = nullptr;
    double** AirTemperature = nullptr;
    double** PermafrostThawDepth = nullptr;
    double** IrrigationCodes = nullptr;
    double** Etr2Etp = nullptr;
    int Etr2EtpIndex = 0;  // negative: the grid of another component
    double** SiltingUp = nullptr;
    uint8_t SiltingUpIsSurfaceStorage = 0;
    double** GlacierFraction = nullptr;
    double** GlacierFractionOld = nullptr;
    double** GwStorageCoeff = nullptr;
    double** GwKx = nullptr;
    double** GwKy = nullptr;
    double** SurfaceEvaporationResistance = nullptr;
    double** Albedo = nullptr;
    double** PotEvaporation = nullptr;
    double** RealEvaporation = nullptr;
    std::vector<double**> Landuse, RootDepth, Coverage, LeafArea, CanopyResistance, InterceptResistance,
        Roughness, PotTranspiration, RealTranspiration;
    int LowerBoundaryIndex = 0;  // -99 while the grid has to be created
    int HeatFluxLowerBoundary = 0;
    int InitialTemperatureProfile = 0;
    int LakesActive = 0;         // the lake flag: line 1 of "[lake_model]", 0 without lakes
    int LakeInitMethod = 0;      // line 2 of "[lake_model]": 1 or 2
    double** LakeCodes = nullptr;  // "lake_codes" while lakes are on; a code of 0 or above marks a lake
    double** HydrologicResponseUnits = nullptr;
    double** MasterHydrologicResponseUnits = nullptr;

    GridStack Theta = nullptr, HydraulicHeads = nullptr, GeodeticHeads = nullptr, QDown = nullptr,
              SoilTemperature = nullptr;
    double **GroundwaterDistance = nullptr, **GroundwaterLevel = nullptr, **ThetaInGwLevel = nullptr,
           **Baseflow = nullptr, **PondingStorage = nullptr, **QDownExt = nullptr, **SB1 = nullptr,
           **MeanThetaInRootZone = nullptr, **IrrigationAmounts = nullptr, **MaxPumping = nullptr,
           **SBLow = nullptr, **SBHigh = nullptr, **GWTableExtern = nullptr, **Balance = nullptr,
           **TangensBeta = nullptr, **SB2 = nullptr, **MacroporeInfiltration = nullptr,
           **NumberOfSubsteps = nullptr, **RootGrid = nullptr, **GroundwaterRecharge = nullptr,
           **CapillarUprise = nullptr, **Percolation = nullptr, **DirectFlow = nullptr, **InterFlow = nullptr,
           **InfiltrationExcess = nullptr, **TotalInfiltration = nullptr, **InfiltrationSaturation = nullptr,
           **FrozenSoilInGroundwater = nullptr, **ThawDepth = nullptr, **DrainageFlow = nullptr,
           **DrainageLevel = nullptr, **LowerBoundaryTemperature = nullptr;

    // --- Cell step ---------------------------------------------------------
    // One sub-step of every active soil column in one parallel pass over the
    // rows (unsatzon_cell.cpp). The iteration reports are appended to
    // "modell_0.log" in row order after the pass; the failure of the first
    // failing row is logged and thrown then.
    void SoilColumnRows(int64_t hour, int64_t day, int64_t month, int64_t year);
    // The grids and stacks of the soil model written by their write codes at
    // the end of a step.
    void WriteStepGrids();
    // What one iteration step of a column moved [mm], handed to `StepObserver`
    // when it is set (a test's balance check; the pass must then run on one
    // thread).
    struct IterationStepRecord {
        int Row = 0, Column = 0, Step = 0;
        double Offered = 0;         // water input + silting-up amount
        double PondStart = 0, PondEnd = 0;
        double SoilStart = 0, SoilEnd = 0;  // 1000 sum(theta dz)
        double Transpiration = 0;   // uptake and soil evaporation
        double DirectRunoff = 0, Interflow = 0, Baseflow = 0;
        double RiverInfiltration = 0, RiverExfiltration = 0;  // from and into the river
        int Passes = 0;
    };
    std::function<void(const IterationStepRecord&)> StepObserver;
    double** QDownGrid = nullptr;  // level 0 of "q_down" as a grid
    uint8_t ExternalTableFlag = 0;  // set once an external groundwater table is applied
    // The first failure of a row (code and FATAL text), raised after the pass.
    struct RowFailure {
        int Code = 0;
        std::string Message;
    };
    // One row of the pass; iteration reports are appended to `report`.
    // `riverCells`: only the cells that draw on a river's flow (true), or
    // only the others (false).
    void SoilColumnRow(int row, int64_t hour, int64_t day, int64_t month, int64_t year, RowFailure& failure,
                       std::string& report, bool riverCells);
    // The outputs of a fully glacierized column.
    void ZeroCellOutputs(int row, int column);
    // --- end of the cell step ----------------------------------------------

    // --- Soil heat (unsatzon_heat.cpp) ---------------------------------------
    // The n-factor at the step's date for the land use of vegetation layer 1.
    double CellNFactor(int landuse, double airTemperature) const;
    // Unfrozen fractions, conductivities, latent heat and heat capacities of
    // the column at the temperatures T and water contents theta.
    void HeatProperties(const SoilType& soil, const double* T, const double* theta, unsatzon::HeatWork& h) const;
    // The change of layer 1 over the whole model step, the stored
    // temperatures left as they are.
    double HeatTrial(int row, int column, const SoilType& soil, const double* theta, double nFactor,
                     unsatzon::HeatWork& h) const;
    // One heat step of `seconds`; the cell's temperatures advance.
    void HeatStep(int row, int column, const SoilType& soil, const double* theta, const double* waterFlux,
                  const double* macroporeInflow, double nFactor, double seconds, unsatzon::HeatWork& h) const;
    // "ThawDepthTMod" and "frozenSoilInGroundwater" of a cell.
    void ThawDepthOfCell(int row, int column, const SoilType& soil, int groundwaterLayer, unsatzon::HeatWork& h);
    void PrepareHeat();
    // The first profile, once, when the set-up created the stack new.
    void SetInitialTemperatureProfile();
    double** HeatFluxLowerGrid = nullptr;
    // Temperature pre-run (unsatzon_prespinup.cpp).
    int64_t preSpinUpSteps = 0, daySteps = 0;
    double **FreezingDegreeDays = nullptr, **ThawingDegreeDays = nullptr, **DailyTemperatureSum = nullptr,
           **AnnualTemperatureSum = nullptr;
    std::vector<std::pair<int, double**>> PreSpinUpEntries;  // entries this model created for the pre-run

    // --- River exchange (unsatzon_river.cpp) --------------------------------
    // The river grids, the exchange grids and statistics and the river-flow
    // records; every positive river link is checked against the subbasins
    // (code 199). Called by InitTracers with the groundwater model on.
    void InitRiverExchange();
    // Before the cell loop of a sub-step: the water each river still carries
    // [m3/s], and the rows that hold cells drawing on it.
    void PrepareRiverQuota();
    // After the cell loop: the cells' withdrawals, added per river in row
    // order, so that the sums do not depend on the threads.
    void BookRiverWithdrawals();
    // The river of a cell for the exchange; false when the cell has none.
    bool RiverOfCell(int row, int column, int& rank) const;
    // True for a cell whose column may take water from its river's flow: such
    // cells are served one after the other in row and column order, each
    // taking what it can of what the river has left.
    bool DrawsOnRiver(int row, int column) const;
    double **RiverDepth = nullptr, **RiverWidth = nullptr, **RiverLinks = nullptr, **Kolmation = nullptr;
    std::vector<int> RiverLinkedCells;    // per subbasin rank: model cells linked to its river
    std::vector<double> RiverQuota;       // per rank: what the river has left in the sub-step [m3/s, step mean]
    std::vector<char> RiverRows;          // per row: holds a cell that draws on a river
    std::vector<double> RiverWithdrawal;  // per cell: mean rate over the model step [m3/s]

    // True for a model cell of this process.
    bool OwnModelCell(int row, int column) const;
    int64_t Cells() const { return static_cast<int64_t>(NRows) * NCols; }
    // The soil-table entry of a model cell.
    const SoilType& CellSoil(int row, int column) const;

private:
    void Construct();
    // Settings (unsatzon_settings.cpp).
    void ReadModelSection();
    void ReadHeatSection();
    void ReadTuningSection();
    void ReadPermafrostSection();
    // Closes the control file (code 11) and opens it again (code 28).
    void ReopenControlFile();
    void CloseSectionFile();
    void CheckHeatSettings();
    void PrepareThermalTables();
    // Subbasins (unsatzon_subbasins.cpp).
    void RankSubbasins();
    void ReadSubbasinBlock();
    void BuildGlacierTable();
    [[noreturn]] void SubbasinError(const std::string& first, const std::string& value, bool extraNewline);
    // A parameter of the subbasin lines out of its range (code 10), naming the
    // file, the line, the parameter and the value.
    [[noreturn]] void SubbasinValueError(const std::string& name, const std::string& value, const std::string& why,
                                         long line);
    // Outputs (unsatzon_outputs.cpp).
    zonalstatistic* CreateStatistics(const NamedCode& file, int precision, const std::string& title);
    void CreateMainStatistics();
    void CreateDrainagePondStatistics();
    void CreatePointFiles();
    void WriteStartReport();
    // Grids (unsatzon_grids.cpp).
    void LookUpInputGrids();
    int TakeFreeEntry();
    double** CreateGrid(const std::string& fileName, const std::string& name, int writeCode, double modelValue,
                        bool everyCell = false);
    GridStack CreateStack(const std::string& fileName, const std::string& name, int writeCode);
    GridStack ReadStateStack(const std::string& fileName, const std::string& name, int writeCode);
    double** ReadStateGrid(const std::string& fileName, const std::string& name, int writeCode);
    void CreateStateGrids();
    void ColdStart(int mode);
    void CheckGroundwaterLevels(const std::string& fileName);
    void CheckStateValues();
    // A value of the storage content file within `range`, else FATAL (71).
    void CheckStoredValue(const std::string& label, double value, statecheck::Range range);
    void ComputeGeodeticHeads();
    void CreateLowerBoundaryTemperature();
    void CreateOtherGrids();
    void ComputeIrrigationGrids();
    void ComputeDrainageLevels();
    void LookUpResponseUnits();
    void ReleaseAll();
    RunoffTable CheckedTable(ExchangeTable<double>& table, const char* name);
    // Raises the failure of the lowest cell recorded by a parallel loop.
    void RaiseCellFailure(const std::vector<int>& failedColumn, int code, const std::string& what);

    SubbasinTable Subbasins;
    ZoneTable OwnSubbasins;
    double** SubbasinGrid = nullptr;  // "zonegrid_soilmodel"
    struct OwnGrid {
        int Index = 0;
        double** Data = nullptr;
        GridStack Stack = nullptr;
    };
    std::vector<OwnGrid> OwnGrids;
    ExchangeTable<double> Qg, QBb;
    StorageContentStage* StorageStage = nullptr;
    FILE* StorageFile = nullptr;  // open while the section is read
    std::string StoragePath;
    [[noreturn]] void UnreadableStorageValue(const std::string& label, double current);
    std::vector<riverflow_table> RiverFlows;
};
