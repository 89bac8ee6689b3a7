// The soil-column phase of the benchmark: the soil model built on a basin of
// its own size (its stacks hold some 60 doubles per cell), advanced by one
// sub-step per step with rain that changes from step to step.

#include "bench/bench_soil.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>

#include "framework/gridtable.h"
#include "framework/model_settings.h"
#include "framework/statistics_table.h"
#include "framework/zonetable.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"

namespace bench {

namespace {

constexpr int SoilLayers = 8;

SoilType BenchSoil() {
    SoilType soil(1);
    soil.CreateLayers(SoilLayers, 0);
    for (int l = 0; l <= SoilLayers; ++l) {
        soil.theta_sat[l] = 0.45;
        soil.theta_res[l] = 0.05;
        soil.alpha[l] = 2;
        soil.Par_n[l] = 1.5;
        soil.Par_m[l] = 1 - 1 / 1.5;
        soil.Par_tau[l] = 0.5;
        soil.ksat[l] = l <= 3 ? 2e-5 : 5e-6;
        soil.thickness[l] = 0.2;
        soil.MakeHydraulicTables(l);
        soil.DryDensity[l] = soil.DryHeatCapacity[l] = soil.DryThermalConduct[l] = -1;
    }
    soil.maxratio = 1000;
    soil.EvapMaxDepth = 0.3;
    soil.PMacroThresh = 2e-6;
    soil.MacroCapacity = 5e-6;
    soil.MacroDepth = 0.6;
    soil.CapacityRedu = 0.8;
    return soil;
}

std::string SoilSection() {
    std::string text = "[unsatzon_model]\n1\n60\n2\n0\n0\n0\n0\n1e-8\n2\n";
    for (int k = 0; k < 16; ++k) text += "stat" + std::to_string(k) + ".sta 0\n";
    for (int k = 1; k <= 24; ++k) text += "grid" + std::to_string(k) + ".asc\n0\n";
    text += "0 0\nqb.txt\ntheta.txt\nhhyd.txt\nother.txt\netr.txt\ninterflow.txt\n1 3\n";
    text += "2 4\n10 20\n0.01 0.01\n2 2\n0.1 0.1\n0.2 0.2\n0\nstorage.txt\n";
    return text;
}

uint64_t Mix(uint64_t hash, double value) {
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    for (unsigned char b : bytes) hash = (hash ^ b) * 1099511628211ULL;
    return hash;
}

}  // namespace

SoilPhaseResult SoilColumns(long rows, long cols, int steps, const std::string& scratch) {
    Basin basin(rows, cols);
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    auto store = [&](const std::string& name, double** grid) {
        MemoryGrid& entry = table[FindFreeGridEntry(table.get())];
        entry.Data = grid;
        entry.InternalName = name;
        entry.EverUsed = true;
        return grid;
    };
    store("zonegrid_soilmodel", basin.Zones);
    store("[elevation_model]", basin.Elevation);
    store("landuse1", basin.Landuse);
    const struct {
        const char* name;
        double value;
    } grids[] = {{"root_depth1", 0.6},           {"vegetation_coverage_degree1", 0.8},
                 {"leaf_area_index1", 3},        {"SurfaceCanopyResistance1", 60},
                 {"SurfaceIntercepResistance1", 100}, {"RoughnessLength1", 0.05},
                 {"pot_transpiration0", 0.2},    {"pot_transpiration1", 0.2},
                 {"real_transpiration0", 0},     {"real_transpiration1", 0},
                 {"SurfaceEvaporationResistance", 100}, {"albedo", 0.2},
                 {"potential_evaporation", 0.05}, {"real_evaporation", 0},
                 {"slope_angle", 10},            {"soil_types", 1}};
    for (const auto& g : grids) store(g.name, basin.NewGrid(g.value));
    double** rain = store("precipitation", basin.NewGrid(0));

    std::vector<SoilType> soils{SoilType(), BenchSoil()};
    std::vector<LanduseType> uses(4);
    for (int k = 1; k <= 3; ++k) {
        uses[static_cast<size_t>(k)].RootDist = 1;
        uses[static_cast<size_t>(k)].HReduDry = 150;
        uses[static_cast<size_t>(k)].TReduWet = 0.95;
        uses[static_cast<size_t>(k)].LimitReduWet = 0.5;
    }
    std::vector<RowExtent> extents = DeriveRowExtents(basin.Zones, static_cast<int32_t>(rows),
                                                      static_cast<int32_t>(cols), NoData);

    ModelSettings settings;
    settings.NRows = static_cast<int32_t>(rows);
    settings.NCols = static_cast<int32_t>(cols);
    settings.FirstRow = 1;
    settings.LastRow = static_cast<int32_t>(rows);
    settings.CellSize = basin.CellSize;
    settings.NoData = NoData;
    settings.SoilTable = soils.data();
    settings.SoilCount = 1;
    settings.LanduseTable = uses.data();
    settings.LanduseCount = 3;
    settings.RowExtents = extents.data();
    settings.DefaultOutputDirectory = scratch;
    settings.InitialStateDirectory = scratch;
    settings.CompiledControlFile = scratch + "soil.ctl";
    {
        std::ofstream control(settings.CompiledControlFile);
        control << SoilSection();
    }
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    int status = 0;
    SoilPhaseResult result;
    {
        unsatzonmodellklasse soil(&status, nullptr, statistics, StatisticsTableSize, "unsatzon_model", settings,
                                  table.get(), nullptr, 1);
        if (status != 0) throw status;
        for (int s = 0; s <= steps; ++s) {  // step 0 warms up
            for (long r = 1; r <= rows; ++r)
                for (long c = 1; c <= cols; ++c) rain[r][c] = (s % 3) * 2.0 + 0.001 * static_cast<double>(c % 7);
            const auto start = std::chrono::steady_clock::now();
            soil.BeginTimeStep(1 + s % 23, 15, 6, 2020);
            soil.RunTimeStep(1 + s % 23, 15, 6, 2020);
            if (s > 0) result.StepSeconds.push_back(SecondsSince(start));
        }
        uint64_t hash = 1469598103934665603ULL;
        for (long r = 1; r <= rows; ++r)
            for (long c = 1; c <= cols; ++c)
                if (basin.Zones[r][c] != NoData)
                    for (int l = 1; l <= SoilLayers; ++l) hash = Mix(hash, soil.Theta[r][c][l]);
        hash = Fingerprint(soil.DirectFlow, rows, cols, hash);
        hash = Fingerprint(soil.InterFlow, rows, cols, hash);
        result.Fingerprint = Fingerprint(soil.Baseflow, rows, cols, hash);
        result.ValidCells = basin.ValidCells;
        soil.FinishRun(0);
    }
    return result;
}

}  // namespace bench
