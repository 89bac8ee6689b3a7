// The example basin from 10 to 20 April 2019 with the silting-up model on and
// the meadow tilled on 15 April: direct runoff only in steps with water on the
// ground from the tillage day on, the same bytes on one and eight threads, and
// a faulty expression list that ends the run the same way on both.

#include <gtest/gtest.h>

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

// A copy of the example basin in `dir` from 10 to 20 April 2019 with the
// silting-up model on: the example's own section (method 1), or the section
// of the file `section` (under tests/data/siltingup) in its place. The meadow
// is tilled on days 105 and 280, the water on the surface is a variable
// grid, and the throughfall (the water that reaches the ground) and the
// direct runoff are written per subbasin in every step.
void CopyTilledBasin(const TempDir& dir, const std::string& section = "") {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    std::string text = ReadFile(BasinDir + "/basin.ctl");
    auto replace = [&](const std::regex& what, const std::string& with) {
        const std::string replaced = std::regex_replace(text, what, with, std::regex_constants::format_first_only);
        ASSERT_NE(replaced, text) << "the example basin's control file has changed near: " << with;
        text = replaced;
    };
    ASSERT_NE(text.find("  SoilTillage = 105 280;\n"), std::string::npos);
    ASSERT_NE(text.find("surfstor.asc SurfStorSiltingUp 0 0"), std::string::npos);
    replace(std::regex(R"(\[model_time\]\n(.*\n){8})"), "[model_time]\n1\n10\n4\n2019\n24\n20\n4\n2019\n");
    replace(std::regex(R"(throughfall\.sta 2024)"), "throughfall.sta 2001");
    // The checks are on the water that reaches the ground: no soil columns
    // needed, and without their runoff neither routing nor groundwater.
    text = SwitchOffWithDependents(text, {"unsatzon_model"});
    if (section.empty()) {
        replace(std::regex(R"(\[SiltingUpModel\]\n0 )"), "[SiltingUpModel]\n1 ");
        replace(std::regex(R"(qdsu\.sta 2024)"), "qdsu.sta 2001");
    } else {
        replace(std::regex(R"(\[SiltingUpModel\]\n[\s\S]*?(?=\[unsatzon_model\]))"),
                ReadFile(TestDataPath("siltingup/" + section)) + "\n");
    }
    WriteFile(dir.file("basin.ctl"), text);
}

