// The model grids during the run: periodic re-reading of dated standard
// grids, the return of non-persistent grids to their set-up values, and the
// output of every set-up grid by its write code.

#include <algorithm>
#include <cstdio>
#include <string>

#include "framework/gridfiles_io.h"
#include "framework/gridtable.h"
#include "setup/defltuzr.h"

namespace {

// The counted part of the date for a periodicity unit word: the first of the
// letters H, D, M found in it, else Y; 0 when it holds none of them.
char PeriodUnit(const std::string& word) {
    for (char letter : {'H', 'D', 'M', 'Y'}) {
        if (word.find(letter) != std::string::npos) return letter;
    }
    return 0;
}

// "%s_%04ld%02ld%02ld%02ld": the file name followed by the date of the step.
std::string DatedName(const std::string& fileName, int64_t year, int64_t month, int64_t day, int64_t hour) {
    char date[96];
    std::snprintf(date, sizeof date, "_%04ld%02ld%02ld%02ld", static_cast<long>(year), static_cast<long>(month),
                  static_cast<long>(day), static_cast<long>(hour));
    return fileName + date;
}

}  // namespace

void defaultini::UpdatePeriodicGrids(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (!GridTable) return;
    const int last = std::min(Settings.SetupGridCount + 2, LastGridIndex);
    for (int index = 3; index <= last; ++index) {
        MemoryGrid& entry = GridTable[index];
        if (entry.PeriodicityCount <= 0 || !entry.Data) continue;

        const char unit = PeriodUnit(entry.PeriodicityUnit);
        if (unit != 0) {
            const int64_t x = (unit == 'H' || unit == 'D') ? hour : unit == 'M' ? day : month;
            if (x > entry.LastDateValue) {
                ++entry.SubUnitCount;
            } else if (x < entry.LastDateValue) {
                // A new day, month or year opens a period.
                entry.SubUnitCount = 1;
                ++entry.PeriodCount;
            }
            entry.LastDateValue = x;
        }

        if (unit != 0 && entry.PeriodCount == entry.PeriodicityCount &&
            entry.SubUnitCount == entry.PeriodicityOffset) {
            RereadPeriodicGrid(index, hour, day, month, year);
        } else if (entry.TemporaryValues) {
            ++entry.StepsSinceReread;
            if (entry.StepsSinceReread >= entry.PersistenceSteps && entry.Backup) {
                const long firstRow = std::max<long>(FirstRow, entry.FirstRow);
                const long lastRow = std::min<long>(LastRow, entry.LastRow);
                for (long i = firstRow; i <= lastRow; ++i) {
                    if (!entry.Data[i] || !entry.Backup[i]) continue;
                    long first = 1, lastColumn = 0;
                    gridio::RowRange(*this, i, &first, &lastColumn);
                    for (long j = first; j <= lastColumn; ++j) entry.Data[i][j] = entry.Backup[i][j];
                }
                entry.TemporaryValues = false;
            }
        }
    }
}

void defaultini::RereadPeriodicGrid(int index, int64_t hour, int64_t day, int64_t month, int64_t year) {
    MemoryGrid& entry = GridTable[index];
    const std::string& input = static_cast<size_t>(index) < InputFileNames.size() && !InputFileNames[index].empty()
                                   ? InputFileNames[static_cast<size_t>(index)]
                                   : entry.FileName;
    entry.DatedFileName = DatedName(input, year, month, day, hour);
    // Into the grid in place: every component holds this very matrix.
    double** grid = entry.Data;
    ReadGrid(entry.DatedFileName, grid, entry.FillCode, false, true, entry.DefaultValue, true);
    entry.PeriodCount = 0;
    entry.SubUnitCount = 0;
    if (!entry.Persistent) {
        entry.StepsSinceReread = 0;
        entry.TemporaryValues = true;
    }
}

void defaultini::WriteStandardGrids(int64_t hour, int64_t day, int64_t month, int64_t year) {
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    if (!GridTable) return;
    const int last = std::min(Settings.SetupGridCount + 2, LastGridIndex);
    const int variableEnd = FirstVariableEntry + VariableGridCount;
    for (int index = 2; index <= last; ++index) {
        if (VariableGridCount > 0 && index >= FirstVariableEntry && index < variableEnd) continue;
        WriteGridByCode(index, true, false);
    }
}

void defaultini::WriteVariableGrids(int64_t hour, int64_t day, int64_t month, int64_t year) {
    StepHour = hour;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    if (!GridTable) return;
    for (int k = 0; k < VariableGridCount; ++k) WriteGridByCode(FirstVariableEntry + k, true, false);
}
