// The soil model's constructor on a small grid: refused sections with their
// codes and messages, the cold start and the other read modes, the derived
// grids and the output files.

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <filesystem>
#include <memory>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/statistics_table.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "setup/irrigation_table.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_initial.h"
#include "support/test_support.h"

using namespace testsupport;

namespace {

constexpr int Rows = 20, Cols = 20, Layers = 10;

// "[unsatzon_model]" after the switch and the interval, in groups a case can
// replace.
struct SoilSection {
    std::string Head = "2 method\n0 surface water\n0 pond\n0 drainage\n0 clay\n1e-8 ksat clay\n2 ini_gw_level\n";
    std::string Statistics;
    std::string Pairs;
    std::string Control = "0 0 control point\n";
    std::string Points = "qb.txt\ntheta.txt\nhhyd.txt\nother.txt\netr.txt\ninterflow.txt\n";
    std::string Codes = "1 2 codes\n";
    std::string Parameters = "1 2 kelsqd\n3 4 kelsqi\n5 6 density\n0 -1 kelsqlat\n0.5 0.6 Q0\n0 0.1 snow\n";
    std::string Tail = "0 readgrid\nstorage.txt\n";
    int StatisticsCode = 0;

    SoilSection() {
        const char* stats[] = {"qdrain", "gwstand", "gwn", "sb1", "sb2", "root", "infex", "pond",
                               "qd",     "qi",      "qb",  "qg",  "gwin", "gwex", "macro", "infilt"};
        for (const char* s : stats) Statistics += std::string(s) + ".sta 0\n";
        const char* pairs[] = {"sb05", "sb1", "wurz", "theta.stk", "hh.stk", "hgeo.stk", "qunten.stk", "gwstand.asc",
                               "gwtheta.asc", "gwn", "gwlevel.asc", "qdrain", "satt", "infex", "qd", "qi",
                               "deltagw.asc", "gwin", "gwex", "pond.asc", "uprise", "percol", "macro", "irrig"};
        for (const char* p : pairs) Pairs += std::string(p) + "\n0\n";
    }
    std::string Text() const { return Head + Statistics + Pairs + Control + Points + Codes + Parameters + Tail; }
};

std::string HeatSection(const std::string& first = "1") {
    return "[heat_transfer]\n" + first +
           "\n1 method\n0\n0\n12\n-0.007\n800\n1500\n0.58\n1e-10\n0.5562\n2.33\n4187\n1940\n2090\n334000\n1000\n"
           "1.22\n0.5\n60\n1800\n1\n1\ntemper.txt\ntemper.sta 0\ntemper.stk\n0\nthaw.asc\n0\n";
}

SoilType Loam() {
    SoilType soil(1);
    soil.CreateLayers(Layers, 0);
    for (int l = 0; l <= Layers; ++l) {
        soil.theta_sat[l] = 0.45;
        soil.theta_res[l] = 0.05;
        soil.alpha[l] = 2;
        soil.Par_n[l] = 1.5;
        soil.Par_m[l] = 1 - 1 / 1.5;
        soil.Par_tau[l] = 0.5;
        soil.ksat[l] = 1e-5;
        soil.thickness[l] = 0.1;
        soil.MakeHydraulicTables(l);
        soil.DryDensity[l] = soil.DryHeatCapacity[l] = soil.DryThermalConduct[l] = -1;
    }
    return soil;
}

// Subbasin 1 in columns 1..10, subbasin 2 in 11..20; cell (20, 20) lies
// outside. The elevation falls by 1 m per row from 600 m.
struct SoilFixture {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    std::unique_ptr<MemoryGrid[]> table = CreateGridTable();
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<SoilType> soils{SoilType(), Loam()};
    std::vector<RowExtent> extents;
    memory_handling memory;
    std::vector<double**> grids;
    std::string extraSections;
    std::unique_ptr<unsatzonmodellklasse> model;
    int status = -1;

