// Surface-routing kernels against hand values: velocity and flux of one
// direction, flow resistance, the outflow split, slope and aspect, plan
// curvature, the sub time step and the linear storage.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

#include "lateral/surfrout_physics.h"

using namespace surfrout;

namespace {

VelocityControls Controls(double dtMin, double dtMax) {
    VelocityControls c;
    c.dtMin = dtMin;
    c.dtMax = dtMax;
    c.velocityTolerance = 1e-9;
    c.velocityIterations = 200;
    c.wakeTolerance = 1e-6;
    c.wakeIterations = 50;
    c.minDepth = 0.001;
    c.concentration = 1;
    return c;
}

TEST(SurfaceRoutingKernels, VelocityHandCases) {
    // y 0.01 m, slope 0.01, cells of 100 m.
    struct Case {
        const char* what;
        double dtMin;
        double velocity;
    } capped[] = {{"Manning-Strickler law", 1, 10 * std::pow(0.01, 0.66667) * 0.1},
                  {"cap of the shortest step", 200, 100.0 / (20 * 200)}};
    for (const Case& c : capped) {
        SCOPED_TRACE(c.what);
        const DirectionFlow f = CappedFlow(0.01, 0.01, 100, 100, c.dtMin);
        EXPECT_NEAR(f.velocity, c.velocity, 1e-12);
        EXPECT_NEAR(f.flux, c.velocity * 100 * 0.01, 1e-12);
    }
    EXPECT_NEAR(CappedFlow(0.01, 0.01, 100, 100, 1).velocity, 0.0464152, 1e-7);

    // Method 2 on a Strickler-only land use reaches the depth bound.
    Resistance strickler;
    strickler.cultivation = 3;
    strickler.kst = 20;
    const DirectionFlow bound = ResistedFlow(strickler, Controls(1, 60), 0, 1, 0.01, 0.01, 100, 0.9);
    EXPECT_NEAR(bound.velocity, 0.0928304, 1e-7);
    EXPECT_NEAR(bound.flux, 0.0928304, 1e-7);

    // No slope, no water or no share: no flow, without the resistance law.
    for (const auto& [w, y, s] : {std::tuple{1.0, 0.01, 0.0}, {1.0, 0.0, 0.01}, {0.0, 0.01, 0.01}, {1.0, 0.01, -0.1}}) {
        const DirectionFlow f = ResistedFlow(strickler, Controls(1, 60), 0.1, w, y, s, 100, 0.9);
        EXPECT_EQ(f.velocity, 0.0);
        EXPECT_EQ(f.flux, 0.0);
        if (w > 0) {
            EXPECT_EQ(CappedFlow(y, s, 100, 100, 1).flux, 0.0);
        }
    }
    // A sheet below 0.1 mm after the bounds does not flow.
    const DirectionFlow sheet = ResistedFlow(strickler, Controls(1, 60), 0, 1, 0.00005, 0.01, 100, 0.9);
    EXPECT_EQ(sheet.flux, 0.0);
}

TEST(SurfaceRoutingKernels, FlowResistanceByCultivation) {
    const VelocityControls c = Controls(1, 60);
    Resistance conserving;
    conserving.cultivation = 1;
    conserving.kst = 12;
    conserving.rough1[0] = conserving.rough2[0] = 0.02;
    conserving.rough1[1] = conserving.rough2[1] = 0.7;
    conserving.rough1[2] = conserving.rough2[2] = 0.15;
    conserving.residueCover = 0.3;
    // Re = 4e6 v ye = 4000.
    EXPECT_NEAR(FlowResistance(conserving, c, 0.1, 0.01, 0.1), 16.0433, 1e-4);
    // Bare soil: (100 R)^r2 = 0 would give an infinite K; the Strickler value holds.
    conserving.residueCover = 0;
    EXPECT_EQ(FlowResistance(conserving, c, 0.1, 0.01, 0.1), 12.0);

    Resistance stems;
    stems.cultivation = 2;
    stems.kst = 25;
    stems.cropDistX = stems.cropDistY = 0.3;
    stems.dragHighRe = 1.2;
    stems.stemDiameter = 0.0005;  // below 1 mm: no stem drag
    EXPECT_NEAR(FlowResistance(stems, c, 0.1, 0.01, 0.1), 25, 1e-12);
    stems.stemDiameter = 0.01;    // depth below y_min: no stem drag
    EXPECT_NEAR(FlowResistance(stems, c, 0.1, 0.0005, 0.1), 25, 1e-12);
    // Stems in deeper water slow the flow, and the result is a finite number.
    const double k = FlowResistance(stems, c, 0.1, 0.01, 0.1);
    EXPECT_TRUE(std::isfinite(k));
    EXPECT_GT(k, 0);
    EXPECT_LT(k, 25);
    // Without flow there is no drag: no division by a zero velocity.
    EXPECT_NEAR(FlowResistance(stems, c, 0.0, 0.01, 0.1), 25, 1e-12);

    Resistance other;
    other.cultivation = 3;
    other.kst = 7;
    EXPECT_EQ(FlowResistance(other, c, 0.1, 0.01, 0.1), 7.0);
}

TEST(SurfaceRoutingKernels, OutflowSplitByAngle) {
    double w[9];
    // 60 degrees: main direction north-east; east lies 30 degrees from the
    // flow and gets the larger side share.
    EXPECT_EQ(WeightsByAngle(60, 0, 1, w), 2);
    EXPECT_NEAR(w[2], 0.42265, 1e-5);
    EXPECT_NEAR(w[3], 0.36603, 1e-5);
    EXPECT_NEAR(w[1], 0.21132, 1e-5);
    // Mirrored: 30 degrees gives north the larger side share.
    EXPECT_EQ(WeightsByAngle(30, 0, 3, w), 2);
    EXPECT_NEAR(w[1], 0.36603, 1e-5);
    EXPECT_NEAR(w[3], 0.21132, 1e-5);
    // Methods 2, 4 and 5 keep the main direction alone.
    for (int method : {2, 4, 5}) {
        EXPECT_EQ(WeightsByAngle(60, 0, method, w), 2);
        EXPECT_DOUBLE_EQ(w[2], 1.0);
        EXPECT_EQ(w[1] + w[3], 0.0);
    }
    // A convex cell keeps the outflow in the main direction.
    EXPECT_EQ(WeightsByAngle(60, 0.01, 1, w), 2);
    EXPECT_GT(w[2], 0);
    EXPECT_EQ(w[1] + w[3], 0.0);
    // Around north: 350 degrees is direction 1, its side shares on 8 and 2.
    EXPECT_EQ(WeightsByAngle(350, 0, 1, w), 1);
    EXPECT_GT(w[8], w[2]);
    EXPECT_NEAR(w[1] + w[2] + w[8], 1.0, 1e-12);
}

TEST(SurfaceRoutingKernels, OutflowSplitByDrops) {
    const bool valid[9] = {false, true, true, true, true, true, true, true, false};
    const double drops[9] = {0, -1, 0.2, 0.1, 0.2 * 1.4142135, 0.000001, 0, 0, 5};
    double w[9];
    // Diagonals count their drop over 1.4142135 cells; 8 is invalid.
    EXPECT_EQ(WeightsByDrops(drops, valid, 1, w), 4);
    EXPECT_NEAR(w[2], 0.2 / 1.4142135 / (0.2 / 1.4142135 + 0.1 + 0.2), 1e-12);
    EXPECT_NEAR(w[3], 0.1 / (0.2 / 1.4142135 + 0.1 + 0.2), 1e-12);
    EXPECT_NEAR(w[4], 0.2 / (0.2 / 1.4142135 + 0.1 + 0.2), 1e-12);
    EXPECT_EQ(w[1] + w[5] + w[8], 0.0);
    EXPECT_EQ(WeightsByDrops(drops, valid, 4, w), 4);
    EXPECT_EQ(w[4], 1.0);
    // A flat cell has no flow.
    const double flat[9] = {};
    EXPECT_EQ(WeightsByDrops(flat, valid, 1, w), 0);
    for (int d = 1; d <= 8; ++d) EXPECT_EQ(w[d], 0.0);
}

TEST(SurfaceRoutingKernels, SlopeAndAspect) {
    // A plane falling 1 m per 10 m to the south: unique steepest direction.
    Neighbourhood plane;
    plane.interior = true;
    for (int d = 0; d <= 8; ++d) {
        plane.H[d] = 100 - RowOffset[d] * 1.0;
        plane.z[d] = plane.H[d];
        plane.valid[d] = true;
    }
    SlopeAndAspect s = SteepestSlope(plane, 10);
    EXPECT_DOUBLE_EQ(s.slope, 0.1);
    EXPECT_EQ(s.angle, 180);
    // A valley whose two diagonals fall alike: the aspect of the surface.
    Neighbourhood valley = plane;
    valley.H[4] = valley.H[6] = 100 - 3;
    s = SteepestSlope(valley, 10);
    EXPECT_DOUBLE_EQ(s.slope, 3 / (1.414 * 10));
    EXPECT_DOUBLE_EQ(s.angle, 180);
    // Aspect of a surface falling to the east, the south-east and the west.
    EXPECT_DOUBLE_EQ(Aspect(-1, 0), 90);
    EXPECT_NEAR(Aspect(-1, 1), 135, 1e-9);
    EXPECT_DOUBLE_EQ(Aspect(1, 0), 270);
    EXPECT_DOUBLE_EQ(Aspect(0, -1), 0);
    // Flat: slope 0.
    Neighbourhood flat;
    flat.interior = true;
    s = SteepestSlope(flat, 10);
    EXPECT_EQ(s.slope, 0.0);
    // A flat edge cell without a neighbour to the north mirrors the south.
    Neighbourhood edge;
    for (int d = 3; d <= 7; ++d) edge.valid[d] = true;
    s = SteepestSlope(edge, 10);
    EXPECT_EQ(s.slope, 0.0);
    EXPECT_EQ(s.angle, 0.0);
}

TEST(SurfaceRoutingKernels, PlanCurvatureOfBowlAndPlane) {
    const double a = 0.002, cs = 10;
    auto window = [&](double x0, double y0, double f(double, double, double), double z[3][3]) {
        for (int r = 0; r < 3; ++r)
            for (int c = 0; c < 3; ++c) z[r][c] = f(x0 + (c - 1) * cs, y0 + (1 - r) * cs, a);
    };
    auto bowl = [](double x, double y, double k) { return k * (x * x + y * y); };
    auto plane = [](double x, double y, double k) { return 100 + k * x - 3 * k * y; };
    double z[3][3];
    for (const auto& [x, y] : {std::pair{10.0, 0.0}, {-30.0, 20.0}, {50.0, -70.0}}) {
        window(x, y, bowl, z);
        EXPECT_NEAR(PlanCurvature(z, cs), 2 * a, 1e-12) << x << " " << y;
        window(x, y, plane, z);
        EXPECT_NEAR(PlanCurvature(z, cs), 0, 1e-15);
    }
    window(0, 0, bowl, z);
    EXPECT_EQ(PlanCurvature(z, cs), 0.0);
}

TEST(SurfaceRoutingKernels, SubStepBounds) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double T, bound, expected;
    } cases[] = {{3600, 700, 720}, {3600, 0, 3600}, {3600, -5, 3600}, {3600, 5000, 3600}, {3600, 3600, 3600},
                 {3600, 1e-320, 3600}, {3600, inf, 3600}, {3600, std::nan(""), 3600}, {1800, 60, 60}};
    for (const Case& c : cases) EXPECT_EQ(FractionOfSubStep(c.T, c.bound), c.expected) << c.bound;

    double L = 0;
    // Nothing flows: dt from T, at most dtMax.
    EXPECT_EQ(SubTimeStep(3600, NoFlow, 1, 600, &L), 600);
    EXPECT_EQ(L, 7);
    // A tiny travel time gives the shortest step, never an integer overflow.
    EXPECT_EQ(SubTimeStep(3600, 1e-300, 2, 600, &L), 2);
    EXPECT_EQ(L, 1801);
    // 100 s of travel: T / 37.
    EXPECT_DOUBLE_EQ(SubTimeStep(3600, 100, 1, 600, &L), 3600.0 / 37);
}

TEST(SurfaceRoutingKernels, LinearStoragePulse) {
    // kelsqd 120 min, 60-minute steps, a 10 mm pulse.
    const double expected[] = {3.93469, 2.38651, 1.44749, 0.87795, 0.53250};
    double out = 0, total = 0;
    for (int step = 0; step < 200; ++step) {
        out = LinearStorageOutflow(step == 0 ? 10 : 0, out, 60, 120);
        if (step < 5) {
            EXPECT_NEAR(out, expected[step], 1e-5) << step;
        }
        total += out;
    }
    EXPECT_NEAR(total, 10, 1e-9);
    // A recession constant of 0 passes the inflow on.
    EXPECT_EQ(LinearStorageOutflow(4, 3, 60, 0), 4);
}

}  // namespace
