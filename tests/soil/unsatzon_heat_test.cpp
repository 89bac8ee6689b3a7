// Soil heat kernels against hand values and physical invariants: the
// conductivity of dry and wet soil, a steady linear profile that both steps
// keep, the implicit step converging to it, methods 11 and 12 agreeing
// without water flux, warm water warming cold soil without overshoot, the
// flux lower boundary, the limiter and the initial profile.

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <vector>

#include "soil/unsatzon_cell.h"
#include "soil/unsatzon_heat.h"
#include "parameters/soil.h"
#include "soil/unsatzon_heat_physics.h"

namespace {

using V = std::vector<double>;

struct HeatColumn {
    int n;
    V lambda, C, dz, T0, T, a, b, c, r, flux, macro, water, change;
    HeatColumn(int layers, double thickness, double conductivity, double capacity)
        : n(layers), lambda(layers + 1, conductivity), C(layers + 1, capacity), dz(layers + 1, thickness),
          T0(layers + 1, 0.0), T(layers + 1, 0.0), a(layers + 1), b(layers + 1), c(layers + 1), r(layers + 1),
          flux(layers + 1, 0.0), macro(layers + 1, 0.0), water(layers + 1, 0.0), change(layers + 1, 0.0) {}
    void Implicit(const unsatzon::ImplicitHeatStep& s) {
        unsatzon::SolveHeatConduction(n, lambda, C, dz, s, T0, macro, water, a, b, c, r, T);
    }
    void Explicit(double air, double nf, double low, long seconds) {
        unsatzon::HeatFluxes(flux, n, lambda, dz, T0, low, air, nf);
        unsatzon::TemperatureChange(change, n, flux, dz, C, seconds);
        T = T0;
        unsatzon::ApplyTemperatureChange(n, T, T0, change, flux, true, low, air);
    }
};

}  // namespace

TEST(SoilHeat, ConductivityByHand) {
    struct Case {
        const char* what;
        double phi, theta, f, expected;
    };
    const double lw = 0.5562, li = 2.33, ls = 3;
    const Case cases[] = {
        {"dry", 0.4, 0, 1, 0.0262 * 0.4 + 0.6 * 3},
        {"saturated, unfrozen", 0.4, 0.4, 1, std::pow(3, 0.6) * std::pow(lw, 0.4)},
        {"saturated, unfrozen for any theta within 0.01", 0.4, 0.395, 1, std::pow(3, 0.6) * std::pow(lw, 0.4)},
        {"saturated, just frozen", 0.4, 0.4, 0.98,
         std::pow(3, 0.6) * std::pow(lw, 0.98 * 0.4) * std::pow(li, 0.02 * 0.4)},
        {"moist, half frozen", 0.4, 0.2, 0.5,
         0.0262 * 0.2 + 0.8 * std::pow(3, 0.6 / 0.8) * std::pow(lw, 0.1 / 0.8) * std::pow(li, 0.1 / 0.8)},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        EXPECT_NEAR(unsatzon::LayerConductivity(k.phi, k.theta, k.f, ls, lw, li), k.expected, 1e-12);
    }
    EXPECT_NEAR(unsatzon::LayerConductivity(0.4, 0, 1, 3, lw, li), 1.81048, 1e-12);
    EXPECT_NEAR(unsatzon::LayerConductivity(0.4, 0.4, 1, 3, lw, li), 1.528851, 1e-6);
    // latent heat term: zero at or below the residual content
    V theta{0, 0.3, 0.05, 0.02}, res{0, 0.05, 0.05, 0.05}, slope{0, 0.1, 0.1, 0.1};
    unsatzon::LatentHeat(3, theta, res, 334000, 1000, slope);
    EXPECT_DOUBLE_EQ(slope[1], 334000 * 1000 * 0.25 * 0.1);
    EXPECT_EQ(slope[2], 0);
    EXPECT_EQ(slope[3], 0);
}

// Ten layers of 0.1 m, nf Tair 5 degC, 10 degC below: the linear profile
// through the layer centres is steady.
TEST(SoilHeat, SteadyLinearProfile) {
    HeatColumn h(10, 0.1, 1.2, 2.5e6);
    for (int k = 1; k <= 10; ++k) h.T0[static_cast<size_t>(k)] = 5 + 5 * (k - 0.5) / 10;
    h.Explicit(10, 0.5, 10, 600);
    for (int k = 1; k <= 10; ++k) EXPECT_NEAR(h.T[static_cast<size_t>(k)], h.T0[static_cast<size_t>(k)], 1e-10);
    unsatzon::ImplicitHeatStep s{3600, 0.5, 10, 10, 10, false};
    for (bool advection : {false, true}) {
        s.advection = advection;
        h.Implicit(s);
        for (int k = 1; k <= 10; ++k)
            EXPECT_NEAR(h.T[static_cast<size_t>(k)], h.T0[static_cast<size_t>(k)], 1e-10) << k;
    }
    // from a uniform 7 degC the implicit step runs into the same line
    const V steady = h.T0;
    std::fill(h.T0.begin(), h.T0.end(), 7.0);
    s.advection = false;
    s.dt = 86400;
    for (int step = 0; step < 2000; ++step) {
        h.Implicit(s);
        h.T0 = h.T;
    }
    for (int k = 1; k <= 10; ++k) EXPECT_NEAR(h.T[static_cast<size_t>(k)], steady[static_cast<size_t>(k)], 1e-8);
}

