// Solute transport through one soil column: decay factors, hand-computed
// columns in both formulations, the saturated-zone mixing, and the balance of
// every step over a table of generated columns.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <string>
#include <vector>

#include "soil/unsatzon_tracer_physics.h"

using namespace unsatzon;

namespace {

// A column of `L` layers of 0.1 m at theta 0.3 that does not change (30 mm
// per layer) and a flux of `down` mm per step through every boundary.
struct Column {
    int L;
    std::vector<double> dz, theta, sat, flux, zero, U, scratch;
    TracerColumnWater w;
    Column(int layers, double down) : L(layers) {
        const size_t n = static_cast<size_t>(L) + 1;
        dz.assign(n, 0.1);
        theta.assign(n, 0.3);
        sat.assign(n, 0.45);
        flux.assign(n, -down / 1000);  // m/s with mmPerRate 1000
        zero.assign(n, 0.0);
        U.assign(n, 0.0);
        scratch.assign(3 * n, 0.0);
        w.Layers = L;
        w.GroundwaterLayer = L;
        w.mmPerRate = 1000;
        w.thickness = dz;
        w.thetaBefore = w.thetaStart = w.thetaNew = theta;
        w.thetaSat = sat;
        w.interfaceFlux = flux;
        w.layerInterflow = w.riverInfiltration = w.riverExfiltration = w.capillarySupply = w.baseflowWithdrawal =
            w.macroporeInflow = zero;
        w.Rain = w.SurfaceLeft = down;
    }
};

}  // namespace

TEST(SoilTracerKernel, DecayFactors) {
    EXPECT_NEAR(TracerDecayFactor(86400, 1), 0.5, 1e-15);
    EXPECT_NEAR(TracerDecayFactor(3600, 1.0 / 24), 0.5, 1e-15);
    EXPECT_EQ(TracerDecayFactor(3600, -9999), 1);
    const double hour = TracerDecayFactor(3600, 1);
    EXPECT_NEAR(std::pow(TracerDecayFactorPart(hour, 4), 4), hour, 1e-15);
    EXPECT_NEAR(TracerDecayFactorPart(hour, 4), TracerDecayFactor(900, 1), 1e-15);
    EXPECT_EQ(TracerDecayFactorPart(hour, 1), hour);
}

namespace {

// One step of a column of layers of 0.25 m in both formulations, from
// concentrations at the start to concentrations at the end. Water [mm]:
// `input` at `inputConc` offered at the surface, `flux` through the lower
// boundary of each layer (index 0: the surface; negative downward), the
// layers' water before and after.
struct StepCase {
    const char* what;
    std::vector<double> before, after;  // [mm] per layer 1..L
    std::vector<double> flux;           // [mm] 0..L
    double input, inputConc, direct;
    std::vector<double> conc;           // at the start, 1..L
    double decay;
    std::vector<double> expected;       // at the end, 1..L
    double directConc;
};

struct StepResult {
    std::vector<double> conc;
    TracerColumnLoads loads;
};

StepResult RunStep(const StepCase& k, bool evaporating, std::vector<double> uptake = {}) {
    const int L = static_cast<int>(k.before.size());
    const size_t n = static_cast<size_t>(L) + 1;
    std::vector<double> dz(n, 0.25), before(n, 0.0), start(n, 0.0), after(n, 0.0), sat(n, 0.45), flux(n, 0.0),
        zero(n, 0.0), U(n, 0.0), scratch(3 * n);
    for (int j = 1; j <= L; ++j) {
        const size_t i = static_cast<size_t>(j);
        before[i] = k.before[i - 1] / 250;
        start[i] = (k.before[i - 1] - (uptake.empty() ? 0.0 : uptake[i - 1])) / 250;
        after[i] = k.after[i - 1] / 250;
        U[i] = evaporating ? k.conc[i - 1] : k.conc[i - 1] * k.before[i - 1];
    }
    for (size_t j = 0; j < n; ++j) flux[j] = k.flux[j] / 1000;  // m/s with mmPerRate 1000
    TracerColumnWater w;
    w.Layers = L;
    w.GroundwaterLayer = L;
    w.mmPerRate = 1000;
    w.thickness = dz;
    w.thetaBefore = before;
    w.thetaStart = start;
    w.thetaNew = after;
    w.thetaSat = sat;
    w.interfaceFlux = flux;
    w.layerInterflow = w.riverInfiltration = w.riverExfiltration = w.capillarySupply = w.baseflowWithdrawal =
        w.macroporeInflow = zero;
    w.Rain = w.SurfaceLeft = k.input;
    w.DirectRunoff = k.direct;
    TracerInflowConcentrations in;
    in.Input = k.inputConc;
    TracerKind kind;
    kind.Evaporating = evaporating;
    kind.MaxConc = 1e9;
    kind.Decay = k.decay;
    StepResult r;
    r.loads = TransportTracerColumn(w, in, kind, U, nullptr, scratch);
    for (int j = 1; j <= L; ++j)
        r.conc.push_back(evaporating ? U[static_cast<size_t>(j)] : U[static_cast<size_t>(j)] / k.after[static_cast<size_t>(j) - 1]);
    return r;
}

}  // namespace

