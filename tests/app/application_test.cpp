// End-to-end runs of the real executable: construction, wiring, the time
// loop and teardown of a whole model run.

#include <gtest/gtest.h>

#include <sstream>

#include "support/model_fixture.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

bool HasEntry(const std::string& xml, int level, const std::string& text) {
    for (const auto& line : DiagLines(xml)) {
        if (line.level == level && line.description.find(text) != std::string::npos) return true;
    }
    return false;
}

std::vector<double> LastRowValues(const std::string& table) {
    std::istringstream in(table);
    std::string line, last;
    while (std::getline(in, line)) {
        if (!line.empty()) last = line;
    }
    std::istringstream row(last);
    std::vector<double> values;
    double v;
    while (row >> v) values.push_back(v);
    return values;
}

}  // namespace

TEST(Application, RunsFromConstructionToTeardown) {
    TempDir dir;
    const auto control = ModelFiles().Write(dir);
    auto r = RunRuvex(dir.path(), {control});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
    EXPECT_EQ(XmlProblem(xml), "");
    EXPECT_TRUE(HasEntry(xml, 4, "end of initialization reached..."));
    EXPECT_TRUE(HasEntry(xml, 4, "reached end of simulation sucessfully"));
    EXPECT_TRUE(HasEntry(xml, 4, "make_Slope_and_Aspect..."));
    EXPECT_TRUE(HasEntry(xml, 4, "deleting module defaults"));
    EXPECT_FALSE(HasEntry(xml, 0, ""));

    // The statistics of the elevation grid are its zone means: zone 1 holds
    // 500, 520, 480, 505, 470 and zone 2 610, 600, 640, 580.
    const auto values = LastRowValues(ReadFile(dir.file("output/elevation.sta")));
    ASSERT_EQ(values.size(), 7u);
    EXPECT_NEAR(values[4], 495, 1e-6);
    EXPECT_NEAR(values[5], 607.5, 1e-6);
    EXPECT_NEAR(values[6], 4905.0 / 9, 1e-4);
    // derived grids are written once, named after their source
    for (const char* name : {"output/zones.$rca", "output/zones.$cx", "output/dem.$sl", "output/dem.$ex"}) {
        EXPECT_TRUE(FileExists(dir.file(name))) << name;
    }
}

