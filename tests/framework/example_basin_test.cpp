// The example basin that comes with the model: a shortened copy runs to its
// end, and its outputs do not depend on the number of threads.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <regex>

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

// A copy of the example basin in `dir` whose run covers the first `days`
// days of January 2019.
void CopyShortenedBasin(const TempDir& dir, int days) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    std::string control = ReadFile(BasinDir + "/basin.ctl");
    const std::regex endOfRun(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
    const std::string shortened = "[model_time]\n1\n1\n1\n2019\n24\n" + std::to_string(days) + "\n1\n2019\n";
    const std::string replaced = std::regex_replace(control, endOfRun, shortened);
    ASSERT_NE(replaced, control) << "the model time of the example basin has moved";
    WriteFile(dir.file("basin.ctl"), replaced);
}

// Every output file, by name.
std::map<std::string, std::string> Outputs(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.file("output"))) {
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    }
    return files;
}

}  // namespace

TEST(ExampleBasin, OutputsAreTheSameOnOneThreeAndEightThreads) {
    // The basin is below the cell count at which passes take threads: the
    // threshold is lowered so that the parallel paths run.
    const char* threads[] = {"OMP_NUM_THREADS=1", "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=3",
                             "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8", "OMP_NUM_THREADS=8"};
    std::map<std::string, std::string> outputs[4];
    for (int k = 0; k < 4; ++k) {
        TempDir dir;
        CopyShortenedBasin(dir, 3);
        const auto run = RunRuvex(dir.path(), {"basin.ctl"}, threads[k]);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        outputs[k] = Outputs(dir);
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
    EXPECT_NE(first.at("temperature.sta").find("2019\t 1\t 3\t24"), std::string::npos);
    // the point file: three header lines and one row per hourly step
    const std::string& points = first.at("points.txt");
    EXPECT_EQ(std::count(points.begin(), points.end(), '\n'), 3 + 3 * 24);
    EXPECT_EQ(points.rfind("YY\tMM\tDD\tHH\tT/31/35", 0), 0u);
}