// Steps of a column by hand, each in both formulations.
//   down: 100 mm at 1 take 10 mm of clean water and pass 10 mm on: 90 / 100;
//     the layer below takes them: 110 / 110.
//   up: 10 mm rise from 100 mm at 2 into 100 mm at 1: 120 / 110 and 180 / 90.
//   through: 5 mm at 1 pass 20 mm of water at 3 arriving from the surface:
//     their own water serves a quarter of the outflow (D = 5 / 20), the rest
//     passes through at 3: 5 x 1 + 15 x 3 = 50 leave, 5 x 3 stay; 50 / 120 below.
//   lowest layer: what the lowest layer receives stays in it when no water
//     leaves through its bottom: 100 at 1 plus 10 at 1.
//   decay by half on a column where no water moves.
//   runoff: 10 mm at 1 offered, 4 infiltrate, 6 run off at 1: the load that
//     infiltrates leaves the surface once.
TEST(SoilTracerKernel, StepsByHandInBothFormulations) {
    const StepCase cases[] = {
        {"down", {100, 100, 100}, {100, 110, 100}, {-10, -10, 0, 0}, 10, 0, 0, {1, 1, 1}, 1, {0.9, 1, 1}, 0},
        {"up", {100, 100}, {110, 90}, {0, 10, 0}, 0, 0, 0, {1, 2}, 1, {120.0 / 110, 2}, 0},
        {"through", {5, 100}, {5, 120}, {-20, -20, 0}, 20, 3, 0, {1, 0}, 1, {3, 50.0 / 120}, 0},
        {"lowest layer", {100, 100}, {100, 110}, {-10, -10, 0}, 10, 1, 0, {1, 1}, 1, {1, 1}, 0},
        {"decay", {100, 100}, {100, 100}, {0, 0, 0}, 0, 0, 0, {1, 2}, 0.5, {0.5, 1}, 0},
        {"runoff", {100, 100}, {104, 100}, {-4, 0, 0}, 10, 1, 6, {1, 1}, 1, {1, 1}, 1},
    };
    for (const StepCase& k : cases) {
        for (bool evaporating : {true, false}) {
            SCOPED_TRACE(std::string(k.what) + (evaporating ? ", concentrations" : ", amounts"));
            const StepResult r = RunStep(k, evaporating);
            for (size_t j = 0; j < k.expected.size(); ++j) EXPECT_NEAR(r.conc[j], k.expected[j], 1e-14) << "layer " << j + 1;
            EXPECT_NEAR(r.loads.Direct, k.directConc * k.direct, 1e-13);
            EXPECT_EQ(r.loads.Deep, 0);
        }
    }
}

// Roots take 10 of 30 mm: a solute that evaporates keeps its concentration
// and leaves with the water; the others stay behind and concentrate.
TEST(SoilTracerKernel, UptakeInBothFormulations) {
    for (bool evaporating : {true, false}) {
        SCOPED_TRACE(evaporating);
        Column c(1, 0);
        std::vector<double> after = {0.2, 0.2};
        c.w.thetaStart = c.w.thetaNew = after;
        c.U[1] = evaporating ? 1.0 : 30.0;
        TracerKind kind;
        kind.Evaporating = evaporating;
        kind.MaxConc = 100;
        const TracerColumnLoads loads = TransportTracerColumn(c.w, {}, kind, c.U, nullptr, c.scratch);
        if (evaporating) {
            EXPECT_NEAR(c.U[1], 1, 1e-15);
            EXPECT_NEAR(loads.Evapotranspiration, 10, 1e-13);
        } else {
            EXPECT_NEAR(c.U[1], 30, 1e-13);
            EXPECT_EQ(loads.Evapotranspiration, 0);
        }
    }
}

