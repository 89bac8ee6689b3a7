#pragma once
// One routing description: an outlet subbasin ("TG") with the channels that
// bring water to it ("OL" from a tributary outlet, "SUMTRIB" from several
// tributary outlets together, "ZL" from an inflow), and the abstractions
// ("AL") and reservoirs ("SP") that act in them. Elements are numbered from 1:
// all "OL", all "SUMTRIB", all "ZL", then "AL" and "SP"; element 0 is the
// outlet itself.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/modelobject.h"
#include "framework/timeseries_reader.h"
#include "routing/abfluss_wqtable.h"
#include "routing/abstraction.h"
#include "routing/exchange.h"
#include "routing/reservoir.h"

struct TracerInfo;
struct ZoneRecord;
struct riverflow_table;

// Storage-element arrays of the routing model (routing/abstraction.h):
// [tracer 0..T][index 0..n+Z], each the storage elements of the channel that
// the subbasin or inflow feeds (positions 0..total+Ns). The descriptions
// create and release them.

// Number of the six element kinds of a description text.
struct ElementCounts {
    int OL = 0, SUMTRIB = 0, Ampersand = 0, ZL = 0, AL = 0, SP = 0;
};

// What a description needs from its routing model besides the counts.
struct RoutingDescriptionLinks {
    DiagnosticsWriter* Writer = nullptr;
    std::string ControlFilePath, InputDirectory, OutputDirectory;
    int SubbasinCount = 0;          // n
    double TimeStep = 0;            // routing time step [min]
    ZoneRecord* Records = nullptr;  // subbasin records 0..n
    const int* CodeToRank = nullptr;
    int LargestCode = 0;
    double** Abfrel = nullptr;      // `abfrel`
    int TracerCount = 0;
    TracerInfo* Tracers = nullptr;
    MemoryGrid* GridTable = nullptr;
    RowExtent* RowExtents = nullptr;
    int32_t NRows = 0, NCols = 0;
    double XllCorner = 0, YllCorner = 0, CellSize = 0, NoData = -9999;
    int LakeSwitch = 0;
    int GridReadMode = 0;
};

// The ten channel values of a description element, in control-file order.
struct ChannelValues {
    double kMain = 0, kPlain = 0;           // storage constants [h]
    double MainWidth = 0, PlainWidth = 0;   // [m]
    double MainDepth = 0;                   // [m]
    double MainManning = 0, PlainManning = 0;  // [m^(1/3)/s]
    double Slope = 0;                       // [1/1]
    double Length = 0;                      // [m]
    double Area = 0;                        // channel catchment area [km2]
};

class routingclass : public modelobject {
public:
    // `status` is 0, 1 after a failed allocation, or another failure code.
    routingclass(int* status, const RoutingDescriptionLinks& links, double catchmentArea, double areaFactor,
                 const ElementCounts& counts, int outletCode, int descriptionNumber);
    ~routingclass() override = default;

