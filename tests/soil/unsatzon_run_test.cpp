// The example basin with the soil model on, run by the real executable for
// one day: its statistics files and the model-start report.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <string>
#include <sstream>

#include "soil/example_basin_copy.h"
#include "support/test_support.h"

using namespace testsupport;

TEST(SoilRun, ExampleBasinStartsTheSoilModel) {
    TempDir dir;
    soiltest::CopyExampleInputs(dir);
    std::string control = soiltest::ExampleControlWithTime("1\n1\n1\n2019\n24\n1\n1\n2019\n\n");
    ASSERT_FALSE(control.empty());
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
    // The few cells of the upper valley's glacier count their pore volume.
    const std::string glacier = "mean soil water content for partly or completely glacierized cells at model-start: ";
    const size_t glacierAt = log.find(glacier);
    ASSERT_NE(glacierAt, std::string::npos);
    const double glacierMean = std::strtod(log.c_str() + glacierAt + glacier.size(), nullptr);
    EXPECT_GT(glacierMean, 0);
    EXPECT_LT(glacierMean, mean);
}

// Two days of the example basin on one and on eight threads: the soil state
// and the water grids written at the end of the run are the same byte for
// byte, and hold plausible values.
TEST(SoilRun, ExampleBasinSoilGridsDoNotDependOnThreads) {
    const char* environments[] = {"OMP_NUM_THREADS=1", "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=8"};
    const char* files[] = {"theta.stk", "gwstand.asc", "qd.asc", "qi.asc", "deltagw.asc", "gwn.asc"};
    std::string outputs[2][6];
    for (int k = 0; k < 2; ++k) {
        SCOPED_TRACE(environments[k]);
        TempDir dir;
        soiltest::CopyExampleInputs(dir);
        std::string control = soiltest::ExampleControlWithTime("1\n1\n7\n2019\n24\n2\n7\n2019\n\n");
        ASSERT_FALSE(control.empty());
        WriteFile(dir.file("basin.ctl"), control);
        const RunResult run = RunRuvex(dir.path(), {"basin.ctl"}, environments[k]);
        ASSERT_EQ(run.exitCode, 0) << run.output;
        for (int f = 0; f < 6; ++f) {
            const std::string name = dir.file(std::string("output/") + files[f]);
            ASSERT_TRUE(FileExists(name)) << files[f];
            outputs[k][f] = ReadFile(name);
        }
    }
    for (int f = 0; f < 6; ++f) EXPECT_TRUE(outputs[0][f] == outputs[1][f]) << files[f] << " differs";
    // The groundwater table lies in the profile, at most 1.8 m deep.
    const std::vector<double> values = GridValues(outputs[0][1]);
    for (double value : values) {
        EXPECT_LE(value, 0);
        EXPECT_GE(value, -1.8);
    }
    EXPECT_GT(values.size(), 2000u);
}

// A column whose baseflow leaves the plausible range is dumped, and with
// "-closeAfterDump" the run ends after the soil step with code 199.
TEST(SoilRun, CloseAfterDumpEndsTheRun) {
    TempDir dir;
    soiltest::CopyExampleInputs(dir);
    std::string control = soiltest::ExampleControlWithTime("1\n1\n7\n2019\n24\n1\n7\n2019\n\n");
    ASSERT_FALSE(control.empty());
    // Q0 of -10.5 m/s over an hour: water supplied from below far beyond any column
    const size_t q0 = control.find("0.5 0.5                    # QB-Red.Faktor (Q0)");
    ASSERT_NE(q0, std::string::npos);
    control.replace(q0, 7, "-3.78e7 -3.78e7");
    // Q0 drives the column only without the groundwater model.
    WriteFile(dir.file("basin.ctl"), SetSectionSwitch(control, "groundwater_flow", 0));
    const RunResult run = RunRuvex(dir.path(), {"basin.ctl", "-dumpmode", "-closeAfterDump"});
    EXPECT_EQ(run.exitCode, 199) << run.output;
    const std::string diagnostics = ReadFile(dir.file("Ruvex_Diag.xml"));
    EXPECT_NE(diagnostics.find("command line option -closeAfterDump active!"), std::string::npos);
    EXPECT_NE(diagnostics.find("a dumpfile has been written and Ruvex aborts now."), std::string::npos);
    int dumps = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("dgw_dump_row_", 0) == 0 && name.find("_substep_1_2019070101.dmp") != std::string::npos)
            ++dumps;
    }
    EXPECT_GE(dumps, 1);
}

