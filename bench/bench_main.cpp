// Speed of the model's phases on a generated basin, at several thread counts
// (1 and every core unless asked otherwise): output by write code, zonal
// statistics, the interpolation of the meteorological inputs, the daily
// land-use parameter grids and the soil columns. Each phase also checks that the grids it leaves
// are the same, bit for bit, at every thread count.
// Every phase runs one untimed step first, so that the pages of its grids
// exist before the clock starts, as they do in a long run.
//   ruvex_bench [rows] [cols] [steps] [thread counts]
// default: 1000 x 1000 cells, 10 steps, threads "1,<all cores>". Speed-up is
// the last thread count against the first.

#include <omp.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bench/bench_basin.h"
#include "bench/bench_groundwater.h"
#include "bench/bench_soil.h"
#include "bench/bench_surfrout.h"
#include "forcing/meteoint_methods.h"
#include "framework/gridtable.h"
#include "framework/memory_handling.h"
#include "framework/modelobject.h"
#include "framework/zonalstatistic.h"
#include "framework/zonetable.h"
#include "parameters/defltuzr_landuse_grids.h"
#include "parameters/landuse.h"

namespace {

using bench::Basin;
using bench::NoData;
using Clock = std::chrono::steady_clock;

// What one phase gives at one thread count.
struct Outcome {
    std::vector<double> StepSeconds;  // the timed steps
    uint64_t Fingerprint = 0;         // of the grids the phase leaves behind
};

// The median time of a step: a machine shared with other work now and then
// stalls one thread of a team, and the whole team waits for it.
double MedianStep(std::vector<double> seconds) {
    if (seconds.empty()) return 0;
    std::sort(seconds.begin(), seconds.end());
    const size_t n = seconds.size();
    return n % 2 == 1 ? seconds[n / 2] : 0.5 * (seconds[n / 2 - 1] + seconds[n / 2]);
}

// A model component over the basin's raster with its own grid table; the zone
// grid in entry 1 and the elevation model in entry 2, as in a run.
struct Component {
    std::unique_ptr<MemoryGrid[]> Table = CreateGridTable();
    modelobject Object;