    // This description's part of the routing state section.
    virtual void WriteStorage(std::string& out);
    // Reads it back from `file`; a value that is missing or does not match
    // this description ends the run (code 71, naming `path` and the position).
    virtual void ReadStorage(FILE* file, const std::string& path);
    // The state the part leaves out (fill positions and correction stores),
    // one line per sub-channel; read back where present.
    virtual void WriteExtraState(std::string& out);
    // Reads one line written by WriteExtraState; false when it is not one.
    virtual bool ReadExtraState(const std::string& line, const std::string& path);
    virtual void SetIrrigationDemand(ZoneRecord* demand);
    virtual void SetRiverflowTable(riverflow_table* table, int descriptionNumber);
    virtual void UpdateRiverflowTable();
    // The carried soil withdrawal of each subbasin into its river-flow record.
    void HandCarriedToSoil();
    virtual int GetMaxStorageElements(int previousMaximum);
    virtual int GetTableRow(int element, double flowMm);
    virtual double GetMaxOfSubIntervals(const double* values);
    virtual double GetAbstractionSum();
    virtual double ScaleValue(double a, double b);
    virtual double MixConcentration(double x1, double x2, double w1, double w2);
    virtual double ConcentrateByLoss(double x, double volume, double loss);
    virtual void ReadInflows(double** stepFlows, int64_t year, int64_t month, int64_t day, int64_t hour);
    // An inflow value read from its file (missing values as 0), refused
    // (code 39) when it lies outside its bounds.
    double CheckedInflowValue(double v, int tracer, int inflow, const std::string& file, int column, int year,
                              int month, int day, int hour);
    virtual void FlushOutputs();
    virtual void SetSpeicherParams(FILE* controlFile, int element, const std::string& text, size_t& position,
                                   int subIntervals);
    virtual void InitReservoirs(FILE* controlFile);
    virtual void InitAbstractionRules(FILE* controlFile);
    virtual void SetAblaufModus(FILE* controlFile, int element, const std::string& text, size_t& position,
                                int subIntervals, int64_t year, int64_t month, int64_t day, int64_t hour);
    // `mode`: 1 constant, 3 intern, 4 extern.
    virtual void SetZuflussModus(int element, int inflowNumber, int mode, const std::string& fileName, int startRow,
                                 double constantValue, int column, int64_t year, int64_t month, int64_t day,
                                 int64_t hour);
    // Builds the element's water-level/discharge table and returns its total
    // storage elements. `tributaries` is the list of a "SUMTRIB" element
    // (entry 0 the count m, entries 1..m the codes), else empty.
    virtual int SetChannelParams(int element, int code, const std::vector<int>& tributaries, int subIntervals,
                                 int substitution, const ChannelValues& values, double qMin, double qMax,
                                 double intervals);
    virtual void CheckSubbasinAreas();
    virtual void WriteWQTables();
    virtual double IterateManning(double discharge, double width, double& depth, double& radius, double& velocity,
                                  double manning, double rootSlope, double tolerance, int maxIterations);
    virtual void RouteTimeStep(int64_t year, int64_t month, int64_t day, int64_t hour);
    virtual void SetFlowArrays(double** stepFlows, double*** subIntervalFlows, StorageElementArrays* storage,
                               double** window, const int* gaugeColumns);
    virtual void InitStorageElements();
    virtual void SetMaxIrrigTables(double** maxIrrig, double** maxIrrigFromReservoirs);
    virtual double ConvertToMm(double discharge, double area, double dt);
    virtual double ConvertToM3s(double flowMm, double area, double dt);

    void DeleteModule() override;

    // Element kinds by number.
    bool IsOL(int e) const { return e >= 1 && e <= Counts.OL; }
    bool IsSumtrib(int e) const { return e > Counts.OL && e <= Counts.OL + Counts.SUMTRIB; }
    bool IsZL(int e) const { return e > Counts.OL + Counts.SUMTRIB && e <= ChannelCount; }
    // Flow-array index of a channel element: the subbasin's rank, or n + the
    // inflow number.
    int IndexOf(int e) const;
    // The subbasin ranks whose outflow a channel carries: the further
    // tributaries of a list, then the element's own code.
    std::vector<int> SubbasinRanksOf(int e) const;
    int RankOf(int code) const;

    RoutingDescriptionLinks Links;
    ElementCounts Counts;
    int ChannelCount = 0;  // K = OL + SUMTRIB + ZL
    int OutletCode = 0;
    int DescriptionNumber = 0;
    double TimeStep = 0;     // [min]
    double CatchmentArea = 0;  // A [km2]
    double AreaFactor = 1;     // f

    std::vector<int> Code;                     // 0..K; entry 0 the outlet code
    std::vector<std::vector<int>> Tributaries; // 0..K; lists of "SUMTRIB" elements
    std::vector<double> RetentionMain, RetentionPlain;  // k [h], then exp(-1/k)
    std::vector<double> MainWidth, PlainWidth, MainDepth, MainManning, PlainManning, RootSlope, Length,
        ChannelArea;
    std::vector<double> QMin, QMax, Intervals, LogStep;
    std::vector<wqtab> Tables;                 // 0..K
    std::vector<double> Weights;               // area fractions 0..OL+SUMTRIB+&+ZL
    int SubIntervals = 1;                      // Ns
    int Substitution = 0;
    std::vector<std::vector<double>> OutletFlows, ChannelFlows;  // [tracer][0..Ns]

