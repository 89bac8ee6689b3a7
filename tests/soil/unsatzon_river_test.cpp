// Exchange with rivers and the groundwater table seen from outside: the
// river kernel against hand values, the pumping capacity and the external
// table level, and on a small grid the water the columns take from a river
// against what the river loses, on one thread and on four.

#include <gtest/gtest.h>

#include <omp.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <sstream>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/memory_handling.h"
#include "framework/statistics_table.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_column.h"
#include "soil/unsatzon_gwtable.h"
#include "soil/unsatzon_river.h"
#include "support/test_support.h"
#include "support/water_balance.h"
#include "soil/soil_model_fixture.h"

using namespace testsupport;
using namespace soiltest;

namespace {

// One column's arrays, uniform layers of `dz` from the surface at 0.
struct Column {
    int n;
    std::vector<double> start, iter, fresh, trial, flux, interflow, in, ex, dz, e, head, suction, sat, res;
    unsatzon::SoilColumn c;
    Column(int layers, double thickness, double theta)
        : n(layers), start(layers + 1, theta), iter(layers + 1, theta), fresh(layers + 1, theta),
          trial(layers + 1, theta), flux(layers + 1, 0.0), interflow(layers + 1, 0.0), in(layers + 1, 0.0),
          ex(layers + 1, 0.0), dz(layers + 1, thickness), e(layers + 1, 0.0), head(layers + 1, 0.0),
          suction(layers + 1, 0.0), sat(layers + 1, 0.45), res(layers + 1, 0.05) {
        for (int k = 1; k <= n; ++k) e[k] = -k * thickness;
        for (int k = 1; k <= n; ++k) head[k] = (e[k - 1] + e[k]) / 2;
        c.LayerCount = n;
        c.thetaStart = start;
        c.thetaIter = iter;
        c.thetaNew = fresh;
        c.thetaTrial = trial;
        c.interfaceFlux = flux;
        c.layerInterflow = interflow;
        c.riverInfiltration = in;
        c.riverExfiltration = ex;
        c.layerThickness = dz;
        c.boundaryElevation = e;
        c.hydraulicHead = head;
        c.suctionStart = suction;
        c.thetaSat = sat;
        c.thetaRes = res;
    }
    double Sum(const std::vector<double>& v) const {
        double s = 0;
        for (int k = 1; k <= n; ++k) s += v[static_cast<size_t>(k)];
        return s;
    }
};

}  // namespace

