#pragma once
// Output of grids and stacks by write code: the moments of the calendar at
// which snapshots and aggregates fall due, and the names they are written
// under. modelobject::WriteGridByCode and modelobject::WriteStackByCode
// (writecode_grid.cpp, writecode_stack.cpp) are built on these.

#include <cstdint>
#include <string>
#include <vector>

struct MemoryGrid;
class modelobject;

// Gregorian leap year.
bool IsLeapYear(int64_t year);

// The last day of a month of the given year: the table of days per month
// (entries 1 to 12) for every month but February, which has 29 days in leap
// years and 28 otherwise. 0 for a month outside 1 to 12.
int64_t LastDayOfMonth(int64_t year, int64_t month, const int* daysPerMonth);

// The periods a step closes.
struct WriteMoments {
    bool DayEnd = false;
    bool MonthEnd = false;
    bool YearEnd = false;
    bool RunEnd = false;
};

// A day ends when hour + the time shift truncated to whole hours is 24; a
// month on the last day of the month of the step's own year; a year on 31
// December; the run when the date key reaches the end key. A date that was
// never set (all fields 0) closes nothing.
WriteMoments WriteMomentsAt(int64_t year, int64_t month, int64_t day, int64_t hour, double timeShiftHours,
                            int64_t endKey, const int* daysPerMonth);

// Whether the snapshot of a units digit is due at these moments, and whether
// it carries a dated name. `highestUnits` is the largest digit the writer
// knows (stacks know 1 to 5, grids 1 to 8).
bool SnapshotDue(int unitsDigit, int highestUnits, const WriteMoments& at, bool* dated);

// An output name derived from a file name: the directory part (up to and
// including the last "/"), then the prefix (the rest up to its first "."),
// then the tail.
std::string PrefixedName(const std::string& fileName, const std::string& tail);

// Tail of a dated snapshot, "_YYYYMMDD.HHH", with "_NNN" appended for the
// second and later snapshot of the same hour (repeat 1, 2, ...).
std::string DatedTail(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t repeat);

// Tail of the sum (mean: false) or mean (true) of the period of a tens digit
// (1 to 8): ".sum", "_YY00.sum", "_YYMM.sum" or "_YYMM.DDs" and the ".mit",
// "_YY00.mit", "_YYMM.mit", "_YYMM.DDm" of the means. Empty for other digits.
std::string SumTail(int tensDigit, int64_t year, int64_t month, int64_t day);

// Tail of the vegetation-period sum or mean: "_00YY_vegper.sum" / ".mit".
std::string VegetationTail(bool mean, int64_t year);

// Counts dated snapshots of an entry: 0 for the first snapshot of a date and
// hour, 1, 2, ... for further ones at the same date and hour.
int64_t NextDatedRepeat(MemoryGrid& entry, int64_t year, int64_t month, int64_t day, int64_t hour);

// The write codes of several grid-table entries in one step, with one pass
// over the rows for all of them instead of one per entry and aggregate:
//
//     GridWriteCodes codes(owner, indices, count, regionFilter, suppress);  // serial
//     #pragma omp parallel for ...                // or inside the pass that computed the grids
//     for (long i = 1; i <= owner.NRows; ++i) codes.Row(i);
//     codes.Finish();                             // serial: the files due
//
// The same as modelobject::WriteGridByCode for each entry in list order:
// every cell of a row is handled by the entry's own steps in the same order,
// and the files go out in list order. An entry with a vegetation period is
// done whole, in its turn, by Finish.
class GridWriteCodes {
public:
    GridWriteCodes(modelobject& owner, const int* indices, int count, bool regionFilter, bool suppressAggregates);
    ~GridWriteCodes();
    GridWriteCodes(const GridWriteCodes&) = delete;
    GridWriteCodes& operator=(const GridWriteCodes&) = delete;

    // Cells the pass touches, for the choice of threads.
    int64_t Cells() const { return RowCells; }
    // The sums, minima and maxima of row i (1 to the owner's rows) of every
    // entry. Each row once per step, from any thread; rows of other entries
    // are not touched.
    void Row(long i) const;
    // The snapshots and aggregates due now, entry by entry. Serial.
    void Finish();

private:
    struct Item;
    modelobject& Owner;
    bool RegionFilter;
    bool SuppressAggregates;
    int64_t RowCells = 0;
    std::vector<Item> Items;
};