TEST(SoilTracerKernel, SaturatedZoneMixesWithTheAquifer) {
    std::vector<double> amounts = {0, 5, 10, 0};
    const std::vector<double> water = {0, 20, 40, 40};
    double aquifer = 1;  // 20 mm of aquifer water at 1
    const double gained = MixSaturatedZone(2, 3, amounts, water, 20, &aquifer);
    // 10 + 0 + 20 over 100 mm
    EXPECT_NEAR(aquifer, 0.3, 1e-15);
    EXPECT_NEAR(amounts[2], 12, 1e-14);
    EXPECT_NEAR(amounts[3], 12, 1e-14);
    EXPECT_EQ(amounts[1], 5);
    EXPECT_NEAR(gained, 6 - 20, 1e-14);
}

// Generated columns whose water balances layer by layer: the solute balance
// closes in both formulations, with and without decay, pond, macropores,
// supply from below, river exchange and an aquifer; a solute at
// concentration 1 everywhere stays at 1 when it neither decays nor
// evaporates differently from its water.
// A saturated column of two layers above 100 mm of aquifer, no water
// moving, three iteration steps per sub-step; the aquifer decays once per
// sub-step after the column, as the groundwater model does. A decaying
// tracer and a stable one with the same start keep the ratio of the decay
// in every layer and in the aquifer.
TEST(SoilTracerKernel, DecayKeepsTheColumnInStepWithTheAquifer) {
    const double perSubStep = TracerDecayFactor(1200, 1.5);
    Column stable(2, 0), decaying(2, 0);
    double aquifer[2] = {1, 1};  // [per mm]
    for (Column* col : {&stable, &decaying}) {
        col->w.GroundwaterLayer = 1;
        col->w.AquiferWater = 100;
        col->w.Rain = col->w.SurfaceLeft = 0;
        col->U = {0, 30, 30};
    }
    for (int s = 1; s <= 4; ++s) {
        for (int u = 1; u <= 3; ++u) {
            TracerKind kind;
            TransportTracerColumn(stable.w, {}, kind, stable.U, &aquifer[0], stable.scratch);
            kind.Decay = TracerDecayOfIterationStep(perSubStep, u, 3);
            TransportTracerColumn(decaying.w, {}, kind, decaying.U, &aquifer[1], decaying.scratch);
        }
        aquifer[1] *= perSubStep;
        const double expected = std::pow(perSubStep, s);
        for (int l = 1; l <= 2; ++l)
            EXPECT_NEAR(decaying.U[static_cast<size_t>(l)] / stable.U[static_cast<size_t>(l)], expected, 1e-13)
                << "sub-step " << s << ", layer " << l;
        EXPECT_NEAR(aquifer[1] / aquifer[0], expected, 1e-13) << "sub-step " << s;
    }
}