    Component(const Basin& basin, const std::string& outputDirectory)
        : Object(nullptr, "", true, false, "", outputDirectory) {
        Object.ModuleName = "bench";
        Object.GridTable = Table.get();
        Object.NRows = static_cast<int32_t>(basin.Rows);
        Object.NCols = static_cast<int32_t>(basin.Cols);
        Object.FirstRow = 1;
        Object.LastRow = Object.NRows;
        Object.XllCorner = basin.XllCorner;
        Object.YllCorner = basin.YllCorner;
        Object.CellSize = basin.CellSize;
        Object.NoData = NoData;
        Object.SetEndDate(2099, 12, 31, 24);
        Object.StoreGrid(1, "zones.asc", basin.Zones, nullptr, 1, "[zone_grid]", 0, 1, basin.Rows);
        Object.StoreGrid(2, "dem.asc", basin.Elevation, nullptr, 1, "[elevation_model]", 0, 1, basin.Rows);
    }
    ~Component() {
        for (int i = FirstGridIndex; i <= LastGridIndex; ++i) {
            if (!GridEntryFree(Table[i])) Object.ReleaseGrid(i);
        }
    }
};

// ----- output by write code ------------------------------------------------------------------

// Four grids whose write codes keep monthly means, yearly sums, minima and
// maxima, and a monthly sum with both; every step changes the grids and hands
// them to the aggregation, at hours that close no period (nothing is written).
Outcome WriteCodes(const Basin& basin, int steps, const std::string& scratch) {
    Component component(basin, scratch);
    modelobject& owner = component.Object;
    const int codes[] = {70, 20, 300, 330};
    std::vector<double**> grids;
    std::vector<int> indices;
    for (int code : codes) {
        double** grid = owner.matrix(1, basin.Rows, 1, basin.Cols, basin.Rows);
        const int index = FindFreeGridEntry(component.Table.get());
        owner.StoreGrid(index, "grid" + std::to_string(code) + ".asc", grid, nullptr, 1,
                        "grid" + std::to_string(code), code, 1, basin.Rows);
        grids.push_back(grid);
        indices.push_back(index);
    }

    Outcome outcome;
    for (int s = 0; s <= steps; ++s) {  // step 0 warms up: the aggregate grids get their pages
        for (size_t g = 0; g < grids.size(); ++g) {
            double** grid = grids[g];
            const double offset = static_cast<double>(s) * 0.37 + static_cast<double>(g);
#pragma omp parallel for schedule(static)
            for (long r = 1; r <= basin.Rows; ++r) {
                for (long c = 1; c <= basin.Cols; ++c) grid[r][c] = basin.Elevation[r][c] * 0.01 + offset;
            }
        }
        owner.StepYear = 2020;
        owner.StepMonth = 6;
        owner.StepDay = 15;
        owner.StepHour = 1 + s % 23;
        const auto start = Clock::now();
        for (int index : indices) owner.WriteGridByCode(index, true, false);
        if (s > 0) outcome.StepSeconds.push_back(bench::SecondsSince(start));
    }
    uint64_t hash = 1469598103934665603ULL;
    for (int index : indices) {
        const MemoryGrid& entry = component.Table[index];
        for (double** aggregate : {entry.SumGrid, entry.MinGrid, entry.MaxGrid}) {
            if (aggregate) hash = bench::Fingerprint(aggregate, basin.Rows, basin.Cols, hash);
        }
    }
    outcome.Fingerprint = hash;
    for (size_t g = 0; g < grids.size(); ++g) {
        owner.ReleaseGrid(indices[g]);
        owner.free_matrix(grids[g], 1, basin.Rows, 1, basin.Cols);
    }
    return outcome;
}

// ----- zonal statistics ----------------------------------------------------------------------

// The accumulation of one grid's zonal statistics in every step, as the
// set-up does it for its standard grids: every zone and the basin, one row per
// step.
// `rowSums`: the cells go to their rows' sums in a parallel pass, folded in
// row order when the step closes, as the cell loops of the model do it.
Outcome ZonalStatistics(const Basin& basin, int steps, const std::string& scratch, bool rowSums) {
    std::vector<ZoneRecord> zones(4);
    for (int z = 1; z <= 3; ++z) zones[static_cast<size_t>(z)].zonenwert = z;
    int status = 0;
    std::string fileName = "bench.sta";
    zonalstatistic statistic(&status, nullptr, basin.RelCellArea, static_cast<int>(basin.Rows),
                             static_cast<int>(basin.Cols), zones.data(), 3, 2001, 5, fileName, scratch, 0, nullptr);
    if (status != 0) throw status;

    Outcome outcome;
    for (int s = 0; s <= steps; ++s) {  // step 0 warms up
        const auto start = Clock::now();
        statistic.ResetStep();
        if (rowSums) {
#pragma omp parallel for schedule(static)
            for (long r = 1; r <= basin.Rows; ++r) {
                for (long c = 1; c <= basin.Cols; ++c) {
                    const double zone = basin.Zones[r][c];
                    if (zone == NoData) continue;
                    statistic.AddToRow(static_cast<int>(r), static_cast<int>(c), static_cast<int>(zone),
                                       basin.Elevation[r][c] + s, 1);
                }
            }
        } else {
            for (long r = 1; r <= basin.Rows; ++r) {
                for (long c = 1; c <= basin.Cols; ++c) {
                    const double zone = basin.Zones[r][c];
                    if (zone == NoData) continue;
                    statistic.AddValue(static_cast<int>(r), static_cast<int>(c), static_cast<int>(zone),
                                       basin.Elevation[r][c] + s, 1);
                }
            }
        }
        statistic.CloseStep(2020, 6, 15, 1 + s % 23);
        if (s > 0) outcome.StepSeconds.push_back(bench::SecondsSince(start));
    }
    const double* values = statistic.GetCurrentValues();
    uint64_t hash = 1469598103934665603ULL;
    for (int i = 0; values && i < 4; ++i) {
        uint64_t bits = 0;
        std::memcpy(&bits, &values[i], sizeof bits);
        hash = (hash ^ bits) * 1099511628211ULL;
    }
    outcome.Fingerprint = hash;
    return outcome;
}

// ----- interpolation of the meteorological inputs ----------------------------------------------

// One method over the cells of the basin, as the input's cell loop calls it.
Outcome Interpolation(const Basin& basin, int steps, const meteoint::MethodData& data) {
    memory_handling memory;
    double** result = memory.matrix(1, basin.Rows, 1, basin.Cols, basin.Rows);
    for (long r = 1; r <= basin.Rows; ++r) std::fill_n(result[r] + 1, basin.Cols, NoData);

    Outcome outcome;
    for (int s = 0; s <= steps; ++s) {  // step 0 warms up
        const auto start = Clock::now();
#pragma omp parallel for schedule(static)
        for (long r = 1; r <= basin.Rows; ++r) {
            for (long c = 1; c <= basin.Cols; ++c) {
                if (basin.Zones[r][c] == NoData) continue;
                meteoint::CellPoint cell;
                cell.X = cell.QX = basin.CoordX[r][c];
                cell.Y = cell.QY = basin.CoordY[r][c];
                cell.Elevation = basin.Elevation[r][c];
                result[r][c] = meteoint::InterpolateCellValue(data, cell, std::nullopt).Value;
            }
        }
        if (s > 0) outcome.StepSeconds.push_back(bench::SecondsSince(start));
    }
    outcome.Fingerprint = bench::Fingerprint(result, basin.Rows, basin.Cols);
    memory.free_matrix(result, 1, basin.Rows, 1, basin.Cols);
    return outcome;
}

meteoint::MethodData MethodOf(const Basin& basin, int method, double weight, double ratio) {
    meteoint::MethodData data;
    data.Method = method;
    data.NoData = 9998;
    data.GridNoData = NoData;
    data.Idw = meteoint::MakeIdwParameters(weight, 1e6, ratio);
    data.IdwFraction = 0.5;
    data.Regression = {12, -0.005, 800, 9, -0.002, 1600, 14, -0.006, -9999, 0, 0};
    data.Lapse = {-0.0065, -9999, -9999, false};
    meteoint::StationFile& file = data.Files[0];
    file.Value = basin.StationValue;
    file.Altitude = basin.StationZ;
    file.X = file.XRot = basin.StationX;
    file.Y = file.YRot = basin.StationY;
    return data;
}

// ----- daily land-use parameter grids ----------------------------------------------------------

LanduseType VariableDayCount(int code, const std::string& keys) {
    LanduseType type;
    type.ParseEntry(nullptr, std::to_string(code) + " class method = VariableDayCount {\n" + keys + "}\n",
                    "VariableDayCount");
    return type;
}

// Meadow, forest and alpine pasture with six fix points; one day per step, so
// that every step recomputes every grid.
Outcome DailyLanduse(const Basin& basin, int steps, const std::string& scratch) {
    Component component(basin, scratch);
    modelobject& setup = component.Object;
    const std::string common = "RootDist = 1; TReduWet = 0.95; HReduDry = 3.45; AltDep = 0.025 0.025 0.025 -0.025 "
                               "-0.025 -0.025;\n";
    std::vector<LanduseType> table(1);
    table[0].Code = 3;
    table[0].JDVegetationResetForBalance = 1;
    table[0].JDVegetationWriteForBalance = 365;
    table.push_back(VariableDayCount(11, common + "JulDays = 15 105 135 166 258 319; Albedo = 0.23 0.22 0.2 0.2 "
                                                  "0.21 0.23; rsc = 80 60 50 50 60 80; LAI = 1.5 2.5 4 4.5 3 1.5; "
                                                  "Z0 = 0.01 0.02 0.04 0.05 0.03 0.01; VCF = 0.6 0.8 0.95 0.95 0.85 "
                                                  "0.6; RootDepth = 0.2 0.3 0.4 0.4 0.3 0.2;\n"));
    table.push_back(VariableDayCount(21, common + "JulDays = 15 105 135 166 258 319; Albedo = 0.12 0.12 0.12 0.12 "
                                                  "0.12 0.12; rsc = 100 85 75 75 85 100; LAI = 8 9 10 10 10 8; "
                                                  "Z0 = 1.5 1.5 1.5 1.5 1.5 1.5; VCF = 0.9 0.9 0.95 0.95 0.95 0.9; "
                                                  "RootDepth = 0.9 0.9 1 1 1 0.9;\n"));
    table.push_back(VariableDayCount(31, common + "JulDays = 15 135 166 196 244 288; Albedo = 0.25 0.24 0.22 0.2 "
                                                  "0.22 0.25; rsc = 120 90 70 60 80 120; LAI = 0.5 0.8 1.5 2.5 1.5 "
                                                  "0.5; Z0 = 0.01 0.01 0.02 0.03 0.02 0.01; VCF = 0.3 0.4 0.6 0.7 "
                                                  "0.6 0.3; RootDepth = 0.15 0.15 0.2 0.25 0.2 0.15;\n"));

    double** albedo = setup.matrix(1, basin.Rows, 1, basin.Cols, basin.Rows);
    for (long r = 1; r <= basin.Rows; ++r) std::fill_n(albedo[r] + 1, basin.Cols, 0.2);
    setup.StoreGrid(FindFreeGridEntry(component.Table.get()), "albedo.asc", albedo, nullptr, 1, "albedo", 0, 1,
                    basin.Rows);
    setup.StoreGrid(FindFreeGridEntry(component.Table.get()), "landuse1", basin.Landuse, nullptr, 1, "landuse1", 0, 1,
                    basin.Rows);
    double** layers[2] = {basin.Landuse, basin.Landuse};

    Outcome outcome;
    {
        LanduseParameterGrids grids(setup);
        int gridCount = 0;
        grids.generateMultiLayerParameterGrids(1, table, layers, 1, 3, 2020, gridCount);
        for (int s = 0; s <= steps; ++s) {  // step 0 warms up
            const auto start = Clock::now();
            const long day = 1 + s % 28;
            const long month = 3 + (s / 28) % 10;
            grids.CalcActualLanduseParameters(24, day, month, 2020, 1440);
            if (s > 0) outcome.StepSeconds.push_back(bench::SecondsSince(start));
        }
        uint64_t hash = bench::Fingerprint(albedo, basin.Rows, basin.Cols);
        for (const char* name : {"leaf_area_index1", "root_depth1", "SurfaceCanopyResistance1"}) {
            const int index = setup.FindGrid(name);
            if (index > 0) hash = bench::Fingerprint(component.Table[index].Data, basin.Rows, basin.Cols, hash);
        }
        outcome.Fingerprint = hash;
        grids.Release(false, false);
    }
    setup.free_matrix(albedo, 1, basin.Rows, 1, basin.Cols);
    return outcome;
}

// ----- report --------------------------------------------------------------------------------

struct Phase {
    std::string Name;
    double CellStepsPerStep;  // cells of the raster times grids or layers
    std::function<Outcome()> Run;
    bool Serial = false;      // the phase runs on one thread by design
};

}  // namespace

