// The whole example basin, every sub-model on, run by the executable over two
// days of March with rain in the valley and snow on the heights: every
// sub-model writes its outputs, and the values stay within what a hydrologist
// would accept for the generated climate.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

// A copy of the example basin in `dir` that runs over 16 and 17 March 2019
// (only the 16th in the instrumented build).
void CopyMarchBasin(const TempDir& dir) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    const std::string control = ReadFile(BasinDir + "/basin.ctl");
#ifdef RUVEX_SANITIZED
    const std::string lastDay = "16";
#else
    const std::string lastDay = "17";
#endif
    const std::string shortened = std::regex_replace(control, std::regex(R"(\[model_time\]\n(.*\n){8})"),
                                                     "[model_time]\n1\n16\n3\n2019\n24\n" + lastDay + "\n3\n2019\n");
    ASSERT_NE(shortened, control) << "the model time of the example basin has moved";
    WriteFile(dir.file("basin.ctl"), shortened);
}

// The value rows of a statistics or table file: every line that starts with
// a year of the run, as numbers.
std::vector<std::vector<double>> DataRows(const std::string& path) {
    std::vector<std::vector<double>> rows;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("2019", 0) != 0) continue;
        std::vector<double> row;
        std::istringstream fields(line);
        for (std::string field; fields >> field;) row.push_back(std::strtod(field.c_str(), nullptr));
        rows.push_back(row);
    }
    return rows;
}

struct Grid {
    int cols = 0, rows = 0;
    std::vector<double> values;
    double at(int r, int c) const { return values[static_cast<size_t>((r - 1) * cols + (c - 1))]; }
};

Grid ReadGrid(const std::string& path) {
    std::istringstream in(ReadFile(path));
    Grid g;
    std::string key;
    double value = 0;
    for (int k = 0; k < 6; ++k) {
        in >> key >> value;
        if (key == "ncols") g.cols = static_cast<int>(value);
        if (key == "nrows") g.rows = static_cast<int>(value);
    }
    for (std::string field; in >> field;) g.values.push_back(std::strtod(field.c_str(), nullptr));
    return g;
}

}  // namespace

