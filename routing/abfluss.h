#pragma once
// The discharge routing model: it reads "[routing_model]", builds one routing
// description per "TG" line with a water-level/discharge table per channel,
// owns the flow arrays the descriptions route through and the exchange
// tables it shares with irrigation.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/timeseries_reader.h"
#include "routing/abfluss_routingclass.h"
#include "soil/unsatzon.h"

struct StatisticsTableEntry;
struct TracerInfo;
class routstatistic;
class StorageContentStage;

// `maxirrig` and `maxirrigFromReservoirs`: rows 0..T (0 water [mm per step],
// 1..T tracer concentrations), columns 0..n by subbasin rank.
using IrrigationAvailability = double**;
// `RoutingTargetTable`: [0] the tributary list (2n+1 entries), [1] the target
// subbasin of each subbasin (n+1), [2] the description whose outlet a
// subbasin is (n+1).
using RoutingTargetTable = int**;
// `abfrel`: [0][i] area fraction of subbasin i ([0][0] total area [km2]),
// [1][i] the area factor of its values.
using AreaFractionTable = double**;

// Per tracer 0..T, per sub-interval 0..S, entries 0..n+Z, in one block.
class SubIntervalFlowArray {
public:
    void Allocate(int tracers, int subIntervals, int entries);
    void Release();
    double*** Rows() { return Tracers.empty() ? nullptr : Tracers.data(); }

private:
    std::vector<double> Block;
    std::vector<double*> Intervals;
    std::vector<double**> Tracers;
};

