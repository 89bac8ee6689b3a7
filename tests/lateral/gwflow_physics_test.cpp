// Groundwater kernels against hand values: face transmissivities, leakage,
// the theta-method cell value, relaxation, start heads and file names.

#include <gtest/gtest.h>

#include <cmath>

#include "lateral/gwflow_physics.h"

namespace {

using gwflow::FaceSide;

TEST(GroundwaterKernels, CellTransmissivity) {
    struct Case {
        const char* what;
        double head, top, mEff, m, k, g;
        bool inclusive;
        double expected;
    };
    const Case cases[] = {
        {"confined: full thickness", 105, 100, 10, 10, 1e-4, 0, false, 1e-3},
        {"unconfined: saturated part", 95, 100, 10, 10, 1e-4, 0, false, 5e-4},
        {"own x value at top + 0.01 counts partly", 100.01, 100, 10, 10, 1, 0, true, 10.01},
        {"y value at top + 0.01 counts fully", 100.01, 100, 10, 10, 1, 0, false, 10},
        {"frozen 0.3 m of 2 m: (h - top + 1.7) k", 99.5, 100, 1.7, 2, 1, 0, true, 1.2},
        {"frozen, head above the top: the full 2 m", 100.5, 100, 1.7, 2, 1, 0, true, 2},
        {"refrozen permafrost: m' = 0", 99.5, 100, 0, 2, 1, 0, true, -0.5},
        {"glacier share 0.5", 105, 100, 10, 10, 1, 0.5, true, 0},
        {"dry cell below its bottom", 85, 100, 10, 10, 1, 0, true, -5},
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(gwflow::CellTransmissivity(c.head, c.top, c.mEff, c.m, c.k, c.g, c.inclusive), c.expected, 1e-12)
            << c.what;
    }
}

TEST(GroundwaterKernels, FaceTransmissivity) {
    struct Case {
        const char* what;
        FaceSide cell, neighbour;
        bool usable;
        double expected;
    };
    const Case cases[] = {
        {"two wet cells: harmonic mean", {2, 100, 1, 0}, {6, 100, 1, 0}, true, 3},
        {"dry cell next to a higher wet cell", {-1, 90, 1, 0}, {6, 100, 1, 0}, true, 6},
        {"dry cell next to a lower wet cell", {-1, 110, 1, 0}, {6, 100, 1, 0}, true, 0},
        {"dry cell without conductivity", {-1, 90, 0, 0}, {6, 100, 1, 0}, true, 0},
        {"glacier share 0.5 on the dry side", {0, 90, 1, 0.5}, {6, 100, 1, 0}, true, 0},
        {"wet cell drains into a lower dry neighbour", {6, 100, 1, 0}, {-1, 90, 1, 0}, true, 6},
        {"wet cell below a dry neighbour", {6, 100, 1, 0}, {-1, 110, 1, 0}, true, 0},
        {"neighbour unusable (zone border, outside)", {6, 100, 1, 0}, {6, 90, 1, 0}, false, 0},
        {"dry neighbour under glacier", {6, 100, 1, 0}, {0, 90, 1, 0.5}, true, 0},
        {"both dry", {-1, 100, 1, 0}, {0, 90, 1, 0}, true, 0},
    };
    for (const Case& c : cases) {
        EXPECT_DOUBLE_EQ(gwflow::FaceTransmissivity(c.cell, c.neighbour, c.usable), c.expected) << c.what;
    }
}

TEST(GroundwaterKernels, Leakage) {
    struct Case {
        double up, lo, topLo, kolmation, expected;
    };
    const Case cases[] = {
        {100, 100.5, 99, 1e-7, 5e-8},     // lower head higher: 0.5 m up
        {100, 103, 99, 1e-7, 1e-7},       // clamped to 1 m
        {100, 99.5, 99, 1e-7, -5e-8},     // lower layer confined (top <= head): 0.5 m down
        {100, 95, 99, 1e-7, -1e-7},       // unconfined lower layer: top - up = -1, clamped
        {98.5, 98.2, 99, 1e-7, 0},        // upper head below the lower top: no exchange
        {100, 99.5, 99.7, 1e-7, -3e-8},   // top - up = -0.3
        {100, 100.5, 99, 0, 0},           // no leakage coefficient
    };
    for (const Case& c : cases) {
        EXPECT_NEAR(gwflow::Leakage(c.up, c.lo, c.topLo, c.kolmation), c.expected, 1e-20)
            << c.up << " " << c.lo << " " << c.topLo;
    }
}

// The value solves the discrete cell equation for every implicitness weight.
TEST(GroundwaterKernels, GaussSeidelValueSolvesTheCellEquation) {
    for (double a : {0.0, 0.5, 1.0}) {
        gwflow::CellEquation e;
        e.conductance[0] = 1e-3;
        e.conductance[1] = 2e-3;
        e.conductance[3] = 5e-4;
        e.startHead[0] = 101;
        e.startHead[1] = 99;
        e.startHead[3] = 100.5;
        e.currentHead[0] = 101.2;
        e.currentHead[1] = 98.7;
        e.currentHead[3] = 100.1;
        e.ownStart = 100;
        e.storage = 1e-3;
        e.leakage = 2e-8;
        e.inflow = 1e-9;
        e.area = 1e4;
        e.dt = 3600;
        e.alpha = a;
        bool solvable = false;
        const double h = gwflow::GaussSeidelValue(e, 100, &solvable);
        ASSERT_TRUE(solvable);
        double rhs = (e.leakage + e.inflow) * e.area;
        for (int x = 0; x < 4; ++x) {
            rhs += e.conductance[x] * ((1 - a) * (e.startHead[x] - e.ownStart) + a * (e.currentHead[x] - h));
        }
        EXPECT_NEAR(e.storage * e.area * (h - e.ownStart) / e.dt, rhs, 1e-15) << "alpha " << a;
    }
    // Nothing acts on the cell (alpha 0 and no storage, or no faces and no
    // storage): the head stays and no change is made.
    gwflow::CellEquation none;
    none.conductance[1] = 1e-3;
    none.currentHead[1] = 90;
    none.alpha = 0;
    none.storage = 0;
    none.area = 1e4;
    none.dt = 3600;
    bool solvable = true;
    EXPECT_EQ(gwflow::GaussSeidelValue(none, 97.5, &solvable), 97.5);
    EXPECT_FALSE(solvable);
}

TEST(GroundwaterKernels, AdaptiveFactor) {
    // Ratios (hGS - h0) / (h0 - hp) of -0.5, -2 and 1.5 give 0.5, 1 and 2.
    EXPECT_DOUBLE_EQ(gwflow::AdaptiveFactor(99.5, 100, 99), 0.5);
    EXPECT_DOUBLE_EQ(gwflow::AdaptiveFactor(98, 100, 99), 1);
    EXPECT_DOUBLE_EQ(gwflow::AdaptiveFactor(101.5, 100, 99), 2);
    EXPECT_DOUBLE_EQ(gwflow::AdaptiveFactor(100.25, 100, 99), 1.25);
    EXPECT_DOUBLE_EQ(gwflow::AdaptiveFactor(123, 100, 100), 1);  // first sweep: previous iterate = current
}

TEST(GroundwaterKernels, StartHeadBalanceAndSmallRules) {
    EXPECT_DOUBLE_EQ(gwflow::StartHead(500, -2, true, 30, true, 40), 498);
    EXPECT_DOUBLE_EQ(gwflow::StartHead(500, 0, true, 30, true, 40), 500.03);
    EXPECT_DOUBLE_EQ(gwflow::StartHead(500, 0, false, 30, true, 40), 500.04);
    EXPECT_DOUBLE_EQ(gwflow::StartHead(500, 0.0005, false, 30, true, 0), 500.0005);
    EXPECT_DOUBLE_EQ(gwflow::StartHead(500, 0, false, 30, false, 40), 500);

    // 1 cm rise with S 0.1 stores 1 mm; with 1 mm flowing in the residual is 0.
    EXPECT_NEAR(gwflow::BalanceResidual(100.01, 100, 0.1, 0.001 * 1e4, 1e4), 0, 1e-12);
    EXPECT_NEAR(gwflow::BalanceResidual(100, 100, 0.1, -3.6e-6 * 1e4, 1e4), 0.0036, 1e-12);
    EXPECT_DOUBLE_EQ(gwflow::MixedConcentration(2, 10, 5, 15), 25.0 / 15);
    EXPECT_EQ(gwflow::MixedConcentration(2, 0, 0, 0), 0);

    EXPECT_EQ(gwflow::OldHeadFileName("head1"), "head1_old");
    EXPECT_EQ(gwflow::OldHeadFileName("out/head1.asc"), "out/head1_old.asc");
    EXPECT_EQ(gwflow::OldHeadFileName("../out/head1"), "../out/head1_old");
    EXPECT_EQ(gwflow::OldHeadFileName("./a.b/head"), "./a.b/head_old");

    EXPECT_EQ(gwflow::ControlPointCapacity(1), 23831);
    EXPECT_EQ(gwflow::ControlPointCapacity(2), 15420);
    EXPECT_EQ(gwflow::ControlPointCapacity(3), 2097152 / 184);
    EXPECT_EQ(gwflow::ControlPointCapacity(100000), 1);

    // One hour of a tracer with a half-life of one day, four sub-steps.
    EXPECT_NEAR(gwflow::DecayFactor(60, 4, 1), std::exp(-(15.0 / 1440) / 1.442695041111), 1e-15);
}

}  // namespace