// Kolmation 1e-6 1/s, river 10 m wide, cells of 100 m.
TEST(SoilRiver, ExchangeAgainstHandValues) {
    const SoilType soil = Loam(6, 0.5);
    const double day = 86400 * 1000;  // m/s -> mm/day
    {
        SCOPED_TRACE("table 0.5 m above the bed exfiltrates");
        Column col(6, 0.2, 0.45);
        col.c.GroundwaterLayer = 3;
        unsatzon::RiverCell river{1.0, 10, 1e-6, 100, true, 2, 0.5, 1};
        EXPECT_FALSE(unsatzon::RiverExchange(soil, col.c, river, -0.5, 3600));
        EXPECT_NEAR(col.c.riverExfiltrationTotal, 5e-8, 1e-20);
        EXPECT_NEAR(col.c.riverExfiltrationTotal * day, 4.32, 1e-12);
        EXPECT_EQ(col.c.riverInfiltrationTotal, 0);
        EXPECT_NEAR(col.ex[3], 5e-8, 1e-20);  // all from the groundwater layer
        EXPECT_EQ(col.Sum(col.ex), col.c.riverExfiltrationTotal);
    }
    {
        SCOPED_TRACE("exfiltration beyond the drainable water is cut");
        Column col(6, 0.2, 0);
        const double fc = soil.ThetaFromSuction(3, 3.45);
        for (int k = 1; k <= 6; ++k) col.start[static_cast<size_t>(k)] = col.iter[static_cast<size_t>(k)] = fc + 1e-6;
        col.c.GroundwaterLayer = 3;
        unsatzon::RiverCell river{1.0, 10, 1e-6, 100, true, 2, 0.5, 1};
        unsatzon::RiverExchange(soil, col.c, river, -0.5, 3600);
        // layers 3 (0.1 m below the table), 4 and 5 (down to the bed) hold 1e-6 above field capacity
        const double drainable = 1e-6 * (0.1 + 0.2 + 0.2) / 3600;
        EXPECT_LT(col.c.riverExfiltrationTotal, 5e-8);
        EXPECT_NEAR(col.c.riverExfiltrationTotal, drainable, 1e-9 * drainable);
        EXPECT_NEAR(col.Sum(col.ex), col.c.riverExfiltrationTotal, 1e-12 * drainable);
    }
    struct Infiltration {
        const char* what;
        double flowm3s, speed, available, expected;  // [m3/s]
    };
    const Infiltration cases[] = {
        {"flow 2 m3/s at 0.5 m/s: 0.4 m of water over the bed", 2, 0.5, 1, 1.4e-3},
        {"still water has no depth: the head is B - h_ref", 2, 0, 1, 1e-3},
        {"nothing left in the river", 2, 0.5, 0, 0},
        {"the share left for the cell limits it", 2, 0.5, 4e-4, 4e-4},
    };
    for (const Infiltration& k : cases) {
        SCOPED_TRACE(k.what);
        Column col(6, 0.5, 0.3);  // 3 m deep; the bed at 2 m lies on layer 4
        col.c.GroundwaterLayer = 6;
        col.head[4] = -3;  // the head below the bed: the table at 3 m
        unsatzon::RiverCell river{2.0, 10, 1e-6, 100, true, k.flowm3s, k.speed, k.available};
        const bool entered = unsatzon::RiverExchange(soil, col.c, river, -3, 3600);
        EXPECT_NEAR(col.c.riverInfiltrationTotal * 1e4, k.expected, 1e-15);
        EXPECT_NEAR(col.Sum(col.in), col.c.riverInfiltrationTotal, 1e-22);
        EXPECT_EQ(entered, k.expected > 0);
        EXPECT_EQ(col.c.riverExfiltrationTotal, 0);
        if (k.expected == 1.4e-3) {
            EXPECT_NEAR(col.c.riverInfiltrationTotal * day, 12.096, 1e-9);
            EXPECT_EQ(col.in[4], col.c.riverInfiltrationTotal);  // the bed layer takes it all
        }
        if (k.expected == 0) {
            for (int l = 1; l <= 6; ++l) EXPECT_EQ(col.in[static_cast<size_t>(l)], 0);
        }
    }
    {
        SCOPED_TRACE("infiltration switched off, or no river bed");
        Column col(6, 0.5, 0.3);
        col.c.GroundwaterLayer = 6;
        col.head[4] = -3;
        unsatzon::RiverCell river{2.0, 10, 1e-6, 100, false, 2, 0.5, 1};
        EXPECT_FALSE(unsatzon::RiverExchange(soil, col.c, river, -3, 3600));
        EXPECT_EQ(col.c.riverInfiltrationTotal, 0);
        river = {0, 10, 1e-6, 100, true, 2, 0.5, 1};
        EXPECT_FALSE(unsatzon::RiverExchange(soil, col.c, river, -3, 3600));
        EXPECT_EQ(col.Sum(col.in) + col.Sum(col.ex), 0);
    }
    {
        SCOPED_TRACE("a full column takes only what it has room for");
        Column col(6, 0.5, 0.45 - 1e-4);
        col.c.GroundwaterLayer = 6;
        col.head[4] = -3;
        unsatzon::RiverCell river{2.0, 10, 1e-6, 100, true, 2, 0.5, 1};
        unsatzon::RiverExchange(soil, col.c, river, -3, 1e6);
        // layers 4..6, then 3 up to M + 1 = 2 (the water surface at 1.6 m lies in layer 4: M = 5): 4..6 only
        const double room = 3 * 1e-4 * 0.5 / 1e6;
        EXPECT_NEAR(col.c.riverInfiltrationTotal, room, 1e-9 * room);
        EXPECT_NEAR(col.Sum(col.in), col.c.riverInfiltrationTotal, 1e-12 * room);
    }
}