    SoilFixture() {
        settings.NRows = Rows;
        settings.NCols = Cols;
        settings.FirstRow = 1;
        settings.LastRow = Rows;
        settings.CellSize = 100;
        settings.NoData = -9999;
        settings.SoilTable = soils.data();
        settings.SoilCount = 1;
        settings.DefaultOutputDirectory = dir.path() + "/";
        settings.InitialStateDirectory = dir.path() + "/";
        double** zone = Add("zone_grid", 1);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 11; c <= Cols; ++c) zone[r][c] = 2;
        zone[Rows][Cols] = -9999;
        table[FindGridEntry(table.get(), "zone_grid", true)].InternalName = "zonegrid_soilmodel";
        double** dem = Add("[elevation_model]", 0);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) dem[r][c] = 600 - r;
        extents = DeriveRowExtents(zone, Rows, Cols, -9999);
        settings.RowExtents = extents.data();
        for (const char* name :
             {"landuse1", "root_depth1", "vegetation_coverage_degree1", "leaf_area_index1", "SurfaceCanopyResistance1",
              "SurfaceIntercepResistance1", "RoughnessLength1", "pot_transpiration0", "pot_transpiration1",
              "real_transpiration0", "real_transpiration1", "SurfaceEvaporationResistance", "albedo",
              "potential_evaporation", "real_evaporation", "precipitation"})
            Add(name, 1);
        Add("slope_angle", 45);
        Add("soil_types", 1);
    }
    ~SoilFixture() {
        model.reset();
        for (double** grid : grids) memory.free_matrix(grid, 1, Rows, 1, Cols);
    }
    double** Add(const std::string& name, double value) {
        double** grid = memory.matrix(1, Rows, 1, Cols, Rows);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) grid[r][c] = value;
        grids.push_back(grid);
        MemoryGrid& entry = table[FindFreeGridEntry(table.get())];
        entry.Data = grid;
        entry.InternalName = name;
        entry.EverUsed = true;
        return grid;
    }
    double** Grid(const std::string& name) {
        const int index = FindGridEntry(table.get(), name, false);
        return index > 0 ? table[index].Data : nullptr;
    }
    GridStack Stack(const std::string& name) {
        const int index = FindGridEntry(table.get(), name, false);
        return index > 0 ? table[index].Stack : nullptr;
    }
    int Make(const SoilSection& section, IrrigationRule* irrigation = nullptr) {
        WriteFile(dir.file("model.ctl"), "[unsatzon_model]\n1 switch\n60 interval\n" + section.Text() + extraSections);
        settings.CompiledControlFile = dir.file("model.ctl");
        model = std::make_unique<unsatzonmodellklasse>(&status, &writer, statistics, StatisticsTableSize,
                                                       "unsatzon_model", settings, table.get(), irrigation, 1);
        return status;
    }
    std::string Diagnostics() const { return console.str(); }
    // Writes a text grid of the model size with one value in every cell.
    void WriteGridFile(const std::string& name, double value) {
        std::string text = "ncols 20\nnrows 20\nxllcorner 0\nyllcorner 0\ncellsize 100\nnodata_value -9999\n";
        for (int r = 1; r <= Rows; ++r) {
            for (int c = 1; c <= Cols; ++c) text += std::to_string(value) + " ";
            text += "\n";
        }
        WriteFile(dir.file(name), text);
    }
};

// The water contents and heads of a cold-start column with the table in layer
// k + 1, from the kernels.
std::vector<double> ColdTheta(const SoilType& soil, double surface, int k) {
    std::vector<double> bottom(Layers + 1), theta(Layers + 1);
    bottom[0] = surface;
    for (int l = 1; l <= Layers; ++l) bottom[l] = bottom[l - 1] - 0.1;
    unsatzon::HydrostaticWaterContent(soil, bottom, soil.thickness, Layers, k, theta);
    return theta;
}

}  // namespace

