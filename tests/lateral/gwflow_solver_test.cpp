// The groundwater solver on a strip of 5 x 20 cells of 100 m, layer 2
// confined (T = 10 m x 1e-4 m/s): steady states against the analytic
// profiles, the decay of a sine mode against the theta method, conservation
// of water per cell and basin, leakage, the face rules, relaxation and
// thread invariance.

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "gwflow_fixture.h"

using namespace gwtest;

namespace {

constexpr double Nodata = -9999;

void FixEnds(Fixture& f, double west, double east) {
    double** fixed = f.Grid("gw_boundary_fix_h_2");
    for (int r = 1; r <= f.rows; ++r) {
        fixed[r][1] = west;
        fixed[r][f.cols] = east;
    }
}

// Sub-steps until the largest head change of layer 2 is below 1e-10 m.
int RunToSteadyState(Fixture& f, int limit = 5000) {
    for (int n = 1; n <= limit; ++n) {
        f.Step();
        double largest = 0;
        for (int r = 1; r <= f.rows; ++r)
            for (int c = 1; c <= f.cols; ++c)
                largest = std::fmax(largest, std::fabs(f.model->Head[2][r][c] - f.model->HeadStart[2][r][c]));
        if (largest < 1e-10) return n;
    }
    return -1;
}

TEST(GroundwaterSolver, LinearProfileBetweenFixedHeads) {
    for (double sor : {1.0, 1.5, 0.0}) {
        SCOPED_TRACE(testing::Message() << "SOR parameter " << sor);
        Fixture f(5, 20, 2);
        FixEnds(f, 100, 90);
        f.Fill("gw_storage_coeff_2", 1e-5);  // a quick approach to the steady state
        Section s;
        s.sor = sor;
        ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
        ASSERT_GT(RunToSteadyState(f), 0);
        for (int r = 1; r <= 5; ++r) {
            for (int j = 1; j <= 20; ++j) {
                EXPECT_NEAR(f.model->Head[2][r][j], 100 - 10.0 * (j - 1) / 19, 1e-8) << r << "," << j;
                if (j < 20) {
                    EXPECT_NEAR(f.model->FlowX[2][r][j], 5.26316e-7, 1e-12) << r << "," << j;
                }
                EXPECT_NEAR(f.model->FlowY[2][r][j], 0, 1e-15);
            }
            EXPECT_EQ(f.model->FlowX[2][r][20], 0);  // last column
        }
    }
}

TEST(GroundwaterSolver, ParabolaUnderUniformInflow) {
    Fixture f(5, 20, 2);
    FixEnds(f, 100, 100);
    f.Fill("gw_boundary_fix_q_2", 1e-9);
    f.Fill("gw_storage_coeff_2", 1e-5);
    Section s;
    s.sor = 0;  // adaptive
    ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
    ASSERT_GT(RunToSteadyState(f, 20000), 0);
    for (int r = 1; r <= 5; ++r) {
        for (int j = 1; j <= 20; ++j) {
            EXPECT_NEAR(f.model->Head[2][r][j], 100 + 0.005 * (j - 1) * (20 - j), 1e-8) << r << "," << j;
        }
        EXPECT_NEAR(f.model->Head[2][r][2], 100.09, 1e-8);
        EXPECT_NEAR(f.model->Head[2][r][5], 100.30, 1e-8);
        EXPECT_NEAR(f.model->Head[2][r][10], 100.45, 1e-8);
        // The residual shows only the fixed inflow, which it leaves out.
        for (int j = 2; j <= 19; ++j) EXPECT_NEAR(f.model->Balance[2][r][j], 0.0036, 1e-7) << r << "," << j;
    }
}

TEST(GroundwaterSolver, SineModeDecaysAsTheThetaMethod) {
    struct Case {
        double alpha, factor, after100;
    };
    for (const Case& c : {Case{1, 0.990276, 0.376365}, Case{0.5, 0.990228, 0.374563}}) {
        SCOPED_TRACE(testing::Message() << "alpha " << c.alpha);
        Fixture f(5, 20, 2);
        FixEnds(f, 100, 100);
        Section s;
        s.alpha = c.alpha;
        ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
        const double pi = std::acos(-1.0);
        for (int r = 1; r <= 5; ++r)
            for (int j = 1; j <= 20; ++j)
                f.model->Head[2][r][j] = f.model->HeadStart[2][r][j] = 100 + std::sin(pi * (j - 1) / 19);
        // The exact per-step factor of the discrete mode.
        const double lambda = 0.36 * (2 - 2 * std::cos(pi / 19));
        const double exact = (1 - (1 - c.alpha) * lambda) / (1 + c.alpha * lambda);
        EXPECT_NEAR(exact, c.factor, 5e-7);
        for (int n = 1; n <= 100; ++n) {
            f.Step();
            const double amplitude = std::pow(exact, n);
            for (int j : {2, 10, 15}) {
                const double expected = amplitude * std::sin(pi * (j - 1) / 19);
                EXPECT_NEAR((f.model->Head[2][3][j] - 100) / expected, 1, 1e-9) << "step " << n << ", column " << j;
            }
        }
        EXPECT_NEAR(std::pow(exact, 100), c.after100, 5e-7);
    }
}

// Closed box: what the fixed inflow brings stays as S dh A, per sub-step.
TEST(GroundwaterSolver, ConservationInAClosedBox) {
    struct Case {
        const char* what;
        bool patch;
    };
    for (const Case& c : {Case{"uniform inflow", false}, Case{"inflow on a patch", true}}) {
        SCOPED_TRACE(c.what);
        Fixture f(5, 20, 2);
        double** q = f.Grid("gw_boundary_fix_q_2");
        for (int r = 1; r <= 5; ++r)
            for (int j = 1; j <= 20; ++j) q[r][j] = !c.patch || (r >= 2 && r <= 3 && j >= 4 && j <= 7) ? 1e-9 : Nodata;
        Section s;
        ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
        double largestResidual = 0;
        for (int n = 1; n <= 10; ++n) {
            f.Step();
            double stored = 0, brought = 0;
            for (int r = 1; r <= 5; ++r) {
                for (int j = 1; j <= 20; ++j) {
                    const double dh = f.model->Head[2][r][j] - f.model->HeadStart[2][r][j];
                    stored += 1e-3 * dh * 1e4;
                    if (q[r][j] > Nodata) brought += q[r][j] * 1e4 * 3600;
                    if (!c.patch) {
                        EXPECT_NEAR(dh, 3.6e-3, 1e-12) << r << "," << j;
                    }
                }
            }
            const double residual = std::fabs(stored - brought) / brought;
            largestResidual = std::fmax(largestResidual, residual);
            EXPECT_LT(residual, 1e-9) << "sub-step " << n;
        }
        char figure[32];
        std::snprintf(figure, sizeof figure, "%.3g", largestResidual);
        RecordProperty(c.patch ? "patch_relative_residual" : "uniform_relative_residual", figure);
    }
}

// Cells that change size from row to row (a raster in geographic
// coordinates): a mound in a closed box spreads without gaining or losing
// water, and the cells' balance residuals add up to nothing, because the two
// cells of a face share its conductance.
TEST(GroundwaterSolver, VaryingCellSizesKeepTheWater) {
    Fixture f(6, 8, 2);
    double** sizeX = f.Add("CellSizeX", 0);
    double** sizeY = f.Add("CellSizeY", 0);
    double** relative = f.Add("RelCellArea", 0);
    for (int r = 1; r <= 6; ++r) {
        for (int j = 1; j <= 8; ++j) {
            sizeX[r][j] = 60 + 15 * r;       // narrower to the north
            sizeY[r][j] = 140 - 10 * r;      // and taller
            relative[r][j] = sizeX[r][j] * sizeY[r][j] / 1e4;
        }
    }
    Section s;
    ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
    gwflowclass& m = *f.model;
    double** h = m.Head[2];
    for (int r = 1; r <= 6; ++r)
        for (int j = 1; j <= 8; ++j) h[r][j] = m.HeadStart[2][r][j] = 90 + (r == 3 && j == 4 ? 2.0 : 0.0);
    double start = 0;
    for (int r = 1; r <= 6; ++r)
        for (int j = 1; j <= 8; ++j) start += h[r][j] * sizeX[r][j] * sizeY[r][j];
    for (int n = 1; n <= 5; ++n) {
        f.Step();
        double stored = 0, moved = 0, residuals = 0;
        for (int r = 1; r <= 6; ++r) {
            for (int j = 1; j <= 8; ++j) {
                const double area = sizeX[r][j] * sizeY[r][j];
                stored += h[r][j] * area;
                moved += std::fabs(h[r][j] - m.HeadStart[2][r][j]) * area;
                residuals += m.Balance[2][r][j] / 1000 * area;
            }
        }
        ASSERT_GT(moved, 1.0) << "the mound spreads";
        EXPECT_NEAR(stored, start, 1e-10 * moved) << "sub-step " << n;
        EXPECT_NEAR(residuals, 0.0, 1e-9 * 1e-3 * moved) << "sub-step " << n;
    }
    // The mound spreads north and south alike across the changing rows.
    EXPECT_GT(h[2][4], 90);
    EXPECT_GT(h[4][4], 90);
}

// Per cell: storage change = net lateral inflow from the neighbours + fixed
// inflow; whole basin: storage change = fixed inflow + what enters from the
// fixed-head cells.
TEST(GroundwaterSolver, CellAndBasinBalanceWithFixedHeads) {
    Fixture f(5, 20, 2);
    FixEnds(f, 100, 95);
    double** q = f.Grid("gw_boundary_fix_q_2");
    q[3][8] = 5e-8;
    q[2][14] = 2e-8;
    Section s;
    ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
    gwflowclass& m = *f.model;
    const double dt = 3600, area = 1e4;
    for (int n = 1; n <= 5; ++n) {
        f.Step();
        double stored = 0, entered = 0;
        for (int r = 1; r <= 5; ++r) {
            for (int j = 2; j <= 19; ++j) {
                const double change = 1e-3 * (m.Head[2][r][j] - m.HeadStart[2][r][j]) * area;
                double lateral = 0;
                if (r > 1) lateral += m.TransY[2][r - 1][j] * (m.Head[2][r - 1][j] - m.Head[2][r][j]) * dt;
                if (r < 5) lateral += m.TransY[2][r][j] * (m.Head[2][r + 1][j] - m.Head[2][r][j]) * dt;
                lateral += m.TransX[2][r][j] * (m.Head[2][r][j + 1] - m.Head[2][r][j]) * dt;
                lateral += m.TransX[2][r][j - 1] * (m.Head[2][r][j - 1] - m.Head[2][r][j]) * dt;
                const double inflow = q[r][j] > Nodata ? q[r][j] * area * dt : 0.0;
                EXPECT_NEAR(change, lateral + inflow, 1e-9 * std::fmax(1.0, std::fabs(change)))
                    << "sub-step " << n << ", cell " << r << "," << j;
                stored += change;
                entered += inflow;
            }
            entered += m.TransX[2][r][1] * (m.Head[2][r][1] - m.Head[2][r][2]) * dt;
            entered += m.TransX[2][r][19] * (m.Head[2][r][20] - m.Head[2][r][19]) * dt;
        }
        EXPECT_NEAR(stored, entered, 1e-9 * std::fabs(entered)) << "sub-step " << n;
    }
}

// Two layers of one cell exchange leak_1 dt both ways; layer 1's rise goes
// back to the soil model as a negative "baseflow".
TEST(GroundwaterSolver, LeakageBetweenTwoLayers) {
    struct Case {
        double difference, leak;
    };
    for (const Case& c : {Case{0.5, 5e-8}, Case{3, 1e-7}}) {
        SCOPED_TRACE(testing::Message() << "layer 2 above layer 1 by " << c.difference);
        Fixture f(1, 1, 2);
        f.Fill("gw_kolmation_1", 1e-7);
        ASSERT_EQ(f.Make(Section{}), 0) << f.Diagnostics();
        gwflowclass& m = *f.model;
        const double h1 = Fixture::Surface - Fixture::Depth;
        m.Head[2][1][1] = m.HeadStart[2][1][1] = h1 + c.difference;
        f.Step();
        EXPECT_NEAR(m.Leak[1][1][1], c.leak, 1e-22);
        EXPECT_NEAR((m.Head[1][1][1] - h1) * 0.1, c.leak * 3600, 1e-9 * c.leak * 3600);
        EXPECT_NEAR((m.Head[2][1][1] - (h1 + c.difference)) * 1e-3, -c.leak * 3600, 1e-9 * c.leak * 3600);
        EXPECT_NEAR(f.Grid("baseflow")[1][1], -c.leak, 1e-9 * c.leak);
        EXPECT_NEAR(m.Balance[1][1][1], 0, 1e-9);
        EXPECT_NEAR(m.Balance[2][1][1], 0, 1e-9);
    }
    // A nodata leakage coefficient exchanges nothing.
    Fixture f(1, 1, 2);
    f.Fill("gw_kolmation_1", -9999);
    ASSERT_EQ(f.Make(Section{}), 0) << f.Diagnostics();
    f.model->Head[2][1][1] += 0.5;
    f.Step();
    EXPECT_EQ(f.model->Leak[1][1][1], 0);
    EXPECT_EQ(f.Grid("baseflow")[1][1], 0);
}

// A lower layer drains like the soil above it once its head is below its
// top: the solver takes layer 1's storage coefficient there, and the balance
// and the stored water take the same, so a converged cell balances to the
// solver's tolerance whether the layer is confined or not, and what it
// stored is what entered it.
TEST(GroundwaterSolver, LowerLayerBalancesWithTheSolversStorageCoefficient) {
    const double h1 = Fixture::Surface - Fixture::Depth;          // 84
    const double top2 = Fixture::Surface - Fixture::SoilDepth;    // 83
    struct Case {
        const char* name;
        double head;        // layer 2's start head in both cells
        double westFixed;   // fixed head of layer 2's west cell, or nodata
        double storage;     // the coefficient the solver must take
    };
    for (const Case& c : {Case{"confined, fed by leakage from the soil", h1 + 0.5, Nodata, 1e-3},
                          Case{"below its top, fed by leakage", top2 - 1, Nodata, 0.1},
                          Case{"below its top, fed by a fixed head", top2 - 1, top2 - 0.5, 0.1},
                          Case{"below its top, drained by a fixed head", top2 - 1, top2 - 1.5, 0.1}}) {
        SCOPED_TRACE(c.name);
        Fixture f(1, 2, 2);
        f.Fill("gw_kolmation_1", 1e-7);
        f.Grid("gw_boundary_fix_h_2")[1][1] = c.westFixed;
        ASSERT_EQ(f.Make(Section{}), 0) << f.Diagnostics();
        gwflowclass& m = *f.model;
        for (int j = 1; j <= 2; ++j) m.Head[2][1][j] = m.HeadStart[2][1][j] = c.head;
        for (int n = 1; n <= 3; ++n) {
            const double start = m.Head[2][1][2], stored = m.StoredWater[2][1][2];
            f.Step();
            EXPECT_EQ(m.SolverStorage(2, 1, 2), c.storage);
            const double change = m.Head[2][1][2] - start;
            EXPECT_GT(std::fabs(change), 1e-6);
            // The lateral and vertical volumes over the cell's area [m].
            const double lateral = m.TransX[2][1][1] * (m.Head[2][1][1] - m.Head[2][1][2]) * 3600 / 1e4;
            const double leaked = -m.Leak[1][1][2] * 3600;
            EXPECT_NEAR(change * c.storage, lateral + leaked, 1e-12) << "sub-step " << n;
            EXPECT_NEAR(m.Balance[2][1][2], 0, 1e-9) << "sub-step " << n;
            EXPECT_NEAR(m.StoredWater[2][1][2] - stored, change * c.storage, 1e-15) << "sub-step " << n;
        }
    }
}

// The face rules on the grid: zone borders under method 3, frozen ground,
// refrozen permafrost and glaciers.
TEST(GroundwaterSolver, FaceRulesOnTheGrid) {
    const double h1 = Fixture::Surface - Fixture::Depth;  // 1 m below the top
    {
        SCOPED_TRACE("method 3 stops the flow across zone borders, other methods do not");
        for (int method : {1, 3}) {
            Fixture f(2, 4, 1, 3);
            Section s;
            s.method = method;
            s.layers = 1;
            ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
            f.Step();
            const double wet = (h1 - Fixture::Surface + Fixture::SoilDepth) * 1e-4;  // 1 m x k
            EXPECT_NEAR(f.model->TransX[1][1][1], wet, 1e-15);
            EXPECT_NEAR(f.model->TransX[1][1][2], method == 3 ? 0 : wet, 1e-15);
            EXPECT_EQ(f.model->TransX[1][1][4], 0);  // last column
            EXPECT_EQ(f.model->TransY[1][2][1], 0);  // last row
        }
    }
    {
        SCOPED_TRACE("frozen soil of 0.3 m in a 2 m layer: (h - top + 1.7) k");
        Fixture f(1, 2, 1);
        f.Add("ThawDepthTMod", 0);
        f.Add("frozenSoilInGroundwater", 0.3);
        Section s;
        s.layers = 1;
        ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
        f.Step();
        EXPECT_NEAR(f.model->TransX[1][1][1], (h1 - Fixture::Surface + 1.7) * 1e-4, 1e-15);
    }
    {
        SCOPED_TRACE("permafrost thawed to 1.5 m, and refrozen");
        for (double thaw : {1.5, 0.0}) {
            Fixture f(1, 2, 1);
            f.Add("PermafrostThawDepth", thaw);
            f.Add("SnowFreeDaysGrid", 10);
            f.Add("ThawCoeffPermaFrost", 0.1);
            Section s;
            s.layers = 1;
            ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
            f.Step();
            const double expected = thaw > 0 ? (h1 - Fixture::Surface + thaw) * 1e-4 : 0.0;
            EXPECT_NEAR(f.model->TransX[1][1][1], expected, 1e-15) << "thaw depth " << thaw;
        }
    }
    {
        SCOPED_TRACE("glacier shares 0.5 and 1");
        Fixture f(1, 3, 1);
        double** glacier = f.Add("GlacierizedCells", 0);
        glacier[1][2] = 0.5;
        glacier[1][3] = 1;
        Section s;
        s.layers = 1;
        ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
        f.Grid("groundwater_distance")[1][3] = -0.5;
        f.Step();
        EXPECT_EQ(f.model->TransX[1][1][1], 0);  // the neighbour's share 0.5: its own value is 0, no dry rule
        EXPECT_EQ(f.model->TransX[1][1][2], 0);
        EXPECT_EQ(f.model->FlowX[1][1][2], 0);   // towards a glacier cell
        EXPECT_EQ(f.Grid("baseflow")[1][3], 0);
        EXPECT_EQ(f.model->Head[1][1][3], Fixture::Surface - Fixture::Depth);  // kept from the start
    }
}

TEST(GroundwaterSolver, RelaxationAndFixedHeads) {
    Fixture f(3, 6, 2);
    FixEnds(f, 100, 90);
    Section s;
    s.sor = -1;
    s.maxSweeps = 1;
    ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
    gwflowclass& m = *f.model;
    EXPECT_TRUE(m.AdaptiveRelaxation);
    f.Step();
    // The first sweep of a sub-step finds h_i = h: every factor is 1.
    EXPECT_EQ(m.SweepCount, 1);
    EXPECT_EQ(m.RelaxationSum / m.RelaxedCells, 1.0);
    EXPECT_EQ(m.RelaxedCells, 3 * 4);
    for (int r = 1; r <= 3; ++r) {
        for (double** g : {m.Head[2], m.HeadStart[2], m.HeadPrevious[2]}) {
            EXPECT_EQ(g[r][1], 100);
            EXPECT_EQ(g[r][6], 90);
        }
    }
    // A layer with neither storage nor implicit weight keeps its heads, no NaN.
    Fixture z(1, 3, 2);
    z.Fill("gw_storage_coeff_2", 0);
    Section zs;
    zs.alpha = 0;
    zs.maxSweeps = 3;
    ASSERT_EQ(z.Make(zs), 0) << z.Diagnostics();
    const double before = z.model->Head[2][1][2];
    z.Step();
    EXPECT_EQ(z.model->Head[2][1][2], before);
    EXPECT_EQ(z.model->UnsolvableCells, 3);
    EXPECT_EQ(z.model->LargestChange, 0);
}

// Every grid the sub-step writes, byte for byte, for one and four threads.
TEST(GroundwaterSolver, SameResultsOnAnyNumberOfThreads) {
    for (double sor : {1.7, 0.0}) {
        SCOPED_TRACE(testing::Message() << "SOR parameter " << sor);
        std::vector<std::vector<double>> results;
        const int defaultThreads = omp_get_max_threads();
        for (int threads : {1, 4}) {
            omp_set_num_threads(threads);
            Fixture f(9, 12, 2, 7);
            double** fixed = f.Grid("gw_boundary_fix_h_2");
            fixed[1][1] = 100;
            fixed[9][12] = 80;
            f.Grid("gw_boundary_fix_q_2")[5][5] = 1e-7;
            f.Fill("gw_kolmation_1", 1e-8);
            Section s;
            s.sor = sor;
            s.maxSweeps = 7;  // unconverged sweeps show any order dependence
            ASSERT_EQ(f.Make(s), 0) << f.Diagnostics();
            f.model->AlwaysParallel = true;
            std::vector<double> values;
            for (int n = 1; n <= 4; ++n) {
                f.Step();
                values.push_back(f.model->LargestChange);
                values.push_back(f.model->RelaxationSum);
            }
            for (int k = 1; k <= 2; ++k)
                for (double** g : {f.model->Head[k], f.model->FlowX[k], f.model->FlowY[k], f.model->Balance[k],
                                   f.model->Leak[k], f.model->HeadIterate[k], f.Grid("baseflow")})
                    for (int r = 1; r <= 9; ++r)
                        for (int c = 1; c <= 12; ++c) values.push_back(g[r][c]);
            results.push_back(values);
        }
        omp_set_num_threads(defaultThreads);
        ASSERT_EQ(results[0].size(), results[1].size());
        EXPECT_EQ(std::memcmp(results[0].data(), results[1].data(), results[0].size() * sizeof(double)), 0);
    }
}

}  // namespace