TEST(ExampleBasinWhole, EverySubModelWritesItsOutputsWithinPlausibleBounds) {
    TempDir dir;
    CopyMarchBasin(dir);
    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(run.exitCode, 0) << run.output;

    // Each sub-model's own output, with a row for every day (statistics) or
    // every hour (tables) of the run, and nothing but finite numbers in it.
    struct Output {
        const char* file;
        const char* model;
        bool hourly;
    } outputs[] = {
        {"temperature.sta", "interpolation", false},
        {"rgex.sta", "radiation correction and evapotranspiration", false},
        {"etp.sta", "evapotranspiration", false},
        {"interception_storage.sta", "interception", false},
        {"snow_storage.sta", "snow", false},
        {"surftemp.sta", "energy balance of the snow", false},
        {"deposition.sta", "snow slides", false},
        {"qglac.sta", "glacier", false},
        {"sdisp.sta", "silting-up", false},
        {"qgsr.sta", "surface routing", false},
        {"qg.sta", "soil model", false},
        {"substeps.sta", "dynamic steps of the soil model", false},
        {"temper.sta", "soil heat", false},
        {"irrigation_gw.sta", "irrigation", true},
        {"gw_control_point.txt", "groundwater", true},
        {"Qrouted.sta", "routing", true},
        {"reservoir_1.txt", "reservoir", true},
        {"abstraction_1.txt", "abstraction", true},
        {"tracer_chlrouti.sta", "conservative tracer", false},
        {"tracer_trirouti.sta", "radioactive tracer", false},
        {"points.txt", "point output", true},
    };
#ifdef RUVEX_SANITIZED
    const size_t days = 1;
#else
    const size_t days = 2;
#endif
    std::map<std::string, std::vector<std::vector<double>>> rows;
    for (const Output& o : outputs) {
        SCOPED_TRACE(std::string(o.file) + " of the " + o.model);
        const std::string path = dir.file(std::string("output/") + o.file);
        ASSERT_TRUE(FileExists(path));
        rows[o.file] = DataRows(path);
        ASSERT_GE(rows[o.file].size(), o.hourly ? 24 * days : days);
        for (const auto& row : rows[o.file])
            for (double v : row) ASSERT_TRUE(std::isfinite(v)) << "a value that is not a number";
    }

    // Discharges, storages and concentrations are never negative. The daily
    // statistics carry year, month, day, hour, then one column per subbasin
    // and the basin.
    for (const char* file : {"Qrouted.sta", "interception_storage.sta", "snow_storage.sta", "qgsr.sta", "qg.sta",
                             "sr_storage.sta", "tracer_chlrouti.sta", "tracer_trirouti.sta", "tracer_chlunsat.sta",
                             "tracer_triunsat.sta", "abstraction_1.txt"}) {
        SCOPED_TRACE(file);
        const auto table = DataRows(dir.file(std::string("output/") + file));
        ASSERT_FALSE(table.empty());
        for (const auto& row : table)
            for (size_t k = 4; k < row.size(); ++k) EXPECT_GE(row[k], 0.0) << "column " << k;
    }
    // No substance is made on the way: in the snow, on the leaves of both
    // vegetation layers, in the soil, the irrigation water, on the surface
    // and in the rivers chloride stays below the highest of its sources (rain
    // 0.6 mg/l, spring 3, soil 2, aquifer 4), tritium below the rain's 9 TU;
    // and none is lost: the water the leaves hold carries the rain's.
    for (const char* model : {"snow_", "inter", "unsat", "irrig", "Surfa", "routi"}) {
        for (const auto& [tracer, high] : {std::tuple{"chl", 4.0}, std::tuple{"tri", 9.0}}) {
            const std::string file = std::string("tracer_") + tracer + model + ".sta";
            SCOPED_TRACE(file);
            const auto table = DataRows(dir.file("output/" + file));
            ASSERT_FALSE(table.empty());
            for (const auto& row : table)
                for (size_t k = 4; k < row.size(); ++k) EXPECT_LE(row[k], high) << "column " << k;
        }
    }

    double onLeaves = 0;
    for (const auto& row : DataRows(dir.file("output/tracer_chlinter.sta")))
        for (size_t k = 4; k < row.size(); ++k) onLeaves = std::max(onLeaves, row[k]);
    EXPECT_GE(onLeaves, 0.2);

    // The reservoir: its volume stays between empty and the top of its rules
    // (300000 m3), and its record closes: dV = inflow - outflow - withdrawals.
    for (const auto& r : rows["reservoir_1.txt"]) {
        ASSERT_GE(r.size(), 34u);
        EXPECT_GE(r[6], 0.0);
        EXPECT_LE(r[6], 300000.0);
    }
    // The abstraction takes at most its 0.15 m3/s.
    for (const auto& r : rows["abstraction_1.txt"]) EXPECT_LE(r[4], 0.15 + 1e-12);

    // Heads of both aquifer layers lie between the bottom of the lower layer
    // (1 m of soil layer and 20 m below it) and the surface.
    const Grid dem = ReadGrid(dir.file("input/dem.asc"));
    const Grid zones = ReadGrid(dir.file("input/zones.asc"));
    for (const char* file : {"gw_head_1.asc", "gw_head_2.asc"}) {
        SCOPED_TRACE(file);
        const Grid head = ReadGrid(dir.file(std::string("output/") + file));
        ASSERT_EQ(head.values.size(), dem.values.size());
        for (int r = 1; r <= dem.rows; ++r)
            for (int c = 1; c <= dem.cols; ++c) {
                if (zones.at(r, c) == -9999) continue;
                EXPECT_LE(head.at(r, c), dem.at(r, c) + 1e-9) << r << "," << c;
                EXPECT_GE(head.at(r, c), dem.at(r, c) - 21.0 - 1e-9) << r << "," << c;
            }
    }

    // Snow only where it is cold: no snowfall in a subbasin whose daily mean
    // temperature is above 6 degC, and snow falls on the heights.
    const auto temperature = rows["temperature.sta"];
    const auto snowfall = DataRows(dir.file("output/snow.sta"));
    ASSERT_EQ(snowfall.size(), temperature.size());
    double fallen = 0;
    for (size_t d = 0; d < snowfall.size(); ++d)
        for (size_t k = 4; k + 1 < snowfall[d].size(); ++k) {
            if (temperature[d][k] > 6.0) {
                EXPECT_EQ(snowfall[d][k], 0.0) << "day " << d + 1 << ", column " << k;
            }
            fallen += snowfall[d][k];
        }
    EXPECT_GT(fallen, 0.0);
}