TEST(SoilSetup, RefusedSections) {
    const std::string help =
        "\npossible error by using the same parameters\nfor groups of subbasins:\nat least the first AND the last "
        "subbasin code have\nto be specified with all their parameters like this:\n(if the smallest code is 1 and "
        "the largest code is 8)\n1\t8\n3\t3\n8\t8\n14\t14\n0.4\t0.4\n0.01\t0.01\n0.1\t0.1\n..\t..\nThen, to all "
        "subcatchments with zone-codes ranging from 1 to 7 the \nparameters of subbasin 1 will be assigned!";
    struct Case {
        const char* what;
        std::function<void(SoilSection&, SoilFixture&)> change;
        int code;
        std::string text;
    };
    const Case cases[] = {
        {"method 4", [](SoilSection& s, SoilFixture&) { s.Head.replace(0, 1, "4"); }, 91,
         "in modul unsatzon_model:\ninvalid method (4)\npossible values are:\n 2 for Finite Differences with "
         "fixed timestep\n 3 for Finite Differences with dynamically calculated timestep\n"},
        {"row past the grid", [](SoilSection& s, SoilFixture&) { s.Control = "25 1\n"; }, 8,
         "row index (25) for output-cell must be between 1 and 20 (Input as row col) or 0 0 "},
        {"row without a column", [](SoilSection& s, SoilFixture&) { s.Control = "5 0\n"; }, 9,
         "column index (0) for output-cell must be between 1 and 20 (Input as row col) "},
        {"column past the grid", [](SoilSection& s, SoilFixture&) { s.Control = "0 30\n"; }, 9,
         "column index (30) for output-cell must be between 1 and 20"},
        {"ini_gw_level 0", [](SoilSection& s, SoilFixture&) { s.Head.replace(s.Head.find("2 ini"), 1, "0"); }, 17,
         " ini_gw_level  "},
        {"no code 3", [](SoilSection& s, SoilFixture&) { s.Codes = "1 3\n"; }, 10, ""},
        {"unreadable kelsqi", [](SoilSection& s, SoilFixture&) { s.Parameters.replace(s.Parameters.find("3 4"), 3, "x 4"); },
         10, "\n-----------------error------------\nerror reading kelsqi[1] for unsatzon_model" + help},
        {"codes twice", [](SoilSection& s, SoilFixture&) { s.Codes = "1 1 2\n"; }, 10, "error! there is no code 1"},
        {"permafrost section missing",
         [](SoilSection&, SoilFixture& f) {
             f.Add("PermafrostThawDepth", 0);
             f.Add("SnowFreeDaysGrid", 0);
             f.Add("ThawCoeffPermaFrost", 0);
         },
         17, "[permafrost]"},
        {"heat step of 0 s",
         [](SoilSection&, SoilFixture& f) {
             f.Add("temperature", 5);
             std::string heat = HeatSection();
             heat.replace(heat.find("\n60\n"), 4, "\n0\n");
             f.extraSections = heat;
         },
         17, " dTModShortestStep "},
        {"soil type without a table entry", [](SoilSection&, SoilFixture& f) { f.Grid("soil_types")[4][7] = 2; }, 22,
         "row 4, column 7"},
        {"no evapotranspiration", [](SoilSection&, SoilFixture& f) {
             f.table[FindGridEntry(f.table.get(), "real_evaporation", true)].InternalName = "other"; }, 33, "real_evaporation"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SoilFixture f;
        SoilSection section;
        c.change(section, f);
        EXPECT_EQ(f.Make(section), c.code);
        std::string text = c.text;
        if (text.empty()) {
            text = "\n-----------------error------------\nerror! there is no code 3 (from " + f.dir.file("model.ctl") +
                   ") for a subbasin in unsatzon_model" + help;
        }
        EXPECT_NE(f.Diagnostics().find(text), std::string::npos) << f.Diagnostics();
        // nothing of the sub-model stays behind
        EXPECT_EQ(f.Grid("theta"), nullptr);
        EXPECT_EQ(f.Grid("q_down"), nullptr);
    }
}

TEST(SoilSetup, HeatOnNeverReadsPermafrost) {
    SoilFixture f;
    f.Add("PermafrostThawDepth", 0);
    f.Add("SnowFreeDaysGrid", 0);
    f.Add("ThawCoeffPermaFrost", 0);
    f.Add("temperature", 5);
    f.extraSections = HeatSection();
    SoilSection section;
    section.Control = "3 3\n";
    ASSERT_EQ(f.Make(section), 0) << f.Diagnostics();
    EXPECT_EQ(ReadFile(f.dir.file("temper.txt")), LayerPointHeader("temper", 3, 3, 1, Layers));
    EXPECT_EQ(f.model->PermafrostThawDepth, nullptr);
    EXPECT_EQ(f.model->InitialTemperatureProfile, 1);
    EXPECT_TRUE(f.soils[1].FreezingTablesReady(1));
    EXPECT_EQ(f.soils[1].DryDensity[3], 1500);
    // The lower-boundary temperature is created, stored and written at once.
    double** lower = f.Grid("T_Lower_Boundary_Condition");
    ASSERT_NE(lower, nullptr);
    EXPECT_DOUBLE_EQ(lower[7][3], 12 - 0.007 * (600 - 7));
    EXPECT_EQ(lower[20][20], -9999);
    EXPECT_TRUE(FileExists(f.dir.file("T_Lower_Boundary_Condition")));
    EXPECT_NE(f.Stack("Soil_Temperature_Stack"), nullptr);
    EXPECT_NE(f.Grid("ThawDepthTMod"), nullptr);

    // With the first value 0 nothing more is read and no heat grid exists.
    SoilFixture g;
    g.Add("PermafrostThawDepth", 0);
    g.Add("SnowFreeDaysGrid", 0);
    g.Add("ThawCoeffPermaFrost", 0);
    g.extraSections = "[heat_transfer]\n0\n[permafrost]\n1\n2\n3\nthaw.asc 0\n2e-9 reduced\n";
    ASSERT_EQ(g.Make(SoilSection()), 0) << g.Diagnostics();
    EXPECT_EQ(g.model->reducedKsatPermafrost, 2e-9);
    EXPECT_NE(g.model->PermafrostThawDepth, nullptr);
    EXPECT_EQ(g.Grid("T_Lower_Boundary_Condition"), nullptr);
    EXPECT_EQ(g.Stack("Soil_Temperature_Stack"), nullptr);
}

TEST(SoilSetup, SubbasinsAndSettings) {
    SoilFixture f;
    f.extraSections = "[unsatzon_tuning]\nmax_error = 1e-6 # tight\n  max_iterations=250\n\n";
    SoilSection section;
    section.Head.replace(0, 1, "3");
    section.Tail += "30 min step\nsubsteps.sta 0\nsubsteps.asc\n0\n";
    ASSERT_EQ(f.Make(section), 0) << f.Diagnostics();
    unsatzonmodellklasse& m = *f.model;
    EXPECT_EQ(m.solverMethod, 3);
    EXPECT_EQ(m.dParameterMinStep, 30);
    EXPECT_EQ(m.max_error, 1e-6);
    EXPECT_EQ(m.max_iterations, 250);
    EXPECT_EQ(m.storageFileName, "storage.txt_0");
    EXPECT_EQ(*m.GetStorageFileName(), "storage.txt_0");
    const SubbasinTable t = m.GetSubbasinTable();
    ASSERT_EQ(t.Count, 2);
    EXPECT_EQ(t.Records[2].zonenwert, 2);
    EXPECT_EQ(t.Records[2].sx, 199);
    EXPECT_EQ(m.GetKelsqd()[1], 60);
    EXPECT_EQ(m.GetKelsqi()[2], 240);
    EXPECT_EQ(m.kelsqlat[1], std::numeric_limits<double>::infinity());
    EXPECT_EQ(m.kelsqlat[2], 0);
    EXPECT_EQ(m.qbRedFaktor[2], 0.6);
    EXPECT_EQ(m.SnowRunoff_fraction[2], 0.1);
    EXPECT_EQ(m.subbasinCodes[2], 2);
    EXPECT_NE(f.Grid("number_of_substeps"), nullptr);
    EXPECT_EQ(m.UnsatzonOptionTag, "");
    EXPECT_NE(f.Diagnostics().find("There was no flow travel time grid"), std::string::npos);
    EXPECT_NE(f.Diagnostics().find("file unsatzon, compiled at "), std::string::npos);
    EXPECT_DOUBLE_EQ(f.Grid("tangens_beta")[1][1], 45 * 3.141592653 / 180);
    EXPECT_EQ(f.Grid("Balance")[20][20], 0);
    m.SetDumpMode(1, 0);
    EXPECT_EQ(m.DumpMode, 1);
    EXPECT_EQ(m.CloseAfterDump, 0);
    m.FinishRun(0);
    EXPECT_EQ(f.Grid("theta"), nullptr);
}

TEST(SoilSetup, ColdStartAndStartReport) {
    SoilFixture f;
    // Cells of different areas: every cell holds the same column, so the
    // area-weighted mean is that column.
    double** area = f.Add("RelCellArea", 1);
    for (int r = 1; r <= 10; ++r)
        for (int c = 1; c <= Cols; ++c) area[r][c] = 0.5;
    SoilSection section;
    section.Control = "4 7\n";
    // The start report goes to the working directory.
    const std::string here = std::filesystem::current_path();
    ASSERT_EQ(chdir(f.dir.path().c_str()), 0);
    const int status = f.Make(section);
    ASSERT_EQ(chdir(here.c_str()), 0);
    ASSERT_EQ(status, 0) << f.Diagnostics();
    GridStack theta = f.Stack("theta");
    GridStack heads = f.Stack("hydraulic_heads");
    ASSERT_NE(theta, nullptr);
    const SoilType& soil = f.soils[1];
    const std::vector<double> expected = ColdTheta(soil, 600 - 4, 5);
    for (int l = 1; l <= Layers; ++l) EXPECT_EQ(theta[4][7][l], expected[l]) << l;
    for (int l = 1; l <= 5; ++l) EXPECT_NEAR(heads[4][7][l], 596 - 0.55, 2e-3) << l;
    EXPECT_EQ(f.Grid("groundwater_level")[4][7], 6);
    EXPECT_NEAR(f.Grid("groundwater_distance")[4][7], -0.5, 1e-12);
    EXPECT_EQ(f.Grid("Theta_in_GWLEVEL")[4][7], theta[4][7][5]);
    EXPECT_EQ(f.Grid("groundwater_level")[20][20], -9999);
    EXPECT_EQ(theta[20][20][3], -9999);
    EXPECT_EQ(f.Stack("q_down")[4][7][3], 0);
    EXPECT_NEAR(f.Stack("geodetic_heads")[4][7][10], 596 - 1.0, 1e-9);

    // Point files with their headers, and the start report.
    EXPECT_EQ(ReadFile(f.dir.file("theta.txt")), LayerPointHeader("theta", 4, 7, 1, Layers));
    EXPECT_EQ(ReadFile(f.dir.file("hhyd.txt")), LayerPointHeader("hhyd", 4, 7, 1, Layers));
    EXPECT_EQ(ReadFile(f.dir.file("qb.txt")), LayerPointHeader("q_bottom", 4, 7, 1, Layers));
    EXPECT_EQ(ReadFile(f.dir.file("interflow.txt")), LayerPointHeader("interflow_per_layer", 4, 7, 1, Layers));
    EXPECT_EQ(ReadFile(f.dir.file("etr.txt")),
              LayerPointHeader("etr", 4, 7, 0, Layers, "(etr[0] is evaporation from first layer)"));
    EXPECT_EQ(ReadFile(f.dir.file("other.txt")), OtherDataPointHeader(4, 7, 1));
    EXPECT_EQ(f.model->PointBuffers[unsatzonmodellklasse::ThetaFile].Capacity, 2097152 / (8 * 11 + 32));
    double column = 0;
    for (int l = 1; l <= Layers; ++l) column += expected[l] * 0.1;
    char line[200];
    std::snprintf(line, sizeof line, "soil water content (for control point r=4 c=7) at model-start: %lf mm\n",
                  column * 1000);
    const std::string log = ReadFile(f.dir.file("modell_0.log"));
    EXPECT_NE(log.find(line), std::string::npos) << log;
    // Every cell starts with the same column.
    std::snprintf(line, sizeof line, "mean soil water content for all cells at model-start: %lf m^3/m^2\n", column);
    EXPECT_NE(log.find(line), std::string::npos) << log;
    EXPECT_NE(log.find("partly or completely glacierized cells at model-start: 0.000000 m^3/m^2\n"),
              std::string::npos);
}

TEST(SoilSetup, ControlPointOutsideTheModel) {
    SoilFixture f;
    SoilSection section;
    section.Control = "20 20\n";
    ASSERT_EQ(f.Make(section), 0) << f.Diagnostics();
    EXPECT_FALSE(f.model->PointOutput);
    EXPECT_FALSE(FileExists(f.dir.file("theta.txt")));
    EXPECT_NE(f.Diagnostics().find("the control point (row 20, column 20) is not a cell"), std::string::npos);
}

TEST(SoilSetup, GroundwaterLevelInTheProfile) {
    for (const char* ini : {"1", "0.5"}) {
        SCOPED_TRACE(ini);
        SoilFixture f;
        SoilSection section;
        section.Head.replace(section.Head.find("2 ini"), 1, ini);
        ASSERT_EQ(f.Make(section), 0) << f.Diagnostics();
        double** level = f.Grid("groundwater_level");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) {
                if (r == Rows && c == Cols) continue;
                EXPECT_EQ(level[r][c], Layers);
            }
        EXPECT_NEAR(f.Grid("groundwater_distance")[3][3], -1.0, 1e-12);
    }
}

