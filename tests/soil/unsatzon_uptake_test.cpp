// Kernels of the soil-column cell step: root weights and stress, macropores,
// the baseflow law, supply and drainage at the table, iteration control.

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "parameters/soil.h"
#include "soil/unsatzon_uptake.h"

namespace {

// n layers of `dz` m of one loam.
SoilType Loam(int n, double dz) {
    SoilType soil(1);
    soil.CreateLayers(n, 0);
    for (int l = 0; l <= n; ++l) {
        soil.theta_sat[l] = 0.45;
        soil.theta_res[l] = 0.05;
        soil.alpha[l] = 2;
        soil.Par_n[l] = 1.5;
        soil.Par_m[l] = 1 - 1 / 1.5;
        soil.Par_tau[l] = 0.5;
        soil.ksat[l] = 1e-5;
        soil.thickness[l] = dz;
        soil.MakeHydraulicTables(l);
    }
    return soil;
}

std::vector<double> Boundaries(const SoilType& soil, int n, double surface = 100) {
    std::vector<double> e(static_cast<size_t>(n) + 1);
    e[0] = surface;
    for (int k = 1; k <= n; ++k) e[static_cast<size_t>(k)] = e[static_cast<size_t>(k) - 1] - soil.thickness[static_cast<size_t>(k)];
    return e;
}

struct Uptake {
    std::vector<double> fraction, weight, transpiration, etr, evaporation;
    int layers = 0;
    double rootDepth = 0;
};

Uptake RunUptake(const SoilType& soil, int n, const unsatzon::RootParameters& p, std::vector<double> theta,
                 double rootDepth, double tp, int g, double evaporation = 0, double evapMaxDepth = 0.1) {
    Uptake u;
    const size_t n1 = static_cast<size_t>(n) + 1;
    for (auto* v : {&u.fraction, &u.weight, &u.transpiration, &u.etr, &u.evaporation}) v->assign(n1, 0.0);
    const std::vector<double> e = Boundaries(soil, n);
    u.rootDepth = rootDepth;
    u.layers = unsatzon::RootWaterUptake(soil, p, evaporation, 3600, evapMaxDepth, u.rootDepth, 1.0, tp, n,
                                         soil.thickness, soil.theta_sat, soil.theta_res, theta, e, u.fraction,
                                         u.transpiration, u.etr, u.weight, u.evaporation, g);
    return u;
}

}  // namespace

