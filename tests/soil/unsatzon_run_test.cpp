// The example basin with the soil model on, run by the real executable for
// one day: its statistics files and the model-start report.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "support/test_support.h"

using namespace testsupport;

TEST(SoilRun, ExampleBasinStartsTheSoilModel) {
    TempDir dir;
    const std::filesystem::path example = TestDataPath("../../examples/basin");
    std::filesystem::copy(example / "input", dir.file("input"), std::filesystem::copy_options::recursive);
    std::filesystem::create_directories(dir.file("output"));
    std::string control = ReadFile((example / "basin.ctl").string());
    const size_t begin = control.find("[model_time]");
    const size_t end = control.find("[zone_grid]");
    ASSERT_NE(begin, std::string::npos);
    control.replace(begin, end - begin, "[model_time]\n1\n1\n1\n2019\n24\n1\n1\n2019\n\n");
    WriteFile(dir.file("basin.ctl"), control);

    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    struct File {
        const char* name;
        const char* title;
    };
    const File files[] = {
        {"gwstand.sta", "groundwater level [m below surface] (GWSTAND)"},
        {"gwn.sta", "groundwater recharge per zone [mm] (GWN)"},
        {"sb1.sta", "rel. soil moisture 0..root depth per zone "},
        {"sb2.sta", "abs. soil moisture 0..profile depth per zone "},
        {"root.sta", "root depth [mm per zone] "},
        {"infex.sta", "Infiltration excess [mm per zone]  "},
        {"qd.sta", "direct discharge [mm per Zone] (QD)"},
        {"qi.sta", "Interflow [mm per zone]"},
        {"qb.sta", "base flow [mm per Zone]"},
        {"qg.sta", "total runoff [mm per zone] (sum of QB, QI und QD)"},
        {"macro.sta", "macropore_infiltration_per_zone_[mm] "},
        {"infilt.sta", "total_infiltration_per_zone_[mm] "},
    };
    for (const File& f : files) {
        SCOPED_TRACE(f.name);
        ASSERT_TRUE(FileExists(dir.file(std::string("output/") + f.name)));
        EXPECT_NE(ReadFile(dir.file(std::string("output/") + f.name)).find(f.title), std::string::npos);
    }
    for (const char* absent : {"qdrain.sta", "pond.sta", "theta.txt"})
        EXPECT_FALSE(FileExists(dir.file(std::string("output/") + absent))) << absent;

    const std::string log = ReadFile(dir.file("modell_0.log"));
    const std::string all = "mean soil water content for all cells at model-start: ";
    const size_t at = log.find(all);
    ASSERT_NE(at, std::string::npos) << log;
    // Profiles of 1.28 m and 1.8 m with water contents below saturation.
    const double mean = std::strtod(log.c_str() + at + all.size(), nullptr);
    EXPECT_GT(mean, 0.2);
    EXPECT_LT(mean, 0.45 * 1.8);
    EXPECT_NE(log.find("mean soil water content for unglacierized or only partly unglacierized cells at model-start: "),
              std::string::npos);
    EXPECT_NE(log.find("mean soil water content for partly or completely glacierized cells at model-start: 0.000000"),
              std::string::npos);
}
