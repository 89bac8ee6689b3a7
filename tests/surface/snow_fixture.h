#pragma once
// The snow model on a small grid in the test process: the grid table with the
// grids the snow model looks up, the zone table and the model settings, and
// the lines of its section.

#include <map>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "framework/zonetable.h"
#include "framework/model_settings.h"
#include "support/test_support.h"
#include "surface/snowmod.h"

namespace snowtest {

// The section lines after the switch and the interval, numbered 1 to 62.
struct SnowSection {
    std::map<int, std::string> Lines;
    SnowSection();
    // Lines 1 to 41, and 42 to 62 for methods above 4; `last` cuts it short.
    std::string Text(int last = 0) const;
    void Set(int line, const std::string& value) { Lines[line] = value; }
};

// A grid of `rows` x `cols` cells, every cell in zone 1 unless the zone rows
// say otherwise ("1 -9999 1" and so on), elevations by row.
struct SnowFixture {
    testsupport::TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    ZoneTable zones;
    std::vector<RowExtent> extents;
    memory_handling memory;
    std::vector<double**> grids;
    int rows, cols;

    SnowFixture(int rows, int cols, const std::vector<std::vector<double>>& zoneValues,
                const std::vector<std::vector<double>>& elevations);
    ~SnowFixture();
    // A uniform grid (nodata outside the zones) in the next free entry.
    double** Add(const std::string& name, double value);
    double** Grid(const std::string& name);
    int Entry(const std::string& name) { return FindGridEntry(table.get(), name, true); }
    // Writes "model.ctl" with the snow section and builds the model.
    std::unique_ptr<schneemodellklasse> Make(const SnowSection& section, int interval = 60,
                                             const std::string& extra = "");
    // The code thrown by Make, 0 when none.
    int MakeCode(const SnowSection& section, int interval = 60, const std::string& extra = "");
    // The standard inputs: precipitation, temperature, albedo, land use.
    void AddInputs(double precipitation, double temperature);
    std::string Diagnostics() const { return console.str(); }
};

}  // namespace snowtest