TEST(SoilSetup, ReadModes) {
    {
        // Mode 2: the table 0.05 m below the surface saturates the column.
        SoilFixture f;
        f.WriteGridFile("gwstand.asc", -0.05);
        SoilSection section;
        section.Tail = "2 readgrid\nstorage.txt\n";
        ASSERT_EQ(f.Make(section), 0) << f.Diagnostics();
        EXPECT_EQ(f.Grid("groundwater_level")[5][5], 1);
        EXPECT_EQ(f.Stack("theta")[5][5][1], 0.45);
        EXPECT_EQ(f.Grid("groundwater_distance")[5][5], -0.05);
    }
    {
        // Mode 1: a theta stack one level short ends the run before any other
        // state grid is read.
        SoilFixture f;
        modelobject io(nullptr, "");
        io.NRows = Rows;
        io.NCols = Cols;
        io.CellSize = 100;
        GridStack stack = io.matrix3d(1, Rows, 1, Cols, Layers - 1, Rows);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c)
                for (int l = 0; l < Layers; ++l) stack[r][c][l] = 0.3;
        io.WriteStack(f.dir.file("theta.stk"), stack, Layers - 1, true, false);
        io.free_matrix3d(stack, 1, Rows);
        SoilSection section;
        section.Tail = "1 readgrid\nstorage.txt\n";
        EXPECT_EQ(f.Make(section), 13);
        EXPECT_NE(f.Diagnostics().find("wrong number of levels in stack theta.stk (there are 9 level, it must "
                                       "be 10"),
                  std::string::npos)
            << f.Diagnostics();
        EXPECT_EQ(f.Diagnostics().find("hgeo.stk"), std::string::npos);
        EXPECT_EQ(f.Grid("theta"), nullptr);
    }
}

