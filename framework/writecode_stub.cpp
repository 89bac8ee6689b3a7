#include "framework/gridtable.h"
#include "framework/modelobject.h"

// Snapshot output by write code, reduced to the snapshot under the file name
// with ".filled" appended (units digit 8).
void modelobject::WriteGridByCode(int index, bool /*regionFilter*/, bool /*suppressAggregates*/) {
    if (!GridTable || index < 1 || index > 1000) return;
    MemoryGrid& entry = GridTable[index];
    if (entry.UnitsDigit != 8 || !entry.Data) return;
    WriteGrid(entry.FileName + ".filled", entry.Data, WriteAsciiGrids, WriteDoubleGrids);
}
