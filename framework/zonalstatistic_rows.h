#pragma once
// Zone sums gathered in the parallel pass that produces a grid.
//
// The pattern every cell loop follows:
//
//     statistic->ResetStep();                       // serial, before the loop
//     #pragma omp parallel for schedule(static, 1)  // one pass over the rows
//     for (int row = first; row <= last; ++row) {
//         for (...) {
//             grid[row][col] = ...;                 // compute, limit, correct
//             statistic->AddToRow(row, col, zone, grid[row][col], 1.0);
//         }
//     }
//     statistic->CloseStep(year, month, day, hour); // folds the rows, serial
//
// Each row keeps its own partial sums per zone (weights, weighted areas,
// weighted values, cell counts, minima and maxima), filled in column order by
// the one thread that runs the row. The fold adds the rows in ascending row
// order, so every sum is the same for any number of threads and any schedule.
// A row of cells of one zone can be added as a run (`AddRun`, with the runs
// of every row found once by `ZoneRuns`): the same sums in the same order,
// without looking up the zone of every cell.
// `Add` never throws: a zone out of range or a failed allocation is kept with
// its row and raised by the owner after the loop, for the lowest such row.
// Clearing only moves a mark: a row's partials count from the first `Add`
// after the latest clearing, which empties them then, in the thread that runs
// the row. So the serial work between the passes is one read of the rows
// that fold, and none for the clearing; rows no pass reached cost nothing.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <vector>

#include "framework/zonetable.h"

#include "framework/invariant.h"

// The sums of one zone within one row.
struct ZonePartial {
    int Zone = 0;
    double Weight = 0;     // sum of the weights
    double Area = 0;       // sum of area * weight
    double Sum = 0;        // sum of value * area * weight
    int64_t Count = 0;     // cells
    double Min = std::numeric_limits<double>::infinity();
    double Max = -std::numeric_limits<double>::infinity();
};

class ZoneRowSums {
public:
    // Rows 0 to `rows`, zones 0 to `zones`; clears every row. Serial.
    void Resize(int rows, int zones);
    // Forgets the partials of every row. Serial.
    void Clear() noexcept { ++Mark; }

    // Adds one cell to `row`. Only the thread running the row may call it.
    void Add(int row, int zone, double value, double weight, double area) noexcept {
        RowSums& sums = Current(row);
        if (zone < 0 || zone > Zones) {
            if (sums.Failure == 0) {
                sums.Failure = BadZone;
                sums.BadZoneIndex = zone;
            }
            return;
        }
        ZonePartial* partial = Find(sums, zone);
        if (!partial) return;
        partial->Weight += weight;
        partial->Area += area * weight;
        partial->Sum += value * area * weight;
        ++partial->Count;
        if (value < partial->Min) partial->Min = value;
        if (value > partial->Max) partial->Max = value;
    }

    // Adds the cells `first` to `last` of `row`, all of zone `zone`: values
    // from `values`, areas from `areas` (null: 1; an area not above
    // `missingArea` counts 1). The same sums as `Add` cell by cell, with one
    // look-up of the zone for the whole run.
    void AddRun(int row, int zone, const double* values, const double* areas, double missingArea, int first,
                int last, double weight) noexcept {
        if (row < 0 || row >= static_cast<int>(Rows.size()))
            RuvexInvariantFailure("zone sums of a row outside the grid", __FILE__, __LINE__);
        if (last < first) return;
        RowSums& sums = Current(row);
        if (zone < 0 || zone > Zones) {
            if (sums.Failure == 0) {
                sums.Failure = BadZone;
                sums.BadZoneIndex = zone;
            }
            return;
        }
        ZonePartial* partial = Find(sums, zone);
        if (!partial) return;
        double w = partial->Weight, a = partial->Area, s = partial->Sum;
        double low = partial->Min, high = partial->Max;
        for (int c = first; c <= last; ++c) {
            double area = areas ? areas[c] : 1.0;
            if (!(area > missingArea)) area = 1.0;
            const double value = values[c];
            w += weight;
            a += area * weight;
            s += value * area * weight;
            low = value < low ? value : low;
            high = value > high ? value : high;
        }
        partial->Weight = w;
        partial->Area = a;
        partial->Sum = s;
        partial->Count += last - first + 1;
        partial->Min = low;
        partial->Max = high;
    }

    // Hands every partial to `fold(const ZonePartial&)`: rows ascending,
    // within a row in the order its zones first appeared. Serial.
    template <typename Fold>
    void ForEachPartial(Fold fold) const {
        for (const RowSums& sums : Rows) {
            if (sums.Mark != Mark) continue;
            for (const ZonePartial& partial : sums.Partials) fold(partial);
        }
    }

