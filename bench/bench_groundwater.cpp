#include "bench/bench_groundwater.h"

#include <chrono>
#include <fstream>
#include <memory>

#include "framework/gridtable.h"
#include "framework/model_settings.h"
#include "framework/statistics_table.h"
#include "lateral/gwflow.h"
#include "parameters/soil.h"

namespace bench {

GroundwaterTiming GroundwaterSubSteps(const Basin& basin, int steps, const std::string& scratch) {
    const std::string controlFile = scratch + "/groundwater.ctl";
    {
        std::ofstream out(controlFile);
        out << "[groundwater_flow]\n1\n60\n1\n20 sweeps\n1e-9\n1 alpha\n1.5 sor\n0\n2 layers\n0 0\ncp.txt\n";
        for (int k = 1; k <= 2; ++k) out << "h" << k << ".asc\n0\nfx.asc\n0\nfy.asc\n0\nbal.asc\n0\n";
    }
    auto table = CreateGridTable();
    memory_handling memory;
    std::vector<double**> owned;
    int next = 1;
    auto store = [&](const std::string& name, double** grid) {
        table[next].Data = grid;
        table[next].InternalName = name;
        table[next].EverUsed = true;
        table[next].FirstRow = 1;
        table[next].LastRow = basin.Rows;
        ++next;
    };
    auto add = [&](const std::string& name, double value) {
        double** grid = memory.matrix(1, basin.Rows, 1, basin.Cols, basin.Rows);
        for (long r = 1; r <= basin.Rows; ++r)
            for (long c = 1; c <= basin.Cols; ++c) grid[r][c] = value;
        owned.push_back(grid);
        store(name, grid);
        return grid;
    };
    store("[zone_grid]", basin.Zones);
    store("[elevation_model]", basin.Elevation);
    add("groundwater_recharge", 0);
    add("groundwater_distance", -1);
    add("soil_types", 1);
    add("baseflow", 0);
    long lowRow = 0, lowCol = 0;
    double lowest = 1e300;
    for (long r = 1; r <= basin.Rows; ++r)
        for (long c = 1; c <= basin.Cols; ++c)
            if (basin.Zones[r][c] != NoData && basin.Elevation[r][c] < lowest) {
                lowest = basin.Elevation[r][c];
                lowRow = r;
                lowCol = c;
            }
    for (int k = 1; k <= 2; ++k) {
        const std::string s = std::to_string(k);
        add("aquifer_thickness_" + s, 10);
        add("gw_k_x_" + s, 1e-5);
        add("gw_k_y_" + s, 1e-5);
        add("gw_storage_coeff_" + s, k == 1 ? 0.2 : 0.05);
        double** fixed = add("gw_boundary_fix_h_" + s, NoData);
        if (k == 2 && lowRow > 0) fixed[lowRow][lowCol] = lowest - 5;
        add("gw_boundary_fix_q_" + s, NoData);
        if (k == 1) add("gw_kolmation_1", 1e-8);
    }

    std::vector<SoilType> soils(2);
    soils[1].TotalDepth = 2;
    std::vector<ZoneRecord> records(4);
    std::vector<int> codeToRank = {0, 1, 2, 3};
    for (int z = 1; z <= 3; ++z) records[static_cast<size_t>(z)].zonenwert = z;
    SubbasinTable subbasins{records.data(), codeToRank.data(), 3, 3};
    ModelSettings settings;
    settings.CompiledControlFile = controlFile;
    settings.NRows = static_cast<int32_t>(basin.Rows);
    settings.NCols = static_cast<int32_t>(basin.Cols);
    settings.FirstRow = 1;
    settings.LastRow = settings.NRows;
    settings.CellSize = basin.CellSize;
    settings.NoData = NoData;
    settings.SoilTable = soils.data();
    settings.SoilCount = 1;
    settings.DefaultOutputDirectory = scratch + "/";
    settings.StartYear = 2020;
    settings.EndYear = 2099;

    GroundwaterTiming timing;
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    int status = 0;
    {
        gwflowclass model(&status, nullptr, statistics, StatisticsTableSize, "groundwater_flow", settings, table.get(),
                          nullptr, subbasins, 1);
        if (status != 0) throw status;
        model.SetStatus(1);
        for (int s = 0; s <= steps; ++s) {  // sub-step 0 warms up
            model.BeginTimeStep(1 + s % 23, 15, 6, 2020);
            const auto start = std::chrono::steady_clock::now();
            model.RunTimeStep(1 + s % 23, 15, 6, 2020);
            if (s > 0) timing.StepSeconds.push_back(SecondsSince(start));
        }
        uint64_t hash = 1469598103934665603ULL;
        for (int k = 1; k <= 2; ++k) {
            hash = Fingerprint(model.Head[k], basin.Rows, basin.Cols, hash);
            hash = Fingerprint(model.FlowX[k], basin.Rows, basin.Cols, hash);
            hash = Fingerprint(model.Balance[k], basin.Rows, basin.Cols, hash);
        }
        timing.Fingerprint = hash;
        model.SetStatus(0);
        model.DeleteModule();
    }
    for (double** grid : owned) memory.free_matrix(grid, 1, basin.Rows, 1, basin.Cols);
    return timing;
}

}  // namespace bench
