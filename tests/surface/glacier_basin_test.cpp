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

#include "support/test_support.h"

using namespace testsupport;
namespace fs = std::filesystem;

namespace {

const std::string BasinDir = std::string(RUVEX_TEST_DATA) + "/../../examples/basin";

// The example basin from 1 January to 31 August 2019, with its glacier
// switched on.
void CopyWinterAndSummer(const TempDir& dir) {
    fs::copy(BasinDir + "/input", dir.file("input"), fs::copy_options::recursive);
    fs::create_directories(dir.file("output"));
    // The glacier checks need no soil columns, which would take most of the time.
    const std::string control = SetSectionSwitch(
        SetSectionSwitch(SetSectionSwitch(ReadFile(BasinDir + "/basin.ctl"), "unsatzon_model", 0), "routing_model", 0),
        "groundwater_flow", 0);
    const std::regex endOfRun(R"(\[model_time\]\n(.*\n){4}24 .*\n31 .*\n12 .*\n2020 .*\n)");
    const std::string shortened =
        std::regex_replace(control, endOfRun, "[model_time]\n1\n1\n1\n2019\n24\n31\n8\n2019\n");
    ASSERT_NE(shortened, control);
    const std::string grids = "3                          # number of standard grids\n";
    const size_t at = shortened.find(grids);
    ASSERT_NE(at, std::string::npos);
    const size_t end = shortened.find("\n\n", at) + 1;
    const std::string withGlacier =
        shortened.substr(0, at) + "5" + shortened.substr(at + 1, end - at - 1) +
        "glacier.asc GlacierizedCells fillcode = 0 writecode = 0 statfile = glacier.sta statcode = 0\n"
        "glacier_codes.asc GlacierCodes fillcode = 0 writecode = 0 statfile = codes.sta statcode = 0\n" +
        shortened.substr(end);
    WriteFile(dir.file("basin.ctl"), withGlacier);
}

// The value rows of a statistics file: year, month, day, hour, subbasins
// 1 to 3, the basin.
std::vector<std::vector<double>> Rows(const std::string& path) {
    std::istringstream in(ReadFile(path));
    std::string line;
    std::vector<std::vector<double>> rows;
    for (int k = 0; std::getline(in, line); ++k) {
        if (k < 3) continue;
        std::istringstream fields(line);
        std::vector<double> row;
        double v;
        while (fields >> v) row.push_back(v);
        rows.push_back(row);
    }
    return rows;
}

std::map<std::string, std::string> Outputs(const TempDir& dir) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::directory_iterator(dir.file("output")))
        files[entry.path().filename().string()] = ReadFile(entry.path().string());
    return files;
}

}  // namespace

TEST(ExampleBasinGlacier, MeltRunoffAndMassBalance) {
    TempDir one, eight;
    CopyWinterAndSummer(one);
    CopyWinterAndSummer(eight);
    const auto a = RunRuvex(one.path(), {"basin.ctl"}, "OMP_NUM_THREADS=1");
    const auto b = RunRuvex(eight.path(), {"basin.ctl"}, "OMP_NUM_THREADS=8 OMP_WAIT_POLICY=passive");
    ASSERT_EQ(a.exitCode, 0) << a.output;
    ASSERT_EQ(b.exitCode, 0) << b.output;

    const auto first = Outputs(one), second = Outputs(eight);
    ASSERT_EQ(first.size(), second.size());
    for (const auto& [name, content] : first) {
        ASSERT_EQ(second.count(name), 1u) << name;
        EXPECT_TRUE(content == second.at(name)) << name << " differs between 1 and 8 threads";
    }

    // firn and ice melt: only in subbasin 3, nothing in January to March
    const auto ice = Rows(one.file("output/qice.sta"));
    const auto firn = Rows(one.file("output/qfirn.sta"));
    const auto snowOnIce = Rows(one.file("output/qsnowonglac.sta"));
    const auto runoff = Rows(one.file("output/qglac.sta"));
    const auto balance = Rows(one.file("output/glacier_mb_glacier.sta"));
    for (const auto* rows : {&ice, &firn, &snowOnIce, &runoff, &balance}) ASSERT_EQ(rows->size(), 243u);
    double summerMelt = 0;
    for (const auto* rows : {&ice, &firn}) {
        for (const auto& row : *rows) {
            ASSERT_GE(row.size(), 8u);
            EXPECT_EQ(row[4], 0);
            EXPECT_EQ(row[5], 0);
            if (row[1] <= 3) {
                EXPECT_EQ(row[6], 0) << row[1] << "/" << row[2];
            }
            if (row[1] >= 6) summerMelt += row[6];
        }
    }
    EXPECT_GT(summerMelt, 10);

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
    std::printf("subbasin 3, January to August: melt %.2f mm, runoff %.2f mm; day-to-day change %.2f and %.2f; mean "
                "day %.2f and %.2f\n",
                meltSum, runoffSum, meltChange, runoffChange, meltTime / meltSum, runoffTime / runoffSum);

    // the glacier mass balance falls from the end of each month to the next
    // through the summer
    std::map<int, double> monthEnd;
    for (const auto& row : balance) monthEnd[static_cast<int>(row[1])] = row[6];
    EXPECT_GT(monthEnd[5], monthEnd[6]);
    EXPECT_GT(monthEnd[6], monthEnd[7]);
    EXPECT_GT(monthEnd[7], monthEnd[8]);
}
