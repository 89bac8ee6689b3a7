// The example basin that comes with the model: a shortened copy runs to its
// end, and its outputs do not depend on the number of threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <regex>
#include <sstream>
#include <vector>

#include "support/example_switches.h"
#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

// A copy of the example basin in `dir` whose run covers the first `days`
// days of January 2019.
// With `soil` false the soil model and the routing (which needs its runoff)
// are off, for checks of the inputs that need no soil columns.
void CopyShortenedBasin(const TempDir& dir, int days, bool soil = true) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::regex endOfRun(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
    const std::string shortened = "[model_time]\n1\n1\n1\n2019\n24\n" + std::to_string(days) + "\n1\n2019\n";
    const std::string replaced = std::regex_replace(control, endOfRun, shortened);
    ASSERT_NE(replaced, control) << "the model time of the example basin has moved";
    WriteFile(dir.file("basin.ctl"), soil ? replaced : SwitchOffWithDependents(replaced, {"unsatzon_model"}));
}

// The values of an ESRI ASCII grid, row by row, and its nodata value.
std::vector<double> GridValues(const std::string& path, double* noData) {
    std::istringstream in(ReadFile(path));
    std::string key;
    double value = 0;
    for (int k = 0; k < 6; ++k) in >> key >> value;
    *noData = value;
    std::vector<double> values;
    while (in >> value) values.push_back(value);
    return values;
}

// Every output file, by name.
}  // namespace

TEST(ExampleBasin, OutputsAreTheSameOnOneThreeAndEightThreads) {
    // The basin is below the cell count at which passes take threads: the
    // threshold is lowered so that the parallel paths run.
    const char* threads[] = {"OMP_NUM_THREADS=1", "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=3",
                             "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8", "OMP_NUM_THREADS=8"};
#ifdef RUVEX_SANITIZED
    const int days = 1;
#else
    const int days = 3;
#endif
    std::map<std::string, std::string> outputs[4];
    for (int k = 0; k < 4; ++k) {
        TempDir dir;
        CopyShortenedBasin(dir, days);
        const auto run = RunRuvex(dir.path(), {"basin.ctl"}, threads[k]);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        outputs[k] = OutputFiles(dir);
        // the diagnostics, without the clock times of start and end
        outputs[k]["Ruvex_Diag.xml"] = std::regex_replace(
            ReadFile(dir.file("Ruvex_Diag.xml")), std::regex(R"(\d{4}-\d\d-\d\dT\d\d:\d\d:\d\d)"), "(time)");
    }
    const auto& first = outputs[0];
    ASSERT_FALSE(first.empty());
    for (int k = 1; k < 4; ++k) {
        SCOPED_TRACE(threads[k]);
        ASSERT_EQ(first.size(), outputs[k].size());
        for (const auto& [name, content] : first) {
            SCOPED_TRACE(name);
            ASSERT_EQ(outputs[k].count(name), 1u);
            EXPECT_TRUE(content == outputs[k].at(name)) << "differs from the one-thread run";
        }
    }
    // the daily statistics hold one row per simulated day
    EXPECT_NE(first.at("temperature.sta").find("2019\t 1\t " + std::to_string(days) + "\t24"), std::string::npos);
    // the point file: three header lines and one row per hourly step
    const std::string& points = first.at("points.txt");
    EXPECT_EQ(std::count(points.begin(), points.end(), '\n'), 3 + days * 24);
    EXPECT_EQ(points.rfind("YY\tMM\tDD\tHH\tT/31/35", 0), 0u);
}

// A run that ends in error keeps every step it finished: the station file of
// temperature is malformed on day 10, and every statistics file and the point
// file hold what a run of nine days writes.
TEST(ExampleBasin, MalformedStationRowOnDay10KeepsTheNineFinishedDays) {
    TempDir complete, broken;
    CopyShortenedBasin(complete, 9, false);
    CopyShortenedBasin(broken, 12, false);
    const std::string stations = broken.file("input/temperature.dat");
    std::string text = ReadFile(stations);
    const std::string row = "\n2019 1 10 1 ";
    const size_t at = text.find(row);
    ASSERT_NE(at, std::string::npos);
    const size_t value = text.find(' ', at + row.size());  // the second station's value
    ASSERT_NE(value, std::string::npos);
    WriteFile(stations, text.substr(0, value + 1) + "x" + text.substr(value + 1));

    const auto normal = RunRuvex(complete.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    const auto failed = RunRuvex(broken.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    ASSERT_EQ(normal.exitCode, 0) << normal.output;
    ASSERT_EQ(failed.exitCode, 49) << failed.output;
    EXPECT_NE(failed.output.find("error reading input/temperature.dat, line 222"), std::string::npos);

    const auto expected = OutputFiles(complete);
    const auto written = OutputFiles(broken);
    int compared = 0;
    for (const auto& [name, content] : expected) {
        if (name != "points.txt" && (name.size() < 4 || name.substr(name.size() - 4) != ".sta")) continue;
        SCOPED_TRACE(name);
        ASSERT_EQ(written.count(name), 1u);
        EXPECT_TRUE(content == written.at(name)) << "differs from the run of nine days:\n" << written.at(name);
        ++compared;
    }
    EXPECT_GE(compared, 6);
    EXPECT_NE(written.at("temperature.sta").find("2019\t 1\t 9\t24"), std::string::npos);
    const std::string& points = written.at("points.txt");
    EXPECT_EQ(std::count(points.begin(), points.end(), '\n'), 3 + 9 * 24);
}

// Late October 2019 from a cold start: the aquifer's heads fall, in a few
// dozen cells below the top of its lower layer, which then stores like the
// soil above it. The balance grids the run writes for both layers show what
// the solver left (head changes within its tolerance of 1e-6 m) in every cell
// without a fixed head, not the difference between two storage coefficients.
TEST(ExampleBasin, GroundwaterBalanceGridsShowOnlyWhatTheSolverLeft) {
    TempDir dir;
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    const std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::regex runTime(R"(\[model_time\]\n(.*\n){8})");
#ifdef RUVEX_SANITIZED
    const std::string lastDay = "25";
#else
    const std::string lastDay = "29";
#endif
    const std::string window = "[model_time]\n1\n25\n10\n2019\n24\n" + lastDay + "\n10\n2019\n";
    const std::string replaced = std::regex_replace(control, runTime, window);
    ASSERT_NE(replaced, control);
    WriteFile(dir.file("basin.ctl"), replaced);
    const auto run = RunRuvex(dir.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    double noData = 0, fixedNoData = 0;
    const std::vector<double> fixed = GridValues(dir.file("input/gw_fixed_head_2.asc"), &fixedNoData);
    for (int k = 1; k <= 2; ++k) {
        SCOPED_TRACE("layer " + std::to_string(k));
        const std::vector<double> balance = GridValues(dir.file("output/gw_balance_" + std::to_string(k) + ".asc"), &noData);
        ASSERT_EQ(balance.size(), fixed.size());
        int cells = 0;
        for (size_t i = 0; i < balance.size(); ++i) {
            if (balance[i] == noData || fixed[i] != fixedNoData) continue;
            ++cells;
            EXPECT_LT(std::fabs(balance[i]), 1e-3) << "cell " << i / 80 + 1 << ", " << i % 80 + 1;
        }
        EXPECT_GT(cells, 2000);
    }
}