TEST(SoilGroundwaterTable, PumpingCapacityByHand) {
    const std::vector<double> dz{0, 0.2, 0.3, 0.5, 0.5}, sat{0, 0.45, 0.44, 0.42, 0.4}, fc{0, 0.3, 0.25, 0.2, 0.1};
    // g = 2: layers 2 and 3, the bottom layer never counts
    EXPECT_DOUBLE_EQ(unsatzon::PumpingCapacity(2, 4, dz, sat, fc), 1000 * (0.3 * 0.19 + 0.5 * 0.22));
    EXPECT_DOUBLE_EQ(unsatzon::PumpingCapacity(1, 4, dz, sat, fc), 1000 * (0.2 * 0.15 + 0.3 * 0.19 + 0.5 * 0.22));
    EXPECT_EQ(unsatzon::PumpingCapacity(4, 4, dz, sat, fc), 0);
}

// Four layers of 0.5 m, saturated 0.4, field capacity 0.2.
TEST(SoilGroundwaterTable, ExternalLevelMovesTheTable) {
    const std::vector<double> e{0, -0.5, -1, -1.5, -2}, dz{0, 0.5, 0.5, 0.5, 0.5}, sat(5, 0.4), fc(5, 0.2);
    struct Case {
        const char* what;
        int g;
        double H, E;
        int layer;
        double table;
        std::vector<double> theta;  // after
    };
    const std::vector<double> start{0, 0.3, 0.35, 0.4, 0.4};
    const Case cases[] = {
        {"lowering within the layer", 2, -0.6, -0.9, 2, -0.9, {0, 0.3, 0.35 - 0.2 * 0.3 / 0.5, 0.4, 0.4}},
        {"below the profile: clamped to its bottom", 2, -0.6, -5, 4, -2,
         {0, 0.3, 0.35 - 0.2 * 0.4 / 0.5, 0.2, 0.2}},
        {"raising within the layer", 2, -0.6, -0.55, 2, -0.55, {0, 0.3, 0.35 + 0.05 * 0.05 / 0.5, 0.4, 0.4}},
        {"raising into the layer above", 2, -0.6, -0.3, 1, -0.3, {0, 0.3 + 0.1 * 0.2 / 0.5, 0.4, 0.4, 0.4}},
        {"above the surface: saturates layers 1..g", 2, -0.6, 0.3, 1, 0.3, {0, 0.4, 0.4, 0.4, 0.4}},
        {"above the surface with the table in layer 1", 1, -0.2, 0.7, 1, 0.7, {0, 0.4, 0.35, 0.4, 0.4}},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        std::vector<double> theta = start;
        if (k.g == 1) theta[1] = 0.38;
        const std::vector<double> before = theta;
        const unsatzon::ExternalTableMove m = unsatzon::MoveTableTo(k.g, 4, k.H, k.E, e, dz, sat, fc, theta);
        EXPECT_EQ(m.layer, k.layer);
        EXPECT_EQ(m.table, k.table);
        double added = 0;
        for (int l = 1; l <= 4; ++l) {
            EXPECT_NEAR(theta[static_cast<size_t>(l)], k.theta[static_cast<size_t>(l)], 1e-15) << "layer " << l;
            EXPECT_LE(theta[static_cast<size_t>(l)], sat[static_cast<size_t>(l)]);
            added += (theta[static_cast<size_t>(l)] - before[static_cast<size_t>(l)]) * dz[static_cast<size_t>(l)];
        }
        EXPECT_NEAR(m.balance, 1000 * added, 1e-12);
    }
}

