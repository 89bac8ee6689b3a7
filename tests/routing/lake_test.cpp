// Lakes on the grid: the levels of the water-level/volume table, level and
// volume of a lake of four flat cells by hand, the exchange of content with
// the ponded water of the cells, the lake's balance, the set-up checks, and
// the routing's lake switch.

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
#include <memory>
#include <sstream>
#include <cmath>
#include <string>
#include <vector>

#include "framework/memory_handling.h"
#include "framework/tracer_info.h"
#include "framework/zonetable.h"
#include "routing/lake.h"
#include "routing/reservoir.h"
#include "routing/routing_harness.h"
#include "support/test_support.h"

namespace {

TEST(LakeTable, LevelsFromTheTopDown) {
    const std::vector<double> shallow = LakeTableLevels(512.50, 510.00);
    ASSERT_EQ(shallow.size(), 251u);
    EXPECT_EQ(shallow[0], 512.50);
    EXPECT_NEAR(shallow[249], 510.01, 1e-9);
    EXPECT_EQ(shallow[250], 510.00);
    const std::vector<double> deep = LakeTableLevels(520, 500);
    ASSERT_EQ(deep.size(), 1021u);
    EXPECT_NEAR(deep[399], 516.01, 1e-9);
    EXPECT_NEAR(deep[400], 516.00, 1e-9);
    EXPECT_NEAR(deep[899], 506.02, 1e-9);
    EXPECT_NEAR(deep[900], 506.00, 1e-9);
    EXPECT_NEAR(deep[1019], 500.05, 1e-9);
    EXPECT_EQ(deep[1020], 500.0);
    for (size_t i = 1; i < deep.size(); ++i) ASSERT_LT(deep[i], deep[i - 1]);
    EXPECT_EQ(LakeTableLevels(510.005, 510).size(), 0u) << "less than 0.01 m deep";
    EXPECT_EQ(LakeTableLevels(510.01, 510).size(), 2u);

    // Interpolation with extension beyond both ends.
    const std::vector<double> X = {3, 2, 0}, Y = {30, 20, 0};
    EXPECT_EQ(LakeInterpolate(X, Y, 2.5), 25.0);
    EXPECT_EQ(LakeInterpolate(X, Y, 1), 10.0);
    EXPECT_EQ(LakeInterpolate(X, Y, 4), 40.0);
    EXPECT_EQ(LakeInterpolate(X, Y, -1), -10.0);
    EXPECT_EQ(LakeVolumeBelow({1, 2, 5}, 10, 3), 30.0);
}

// A lake on a grid of 3 rows and 3 columns: cells with lake code 1 at 510 m
// with 2500 mm of maximum ponding, in subbasin 3 (the outlet).
struct LakeGrid {
    memory_handling memory;
    int rows = 3, cols = 3;
    double** codes = memory.matrix(1, 3, 1, 3, 3);
    double** ponding = memory.matrix(1, 3, 1, 3, 3);
    double** maxPonding = memory.matrix(1, 3, 1, 3, 3);
    double** subbasins = memory.matrix(1, 3, 1, 3, 3);
    double** elevation = memory.matrix(1, 3, 1, 3, 3);
    double** transpiration = memory.matrix(1, 3, 1, 3, 3);
    double** precipitation = memory.matrix(1, 3, 1, 3, 3);
    GridStack tracer = memory.matrix3d(1, 3, 1, 3, 0, 3);
    std::vector<RowExtent> extents = std::vector<RowExtent>(4, RowExtent{1, 3});
    std::vector<int> codeToRank = {0, 0, 2, 1, 0};  // code 3 is rank 1, code 2 rank 2
    std::vector<TracerInfo> tracers = std::vector<TracerInfo>(2);
    testsupport::TempDir dir;
    std::string previous;

    LakeGrid() {
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 3; ++c) {
                codes[r][c] = -9999;
                subbasins[r][c] = 3;
                elevation[r][c] = 515;
            }
        for (int r : {1, 2})
            for (int c : {2, 3}) {
                codes[r][c] = 1;
                elevation[r][c] = 510;
                maxPonding[r][c] = 2500;
            }
        char buffer[PATH_MAX];
        if (getcwd(buffer, sizeof buffer)) previous = buffer;
        if (chdir(dir.path().c_str()) != 0) ADD_FAILURE() << "cannot enter " << dir.path();
    }
    ~LakeGrid() {
        if (!previous.empty() && chdir(previous.c_str()) != 0) ADD_FAILURE() << "cannot go back";
        for (double** g : {codes, ponding, maxPonding, subbasins, elevation, transpiration, precipitation})
            memory.free_matrix(g, 1, 3, 1, 3);
        memory.free_matrix3d(tracer, 1, 3);
    }
    // A lake SP 1 of outlet 3 with one tracer; its table built.
    void Make(SP_class& sp) {
        ReservoirGeometry geometry;
        geometry.NRows = rows;
        geometry.NCols = cols;
        geometry.CellSize = 100;
        geometry.RowExtents = extents.data();
        sp.SetParams(nullptr, tracers.data(), 1, 3, nullptr, geometry, codeToRank.data(), 4, 1, 60, "", "");
        sp.ReadDescription(nullptr, 1, "file = lake.txt V0 = 0 C0 = 0 0 0 0 0 0 0 0 0 dTmin = 600");
        sp.Lake.LakeCodes = codes;
        sp.Lake.Ponding = ponding;
        sp.Lake.MaxPonding = maxPonding;
        sp.Lake.Subbasins = subbasins;
        sp.Lake.Elevation = elevation;
        sp.Lake.Transpiration = transpiration;
        sp.Lake.Precipitation = precipitation;
        sp.Lake.TracerStacks = {nullptr, tracer};
        sp.BuildLakeTable();
    }
};

