#include "soil/unsatzon_column.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "parameters/soil.h"

using namespace unsatzon;

namespace {

// Loam: theta_s 0.45, theta_r 0.05, alpha 2 1/m, n 1.5 (m = 1/3), tau 0.5,
// ksat 1e-5 m/s, layers of 0.2 m. Retention points used below:
//   W(h) = 0.40 (1 / (1 + (2 h)^1.5))^(1/3) + 0.05
//   W(0.1) = 0.438739368121182, W(1.2) = 0.2884910295282894, W(3.45) = 0.1995756481539146
//   Kr = Se^0.5 (1 - (1 - Se^3)^(1/3))^2: Kr(0.1) = 0.31511876894132773, Kr(1.2) = 0.004498588142571186
constexpr double W01 = 0.438739368121182, W12 = 0.2884910295282894, W345 = 0.1995756481539146;
constexpr double Kr01 = 0.31511876894132773, Kr12 = 0.004498588142571186;

SoilType Loam(int layers) {
    SoilType soil(1);
    soil.CreateLayers(layers, 0);
    for (int l = 0; l <= layers; ++l) {
        soil.theta_sat[l] = 0.45;
        soil.theta_res[l] = 0.05;
        soil.alpha[l] = 2;
        soil.Par_n[l] = 1.5;
        soil.Par_m[l] = 1 - 1 / 1.5;
        soil.Par_tau[l] = 0.5;
        soil.ksat[l] = 1e-5;
        soil.thickness[l] = 0.2;
        soil.MakeHydraulicTables(l);
    }
    soil.maxratio = 1000;
    return soil;
}

// Owns the arrays of one column with the surface at 100 m.
struct Column {
    explicit Column(const SoilType& soil) : n(soil.LayerCount) {
        for (auto* v : {&thetaStart, &thetaIter, &thetaNew, &thetaTrial, &flux, &interflow, &riverIn, &riverEx,
                        &thickness, &elevation, &head, &suction, &sat, &res})
            v->assign(n + 1, 0.0);
        elevation[0] = 100;
        for (int j = 1; j <= n; ++j) {
            thickness[j] = soil.thickness[j];
            elevation[j] = elevation[j - 1] - thickness[j];
            sat[j] = soil.theta_sat[j];
            res[j] = soil.theta_res[j];
        }
    }
    void SetTheta(const std::vector<double>& theta) {
        for (int j = 1; j <= n; ++j) thetaStart[j] = thetaIter[j] = thetaNew[j] = theta[j - 1];
    }
    SoilColumn View(int g, int inputDepth = 1) {
        SoilColumn c;
        c.LayerCount = n;
        c.GroundwaterLayer = g;
        c.InputDepthLayer = inputDepth;
        c.thetaStart = thetaStart;
        c.thetaIter = thetaIter;
        c.thetaNew = thetaNew;
        c.thetaTrial = thetaTrial;
        c.interfaceFlux = flux;
        c.layerInterflow = interflow;
        c.riverInfiltration = riverIn;
        c.riverExfiltration = riverEx;
        c.layerThickness = thickness;
        c.boundaryElevation = elevation;
        c.hydraulicHead = head;
        c.suctionStart = suction;
        c.thetaSat = sat;
        c.thetaRes = res;
        return c;
    }
    double Water(const std::vector<double>& theta) const {
        double w = 0;
        for (int j = 1; j <= n; ++j) w += theta[j] * thickness[j];
        return w;
    }
    int n;
    std::vector<double> thetaStart, thetaIter, thetaNew, thetaTrial, flux, interflow, riverIn, riverEx, thickness,
        elevation, head, suction, sat, res;
};

}  // namespace