TEST(SoilUptake, RootWeightsAndStress) {
    const SoilType soil = Loam(2, 0.5);
    const double tp = 1e-7;
    const double wet = 0.95 * 0.45;
    struct Case {
        const char* what;
        double rootDist, rootDepth, theta1, limitReduWet;
        int layers;
        double w1, w2, evaporated;  // weights after stress, evaporation as a share of tp
    };
    const Case cases[] = {
        {"linear density", 0, 1.0, 0.3, 0.4, 2, 0.75, 0.25, 0},
        {"RootDist 1", 1, 1.0, 0.3, 0.4, 2, 0.46875 / 0.6875, 0.21875 / 0.6875, 0},
        {"roots shallower than layer 1", 0, 0.1, 0.3, 0.4, 2, 1, 0, 0},
        {"at TReduWet times saturation", 0, 1.0, wet, 0.4, 2, 0.75, 0.25, 0},
        // f = 0.4 at saturation: 0.45 of layer 1's weight moves down
        {"saturated top layer", 0, 1.0, 0.45, 0.4, 2, 0.3, 0.7, 0},
        // f = 0: 0.75 is more than twice 0.25; layer 2 ends at three times its
        // weight and the rest goes to soil evaporation
        {"capped transfer", 0, 1.0, 0.45, 0.0, 2, 0, 0.75, 0.25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const unsatzon::RootParameters p{c.rootDist, 150, 0.95, c.limitReduWet};
        const Uptake u = RunUptake(soil, 2, p, {0.45, c.theta1, 0.3}, c.rootDepth, tp, 3);
        ASSERT_EQ(u.layers, c.layers);
        EXPECT_NEAR(u.weight[1], c.w1, 1e-9);
        EXPECT_NEAR(u.transpiration[1], c.w1 * tp, 1e-18);
        EXPECT_NEAR(u.transpiration[2], c.w2 * tp, 1e-18);
        EXPECT_NEAR(u.etr[0], c.evaporated * tp, 1e-18);
        EXPECT_NEAR(u.evaporation[1], c.evaporated * tp, 1e-18);
        EXPECT_GE(u.rootDepth, 0.5);
    }
    // A shallow root zone is raised to layer 1 and takes all from it.
    const Uptake shallow = RunUptake(soil, 2, {0, 150, 0.95, 0.4}, {0.45, 0.3, 0.3}, 0.1, tp, 3);
    EXPECT_EQ(shallow.rootDepth, 0.5);
    EXPECT_NEAR(shallow.fraction[1], 1, 1e-4);
    // A stressed layer at or below the groundwater layer passes nothing down.
    const Uptake atTable = RunUptake(soil, 2, {0, 150, 0.95, 0.0}, {0.45, 0.45, 0.3}, 1.0, tp, 1);
    EXPECT_NEAR(atTable.weight[2], 0.25, 1e-12);
    EXPECT_NEAR(atTable.etr[0], 0.75 * tp, 1e-18);
}

TEST(SoilUptake, UptakeBelowTheTableDrawsFromTheTableLayerDown) {
    const SoilType soil = Loam(4, 0.25);
    const double fc = soil.ThetaFromSuction(2, unsatzon::FieldCapacitySuctionM);
    struct Case {
        const char* what;
        std::vector<double> theta;
        std::vector<double> transpiration;
        double taken;  // [m/s]
    };
    const double dt = 3600, dz = 0.25;
    const double plenty = 1e-7;
    const Case cases[] = {
        // g = 2: layers 1 and 2 give their own, layer 3 draws from layer 2
        {"source holds enough", {0, 0.3, fc + 0.1, 0.45, 0.45}, {0, 1e-8, 1e-8, 1e-8, 0}, 3e-8},
        // layer 2 empties to field capacity, layer 3 serves the rest
        {"source moves down", {0, 0.3, fc + 0.001, 0.45, 0.45}, {0, 0, 0, plenty, 0}, plenty},
        // layer 2 is at field capacity: the demand stays unserved
        {"source dry", {0, 0.3, fc, 0.45, 0.45}, {0, 0, 0, plenty, 0}, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<double> theta = c.theta, lt = c.transpiration;
        double before = 0;
        for (int k = 1; k <= 4; ++k) before += theta[static_cast<size_t>(k)] * dz;
        const double taken = unsatzon::ApplyRootUptake(soil, 4, 2, 4, dt, soil.thickness, soil.theta_res, theta, lt);
        double after = 0;
        for (int k = 1; k <= 4; ++k) after += theta[static_cast<size_t>(k)] * dz;
        EXPECT_NEAR(taken, c.taken, 1e-20 + 1e-9 * c.taken);
        // the water taken is the water that left the layers
        EXPECT_NEAR((before - after) / dt, taken, 1e-19 + 1e-12 * taken);
        EXPECT_GE(theta[2], fc - 1e-15);
    }
}

TEST(SoilUptake, Macropores) {
    const double scale = 3.6e6;  // one hour
    struct Case {
        const char* what;
        int layers;
        double rate, threshold, capacity, depth, redu;
        double expected;  // [mm]
    };
    const Case cases[] = {
        {"fills from the deepest layer", 3, 5e-5, 1e-5, 2e-5, 0.3, 1.0, 72},
        {"rate at the threshold", 3, 1e-5, 1e-5, 2e-5, 0.3, 1.0, 0},
        {"zone shallower than half layer 1", 3, 5e-5, 1e-5, 2e-5, 0.04, 1.0, 0},
        {"capacity falling with depth", 3, 5e-5, 1e-5, 2e-5, 0.3, 0.01, -1},
        {"one layer, deep zone", 1, 5e-5, 1e-5, 2e-5, 5.0, 1.0, 25},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SoilType soil = Loam(c.layers, 0.1);
        soil.PMacroThresh = c.threshold;
        soil.MacroCapacity = c.capacity;
        soil.MacroDepth = c.depth;
        soil.CapacityRedu = c.redu;
        const size_t n1 = static_cast<size_t>(c.layers) + 1;
        std::vector<double> theta(n1, 0.2), capacity(n1, 0), inflow(n1, 0);
        const std::vector<double> before = theta;
        double rate = c.rate;
        const double mm = unsatzon::MacroporeInfiltration(rate, soil, c.layers, soil.thickness, capacity,
                                                          soil.theta_sat, scale, theta, inflow);
        if (c.expected >= 0) {
            EXPECT_NEAR(mm, c.expected, 1e-9);
        }
        double stored = 0;
        for (size_t k = 1; k < n1; ++k) {
            stored += (theta[k] - before[k]) * 0.1 * 1000;
            EXPECT_LE(theta[k], 0.45 + 1e-15);
        }
        EXPECT_NEAR(stored, mm, 1e-9);
        EXPECT_NEAR((c.rate - rate) * scale, mm, 1e-9);
        if (c.redu == 1.0 && mm > 0) {
            for (size_t k = 1; k < n1; ++k) EXPECT_EQ(capacity[k], c.capacity);
        }
        if (c.redu < 1) {
            EXPECT_GT(capacity[1], capacity[2]);
            EXPECT_GT(capacity[2], capacity[3]);
        }
    }
}

TEST(SoilUptake, BaseflowLaw) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        double q0, distance, kelsqlat, expected;
    };
    const Case cases[] = {
        {2, 0, inf, 2},      // table at the surface, constant 0 in the section
        {2, -0.5, inf, 0},   // below the surface
        {2, -0.5, 2, 2 * std::exp(-1.0)},
        {2, -3, 0, 2},       // a negative constant: no recession
    };
    for (const Case& c : cases) {
        const double q = unsatzon::BaseflowLaw(c.q0, c.distance, c.kelsqlat);
        EXPECT_FALSE(std::isnan(q));
        EXPECT_DOUBLE_EQ(q, c.expected);
    }
}