// Thread counts from a list such as "1,4,8"; the first is the reference of
// the comparison. Empty when the list holds anything but positive numbers.
std::vector<int> ThreadCounts(const std::string& list) {
    std::vector<int> counts;
    size_t at = 0;
    while (at <= list.size()) {
        const size_t comma = std::min(list.find(',', at), list.size());
        const std::string item = list.substr(at, comma - at);
        char* end = nullptr;
        const long value = std::strtol(item.c_str(), &end, 10);
        if (item.empty() || *end != '\0' || value < 1 || value > 4096) return {};
        counts.push_back(static_cast<int>(value));
        at = comma + 1;
    }
    return counts;
}

int main(int argc, char** argv) {
    const long rows = argc > 1 ? std::atol(argv[1]) : 1000;
    const long cols = argc > 2 ? std::atol(argv[2]) : 1000;
    const int steps = argc > 3 ? std::atoi(argv[3]) : 10;
    const int cores = omp_get_max_threads();
    const std::vector<int> threads = ThreadCounts(argc > 4 ? argv[4] : "1," + std::to_string(cores));
    if (rows < 1 || cols < 1 || steps < 1 || threads.empty()) {
        std::fprintf(stderr, "usage: ruvex_bench [rows] [cols] [steps] [thread counts, as 1,4,8]\n"
                             "default: 1000 1000 10 1,<all cores>\n");
        return 2;
    }

    try {
        auto start = Clock::now();
        const Basin basin(rows, cols);
        const bench::ScratchDirectory scratch;
        const double cells = static_cast<double>(rows) * static_cast<double>(cols);
        std::printf("basin of %ld x %ld cells (%ld inside), generated in %.2f s; %d steps per phase\n", rows, cols,
                    basin.ValidCells, bench::SecondsSince(start), steps);
        std::printf("million cell-steps per second in the median step; a cell-step is one cell of the raster in "
                    "one step for one grid or land-use layer\n\n");

        // The soil phase has a basin of its own; a cell-step there is one
        // valid soil column advanced by one sub-step.
        // On a grid smaller than theirs (the default bench's), the soil and
        // surface routing phases take the grid's size.
        const long soilRows = std::min(rows, 300L), soilCols = std::min(cols, 300L);
        const long routingCols = std::min(cols, 400L), routingRows = std::min(rows, 300L);
        const long soilCells = bench::Basin(soilRows, soilCols).ValidCells;
        const std::string soilName = "soil columns: 8 layers, one sub-step (" + std::to_string(soilRows) + " x " +
                                     std::to_string(soilCols) + " basin)";
        const std::string routingName = "surface routing sub-step: method 3 (" + std::to_string(routingCols) +
                                        " x " + std::to_string(routingRows) + " rough plane)";
        std::vector<Phase> phases = {
            {"write codes: 4 grids, monthly mean, yearly sum, min/max", 4 * cells,
             [&] { return WriteCodes(basin, steps, scratch.Path()); }},
            {"zonal statistics, cell by cell: 3 subbasins", cells,
             [&] { return ZonalStatistics(basin, steps, scratch.Path(), false); }, true},
            {"zonal statistics, row sums in a parallel pass: 3 subbasins", cells,
             [&] { return ZonalStatistics(basin, steps, scratch.Path(), true); }},
            {"interpolation: IDW, weight 2, 20 stations", cells,
             [&] { return Interpolation(basin, steps, MethodOf(basin, 1, 2, 1)); }},
            {"interpolation: IDW, weight 1.5, 20 stations", cells,
             [&] { return Interpolation(basin, steps, MethodOf(basin, 1, 1.5, 1)); }},
            {"interpolation: anisotropic IDW, b/a 0.5", cells,
             [&] { return Interpolation(basin, steps, MethodOf(basin, 1, 2, 0.5)); }},
            {"interpolation: IDW + regression", cells,
             [&] { return Interpolation(basin, steps, MethodOf(basin, 3, 2, 1)); }},
            {"interpolation: regression", cells,
             [&] { return Interpolation(basin, steps, MethodOf(basin, 2, 2, 1)); }},
            {"interpolation: Thiessen", cells, [&] { return Interpolation(basin, steps, MethodOf(basin, 4, 2, 1)); }},
            {"interpolation: Thiessen with lapse rate", cells,
             [&] { return Interpolation(basin, steps, MethodOf(basin, 12, 2, 1)); }},
            {"daily land-use parameter grids: 1 layer, 3 classes", cells,
             [&] { return DailyLanduse(basin, steps, scratch.Path()); }},
            {soilName, static_cast<double>(soilCells),
             [&] {
                 const bench::SoilPhaseResult r = bench::SoilColumns(soilRows, soilCols, steps, scratch.Path());
                 return Outcome{r.StepSeconds, r.Fingerprint};
             }},
            {"groundwater sub-step: 2 layers, 20 sweeps each", 2 * cells,
             [&] {
                 const bench::GroundwaterTiming t = bench::GroundwaterSubSteps(basin, steps, scratch.Path());
                 return Outcome{t.StepSeconds, t.Fingerprint};
             }},
            // Some twenty iterations of the flow between cells in every
            // sub-step: three sub-steps per step of the other phases.
            {routingName, static_cast<double>(routingCols) * routingRows,
             [&] {
                 const bench::SurfaceRoutingTiming t =
                     bench::SurfaceRoutingSubSteps(routingCols, routingRows, 3, 3 * steps, scratch.Path());
                 return Outcome{t.StepSeconds, t.Fingerprint};
             }},
        };

        std::printf("%-62s", "phase");
        for (int count : threads) std::printf(" %10d thr", count);
        std::printf(" %9s  %s\n", "speed-up", "same result");
        for (const Phase& phase : phases) {
            std::printf("%-62s", phase.Name.c_str());
            std::fflush(stdout);
            std::vector<Outcome> outcomes;
            for (int count : threads) {
                omp_set_num_threads(count);
                outcomes.push_back(phase.Run());
                const double rate = phase.CellStepsPerStep / 1e6 / MedianStep(outcomes.back().StepSeconds);
                std::printf(rate < 10 ? " %13.3f" : " %13.1f", rate);  // slow phases keep their digits
                std::fflush(stdout);
            }
            bool same = true;
            for (const Outcome& outcome : outcomes) same = same && outcome.Fingerprint == outcomes[0].Fingerprint;
            std::printf(" %8.2fx  %s\n", MedianStep(outcomes.front().StepSeconds) / MedianStep(outcomes.back().StepSeconds),
                        phase.Serial ? "serial" : (same ? "yes" : "NO"));
        }
        omp_set_num_threads(cores);
    } catch (int code) {
        std::fprintf(stderr, "benchmark ended with code %d\n", code);
        return 1;
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "benchmark failed: %s\n", failure.what());
        return 1;
    }
    return 0;
}