double PondedVolume(const LakeGrid& g) {
    double v = 0;
    for (int r = 1; r <= 3; ++r)
        for (int c = 1; c <= 3; ++c)
            if (g.codes[r][c] == 1) v += g.ponding[r][c] / 1000 * 100 * 100;
    return v;
}

TEST(Lake, FourFlatCellsByHand) {
    LakeGrid g;
    SP_class sp;
    g.Make(sp);
    EXPECT_EQ(sp.TableRows, 251);
    EXPECT_EQ(sp.FirstRow, 1);
    EXPECT_EQ(sp.LastRow, 2);
    EXPECT_EQ(sp.FirstColumn, 2);
    EXPECT_EQ(sp.LastColumn, 3) << "a lake in the last column";
    EXPECT_NEAR(sp.VolumeFromLevel(512.50), 100000, 1e-6);
    EXPECT_NEAR(sp.LevelFromVolume(50000), 511.25, 1e-9);
    EXPECT_NEAR(sp.LevelFromVolume(120000), 513.0, 1e-9) << "above the top by the first segment";
    EXPECT_LT(sp.LevelFromVolume(-100), 510.0);
    const std::string table = testsupport::ReadFile(g.dir.file("W_V_Table_01.dat"));
    EXPECT_EQ(table.rfind("waterlevel-volume-table lake 1\nLevel[m a.s.l.]\tVolume[m^3]\n512.5\t100000\n512.49\t99600\n", 0),
              0u)
        << table.substr(0, 200);
    EXPECT_NE(table.find("\n510\t0\n"), std::string::npos);

    // Content to the cells and back.
    sp.State = {50000, 0.25};
    EXPECT_NEAR(sp.WriteLakeLevel(50000), 511.25, 1e-9);
    EXPECT_NEAR(g.ponding[1][2], 1250, 1e-6);
    EXPECT_EQ(g.tracer[2][3][0], 0.25);
    EXPECT_EQ(g.ponding[3][3], 0.0) << "not a lake cell";
    double buffer[2] = {0, 0};
    EXPECT_NEAR(sp.GetLakeConcentrations(buffer), 50000, 1e-6);
    EXPECT_NEAR(buffer[1], 0.25, 1e-15);
    // Below every cell: all dry, no tracer.
    sp.WriteLakeLevel(-10);
    EXPECT_EQ(g.ponding[1][2], 0.0);
    EXPECT_EQ(g.tracer[1][2][0], 0.0);
    EXPECT_EQ(sp.GetLakeConcentrations(buffer), 0.0);
    EXPECT_EQ(buffer[1], 0.0);

    // Initial content from the first wet cell.
    g.ponding[2][2] = 500;
    g.tracer[2][2][0] = 3;
    sp.InitLakeFromGrid();
    EXPECT_NEAR(sp.State[0], 20000, 1e-6);
    EXPECT_EQ(sp.State[1], 3.0);
    g.ponding[2][2] = 0;
    sp.InitLakeFromGrid();
    EXPECT_EQ(sp.State[0], 0.0);
}