namespace {

struct RiverRun {
    double riverLoss = 0;     // sum of withdrawn x model-step seconds [m3]
    double columnsGain = 0;   // river water the columns took [m3]
    double exfiltrated = 0;   // [m3]
    double largestResidual = 0;
    std::vector<double> state;  // theta of every cell, then the withdrawals
};

// Three hours of `subSteps` sub-steps with the river carrying `flow` m3/s
// and owing the columns `carried` m3/s from earlier steps; the routing's part
// (the flow and the debt stay, withdrawn is cleared) is played here.
RiverRun RunRiver(double flow, int subSteps, double carried = 0) {
    SoilModelFixture f;
    EXPECT_EQ(f.Make(subSteps), 0) << f.console.str();
    RiverRun run;
    if (!f.model) return run;
    unsatzonmodellklasse& m = *f.model;
    f.PlaceBeds();
    riverflow_table* rivers = m.GetRiverflowTable();
    EXPECT_NE(rivers, nullptr);
    if (!rivers) return run;
    double** rain = f.Grid("precipitation");
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c) rain[r][c] = 0.5 * c;
    m.StepObserver = [&](const unsatzonmodellklasse::IterationStepRecord& s) {
        const double residual = s.Offered + s.RiverInfiltration -
                                (s.Transpiration + s.DirectRunoff + s.Interflow + s.Baseflow + s.RiverExfiltration +
                                 s.SoilEnd - s.SoilStart);
        run.largestResidual = std::max(run.largestResidual, std::fabs(residual));
    };
    const double area = 100.0 * 100.0;
    for (int hour = 1; hour <= 3; ++hour) {
        rivers[1].flowm3s = flow;
        rivers[1].speed = 0.5;
        rivers[1].withdrawn = 0;
        rivers[1].carried = carried;
        m.BeginTimeStep(hour, 1, 6, 2020);
        for (int s = 1; s <= subSteps; ++s) {
            m.RunTimeStep(hour, 1, 6, 2020);
            for (int r = 1; r <= Rows; ++r)
                for (int c = 1; c <= Cols; ++c) {
                    if (!m.OwnModelCell(r, c)) continue;
                    run.columnsGain += f.Grid("river_infiltration")[r][c] / 1000 * area;
                    run.exfiltrated += f.Grid("river_exfiltration")[r][c] / 1000 * area;
                }
        }
        // a withdrawal never takes more than the river carries beyond its debt
        EXPECT_LE(rivers[1].withdrawn, std::max(0.0, flow - carried) * (1 + 1e-12));
        EXPECT_GE(rivers[1].withdrawn, 0);
        run.riverLoss += rivers[1].withdrawn * 3600;
        run.state.push_back(rivers[1].withdrawn);
    }
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c)
            if (m.OwnModelCell(r, c)) run.state.insert(run.state.end(), m.Theta[r][c], m.Theta[r][c] + Layers + 1);
    return run;
}

}  // namespace

// What the columns take from the river the river loses, whether the river
// has plenty or too little or owes the columns more than it carries; every
// iteration step of every column closes with the river terms; one thread and
// four give the same bits.
TEST(SoilRiver, ColumnsGainWhatTheRiverLoses) {
    struct Case {
        const char* what;
        double flow;  // [m3/s]
        int subSteps;
        double carried = 0;  // owed to the columns from earlier steps [m3/s]
    };
    const Case cases[] = {
        {"plenty of water", 50, 1},
        {"the flow limits the infiltration", 2e-4, 1},
        {"the flow limits it, three sub-steps", 2e-4, 3},
        {"a dry river", 0, 2},
        {"the debt leaves a quarter of the flow", 2e-4, 1, 1.5e-4},
        {"the debt leaves a quarter, two sub-steps", 2e-4, 2, 1.5e-4},
        {"the debt exceeds the flow", 2e-4, 1, 3e-4},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        const int saved = omp_get_max_threads();
        omp_set_num_threads(1);
        const RiverRun one = RunRiver(k.flow, k.subSteps, k.carried);
        omp_set_num_threads(4);
        const RiverRun four = RunRiver(k.flow, k.subSteps, k.carried);
        omp_set_num_threads(saved);
        EXPECT_NEAR(one.riverLoss, one.columnsGain, 1e-12 * std::max(1e-30, one.columnsGain));
        EXPECT_LT(one.largestResidual, 1e-9);
        EXPECT_GT(one.exfiltrated, 0);
        if (k.flow > k.carried) {
            EXPECT_GT(one.columnsGain, 0);
        } else {
            EXPECT_EQ(one.columnsGain, 0);
        }
        if (k.flow < 1) {
            // limited: the river gives (nearly) all it carries over the steps
            EXPECT_LE(one.riverLoss, std::max(0.0, k.flow - k.carried) * 3 * 3600 * (1 + 1e-12));
        }
        ASSERT_EQ(one.state.size(), four.state.size());
        EXPECT_EQ(std::memcmp(one.state.data(), four.state.data(), one.state.size() * sizeof(double)), 0);
        std::printf("river %-40s loss %.6g m3, columns %.6g m3, exfiltration %.6g m3, residual %.3g mm\n", k.what,
                    one.riverLoss, one.columnsGain, one.exfiltrated, one.largestResidual);
    }
}

