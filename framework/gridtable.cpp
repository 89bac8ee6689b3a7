#include "framework/gridtable.h"

#include "framework/diagnostics_writer.h"
#include "framework/modelobject.h"

std::unique_ptr<MemoryGrid[]> CreateGridTable() { return std::make_unique<MemoryGrid[]>(GridTableEntries); }

bool GridEntryFree(const MemoryGrid& entry) {
    return !entry.EverUsed && entry.InternalName.empty() && entry.FileName.empty() && !entry.Data && !entry.Stack;
}

int FindFreeGridEntry(const MemoryGrid* table, int from) {
    if (!table) return NoFreeGridEntry;
    for (int i = from < FirstGridIndex ? FirstGridIndex : from; i <= LastGridIndex; ++i) {
        if (GridEntryFree(table[i])) return i;
    }
    return NoFreeGridEntry;
}

int FindGridEntry(const MemoryGrid* table, const std::string& name, bool requireData) {
    if (!table) return 0;
    for (int i = FirstGridIndex; i <= LastGridIndex; ++i) {
        const MemoryGrid& entry = table[i];
        if (!entry.EverUsed && entry.InternalName.empty()) return 0;  // never held a name: end of the table
        if (entry.InternalName == name && (!requireData || entry.Data)) return i;
    }
    return 0;
}

int modelobject::FindGrid(const std::string& name) { return FindGridEntry(GridTable, name, true); }

int modelobject::GetGridIndex(const std::string& name) {
    const int index = FindGridEntry(GridTable, name, false);
    if (index > 0) return index;
    if (Writer) {
        *Writer << "FATAL: \n---------------- !!! ERROR !!!  --------------------------\n" << name
                << " not found in memory,\nThese data are needed within " << ModuleName
                << " \nif they are interpolated data, please specify an interpolator for\n" << name
                << " in the control file or read it in as a standardfile,\n"
                   "-----------------------------------------------------------\n"
                << "[end-entry]";
    }
    throw 33;
}

double** modelobject::OptionalGrid(const std::string& name) {
    const int index = FindGrid(name);
    return index > 0 ? GridTable[index].Data : nullptr;
}

double** modelobject::RequiredGrid(const std::string& name) {
    const int index = GetGridIndex(name);  // reports a missing grid (code 33)
    if (GridTable[index].Data) return GridTable[index].Data;
    if (Writer) *Writer << "FATAL: the grid " << name << " holds no data (needed by " << ModuleName << ")[end-entry]";
    throw 33;
}

int modelobject::FindOneOfThreeGrids(const std::string& name1, const std::string& name2, const std::string& name3) {
    for (const std::string* name : {&name1, &name2, &name3}) {
        const int index = FindGridEntry(GridTable, *name, false);
        if (index > 0) return index;
    }
    if (Writer) {
        *Writer << "FATAL: \n---------------- !!! ERROR !!!  ------------------------------------\n"
                << "Wether " << name1 << ", " << name2 << " or " << name3 << " \nwhere found in memory,\n"
                << "One of these data sets has to be present within " << ModuleName << " \n"
                << "If the data are to be interpolated, please specify an interpolatior for\n" << name1 << ", "
                << name2 << " or " << name3 << " in the control file,\n"
                << "or read it as a standard grid \n"
                << "-----------------------------------------------------------------------\n"
                << "[end-entry]";
    }
    throw 33;
}

int modelobject::FindOneOfFourGrids(const std::string& name1, const std::string& name2, const std::string& name3,
                                    const std::string& name4) {
    for (const std::string* name : {&name1, &name2, &name3, &name4}) {
        const int index = FindGridEntry(GridTable, *name, false);
        if (index > 0) return index;
    }
    if (Writer) {
        *Writer << "FATAL: \n---------------- !!! ERROR !!!  ------------------------------------\n"
                << "Wether " << name1 << ", " << name2 << ", " << name3 << " or " << name4
                << " \nwhere found in memory,\n"
                << "One of these data sets has to be present within " << ModuleName << " \n"
                << "If the data are to be interpolated, please specify an interpolatior for\n" << name1 << ", "
                << name2 << ", " << name3 << " or " << name4 << " in the control file,\n"
                << "or read it as a standard grid \n"
                << "-----------------------------------------------------------------------\n"
                << "[end-entry]";
    }
    throw 33;
}