TEST(SoilColumnHeads, FromThetaAndBackAgainstVanGenuchten) {
    const SoilType soil = Loam(4);
    struct Case {
        double theta1, theta2, theta3;  // start = iterate
        int g;
        double gwDistance;
        double head1, head2, head3;  // expected [m]
    };
    // Centres 99.9, 99.7, 99.5; layer 3 spans 99.6..99.4.
    const Case cases[] = {
        {W12, W01, W345, 4, -1.0, 99.9 - 1.2, 99.7 - 0.1, 99.5 - 3.45},
        {0.45, 0.45, 0.45, 4, -1.0, 99.9, 99.7, 99.5},
        {0.05, W12, W01, 4, -1.0, 99.9 - 150, 99.7 - 1.2, 99.5 - 0.1},
        // Table inside the groundwater layer 2: its head is the table.
        {W12, 0.45, 0.45, 2, -0.35, 99.9 - 1.2, 99.65, 99.65},
        // Table outside layer 2: the layer's own head; layer 3 keeps its own
        // where the groundwater head is below its centre.
        {W12, W01, 0.45, 2, -0.9, 99.9 - 1.2, 99.7 - 0.1, 99.6},
    };
    for (const Case& k : cases) {
        Column col(soil);
        col.SetTheta({k.theta1, k.theta2, k.theta3, 0.45});
        col.head[4] = 12345;
        SoilColumn c = col.View(k.g);
        HydraulicHeads(soil, c, 0, k.gwDistance);
        EXPECT_NEAR(col.head[1], k.head1, 1e-9) << k.theta1;
        EXPECT_NEAR(col.head[2], k.head2, 1e-9) << k.theta2;
        EXPECT_NEAR(col.head[3], k.head3, 1e-9) << k.theta3;
        EXPECT_EQ(col.head[4], 12345);  // the lowest layer keeps its stored head
        for (int j = 1; j <= 3; ++j)
            if (col.suction[j] < 100) {
                EXPECT_NEAR(soil.ThetaFromSuction(j, col.suction[j]), col.thetaStart[j], 1e-12) << j;
            }
    }

    // A later pass averages the suction at the start with the iterate's.
    Column col(soil);
    col.SetTheta({W12, W01, W01, 0.45});
    SoilColumn c = col.View(4);
    HydraulicHeads(soil, c, 0, -1);
    col.thetaIter[1] = W01;
    HydraulicHeads(soil, c, 1, -1);
    EXPECT_NEAR(col.head[1], 99.9 - (1.2 + 0.1) / 2, 1e-9);
}

TEST(SoilColumnFluxes, DarcyFluxAgainstHandValues) {
    struct Case {
        double k, hUpper, hLower, dzUpper, dzLower, flux;
    };
    const Case cases[] = {
        {1e-5, 99.0, 99.0, 0.2, 0.2, 0},
        {1e-5, 99.0, 98.0, 0.2, 0.2, -5e-5},  // higher upper head: downward
        {1e-5, 98.0, 99.0, 0.1, 0.3, 5e-5},
        {2e-6, 97.0, 99.0, 0.5, 0.3, 1e-5},
        {1e-5, 99.0, 98.0, 0.0, 0.0, 0},  // no distance, no flux
    };
    for (const Case& k : cases)
        EXPECT_NEAR(DarcyFlux(k.k, k.hUpper, k.hLower, k.dzUpper, k.dzLower), k.flux, 1e-18) << k.hUpper;
}

TEST(SoilColumnFluxes, InterfaceConductivityMeans) {
    struct Case {
        double k1, k2, ks1, ks2, dz1, dz2, ratio;
        bool harmonic;
        double K;
    };
    const Case cases[] = {
        {0.3, 0.004, 1e-5, 2e-5, 0.2, 0.2, 1000, false, 3e-6},            // larger of the two
        {1, 1, 1e-5, 1e-6, 0.1, 0.3, 1000, true, 1.2903225806451612e-6},  // 4e-12 / 3.1e-6
        {0.5, 1e-5, 1e-5, 1e-5, 0.2, 0.2, 1000, true, 9.99000999000999e-9},  // k2 raised to 5e-4
        {0, 0.2, 1e-5, 1e-5, 0.2, 0.2, 1000, false, 2e-6},
        {0, 0, 1e-5, 1e-5, 0.2, 0.2, 1000, true, 0},
        {0.5, 0.5, 0, 1e-5, 0.2, 0.0, 1000, true, 0},  // no conductivity, no thickness: no division by zero
    };
    for (const Case& k : cases) {
        const double K = InterfaceConductivity(k.k1, k.k2, k.ks1, k.ks2, k.dz1, k.dz2, k.ratio, k.harmonic);
        EXPECT_NEAR(K, k.K, 1e-12 * std::max(1e-6, k.K)) << k.k1 << " " << k.k2;
        EXPECT_TRUE(std::isfinite(K));
    }
}

