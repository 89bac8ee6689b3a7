// Lakes on the grid: the levels of the water-level/volume table, level and
// volume of a lake of four flat cells by hand, the exchange of content with
// the ponded water of the cells, the lake's balance, the set-up checks, and
// the routing's lake switch.

#include <gtest/gtest.h>

#include <unistd.h>

#include <climits>
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