    // Inflows 1..ZL (entry 0 unused).
    std::vector<int> InflowNumber, InflowMode, InflowColumn, InflowStartRow;
    std::vector<std::string> InflowFile;
    std::vector<std::vector<double>> InflowValue;  // [tracer][inflow]
    std::vector<std::unique_ptr<TimeSeriesTableReader>> InflowReaders;  // external inflows 1..ZL
    std::array<int, 4> LastInflowDate{};           // year, month, day, hour of the last row read

    // Links to the routing model's tables.
    double** StepFlows = nullptr;           // F
    double*** SubIntervalFlows = nullptr;   // F_s
    StorageElementArrays* Storage = nullptr;  // E
    double** Window = nullptr;
    const int* GaugeColumns = nullptr;
    riverflow_table* RiverFlows = nullptr;
    int RiverflowDescription = 0;
    ZoneRecord* Demand = nullptr;
    double** MaxIrrig = nullptr;
    double** MaxIrrigFromReservoirs = nullptr;
    double AbstractionSum = 0;
    // Abstractions 1..AL (entry 0 empty), created as their elements are read.
    std::vector<std::unique_ptr<AL_class>> Abstractions;
    // Steps of the abstractions in the routing step.
    void RouteAbstractions(int64_t year, int64_t month, int64_t day, int64_t hour);
    void RescaleAbstractions(double ratio, double area);
    void FlushAbstractions();
    // Per subbasin rank the observed discharge of the step in mm that
    // replaces the channel input (method 2), negative where none does.
    const double* SubstituteMm = nullptr;
    // River water for irrigation and the soil model (skipped in zero-date
    // steps and without their tables).
    RiverExchange* Exchange = nullptr;
    void TakeUpTributaries(bool zeroDate);
    // The area [km2] the flows of entry i (1..n) are counted over: its own,
    // or its routed catchment over its area factor.
    double FlowAreaOf(int i) const;
    void SoilRiverWithdrawal(int e, bool zeroDate);
    void OutletAvailability(bool zeroDate);

    // Positions of one sub-channel's block: the largest translation of the
    // channel's table plus the sub-intervals.
    int BlockLength(int e) const;

    // Reservoirs 1..SP (entry 0 empty) and their codes (reservoir_routing.cpp).
    std::vector<std::unique_ptr<SP_class>> Reservoirs;
    std::vector<int> ReservoirCode;
    void CreateReservoirs();
    // The outlet's per-tracer sub-interval arrays of a description without
    // channels (the channels create them otherwise).
    void CreateOutletArrays(int subIntervals);
    // The reservoirs of a step, in series behind the outlet.
    void RouteReservoirs(int64_t year, int64_t month, int64_t day, int64_t hour);
    // Volume [m3] the last reservoir gives to the irrigation of the outlet's
    // subbasin in this step (0 without demand records and in zero-date steps).
    double ReservoirIrrigationVolume(bool zeroDate) const;
    void FlushReservoirs();
    void ReleaseReservoirs();
    // The reservoir lines of the routing state; `position` numbers the
    // lines read so far for the messages.
    void WriteReservoirStates(std::string& out);
    void ReadReservoirStates(FILE* file, const std::string& path, int position);

private:
    // Step scratch, sized at construction: per tracer 0..T.
    std::vector<double*> ElementRows;
    std::vector<const double*> InputRows;
    std::vector<double> DecayFactors, StoreValues, TracerLoads;
    std::vector<double> TranslationScratch;  // (T + 1) x the longest block, from SetFlowArrays

    void ChannelSetupError(int element, const std::string& what);
    void FillRiverflowRecords(bool setUp);
    void HandCarriedToSoil(int i);
};
