#include <algorithm>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/end_state_stage.h"
#include "framework/gridfiles_io.h"
#include "framework/parallel_rows.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/writecode.h"

namespace {

// Which cells of a row take part in aggregation: inside the zone grid (entry
// 1) and, with the region filter, owned by this process in "MPIRegions".
struct CellTest {
    double** Zones = nullptr;  // without a zone grid every cell of a row's range
    double** Regions = nullptr;
    double NoData = -9999;
    double Process = 0;
    bool Valid(long i, long j) const {
        if (Zones && !(Zones[i] && Zones[i][j] > NoData)) return false;
        if (Regions && !(Regions[i] && Regions[i][j] == Process)) return false;
        return true;
    }
};

double** RegionGrid(modelobject& owner) {
    int& index = owner.RegionGridIndex;
    const MemoryGrid* table = owner.GridTable;
    if (index < FirstGridIndex || index > LastGridIndex || table[index].InternalName != "MPIRegions" ||
        !table[index].Data) {
        index = owner.FindGrid("MPIRegions");
    }
    return index > 0 ? table[index].Data : nullptr;
}

CellTest MakeCellTest(modelobject& owner, bool regionFilter) {
    CellTest test;
    test.Zones = owner.GridTable[1].Data;
    test.Regions = RegionGrid(owner);
    if (!regionFilter) test.Regions = nullptr;
    test.NoData = owner.NoData;
    test.Process = owner.ProcessNumber;
    return test;
}

// Calls body(i, first, last) for every row of the entry's row range that lies
// in the model grid and has a data row, with the row's valid columns (at most
// `lastColumn`). Rows run in parallel; a body touches only its own row.
template <typename Body>
void ForEachRow(const modelobject& owner, const MemoryGrid& entry, long lastColumn, const Body& body) {
    const long firstRow = std::max<long>(entry.FirstRow, 1);
    const long lastRow = std::min<long>(entry.LastRow, owner.NRows);
    double** const data = entry.Data;
    // A write code's pass is light: threads pay only on large grids.
    const bool parallel = WorthThreadsForLightPass(int64_t(lastRow - firstRow + 1) * lastColumn);
#pragma omp parallel for schedule(static, 1) if (parallel)
    for (long i = firstRow; i <= lastRow; ++i) {
        if (!data[i]) continue;
        long first, last;
        gridio::RowRange(owner, i, &first, &last);
        body(i, first, std::min(last, lastColumn));
    }
}

long AggregateColumns(const modelobject& owner, const MemoryGrid& entry) {
    return std::min<long>(owner.NCols, entry.AggregateColumns);
}

// Position of a cell in the entry's per-cell counts.
size_t CountIndex(const MemoryGrid& entry, long i, long j) {
    return static_cast<size_t>(i - entry.FirstRow) * (static_cast<size_t>(entry.AggregateColumns) + 1) +
           static_cast<size_t>(j);
}

// Makes the per-cell counts fit the entry; zeroes them at the start of a
// period (step count 0) or when they do not fit.
void PrepareCounts(MemoryGrid& entry) {
    const long rows = entry.LastRow >= entry.FirstRow ? entry.LastRow - entry.FirstRow + 1 : 0;
    const size_t size = static_cast<size_t>(rows) * (static_cast<size_t>(entry.AggregateColumns) + 1);
    if (entry.StepCount == 0.0 || entry.SumCounts.size() != size) entry.SumCounts.assign(size, 0.0);
}

// A matrix with the rows and columns of an entry's aggregate grids, released
// when it goes out of scope.
class ScratchGrid {
public:
    ScratchGrid(modelobject& owner, const MemoryGrid& entry)
        : Owner(owner),
          FirstRow(entry.FirstRow),
          LastRow(entry.LastRow),
          Columns(entry.AggregateColumns),
          Grid(owner.matrix(FirstRow, LastRow, 1, Columns, owner.NRows)) {}
    ~ScratchGrid() { Owner.free_matrix(Grid, FirstRow, LastRow, 1, Columns); }
    ScratchGrid(const ScratchGrid&) = delete;
    ScratchGrid& operator=(const ScratchGrid&) = delete;
    double** get() const { return Grid; }

private:
    modelobject& Owner;
    long FirstRow, LastRow, Columns;
    double** Grid;
};

// Copies the first level of the entry's stack (level 0 when the stack has no
// other) into its data grid: the cells `first` to `last` of row i.
void CopyStackLevelRow(const MemoryGrid& entry, const CellTest& test, long i, long first, long last) {
    if (!entry.Stack[i]) return;
    const long level = entry.NumLevels >= 1 ? 1 : 0;
    for (long j = first; j <= last; ++j) {
        if (test.Valid(i, j)) entry.Data[i][j] = entry.Stack[i][j][level];
    }
}

void CopyStackLevel(const modelobject& owner, const MemoryGrid& entry, const CellTest& test) {
    ForEachRow(owner, entry, owner.NCols,
               [&](long i, long first, long last) { CopyStackLevelRow(entry, test, i, first, last); });
}

// Adds the data to the running sum; nodata values are left out.
void AddToSumRow(MemoryGrid& entry, const CellTest& test, double noData, long i, long first, long last) {
    double* sum = entry.SumGrid[i];
    const double* data = entry.Data[i];
    for (long j = first; j <= last; ++j) {
        if (!test.Valid(i, j)) {
            sum[j] = noData;
        } else if (data[j] != noData) {
            sum[j] += data[j];
            entry.SumCounts[CountIndex(entry, i, j)] += 1.0;
        }
    }
}

void AddToSum(const modelobject& owner, MemoryGrid& entry, const CellTest& test) {
    ForEachRow(owner, entry, AggregateColumns(owner, entry),
               [&](long i, long first, long last) { AddToSumRow(entry, test, owner.NoData, i, first, last); });
}

// Keeps minimum and maximum over the run; nodata values are left out, and a
// cell stays nodata until its first value (`start`: the first step).
void UpdateMinMaxRow(MemoryGrid& entry, const CellTest& test, double noData, bool start, long i, long first,
                     long last) {
    double* minimum = entry.MinGrid ? entry.MinGrid[i] : nullptr;
    double* maximum = entry.MaxGrid ? entry.MaxGrid[i] : nullptr;
    const double* data = entry.Data[i];
    for (long j = first; j <= last; ++j) {
        const bool valid = test.Valid(i, j);
        if (start || !valid) {
            if (!start) continue;
            if (minimum) minimum[j] = noData;
            if (maximum) maximum[j] = noData;
            if (!valid) continue;
        }
        const double value = data[j];
        if (value == noData) continue;
        if (minimum && (minimum[j] == noData || value < minimum[j])) minimum[j] = value;
        if (maximum && (maximum[j] == noData || value > maximum[j])) maximum[j] = value;
    }
}

void UpdateMinMax(const modelobject& owner, MemoryGrid& entry, const CellTest& test) {
    const bool start = entry.MinMaxStarted == 0;
    ForEachRow(owner, entry, AggregateColumns(owner, entry), [&](long i, long first, long last) {
        UpdateMinMaxRow(entry, test, owner.NoData, start, i, first, last);
    });
    entry.MinMaxStarted = 1;
}

// Is the period of a tens digit closed at these moments?
bool SumPeriodEnds(int tensDigit, const WriteMoments& at) {
    switch (tensDigit) {
        case 1:
        case 5:
            return at.RunEnd;
        case 2:
        case 6:
            return at.YearEnd;
        case 3:
        case 7:
            return at.MonthEnd;
        case 4:
        case 8:
            return at.DayEnd;
        default:
            return false;
    }
}

// Turns the running sum into the sum or mean of the period: a cell without
// any value in the period is nodata.
void FinishSum(const modelobject& owner, MemoryGrid& entry, const CellTest& test, bool mean) {
    const double noData = owner.NoData;
    ForEachRow(owner, entry, AggregateColumns(owner, entry), [&](long i, long first, long last) {
        double* sum = entry.SumGrid[i];
        for (long j = first; j <= last; ++j) {
            if (!test.Valid(i, j)) continue;
            const double count = entry.SumCounts[CountIndex(entry, i, j)];
            if (count <= 0) sum[j] = noData;
            else if (mean) sum[j] /= count;
        }
    });
}

void RestartSum(const modelobject& owner, MemoryGrid& entry, const CellTest& test) {
    ForEachRow(owner, entry, AggregateColumns(owner, entry), [&](long i, long first, long last) {
        double* sum = entry.SumGrid[i];
        for (long j = first; j <= last; ++j) {
            if (!test.Valid(i, j)) continue;
            sum[j] = 0;
            entry.SumCounts[CountIndex(entry, i, j)] = 0;
        }
    });
    entry.StepCount = 0.0;
}

// The data grid of a vegetation grid of the given layer suffix; a missing
// name ends the run through GetGridIndex (code 33).
double** VegetationGrid(modelobject& owner, const MemoryGrid& entry, const std::string& name) {
    const int index = owner.GetGridIndex(name);
    double** grid = owner.GridTable[index].Data;
    if (!grid) {
        if (owner.Writer) {
            *owner.Writer << "FATAL: " << name << " holds no grid, but the vegetation period output of "
                          << entry.FileName << " in " << owner.ModuleName << " needs it" << "[end-entry]";
        }
        throw 33;
    }
    return grid;
}

// The layer of an entry's vegetation period: the text after "_Layer_" in its
// output name up to the next ".", else "1".
std::string VegetationLayer(const MemoryGrid& entry) {
    const std::string marker = "_Layer_";
    const size_t at = entry.OutputName.find(marker);
    if (at == std::string::npos) return "1";
    const size_t start = at + marker.size();
    const size_t dot = entry.OutputName.find('.', start);
    return entry.OutputName.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
}

void VegetationPeriod(modelobject& owner, MemoryGrid& entry, const CellTest& test) {
    const std::string layer = VegetationLayer(entry);
    entry.VegStart = VegetationGrid(owner, entry, "VegetationStart" + layer);
    entry.VegStop = VegetationGrid(owner, entry, "VegetationStop" + layer);
    entry.VegDuration = VegetationGrid(owner, entry, "VegetationDuration" + layer);

    const double noData = owner.NoData;
    const long lastColumn = AggregateColumns(owner, entry);
    ForEachRow(owner, entry, lastColumn, [&](long i, long first, long last) {
        double* sum = entry.VegGrid[i];
        const double* data = entry.Data[i];
        const double* start = entry.VegStart[i];
        const double* stop = entry.VegStop[i];
        for (long j = first; j <= last; ++j) {
            if (!test.Valid(i, j)) {
                sum[j] = noData;
                continue;
            }
            if (start && stop && start[j] >= 0 && stop[j] <= 0 && data[j] != noData) sum[j] += data[j];
        }
    });

    if (entry.VegOutputDue == 1) {
        entry.VegOutputDue = 0;
        const bool mean = entry.ThousandsDigit == 2;
        const std::string name = PrefixedName(entry.VegFileName, VegetationTail(mean, owner.StepYear));
        if (mean) {
            // The mean goes out from a copy: the running sum stays a sum.
            ScratchGrid copy(owner, entry);
            double** out = copy.get();
            const long firstRow = std::max<long>(entry.FirstRow, 1);
            const long lastRow = std::min<long>(entry.LastRow, owner.NRows);
            for (long i = firstRow; i <= lastRow; ++i) std::copy_n(entry.VegGrid[i], lastColumn + 1, out[i]);
            ForEachRow(owner, entry, lastColumn, [&](long i, long first, long last) {
                const double* duration = entry.VegDuration[i];
                for (long j = first; j <= last; ++j) {
                    if (!test.Valid(i, j)) continue;
                    const double steps = duration ? duration[j] : 0;
                    out[i][j] = steps > 0 && steps != noData ? out[i][j] / steps : noData;
                }
            });
            owner.WriteGridMasked(name, out, owner.WriteAsciiGrids, owner.WriteDoubleGrids);
        } else {
            owner.WriteGridMasked(name, entry.VegGrid, owner.WriteAsciiGrids, owner.WriteDoubleGrids);
        }
    }
    if (entry.VegResetDue == 1) {
        ForEachRow(owner, entry, lastColumn, [&](long i, long first, long last) {
            double* sum = entry.VegGrid[i];
            for (long j = first; j <= last; ++j) sum[j] = test.Valid(i, j) ? 0 : noData;
        });
        entry.VegResetDue = 0;
    }
}

// The snapshot of the units digit, when one is due now.
void Snapshot(modelobject& owner, MemoryGrid& entry, const WriteMoments& at) {
    bool dated = false;
    const bool due = SnapshotDue(entry.UnitsDigit, 8, at, &dated);
    if (!due) return;
    std::string name = entry.FileName;
    if (entry.UnitsDigit == 8) {
        name += ".filled";
    } else if (dated) {
        const int64_t repeat =
            NextDatedRepeat(entry, owner.StepYear, owner.StepMonth, owner.StepDay, owner.StepHour);
        name = PrefixedName(entry.FileName,
                            DatedTail(owner.StepYear, owner.StepMonth, owner.StepDay, owner.StepHour, repeat));
    }
    if (at.RunEnd && name == entry.FileName) {
        // The run's last snapshot under the plain name is part of its end state.
        endstate::StagedWrites staged;
        owner.WriteGrid(name, entry.Data, owner.WriteAsciiGrids, owner.WriteDoubleGrids);
        return;
    }
    owner.WriteGrid(name, entry.Data, owner.WriteAsciiGrids, owner.WriteDoubleGrids);
    if ((dated || entry.UnitsDigit == 8) && at.RunEnd) {
        endstate::StagedWrites staged;
        owner.WriteGrid(entry.FileName, entry.Data, owner.WriteAsciiGrids, owner.WriteDoubleGrids);
    }
}

// The snapshot and the aggregates of the period a step closes.
void WriteDue(modelobject& owner, MemoryGrid& entry, const CellTest& test, bool summing, bool suppressAggregates) {
    const WriteMoments at = WriteMomentsAt(owner.StepYear, owner.StepMonth, owner.StepDay, owner.StepHour,
                                           owner.GetTimeShift(), owner.EndKey, owner.DaysPerMonth);
    Snapshot(owner, entry, at);
    if (suppressAggregates) return;

    if (at.RunEnd) {
        if (entry.MinFlag && entry.MinGrid) {
            owner.WriteGridMasked(PrefixedName(entry.MinFileName, ".min"), entry.MinGrid, owner.WriteAsciiGrids,
                                  owner.WriteDoubleGrids);
        }
        if (entry.MaxFlag && entry.MaxGrid) {
            owner.WriteGridMasked(PrefixedName(entry.MaxFileName, ".max"), entry.MaxGrid, owner.WriteAsciiGrids,
                                  owner.WriteDoubleGrids);
        }
    }
    if (summing && SumPeriodEnds(entry.TensDigit, at)) {
        FinishSum(owner, entry, test, entry.TensDigit >= 5);
        owner.WriteGridMasked(
            PrefixedName(entry.SumFileName, SumTail(entry.TensDigit, owner.StepYear, owner.StepMonth, owner.StepDay)),
            entry.SumGrid, owner.WriteAsciiGrids, owner.WriteDoubleGrids);
        RestartSum(owner, entry, test);
    }
}

// The entry of a write code that has something to do, else null.
MemoryGrid* CodedEntry(modelobject& owner, int index) {
    if (!owner.GridTable || index < 1 || index > 1000) return nullptr;
    MemoryGrid& entry = owner.GridTable[index];
    if (entry.UnitsDigit == 0 && entry.TensDigit == 0 && entry.MinFlag == 0 && entry.MaxFlag == 0 &&
        entry.ThousandsDigit == 0) {
        return nullptr;
    }
    return entry.Data ? &entry : nullptr;
}

}  // namespace