TEST(SoilHeat, MethodsAgreeWithoutWaterAndAdvectionWarmsTowardTheInflow) {
    HeatColumn h(5, 0.2, 1.0, 2e6);
    for (int k = 1; k <= 5; ++k) h.T0[static_cast<size_t>(k)] = k - 2.5;
    unsatzon::ImplicitHeatStep s{1800, 0.8, -3, -3, 6, false};
    h.Implicit(s);
    const V method11 = h.T;
    s.advection = true;
    h.Implicit(s);
    for (int k = 1; k <= 5; ++k) EXPECT_EQ(h.T[static_cast<size_t>(k)], method11[static_cast<size_t>(k)]);

    // 10 degC water entering soil at 0 degC, from above, from below and
    // through macropores: warmer, never outside [0, 10]
    struct Case {
        const char* what;
        int layer;
        double top, bottom, macro;  // water fluxes [m/s]
    };
    const Case cases[] = {
        {"from above", 3, -1e-5, -1e-5, 0},
        {"from below", 3, 1e-5, 1e-5, 0},
        {"through macropores", 3, 0, 0, 1e-5},
        {"strong macropore inflow", 3, 0, 0, 1e-3},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        HeatColumn w(5, 0.2, 1e-6, 2e6);  // next to no conduction
        const double warm = 10;
        std::fill(w.T0.begin(), w.T0.end(), 0.0);
        if (k.top < 0) w.T0[static_cast<size_t>(k.layer - 1)] = warm;
        if (k.bottom > 0) w.T0[static_cast<size_t>(k.layer + 1)] = warm;
        w.water[static_cast<size_t>(k.layer - 1)] = k.top;
        w.water[static_cast<size_t>(k.layer)] = k.bottom;
        w.macro[static_cast<size_t>(k.layer)] = k.macro;
        unsatzon::ImplicitHeatStep a{3600, 1, warm, warm, 0, true};
        w.Implicit(a);
        const double t = w.T[static_cast<size_t>(k.layer)];
        EXPECT_GT(t, 0);
        EXPECT_LE(t, warm);
        for (int l = 1; l <= 5; ++l) {
            EXPECT_GE(w.T[static_cast<size_t>(l)], -1e-12);
            EXPECT_LE(w.T[static_cast<size_t>(l)], warm + 1e-12);
        }
    }
    // omega M = 0.5, no conduction: the layer goes a third of the way
    HeatColumn one(3, 0.5, 0, 4187000);
    std::fill(one.T0.begin(), one.T0.end(), 0.0);
    one.macro[2] = 0.5 * 0.5 / 3600;  // omega = 3600 / 0.5
    unsatzon::ImplicitHeatStep m{3600, 1, 10, 10, 0, true};
    one.Implicit(m);
    EXPECT_NEAR(one.T[2], 10.0 / 3, 1e-12);
}

