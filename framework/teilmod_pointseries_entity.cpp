#include "framework/teilmod_pointseries_entity.h"

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/teilmod_pointseries_text.h"

using special_output::Missing;

void SpecialOutputSectionError(DiagnosticsWriter* writer, const std::string& what) {
    if (writer) *writer << "FATAL: Error in section [special_output]: " << what << "[end-entry]";
    throw 104;
}

std::string RequiredBraceWord(DiagnosticsWriter* writer, const std::string& text, const std::string& key,
                              const std::string& where) {
    const auto value = special_output::FindBraceValue(text, key, special_output::Occurrence::First);
    const std::string word = value.Complete ? special_output::FirstWord(value.Text) : std::string();
    if (word.empty()) {
        SpecialOutputSectionError(writer, std::string(value.KeyFound ? "no value (key = value;) for " : "no key ") +
                                              "\"" + key + "\" in " + where + ":\n" + text);
    }
    return word;
}

int SpecialOutputEntity::FindGridOrStack(const MemoryGrid* table, const std::string& name) {
    if (!table) return 0;
    for (int i = FirstGridIndex; i <= LastGridIndex; ++i) {
        const MemoryGrid& entry = table[i];
        if (!entry.EverUsed && entry.InternalName.empty()) return 0;
        if (entry.InternalName == name && (entry.Data || entry.Stack)) return i;
    }
    return 0;
}

SpecialOutputEntity::SpecialOutputEntity(DiagnosticsWriter* writer, const std::string& text,
                                         const SpecialOutputGeometry& geometry, MemoryGrid* gridTable,
                                         SpecialOutputFile* owner, int subSteps)
    : Writer(writer),
      XllCorner(geometry.XllCorner),
      YllCorner(geometry.YllCorner),
      CellSize(geometry.CellSize),
      NCols(geometry.NCols),
      NRows(geometry.NRows),
      GridTable(gridTable),
      File(owner),
      SubSteps(subSteps) {
    ID = RequiredBraceWord(Writer, text, "ID", "an entity");
    Symbol = RequiredBraceWord(Writer, text, "Symbol", "the entity " + ID);
    Xcoords = ReadList(text, "Xcoords");
    Ycoords = ReadList(text, "Ycoords");
    Level = ReadIntList(text, "Level");

    if (Xcoords.size() != Ycoords.size()) {
        if (Writer) {
            *Writer << "FATAL: Error in section [special_output]: count of X coordinates dos not match the number of "
                       "Y coordinates for entity "
                    << ID << "[end-entry]";
        }
        throw 1006;
    }
    Points = static_cast<int>(Xcoords.size());
    if (!Level.empty() && Level.size() != Xcoords.size()) {
        if (Writer) {
            *Writer << "FATAL: Error in section [special_output]: number of levels dos not match the number of X and "
                       "Y coordinates for entity "
                    << ID << ". EIther each point has a level or none has." << "[end-entry]";
        }
        throw 1007;
    }

    Column.assign(static_cast<size_t>(Points), 0);
    Row.assign(static_cast<size_t>(Points), 0);
    for (int i = 0; i < Points; ++i) {
        const size_t p = static_cast<size_t>(i);
        Column[p] = special_output::PointColumn(Xcoords[p], XllCorner, CellSize, NCols);
        if (Column[p] == 0) OutsideGrid("x", Xcoords[p], i);
        Row[p] = special_output::PointRow(Ycoords[p], YllCorner, CellSize, NRows);
        if (Row[p] == 0) OutsideGrid("y", Ycoords[p], i);
    }

    GridIndex = FindGridOrStack(GridTable, ID);
    if (GridIndex > 0 && Level.empty() && !GridTable[GridIndex].Data && Writer) {
        *Writer << "WARNING: special output: the entity " << ID
                << " names a stack but gives no levels; its points are written as -9999" << "[end-entry]";
    }
    Flux = SubSteps > 1 && special_output::IsFluxName(ID);
}

void SpecialOutputEntity::OutsideGrid(const char* axis, double coordinate, int point) {
    if (Writer) {
        *Writer << "FATAL: Error in section [special_output]: " << axis << "-coordinate " << coordinate
                << ", defined as point " << point << " for entity " << ID << ", is located outside the actual grid."
                << "[end-entry]";
    }
    throw 1008;
}

std::vector<double> SpecialOutputEntity::ReadList(const std::string& text, const std::string& key) {
    std::vector<double> list;
    const auto value = special_output::FindBraceValue(text, key, special_output::Occurrence::Last);
    if (!value.KeyFound) return list;
    if (!value.Complete) SpecialOutputSectionError(Writer, "no value (key = value;) for \"" + key + "\" of entity " + ID);
    for (const std::string& item : special_output::ListItems(value.Text)) {
        double number = 0;
        if (!special_output::ParseDouble(item, &number)) {
            SpecialOutputSectionError(Writer, "\"" + item + "\" in \"" + key + "\" of entity " + ID + " is no number");
        }
        list.push_back(number);
    }
    return list;
}

std::vector<int> SpecialOutputEntity::ReadIntList(const std::string& text, const std::string& key) {
    std::vector<int> list;
    const auto value = special_output::FindBraceValue(text, key, special_output::Occurrence::Last);
    if (!value.KeyFound) return list;
    if (!value.Complete) SpecialOutputSectionError(Writer, "no value (key = value;) for \"" + key + "\" of entity " + ID);
    for (const std::string& item : special_output::ListItems(value.Text)) {
        int number = 0;
        if (!special_output::ParseInt(item, &number)) {
            SpecialOutputSectionError(Writer,
                                      "\"" + item + "\" in \"" + key + "\" of entity " + ID + " is no whole number");
        }
        list.push_back(number);
    }
    return list;
}

void SpecialOutputEntity::ReadValues(double* values, const InstanceCells& cells) const {
    const MemoryGrid* entry = GridIndex > 0 && GridTable ? &GridTable[GridIndex] : nullptr;
    // An entry released or given to another grid since the lookup has no
    // values for this entity any more.
    if (entry && entry->InternalName != ID) entry = nullptr;
    const bool fromStack = entry && !Level.empty() && entry->Stack;
    const bool fromGrid = entry && !fromStack && entry->Data;
    const bool entryRows = entry && entry->FirstRow >= 1 && entry->LastRow >= entry->FirstRow;
    for (int i = 0; i < Points; ++i) {
        const size_t p = static_cast<size_t>(i);
        values[i] = Missing;
        if (!fromStack && !fromGrid) continue;
        const int r = Row[p];
        const int c = Column[p];
        if (c < 1 || c > NCols || r < cells.FirstRow || r > cells.LastRow) continue;
        if (cells.Regions && cells.Regions[r][c] != cells.Process) continue;
        if (entryRows && (r < entry->FirstRow || r > entry->LastRow)) continue;
        if (fromStack) {
            const int level = Level[p];
            if (level < 0 || level > entry->NumLevels) continue;
            values[i] = entry->Stack[r][c][level];
        } else {
            values[i] = entry->Data[r][c];
        }
    }
}
