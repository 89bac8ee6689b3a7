#pragma once
// The grid table: the entries through which components share grids by
// internal name, with the file names and write code that drive periodic and
// aggregated output, and the descriptors of the set-up's standard grids.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/memory_handling.h"

class zonalstatistic;

// The table has entries 0 to 1000; grids go into entries 1 to 999, entry 0 is
// never used and entry 1 holds the zone grid.
constexpr int GridTableEntries = 1001;
constexpr int FirstGridIndex = 1;
constexpr int LastGridIndex = 999;
// What the free-entry search answers when every entry is taken; storing into
// it ends the run with code 12.
constexpr int NoFreeGridEntry = 1000;

struct MemoryGrid {
    double** Data = nullptr;     // the grid itself; not owned
    double** SumGrid = nullptr;  // running sum or mean (tens digit); owned
    double** MinGrid = nullptr;  // owned, when the hundreds digit asks for it
    double** MaxGrid = nullptr;  // owned, when the hundreds digit asks for it
    GridStack Stack = nullptr;   // not owned
    int32_t NumLevels = 1;       // the stack holds levels 0 to NumLevels

    std::string FileName;  // name under which the grid is read or written
    std::string SumFileName;
    std::string MinFileName;
    std::string MaxFileName;
    std::string InternalName;  // the lookup key

    // Write code digits. The set-up keeps a standard grid's whole write code
    // in UnitsDigit until it stores the grid.
    int32_t UnitsDigit = 0;      // snapshot mode
    int32_t TensDigit = 0;       // sum and mean mode
    int32_t MinFlag = 0;         // from the hundreds digit
    int32_t MaxFlag = 0;         // from the hundreds digit
    int32_t MinMaxStarted = 0;   // 0 until the first aggregation filled the min/max grids
    int32_t FillCode = 0;        // nodata filling mode of the set-up's read
    int32_t OwnData = 0;         // 1: a stack's owner keeps its own data grid
    double StepCount = 1.0;      // aggregation calls since the last written sum or mean
    int32_t ThousandsDigit = 0;  // vegetation-period mode
    // Per cell of the sum grid, the number of values in the running sum
    // (rows FirstRow to LastRow, columns 0 to AggregateColumns).
    std::vector<double> SumCounts;

    double** VegGrid = nullptr;  // vegetation-period sum; owned
    std::string VegFileName;
    int32_t VegOutputDue = 0;
    int32_t VegResetDue = 0;
    double** VegStart = nullptr;     // "VegetationStart..."
    double** VegStop = nullptr;      // "VegetationStop..."
    double** VegDuration = nullptr;  // "VegetationDuration..."

    // Periodic re-reading of a standard grid.
    int32_t PeriodicityCount = -1;  // -1: not periodic
    int32_t PeriodicityOffset = -1;
    std::string PeriodicityUnit;
    bool Persistent = true;
    int32_t PersistenceSteps = 0;
    bool TemporaryValues = false;
    int32_t PeriodCount = 0;
    int32_t SubUnitCount = 0;
    int64_t LastDateValue = 0;
    int32_t StepsSinceReread = 0;
    std::string DatedFileName;
    double** Backup = nullptr;  // the grid as read during the set-up

    double DefaultValue = 0;  // fill value for nodata cells of a standard grid
    std::string OutputName;
    int32_t StatCode = 0;
    std::string StatFileName;
    zonalstatistic* StatWriter = nullptr;
    int32_t ReadCode = 1;
    int32_t OutputNameOwned = 0;  // 1 when StoreGrid set the output name

    int64_t DatedWriteCounter = 0;
    int64_t LastDatedYear = 0, LastDatedMonth = 0, LastDatedDay = 0, LastDatedHour = 0;

    int64_t FirstRow = 0;  // row range of the grid
    int64_t LastRow = 0;

    // Set once the entry has been given a name, a file name, a grid or a
    // stack; such an entry is never free again, and name lookups go past it
    // even after it was released.
    bool EverUsed = false;
    // Number of columns the aggregate grids were allocated with.
    int32_t AggregateColumns = 0;
};

// A table of GridTableEntries fresh entries (everything empty, one stack
// level, step count 1, not periodic, persistent, read code 1).
std::unique_ptr<MemoryGrid[]> CreateGridTable();

// True for an entry that has never been given a name, a file name, a grid or
// a stack.
bool GridEntryFree(const MemoryGrid& entry);

// The first free entry at or after `from` (1 to 999), or NoFreeGridEntry.
// Every component that creates a new entry takes its index from here.
int FindFreeGridEntry(const MemoryGrid* table, int from = FirstGridIndex);

// The index of the entry named `name`, or 0. The search skips released
// entries and ends at the first entry that never held a name. With
// `requireData`, entries without a data grid do not match.
int FindGridEntry(const MemoryGrid* table, const std::string& name, bool requireData);
