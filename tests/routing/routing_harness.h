#pragma once
// Builds the routing model from a control file under tests/data/routing with
// a synthetic subbasin table, so that the routing's set-up can be checked
// without the soil model.

#include <memory>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "framework/zonetable.h"
#include "routing/abfluss.h"
#include "framework/model_settings.h"
#include "support/test_support.h"

namespace routingtest {

// Subbasins of the network file: code and area fraction; the total area is
// 100 km2 unless a test sets another.
struct Subbasin {
    int Code;
    double Fraction;
};
std::vector<Subbasin> NetworkSubbasins();

// The control text of tests/data/routing/<name> with each `from` replaced by
// its `to` (every replacement must match).
std::string ControlText(const std::string& name, const std::vector<std::pair<std::string, std::string>>& edits = {});

class RoutingHarness {
public:
    explicit RoutingHarness(std::vector<Subbasin> subbasins = NetworkSubbasins(), double totalArea = 100.0);
    ~RoutingHarness();
    RoutingHarness(const RoutingHarness&) = delete;
    RoutingHarness& operator=(const RoutingHarness&) = delete;

    // Writes `control` and constructs the routing in the harness directory
    // (the w-q tables go into the working directory). `status` receives the
    // constructor's status.
    std::unique_ptr<abflussmodellklasse> Build(const std::string& control, int* status, int tracers = 0);
    // Links for a description made by hand.
    RoutingDescriptionLinks Links(double** abfrel, double dt = 60.0);

    int Rank(int code) const { return CodeToRank[static_cast<size_t>(code)]; }
    std::string Console() const { return console.str(); }
    std::string File(const std::string& name) const;

    testsupport::TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<ZoneRecord> Records;
    std::vector<int> CodeToRank;
    SubbasinTable Subbasins;

private:
    memory_handling memory;
    double** zoneGrid = nullptr;
    std::string previousDirectory;
};

}  // namespace routingtest