struct GridWriteCodes::Item {
    int Index = 0;
    MemoryGrid* Entry = nullptr;  // null: written whole in Finish (vegetation period)
    CellTest Test;
    bool Summing = false;
    bool CopyStack = false;
    bool MinMax = false;
    bool MinMaxStart = false;
};

GridWriteCodes::GridWriteCodes(modelobject& owner, const int* indices, int count, bool regionFilter,
                               bool suppressAggregates)
    : Owner(owner), RegionFilter(regionFilter), SuppressAggregates(suppressAggregates) {
    for (int k = 0; k < count; ++k) {
        Item item;
        item.Index = indices[k];
        MemoryGrid* entry = CodedEntry(owner, indices[k]);
        if (!entry) continue;
        // The vegetation period looks up grids and may end the run: such an
        // entry keeps its own passes, in its turn.
        if (!(entry->ThousandsDigit != 0 && entry->VegGrid)) {
            item.Entry = entry;
            item.Test = MakeCellTest(owner, regionFilter);
            item.Summing = entry->TensDigit != 0 && entry->SumGrid;
            if (item.Summing) PrepareCounts(*entry);
            entry->StepCount += 1.0;
            item.MinMax = (entry->MinFlag && entry->MinGrid) || (entry->MaxFlag && entry->MaxGrid);
            item.CopyStack = entry->Stack && entry->OwnData == 0 && (item.Summing || item.MinMax);
            item.MinMaxStart = entry->MinMaxStarted == 0;
            if (item.CopyStack || item.Summing || item.MinMax) RowCells += int64_t(owner.NRows) * owner.NCols;
        }
        Items.push_back(item);
    }
}