TEST(SoilColumnFluxes, TwoLayerLoamFluxAgainstHandValue) {
    const SoilType soil = Loam(2);
    Column col(soil);
    col.SetTheta({W12, W01});
    col.head[2] = 99.7 - 0.1;
    SoilColumn c = col.View(2);
    HydraulicHeads(soil, c, 0, -0.3);
    EXPECT_NEAR(col.head[1], 98.7, 1e-9);
    FluxSettings s;
    ComputeFluxes(soil, c, s, 2e-7, 1.0);
    // Harmonic mean of K1 = Kr(1.2) 1e-5 and K2 = Kr(0.1) 1e-5 over equal
    // thicknesses: 8.87054176528324e-08 m/s; head difference 0.9 m over 0.2 m.
    EXPECT_NEAR(col.flux[0], -2e-7, 1e-20);
    EXPECT_NEAR(col.flux[1], 3.991743794377458e-07, 1e-18);
    EXPECT_EQ(col.interflow[1], 0);
    EXPECT_NEAR(Kr12 * 1e-5, 4.498588142571186e-8, 1e-20);
    EXPECT_NEAR(soil.KrelFromTheta(1, W01, 1), Kr01, 1e-14);
}

TEST(SoilColumnFluxes, PermafrostCapsTheSurfaceFlux) {
    const SoilType soil = Loam(2);
    Column col(soil);
    col.SetTheta({W12, W01});
    SoilColumn c = col.View(2);
    FluxSettings s;
    s.permafrost = true;
    s.permafrostThawDepth = 0.1;
    s.permafrostKsat = 1e-9;
    ComputeFluxes(soil, c, s, 5e-6, 60);
    EXPECT_EQ(col.flux[0], -1e-9);
}

// The limiter keeps the heads in order and nothing more: a downward flux
// that fills the lower layer past saturation without turning the heads
// passes unchanged, and the redistribution pushes the excess back up through
// the saturated upper layer to the surface. The column ends saturated and
// its water balance closes.
TEST(SoilColumnLimiter, LayerFilledPastSaturationIsPutRightByTheRedistribution) {
    const SoilType soil = Loam(2);
    Column col(soil);
    col.SetTheta({0.45, 0.44});
    col.head[1] = 99.9;
    col.head[2] = 99.7 - soil.SuctionFromTheta(2, 0.44);
    SoilColumn c = col.View(2);
    const double q = -2e-5, dt = 600;  // 12 mm: the lower layer to theta 0.50
    const double limited = LimitInterfaceFlux(soil, c, 1, col.interflow, 0.45, 0.44, q, q, 0, dt);
    EXPECT_EQ(limited, q);
    col.flux[0] = q;
    col.flux[1] = limited;
    const double before = col.Water(col.thetaStart);
    RedistributeExcessWater(c, RiverSettings{false, 0}, 10, dt);
    int passCount = 0;
    UpdateTheta(c, 1, dt, passCount);
    // 12 mm offered at the surface, 2 mm of room: 10 mm stay out.
    EXPECT_NEAR(col.flux[0] * dt, -0.002, 1e-15);
    EXPECT_NEAR(col.thetaNew[1], 0.45, 1e-14);
    EXPECT_NEAR(col.thetaNew[2], 0.45, 1e-14);
    EXPECT_NEAR(col.Water(col.thetaNew), before - col.flux[0] * dt, 1e-15);
}

