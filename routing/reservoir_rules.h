#pragma once
// Release rules of reservoirs: a table of release against stored volume with
// one column per season (day-of-year key), a week-day mask and an hour window
// per column, and the release over one step computed in sub-steps. Pure
// functions on plain values; the reservoir class gathers their inputs.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

// One rule table: rows 1..Rows of volume x [m3] ascending, per column
// 1..Columns the release y [m3/s] and the slope dy/dx of each row to the
// next (0 in the last row), the column's day key, week-day mask (-1 = every
// day) and hour window (-1 = none). Index 0 of every array is unused.
struct RuleTable {
    int Rows = 0;
    int Columns = 0;
    std::vector<double> x;
    std::vector<std::vector<double>> y, slope;
    std::vector<int> DayKey;
    std::vector<int64_t> Mask;
    std::vector<int> StartHour, StopHour;
};

// Parses the lines of a rule section after its header: line 1 the row count
// (and the day keys of a table with more than one column), then the rows,
// then the "WeekDays", "start_hour" and "stop_hour" lines (each always
// consumed, used when it holds its key). `lines` may hold more lines than
// needed; a missing line counts as empty. Returns "" and fills `table`, or a
// text saying what is wrong. A table needs at least `minimumRows` rows, every
// row one volume and one release per column, day keys strictly ascending
// and volumes not descending.
std::string ParseRuleTable(const std::vector<std::string>& lines, int minimumRows, RuleTable& table);

// Day of the year in the calendar of the rules (February always 28 days).
int RuleDayOfYear(int month, int day);

// Week day of the hour before `hour` on the given date, Monday = 1 to
// Sunday = 7 (hour 0 belongs to the day before), from calendar arithmetic.
int RuleWeekDay(int year, int month, int day, int hour);

// The column k and the weight w of the blend for day-of-year `d`: column 1
// alone before the first key or in a one-column table; else the first
// column from 2 on whose key is not below d (the last column after the last
// key, with w above 1), w = (d - key[k-1]) / (key[k] - key[k-1]).
void RuleColumns(const RuleTable& table, int d, int& k, double& w);

// The blended release of row i with the slope of row z at volume V [m3/s]:
// w (y[k][i] + slope[k][z] (V - x[i])) + (1 - w)(y[k-1][i] + slope[k-1][z] (V - x[i])),
// the second term dropped for k = 1.
double BlendedRelease(const RuleTable& table, int k, double w, int i, int z, double V);

// Whether the rule of column k releases at this date: never when the month
// is not positive; always with the mask -1; else when the week day's digit
// occurs in the mask and start <= hour <= stop.
bool RuleSwitchOn(const RuleTable& table, int k, int year, int month, int day, int hour);

// What the lake mode adds to the release above the table: the lake's level
// for a volume, and the level above which the inflow passes at least.
struct LakeRelease {
    std::function<double(double volume)> Level;
    double ThresholdLevel = 0;
};

// The release over one step.
//   volume        stored volume at the start [m3], >= 0
//   inflow        [m3/s]
//   stepMinutes   the step [min]; the sub-steps are dTmin [s] long, their
//                 number the step over dTmin truncated
//   lake          null for a reservoir
//   draws         the abstractions that draw on the reservoir in every
//                 sub-step: each gives its wish [m3/s] for the volume left
//   drawn         out: the volume each draw took over the step [m3]
// In each sub-step the inflow enters, the rule releases (the inflow above
// the table, nothing at or below the first volume or with the switch off)
// and then every draw takes its water; neither a release nor a draw takes
// more than is there, and a negative release counts as 0. Returns the mean
// release of the step [m3/s] (0 without a sub-step).
double RuleRelease(const RuleTable& table, double volume, double inflow, double stepMinutes, double dTmin,
                   int year, int month, int day, int hour, const LakeRelease* lake,
                   const std::vector<std::function<double(double volume)>>& draws, std::vector<double>& drawn);
