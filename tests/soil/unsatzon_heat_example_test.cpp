// The example basin with soil heat on, run by the real executable for a few
// winter hours on one and on eight threads: it writes the temperature stack
// and the thaw-depth statistics, the same byte for byte.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <string>

#include "soil/example_basin_copy.h"
#include "support/test_support.h"

using namespace testsupport;

TEST(SoilHeatExample, TemperatureStackAndThawDepthDoNotDependOnThreads) {
    const char* environments[] = {"OMP_NUM_THREADS=1", "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8"};
    const char* files[] = {"temper.stk", "thaw.asc", "temper.sta", "theta.stk"};
    constexpr int Files = 4;
    std::string outputs[2][Files];
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(environments[k]);
        TempDir dir;
        soiltest::CopyExampleInputs(dir);
        std::string control = soiltest::ExampleControlWithTime("1\n10\n1\n2019\n6\n10\n1\n2019\n\n");
        ASSERT_FALSE(control.empty());
        control += "\n[heat_transfer]\n1 switch\n12 method: implicit, heat carried by the water\n0\n0\n12\n-0.007\n"
                   "800\n1500\n0.58\n1e-10\n0.5562\n2.33\n4187\n1940\n2090\n334000\n1000\n1.22\n0.5\n60\n1800\n1\n1\n"
                   "temper.txt\ntemper.sta 2024\ntemper.stk\n3\nthaw.asc\n3\n";
        WriteFile(dir.file("basin.ctl"), control);
        const RunResult run = RunRuvex(dir.path(), {"basin.ctl"}, environments[k]);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        for (int f = 0; f < Files; ++f) {
            const std::string name = dir.file(std::string("output/") + files[f]);
            ASSERT_TRUE(FileExists(name)) << files[f];
            outputs[k][f] = ReadFile(name);
        }
    }
    for (int f = 0; f < Files; ++f) EXPECT_TRUE(outputs[0][f] == outputs[1][f]) << files[f] << " differs";
    EXPECT_NE(outputs[0][2].find("soil thaw depth [m] "), std::string::npos);
    // The thaw depth lies in the profile: 0 or down to its 1.8 m.
    const std::vector<double> values = GridValues(outputs[0][1]);
    for (double value : values) {
        EXPECT_LE(value, 0);
        EXPECT_GE(value, -1.8);
    }
    EXPECT_GT(values.size(), 2000u);
}
