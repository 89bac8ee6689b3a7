// The snow model in whole runs of the executable on the example basin.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "support/example_switches.h"
#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

// The example basin for the first `days` days of 2019, with the snow section
// edited by `edit`.
std::string ShortenedBasin(const TempDir& dir, int days) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::regex endOfRun(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
    // The snow checks need no soil columns, which would take most of the time;
    // the glacier changes its extent, so that interception sees both, and
    // no snow slides from one cell to another.
    control = WithDegreeDaySnow(WithDynamicGlacier(SwitchOffWithDependents(control, {"unsatzon_model"})));
    return std::regex_replace(control, endOfRun,
                              "[model_time]\n1\n1\n1\n2019\n24\n" + std::to_string(days) + "\n1\n2019\n");
}

// Replaces the value at the start of the line that ends with `comment`.
void SetLine(std::string& control, const std::string& comment, const std::string& value) {
    const size_t at = control.find(comment);
    ASSERT_NE(at, std::string::npos) << comment;
    const size_t begin = control.rfind('\n', at) + 1;
    control.replace(begin, at - begin, value + " ");
}

std::vector<double> Cells(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    double value;
    for (int k = 0; k < 6; ++k) in >> word >> value;
    std::vector<double> cells;
    while (in >> value) cells.push_back(value);
    return cells;
}

// The rows of a statistics file after its header, as numbers.
std::vector<std::vector<double>> Rows(const std::string& text) {
    std::istringstream in(text);
    std::string line;
    std::vector<std::vector<double>> rows;
    for (int k = 0; std::getline(in, line); ++k) {
        if (k < 3) continue;
        std::istringstream fields(line);
        std::vector<double> row;
        double v;
        while (fields >> v) row.push_back(v);
        rows.push_back(row);
    }
    return rows;
}

}  // namespace

