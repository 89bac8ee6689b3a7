#pragma once
// One entity of a special output file: the points of one grid or stack of
// the grid table, each with its cell and, for a stack, its level.

#include <string>
#include <vector>

struct MemoryGrid;
class DiagnosticsWriter;
class SpecialOutputFile;

// The model grid onto which the points are mapped.
struct SpecialOutputGeometry {
    double XllCorner = 0, YllCorner = 0, CellSize = 0;
    int NCols = 0, NRows = 0;
    double NoData = -9999;
};

// The cells this model instance reads: those whose region grid holds the
// instance's number (every cell without a region grid) within its rows.
struct InstanceCells {
    double** Regions = nullptr;
    double Process = 0;
    int FirstRow = 1;
    int LastRow = 0;
};

class SpecialOutputEntity {
public:
    // `text` is the entity's brace block. Ends with code 1006 (x and y counts
    // differ), 1007 (levels not one per point), 1008 (a point outside the
    // grid) or 104 (a key or a value missing), each with its FATAL entry.
    SpecialOutputEntity(DiagnosticsWriter* writer, const std::string& text, const SpecialOutputGeometry& geometry,
                        MemoryGrid* gridTable, SpecialOutputFile* owner, int subSteps);

    // The current values of the points into values[0 .. Points - 1]; -9999
    // where the grid or the cell has none.
    void ReadValues(double* values, const InstanceCells& cells) const;

    // The entry named ID that holds a grid or a stack, or 0. The search ends
    // at the first entry that never held a name.
    static int FindGridOrStack(const MemoryGrid* table, const std::string& name);

    DiagnosticsWriter* Writer = nullptr;
    int Points = 0;
    int GridIndex = 0;  // 0: no entry of that name
    double XllCorner = 0, YllCorner = 0, CellSize = 0;
    int NCols = 0, NRows = 0;
    std::string ID;      // internal grid name
    std::string Symbol;  // label of the header
    std::vector<double> Xcoords, Ycoords;
    std::vector<int> Level;  // empty, or one per point
    std::vector<int> Column, Row;
    MemoryGrid* GridTable = nullptr;
    SpecialOutputFile* File = nullptr;
    int SubSteps = 1;
    bool Flux = false;  // summed over the sub-steps of a time step

private:
    std::vector<double> ReadList(const std::string& text, const std::string& key);
    std::vector<int> ReadIntList(const std::string& text, const std::string& key);
    [[noreturn]] void OutsideGrid(const char* axis, double coordinate, int point);
};

// Writes "FATAL: Error in section [special_output]: " + what and ends with
// code 104 (a key, a value or a line missing in the section).
[[noreturn]] void SpecialOutputSectionError(DiagnosticsWriter* writer, const std::string& what);

// The first word of the value of `key` (first occurrence); a missing key or
// an empty value ends with code 104.
std::string RequiredBraceWord(DiagnosticsWriter* writer, const std::string& text, const std::string& key,
                              const std::string& where);
