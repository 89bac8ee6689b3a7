// The example basin with a control point, run by the real executable for ten
// hourly steps: the point files get one row per step and the log ends with
// the model-end report of the soil water.

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <sstream>
#include <vector>

#include "soil/example_basin_copy.h"
#include "support/example_switches.h"
#include "support/test_support.h"

using namespace testsupport;

TEST(SoilPointRun, ControlPointFilesAndModelEndReport) {
    TempDir dir;
    soiltest::CopyExampleInputs(dir);
    std::string control = soiltest::ExampleControlWithTime("1\n1\n1\n2019\n10\n1\n1\n2019\n\n");
    ASSERT_FALSE(control.empty());
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
    // The rows of the stacks and those the cell step writes (etr, interflow,
    // other data).
    for (const char* name : {"theta.txt", "hhyd.txt", "qbottom.txt", "etr.txt", "interflow.txt", "otherdata.txt"}) {
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

namespace {

std::vector<std::string> FileLines(const std::string& path) {
    std::vector<std::string> result;
    std::istringstream in(ReadFile(path));
    for (std::string line; std::getline(in, line);) result.push_back(line);
    return result;
}

std::vector<double> RowValues(const std::string& line) {
    std::vector<double> values;
    std::istringstream in(line);
    for (double v; in >> v;) values.push_back(v);
    return values;
}

}  // namespace

// A window of 10 x 10 cells of the example basin, control point 5 5, ten
// hourly steps of two sub-steps: every point file has its header and 20 rows,
// the cell step's rows hold the column's fluxes in mm per sub-step, and the
// log ends with the control-point line and the three model-end means.
TEST(SoilPointRun, SmallBasinControlPointWithSubSteps) {
    TempDir dir;
    soiltest::CopyExampleInputs(dir);
    soiltest::CropExampleGrids(dir, 24, 20, 10, 10);
    std::string control = soiltest::ExampleControl(10, 1, 1);
    ASSERT_FALSE(control.empty());
    control = SwitchOffWithDependents(control, {"routing_model"});
    control = SetSectionSwitch(control, "special_output", 0);
    const size_t zone = control.find("[zone_grid]");
    control.insert(zone, "[soil_surface_groundwater_substeps]\n2\n\n");
    const std::string none = "0 0                        # control point (row column): none";
    const size_t point = control.find(none);
    ASSERT_NE(point, std::string::npos);
    control.replace(point, none.size(), "5 5");
    WriteFile(dir.file("basin.ctl"), control);

    const RunResult run = RunRuvex(dir.path(), {"basin.ctl"});
    ASSERT_EQ(run.exitCode, 0) << run.output;
    struct File {
        const char* name;
        const char* header;
        size_t values;  // per row after the date
    };
    const int L = 6;  // soil layers
    const int V = 2;  // vegetation layers of the example's stands
    const File files[] = {
        {"theta.txt", "YY\tMM\tDD\tHH\ttheta[5][5][1]\t", L},
        {"hhyd.txt", "YY\tMM\tDD\tHH\thhyd[5][5][1]\t", L},
        {"qbottom.txt", "YY\tMM\tDD\tHH\tq_bottom[5][5][1]\t", L},
        {"etr.txt", "YY\tMM\tDD\tHH\tetr[5][5](etr[0] is evaporation from first layer)[0]\t", L + 1},
        {"interflow.txt", "YY\tMM\tDD\tHH\tinterflow_per_layer[5][5][1]\t", L},
        {"otherdata.txt", "YY\tMM\tDD\tHH\totherdata[5][5]QD\tQI\tDELTAGW/QB\tQINF\t", 18 + 6 * V},
    };
    for (const File& f : files) {
        SCOPED_TRACE(f.name);
        const std::vector<std::string> lines = FileLines(dir.file(std::string("output/") + f.name));
        ASSERT_EQ(lines.size(), 21u);
        EXPECT_EQ(lines[0].rfind(f.header, 0), 0u) << lines[0];
        // Two rows per hour, dated with the step.
        EXPECT_EQ(lines[1].rfind("2019\t1\t1\t1\t", 0), 0u) << lines[1];
        EXPECT_EQ(lines[2].rfind("2019\t1\t1\t1\t", 0), 0u) << lines[2];
        EXPECT_EQ(lines[20].rfind("2019\t1\t1\t10\t", 0), 0u) << lines[20];
        for (size_t i = 1; i < lines.size(); ++i) EXPECT_EQ(RowValues(lines[i]).size(), 4 + f.values) << lines[i];
    }
    // Other data: the baseflow law with a negative kelsqlat gives Q0 = 0.5 mm
    // per step, 0.25 mm per sub-step; the groundwater level is a layer; grids
    // the run does not have give the nodata value.
    const std::vector<std::string> other = FileLines(dir.file("output/otherdata.txt"));
    for (size_t i = 1; i < other.size(); ++i) {
        const std::vector<double> v = RowValues(other[i]);
        ASSERT_EQ(v.size(), static_cast<size_t>(4 + 18 + 6 * V));
        EXPECT_NEAR(v[4 + 2], 0.25, 1e-12) << other[i];
        EXPECT_GE(v[4 + 14], 1);
        EXPECT_LE(v[4 + 14], L);
        EXPECT_EQ(v[4 + 4], -9999) << other[i];   // river infiltration: no groundwater model
        EXPECT_EQ(v[4 + 10], -9999) << other[i];  // drainage off
    }
    // The etr row of a sub-step is the uptake of its (single) iteration step:
    // no layer gives water back.
    const std::vector<std::string> etr = FileLines(dir.file("output/etr.txt"));
    for (size_t i = 1; i < etr.size(); ++i)
        for (double value : RowValues(etr[i])) EXPECT_GE(value, 0) << etr[i];

    const std::vector<std::string> log = FileLines(dir.file("modell_0.log"));
    ASSERT_GE(log.size(), 4u);
    const size_t n = log.size();
    EXPECT_EQ(log[n - 4].rfind("(mpi_rank 0) soil water content (control point r=5 c=5) at model-end: ", 0), 0u)
        << log[n - 4];
    EXPECT_EQ(log[n - 3].rfind("mean soil water content for all cells at model-end: ", 0), 0u);
    EXPECT_EQ(log[n - 2].rfind("mean soil water content for unglacierized or only partly unglacierized cells at "
                               "model-end: ", 0),
              0u);
    EXPECT_EQ(log[n - 1], "mean soil water content for partly or completely glacierized cells at model-end: "
                          "0.000000 m^3/m^2");
}
