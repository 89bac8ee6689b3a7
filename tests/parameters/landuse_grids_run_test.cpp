// The daily land-use parameter grids in a whole run of the executable: a
// grassland class gives the leaf area index its table prescribes, written by
// a variable grid's write code.

#include <gtest/gtest.h>

#include <sstream>

#include "forcing/meteoint_fixture.h"
#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

const char* const Grassland =
    "[landuse_table]\n1\n"
    "11 grassland method = VariableDayCount {\n"
    "  RootDist = 1.0; TReduWet = 0.95; LimitReduWet = 0.5; HReduDry = 3.45; IntercepCap = 0.3;\n"
    "  JulDays = 110 170 250 280;\n"
    "  Albedo = 0.2 0.2 0.2 0.2;\n"
    "  rsc = 80 60 60 80;\n"
    "  rs_interception = 50 50 50 50;\n"
    "  rs_evaporation = 250 250 250 250;\n"
    "  LAI = 2 5 5 2;\n"
    "  Z0 = 0.02 0.05 0.05 0.02;\n"
    "  VCF = 0.8 0.95 0.95 0.8;\n"
    "  RootDepth = 0.3 0.4 0.4 0.3;\n"
    "  AltDep = 0.025 0.025 -0.025 -0.025;\n"
    "}\n";

// The cells of a text grid file, row by row.
std::vector<double> Cells(const std::string& text) {
    std::istringstream in(text);
    std::string word;
    double value;
    for (int k = 0; k < 6; ++k) in >> word >> value;
    std::vector<double> cells;
    while (in >> value) cells.push_back(value);
    return cells;
}

}  // namespace

TEST(LanduseGridsRun, GrasslandLeafAreaIndexOnChosenDays) {
    TempDir dir;
    ModelFiles files;
    files.ModelTime = "24\n1\n1\n2019\n24\n31\n12\n2019\n";
    files.MeteoInputs = "[meteo_data_count]\n1\n[meteo_names]\ntemperature\n";
    // every cell at 400 m, where the fix points are not shifted
    files.Elevation = "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n"
                      "-9999 400 400 400\n400 400 400 400\n-9999 400 400 -9999\n";
    files.StandardGrids = "1\nlanduse.asc landuse 0\n";
    files.InputFiles["landuse.asc"] =
        "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n"
        "-9999 11 11 11\n11 11 11 11\n-9999 11 11 -9999\n";
    meteotest::Section section;
    section.StationLine = "temperature.txt";
    files.Extra = section.Text("temperature");
    std::string control = files.ControlText();
    const std::string empty = "[landuse_table]\n0\n";
    control.replace(control.find(empty), empty.size(), Grassland);
    // "albedo" must exist; "leaf_area_index1" is written as a dated grid every day
    const std::string variable = "[variable_grids]\n0\n";
    control.replace(control.find(variable), variable.size(),
                    "[variable_grids]\n2\nalbedo.asc albedo 0 0.2\n0\n0\nlai.asc leaf_area_index1 0 0\n5\n0\n");
    files.Write(dir);
    WriteFile(dir.file("model.ctl"), control);
    WriteFile(dir.file("input/temperature.txt"),
              meteotest::StationText({{1100, 2200, 400}},
                                     meteotest::DailyRows({2019, 1, 1, 24}, 365, 1, [](int day, int) {
                                         return 10.0 + day % 7;
                                     })));
    auto r = RunRuvex(dir.path(), {"model.ctl"});
    ASSERT_EQ(r.exitCode, 0) << r.output;

    struct Day {
        const char* file;  // the dated grid of that day
        double lai;
    } days[] = {
        {"output/lai_20190719.024", 5},    // day 200: between the fix points 170 and 250
        {"output/lai_20190420.024", 2},    // day 110: the first fix point
        {"output/lai_20190505.024", 2.75},  // day 125: a quarter of the way from 110 to 170
        {"output/lai_20191007.024", 2},    // day 280
    };
    for (const auto& d : days) {
        SCOPED_TRACE(d.file);
        ASSERT_TRUE(FileExists(dir.file(d.file)));
        for (double cell : Cells(ReadFile(dir.file(d.file)))) {
            if (cell != -9999) {
                EXPECT_NEAR(cell, d.lai, 1e-9);
            }
        }
    }
}