// The state files of a warm start: stacks of L levels, the groundwater
// grids with the table in layer `level`.
void WriteWarmStart(SoilFixture& f, double level) {
    modelobject io(nullptr, "");
    io.NRows = Rows;
    io.NCols = Cols;
    io.CellSize = 100;
    GridStack stack = io.matrix3d(1, Rows, 1, Cols, Layers, Rows);
    for (const char* name : {"theta.stk", "hh.stk", "hgeo.stk"}) {
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c)
                for (int l = 0; l <= Layers; ++l) stack[r][c][l] = 0.3 + 0.001 * l;
        io.WriteStack(f.dir.file(name), stack, Layers, true, false);
    }
    io.free_matrix3d(stack, 1, Rows);
    f.WriteGridFile("gwstand.asc", -0.65);
    f.WriteGridFile("gwlevel.asc", level);
    f.WriteGridFile("gwtheta.asc", 0.3);
    f.WriteGridFile("deltagw.asc", 0);
}

TEST(SoilSetup, WarmStart) {
    {
        SoilFixture f;
        WriteWarmStart(f, 7);
        SoilSection section;
        section.Tail = "3 readgrid\nstorage.txt\n";
        ASSERT_EQ(f.Make(section), 0) << f.Diagnostics();
        EXPECT_EQ(f.Stack("theta")[6][6][4], 0.304);
        EXPECT_EQ(f.Grid("groundwater_level")[6][6], 7);
        // The layer boundaries always come from the elevation and the soil.
        EXPECT_NEAR(f.Stack("geodetic_heads")[6][6][2], 600 - 6 - 0.2, 1e-9);
        EXPECT_EQ(f.model->GetReadGridMode(), 3);
        EXPECT_EQ(f.Grid("ponding_storage"), nullptr);
    }
    {
        // A groundwater level outside the profile would index past the column.
        SoilFixture f;
        WriteWarmStart(f, 11);
        SoilSection section;
        section.Tail = "1 readgrid\nstorage.txt\n";
        EXPECT_EQ(f.Make(section), 22);
        EXPECT_NE(f.Diagnostics().find("the groundwater level 11 of the grid gwlevel.asc in row 1, column 1 is not a "
                                       "soil layer (1 to 10)"),
                  std::string::npos)
            << f.Diagnostics();
    }
}

