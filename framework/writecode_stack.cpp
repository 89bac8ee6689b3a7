#include <string>

#include "framework/end_state_stage.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/writecode.h"

// Snapshots of an entry's stack; stacks keep no aggregates. Dated names keep
// the whole prefix of the file name, so that stacks whose names share their
// first letters never overwrite each other.
void modelobject::WriteStackByCode(int index) {
    if (!GridTable || index < 1 || index > 1000) return;
    MemoryGrid& entry = GridTable[index];
    if (entry.UnitsDigit == 0 && entry.TensDigit == 0) return;
    if (!entry.Stack) return;

    const WriteMoments at =
        WriteMomentsAt(StepYear, StepMonth, StepDay, StepHour, GetTimeShift(), EndKey, DaysPerMonth);
    bool dated = false;
    const bool due = SnapshotDue(entry.UnitsDigit, 5, at, &dated);
    if (!due) return;
    std::string name = entry.FileName;
    if (dated) {
        const int64_t repeat = NextDatedRepeat(entry, StepYear, StepMonth, StepDay, StepHour);
        name = PrefixedName(entry.FileName, DatedTail(StepYear, StepMonth, StepDay, StepHour, repeat));
    }
    if (at.RunEnd && !dated) {
        // The run's last snapshot under the plain name is part of its end state.
        endstate::StagedWrites staged;
        WriteStack(name, entry.Stack, entry.NumLevels, WriteAsciiGrids, WriteDoubleGrids);
        return;
    }
    WriteStack(name, entry.Stack, entry.NumLevels, WriteAsciiGrids, WriteDoubleGrids);
    if (dated && at.RunEnd) {
        endstate::StagedWrites staged;
        WriteStack(entry.FileName, entry.Stack, entry.NumLevels, WriteAsciiGrids, WriteDoubleGrids);
    }
}