    // `ForEachPartial` up to the lowest row that failed, which is returned
    // (-1: none failed, every partial was handed over); `zone` receives the
    // zone index that was out of range, `outOfMemory` whether an allocation
    // failed instead. One pass over the rows. Serial.
    template <typename Fold>
    int FoldUntilFailure(Fold fold, int* zone, bool* outOfMemory) const {
        for (size_t row = 0; row < Rows.size(); ++row) {
            const RowSums& sums = Rows[row];
            if (sums.Mark != Mark) continue;
            if (sums.Failure != None) {
                if (zone) *zone = sums.BadZoneIndex;
                if (outOfMemory) *outOfMemory = sums.Failure == NoMemory;
                return static_cast<int>(row);
            }
            for (const ZonePartial& partial : sums.Partials) fold(partial);
        }
        return -1;
    }

    // The lowest row that failed, or -1; `zone` receives the zone index that
    // was out of range, `outOfMemory` whether an allocation failed instead.
    int FirstFailure(int* zone, bool* outOfMemory) const;

private:
    enum Failure : int { None = 0, BadZone = 1, NoMemory = 2 };
    struct RowSums {
        std::vector<ZonePartial> Partials;
        uint64_t Mark = 0;  // the clearing the partials belong to
        int LastHit = 0;    // index of the partial hit last; neighbours share zones
        int Failure = None;
        int BadZoneIndex = 0;
    };

    // The sums of `row`, emptied first when they are from before the latest
    // clearing.
    RowSums& Current(int row) noexcept {
        if (row < 0 || row >= static_cast<int>(Rows.size()))
            RuvexInvariantFailure("zone sums of a row outside the grid", __FILE__, __LINE__);
        RowSums& sums = Rows[static_cast<size_t>(row)];
        if (sums.Mark != Mark) {
            sums.Partials.clear();
            sums.LastHit = 0;
            sums.Failure = None;
            sums.BadZoneIndex = 0;
            sums.Mark = Mark;
        }
        return sums;
    }

    ZonePartial* Find(RowSums& sums, int zone) noexcept {
        std::vector<ZonePartial>& partials = sums.Partials;
        const int n = static_cast<int>(partials.size());
        if (sums.LastHit < n && partials[static_cast<size_t>(sums.LastHit)].Zone == zone)
            return &partials[static_cast<size_t>(sums.LastHit)];
        for (int i = 0; i < n; ++i) {
            if (partials[static_cast<size_t>(i)].Zone == zone) {
                sums.LastHit = i;
                return &partials[static_cast<size_t>(i)];
            }
        }
        try {
            partials.push_back(ZonePartial{});
        } catch (...) {
            if (sums.Failure == 0) sums.Failure = NoMemory;
            return nullptr;
        }
        partials.back().Zone = zone;
        sums.LastHit = n;
        return &partials.back();
    }

    std::vector<RowSums> Rows;
    uint64_t Mark = 1;  // rows of another mark hold nothing
    int Zones = -1;
};

// A run of neighbouring cells of one row that a statistic counts, all of one
// zone rank.
struct ZoneRun {
    int First = 0;
    int Last = -1;
    int Zone = 0;
};

// The runs of every row, built once from a rank function (a rank below 1:
// the cell is not counted); the cell loops then add whole runs.
class ZoneRuns {
public:
    // Rows `firstRow` to `lastRow` of 0 to `rows`, within the valid columns
    // of `extents` (indexed by row).
    template <typename RankOf>
    void Build(int firstRow, int lastRow, int rows, const RowExtent* extents, RankOf rankOf) {
        Runs.assign(static_cast<size_t>(rows < 0 ? 0 : rows) + 1, {});
        for (int r = firstRow < 1 ? 1 : firstRow; r <= lastRow && r <= rows; ++r) {
            std::vector<ZoneRun>& runs = Runs[static_cast<size_t>(r)];
            for (int c = extents[r].first; c <= extents[r].last; ++c) {
                const int zone = rankOf(r, c);
                if (zone < 1) continue;
                if (!runs.empty() && runs.back().Zone == zone && runs.back().Last == c - 1) {
                    runs.back().Last = c;
                } else {
                    runs.push_back(ZoneRun{c, c, zone});
                }
            }
        }
        IsBuilt = true;
    }
    bool Built() const { return IsBuilt; }
    void Forget() {
        Runs.clear();
        IsBuilt = false;
    }
    const std::vector<ZoneRun>& Row(int row) const { return Runs[static_cast<size_t>(row)]; }

private:
    std::vector<std::vector<ZoneRun>> Runs;
    bool IsBuilt = false;
};