GridWriteCodes::~GridWriteCodes() = default;

void GridWriteCodes::Row(long i) const {
    for (const Item& item : Items) {
        MemoryGrid* entry = item.Entry;
        if (!entry || !(item.CopyStack || item.Summing || item.MinMax)) continue;
        if (i < entry->FirstRow || i > entry->LastRow || i < 1 || i > Owner.NRows || !entry->Data[i]) continue;
        long first, last;
        gridio::RowRange(Owner, i, &first, &last);
        const long aggregate = std::min(last, AggregateColumns(Owner, *entry));
        if (item.CopyStack) CopyStackLevelRow(*entry, item.Test, i, first, std::min<long>(last, Owner.NCols));
        if (item.Summing) AddToSumRow(*entry, item.Test, Owner.NoData, i, first, aggregate);
        if (item.MinMax) UpdateMinMaxRow(*entry, item.Test, Owner.NoData, item.MinMaxStart, i, first, aggregate);
    }
}

void GridWriteCodes::Finish() {
    for (const Item& item : Items) {
        if (!item.Entry) {
            Owner.WriteGridByCode(item.Index, RegionFilter, SuppressAggregates);
            continue;
        }
        item.Entry->MinMaxStarted = 1;
        WriteDue(Owner, *item.Entry, item.Test, item.Summing, SuppressAggregates);
    }
}