// The lake's balance: inflow, release and the evaporation the soil model
// takes from the cells; the error column stays 0 when nothing else changes
// the cells.
TEST(Lake, BalanceClosesStepByStep) {
    LakeGrid g;
    SP_class sp;
    g.Make(sp);
    ASSERT_EQ(ParseRuleTable({"3", "0 0", "50000 1", "100000 5", "", "", ""}, 2, sp.Rules), "");
    sp.State = {40000, 1.0};
    sp.WriteLakeLevel(40000);
    const double cin[2] = {0, 2.0};
    std::vector<double> rates;
    double largest = 0;
    for (int step = 1; step <= 48; ++step) {
        const double inflow = step < 20 ? 10.0 : 0.5;
        // The soil model evaporates 1 mm from every wet lake cell.
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 3; ++c) {
                g.transpiration[r][c] = 0;
                if (g.codes[r][c] == 1 && g.ponding[r][c] > 0) {
                    const double e = std::min(1.0, g.ponding[r][c]);
                    g.transpiration[r][c] = e;
                    g.ponding[r][c] -= e;
                }
            }
        const double before = sp.State[0];
        sp.CalcBalance(cin, inflow, {}, rates, 60, 0, 0, 2001, 6, 1 + step / 24, step % 24);
        EXPECT_NEAR(sp.Err.m3, 0.0, 1e-9 * std::max(1.0, before)) << step;
        largest = std::max(largest, std::fabs(sp.Err.m3) / std::max(1.0, before));
        EXPECT_NEAR(sp.State[0] - sp.PreviousState[0], sp.dV.m3, 1e-9 * std::max(1.0, before));
        EXPECT_NEAR(PondedVolume(g), sp.State[0], 1e-6 * std::max(1.0, sp.State[0])) << "the cells hold the lake";
        EXPECT_GE(sp.State[0], 0.0);
        EXPECT_EQ(sp.Area, 40000.0) << "four wet cells of 100 m";
        EXPECT_NEAR(sp.Qin.mm, sp.Qin.m3 / sp.Area * 1000, 1e-12);
        EXPECT_NEAR(sp.LevelFromVolume(sp.State[0]), 510 + sp.State[0] / 40000, 1e-9);
    }
    std::printf("largest relative lake error %.3g\n", largest);
    EXPECT_GT(sp.ETR.m3, 0.0);
}

TEST(Lake, SetUpChecks) {
    struct Case {
        const char* what;
        int r, c;
        double elevation, maxPonding, subbasin, code;
        int status;
    } cases[] = {
        {"good", 1, 2, 510, 2500, 3, 1, 0},
        {"unequal crest", 1, 2, 510, 2600, 3, 1, 213},
        {"crest within 0.01 m", 1, 2, 510, 2505, 3, 1, 0},
        {"cell in another subbasin", 2, 3, 510, 2500, 2, 1, 224},
        {"lake code without a cell", 0, 0, 0, 0, 0, 0, 224},
        {"too shallow", -1, 0, 0, 0, 0, 0, 213},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        LakeGrid g;
        if (c.r > 0) {
            g.elevation[c.r][c.c] = c.elevation;
            g.maxPonding[c.r][c.c] = c.maxPonding;
            g.subbasins[c.r][c.c] = c.subbasin;
            g.codes[c.r][c.c] = c.code;
        } else if (c.r == 0) {
            for (int r = 1; r <= 3; ++r)
                for (int col = 1; col <= 3; ++col) g.codes[r][col] = g.codes[r][col] == 1 ? 2 : g.codes[r][col];
        } else {
            for (int r = 1; r <= 3; ++r)
                for (int col = 1; col <= 3; ++col) g.maxPonding[r][col] = 5;
        }
        SP_class sp;
        int status = 0;
        try {
            g.Make(sp);
        } catch (int code) {
            status = code;
        }
        EXPECT_EQ(status, c.status);
    }
}

}  // namespace

// Without a grid "lake_codes" the routing's elements are plain reservoirs.
TEST(Lake, NoLakeGridMeansPlainReservoirs) {
    routingtest::RoutingHarness h({{1, 0.1}, {2, 0.1}, {3, 0.1}, {20, 0.3}, {30, 0.4}});
    int status = -1;
    auto routing = h.Build(routingtest::ControlText("reservoir.ctl"), &status);
    ASSERT_EQ(status, 0) << h.Console();
    EXPECT_NE(h.Console().find("no LAKE-grid was found in routing_model\nLake modelling is switched off for "
                               "routing_model."),
              std::string::npos)
        << h.Console();
    EXPECT_EQ(routing->LakeSwitch, 0);
    EXPECT_EQ(routing->Descriptions[1]->Reservoirs[1]->LakeFlag, 0);
    EXPECT_EQ(routing->Descriptions[1]->Reservoirs[1]->LevelFromVolume(5000), 0.0);
    routing->DeleteModule();
}

namespace {

// The lake grids of a routing set up in the harness: lake 1 on the cells of
// rows 1-2 and columns 1-2 at 500 m with 10 m of maximum ponding, inside
// subbasin 3.
struct LakeRouting {
    routingtest::RoutingHarness h{{{1, 0.1}, {2, 0.1}, {3, 0.1}, {20, 0.3}, {30, 0.4}}};
    memory_handling memory;
    std::vector<double**> grids;
    std::unique_ptr<abflussmodellklasse> routing;
    int status = -1;
    std::vector<double> water;
    double* qg[1];

