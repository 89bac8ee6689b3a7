#pragma once
// A reservoir ("SP" element of a routing description): a storage at the
// outlet of the description's subbasin that takes the routed inflow,
// releases water by its rule table, gives water to irrigation and
// abstractions, mixes tracers and writes its water balance to a file of its
// own. In lake mode the same object is a lake on the grid: its water is the
// ponded water of its cells (lake operations in lake.cpp).

#include <cstdint>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "routing/reservoir_rules.h"

class DiagnosticsWriter;
struct TracerInfo;
struct MemoryGrid;
struct RowExtent;

// Grid geometry a reservoir needs for its lake.
struct ReservoirGeometry {
    int32_t NRows = 0, NCols = 0;
    double CellSize = 0;  // [m]
    double NoData = -9999;
    const RowExtent* RowExtents = nullptr;
};

// The grids of a lake, linked by its description (null when absent).
struct LakeGrids {
    double** LakeCodes = nullptr;
    double** Ponding = nullptr;      // ponded water [mm]
    double** MaxPonding = nullptr;   // [mm]
    double** Subbasins = nullptr;    // "zonegrid_soilmodel"
    double** Elevation = nullptr;    // [m]
    double** Transpiration = nullptr;  // real evaporation of the cells [mm per step]
    double** Exchange = nullptr;     // exchange with the groundwater [m per s], or null
    double** Baseflow = nullptr;     // [m per s], or null
    double** Precipitation = nullptr;  // "PrecOnLakes" [mm per step]
    std::vector<double***> TracerStacks;  // 1..T: level 0 the cells' concentrations
};

// One balance record of a step: per term the volume [m3], the depth over
// the lake's surface [mm] and the rate [m3/s].
struct ReservoirTerm {
    double m3 = 0, mm = 0, m3s = 0;
};

class SP_class {
public:
    SP_class();
    // Freed explicitly by the description that owns it.
    virtual ~SP_class();
    SP_class(const SP_class&) = delete;
    SP_class& operator=(const SP_class&) = delete;

    virtual void AddOutputPath(const std::string& directory, std::string& name);
    // Appends the buffered records when `write` > 0 and any are held.
    virtual void FlushBuffer(int write);
    virtual void BufferRecord(int year, int month, int day, int hour);
    // Reads the keys "file", "V0", "C0" (nine numbers) and "dTmin" from the
    // element's own text; a missing or bad key ends the run (code 35).
    virtual void ReadDescription(FILE* controlFile, int code, const std::string& elementText);
    // Reads "[abstraction_rule_reservoir_<code>]" (code 34 when missing or
    // malformed).
    virtual void ReadRules(FILE* controlFile);
    // Positions `controlFile` behind the line whose first word is `section`;
    // false at the end of the file.
    virtual bool FindSection(FILE* controlFile, const std::string& section);
    virtual void SetParams(DiagnosticsWriter* writer, TracerInfo* tracers, int tracerCount, int outletCode,
                           MemoryGrid* gridTable, const ReservoirGeometry& geometry, const int* codeToRank,
                           int largestCode, int lakeFlag, double timeStep, const std::string& inputDirectory,
                           const std::string& outputDirectory);
    virtual void BuildLakeTable();
    virtual double LevelFromVolume(double volume);
    virtual double VolumeFromLevel(double level);
    virtual double GetLakeConcentrations(double* buffer);
    // The mean release of a step [m3/s]. `draws` are the abstractions that
    // draw on the reservoir (mode 8); `drawn` receives their volumes [m3].
    virtual double RuleOutflow(const std::vector<std::function<double(double)>>& draws, std::vector<double>& drawn,
                               int year, int month, double inflow, double timeStep, int day, int hour);
    virtual double WriteLakeLevel(double volume);
    virtual void InitLakeFromGrid();
    virtual void OpenOutput();
    // One step. `inflowConcentrations` [1..T] of the inflow; `irrigation`
    // and `abstraction` the volumes [m3] asked of the reservoir; `draws` as
    // for RuleOutflow, `drawRates` receives their rates [m3/s].
    virtual void CalcBalance(const double* inflowConcentrations, double inflow,
                             const std::vector<std::function<double(double)>>& draws, std::vector<double>& drawRates,
                             double timeStep, double irrigation, double abstraction, int year, int month, int day,
                             int hour);
    virtual double MixConcentration(double a, double b, double p, double q);

    // Records of n + 35 doubles and how many fit into one buffer.
    int ValuesPerRecord() const { return RecordValues; }
    int RecordsPerBuffer() const { return BufferRecords; }
    int RecordsHeld() const { return HeldRecords; }

    int Code = 0;
    DiagnosticsWriter* Writer = nullptr;
    TracerInfo* Tracers = nullptr;
    int TracerCount = 0;
    int OutletCode = 0;
    const int* CodeToRank = nullptr;
    int LargestCode = 0;
    MemoryGrid* GridTable = nullptr;
    ReservoirGeometry Geometry;
    int LakeFlag = 0;
    int ReadGridMode = 0;
    std::string InputDirectory, OutputDirectory;
    int MonthLength[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

    // state[0] volume [m3], state[1..T] concentrations; the state before the
    // step and the lake's state from its cells (lake mode).
    std::vector<double> State, PreviousState, LakeState;
    double Outflow = 0;  // release of the last step [m3/s]
    int Year = 0, Month = 0, Day = 0, Hour = 0;
    // Decay factor per routing step of every tracer (1 for a tracer that
    // does not decay).
    std::vector<double> StepDecay;

    RuleTable Rules;
    double dTmin = 60;  // sub-step of the rule release [s]
    double StepMinutes = 0;  // routing step [min]; 0 before SetParams

    // Balance of the last step.
    double Area = 0;  // lake surface [m2]
    ReservoirTerm Qin, Qout, Irrig, QGW, ETR, PREC, dV, Abstr, Err;
    // Water asked for irrigation and abstractions that was not there [m3].
    double WithdrawalShortfall = 0;
    // Shortfall of earlier steps asked again in the next step [m3]; saved with
    // the routing state.
    double CarriedWithdrawal = 0;

    std::string FileName;

    // Lake mode.
    int LakeCode = 0;
    LakeGrids Lake;
    int FirstRow = 0, LastRow = 0, FirstColumn = 0, LastColumn = 0;
    std::vector<double> Levels, Volumes;  // rows 0..TableRows-1, highest level first
    int TableRows = 0;

private:
    std::vector<double> Buffer;
    int RecordValues = 0;
    int BufferRecords = 0;
    int HeldRecords = 0;

    [[noreturn]] void Fatal(const std::string& text, int code);
};

// Concentration of a mix of two waters a and b in the amounts p and q:
// (a |p| + b |q|) / (|p| + |q|), 0 when both amounts are 0.
double MixReservoirConcentration(double a, double b, double p, double q);

// The text of one "SP" element: from behind its token up to the next element
// token of the description ("TG", "OL", "SUMTRIB", "ZL", "AL", "SP") or its
// end. `position` is moved behind the "SP" and its code; false when no "SP"
// follows `position`.
bool NextReservoirElement(const std::string& text, size_t& position, int& code, std::string& elementText);