namespace {

// River water [m3/s, mean over the hour] that each cell of the grid takes in
// one hourly step of a river 0.3 m deep carrying `flow`, on `threads` threads.
std::vector<double> TakenPerCell(double flow, int threads) {
    SoilModelFixture f;
    EXPECT_EQ(f.Make(1), 0) << f.console.str();
    std::vector<double> taken(static_cast<size_t>(Rows * Cols), 0.0);
    if (!f.model) return taken;
    f.PlaceBeds();
    riverflow_table* rivers = f.model->GetRiverflowTable();
    rivers[1].flowm3s = flow;
    rivers[1].speed = flow / (0.3 * 10);  // 0.3 m of water in the river, whatever it carries
    const int saved = omp_get_max_threads();
    omp_set_num_threads(threads);
    f.model->BeginTimeStep(1, 1, 6, 2020);
    f.model->RunTimeStep(1, 1, 6, 2020);
    omp_set_num_threads(saved);
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c)
            if (f.model->OwnModelCell(r, c))
                taken[static_cast<size_t>((r - 1) * Cols + c - 1)] =
                    f.Grid("river_infiltration")[r][c] / 1000 * 100 * 100 / 3600;
    double sum = 0;
    for (double t : taken) sum += t;
    EXPECT_NEAR(rivers[1].withdrawn, sum, 1e-15);
    return taken;
}

}  // namespace

// A river that cannot serve every cell that draws on it serves them in turn,
// row by row and column by column: each takes what it would take from a
// plentiful river until the river has nothing left; the cell where it runs
// out takes the rest, the cells after it nothing. The river gives all it
// carries, on one thread as on four. The cells of columns 1 and 2 infiltrate.
TEST(SoilRiver, RiverServesItsCellsInRowOrder) {
    const std::vector<double> demand = TakenPerCell(50, 1);
    const int order[] = {0, 1, 4, 5, 8, 9};  // (1,1) (1,2) (2,1) (2,2) (3,1) (3,2)
    for (int k : order) ASSERT_GT(demand[static_cast<size_t>(k)], 0) << k;
    // Enough for the first three cells and half of the fourth.
    const double flow = demand[0] + demand[1] + demand[4] + demand[5] / 2;
    const std::vector<double> one = TakenPerCell(flow, 1), four = TakenPerCell(flow, 4);
    EXPECT_EQ(std::memcmp(one.data(), four.data(), one.size() * sizeof(double)), 0);
    for (int k : {0, 1, 4}) EXPECT_EQ(one[static_cast<size_t>(k)], demand[static_cast<size_t>(k)]) << k;
    EXPECT_NEAR(one[5], demand[5] / 2, 1e-12 * flow);
    for (int k : {8, 9}) EXPECT_LE(one[static_cast<size_t>(k)], 1e-12 * flow) << k;
    double sum = 0;
    for (double t : one) sum += t;
    EXPECT_NEAR(sum, flow, 1e-12 * flow);
}