TEST(SoilColumnLimiter, ScalesFluxAndInterflowTogetherOnOvershoot) {
    const SoilType soil = Loam(2);
    Column col(soil);
    col.SetTheta({W345, W01});
    col.head[1] = 99.9 - 3.45;
    col.head[2] = 99.7 - 0.1;
    col.interflow[1] = 1e-6;
    SoilColumn c = col.View(2);
    const double q = 4e-4, dt = 100;
    // Moving 4 cm of water upward would turn the upper layer's head above the lower's.
    const double result = LimitInterfaceFlux(soil, c, 1, col.interflow, W345, W01, 0, q, 0, dt);
    ASSERT_GT(result, 0);
    ASSERT_LT(result, q);
    EXPECT_NEAR(col.interflow[1] / 1e-6, result / q, 1e-12);
    const double t1 = W345 + (result - col.interflow[1]) * dt / 0.2, t2 = W01 - result * dt / 0.2;
    const double h1 = 99.9 - soil.SuctionFromTheta(1, t1), h2 = 99.7 - soil.SuctionFromTheta(2, t2);
    EXPECT_GE(h2, h1 - 0.001);

    // Without overshoot the flux passes unchanged.
    col.interflow[1] = 1e-6;
    EXPECT_EQ(LimitInterfaceFlux(soil, c, 1, col.interflow, W345, W01, 0, 1e-7, 0, dt), 1e-7);
    EXPECT_EQ(col.interflow[1], 1e-6);

    // A flux that is not a number (from a head that is not) moves no water.
    EXPECT_EQ(LimitInterfaceFlux(soil, c, 1, col.interflow, W345, W01, 0, std::nan(""), 0, dt), 0);
}

TEST(SoilColumnBalance, RedistributionAndUpdateConserveWater) {
    struct Case {
        int layers, g;
        RiverSettings river;
        unsigned seed;
    };
    const Case cases[] = {
        {5, 5, {false, 0}, 1},
        {5, 5, {true, 2}, 2},
        {5, 5, {true, 1}, 3},
        {6, 1, {false, 0}, 4},  // redistribution reaches below the groundwater layer
        {6, 1, {true, 2}, 5},
    };
    for (const Case& k : cases) {
        const SoilType soil = Loam(k.layers);
        std::mt19937 random(k.seed);
        std::uniform_real_distribution<double> theta(0.06, 0.44), flux(-3e-5, 3e-5), positive(0, 5e-6);
        for (int trial = 0; trial < 50; ++trial) {
            Column col(soil);
            std::vector<double> start;
            for (int j = 1; j <= k.layers; ++j) start.push_back(theta(random));
            col.SetTheta(start);
            for (int j = 0; j <= k.layers; ++j) col.flux[j] = flux(random);
            for (int j = 1; j <= k.layers; ++j) {
                col.interflow[j] = positive(random);
                col.riverIn[j] = trial % 2 ? positive(random) : 0;
                col.riverEx[j] = trial % 3 ? positive(random) : 0;
            }
            SoilColumn c = col.View(k.g);
            double inBefore = 0, exBefore = 0;
            for (int j = 1; j <= k.layers; ++j) {
                inBefore += col.riverIn[j];
                exBefore += col.riverEx[j];
            }
            c.riverInfiltrationTotal = inBefore;
            c.riverExfiltrationTotal = exBefore;
            const double dt = 900;
            RedistributeExcessWater(c, k.river, 10, dt);
            int passCount = 0;
            UpdateTheta(c, 1, dt, passCount);

            double in = 0, ex = 0, lateral = 0;
            for (int j = 1; j <= k.layers; ++j) {
                in += col.riverIn[j];
                ex += col.riverEx[j];
                lateral += col.interflow[j];
                EXPECT_GE(col.interflow[j], 0);
            }
            EXPECT_NEAR(c.riverInfiltrationTotal, in, 1e-18);
            EXPECT_NEAR(c.riverExfiltrationTotal, ex, 1e-18);
            const double outflow = (col.flux[0] - col.flux[k.layers] + lateral + ex - in) * dt;
            EXPECT_NEAR(col.Water(col.thetaStart), col.Water(col.thetaNew) + outflow, 1e-12)
                << "layers " << k.layers << " trial " << trial;
        }
    }
}

