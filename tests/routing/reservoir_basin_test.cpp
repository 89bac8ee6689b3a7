// The reservoir of the example basin in a real run of the program: its
// balance file closes record by record and the routed discharge of its
// subbasin is its release.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

TEST(ReservoirBasin, BalanceFileClosesAndTheOutletFollowsTheRelease) {
    TempDir dir;
    const std::string basin = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";
    fs::copy(basin + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    const std::string control = ReadFile(basin + "/basin.ctl");
    const std::regex endOfRun(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
    const std::string shortened =
        std::regex_replace(control, endOfRun, "[model_time]\n1\n1\n1\n2019\n24\n2\n1\n2019\n");
    ASSERT_NE(shortened, control) << "the model time of the example basin has moved";
    WriteFile(dir.file("basin.ctl"), shortened);
    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(run.exitCode, 0) << run.output;

    const auto records = StatisticsValueRows(dir.file("output/reservoir_1.txt"));
    ASSERT_EQ(records.size(), 48u);
    const auto routed = StatisticsValueRows(dir.file("output/Qrouted.sta"));
    ASSERT_GE(routed.size(), 48u);
    double before = 100000;  // V0
    double inflow = 0, released = 0, taken = 0;
    for (size_t j = 0; j < records.size(); ++j) {
        const std::vector<double>& r = records[j];
        ASSERT_GE(r.size(), 34u);  // then one concentration per tracer
        const double V = r[6], Qin = r[7], Qout = r[10], Irrig = r[13], Abstr = r[28];
        EXPECT_NEAR(V - before, Qin - Qout - Irrig - Abstr, 1e-9 * std::max({1.0, V, before}))
            << "record " << j + 1;
        EXPECT_GE(V, 0.0);
        EXPECT_GE(Qout, 0.0);
        EXPECT_GE(Qin, 0.0);
        inflow += Qin;
        released += Qout;
        taken += Irrig + Abstr;
        // The runoff of the basin fills it; nothing else does.
        EXPECT_LE(V, 100000 + inflow + 1e-9 * std::max(1.0, V)) << "record " << j + 1;
        // Subbasin 1 is the first column of the routed discharge, with five
        // decimals.
        ASSERT_EQ(routed[j].size(), 7u);
        EXPECT_NEAR(routed[j][4], r[12], 6e-6) << "hour " << j + 1;
        before = V;
    }
    EXPECT_GT(inflow, 0.0) << "the basin's runoff reaches the reservoir";
    EXPECT_GT(released, 0.0) << "the reservoir released water";
    // the irrigation of subbasin 1 draws on it as well
    EXPECT_NEAR(before - 100000, inflow - released - taken, 1e-9 * std::max(1.0, before)) << "nothing else leaves it";
}