void modelobject::CheckGridIndex(int index) {
    if (GridTable && index >= FirstGridIndex && index <= LastGridIndex) return;
    if (Writer) {
        if (!GridTable) {
            *Writer << "FATAL: no grid table in " << ModuleName << "[end-entry]";
        } else if (index > LastGridIndex) {
            *Writer << "FATAL: no free grid in memory,(max. " << NoFreeGridEntry << ")!" << "[end-entry]";
        } else {
            *Writer << "FATAL: invalid grid index " << index << " in " << ModuleName << " (valid: "
                    << FirstGridIndex << " to " << LastGridIndex << ")!" << "[end-entry]";
        }
    }
    throw 12;
}

namespace {

void FreeAggregate(memory_handling& owner, double**& grid, std::string& name, const MemoryGrid& entry) {
    if (grid) owner.free_matrix(grid, entry.FirstRow, entry.LastRow, 1, entry.AggregateColumns);
    grid = nullptr;
    name.clear();
}

void FreeAggregates(memory_handling& owner, MemoryGrid& entry) {
    FreeAggregate(owner, entry.SumGrid, entry.SumFileName, entry);
    FreeAggregate(owner, entry.MinGrid, entry.MinFileName, entry);
    FreeAggregate(owner, entry.MaxGrid, entry.MaxFileName, entry);
    FreeAggregate(owner, entry.VegGrid, entry.VegFileName, entry);
}

}  // namespace

void modelobject::StoreGrid(int index, const std::string& fileName, double** data, GridStack stack, int numLevels,
                            const std::string& internalName, int writeCode, long firstRow, long lastRow) {
    CheckGridIndex(index);
    MemoryGrid& entry = GridTable[index];
    // Aggregates of an earlier grid in this entry are not carried over.
    FreeAggregates(*this, entry);

    entry.EverUsed = true;
    entry.FileName = fileName;
    if (entry.OutputName.empty()) {
        entry.OutputName = fileName;
        entry.OutputNameOwned = 1;
    }
    entry.InternalName = internalName;
    entry.Data = data;
    entry.Stack = stack;
    entry.NumLevels = numLevels;
    entry.StepCount = 0.0;
    entry.MinMaxStarted = 0;

    entry.UnitsDigit = writeCode % 10;
    entry.TensDigit = (writeCode % 100) / 10;
    const int hundreds = (writeCode % 1000) / 100;
    entry.ThousandsDigit = (writeCode % 10000) / 1000;
    entry.MinFlag = (hundreds == 1 || hundreds == 3) ? 1 : 0;
    entry.MaxFlag = (hundreds == 2 || hundreds == 3) ? 1 : 0;

    entry.FirstRow = firstRow;
    entry.LastRow = lastRow;
    entry.AggregateColumns = NCols;
    auto aggregate = [&](double**& grid, std::string& name) {
        grid = matrix(firstRow, lastRow, 1, NCols, NRows);
        name = fileName;
    };
    if (entry.TensDigit != 0) aggregate(entry.SumGrid, entry.SumFileName);
    if (entry.MinFlag) aggregate(entry.MinGrid, entry.MinFileName);
    if (entry.MaxFlag) aggregate(entry.MaxGrid, entry.MaxFileName);
    if (entry.ThousandsDigit != 0) aggregate(entry.VegGrid, entry.VegFileName);

    if (entry.UnitsDigit == 8) WriteGridByCode(index, true, false);
}

void modelobject::ReleaseGrid(int index) {
    CheckGridIndex(index);
    MemoryGrid& entry = GridTable[index];
    if (!GridEntryFree(entry)) entry.EverUsed = true;
    entry.FileName.clear();
    entry.InternalName.clear();
    entry.UnitsDigit = 0;
    entry.NumLevels = 0;
    entry.Data = nullptr;
    entry.Stack = nullptr;
    entry.StepCount = 0.0;
    FreeAggregates(*this, entry);
    if (entry.OutputNameOwned == 1) {
        entry.OutputName.clear();
        entry.OutputNameOwned = 0;
    }
}
