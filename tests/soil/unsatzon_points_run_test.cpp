// The example basin with a control point, run by the real executable for ten
// hourly steps: the point files get one row per step and the log ends with
// the model-end report of the soil water.

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>
#include <vector>

#include "support/test_support.h"

using namespace testsupport;

TEST(SoilPointRun, ControlPointFilesAndModelEndReport) {
    TempDir dir;
    const std::filesystem::path example = TestDataPath("../../examples/basin");
    std::filesystem::copy(example / "input", dir.file("input"), std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(dir.file("output"));
    std::string control = ReadFile((example / "basin.ctl").string());
    const size_t begin = control.find("[model_time]");
    const size_t end = control.find("[zone_grid]");
    ASSERT_NE(begin, std::string::npos);
    control.replace(begin, end - begin, "[model_time]\n1\n1\n1\n2019\n10\n1\n1\n2019\n\n");
    const std::string none = "0 0                        # control point (row column): none";
    const size_t point = control.find(none);
    ASSERT_NE(point, std::string::npos) << "the control point line of the example has moved";
    control.replace(point, none.size(), "30 40");
    WriteFile(dir.file("basin.ctl"), control);

    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    auto lines = [&](const std::string& name) {
        std::vector<std::string> result;
        std::istringstream in(ReadFile(dir.file(name)));
        for (std::string line; std::getline(in, line);) result.push_back(line);
        return result;
    };
    // The rows of the stacks; etr, interflow and the other data come from the
    // cell step itself.
    for (const char* name : {"theta.txt", "hhyd.txt", "qbottom.txt"}) {
        SCOPED_TRACE(name);
        const std::vector<std::string> file = lines(std::string("output/") + name);
        ASSERT_EQ(file.size(), 11u);
        EXPECT_EQ(file[0].rfind("YY\tMM\tDD\tHH\t", 0), 0u);
        EXPECT_EQ(file[1].rfind("2019\t1\t1\t1\t", 0), 0u) << file[1];
        EXPECT_EQ(file[10].rfind("2019\t1\t1\t10\t", 0), 0u) << file[10];
    }
    const std::vector<std::string> theta = lines("output/theta.txt");
    EXPECT_EQ(theta[0].rfind("YY\tMM\tDD\tHH\ttheta[30][40][1]\t", 0), 0u) << theta[0];

    const std::vector<std::string> log = lines("modell_0.log");
    ASSERT_GE(log.size(), 4u);
    const size_t n = log.size();
    EXPECT_EQ(log[n - 4].rfind("(mpi_rank 0) soil water content (control point r=30 c=40) at model-end: ", 0), 0u)
        << log[n - 4];
    EXPECT_EQ(log[n - 3].rfind("mean soil water content for all cells at model-end: ", 0), 0u);
    EXPECT_NE(ReadFile(dir.file("modell_0.log")).find("flow time distribution"), std::string::npos);
}