    double** Grid(int index, const char* name, double value) {
        double** g = memory.matrix(1, 3, 1, 4, 3);
        for (int r = 1; r <= 3; ++r)
            for (int c = 1; c <= 4; ++c) g[r][c] = value;
        h.table[index].Data = g;
        h.table[index].InternalName = name;
        h.table[index].EverUsed = true;
        grids.push_back(g);
        return g;
    }
    explicit LakeRouting(const std::string& lakeSection) {
        double** codes = Grid(2, "lake_codes", -9999);
        Grid(3, "ponding_storage", 0);
        double** maxPonding = Grid(4, "max_ponding_storage", 0);
        Grid(5, "zonegrid_soilmodel", 3);
        double** dem = Grid(6, "[elevation_model]", 520);
        Grid(7, "real_transpiration0", 0);
        Grid(8, "precipitation", 0);
        for (int r : {1, 2})
            for (int c : {1, 2}) {
                codes[r][c] = 1;
                dem[r][c] = 500;
                maxPonding[r][c] = 10000;
            }
        routing = h.Build(routingtest::ControlText("reservoir.ctl") + lakeSection, &status);
    }
    ~LakeRouting() {
        if (routing && status == 0) routing->DeleteModule();
        routing.reset();
        for (double** g : grids) memory.free_matrix(g, 1, 3, 1, 4);
    }
    double** Ponding() { return h.table[3].Data; }
};

const char* const LakeSection = "\n[lake_model]\n1   # lakes on\n1   # initialization\n0.08 # albedo\n0.001 # z0\n0   # readgrids\n";

}  // namespace

TEST(Lake, LakesInTheRouting) {
    LakeRouting run(LakeSection);
    ASSERT_EQ(run.status, 0) << run.h.Console();
    abflussmodellklasse& r = *run.routing;
    EXPECT_EQ(r.LakeSwitch, 1);
    SP_class& lake = *r.Descriptions[1]->Reservoirs[1];
    EXPECT_EQ(lake.LakeFlag, 1);
    EXPECT_EQ(lake.TableRows, 400 + 300 + 1);  // 10 m: 400 rows of 0.01 m, 300 of 0.02 m, the bottom
    EXPECT_NE(run.h.File("W_V_Table_01.dat").find("waterlevel-volume-table lake 1\n"), std::string::npos);
    // V0 = 200000 m3 on four cells of 100 m: 5 m deep.
    EXPECT_NEAR(run.Ponding()[1][1], 5000, 1e-6);
    EXPECT_EQ(run.Ponding()[3][3], 0.0);
    r.LinkLakeGrids();
    EXPECT_NE(run.h.Console().find("lakeCellsPerMPIRank[0] 4"), std::string::npos);

    run.water.assign(6, 0.05);
    run.qg[0] = run.water.data();
    r.SetQg(run.qg);
    r.InitRouting();
    for (int step = 1; step <= 30; ++step) r.RunTimeStep(step % 24, 4 + step / 24, 6, 2001);
    r.FlushOutputs();
    const std::string file = run.h.File("reservoir_1.txt");
    std::istringstream in(file);
    std::string line;
    int records = 0;
    for (int i = 0; std::getline(in, line); ++i) {
        if (i < 3) continue;
        std::istringstream values(line);
        std::vector<double> v;
        double x = 0;
        while (values >> x) v.push_back(x);
        ASSERT_EQ(v.size(), 34u);
        EXPECT_NEAR(v[4], 500 + v[6] / 40000, 1e-9) << "W[m]";
        EXPECT_EQ(v[5], 40000.0) << "A[m2]";
        EXPECT_NEAR(v[31], 0.0, 1e-9 * v[6]) << "Err[m3] of record " << i - 2;
        EXPECT_NEAR(v[8], v[7] / 40000 * 1000, 1e-9) << "Qin[mm]";
        ++records;
    }
    EXPECT_EQ(records, 30);
    EXPECT_NEAR(run.Ponding()[2][2] / 1000 * 40000, lake.State[0], 1e-6 * lake.State[0]);
}

TEST(Lake, LakeSwitchOffAndMissingSection) {
    {
        LakeRouting run(std::string(LakeSection) + "\n[SpinUp]\n1   # spin-up\n");
        ASSERT_EQ(run.status, 0) << run.h.Console();
        EXPECT_EQ(run.routing->LakeSwitch, 0);
        EXPECT_EQ(run.routing->Descriptions[1]->Reservoirs[1]->LakeFlag, 0);
    }
    {
        LakeRouting run("\n[lake_model]\n0   # lakes off\n");
        ASSERT_EQ(run.status, 0) << run.h.Console();
        EXPECT_EQ(run.routing->LakeSwitch, 0);
    }
    {
        LakeRouting run("");
        EXPECT_EQ(run.status, 17);
    }
}