TEST(SoilUptake, SupplyAndDrainageAtTheTable) {
    const SoilType soil = Loam(4, 0.25);
    const double dt = 3600, dz = 0.25;
    const double fc = soil.ThetaFromSuction(3, unsatzon::FieldCapacitySuctionM);
    // Supply: layers 3 and 4 are saturated; layer 2 then layer 1 fill up, the
    // rest stays in element 0.
    {
        std::vector<double> theta{0, 0.3, 0.4, 0.45, 0.45}, supply(5, 0);
        const double y = ((0.45 - 0.4) + (0.45 - 0.3)) * dz / dt + 1e-8;
        unsatzon::SupplyFromBelow(y, 4, dt, soil.thickness, soil.theta_sat, theta, supply);
        EXPECT_DOUBLE_EQ(theta[1], 0.45);
        EXPECT_DOUBLE_EQ(theta[2], 0.45);
        EXPECT_NEAR(supply[0], 1e-8, 1e-20);
        EXPECT_NEAR(supply[0] + supply[1] + supply[2], y, 1e-20);
        EXPECT_EQ(unsatzon::GroundwaterLayerOf(4, soil.theta_sat, theta), 1);
    }
    // Drainage: layer 3 gives what it holds above field capacity, layer 4 the
    // rest; the table moves down by one.
    {
        std::vector<double> theta{0, 0.3, 0.3, fc + 0.01, 0.45}, withdrawal(5, 0);
        const double y = 0.02 * dz / dt;
        int g = 3;
        const double unmet = unsatzon::DrainBaseflow(soil, y, g, 4, dt, soil.thickness, theta, withdrawal);
        EXPECT_EQ(unmet, 0);
        EXPECT_EQ(g, 4);
        EXPECT_DOUBLE_EQ(theta[3], fc);
        EXPECT_NEAR(withdrawal[3] + withdrawal[4], y, 1e-20);
        EXPECT_NEAR(theta[4], 0.44, 1e-12);
    }
    // All layers at field capacity: nothing is given, g stops at n.
    {
        std::vector<double> theta{0, 0.3, 0.3, fc, fc}, withdrawal(5, 0);
        int g = 3;
        const double unmet = unsatzon::DrainBaseflow(soil, 1e-7, g, 4, dt, soil.thickness, theta, withdrawal);
        EXPECT_EQ(unmet, 1e-7);
        EXPECT_EQ(g, 4);
    }
    // What the groundwater model moved on from such a column comes from the
    // water above the residual content, deepest layer first: layer 4 gives
    // all it holds above it, layer 3 the rest; a column at its residual
    // content everywhere gives nothing.
    {
        const double r3 = soil.theta_res[3], r4 = soil.theta_res[4];
        std::vector<double> theta{0, 0.3, 0.3, fc, fc}, withdrawal(5, 0);
        const double y = ((fc - r4) * dz + 0.5 * (fc - r3) * dz) / dt;
        const double unmet = unsatzon::DrainBelowFieldCapacity(y, 4, dt, soil.thickness, soil.theta_res, theta,
                                                               withdrawal);
        EXPECT_EQ(unmet, 0);
        EXPECT_EQ(theta[4], r4);
        EXPECT_NEAR(theta[3], fc - 0.5 * (fc - r3), 1e-12);
        EXPECT_EQ(theta[2], 0.3);
        EXPECT_NEAR(withdrawal[3] + withdrawal[4], y, 1e-18);
        std::vector<double> dry(soil.theta_res.begin(), soil.theta_res.begin() + 5);
        std::vector<double> none(5, 0);
        EXPECT_EQ(unsatzon::DrainBelowFieldCapacity(1e-7, 4, dt, soil.thickness, soil.theta_res, dry, none), 1e-7);
        EXPECT_EQ(none[1] + none[2] + none[3] + none[4], 0);
    }
}