TEST(SoilRiver, SetUpChecksLinksAndGrids) {
    {
        SCOPED_TRACE("a link to a code without a subbasin");
        SoilModelFixture f;
        f.Grid("river_links")[2][3] = 7;
        EXPECT_EQ(f.Make(), 199);
        EXPECT_NE(f.console.str().find("There is a river link \"7\" from the river link grid\nwhich is not valid "
                                       "for the current routing structure -> there is no routing \ndescription for a "
                                       "river with code 7\nPlease check your River link grid if there are cells "
                                       "defined as routing link 7 and replace those values by nodata (-9999).\n"),
                  std::string::npos)
            << f.console.str();
    }
    {
        SCOPED_TRACE("links of 0 and nodata draw nothing");
        SoilModelFixture f;
        f.Grid("river_links")[1][1] = 0;
        f.Grid("river_links")[1][2] = -9999;
        EXPECT_EQ(f.Make(), 0) << f.console.str();
        ASSERT_NE(f.model->GetRiverflowTable(), nullptr);
        EXPECT_NE(f.Grid("river_infiltration"), nullptr);
        EXPECT_NE(f.Grid("river_exfiltration"), nullptr);
        EXPECT_EQ(f.Grid("river_infiltration")[3][4], -9999);
    }
    {
        SCOPED_TRACE("a river grid missing");
        SoilModelFixture f;
        f.table[FindGridEntry(f.table.get(), "kolmation", false)].InternalName = "unused";
        EXPECT_EQ(f.Make(), 33);
    }
}

// The external level on the grid: Balance is the water added, no layer
// passes saturation, the table never stands above the surface, a level
// below the profile is written back, a nodata level changes nothing.
TEST(SoilGroundwaterTable, ExternalLevelOnTheGrid) {
    SoilModelFixture f;
    ASSERT_EQ(f.Make(), 0) << f.console.str();
    unsatzonmodellklasse& m = *f.model;
    double** external = f.Grid("GWTableExtern");
    double** balance = f.Grid("Balance");
    ASSERT_NE(external, nullptr);
    ASSERT_NE(balance, nullptr);
    std::vector<double> before;
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c) {
            const double surface = m.GeodeticHeads[r][c][0];
            const double table = surface + m.GroundwaterDistance[r][c];
            const double levels[Cols] = {table - 0.05, surface - 5, surface + 0.4, -9999};
            external[r][c] = levels[(c - 1 + r - 1) % Cols];
            for (int k = 1; k <= Layers; ++k) before.push_back(m.Theta[r][c][k]);
        }
    const double distance12 = m.GroundwaterDistance[1][4];  // nodata level at (1, 4)
    m.ApplyExternalGWTable(0);
    size_t at = 0;
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c) {
            double added = 0;
            for (int k = 1; k <= Layers; ++k, ++at) {
                EXPECT_LE(m.Theta[r][c][k], 0.45);
                added += (m.Theta[r][c][k] - before[at]) * Dz;
            }
            if (!m.OwnModelCell(r, c)) {
                EXPECT_EQ(balance[r][c], -9999);
                continue;
            }
            EXPECT_NEAR(balance[r][c], 1000 * added, 1e-12) << r << "," << c;
            EXPECT_LE(m.GroundwaterDistance[r][c], 0);
        }
    // (1, 4): nodata level
    EXPECT_EQ(balance[1][4], 0);
    EXPECT_EQ(m.GroundwaterDistance[1][4], distance12);
    // (1, 2): below the profile
    EXPECT_EQ(external[1][2], m.GeodeticHeads[1][2][Layers]);
    EXPECT_EQ(m.GroundwaterLevel[1][2], Layers);
    EXPECT_LT(balance[1][2], 0);
    // (1, 3): above the surface
    EXPECT_EQ(m.GroundwaterDistance[1][3], 0);
    EXPECT_EQ(m.GroundwaterLevel[1][3], 1);
    for (int k = 1; k <= Layers; ++k) EXPECT_EQ(m.Theta[1][3][k], 0.45);
    // from now on the recharge is the flux into the groundwater layer
    EXPECT_EQ(m.ExternalTableFlag, 1);
}

