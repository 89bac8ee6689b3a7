// The surface-routing phase of the benchmark: a plane built here, the model
// built on it as the application does, and its sub-step timed.

#include "bench/bench_surfrout.h"

#include <chrono>
#include <cmath>
#include <fstream>
#include <memory>

#include "bench/bench_basin.h"
#include "framework/gridtable.h"
#include "framework/memory_handling.h"
#include "framework/model_settings.h"
#include "framework/statistics_table.h"
#include "framework/tracer_info.h"
#include "framework/zonetable.h"
#include "lateral/surfrout.h"
#include "parameters/landuse.h"

namespace bench {

namespace {

// A deterministic roughness in [-0.01, 0.01] m from the cell position.
double Roughness(long r, long c) {
    uint64_t h = static_cast<uint64_t>(r) * 0x9E3779B97F4A7C15ULL ^ static_cast<uint64_t>(c) * 0xC2B2AE3D27D4EB4FULL;
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ULL;
    h ^= h >> 29;
    return (static_cast<double>(h % 20001) / 20000.0 - 0.5) * 0.02;
}

}  // namespace

SurfaceRoutingTiming SurfaceRoutingSubSteps(long rows, long cols, int method, int steps, const std::string& scratch) {
    const std::string controlFile = scratch + "/surfrout.ctl";
    {
        std::ofstream out(controlFile);
        out << "[SurfaceRoutingModel]\n1\n60\n" << method
            << "\nqdsr.sta 0\nqisr.sta 0\nqbsr.sta 0\nqgsr.sta 0\nvelocity.stk\n0\nfluxes.stk\n0\n"
               "0.0001\n10\n0.000001\n100\n1\n600\n0.01\n1\n0\nstorage.sta 0\nsurfstate.txt\n\n";
    }
    auto table = CreateGridTable();
    memory_handling memory;
    std::vector<double**> owned;
    auto add = [&](const std::string& name, double value) {
        double** grid = memory.matrix(1, rows, 1, cols, rows);
        for (long r = 1; r <= rows; ++r)
            for (long c = 1; c <= cols; ++c) grid[r][c] = value;
        owned.push_back(grid);
        MemoryGrid& entry = table[FindFreeGridEntry(table.get())];
        entry.Data = grid;
        entry.InternalName = name;
        entry.FileName = name + ".asc";
        entry.EverUsed = true;
        entry.FirstRow = 1;
        entry.LastRow = rows;
        return grid;
    };
    add("[zone_grid]", 1);
    double** z = add("[elevation_model]", 0);
    for (long r = 1; r <= rows; ++r)
        for (long c = 1; c <= cols; ++c)
            z[r][c] = 500 - 0.1 * static_cast<double>(r) + 0.002 * std::fabs(static_cast<double>(c - cols / 2)) +
                      Roughness(r, c);
    add("landuse1", 1);
    add("vegetation_coverage_degree1", 0);
    add("soil_types", 1);
    double** surface = add("SurfStorSiltingUp", 0);
    double** direct = add("directflow", 0);
    add("interflow", 0);
    double** depth = add("river_depth", 0);
    double** width = add("river_width", 0);
    for (long r = 1; r <= rows; ++r)
        for (long c = 1; c <= cols; ++c)
            if (r == rows || c == cols / 2) depth[r][c] = width[r][c] = 1;
    add("river_links", 0);

    std::vector<LanduseType> landuse(2);
    landuse[1].ParseEntry(nullptr,
                          "11 road method = VariableDayCount {\n  RootDist = 1; TReduWet = 0.95; HReduDry = 3.45;\n"
                          "  JulDays = 15 300; LAI = 1 1; AltDep = 0 0; Albedo = 0.2 0.2; rsc = 50 50; "
                          "Z0 = 0.1 0.1;\n  VCF = 1 1; RootDepth = 0.5 0.5; SR_K_ST = 20;\n}\n",
                          "VariableDayCount");
    std::vector<ZoneRecord> zones = {ZoneRecord{0, 0, 1, 1, 0}, ZoneRecord{1, 1, 1, 1, 1}};
    std::vector<int> zoneRank = {0, 1};
    std::vector<RowExtent> extents(static_cast<size_t>(rows) + 1, RowExtent{1, static_cast<int32_t>(cols)});
    extents[0] = RowExtent{0, -1};
    ModelSettings settings;
    settings.CompiledControlFile = controlFile;
    settings.NRows = static_cast<int32_t>(rows);
    settings.NCols = static_cast<int32_t>(cols);
    settings.FirstRow = 1;
    settings.LastRow = settings.NRows;
    settings.CellSize = 10;
    settings.NoData = NoData;
    settings.Zones = zones.data();
    settings.ZoneCount = 1;
    settings.ZoneRank = zoneRank.data();
    settings.MaxZoneCode = 1;
    settings.RowExtents = extents.data();
    settings.LanduseTable = landuse.data();
    settings.LanduseCount = 1;
    settings.DefaultOutputDirectory = scratch + "/";
    settings.InitialStateDirectory = scratch + "/";

    SurfaceRoutingTiming timing;
    timing.Cells = rows * cols;
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    TracerInfo tracers[1];
    std::vector<double> kelsq = {0, 60}, base = {0, 0};
    double* baseRows[1] = {base.data()};
    int status = 0;
    {
        surfaceroutingclass model(&status, nullptr, statistics, StatisticsTableSize, "SurfaceRoutingModel", settings,
                                  table.get(), 1);
        if (status != 0) throw status;
        model.InitTracers(&status, 0, tracers, statistics, StatisticsTableSize);
        if (status != 0) throw status;
        model.SetStatus(1);
        model.SetKelsqd(kelsq.data());
        model.SetKelsqi(kelsq.data());
        model.SetQBb(baseRows);
        for (int s = 0; s <= steps; ++s) {  // sub-step 0 warms up
            model.BeginTimeStep(1 + s % 23, 15, 6, 2020);
            for (long r = 1; r <= rows; ++r)
                for (long c = 1; c <= cols; ++c) direct[r][c] = 1.0 + surface[r][c];
            const auto start = std::chrono::steady_clock::now();
            model.RunTimeStep(1 + s % 23, 15, 6, 2020);
            if (s > 0) timing.StepSeconds.push_back(SecondsSince(start));
            model.RouteZonesToSubbasins(1 + s % 23, 15, 6, 2020);
        }
        uint64_t hash = Fingerprint(surface, rows, cols);
        hash = Fingerprint(direct, rows, cols, hash);
        hash = Fingerprint(model.QOut, rows, cols, hash);
        timing.Fingerprint = hash;
        model.SetStatus(0);
        model.FinishRun(0);
    }
    for (double** grid : owned) memory.free_matrix(grid, 1, rows, 1, cols);
    return timing;
}

}  // namespace bench