TEST(SoilSetup, DrainageAndIrrigationGrids) {
    SoilFixture f;
    double** depth = f.Add("drainage_depth", 0.005);
    f.Add("drainage_distance", 10);
    depth[2][2] = 0.31;
    double** root = f.Grid("root_depth1");
    root[3][3] = 9999;
    root[3][4] = 0;
    f.Add("irrigation_codes", 1);
    f.Grid("irrigation_codes")[3][5] = -9999;
    std::vector<IrrigationRule> rules(2);
    rules[0].Code = 1;
    rules[1].Code = 7;
    rules[1].Method = IrrigationRule::DemandSuction;
    rules[1].psi_dry = 3;
    rules[1].psi_wet = 0.5;
    SoilSection section;
    section.Head.replace(section.Head.find("0 drainage"), 1, "1");
    ASSERT_EQ(f.Make(section, rules.data()), 0) << f.Diagnostics();
    double** level = f.Grid("drainage_level");
    EXPECT_EQ(level[1][1], 0);
    EXPECT_EQ(level[2][2], 3);
    const SoilType& soil = f.soils[1];
    const std::vector<double> theta = ColdTheta(soil, 600 - 3, 5);
    double profile = 0;
    for (int l = 1; l <= Layers; ++l) profile += theta[l] * 0.1;
    double** sb1 = f.Grid("SB_1_grid");
    EXPECT_NEAR(sb1[3][3], (profile - theta[10] * 1e-8) / (1 - 1e-8), 1e-12);
    EXPECT_EQ(sb1[3][4], theta[1]);
    EXPECT_DOUBLE_EQ(f.Grid("MeanThetaInRootZone")[3][4], soil.SuctionFromTheta(1, theta[1]));
    EXPECT_EQ(f.Grid("SBLOW_grid")[3][3], soil.ThetaFromSuction(2, 3));
    EXPECT_EQ(f.Grid("SBHIGH_grid")[3][3], soil.ThetaFromSuction(2, 0.5));
    EXPECT_EQ(f.Grid("SBLOW_grid")[3][5], -9999);
    EXPECT_EQ(f.Grid("ETR2ETP")[3][3], 1);
    EXPECT_NE(f.Grid("Max_Pumping"), nullptr);
    EXPECT_EQ(f.model->UnsatzonOptionTag, "+ir,+dr,");
}