TEST(SoilUptake, IterationControl) {
    struct Case {
        const char* what;
        double change, maxError, maxIterations;
        int passes;
    };
    const Case cases[] = {
        {"converged at once", 1e-6, 1e-5, 100, 1},
        // the tolerance widens to 5e-5 at pass 21
        {"constant change 3e-5", 3e-5, 1e-5, 100, 21},
        {"never converging", 1.0, 1e-5, 100, 100},
        {"more passes allowed", 1.0, 1e-5, 101, 101},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        int calls = 0;
        const unsatzon::IterationResult r = unsatzon::Iterate(c.maxError, c.maxIterations, [&](int pass) {
            EXPECT_EQ(pass, ++calls);
            return c.change;
        });
        EXPECT_EQ(r.passes, c.passes);
        EXPECT_EQ(calls, c.passes);
        EXPECT_EQ(r.lastChange, c.change);
        EXPECT_EQ(r.passes > unsatzon::ReportedPasses, c.passes == 101);
    }
}

TEST(SoilUptake, StepCounts) {
    struct Case {
        double subStep, minimum, travel;
        int expected;
    };
    const Case cases[] = {
        {3600, 30, 100, 36},     // ceil(3600 / 100)
        {3600, 300, 100, 12},    // the minimum step holds
        {3600, 4000, 100, 1},    // minimum above the sub-step
        {3600, 30, std::numeric_limits<double>::infinity(), 1},  // no layer: one step
        {3600, 0, 1e-9, 3600},   // never shorter than a second
    };
    for (const Case& c : cases)
        EXPECT_EQ(unsatzon::DynamicIterationSteps(c.subStep, c.minimum, c.travel), c.expected) << c.travel;

    struct Heat {
        int U, s, U2, s2, perStep;
    };
    const Heat heat[] = {{1, 1, 1, 1, 1}, {2, 3, 3, 3, 1}, {2, 5, 2, 6, 3}, {4, 2, 4, 4, 1}};
    for (const Heat& h : heat) {
        int U = h.U, s = h.s;
        EXPECT_EQ(unsatzon::ReconcileHeatSteps(U, s), h.perStep);
        EXPECT_EQ(U, h.U2);
        EXPECT_EQ(s, h.s2);
    }
}