TEST(SoilColumnUpdate, RunningMeanOfIterates) {
    const SoilType soil = Loam(2);
    Column col(soil);
    col.SetTheta({0.3, 0.3});
    SoilColumn c = col.View(2);
    int passCount = 0;
    const double dt = 1000;
    // Layer 1 loses 0.2 m x 0.01 per pass raw: raw iterates 0.29, 0.28, ...
    struct Step {
        int pass;
        double q0, iter;
    };
    // pass 1-3: mean of previous raw and new raw; pass 4: 1:1 with the
    // iterate, 5: 2:1, 6: 3:1.
    const Step steps[] = {
        {1, 2e-6, (0.3 + 0.29) / 2}, {2, 2e-6, 0.29}, {3, 4e-6, (0.29 + 0.28) / 2},
        {4, 4e-6, (0.285 + 0.28) / 2}, {5, 2e-6, (2 * 0.2825 + 0.29) / 3}, {6, 2e-6, (3 * 0.285 + 0.29) / 4},
    };
    for (const Step& s : steps) {
        col.flux[0] = s.q0;
        const double before = col.thetaNew[1];
        const double change = UpdateTheta(c, s.pass, dt, passCount);
        const double raw = 0.3 - s.q0 * dt / 0.2;
        EXPECT_NEAR(col.thetaNew[1], raw, 1e-15);
        EXPECT_NEAR(change, std::fabs(raw - before), 1e-15);
        EXPECT_NEAR(col.thetaIter[1], s.iter, 1e-15) << "pass " << s.pass;
        if (s.pass >= 4) {
            EXPECT_EQ(passCount, s.pass - 3);
        }
    }
}

TEST(SoilColumnSteadyState, HydrostaticColumnStaysAtRest) {
    // Table at 99.3 m in layer 4; the layers above hold the content of their
    // height above it, the layers at and below are saturated.
    const SoilType soil = Loam(5);
    Column col(soil);
    col.SetTheta({soil.ThetaFromSuction(1, 0.6), soil.ThetaFromSuction(2, 0.4), soil.ThetaFromSuction(3, 0.2), 0.45,
                  0.45});
    col.head[5] = 99.3;
    SoilColumn c = col.View(4);
    FluxSettings s;
    s.groundwaterDistance = -0.7;
    const std::vector<double> start = col.thetaStart;
    int passCount = 0;
    for (int pass = 0; pass < 6; ++pass) {
        HydraulicHeads(soil, c, pass, s.groundwaterDistance);
        for (int j = 1; j <= 5; ++j) EXPECT_NEAR(col.head[j], 99.3, 1e-12) << j;
        ComputeFluxes(soil, c, s, 0, 900);
        RedistributeExcessWater(c, RiverSettings{}, 10, 900);
        UpdateTheta(c, pass + 1, 900, passCount);
        for (int j = 0; j <= 5; ++j) EXPECT_NEAR(col.flux[j], 0, 1e-16) << j;
        for (int j = 1; j <= 5; ++j) EXPECT_NEAR(col.thetaNew[j], start[j], 1e-12) << j;
    }
}

TEST(SoilColumnMeanWater, IntervalsOfTheProfile) {
    const std::vector<double> dz = {0, 0.1, 0.2, 0.3};
    const std::vector<double> theta = {0, 0.2, 0.3, 0.4};
    const std::vector<double> sat = {0, 0.4, 0.4, 0.5};
    struct Case {
        int mode;
        double top, bottom, expected;
    };
    const Case cases[] = {
        {1, 0, 9999, 0.02 + 0.06 + 0.12 - 0.4 * 1e-8},
        {1, 0.2, 0.2, 1},                    // empty interval
        {1, 0.15, 0.25, 0.3 * 0.1},          // inside layer 2
        {2, 0.15, 0.25, 0.75},               // theta / thetaSat
        {1, 0.05, 0.45, 0.2 * 0.05 + 0.06 + 0.4 * 0.15},
        {2, 0.0, 0.3, (0.5 * 0.1 + 0.75 * 0.2) / 0.3},
        {1, 0.1, 0.6 - 1e-8, 0.06 + 0.12 - 0.4 * 1e-8},  // top on a boundary
        {1, 0.1, 0.0, -9999},                            // bottom at the surface
        {1, -0.01, 0.3, -9999},                          // top above the surface
    };
    for (const Case& k : cases)
        EXPECT_NEAR(MeanWaterContent(dz, theta, sat, 3, k.mode, k.top, k.bottom, -9999), k.expected, 1e-12)
            << k.mode << " " << k.top << " " << k.bottom;
}

