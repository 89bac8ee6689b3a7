#include "routing/routing_harness.h"

#include <unistd.h>

#include <algorithm>
#include <climits>
#include <stdexcept>

namespace routingtest {

std::vector<Subbasin> NetworkSubbasins() {
    return {{1, 0.0549}, {2, 0.0278}, {3, 0.0499}, {12, 0.05}, {13, 0.03}, {14, 0.01}, {20, 0.1}, {30, 0.6774}};
}

std::string ControlText(const std::string& name, const std::vector<std::pair<std::string, std::string>>& edits) {
    std::string text = testsupport::ReadFile(testsupport::TestDataPath("routing/" + name));
    for (const auto& [from, to] : edits) {
        const size_t at = text.find(from);
        if (at == std::string::npos) throw std::runtime_error("no \"" + from + "\" in " + name);
        text.replace(at, from.size(), to);
    }
    return text;
}

RoutingHarness::RoutingHarness(std::vector<Subbasin> subbasins, double totalArea) {
    std::sort(subbasins.begin(), subbasins.end(), [](const Subbasin& a, const Subbasin& b) { return a.Code < b.Code; });
    const int largest = subbasins.empty() ? 0 : subbasins.back().Code;
    CodeToRank.assign(static_cast<size_t>(largest + 1), 0);
    Records.assign(subbasins.size() + 1, ZoneRecord{});
    Records[0].zonenwert = 1;
    Records[0].rel = totalArea;
    for (size_t i = 0; i < subbasins.size(); ++i) {
        Records[i + 1].zonenwert = subbasins[i].Code;
        Records[i + 1].rel = subbasins[i].Fraction;
        Records[i + 1].n = Records[i + 1].sx = Records[i + 1].RelCellSum = 1;
        CodeToRank[static_cast<size_t>(subbasins[i].Code)] = static_cast<int>(i + 1);
    }
    Subbasins = SubbasinTable{Records.data(), CodeToRank.data(), static_cast<int>(subbasins.size()), largest};

    settings.NRows = 3;
    settings.NCols = 4;
    settings.FirstRow = 1;
    settings.LastRow = 3;
    settings.CellSize = 100;
    settings.NoData = -9999;
    settings.StartYear = 2020, settings.StartMonth = 1, settings.StartDay = 1, settings.StartHour = 1;
    settings.EndYear = 2020, settings.EndMonth = 1, settings.EndDay = 2, settings.EndHour = 0;
    zoneGrid = memory.matrix(1, 3, 1, 4, 3);
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 4; ++c) zoneGrid[r][c] = subbasins.empty() ? 1 : subbasins[0].Code;
    zoneGrid[3][4] = -9999;
    table[1].Data = zoneGrid;
    table[1].InternalName = "zone_grid";
    table[1].EverUsed = true;

    char buffer[PATH_MAX];
    if (getcwd(buffer, sizeof buffer)) previousDirectory = buffer;
}

RoutingHarness::~RoutingHarness() {
    if (!previousDirectory.empty() && chdir(previousDirectory.c_str()) != 0) {
        // Nothing sensible is left to do in a destructor.
    }
    memory.free_matrix(zoneGrid, 1, 3, 1, 4);
}

std::unique_ptr<abflussmodellklasse> RoutingHarness::Build(const std::string& control, int* status, int tracers) {
    testsupport::WriteFile(dir.file("model.ctl"), control);
    settings.CompiledControlFile = dir.file("model.ctl");
    if (chdir(dir.path().c_str()) != 0) throw std::runtime_error("cannot enter " + dir.path());
    return std::make_unique<abflussmodellklasse>(status, &writer, statistics, StatisticsTableSize, "routing_model",
                                                 settings, table.get(), Subbasins, tracers, nullptr, 0);
}

RoutingDescriptionLinks RoutingHarness::Links(double** abfrel, double dt) {
    RoutingDescriptionLinks links;
    links.Writer = &writer;
    links.SubbasinCount = Subbasins.Count;
    links.TimeStep = dt;
    links.Records = Records.data();
    links.CodeToRank = CodeToRank.data();
    links.LargestCode = Subbasins.LargestCode;
    links.Abfrel = abfrel;
    return links;
}

std::string RoutingHarness::File(const std::string& name) const { return testsupport::ReadFile(dir.file(name)); }

}  // namespace routingtest
