#pragma once
// Solutes in one soil column over one iteration step.
//
// The layers 1..L pass their solute on with the solver's fluxes in an
// explicit scheme, from the top down. A layer's outflows (the flux across
// its lower boundary when downward, interflow, baseflow and exfiltration)
// are served from its own water as far as the water it holds at the start
// of the step suffices: D = A / OUT with A = theta dz / dt when A < OUT,
// else 1. The rest (1 - D) of each outflow passes through from the layer
// above, at the concentration that layer has after the step (for layer 1:
// the water arriving at the surface). Flux from below carries the
// concentration the layer below had at the start. Then the saturated layers
// from the groundwater layer down (and the aquifer below, when a groundwater
// model is on) mix completely, and everything decays.
//
// The water that entered or left a layer before the solver's step (water
// through macropores from the surface, water supplied from below, the
// baseflow drained at the groundwater table, root uptake and soil
// evaporation) is booked with the step: macropore water takes its share of
// the surface's solute, supplied water brings its own concentration.
//
// Two formulations share the arrays. With `Evaporating` the stored values
// are concentrations [per unit of water] and water that evaporates or
// transpires takes its solute with it. Without it the values are amounts
// [concentration x mm]; evaporation leaves the solute behind, and every
// outflow carries at most `MaxConc` times its water.

#include <span>

namespace unsatzon {

// Decay factor of a radioactive solute over `seconds`:
//   f = exp(-ln 2 t / (86400 T½)),  T½ the half-life [d].
// 1 for a half-life that is not positive.
double TracerDecayFactor(double seconds, double halfLifeDays);

// The factor of one of `steps` equal parts of an interval whose factor is
// `whole`: whole^(1/steps).
double TracerDecayFactorPart(double whole, int steps);

// The factor a column's tracer decays by in iteration step `step` of
// `steps` of a sub-step whose factor is `perSubStep`: all of it at the last
// step, none before. The aquifer the saturated layers mix with in every
// iteration step decays once per sub-step, so both stay of the same age.
double TracerDecayOfIterationStep(double perSubStep, int step, int steps);

// Water of one iteration step of a column. Per-layer arrays run over 0..L;
// rates are in m/s, positive upward for `interfaceFlux` (index j: the lower
// boundary of layer j, 0 the soil surface).
struct TracerColumnWater {
    int Layers = 0;
    int GroundwaterLayer = 1;  // g, 1..L
    double mmPerRate = 0;      // turns a rate [m/s] into mm over the step
    std::span<const double> thickness;         // [m]
    std::span<const double> thetaBefore;       // at the start of the step
    std::span<const double> thetaStart;        // after stage A
    std::span<const double> thetaNew;          // after the solver
    std::span<const double> thetaSat;
    std::span<const double> interfaceFlux;
    std::span<const double> layerInterflow;    // interflow and drainage
    std::span<const double> riverInfiltration;
    std::span<const double> riverExfiltration;
    std::span<const double> capillarySupply;   // [0]: what no layer could take, to the surface
    std::span<const double> baseflowWithdrawal;
    std::span<const double> macroporeInflow;
    // The surface [mm over the step].
    double PondStart = 0;       // water held in the pond at the start
    double Rain = 0;            // water input (the snowmelt share included)
    double SurfaceSilting = 0;  // silting-up water that joins the surface water
    double DirectSilting = 0;   // silting-up water that runs off directly
    double SurfaceLeft = 0;     // surface water after the pond served transpiration, before macropores
    double DirectRunoff = 0;    // all direct runoff of the step, DirectSilting included
    double PondEnd = 0;         // water in the pond at the end
    // Aquifer below the column (groundwater model on): its water [mm]; 0: none.
    double AquiferWater = 0;
};

// Concentrations of the water that enters.
struct TracerInflowConcentrations {
    double Input = 0;          // water input
    double Silting = 0;        // silting-up water
    double Supply = 0;         // water supplied from below (also across the bottom boundary)
    double River = 0;          // river infiltration
};

// What one step moved [concentration x mm]. In: input, supply and river;
// out: the rest. In - out = change of the stored amount (surface and layers;
// the aquifer's share of the mixing is `Aquifer`, what the column gave it).
struct TracerColumnLoads {
    double Input = 0, Supply = 0, River = 0;
    double Direct = 0;          // direct runoff (with the silting-up water)
    double Interflow = 0;
    double Baseflow = 0;        // drained at the groundwater table
    double Exfiltration = 0;    // into rivers
    double Deep = 0;            // across the bottom of the column (negative: in)
    double Evapotranspiration = 0;
    double Decay = 0;
    double Aquifer = 0;         // net amount handed to the aquifer by the mixing
    double Out() const {
        return Direct + Interflow + Baseflow + Exfiltration + Deep + Evapotranspiration + Decay + Aquifer;
    }
};

struct TracerKind {
    bool Evaporating = false;
    double MaxConc = 0;   // cap of the carried concentration without `Evaporating`
    double Decay = 1;     // factor of the step
};

// Amount held by the column: the surface (pond) and the layers 1..L, from
// stored values `U` (0..L) and the water contents `theta`.
double TracerColumnAmount(std::span<const double> U, bool evaporating, std::span<const double> theta,
                          std::span<const double> thickness, int layers, double pond);

// One iteration step of one solute: updates U[0..L] in place (level 0: the
// surface water, which receives the step's input first) and, when an aquifer
// is given, its concentration `aquiferConc`. `scratch` holds at least
// 3 (L + 1) values.
TracerColumnLoads TransportTracerColumn(const TracerColumnWater& w, const TracerInflowConcentrations& in,
                                        const TracerKind& kind, std::span<double> U, double* aquiferConc,
                                        std::span<double> scratch);

// Complete mixing of layers g..L (and of the aquifer's water, when given):
// the stored amounts are shared by water. Returns the amount the aquifer
// gained. Values are amounts here (`amounts` 0..L) with the water per layer
// `water` [mm].
double MixSaturatedZone(int g, int layers, std::span<double> amounts, std::span<const double> water,
                        double aquiferWater, double* aquiferConc);

}  // namespace unsatzon
