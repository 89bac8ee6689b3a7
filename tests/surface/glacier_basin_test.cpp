// The example basin's glacier in whole runs of the executable: melt only in
// the upper valley and in the warm season, the runoff storages smoothing and
// delaying it, the mass balance falling through the summer, and the same
// bytes on one and eight threads.

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

// The example basin with its glacier, from `start` to `end` ("day\nmonth"
// of 2019); soil model and routing off.
void CopyBasin(const TempDir& dir, const std::string& start, const std::string& end) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    // The glacier checks need no soil columns, which would take most of the time.
    std::string control = ReadFile(BasinDir + "/basin.ctl");
    control = WithDegreeDaySnow(WithDynamicGlacier(SwitchOffWithDependents(control, {"unsatzon_model"})));
    const std::regex endOfRun(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
    const std::string shortened =
        std::regex_replace(control, endOfRun, "[model_time]\n1\n" + start + "\n2019\n24\n" + end + "\n2019\n");
    ASSERT_NE(shortened, control);
    ASSERT_NE(shortened.find("glacier.asc GlacierizedCells"), std::string::npos);
    WriteFile(dir.file("basin.ctl"), shortened);
}

// Winter without melt (the firn starts melting on 30 April) and the melt
// of the summer; the sanitizer build takes late April to mid June.
#ifdef RUVEX_SANITIZED
const char* const WinterStart = "20\n4";
const char* const SummerEnd = "15\n6";
const size_t Days = 57;
#else
const char* const WinterStart = "1\n1";
const char* const SummerEnd = "31\n8";
const size_t Days = 243;
#endif

}  // namespace