TEST(SoilColumnLimiter, BothHeadsReadFromTheUpperLayersCurve) {
    // A fine lower layer (alpha 0.5 1/m) under the loam holds at 1.05 m
    // suction a content that the loam's curve reads as a small suction: on
    // that curve the lower head lies above the upper one for any downward
    // step, so every trial overshoots and the flux and the layer's interflow
    // are scaled by 2^-51, the smallest share the 51 trials reach.
    SoilType soil = Loam(2);
    soil.alpha[2] = 0.5;
    soil.MakeHydraulicTables(2);
    Column col(soil);
    const double theta2 = soil.ThetaFromSuction(2, 1.05);
    col.SetTheta({W12, theta2});
    col.head[1] = 99.9 - 1.2;
    col.head[2] = 99.7 - soil.SuctionFromTheta(2, theta2);
    ASSERT_GT(col.head[1], col.head[2]);
    ASSERT_GT(99.7 - soil.SuctionFromTheta(1, theta2), col.head[1] + 0.001);
    col.interflow[1] = 1e-7;
    SoilColumn c = col.View(2);
    EXPECT_EQ(LimitInterfaceFlux(soil, c, 1, col.interflow, W12, theta2, 0, -1e-9, 0, 60), std::ldexp(-1e-9, -51));
    EXPECT_EQ(col.interflow[1], std::ldexp(1e-7, -51));
}

namespace {

// The limiter as a plain bisection of all its trials, both heads from the
// upper layer's suction lookup and no other bound: the oracle for the
// limiter, which stops its trials once their outcome is settled.
double PlainLimiter(const SoilType& soil, const SoilColumn& c, int L, std::vector<double>& interflow,
                    double thetaUpper, double thetaLower, double fluxAbove, double flux, double fluxBelow,
                    double dt) {
    const double dz1 = c.boundaryElevation[L - 1] - c.boundaryElevation[L];
    const double dz2 = c.boundaryElevation[L] - c.boundaryElevation[L + 1];
    if (!(dz1 > 0) || !(dz2 > 0) || !(dt > 0) || !std::isfinite(flux)) return 0;
    const double interflowBelow = interflow[L + 1];
    auto upper = [&](double q, double i) { return thetaUpper + (q - fluxAbove - i) * dt / dz1; };
    auto lower = [&](double q) { return thetaLower + (fluxBelow - interflowBelow - q) * dt / dz2; };
    const double centre1 = (c.boundaryElevation[L - 1] + c.boundaryElevation[L]) / 2;
    const double centre2 = (c.boundaryElevation[L] + c.boundaryElevation[L + 1]) / 2;
    auto h1 = [&](double t) { return centre1 - soil.SuctionFromTheta(L, t); };
    auto h2 = [&](double t) { return centre2 - soil.SuctionFromTheta(L, t); };
    const double sat1 = c.thetaSat[L];
    double q = flux;
    const double i0 = interflow[L];
    if (upper(q, i0) > sat1 && q > 0) {
        const double ratio = std::fabs((sat1 - thetaUpper) * dz1 / dt) / q;
        q = ratio < 1 ? q * ratio : 0;
    }
    const double hU = c.hydraulicHead[L], hL = c.hydraulicHead[L + 1];
    auto overshoots = [&](double a, double b) { return (hU > hL && b > a + 0.001) || (hU < hL && b < a - 0.001); };
    if (!overshoots(h1(upper(q, i0)), h2(lower(q)))) return q;
    double scale = 1, step = 0.5;
    bool down = true;
    for (int trial = 0; trial < 51; ++trial) {
        scale = down ? scale - step : scale + step;
        const double a = h1(upper(q * scale, i0 * scale)), b = h2(lower(q * scale));
        step /= 2;
        if (overshoots(a, b))
            down = true;
        else if (std::fabs(b - a) <= 0.001)
            break;
        else
            down = false;
    }
    interflow[L] = i0 * scale;
    return q * scale;
}

}  // namespace