// Eight January days of the example basin (the first snow falls on day 7):
// the statistics carry their titles, snow lies in every subbasin at the end,
// and in every cell the run's snowfall and rain equal its outflow and snow
// evaporation plus what is left.
TEST(SnowRun, ExampleBasinInWinter) {
    TempDir dir;
    std::string control = ShortenedBasin(dir, 8);
    SetLine(control, "# write code: yearly sums\nrain.sta", "10");
    SetLine(control, "# write code: yearly sums\nsnow.sta", "10");
    SetLine(control, "# write code: yearly sums\nsnowcover_outflow.sta", "10");
    // Evapotranspiration takes the snow evaporation from the solid storage.
    SetLine(control, "# write code: no grids\nsnowevap.sta", "10");
    WriteFile(dir.file("basin.ctl"), control);
    const auto run = RunRuvex(dir.path(), {"basin.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;

    const struct {
        const char* file;
        const char* title;
    } titles[] = {{"snow_storage.sta", "snow_storage_in_mm___"},
                  {"rain.sta", "p_rain____"},
                  {"snow.sta", "p_snow____"},
                  {"days_snow.sta", "snow_days____"},
                  {"snowcover_outflow.sta", "snow_melt_(effective_outflow_from_snow_cover)___"}};
    for (const auto& t : titles) {
        SCOPED_TRACE(t.file);
        const std::string text = ReadFile(dir.file(std::string("output/") + t.file));
        std::istringstream in(text);
        std::string first, second;
        std::getline(in, first);
        std::getline(in, second);
        EXPECT_NE(second.find(t.title), std::string::npos) << second;
    }

    // date, subbasins 1 to 3, the basin
    const auto storage = Rows(ReadFile(dir.file("output/snow_storage.sta")));
    ASSERT_EQ(storage.size(), 8u);
    ASSERT_GE(storage.back().size(), 8u);
    for (int zone = 4; zone <= 6; ++zone) EXPECT_GT(storage.back()[static_cast<size_t>(zone)], 0) << zone;

    std::map<std::string, std::vector<double>> grids;
    for (const auto& entry : fs::directory_iterator(dir.file("output"))) {
        const std::string name = entry.path().filename().string();
        for (const char* stem : {"rain_fraction", "snow_fraction", "snowcover_outflow", "snow_storage_total", "snowevap"})
            if (name.rfind(stem, 0) == 0 && entry.path().extension() != ".sta")
                grids[stem] = Cells(ReadFile(entry.path().string()));
    }
    ASSERT_EQ(grids.size(), 5u);
    const auto& rain = grids["rain_fraction"];
    for (const auto& [stem, cells] : grids) ASSERT_EQ(cells.size(), rain.size()) << stem;
    double largest = 0;
    for (size_t i = 0; i < rain.size(); ++i) {
        if (rain[i] == -9999) continue;
        const double in = rain[i] + grids["snow_fraction"][i];
        const double out = grids["snowcover_outflow"][i] + grids["snowevap"][i] + grids["snow_storage_total"][i];
        largest = std::max(largest, std::fabs(in - out) / std::max(1.0, in));
        ASSERT_NEAR(in, out, 1e-9 * std::max(1.0, in)) << "cell " << i;
    }
    std::printf("largest relative residual of the run: %.3g\n", largest);
}

// The example basin through 2019 with the snow model on: the upper valley
// (subbasin 3) lies under snow longer and deeper than subbasin 1 in the
// winter's end and the next winter's start, no snow lies anywhere in July and August, the Summit
// station's cell counts several times the snow days of the Outlet's, every
// cell closes the snow cover's balance over the year, and interception,
// which takes the snow cover's outflow as its water input, closes its own.
TEST(SnowRun, ExampleBasinThroughAYear) {
#ifdef RUVEX_SANITIZED
    GTEST_SKIP() << "a year of the example: its code runs in the winter run of the instrumented build";
#endif
    TempDir dir;
    std::string control = ShortenedBasin(dir, 31);
    control = std::regex_replace(control, std::regex(R"(\[model_time\]\n(.*\n){4}24\n31\n1\n2019\n)"),
                                 "[model_time]\n1\n1\n1\n2019\n24\n31\n12\n2019\n");
    ASSERT_NE(control.find("24\n31\n12\n2019\n"), std::string::npos);
    // sums over the run, which is one year
    SetLine(control, "# write code: yearly sums\nrain.sta", "10");
    SetLine(control, "# write code: yearly sums\nsnow.sta", "10");
    SetLine(control, "# write code: yearly sums\nsnowcover_outflow.sta", "10");
    SetLine(control, "# write code: no grids\nsnowevap.sta", "10");
    WriteFile(dir.file("basin.ctl"), control);
    const auto run = RunRuvex(dir.path(), {"basin.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;

    // date, subbasins 1 to 3, the basin: daily means of the snow storage
    const auto storage = Rows(ReadFile(dir.file("output/snow_storage.sta")));
    ASSERT_EQ(storage.size(), 365u);
    struct Winter {
        const char* name;
        int firstMonth, lastMonth;
        int days[4] = {};
        double deepest[4] = {}, sum[4] = {};
    } winters[] = {{"January to June", 1, 6}, {"September to December", 9, 12}};
    for (const auto& row : storage) {
        ASSERT_GE(row.size(), 8u);
        const int month = static_cast<int>(row[1]);
        if (month == 7 || month == 8) {
            for (int zone = 1; zone <= 4; ++zone)
                EXPECT_EQ(row[static_cast<size_t>(3 + zone)], 0) << "snow on " << row[2] << "." << month;
        }
        for (Winter& w : winters) {
            if (month < w.firstMonth || month > w.lastMonth) continue;
            for (int zone = 1; zone <= 3; ++zone) {
                const double s = row[static_cast<size_t>(3 + zone)];
                if (s > 1) ++w.days[zone];
                w.deepest[zone] = std::max(w.deepest[zone], s);
                w.sum[zone] += s;
            }
        }
    }
    for (const Winter& w : winters) {
        SCOPED_TRACE(w.name);
        EXPECT_GT(w.days[1], 10);
        EXPECT_GT(w.days[3], w.days[1]);
        EXPECT_GT(w.deepest[3], w.deepest[1]);
        EXPECT_GT(w.sum[3], w.sum[1]);
        std::printf("%s: snow days %d and %d, deepest %.1f and %.1f mm in subbasins 1 and 3\n", w.name, w.days[1],
                    w.days[3], w.deepest[1], w.deepest[3]);
    }

    std::map<std::string, std::vector<double>> grids;
    for (const auto& entry : fs::directory_iterator(dir.file("output"))) {
        const std::string name = entry.path().filename().string();
        for (const char* stem : {"rain_fraction", "snow_fraction", "snowcover_outflow", "snow_storage_total",
                                 "snowevap", "days_snow", "throughfall", "interception_evaporation",
                                 "interception_storage"})
            if (name.rfind(stem, 0) == 0 && entry.path().extension() != ".sta" && name.find("Layer") == std::string::npos)
                grids[stem] = Cells(ReadFile(entry.path().string()));
    }
    ASSERT_EQ(grids.size(), 9u);
    for (const auto& [stem, cells] : grids) ASSERT_EQ(cells.size(), 80u * 60u) << stem;

    // yearly snow days at the stations' cells: Summit (606550, 201550) and
    // Outlet (600450, 203050) on the grid whose upper left corner is (600000, 206000)
    const auto& days = grids["days_snow"];
    const double summit = days[44 * 80 + 65], outlet = days[29 * 80 + 4];
    EXPECT_GT(outlet, 0);
    EXPECT_GT(summit, 3 * outlet);
    std::printf("snow days of 2019: Summit %.2f, Outlet %.2f\n", summit, outlet);

    // Interception leaves fully glacierized cells to the glacier, before and
    // after its yearly update.
    const auto glacierBefore = Cells(ReadFile(dir.file("input/glacier.asc")));
    const auto glacierAfter = Cells(ReadFile(dir.file("output/glacier.asc")));
    double largestSnow = 0, largestInterception = 0;
    for (size_t i = 0; i < days.size(); ++i) {
        if (grids["rain_fraction"][i] == -9999) continue;
        const double in = grids["rain_fraction"][i] + grids["snow_fraction"][i];
        const double outflow = grids["snowcover_outflow"][i];
        const double out = outflow + grids["snowevap"][i] + grids["snow_storage_total"][i];
        const double snowResidual = std::fabs(in - out) / std::max(1.0, in);
        largestSnow = std::max(largestSnow, snowResidual);
        ASSERT_LE(snowResidual, 1e-9) << "snow cover, cell " << i << ": in " << in << ", out " << out;
        if (glacierBefore[i] >= 0.99999 || glacierAfter[i] >= 0.99999) continue;
        const double passed = grids["throughfall"][i] + grids["interception_evaporation"][i] +
                              grids["interception_storage"][i];
        const double interceptionResidual = std::fabs(outflow - passed) / std::max(1.0, outflow);
        largestInterception = std::max(largestInterception, interceptionResidual);
        ASSERT_LE(interceptionResidual, 1e-9) << "interception, cell " << i << ": snow cover outflow " << outflow
                                              << ", throughfall + evaporation + storage " << passed;
    }
    std::printf("largest relative residuals of the year: snow cover %.3g, interception %.3g\n", largestSnow,
                largestInterception);
}

// The tracers in the snow of the example (chloride and tritium, both held as
// concentrations) from New Year to 10 February, 14 h, with the fixed glacier
// on the highest cells of subbasin 3: the written statistics of the last
// step equal, in every subbasin, the snow-weighted mean of the written
// tracer storage over the ice-free cells only, for the energy balance with
// slides and for the degree-day method.
TEST(SnowRun, TracerStatisticsLeaveGlacierCellsOut) {
    for (const bool degreeDay : {false, true}) {
        SCOPED_TRACE(degreeDay ? "degree-day" : "energy balance with slides");
        TempDir dir;
        fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
        fs::create_directories(dir.file("output"));
        std::string control = SwitchOffWithDependents(ReadFile(BasinDir + "/basin.ctl"), {"unsatzon_model"});
        if (degreeDay) control = WithDegreeDaySnow(control);
#ifdef RUVEX_SANITIZED
        const std::string start = "1\n2\n";
#else
        const std::string start = "1\n1\n";
#endif
        const std::regex time(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
        control = std::regex_replace(control, time, "[model_time]\n1\n" + start + "2019\n14\n10\n2\n2019\n");
        ASSERT_NE(control.find("14\n10\n2\n2019\n"), std::string::npos);
        // statistics in every step, the storages at the end of the run
        const std::string codes = "statcode = 2024 gridcode = 3";
        for (size_t at; (at = control.find(codes)) != std::string::npos;)
            control.replace(at, codes.size(), "statcode = 2001 gridcode = 3");
        SetLine(control, "# write code: at the end of the run (warm-start state)\nsnowstorage_liquid.asc", "3");
        SetLine(control, "# write code: at the end of the run (warm-start state)\nsnow_storage.sta", "3");
        WriteFile(dir.file("basin.ctl"), control);
        const auto run = RunRuvex(dir.path(), {"basin.ctl"});
        ASSERT_EQ(run.exitCode, 0) << run.output;

        const auto zones = Cells(ReadFile(dir.file("input/zones.asc")));
        const auto glacier = Cells(ReadFile(dir.file("input/ice_firn.asc")));
        const auto solid = Cells(ReadFile(dir.file("output/snowstorage_solid.asc")));
        const auto liquid = Cells(ReadFile(dir.file("output/snowstorage_liquid.asc")));
        ASSERT_EQ(glacier.size(), zones.size());
        ASSERT_EQ(solid.size(), zones.size());
        ASSERT_EQ(liquid.size(), zones.size());
        for (const char* tracer : {"chl", "tri"}) {
            SCOPED_TRACE(tracer);
            const auto storage = Cells(ReadFile(dir.file(std::string("output/tracer_") + tracer + "snow_.asc")));
            ASSERT_EQ(storage.size(), zones.size());
            const auto rows = StatisticsValueRows(dir.file(std::string("output/tracer_") + tracer + "snow_.sta"));
            ASSERT_FALSE(rows.empty());
            const auto& last = rows.back();
            ASSERT_GE(last.size(), 7u);
            ASSERT_EQ(last[1], 2);
            ASSERT_EQ(last[2], 10);
            ASSERT_EQ(last[3], 14);
            int glacierCells = 0;
            double glacierSnow = 0;
            for (int zone = 1; zone <= 3; ++zone) {
                double load = 0, water = 0;
                for (size_t i = 0; i < zones.size(); ++i) {
                    if (zones[i] != zone) continue;
                    const double w = solid[i] + liquid[i];
                    if (glacier[i] > 0) {
                        ++glacierCells;
                        glacierSnow += w;
                        continue;
                    }
                    load += storage[i] * w;
                    water += w;
                }
                ASSERT_GT(water, 0) << "subbasin " << zone;
                const double written = last[static_cast<size_t>(3 + zone)];
                EXPECT_NEAR(written, load / water, 5e-6 * std::fabs(load / water) + 1e-12) << "subbasin " << zone;
            }
            // The glacier's cells hold snow of their own, which would pull
            // subbasin 3's mean away from that of its ice-free cells.
            EXPECT_EQ(glacierCells, 13);
            EXPECT_GT(glacierSnow, 100);
        }
    }
}