TEST(ExampleBasinGlacier, MeltRunoffAndMassBalance) {
    TempDir one, eight;
    CopyBasin(one, WinterStart, SummerEnd);
    CopyBasin(eight, WinterStart, SummerEnd);
    const auto a = RunRuvex(one.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    const auto b = RunRuvex(eight.path(), {"basin.ctl"}, "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8 OMP_WAIT_POLICY=passive");
    ASSERT_EQ(a.exitCode, 0) << a.output;
    ASSERT_EQ(b.exitCode, 0) << b.output;

    const auto first = OutputFiles(one), second = OutputFiles(eight);
    ASSERT_EQ(first.size(), second.size());
    for (const auto& [name, content] : first) {
        ASSERT_EQ(second.count(name), 1u) << name;
        EXPECT_TRUE(content == second.at(name)) << name << " differs between 1 and 8 threads";
    }

    // firn and ice melt: only in subbasin 3, nothing before 30 April
    const auto ice = StatisticsValueRows(one.file("output/qice.sta"));
    const auto firn = StatisticsValueRows(one.file("output/qfirn.sta"));
    const auto snowOnIce = StatisticsValueRows(one.file("output/qsnowonglac.sta"));
    const auto runoff = StatisticsValueRows(one.file("output/qglac.sta"));
    const auto balance = StatisticsValueRows(one.file("output/glacier_mb_glacier.sta"));
    for (const auto* rows : {&ice, &firn, &snowOnIce, &runoff, &balance}) ASSERT_EQ(rows->size(), Days);
    double summerMelt = 0;
    for (const auto* rows : {&ice, &firn}) {
        for (const auto& row : *rows) {
            ASSERT_GE(row.size(), 8u);
            EXPECT_EQ(row[4], 0);
            EXPECT_EQ(row[5], 0);
#ifndef RUVEX_SANITIZED
            // under the winter's snow the ice does not melt (the shortened run
            // starts in spring, without that snow)
            if (row[1] < 4 || (row[1] == 4 && row[2] < 30)) {
                EXPECT_EQ(row[6], 0) << row[1] << "/" << row[2];
            }
#endif
            if (row[1] >= 5) summerMelt += row[6];
        }
    }
    EXPECT_GT(summerMelt, 5);

    // the storages' outflow: smoother than the melt and later
    double meltChange = 0, runoffChange = 0, meltTime = 0, meltSum = 0, runoffTime = 0, runoffSum = 0;
    for (size_t d = 0; d < ice.size(); ++d) {
        const double melt = ice[d][6] + firn[d][6] + snowOnIce[d][6];
        const double q = runoff[d][6];
        EXPECT_EQ(runoff[d][4], 0);
        if (d > 0) {
            meltChange += std::fabs(melt - (ice[d - 1][6] + firn[d - 1][6] + snowOnIce[d - 1][6]));
            runoffChange += std::fabs(q - runoff[d - 1][6]);
        }
        meltTime += static_cast<double>(d) * melt;
        meltSum += melt;
        runoffTime += static_cast<double>(d) * q;
        runoffSum += q;
    }
    ASSERT_GT(meltSum, 0);
    ASSERT_GT(runoffSum, 0);
    EXPECT_LT(runoffChange, meltChange);
    EXPECT_GT(runoffTime / runoffSum, meltTime / meltSum);
    std::printf("subbasin 3: melt %.2f mm, runoff %.2f mm; day-to-day change %.2f and %.2f; mean "
                "day %.2f and %.2f\n",
                meltSum, runoffSum, meltChange, runoffChange, meltTime / meltSum, runoffTime / runoffSum);

    // the glacier mass balance falls from the end of each month to the next
    // through the summer
    std::map<int, double> monthEnd;
    for (const auto& row : balance) monthEnd[static_cast<int>(row[1])] = row[6];
    for (int month = 5; monthEnd.count(month + 1); ++month) EXPECT_GT(monthEnd[month], monthEnd[month + 1]) << month;
    EXPECT_GE(monthEnd.size(), 3u);
}

// The yearly update of the example's glacier on 30 September: its entries
// at level DEBUG in the diagnostics, a glacier grid written at the end that
// holds less glacier than the input and as much as the new area of the
// update, and the same bytes on one and eight threads.
TEST(ExampleBasinGlacier, YearlyUpdate) {
#ifdef RUVEX_SANITIZED
    const char* const start = "24\n9";
#else
    const char* const start = "1\n8";
#endif
    TempDir one, eight;
    CopyBasin(one, start, "1\n10");
    CopyBasin(eight, start, "1\n10");
    const auto a = RunRuvex(one.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    const auto b = RunRuvex(eight.path(), {"basin.ctl"}, "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8 OMP_WAIT_POLICY=passive");
    ASSERT_EQ(a.exitCode, 0) << a.output;
    ASSERT_EQ(b.exitCode, 0) << b.output;
    const auto first = OutputFiles(one), second = OutputFiles(eight);
    ASSERT_EQ(first.size(), second.size());
    for (const auto& [name, content] : first) {
        ASSERT_EQ(second.count(name), 1u) << name;
        EXPECT_TRUE(content == second.at(name)) << name << " differs between 1 and 8 threads";
    }

    // one update, its entries at level DEBUG
    const std::string xml = ReadFile(one.file("Ruvex_Diag.xml"));
    double newArea = -1, oldArea = -1;
    int updates = 0, glacierEntries = 0;
    for (const DiagLine& line : DiagLines(xml)) {
        if (line.description.find("glaciers changed, updating glaicerlist now...") != std::string::npos) {
            ++updates;
            EXPECT_EQ(line.level, 4);
        }
        const std::string& text = line.description;  // line ends shown as ";"
        const size_t at = text.find("New Area:\t");
        if (text.rfind("Glacier:\t0;", 0) == 0 && at != std::string::npos) {
            ++glacierEntries;
            EXPECT_EQ(line.level, 4);
            newArea = std::strtod(text.c_str() + at + 10, nullptr);
            oldArea = std::strtod(text.c_str() + text.find("Old Area:\t") + 10, nullptr);
        }
    }
    EXPECT_EQ(updates, 1);
    EXPECT_EQ(glacierEntries, 1);
    ASSERT_GT(newArea, 0);

    // the glacier at the end: less than the input, the update's new area
    auto cellArea = [](const std::string& grid) {
        std::istringstream in(grid);
        std::string key;
        double value = 0, sum = 0;
        for (int k = 0; k < 6; ++k) in >> key >> value;
        while (in >> value)
            if (value > 0) sum += value * 0.01;
        return sum;
    };
    const double before = cellArea(ReadFile(BasinDir + "/input/glacier.asc"));
    const double after = cellArea(first.at("glacier.asc"));
    EXPECT_LT(after, before);
    EXPECT_LT(newArea, oldArea);
    EXPECT_NEAR(after, newArea, 1e-5 * 0.01);
    std::printf("glacier of the example: %.6f km2 at the start, %.6f km2 after the update (new area %.6g)\n", before,
                after, newArea);
}