TEST(SoilTracerKernel, BalanceAndConservativeSoluteOverGeneratedColumns) {
    std::mt19937 random(31);
    std::uniform_real_distribution<double> u(0, 1);
    double largest = 0;
    for (int trial = 0; trial < 400; ++trial) {
        const int L = 1 + trial % 7;
        const size_t n = static_cast<size_t>(L) + 1;
        const double tau = 1000 * (60 + 600 * u(random));
        std::vector<double> dz(n), before(n), start(n), after(n), sat(n, 0.45), q(n, 0.0), inter(n, 0.0),
            ri(n, 0.0), ex(n, 0.0), cap(n, 0.0), bf(n, 0.0), macro(n, 0.0), U(n), scratch(3 * n);
        const bool pond = trial % 3 == 0, evaporating = trial % 2 == 0, decays = trial % 5 == 0;
        const bool conservative = trial % 4 < 2;  // no uptake, uniform 1
        // Stage A: macropores, uptake, supply or drainage.
        double macroTotal = 0;
        for (size_t j = 1; j < n; ++j) {
            dz[j] = 0.05 + 0.2 * u(random);
            before[j] = 0.1 + 0.3 * u(random);
            if (trial % 6 == 1) macro[j] = 2e-7 * u(random);
            if (trial % 7 == 2) cap[j] = 1e-7 * u(random);
            if (trial % 7 == 3 && j == n - 1) bf[j] = 1e-7 * u(random);
            const double uptake = conservative ? 0.0 : 1e-7 * u(random) * tau;
            macroTotal += macro[j] * tau;
            start[j] = before[j] + ((macro[j] + cap[j] - bf[j]) * tau - uptake) / (1000 * dz[j]);
        }
        if (trial % 7 == 2) cap[0] = 1e-8 * u(random);
        // Stage B: fluxes of either sign, interflow, river exchange.
        for (size_t j = 0; j < n; ++j) q[j] = (u(random) - 0.6) * 2e-7;
        for (size_t j = 1; j < n; ++j) {
            inter[j] = 1e-8 * u(random);
            if (trial % 9 == 4) {
                ri[j] = 1e-8 * u(random);
                ex[j] = 1e-8 * u(random);
            }
            after[j] = start[j] + (q[j] - q[j - 1] - inter[j] - ex[j] + ri[j]) * tau / (1000 * dz[j]);
        }
        TracerColumnWater w;
        w.Layers = L;
        w.GroundwaterLayer = 1 + trial % L;
        w.mmPerRate = tau;
        w.thickness = dz;
        w.thetaBefore = before;
        w.thetaStart = start;
        w.thetaNew = after;
        w.thetaSat = sat;
        w.interfaceFlux = q;
        w.layerInterflow = inter;
        w.riverInfiltration = ri;
        w.riverExfiltration = ex;
        w.capillarySupply = cap;
        w.baseflowWithdrawal = bf;
        w.macroporeInflow = macro;
        w.Rain = 20 * u(random);
        w.SurfaceSilting = trial % 8 == 5 ? 3 : 0;
        w.DirectSilting = trial % 8 == 6 ? 2 : 0;
        w.PondStart = pond ? 5 * u(random) : 0;
        const double transpired = conservative ? 0.0 : std::min(1.0, w.Rain);
        w.SurfaceLeft = w.PondStart + w.Rain + w.SurfaceSilting - transpired;
        // Surface water after infiltration; the pond keeps up to 3 mm.
        const double surface = std::max(0.0, w.SurfaceLeft - macroTotal) + cap[0] * tau + q[0] * tau;
        w.PondEnd = pond ? std::min(surface, 3.0) : 0.0;
        w.DirectRunoff = surface - w.PondEnd + w.DirectSilting;
        if (surface < 0) continue;  // more infiltration than water: not a column the cell step makes
        w.AquiferWater = trial % 9 == 4 ? 50 : 0;
        double aquifer = 1;

        TracerKind kind;
        kind.Evaporating = evaporating;
        kind.MaxConc = trial % 10 == 3 ? 0.5 : 100;
        kind.Decay = decays ? 0.9 : 1.0;
        TracerInflowConcentrations in;
        in.Input = conservative ? 1 : 3 * u(random);
        in.Silting = conservative ? 1 : 2;
        in.Supply = conservative ? 1 : 0.5;
        in.River = conservative ? 1 : 4;
        U[0] = evaporating ? 1 : w.PondStart;
        for (size_t j = 1; j < n; ++j) {
            const double c = conservative ? 1 : 2 * u(random);
            U[j] = evaporating ? c : c * 1000 * before[j] * dz[j];
        }
        const double held = TracerColumnAmount(U, evaporating, before, dz, L, w.PondStart);
        const TracerColumnLoads loads = TransportTracerColumn(w, in, kind, U, &aquifer, scratch);
        const double now = TracerColumnAmount(U, evaporating, after, dz, L, w.PondEnd);
        const double residual = held + loads.Input + loads.Supply + loads.River - loads.Out() - now;
        const double scale = std::max(1.0, held + loads.Input);
        largest = std::max(largest, std::fabs(residual) / scale);
        EXPECT_NEAR(residual / scale, 0, 1e-13) << "trial " << trial;
        if (conservative && !decays && kind.MaxConc > 1) {
            for (size_t j = 1; j < n; ++j) {
                const double c = evaporating ? U[j] : U[j] / (1000 * after[j] * dz[j]);
                EXPECT_NEAR(c, 1, 1e-12) << "trial " << trial << ", layer " << j;
            }
            EXPECT_NEAR(aquifer, 1, 1e-12);
            const double directWater = w.DirectRunoff;
            if (directWater > 1e-9) {
                EXPECT_NEAR(loads.Direct / directWater, 1, 1e-12) << "trial " << trial;
            }
        }
    }
    std::printf("solute column balance: largest relative residual %.3g\n", largest);
}