TEST(SoilSetup, GlacierTable) {
    {
        SoilFixture f;
        double** ice = f.Add("ice_firn", 0);
        ice[1][1] = 0.5;
        ice[2][12] = 1;
        ASSERT_EQ(f.Make(SoilSection()), 0) << f.Diagnostics();
        const auto& table = f.model->GlacierSubbasins;
        ASSERT_EQ(table.size(), 3u);
        EXPECT_EQ(table[1].hasGlacier, 1);
        EXPECT_EQ(table[1].glacierSum, 0.5);
        EXPECT_EQ(table[1].unglacierisedSum, 199.5);
        EXPECT_EQ(table[2].glacierSum, 1);
        EXPECT_EQ(table[2].unglacierisedSum, 198);
        EXPECT_EQ(f.model->Statistics[unsatzonmodellklasse::wIMMO], nullptr);
    }
    {
        // Dynamic glaciers need the fractions of the previous step too.
        SoilFixture f;
        f.Add("GlacierMassBalance", 0);
        f.Add("GlacierizedCells", 0);
        EXPECT_EQ(f.Make(SoilSection()), 33);
        EXPECT_NE(f.Diagnostics().find("GlacierizedCellsOld"), std::string::npos) << f.Diagnostics();
    }
    {
        SoilFixture f;
        f.Add("GlacierMassBalance", 0);
        f.Add("GlacierizedCells", 0);
        f.Add("GlacierizedCellsOld", 0);
        SoilSection section;
        section.Statistics.replace(section.Statistics.find("sb2.sta 0"), 9, "sb2.sta 2001");
        ASSERT_EQ(f.Make(section), 0) << f.Diagnostics();
        EXPECT_NE(f.model->Statistics[unsatzonmodellklasse::wIMMO], nullptr);
        EXPECT_TRUE(FileExists(f.dir.file("sb2_immo.sta")));
    }
}

TEST(SoilSetup, SwitchedOff) {
    SoilFixture f;
    WriteFile(f.dir.file("model.ctl"), "[unsatzon_model]\n0\n60\nnot read\n");
    f.settings.CompiledControlFile = f.dir.file("model.ctl");
    int status = -1;
    unsatzonmodellklasse model(&status, &f.writer, f.statistics, StatisticsTableSize, "unsatzon_model", f.settings,
                               f.table.get(), nullptr, 1);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(model.GetKelsqd(), nullptr);
    EXPECT_EQ(model.GetStorageFileName(), nullptr);
    EXPECT_EQ(f.Grid("theta"), nullptr);
}