// "Max_Pumping": the water above field capacity from the groundwater layer
// down to the layer above the bottom, by hand; 0 with the table in the
// bottom layer; nodata outside the model.
TEST(SoilGroundwaterTable, MaxPumpingOnTheGrid) {
    std::vector<IrrigationRule> rules(2);
    rules[0].Code = 1;
    rules[1].Code = 1;
    rules[1].Method = IrrigationRule::DemandSuction;
    rules[1].Origin = 1;
    rules[1].psi_dry = 3;
    rules[1].psi_wet = 1;
    SoilModelFixture f;
    f.groundwater = 0;
    f.irrigation = rules.data();
    f.Add("irrigation_codes", 1);
    ASSERT_EQ(f.Make(), 0) << f.console.str();
    unsatzonmodellklasse& m = *f.model;
    m.GroundwaterLevel[1][1] = Layers;
    m.GroundwaterLevel[2][2] = 1;
    m.UpdateMaxPumping();
    double** pumping = f.Grid("Max_Pumping");
    ASSERT_NE(pumping, nullptr);
    const double fc = f.soils[1].ThetaFromSuction(1, 3.45);  // one soil, equal layers
    for (int r = 1; r <= Rows; ++r)
        for (int c = 1; c <= Cols; ++c) {
            if (!m.OwnModelCell(r, c)) {
                EXPECT_EQ(pumping[r][c], -9999);
                continue;
            }
            const int g = static_cast<int>(m.GroundwaterLevel[r][c]);
            EXPECT_NEAR(pumping[r][c], (Layers - g) * 1000 * Dz * (0.45 - fc), 1e-9) << r << "," << c;
        }
    EXPECT_EQ(pumping[1][1], 0);
    EXPECT_NEAR(pumping[2][2], 5 * 1000 * Dz * (0.45 - fc), 1e-9);
}

// Lakes: with the lake flag 1 a lake cell that holds 1 mm or more of water
// has no river exchange, one below that (or a cell without a lake code) has;
// another flag switches every cell's exchange off.
TEST(SoilRiver, LakeCellsWithWaterExchangeNothing) {
    struct Case {
        const char* what;
        int flag;
        double lakeCode, ponding;
        bool exchanges;
    };
    const Case cases[] = {
        {"lakes off", 0, 1, 5, true},
        {"no lake code", 1, -9999, 5, true},
        {"a lake with 1 mm", 1, 1, 1.0, false},
        {"a lake with 0.5 mm", 1, 1, 0.5, true},
        {"lake code 0 with water", 1, 0, 3, false},
        {"another flag", 2, -9999, 0, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        SoilModelFixture f;
        ASSERT_EQ(f.Make(), 0) << f.console.str();
        unsatzonmodellklasse& m = *f.model;
        std::vector<double> codes((Rows + 1) * (Cols + 1), k.lakeCode), pond((Rows + 1) * (Cols + 1), k.ponding);
        std::vector<double*> codeRows(Rows + 1), pondRows(Rows + 1);
        for (int r = 0; r <= Rows; ++r) {
            codeRows[static_cast<size_t>(r)] = codes.data() + r * (Cols + 1);
            pondRows[static_cast<size_t>(r)] = pond.data() + r * (Cols + 1);
        }
        double** savedPond = m.PondingStorage;
        m.LakesActive = k.flag;
        m.LakeCodes = codeRows.data();
        m.PondingStorage = pondRows.data();
        int rank = -1;
        EXPECT_EQ(m.RiverOfCell(2, 2, rank), k.exchanges);
        m.LakeCodes = nullptr;
        m.PondingStorage = savedPond;
        m.LakesActive = 0;
    }
}