TEST(ExampleBasinSiltingUp, RunoffAfterTillageOnlyInRainySteps) {
    TempDir one, eight;
    CopyTilledBasin(one, "section_method2.txt");
    CopyTilledBasin(eight, "section_method2.txt");
    const auto a = RunRuvex(one.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    const auto b =
        RunRuvex(eight.path(), {"basin.ctl"}, "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8 OMP_WAIT_POLICY=passive");
    ASSERT_EQ(a.exitCode, 0) << a.output;
    ASSERT_EQ(b.exitCode, 0) << b.output;

    const auto first = OutputFiles(one), second = OutputFiles(eight);
    ASSERT_EQ(first.size(), second.size());
    for (const auto& [name, content] : first) {
        ASSERT_EQ(second.count(name), 1u) << name;
        EXPECT_TRUE(content == second.at(name)) << name << " differs between 1 and 8 threads";
    }
    for (const char* grid : {"kinetic_energy.asc", "qdsu.sum", "tst.asc", "qdsu.sta", "sdisp.sta"})
        EXPECT_EQ(first.count(grid), 1u) << grid;

    const auto runoff = StatisticsValueRows(one.file("output/qdsu.sta"));
    const auto rain = StatisticsValueRows(one.file("output/throughfall.sta"));
    ASSERT_EQ(runoff.size(), 11u * 24u);
    ASSERT_EQ(rain.size(), runoff.size());
    int runoffSteps = 0;
    for (size_t t = 0; t < runoff.size(); ++t) {
        ASSERT_EQ(runoff[t].size(), 8u);  // date, three subbasins, the total
        for (size_t k = 4; k < 7; ++k) {
            if (runoff[t][k] <= 0) continue;
            ++runoffSteps;
            EXPECT_GE(runoff[t][2], 15) << "direct runoff before the tillage on 15 April, step " << t;
            EXPECT_GT(rain[t][k], 0) << "direct runoff without water reaching the ground, step " << t;
        }
    }
    EXPECT_GT(runoffSteps, 20);
    std::printf("silting-up in the example basin: %d subbasin steps with direct runoff\n", runoffSteps);
}

// The example's own section: the built-in laws of method 1 write the kinetic
// energy and the direct runoff, and runoff appears only in rainy steps from
// the tillage day on.
TEST(ExampleBasinSiltingUp, ExampleSectionWithTheBuiltInLaws) {
    TempDir dir;
    CopyTilledBasin(dir);
    const auto run = RunRuvex(dir.path(), {"basin.ctl"}, "OMP_NUM_THREADS=2");
    ASSERT_EQ(run.exitCode, 0) << run.output;
    for (const char* grid : {"kinetic_energy.asc", "qdsu.sum", "qdsu.sta", "sdisp.sta"})
        EXPECT_TRUE(FileExists(dir.file(std::string("output/") + grid))) << grid;
    const auto runoff = StatisticsValueRows(dir.file("output/qdsu.sta"));
    const auto rain = StatisticsValueRows(dir.file("output/throughfall.sta"));
    ASSERT_EQ(runoff.size(), 11u * 24u);
    ASSERT_EQ(rain.size(), runoff.size());
    int runoffSteps = 0;
    for (size_t t = 0; t < runoff.size(); ++t) {
        for (size_t k = 4; k < 7; ++k) {
            if (runoff[t][k] <= 0) continue;
            ++runoffSteps;
            EXPECT_GE(runoff[t][2], 15) << "direct runoff before the tillage on 15 April, step " << t;
            EXPECT_GT(rain[t][k], 0) << "direct runoff without water reaching the ground, step " << t;
        }
    }
    // Kinetic energy only where rain fell on tilled meadow: some cells, not all.
    std::istringstream energy(ReadFile(dir.file("output/kinetic_energy.asc")));
    std::string word;
    for (int i = 0; i < 12; ++i) energy >> word;
    int positive = 0, cells = 0;
    double v = 0;
    while (energy >> v) {
        if (v == -9999) continue;
        ++cells;
        if (v > 0) ++positive;
    }
    EXPECT_GT(positive, 0);
    EXPECT_LT(positive, cells);
    std::printf("silting-up, method 1: %d subbasin steps with direct runoff, kinetic energy in %d of %d cells\n",
                runoffSteps, positive, cells);
}

TEST(ExampleBasinSiltingUp, FaultyExpressionEndsTheRunAlikeOnAnyThreadCount) {
    std::string entries[2];
    for (int t = 0; t < 2; ++t) {
        TempDir dir;
        CopyTilledBasin(dir, "section_bad_expression.txt");
        const auto r = RunRuvex(dir.path(), {"basin.ctl"},
                                t == 0 ? "OMP_NUM_THREADS=1" : "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8");
        EXPECT_EQ(r.exitCode, 403 & 0xff) << r.output;
        for (const DiagLine& line : DiagLines(ReadFile(dir.file("Ruvex_Diag.xml")))) {
            if (line.level == 0 && line.description.find("could not be parsed correctly") != std::string::npos)
                entries[t] = line.description;
        }
        EXPECT_NE(entries[t].find("V=Z*Q*unknown_factor"), std::string::npos) << entries[t];
        EXPECT_NE(entries[t].find("Unknown variable unknown_factor (col 7)"), std::string::npos) << entries[t];
    }
    EXPECT_EQ(entries[0], entries[1]);
}

}  // namespace