TEST(SoilHeat, BoundariesLimiterAndInitialProfile) {
    // a heat flux of 0 through the bottom: the boundary takes the bottom layer's start
    EXPECT_EQ(unsatzon::LowerBoundaryValue(true, 12, 0, 0.3, 1.1, 4.25), 4.25);
    EXPECT_EQ(unsatzon::LowerBoundaryValue(false, 12, 0.06, 0.3, 1.1, 4.25), 12);
    EXPECT_DOUBLE_EQ(unsatzon::LowerBoundaryValue(true, 12, 0.06, 0.3, 1.5, 4), 4 + 0.06 * 0.3 / 3);

    // one layer: both boundaries in one row, between the air and the lower boundary
    HeatColumn single(1, 0.5, 1.0, 2e6);
    single.T0[1] = 0;
    unsatzon::ImplicitHeatStep s{1e9, 1, -2, -2, 8, false};
    single.Implicit(s);
    EXPECT_NEAR(single.T[1], 3, 1e-3);  // the mean of -2 and 8 in the long run

    // the limiter: heat flowing up at both faces caps a layer at its lower
    // neighbour's start (the lower boundary below layer n) ...
    {
        const V start{0, 1, 2, 3}, flux{1, 1, 1, 1}, change{0, 5, 5, 5};
        V T = start;
        unsatzon::ApplyTemperatureChange(3, T, start, change, flux, true, 3.5, 0);
        EXPECT_EQ(T[3], 3.5);
        EXPECT_EQ(T[2], 3);
        EXPECT_EQ(T[1], 2);
        T = start;
        unsatzon::ApplyTemperatureChange(3, T, start, change, flux, false, 3.5, 0);
        EXPECT_EQ(T[1], 6);
    }
    // ... and heat leaving through both faces floors it at the colder neighbour
    {
        const V start{0, 2, 5, 3}, flux{0, 1, -1, 0}, change{0, 0, -10, 0};
        V T = start;
        unsatzon::ApplyTemperatureChange(3, T, start, change, flux, true, 3, 0);
        EXPECT_EQ(T[2], 2);
    }
    // equal temperatures everywhere: no flux, no change
    HeatColumn flat(3, 0.1, 1, 2e6);
    flat.T0 = {0, 4, 4, 4};
    flat.Explicit(8, 0.5, 4, 3600);
    for (int k = 0; k <= 3; ++k) EXPECT_EQ(flat.flux[static_cast<size_t>(k)], 0);
    for (int k = 1; k <= 3; ++k) EXPECT_EQ(flat.T[static_cast<size_t>(k)], 4);

    // initial profile: proportional to the depth of the layer centres
    const V z{500, 499.9, 499.7, 499.4, 499};
    V T(5, 0.0);
    unsatzon::InitialTemperatureProfile(4, z, 10, -2, T);
    EXPECT_EQ(T[0], 10);
    const double centres[] = {0.05, 0.2, 0.45, 0.8};
    for (int k = 1; k <= 4; ++k) {
        const double A = centres[k - 1] / 1.0;
        EXPECT_NEAR(T[static_cast<size_t>(k)], A * 10 + (1 - A) * -2, 1e-9);
    }
}

TEST(SoilHeat, HeatStepsAndThawDepth) {
    struct Steps {
        const char* what;
        double trial, air, top, longest;
        int expected;
    };
    const Steps cases[] = {
        {"calm: only the longest step counts", 0, 5, 5, 1800, 2},
        {"a fast change: down to the shortest step", 10, 0, 0, 1e6, 60},
        {"a quarter of the distance to the air per step", 2, 4, 0, 1e6, 2},
        {"a tiny limit: steps of one second, no more", 0, 5, 5, 1e-9, 3600},
    };
    for (const Steps& k : cases) {
        SCOPED_TRACE(k.what);
        EXPECT_EQ(unsatzon::HeatStepCount(k.trial, k.air, k.top, 3600, 60, k.longest), k.expected);
    }
    const double z[] = {0, -0.2, -0.4, -0.6};
    const double Tf[] = {-0.5, -0.5, -0.5, -0.5};
    const double front[] = {0, 4, 1, -2};
    EXPECT_NEAR(unsatzon::ThawDepthOfColumn(3, front, Tf, -3, z), -0.4, 1e-12);
    const double thawed[] = {0, 4, 3, 2};
    EXPECT_DOUBLE_EQ(unsatzon::ThawDepthOfColumn(3, thawed, Tf, -3, z), -0.6);
    EXPECT_EQ(unsatzon::ThawDepthOfColumn(3, thawed, Tf, 1, z), 0);
    const double frozen[] = {0, -4, -3, -2};
    EXPECT_EQ(unsatzon::ThawDepthOfColumn(3, frozen, Tf, -3, z), 0);
}

// Flag h of the dump file: a temperature out of range, or a strict local
// extreme against its own start and both neighbours before and after.
TEST(SoilHeat, DumpFlagForTemperatures) {
    struct Case {
        const char* what;
        std::vector<double> before, after;
        double air;  // air temperature times the n-factor
        bool flagged;
    };
    const std::vector<double> calm{0, 1, 1, 1, 1};
    const Case cases[] = {
        {"nothing moves", calm, calm, 1, false},
        {"a peak in layer 2", calm, {0, 1, 1.5, 1, 1}, 1, true},
        {"a dip in layer 3", calm, {0, 1, 1, 0.9, 1}, 1, true},
        {"within 0.001 K", calm, {0, 1, 1.0009, 1, 1}, 1, false},
        {"out of range, though smooth", {0, 60, 60, 60, 60}, {0, 60, 60, 60, 60}, 60, true},
        {"the bottom layer is not checked", calm, {0, 1, 1, 1, 5}, 1, false},
        {"layer 1 above the air", calm, {0, 3, 1, 1, 1}, 1, true},
        {"layer 1 below a warmer air", calm, {0, 3, 1, 1, 1}, 5, false},
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(k.what);
        EXPECT_EQ(unsatzon::TemperatureOutOfLine(4, k.before.data(), k.after.data(), k.air), k.flagged);
    }
}

