// The example basin with evapotranspiration and interception: the last six
// days of 2019 close the water balance of every cell, keep every storage
// within its capacity, and give the same bytes on one and eight threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
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

// A copy of the example basin in `dir` that runs from 26 to 31 December 2019,
// so that the year's sums are written at its end.
void CopyDecemberBasin(const TempDir& dir) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    const std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::regex modelTime(R"(\[model_time\]\n(.*\n){8})");
    const std::string replaced =
        std::regex_replace(control, modelTime, "[model_time]\n1\n26\n12\n2019\n24\n31\n12\n2019\n");
    ASSERT_NE(replaced, control) << "the model time of the example basin has moved";
    // Without the snow cover the precipitation is what reaches the leaves.
    const std::string noSnow = std::regex_replace(replaced, std::regex(R"(\[snow_model\]\n1 )"), "[snow_model]\n0 ");
    ASSERT_NE(noSnow, replaced) << "the snow section of the example basin has moved";
    // Without the soil model the leaves are the only evaporating surface.
    const std::string noSoil =
        std::regex_replace(noSnow, std::regex(R"(\[unsatzon_model\]\n1 )"), "[unsatzon_model]\n0 ");
    ASSERT_NE(noSoil, noSnow) << "the soil section of the example basin has moved";
    // The routing needs the soil model's runoff, so it goes too.
    WriteFile(dir.file("basin.ctl"), SwitchOffWithDependents(noSoil, {"unsatzon_model"}));
}

// The cells of an ASCII grid, row by row (nodata included).
std::vector<double> GridCells(const std::string& path) {
    std::istringstream in(ReadFile(path));
    std::string key;
    double value = 0;
    for (int i = 0; i < 6; ++i) in >> key >> value;  // the header
    std::vector<double> cells;
    while (in >> value) cells.push_back(value);
    return cells;
}

// The value rows of a statistics file (the three header lines dropped).
std::vector<std::string> StatisticsRows(const std::string& path) {
    std::istringstream in(ReadFile(path));
    std::vector<std::string> rows;
    std::string line;
    for (int n = 0; std::getline(in, line); ++n)
        if (n >= 3) rows.push_back(line);
    return rows;
}

TEST(ExampleBasinInterception, ClosesTheBalanceOfEveryCell) {
    TempDir one, eight;
    CopyDecemberBasin(one);
    CopyDecemberBasin(eight);
    // Idle threads sleep rather than spin, so a machine busy with other work
    // does not stall the run; the results do not depend on it.
    const auto a = RunRuvex(one.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    const auto b = RunRuvex(eight.path(), {"basin.ctl"}, "OMP_NUM_THREADS=8 OMP_WAIT_POLICY=passive");
    ASSERT_EQ(a.exitCode, 0) << a.output;
    ASSERT_EQ(b.exitCode, 0) << b.output;

    // every output file is the same on one and eight threads
    const auto first = OutputFiles(one), second = OutputFiles(eight);
    ASSERT_EQ(first.size(), second.size());
    for (const auto& [name, content] : first) {
        ASSERT_EQ(second.count(name), 1u) << name;
        EXPECT_TRUE(content == second.at(name)) << name << " differs between 1 and 8 threads";
    }

    // precipitation = throughfall + interception evaporation + the storage left
    const auto precipitation = GridCells(one.file("output/precipitation_1900.sum"));
    const auto throughfall = GridCells(one.file("output/throughfall.sum"));
    const auto evaporation = GridCells(one.file("output/interception_evaporation.sum"));
    const auto storage = GridCells(one.file("output/interception_storage.asc"));
    const auto landuse = GridCells(one.file("output/landuse.asc"));
    const auto glacier = GridCells(one.file("input/ice_firn.asc"));
    ASSERT_EQ(precipitation.size(), 80u * 60u);
    ASSERT_EQ(throughfall.size(), precipitation.size());
    ASSERT_EQ(evaporation.size(), precipitation.size());
    ASSERT_EQ(storage.size(), precipitation.size());
    ASSERT_EQ(landuse.size(), precipitation.size());
    double largest = 0, rain = 0, evaporated = 0;
    int cells = 0;
    for (size_t i = 0; i < precipitation.size(); ++i) {
        if (precipitation[i] == -9999) continue;
        // What falls on a fully glacierized cell is the glacier's.
        if (glacier[i] >= 0.99999) continue;
        ++cells;
        const double p = precipitation[i];
        const double out = throughfall[i] + evaporation[i] + storage[i];
        const double relative = std::fabs(p - out) / std::max(std::fabs(p), 1e-300);
        largest = std::max(largest, relative);
        ASSERT_LE(relative, 1e-9) << "cell " << i / 80 + 1 << "," << i % 80 + 1 << ": precipitation " << p
                                  << ", throughfall " << throughfall[i] << ", evaporation " << evaporation[i]
                                  << ", storage " << storage[i];
        // the storage stays within IntercepCap times the largest LAI of the land use
        const int code = static_cast<int>(landuse[i]);
        const double capacity = code == 11 || code == 1 ? 0.3 * 4.5 : code == 21 || code == 2 ? 0.4 * 10 : 0.2 * 2.5;
        EXPECT_LE(storage[i], capacity + 1e-12) << "land use " << code;
        rain += p;
        evaporated += evaporation[i];
    }
    EXPECT_GT(cells, 2000);
    EXPECT_GT(rain / cells, 1.0);        // it rained
    EXPECT_GT(evaporated / cells, 0.1);  // and the leaves evaporated some of it
    std::printf("example basin: %d cells, largest relative residual %.3g, mean precipitation %.4f mm, mean "
                "interception evaporation %.4f mm\n",
                cells, largest, rain / cells, evaporated / cells);

    // without soil model and snow the total real evapotranspiration is the
    // interception evaporation, value for value
    const auto total = StatisticsRows(one.file("output/etr.sta"));
    const auto interception = StatisticsRows(one.file("output/interception_evaporation.sta"));
    ASSERT_EQ(total.size(), 6u);
    EXPECT_EQ(total, interception);

    // the lake settings were looked for
    bool lakeInfo = false;
    for (const DiagLine& line : DiagLines(ReadFile(one.file("Ruvex_Diag.xml"))))
        if (line.description.find("no LAKE-grid was found in evapotranspiration") != std::string::npos)
            lakeInfo = line.level == 3;
    EXPECT_TRUE(lakeInfo);
}

}  // namespace
