#pragma once
// Abstractions: one "AL" element of a routing description, water taken at
// the description's outlet in every step, by a threshold, fraction and
// maximum, from a time series, or by a rule table. Internal abstractions hand
// their water to the internal inflow of the same number; external ones write
// it to a file of their own.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "framework/timeseries_reader.h"

class DiagnosticsWriter;
struct TracerInfo;

// Storage-element arrays of the routing: [tracer][flow-array index][position].
using StorageElementArrays = std::vector<std::vector<std::vector<double>>>;

// Abstraction of modes 3 and 4 [mm per step] from the available flow Q and
// the amount T already taken this step: (Q - threshold) x fraction when the
// water left, Q - T, reaches the threshold, never leaving less than the
// threshold, at most the maximum and within 0 .. Q - T.
double ThresholdAbstraction(double Q, double T, double threshold, double fraction, double maximum);

// Rule table of an abstraction (the reservoir rule layout plus the target
// capacities): rows x[1..r], per column y, slopes, day keys, week-day masks,
// hour windows and capacities, all 1-based.
struct AbstractionRules {
    int Rows = 0, Columns = 0;
    std::vector<double> x;                       // [m3/s] or [m3]
    std::vector<std::vector<double>> y, slope;   // [column][row], [m3/s]
    std::vector<int> DayKey;
    std::vector<int64_t> Mask;
    std::vector<int> StartHour, StopHour;
    std::vector<double> TargetCap;               // [m3/s], -1 = none

    // Column of day of year `d` (February 28 days).
    int Column(int d) const;
    // Value of column k at x: the last row above the table, linear inside,
    // 0 at or below the first row.
    double Value(int k, double value) const;
};

// Day of the year with February always 28 days.
int RuleDayOfYear(int64_t month, int64_t day);
// Week day of a date, Monday = 1 .. Sunday = 7, by calendar arithmetic.
int WeekDayOf(int64_t year, int64_t month, int64_t day);

class AL_class {
public:
    // Modes.
    static constexpr int Intern = 3, Extern = 4, FromFile = 5, InternWithRule = 6, ExternWithRule = 7,
                         InternWithRuleFromReservoir = 8;

    AL_class() = default;
    virtual ~AL_class() = default;

    virtual void AddOutputPath(const std::string& directory, std::string& name);
    // Writes the buffered records (`write` > 0) to the abstraction file.
    virtual void FlushBuffer(int write);
    virtual void BufferRecord(int64_t year, int64_t month, int64_t day, int64_t hour, const double* values);
    // Reads the element from `position` on in `text` (behind its code) and
    // leaves `position` behind what it read.
    virtual void ReadDescription(FILE* controlFile, int code, const std::string& text, size_t& position,
                                 int subIntervals, int64_t year, int64_t month, int64_t day, int64_t hour);
    virtual void ReadRules(FILE* controlFile);
    // Positions `controlFile` behind the line whose first word is `header`.
    virtual bool FindSection(FILE* controlFile, const std::string& header);
    virtual void SetParams(DiagnosticsWriter* writer, TracerInfo* tracers, int tracerCount, int outletCode,
                           double catchmentArea, double areaFactor, double dtMinutes,
                           const std::string& outputDirectory);
    // The abstraction of the step [mm per step over the conversion area],
    // added to `total`.
    virtual double CalcAbstraction(double** stepFlows, double& total, double& available, int64_t year, int64_t month,
                                   int64_t day, int64_t hour);
    virtual double ConvertToMm(double discharge, double area, double dt);
    virtual double ConvertToM3s(double flowMm, double area, double dt);
    virtual void ConnectInflow(int targetIndex, int inflowIndex, double targetArea, double targetFactor,
                               double ownArea);
    virtual double RuleByDayOfYear(double** stepFlows, int64_t year, int64_t month, int64_t day, int64_t hour,
                                   double discharge);
    // For mode 8, asked by the reservoir: the rate [m3/s] at stored volume
    // `volume` [m3]; the storage elements give the flows of the paired
    // channels.
    virtual double RuleWithWeekdays(StorageElementArrays* storage, int64_t year, int64_t month, int64_t day, int64_t hour,
                                    double volume);

    bool IsInternal() const { return Mode == Intern || Mode == InternWithRule || Mode == InternWithRuleFromReservoir; }
    bool WritesFile() const { return Mode == Extern || Mode == FromFile || Mode == ExternWithRule; }
    // Area over which the description's flows are counted [km2].
    double ConversionArea() const { return CatchmentArea / AreaFactor; }
    // The catchment area was replaced by the zone grid's: thresholds and
    // maxima [mm] keep their volume.
    void Rescale(double ratio, double newArea);

    int Code = 0;
    int Mode = 0;
    DiagnosticsWriter* Writer = nullptr;
    TracerInfo* Tracers = nullptr;
    int TracerCount = 0;
    int OutletCode = 0;
    double CatchmentArea = 0, AreaFactor = 1;
    double TimeStep = 0;  // [min]
    std::string OutputDirectory;
    int64_t Year = 0, Month = 0, Day = 0, Hour = 0;

    double Threshold = 0, Fraction = 0, Maximum = 0;  // [mm per step]

    std::string InputName;
    std::unique_ptr<TimeSeriesTableReader> Input;
    int InputColumn = 0;

    int TargetIndex = -1;
    double TargetArea = -1.0, TargetFactor = 1.0;
    int InflowIndex = 0;
    double OwnArea = 0;

    std::vector<double> State;  // [0] the mode-8 rate [m3/s]
    AbstractionRules Rules;

    std::string OutputName;
    std::vector<double> Records;
    int RecordsPerBuffer = 1, RecordsHeld = 0, ValuesPerRecord = 0;

private:
    [[noreturn]] void Fatal(const std::string& text, int code);
};