namespace {

// Two layers with 10 freezing steps down to -10 degC (one per kelvin) and
// the van Genuchten alpha of each layer.
SoilType FreezingSoil(double alpha1, double alpha2) {
    SoilType soil(1);
    soil.FreezingSteps = 10;
    soil.CreateLayers(2, 0);
    const double alpha[] = {alpha1, alpha1, alpha2};
    for (int l = 0; l <= 2; ++l) {
        soil.alpha[l] = alpha[l];
        soil.Par_n[l] = 1.5;
        soil.Par_m[l] = 1 - 1 / 1.5;
        soil.MakeFreezingTables(l, 1.22);
    }
    return soil;
}

}  // namespace

TEST(SoilHeat, FreezingPointsOfEachSoilInARow) {
    // Unfrozen fraction (1 / (1 + (1.22 |T| alpha)^1.5))^(1/3): alpha 2 falls
    // to 0.439 at -2 degC (0.592 at -1), alpha 0.5 to 0.541 at -5 (0.592 at
    // -4). The freezing point is where it first reaches 0.55 or less.
    const SoilType a = FreezingSoil(2, 2), b = FreezingSoil(0.5, 2);
    double points[3];
    unsatzon::FreezingPointsOfSoil(a, 2, 0.55, points);
    EXPECT_DOUBLE_EQ(points[1], -2);
    EXPECT_DOUBLE_EQ(points[2], -2);
    EXPECT_DOUBLE_EQ(points[0], -2);
    unsatzon::FreezingPointsOfSoil(b, 2, 0.55, points);
    EXPECT_DOUBLE_EQ(points[1], -5);
    EXPECT_DOUBLE_EQ(points[2], -2);

    // Cells of a row with one soil, then the other, then the first again:
    // each keeps its own points, and another share is another entry (0.592
    // at -1 degC is already below 0.6: the first step's point).
    unsatzon::FreezingPointCache cache;
    const struct {
        const SoilType* soil;
        double share, layer1, layer2;
    } cells[] = {{&a, 0.55, -2, -2}, {&b, 0.55, -5, -2}, {&b, 0.55, -5, -2},
                 {&a, 0.55, -2, -2}, {&b, 0.6, -4, -1},  {&b, 0.55, -5, -2}};
    for (const auto& cell : cells) {
        const double* p = cache.Of(*cell.soil, 2, cell.share);
        EXPECT_DOUBLE_EQ(p[1], cell.layer1);
        EXPECT_DOUBLE_EQ(p[2], cell.layer2);
        EXPECT_DOUBLE_EQ(p[0], p[1]);
    }
}

TEST(SoilHeat, RememberedConductivityEqualsTheFormula) {
    // One layer's memo through a sequence that repeats arguments, changes one
    // at a time and moves between the nearly saturated and the other
    // branches, frozen and not: every answer is the formula's, bit for bit.
    struct Args {
        double phi, theta, f, lambdaS;
    };
    const Args sequence[] = {
        {0.45, 0.30, 1, 0.58},   {0.45, 0.30, 1, 0.58},   {0.45, 0.31, 1, 0.58},   {0.45, 0.31, 0.5, 0.58},
        {0.45, 0.31, 0.5, 0.58}, {0.45, 0.45, 1, 0.58},   {0.45, 0.445, 1, 0.58},  {0.40, 0.40, 1, 0.58},
        {0.40, 0.40, 1, 2.0},    {0.40, 0.40, 0.2, 2.0},  {0.40, 0.395, 0.2, 2.0}, {0.40, 0.40, 1, 2.0},
        {0.45, 0.30, 1, 0.58},   {0.45, 0.45, 1, 0.58},   {0.45, -0.0, 1, 0.58},   {0.45, 0.0, 1, 0.58},
    };
    unsatzon::ConductivityMemo memo;
    for (const double lambdaW : {0.5562, 0.6}) {
        for (const Args& a : sequence) {
            const double expected = unsatzon::LayerConductivity(a.phi, a.theta, a.f, a.lambdaS, lambdaW, 2.33);
            const double result = unsatzon::RememberedLayerConductivity(memo, a.phi, a.theta, a.f, a.lambdaS,
                                                                        lambdaW, 2.33);
            EXPECT_EQ(std::memcmp(&result, &expected, sizeof result), 0)
                << "phi " << a.phi << ", theta " << a.theta << ", f " << a.f << ", lambdaS " << a.lambdaS;
        }
    }
}