TEST(Application, WiringFailures) {
    struct Case {
        const char* what;
        std::map<std::string, int> methods;
        int code;
        std::string message;
    } cases[] = {
        {"missing sub-model section", {{"snow_model", -1}}, 17, "error in control file, [snow_model]; (EOF)not found!"},
        {"missing regional superposition section", {{"RegionalSuperposition", -1}}, 17, "[RegionalSuperposition]"},
        {"routing without runoff", {{"routing_model", 1}}, 43, "No valid discharges for discharge routing!"},
        // irrigation looks up its grids when it is built, before the routing's
        // tables are wired (irrigation without routing: the irrigation tests)
        {"irrigation without the soil model's grids", {{"irrigation", 1}}, 33,
         "precipitation not found in memory"},
        {"missing special output section is fine", {{"special_output", -1}}, 0, ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ModelFiles files;
        files.Methods = c.methods;
        files.SectionBodies["irrigation"] = "gw.sta 0\nsw.sta 0\n";
        auto r = RunRuvex(dir.path(), {files.Write(dir)});
        EXPECT_EQ(r.exitCode, c.code) << r.output;
        if (c.code == 0) continue;
        const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
        EXPECT_EQ(XmlProblem(xml), "");
        EXPECT_TRUE(HasEntry(xml, 0, c.message)) << xml;
        EXPECT_TRUE(HasEntry(xml, 0, "exceptions in ModellApplication::init() caught!"));
        EXPECT_TRUE(HasEntry(xml, 0, "Program aborted with exit code " + std::to_string(c.code)));
    }
}

TEST(Application, CheckerboardZoneGrid) {
    // Every cell of a row starts a new run of owners and nodata.
    std::string zone = "ncols 9\nnrows 4\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n";
    std::string dem = zone;
    for (int r = 1; r <= 4; ++r) {
        for (int c = 1; c <= 9; ++c) {
            const bool valid = (r + c) % 2 == 0;
            zone += valid ? std::to_string(1 + c % 3) + " " : "-9999 ";
            dem += valid ? std::to_string(400 + 10 * r + c) + " " : "-9999 ";
        }
        zone += "\n";
        dem += "\n";
    }
    TempDir dir;
    ModelFiles files;
    files.ZoneGrid = zone;
    files.Elevation = dem;
    auto r = RunRuvex(dir.path(), {files.Write(dir)});
    EXPECT_EQ(r.exitCode, 0) << r.output;
}

TEST(Application, SpinUpRepetition) {
    struct Case {
        const char* what;
        std::string section;
        int code;
        int rows;  // statistics rows written: one per step
    } cases[] = {
        {"three repetitions", "[SpinUp]\n1\n0\n3\n1\nelevation 100 linear\n", 0, 3},
        {"no repetition", "[SpinUp]\n1\n0\n0\n1\nelevation 100 linear\n", 0, 0},
        {"switch above 1 runs once", "[SpinUp]\n2\n0\n3\n1\nelevation 100 linear\n", 0, 1},
        {"pre-spin-up needs a temperature input", "[SpinUp]\n1\n1\n1\n1\nelevation 100 linear\n", 1035, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        ModelFiles files;
        files.Extra = c.section;
        auto r = RunRuvex(dir.path(), {files.Write(dir)});
        ASSERT_EQ(r.exitCode, c.code & 0xff) << r.output;  // the process keeps the low 8 bits
        const std::string xml = ReadFile(dir.file("Ruvex_Diag.xml"));
        if (c.code != 0) {
            EXPECT_TRUE(HasEntry(xml, 0, "temperature interpolation not found. This is required for pre-SpinUp!"));
            EXPECT_TRUE(HasEntry(xml, 0, "Program aborted with exit code " + std::to_string(c.code)));
            continue;
        }
        std::istringstream table(ReadFile(dir.file("output/elevation.sta")));
        std::string line;
        int rows = 0;
        for (int k = 0; std::getline(table, line); ++k) rows += k >= 3 && !line.empty();
        EXPECT_EQ(rows, c.rows);
        EXPECT_TRUE(FileExists(dir.file("output/All_HydrologicResponseUnits")));
        if (c.rows == 3) {
            EXPECT_TRUE(HasEntry(xml, 3,
                                 "SpinUp reached end of defined time range for run #1, resetting inputs and starting "
                                 "again now (repetition 2 of 3)"));
            EXPECT_TRUE(HasEntry(xml, 3, "for run #2, resetting inputs and starting again now (repetition 3 of 3)"));
        }
    }
}

TEST(Application, LanduseGridWithAnEmptyMultilayerSection) {
    // A multilayer section with no entries leaves the land-use grid as the one
    // layer; the daily land-use grids exist for layer 1.
    TempDir dir;
    ModelFiles files;
    files.StandardGrids = "1\nlanduse.asc landuse 0 writecode = 3\n";
    files.InputFiles["landuse.asc"] =
        "ncols 4\nnrows 3\nxllcorner 1000\nyllcorner 2000\ncellsize 100\nnodata_value -9999\n"
        "-9999 11 11 21\n11 11 21 21\n-9999 11 21 -9999\n";
    files.Extra = "";
    std::string control = files.ControlText();
    const std::string empty = "[landuse_table]\n0\n";
    const std::string table =
        "[landuse_table]\n2\n"
        "11 meadow method = VariableDayCount {\n"
        "  RootDist = 1.0; TReduWet = 0.95; LimitReduWet = 0.5; HReduDry = 3.45; IntercepCap = 0.3;\n"
        "  JulDays = 15 105 135 166 258 319;\n"
        "  Albedo = 0.23 0.22 0.20 0.20 0.21 0.23;\n"
        "  rsc = 80 60 50 50 60 80;\n"
        "  rs_interception = 50 50 50 50 50 50;\n"
        "  rs_evaporation = 250 250 250 250 250 250;\n"
        "  LAI = 1.5 2.5 4.0 4.5 3.0 1.5;\n"
        "  Z0 = 0.01 0.02 0.04 0.05 0.03 0.01;\n"
        "  VCF = 0.6 0.8 0.95 0.95 0.85 0.6;\n"
        "  RootDepth = 0.2 0.3 0.4 0.4 0.3 0.2;\n"
        "  AltDep = 0.025 0.025 0.025 -0.025 -0.025 -0.025;\n"
        "}\n"
        "21 forest method = VariableDayCount {\n"
        "  RootDist = 1.0; TReduWet = 0.95; LimitReduWet = 0.5; HReduDry = 3.45; IntercepCap = 0.4;\n"
        "  JulDays = 15 105 135 166 258 319;\n"
        "  Albedo = 0.12 0.12 0.12 0.12 0.12 0.12;\n"
        "  rsc = 100 85 75 75 85 100;\n"
        "  rs_interception = 30 30 30 30 30 30;\n"
        "  rs_evaporation = 300 300 300 300 300 300;\n"
        "  LAI = 8 9 10 10 10 8;\n"
        "  Z0 = 1.5 1.5 1.5 1.5 1.5 1.5;\n"
        "  VCF = 0.9 0.9 0.95 0.95 0.95 0.9;\n"
        "  RootDepth = 0.9 0.9 1.0 1.0 1.0 0.9;\n"
        "  AltDep = 0.025 0.025 0.025 -0.025 -0.025 -0.025;\n"
        "}\n";
    control.replace(control.find(empty), empty.size(), table);
    // the daily land-use grids overwrite an albedo grid, created here
    const std::string variable = "[variable_grids]\n0\n";
    control.replace(control.find(variable), variable.size(), "[variable_grids]\n1\nalbedo.asc albedo 0 0.2\n0\n0\n");
    files.Write(dir);
    WriteFile(dir.file("model.ctl"), control);
    auto r = RunRuvex(dir.path(), {"model.ctl"});
    ASSERT_EQ(r.exitCode, 0) << r.output;
    EXPECT_NE(r.output.find("generateMultiLayerParameterGrids..."), std::string::npos);
    // the land-use grid holds table positions after the code check
    EXPECT_NE(r.output.find("11 replaced by 1"), std::string::npos);
    EXPECT_NE(r.output.find("21 replaced by 2"), std::string::npos);
}