namespace {

// The text of an ASCII grid with the header of `like` and, in every cell,
// `value(cell of like)`.
std::string MappedGrid(const std::string& like, const std::function<std::string(const std::string&)>& value) {
    std::istringstream in(like);
    std::ostringstream out;
    std::string line;
    for (int k = 0; k < 6 && std::getline(in, line); ++k) out << line << "\n";
    while (std::getline(in, line)) {
        std::istringstream cells(line);
        std::string separator;
        for (std::string cell; cells >> cell; separator = " ") out << separator << value(cell);
        out << "\n";
    }
    return out.str();
}

// The example from 1 June 2019 for `days` days with the groundwater model
// and rivers that take and give water (surface-water interaction 2, a
// leakage coefficient of 1e-6 1/s under every channel). With `linked`, every
// channel cell of the river-depth grid is also linked to its own subbasin's
// river, 0.1 m deep, so that the river water infiltrates where the table lies
// below the bed; the example links none.
void WriteRiverExample(const TempDir& dir, int days, bool linked) {
    soiltest::CopyExampleInputs(dir);
    std::string control =
        soiltest::ExampleControlWithTime("1\n1\n6\n2019\n24\n" + std::to_string(days) + "\n6\n2019\n\n");
    ASSERT_FALSE(control.empty());
    ReplaceOnce(control, "0                          # surface water interaction",
                "2                          # surface water interaction");
    const std::string depth = ReadFile(dir.file("input/river_depth.asc"));
    auto channel = [](const std::string& cell) { return std::strtod(cell.c_str(), nullptr) > 0; };
    WriteFile(dir.file("input/kolmation.asc"),
              MappedGrid(depth, [&](const std::string& cell) { return channel(cell) ? "1e-6" : cell; }));
    control = AddStandardGrids(control, "kolmation.asc kolmation fillcode = 0 writecode = 0 statfile = "
                                        "kolmation.sta statcode = 0\n");
    if (linked) {
        WriteFile(dir.file("input/river_depth.asc"),
                  MappedGrid(depth, [&](const std::string& cell) { return channel(cell) ? "0.1" : cell; }));
        // The zone codes of the channel cells, read in step with the depths.
        std::istringstream zones(ReadFile(dir.file("input/zones.asc")));
        std::string line;
        for (int k = 0; k < 6 && std::getline(zones, line); ++k) {
        }
        WriteFile(dir.file("input/river_links.asc"), MappedGrid(depth, [&](const std::string& cell) {
                      std::string zone;
                      zones >> zone;
                      return channel(cell) && std::strtod(zone.c_str(), nullptr) > 0 ? zone : std::string("0");
                  }));
    }
    WriteFile(dir.file("basin.ctl"), control);
}

}  // namespace

// With the groundwater model on, the baseflow of every subbasin is what its
// cells exfiltrate into the rivers, so the GWEX statistics equal the QB
// statistics in every subbasin, the glacier subbasin included, where
// ice-covered shares count as zeros in both. GWIN and GWEX are written with
// seven decimals.
TEST(SoilRun, ExfiltrationStatisticsEqualTheBaseflowStatistics) {
    TempDir dir;
    WriteRiverExample(dir, 1, false);
    if (HasFatalFailure()) return;
    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;

    const auto qb = StatisticsValueRows(dir.file("output/qb.sta"));
    const auto gwex = StatisticsValueRows(dir.file("output/gwex.sta"));
    ASSERT_EQ(qb.size(), 1u);
    ASSERT_EQ(gwex.size(), qb.size());
    ASSERT_EQ(gwex[0].size(), qb[0].size());
    ASSERT_GE(qb[0].size(), 8u);  // the date, three subbasins and the total
    double largest = 0;
    for (size_t k = 4; k < qb[0].size(); ++k) {
        SCOPED_TRACE(k - 3);
        EXPECT_NEAR(gwex[0][k], qb[0][k], 6e-7);  // QB is written with six decimals
        largest = std::max(largest, qb[0][k]);
    }
    EXPECT_GT(largest, 1e-3);
    const std::vector<std::string> rows = {ReadFile(dir.file("output/gwex.sta")), ReadFile(dir.file("output/gwin.sta"))};
    for (const std::string& text : rows) {
        const std::string last = text.substr(text.rfind('\n', text.size() - 2) + 1);
        const size_t tab = last.rfind('\t');
        ASSERT_NE(tab, std::string::npos) << last;
        const std::string value = last.substr(tab + 1, last.find('\n', tab) - tab - 1);
        EXPECT_EQ(value.size() - value.find('.') - 1, 7u) << last;
    }
}

// Rivers that give water to the cells linked to them serve those cells one
// after the other: a day of the example with every channel cell linked
// writes the same files on one, three and eight threads, and the rivers gave
// water (little: 1 June is a day on which the valley fields also take river
// water, which wets their soils).
TEST(SoilRun, RiverExampleDoesNotDependOnThreads) {
    std::map<std::string, std::string> outputs[3];
    const int threads[] = {1, 3, 8};
    for (int k = 0; k < 3; ++k) {
        SCOPED_TRACE(threads[k]);
        TempDir dir;
        WriteRiverExample(dir, 1, true);
        if (HasFatalFailure()) return;
        const RunResult run = RunRuvex(dir.path(), {"basin.ctl"},
                                       "RUVEX_PARALLEL_MIN_CELLS=1 OMP_NUM_THREADS=" + std::to_string(threads[k]));
        ASSERT_EQ(run.exitCode, 0) << run.output;
        outputs[k] = OutputFiles(dir);
    }
    ASSERT_GT(outputs[0].size(), 100u);
    for (int k = 1; k < 3; ++k) {
        ASSERT_EQ(outputs[k].size(), outputs[0].size());
        for (const auto& [name, text] : outputs[0]) EXPECT_TRUE(outputs[k][name] == text) << name << " differs on "
                                                                                        << threads[k] << " threads";
    }
    double given = 0;
    for (const std::vector<double>& row : ValueRowsOfText(outputs[0]["gwin.sta"]))
        if (row.size() > 4) given += row.back();
    EXPECT_GT(given, 1e-5);
}
