#include "surface/snow_fixture.h"

#include <filesystem>

namespace snowtest {

SnowSection::SnowSection() {
    const char* const defaults[] = {
        "",         "1",          "0",           "0",           "0",          "0.1",        "1",
        "3",        "2",          "0.5",         "0.01",        "1",          "3",          "0.5",
        "0.85",     "rain.asc",   "0",           "rain.sta 0",  "snow.asc",   "0",          "snow.sta 0",
        "sdays.asc", "0",         "sdays.sta 0", "sage.asc",    "0",          "sage.sta 0", "albedo.sta 0",
        "outflow.asc", "0",       "outflow.sta 0", "melt.asc",  "0",          "melt.sta 0", "ssolid.asc",
        "0",        "sliquid.asc", "0",          "stotal.sta 0", "stotal.asc", "0",         "0",
        "stemp.asc", "0",         "stemp.sta 0", "sftemp.asc",  "0",          "sftemp.sta 0", "inmass.asc",
        "0",        "inmass.sta 0", "mobmass.asc", "0",         "mobmass.sta 0", "depos.asc", "0",
        "depos.sta 0", "55",      "1",           "30",          "0.01",       "1",          "1"};
    for (int i = 1; i <= 62; ++i) Lines[i] = defaults[i];
}

std::string SnowSection::Text(int last) const {
    const int method = std::stoi(Lines.at(1));
    int end = method > 4 ? 62 : 41;
    if (last > 0) end = last;
    std::string text;
    for (int i = 1; i <= end; ++i) text += Lines.at(i) + "\n";
    return text;
}

SnowFixture::SnowFixture(int rows_, int cols_, const std::vector<std::vector<double>>& zoneValues,
                         const std::vector<std::vector<double>>& elevations)
    : rows(rows_), cols(cols_) {
    std::filesystem::create_directories(dir.file("in"));
    std::filesystem::create_directories(dir.file("out"));
    double** zone = memory.matrix(1, rows, 1, cols, rows);
    double** dem = memory.matrix(1, rows, 1, cols, rows);
    grids.push_back(zone);
    grids.push_back(dem);
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) {
            zone[r][c] = zoneValues[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)];
            dem[r][c] = elevations[static_cast<size_t>(r - 1)][static_cast<size_t>(c - 1)];
        }
    table[1].Data = zone;
    table[1].InternalName = "zone_grid";
    table[1].EverUsed = true;
    table[2].Data = dem;
    table[2].InternalName = "[elevation_model]";
    table[2].EverUsed = true;
    zones = RankZoneGrid(ZoneRankingKind::SetUp, zone, rows, cols, nullptr, -9999, 100, nullptr, &writer,
                         "zones.asc", "defaults");
    extents = zones.RowExtents;
    settings.NRows = rows;
    settings.NCols = cols;
    settings.FirstRow = 1;
    settings.LastRow = rows;
    settings.CellSize = 100;
    settings.NoData = -9999;
    settings.Zones = zones.Records.data();
    settings.ZoneCount = zones.Count;
    settings.ZoneRank = zones.CodeToRank.data();
    settings.MaxZoneCode = zones.LargestCode;
    settings.RowExtents = extents.data();
    settings.Latitude = 47.5;
    settings.Longitude = 8.25;
    settings.ReferenceMeridian = 15;
    settings.InitialStateDirectory = dir.file("in") + "/";
    settings.DefaultOutputDirectory = dir.file("out") + "/";
    // The snow model's subbasins are the zones.
    MemoryGrid& subbasins = table[FindFreeGridEntry(table.get())];
    subbasins.Data = zone;
    subbasins.InternalName = "zonegrid_soilmodel";
    subbasins.EverUsed = true;
}

SnowFixture::~SnowFixture() {
    for (double** grid : grids) memory.free_matrix(grid, 1, rows, 1, cols);
}

double** SnowFixture::Add(const std::string& name, double value) {
    double** grid = memory.matrix(1, rows, 1, cols, rows);
    for (int r = 1; r <= rows; ++r)
        for (int c = 1; c <= cols; ++c) grid[r][c] = table[1].Data[r][c] == -9999 ? -9999 : value;
    grids.push_back(grid);
    MemoryGrid& entry = table[FindFreeGridEntry(table.get())];
    entry.Data = grid;
    entry.InternalName = name;
    entry.EverUsed = true;
    return grid;
}

double** SnowFixture::Grid(const std::string& name) {
    const int index = Entry(name);
    return index > 0 ? table[index].Data : nullptr;
}

void SnowFixture::AddInputs(double precipitation, double temperature) {
    Add("precipitation", precipitation);
    Add("temperature", temperature);
    Add("albedo", 0.2);
    Add("landuse1", -9999);  // no land-use table: the albedo grid keeps its value
}

std::unique_ptr<schneemodellklasse> SnowFixture::Make(const SnowSection& section, int interval,
                                                      const std::string& extra) {
    testsupport::WriteFile(dir.file("model.ctl"), "[snow_model]\n1 switch\n" + std::to_string(interval) +
                                                      " interval\n" + section.Text() + extra);
    settings.CompiledControlFile = dir.file("model.ctl");
    int status = -1;
    auto model = std::make_unique<schneemodellklasse>(&status, &writer, statistics, StatisticsTableSize,
                                                      "snow_model", settings, table.get());
    model->SetLogInterval(1000);  // no progress line in the tests' steps
    return model;
}

int SnowFixture::MakeCode(const SnowSection& section, int interval, const std::string& extra) {
    try {
        Make(section, interval, extra);
    } catch (int code) {
        return code;
    }
    return 0;
}

}  // namespace snowtest
