// The example basin that comes with the model: a shortened copy runs to its
// end, and its outputs do not depend on the number of threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

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