TEST(SoilColumnLimiter, SameFluxAndInterflowAsThePlainBisection) {
    // Layer 2 coarse and steep near saturation, layer 3 fine; contents
    // anywhere from below residual to above saturation, fluxes from a few
    // micrometres to metres per hour, heads in either order or equal.
    SoilType soil = Loam(3);
    soil.alpha[2] = 8;
    soil.Par_n[2] = 3;
    soil.Par_m[2] = 1 - 1 / 3.0;
    soil.theta_res[2] = 0.02;
    soil.theta_sat[2] = 0.38;
    soil.MakeHydraulicTables(2);
    soil.alpha[3] = 0.5;
    soil.Par_n[3] = 1.2;
    soil.Par_m[3] = 1 - 1 / 1.2;
    soil.MakeHydraulicTables(3);
    Column col(soil);
    std::mt19937 random(7);
    std::uniform_real_distribution<double> unit(0, 1);
    auto logUniform = [&](double lo, double hi) { return lo * std::pow(hi / lo, unit(random)); };
    auto sign = [&] { return unit(random) < 0.5 ? -1.0 : 1.0; };
    const int cases = 20000;
    int changed = 0;
    for (int k = 0; k < cases; ++k) {
        const int L = 1 + static_cast<int>(unit(random) * 2);
        std::vector<double> theta(3);
        for (double& t : theta) t = 0.01 + 0.46 * unit(random);
        col.SetTheta(theta);
        SoilColumn c = col.View(3);
        const double thetaUpper = col.thetaStart[L], thetaLower = col.thetaStart[L + 1];
        const double centre1 = (col.elevation[L - 1] + col.elevation[L]) / 2;
        const double centre2 = (col.elevation[L] + col.elevation[L + 1]) / 2;
        const int order = static_cast<int>(unit(random) * 3);
        col.head[L] = centre1 - soil.SuctionFromTheta(L, thetaUpper);
        col.head[L + 1] = order == 0 ? col.head[L] : centre2 - soil.SuctionFromTheta(L + 1, thetaLower);
        if (order == 2) std::swap(col.head[L], col.head[L + 1]);
        std::fill(col.interflow.begin(), col.interflow.end(), 0.0);
        if (unit(random) < 0.5) col.interflow[L] = logUniform(1e-9, 1e-5);
        if (unit(random) < 0.3) col.interflow[L + 1] = logUniform(1e-9, 1e-5);
        const double dt = std::vector<double>{60, 600, 3600}[static_cast<size_t>(unit(random) * 3)];
        const double q = sign() * logUniform(1e-9, 1e-3);
        const double above = unit(random) < 0.5 ? 0.0 : sign() * logUniform(1e-9, 1e-4);
        const double below = unit(random) < 0.5 ? 0.0 : sign() * logUniform(1e-9, 1e-4);

        std::vector<double> expectedInterflow = col.interflow;
        const double expected =
            PlainLimiter(soil, c, L, expectedInterflow, thetaUpper, thetaLower, above, q, below, dt);
        const double result =
            LimitInterfaceFlux(soil, c, L, col.interflow, thetaUpper, thetaLower, above, q, below, dt);
        ASSERT_EQ(std::memcmp(&result, &expected, sizeof result), 0)
            << "case " << k << ": flux " << result << ", expected " << expected;
        ASSERT_EQ(std::memcmp(&col.interflow[L], &expectedInterflow[L], sizeof(double)), 0)
            << "case " << k << ": interflow " << col.interflow[L] << ", expected " << expectedInterflow[L];
        if (result != q) ++changed;
    }
    // The cases exercise the limiter, not only its pass-through.
    EXPECT_GT(changed, cases / 10);
}