class abflussmodellklasse : public teilmodellklasse {
public:
    // Section "routing_model". `subbasins` is the soil model's subbasin
    // table, `soilReadCode` its read code for storage grids. The status is 0,
    // or the code of the first failure inside the body (103 for anything but
    // a code); failures of the base are thrown.
    abflussmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                        int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                        MemoryGrid* gridTable, const SubbasinTable& subbasins, int tracerCount, TracerInfo* tracers,
                        int soilReadCode);
    ~abflussmodellklasse() override;

    // Occurrences of `pattern` in `line`; overlapping occurrences count.
    virtual int CountSubstring(const std::string& line, const std::string& pattern);
    int CountOL(const std::string& line) { return CountSubstring(line, "OL"); }
    int CountSUMTRIB(const std::string& line) { return CountSubstring(line, "SUMTRIB"); }
    int CountAmpersand(const std::string& line) { return CountSubstring(line, "&"); }
    int CountZL(const std::string& line) { return CountSubstring(line, "ZL"); }
    int CountAL(const std::string& line) { return CountSubstring(line, "AL"); }
    int CountSP(const std::string& line) { return CountSubstring(line, "SP"); }

    // The runoff table to route; when on, a null table ends the run (code 43).
    virtual void SetQg(RunoffTable qg);
    virtual void LinkLakeGrids();
    virtual void InitRouting();
    virtual void SetIrrigationDemand(ZoneRecord* demand);
    virtual void SetRiverflowTable(riverflow_table* table);
    // `fileName` may be null (the soil model is off).
    virtual void ReadStorageFile(const std::string* fileName, int readCode);
    // Writes the routing's section as the first one of the storage content
    // file, staged in `Stage` when the application gave one.
    virtual void WriteStorageFile();
    [[noreturn]] virtual void StorageMismatchError(const std::string& text, double control, double stored);
    void SetStorageStage(StorageContentStage* stage) { Stage = stage; }
    virtual void SetOutputUnit(int unit);
    virtual void ReadLakeModel(const std::string& sectionName);

    // The exchange tables when on, else null.
    virtual IrrigationAvailability GetMaxIrrig();
    virtual IrrigationAvailability GetMaxIrrigFromReservoirs();
    virtual RoutingTargetTable GetRoutingTargetTable();
    virtual AreaFractionTable GetAbfrel();

    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    // Per tracer its decay factors and the statistics of its concentration
    // per subbasin; no grids.
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    virtual void FlushOutputs();
    void DeleteModule() override;

    // Routed discharge of subbasin `i` in the output unit: mm per step, or
    // m3/s (an outlet's routed water divided by its area factor).
    double RoutedDischarge(int i);
    // Repetitions of the initial routing: the summed whole-hour travel times
    // of the slowest channel of every description over the step, at least 1.
    int InitialRoutingPasses();
    // Pairs every internal inflow with its internal abstraction (codes 300
    // to 303 for a miswiring).
    void ConnectInternalFlows();
    // Irrigation bookkeeping at the start of a step and the availability
    // passed down the network after it.
    void BeginExchangeStep();
    void PushAvailability();
    RiverExchange Exchange;
    // The withdrawals still owed to the next step, over all subbasins and
    // reservoirs [m3].
    double CarriedWithdrawalVolume() const;
    // Carried withdrawals and internal-inflow flows in the state section.
    void WriteCarriedState(std::string& out);
    bool ReadCarriedState(const std::string& line, const std::string& path);

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    SubbasinTable Subbasins;
    int RoutingTracerCount = 0;
    TracerInfo* RoutingTracers = nullptr;
    int SoilReadCode = 0;
    RunoffTable Qg = nullptr;
    ZoneRecord* IrrigationDemand = nullptr;
    riverflow_table* RiverFlows = nullptr;

    // Settings of the section.
    int Substitution = 0;
    double QMinSpecific = 0, QMaxSpecific = 0;  // bounds of the w-q tables [l/s/km2]
    double WqIntervals = 0;
    int SubIntervals = 0;
    std::string QstatName;
    int QstatCode = 0;
    std::string ObservedFileName;
    std::vector<int> GaugeColumns;  // 0..n by rank; 0 = no gauge
    int DescriptorCount = 0;  // N, the column descriptor lines
    // Where the first pass began (the line after the R-square offset) and
    // that line's number, so that the second pass starts at the same line.
    long FirstDescriptionOffset = -1;
    int FirstDescriptionLine = 0;
    int DescriptionLine = 0;  // line of the description being built
    int RSquareOffset = 0;
    int OutputUnit = 0;
    int ProcessOffMethod = 1;

    // Totals of the first pass and the descriptions 1..N (slot 0 empty).
    ElementCounts Totals;
    int DescriptionCount = 0;
    std::vector<std::unique_ptr<routingclass>> Descriptions;

    std::unique_ptr<routstatistic> RoutedStatistics;
    // Tracer 1..T: its own copy of the subbasin records, its writer and its
    // decay factors per step and per sub-interval.
    struct RoutedTracer {
        std::vector<ZoneRecord> Records;
        std::unique_ptr<zonalstatistic> Statistics;
        std::string FileName;
        double StepDecay = 1, SubIntervalDecay = 1;
    };
    std::vector<RoutedTracer> RoutedTracers;
    // The routed-discharge writer's own copy of the subbasin records.
    std::vector<ZoneRecord> RoutedRecords;
    int ObservedStatisticsEntry = 0;
    // Efficiency sums: 21 shifts x (n+1) subbasins x 6 values each.
    std::vector<double> EfficiencyPlain, EfficiencyLog;
    int RowsPastEnd = 10;
    double** ObservedWindow = nullptr;
    // The observed-discharge file and the rows of its window; per subbasin
    // the current observation in mm to substitute (-1: none).
    std::unique_ptr<TimeSeriesTableReader> ObservedReader;
    int ObservedColumns = 0;
    int ObservedSteps = 0;
    std::vector<double> ObservedRows;
    std::vector<double*> ObservedRowPointers;
    std::vector<double> SubstituteMm;
    // Sums, window shift and next observation of a step.
    void CompareObservedDischarge(int64_t year, int64_t month, int64_t day, int64_t hour);
    void WriteEfficiencyTables();
    // Routed discharge in the output unit per mm of routed water at `i`.
    double RoutedDischargeFactor(int i);

    // Flow arrays: the step flow array F[t][0..n+Z+A+2] (from SetQg), the
    // sub-interval flows and the storage-element arrays.
    ExchangeTable<double> StepFlows;
    SubIntervalFlowArray SubIntervalFlows;
    StorageElementArrays StorageElements;

    bool HasStorageName = false;
    std::string StorageFileName;
    StorageContentStage* Stage = nullptr;

    int LakeSwitch = 0;
    int GridReadMode = 0;
    int PrecOnLakesIndex = 0;
    double** PrecOnLakes = nullptr;

private:
    void Construct();
    void ReadSettings();
    void CountDescriptions();
    void BuildDescriptions();
    void BuildDescription(int k, const std::string& text);
    void CreateTablesAndStatistics();
    void SetUpObservedDischarge();
    // Row of the window for the step at `minute`, missing where the file has
    // no row of that date.
    void FillObservedRow(double* row, int64_t minute);
    void SetSubstitutes();
    // Rank of a subbasin code, 0 for a code that is no subbasin.
    int SubbasinRank(int code) const;
    [[noreturn]] void DescriptionError(int k, int outlet, int element, const std::string& what);
    // Checks a tributary code (41) and enters it into the routing target
    // table; `lineEnd` ends the "OL" messages with a line end.
    void AddTributary(int k, int outlet, int element, int code, bool lineEnd);
    // Releases everything; the teardown also ends every description and
    // closes the statistics.
    void ReleaseAll(bool teardown);

    ExchangeTable<double> MaxIrrig, MaxIrrigFromReservoirs, Abfrel, FurtherPerSubbasin;
    std::vector<int> TargetList, TargetOfSubbasin, DescriptionOfOutlet;
    int* TargetRows[3] = {nullptr, nullptr, nullptr};
    std::vector<char> InflowUsed;
    int FirstTargetFree = 1;
};