void modelobject::WriteGridsByCode(const int* indices, int count, bool regionFilter, bool suppressAggregates) {
    GridWriteCodes codes(*this, indices, count, regionFilter, suppressAggregates);
    // One light pass for all the grids.
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(codes.Cells()))
    for (long i = 1; i <= NRows; ++i) codes.Row(i);
    codes.Finish();
}

void modelobject::WriteGridByCode(int index, bool regionFilter, bool suppressAggregates) {
    if (!GridTable || index < 1 || index > 1000) return;
    MemoryGrid& entry = GridTable[index];
    if (entry.UnitsDigit == 0 && entry.TensDigit == 0 && entry.MinFlag == 0 && entry.MaxFlag == 0 &&
        entry.ThousandsDigit == 0) {
        return;
    }
    if (!entry.Data) return;

    const CellTest test = MakeCellTest(*this, regionFilter);
    const bool summing = entry.TensDigit != 0 && entry.SumGrid;
    if (summing) PrepareCounts(entry);
    entry.StepCount += 1.0;

    const bool minMax = (entry.MinFlag && entry.MinGrid) || (entry.MaxFlag && entry.MaxGrid);
    if (entry.Stack && entry.OwnData == 0 && (summing || minMax)) CopyStackLevel(*this, entry, test);
    if (summing) AddToSum(*this, entry, test);
    if (minMax) UpdateMinMax(*this, entry, test);
    else entry.MinMaxStarted = 1;
    if (entry.ThousandsDigit != 0 && entry.VegGrid) VegetationPeriod(*this, entry, test);

    WriteDue(*this, entry, test, summing, suppressAggregates);
}
