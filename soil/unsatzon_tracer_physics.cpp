#include "soil/unsatzon_tracer_physics.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace unsatzon {

namespace {

// Water below this [mm] carries nothing and dilutes nothing.
constexpr double NoWater = 1e-300;

}  // namespace

double TracerDecayFactor(double seconds, double halfLifeDays) {
    if (!(halfLifeDays > 0)) return 1;
    return std::exp(-std::numbers::ln2 * seconds / (86400 * halfLifeDays));
}

double TracerDecayFactorPart(double whole, int steps) {
    if (steps <= 1) return whole;
    if (!(whole > 0)) return whole;
    return std::exp(std::log(whole) / steps);
}

double TracerDecayOfIterationStep(double perSubStep, int step, int steps) {
    return step >= steps ? perSubStep : 1.0;
}

double TracerColumnAmount(std::span<const double> U, bool evaporating, std::span<const double> theta,
                          std::span<const double> thickness, int layers, double pond) {
    double sum = evaporating ? U[0] * pond : U[0];
    for (int j = 1; j <= layers; ++j) sum += evaporating ? U[j] * 1000 * theta[j] * thickness[j] : U[j];
    return sum;
}

double MixSaturatedZone(int g, int layers, std::span<double> amounts, std::span<const double> water,
                        double aquiferWater, double* aquiferConc) {
    if (g < 1 || g > layers) return 0;
    double V = 0, M = 0;
    for (int j = g; j <= layers; ++j) {
        V += water[j];
        M += amounts[j];
    }
    const bool aquifer = aquiferConc && aquiferWater > 0;
    if (aquifer) {
        V += aquiferWater;
        M += *aquiferConc * aquiferWater;
    }
    // Without water nothing can mix: the amounts stay where they are.
    if (!(V > NoWater)) return 0;
    const double c = M / V;
    double kept = 0;
    for (int j = g; j <= layers; ++j) {
        amounts[j] = c * water[j];
        kept += amounts[j];
    }
    if (!aquifer) {
        // Rounding of the shares goes to the groundwater layer.
        amounts[g] += M - kept;
        return 0;
    }
    const double before = *aquiferConc * aquiferWater;
    *aquiferConc = c;
    return M - kept - before;
}

TracerColumnLoads TransportTracerColumn(const TracerColumnWater& w, const TracerInflowConcentrations& in,
                                        const TracerKind& kind, std::span<double> U, double* aquiferConc,
                                        std::span<double> scratch) {
    TracerColumnLoads loads;
    const int L = w.Layers;
    const size_t n1 = static_cast<size_t>(L) + 1;
    std::span<double> U0 = scratch.subspan(0, n1);         // values at entry
    std::span<double> A = scratch.subspan(n1, n1);         // amount of each layer at the start of the step
    std::span<double> D = scratch.subspan(2 * n1, n1);     // share of the outflows the layer's own water supplies
    const double tau = w.mmPerRate;
    const double beta = tau / 1000;  // length of the step [s]
    const bool evaporating = kind.Evaporating;
    const double MC = std::max(kind.MaxConc, 0.0);
    auto water = [&](std::span<const double> theta, int j) { return 1000 * w.thickness[j] * theta[j]; };  // [mm]
    const double q0 = w.interfaceFlux[0];
    const double infiltration = q0 < 0 ? -q0 * tau : 0.0, upward = q0 > 0 ? q0 * tau : 0.0;
    double macroporeWater = 0;
    for (int j = 1; j <= L; ++j) macroporeWater += std::max(0.0, w.macroporeInflow[j]) * tau;
    const double supplyTop = std::max(0.0, w.capillarySupply[0]) * tau;
    // Direct runoff of the step without the silting-up water that runs off
    // directly, and the pond's overflow in it.
    const double directWater = std::max(0.0, w.DirectRunoff - w.DirectSilting);

    // The surface: the step's input joins the water already there.
    const double surfaceInput = w.Rain + w.SurfaceSilting;
    const double inputLoad = in.Input * w.Rain + in.Silting * w.SurfaceSilting;
    loads.Input = inputLoad + in.Silting * w.DirectSilting;
    if (evaporating) {
        const double mixed = w.PondStart + surfaceInput;
        U[0] = mixed > NoWater ? (U[0] * w.PondStart + inputLoad) / mixed : in.Input;
        // Water the pond gave to transpiration takes its load along.
        loads.Evapotranspiration += U[0] * std::max(0.0, w.PondStart + surfaceInput - w.SurfaceLeft);
    } else {
        U[0] += inputLoad;
    }
    for (int j = 0; j <= L; ++j) U0[j] = U[j];

    // Availability of every layer's own water for its outflows.
    for (int j = 1; j <= L; ++j) {
        const double a = w.thetaStart[j] > 0 ? w.thetaStart[j] * w.thickness[j] / beta : 0.0;
        const double out = w.layerInterflow[j] + w.baseflowWithdrawal[j] - w.interfaceFlux[j] +
                           w.riverExfiltration[j];
        D[j] = a > 0 && a < out ? a / out : 1.0;
    }
    auto own = [&](int j) { return D[j] > 0.99999; };

    // Amount of each layer at the start of the solver's step: what it held,
    // with the water that entered or left it before (macropores from the
    // surface, supply from below, baseflow, roots and evaporation).
    double surfaceAmount = evaporating ? 0.0 : U0[0];
    double macroporeLoad = 0;
    if (evaporating) {
        macroporeLoad = U0[0] * macroporeWater;
    } else if (macroporeWater > 0 && w.SurfaceLeft > NoWater) {
        // The macropores take their share of the surface water's load.
        macroporeLoad = std::min(MC * macroporeWater, U0[0] * std::min(1.0, macroporeWater / w.SurfaceLeft));
    }
    for (int j = 1; j <= L; ++j) {
        const double macro = std::max(0.0, w.macroporeInflow[j]) * tau;
        const double supply = std::max(0.0, w.capillarySupply[j]) * tau;
        const double drained = std::max(0.0, w.baseflowWithdrawal[j]) * tau;
        const double toLayer = macroporeWater > 0 ? macroporeLoad * macro / macroporeWater : 0.0;
        loads.Supply += in.Supply * supply;
        if (evaporating) {
            // The water drained and taken up left at the layer's concentration.
            const double before = water(w.thetaBefore, j);
            const double taken = std::max(0.0, before + macro + supply - drained - water(w.thetaStart, j));
            loads.Baseflow += U0[j] * drained;
            loads.Evapotranspiration += U0[j] * taken;
            A[j] = U0[j] * (before - drained - taken) + toLayer + in.Supply * supply;
        } else {
            // Roots and evaporation leave the solute behind; the baseflow
            // carries at most MC times its water.
            double base = 0;
            if (drained > 0) {
                const double w0 = water(w.thetaStart, j) + drained - macro - supply;
                base = std::min(MC * drained, w0 > NoWater ? U0[j] * std::min(1.0, drained / w0) : U0[j]);
                base = std::max(0.0, base);
            }
            loads.Baseflow += base;
            A[j] = U0[j] + toLayer + in.Supply * supply - base;
        }
    }
    surfaceAmount -= evaporating ? 0.0 : macroporeLoad;

    // Load entering layer 1 through the surface (negative: leaving it upward).
    double top = 0;
    if (evaporating) {
        top = infiltration > 0 ? U0[0] * infiltration : -U0[1] * upward;
    } else if (infiltration > 0) {
        top = w.SurfaceLeft > NoWater ? std::min(MC * infiltration, U0[0] * std::min(1.0, infiltration / w.SurfaceLeft))
                                      : 0.0;
        top = std::max(0.0, top);
    } else if (upward > 0 && w.thetaStart[1] > 0.001) {
        top = -std::min(MC * upward, beta * q0 / w.thickness[1] * A[1] / w.thetaStart[1]);
    }
    surfaceAmount -= evaporating ? 0.0 : top;

    // The layers from the top down.
    double above = evaporating ? U0[0] : 0.0;  // concentration of the water passing from above
    double aboveWater = 0;                     // [mm] water of the layer above after the step (non-evaporating)
    double aboveAmount = 0;
    double IN = top;
    for (int j = 1; j <= L; ++j) {
        const double dz = w.thickness[j];
        const double q = w.interfaceFlux[j];
        const double H = q * D[j];
        const double t0 = w.thetaStart[j];
        double BOT = 0;
        double XIF = 0, XEX = 0, XRI = 0;
        const double IF = std::max(0.0, w.layerInterflow[j]), EX = std::max(0.0, w.riverExfiltration[j]);
        const double RI = w.riverInfiltration[j];
        if (evaporating) {
            // The layer's own concentration at the start of the step.
            const double w0 = water(w.thetaStart, j);
            const double c0 = w0 > NoWater ? A[j] / w0 : U0[j];
            if (q > 0) {
                const double below = j < L ? U0[j + 1] : in.Supply;
                BOT = -below * q * tau;
            } else if (own(j)) {
                BOT = -c0 * q * tau;
            } else {
                BOT = -above * (q - H) * tau - c0 * H * tau;
            }
            auto lateral = [&](double Y) {
                return own(j) ? c0 * Y * tau : (Y - Y * D[j]) * above * tau + c0 * Y * D[j] * tau;
            };
            XIF = lateral(IF);
            XEX = lateral(EX);
            XRI = RI > 0 ? RI * in.River * tau : RI * c0 * tau;
            const double w1 = water(w.thetaNew, j);
            const double amount = A[j] + IN - BOT - XIF - XEX + XRI;
            U[j] = w1 > NoWater ? amount / w1 : 0.0;
            // What a layer without water would hold leaves with its outflows.
            if (!(w1 > NoWater)) loads.Exfiltration += amount;
            above = U[j];
        } else {
            // Concentration per water of the layer at the start [per mm].
            const double conc0 = t0 > 0.001 ? A[j] / (1000 * dz * t0) : 0.0;
            const double passConc = j == 1 ? (w.SurfaceLeft > NoWater ? U0[0] / w.SurfaceLeft : 0.0)
                                           : (aboveWater > NoWater ? aboveAmount / aboveWater : 0.0);
            if (q > 0) {
                if (j < L) {
                    const double t1 = w.thetaStart[j + 1];
                    const double below = t1 > 0.001 ? A[j + 1] / (1000 * w.thickness[j + 1] * t1) : 0.0;
                    BOT = -std::min(MC * q * tau, below * q * tau);
                } else {
                    BOT = -std::min(MC * q * tau, in.Supply * q * tau);
                }
            } else if (q < 0) {
                const double P = own(j) ? conc0 * (-q) * tau : conc0 * (-H) * tau + passConc * (H - q) * tau;
                BOT = std::min(MC * (-q) * tau, std::max(0.0, P));
            }
            auto lateral = [&](double Y) {
                if (!(Y > 0)) return 0.0;
                const double P = own(j) ? conc0 * Y * tau : conc0 * Y * D[j] * tau + passConc * (Y - Y * D[j]) * tau;
                return std::min(MC * Y * tau, std::max(0.0, P));
            };
            XIF = lateral(IF);
            XEX = lateral(EX);
            XRI = RI > 0 ? RI * in.River * tau : -std::min(MC * (-RI) * tau, conc0 * (-RI) * tau);
            U[j] = A[j] + IN - BOT - XIF - XEX + XRI;
            aboveWater = water(w.thetaNew, j);
            aboveAmount = U[j];
        }
        loads.Interflow += XIF;
        if (XRI > 0) loads.River += XRI; else loads.Exfiltration -= XRI;
        loads.Exfiltration += XEX;
        if (j == L) {
            if (BOT > 0) loads.Deep += BOT; else loads.Supply -= BOT;
        }
        IN = BOT;
    }

    // The surface: the rest of its water runs off or stays in the pond.
    if (evaporating) {
        // Water left at the surface, with what came up through it.
        const double left = std::max(0.0, w.SurfaceLeft - macroporeWater - infiltration);
        const double rest = left + upward + supplyTop;
        const double amount = U0[0] * left + U0[1] * upward + in.Supply * supplyTop;
        loads.Supply += in.Supply * supplyTop;
        const double c = rest > NoWater ? amount / rest : U0[0];
        loads.Direct += c * directWater;
        U[0] = c;
    } else {
        surfaceAmount += in.Supply * supplyTop;
        loads.Supply += in.Supply * supplyTop;
        double direct = 0;
        if (directWater > 0) {
            const double share = w.PondEnd > 0 ? directWater / (directWater + w.PondEnd) : 1.0;
            direct = std::min(MC * directWater, std::max(0.0, surfaceAmount) * share);
        }
        loads.Direct += direct;
        U[0] = surfaceAmount - direct;
    }
    loads.Direct += in.Silting * w.DirectSilting;

    // The saturated zone mixes with itself and the aquifer.
    {
        std::span<double> amounts = A;  // reused: amounts at the end
        std::span<double> held = D;     // reused: water per layer at the end [mm]
        for (int j = 1; j <= L; ++j) {
            held[j] = water(w.thetaNew, j);
            amounts[j] = evaporating ? U[j] * held[j] : U[j];
        }
        amounts[0] = held[0] = 0;
        loads.Aquifer = MixSaturatedZone(w.GroundwaterLayer, L, amounts, held, w.AquiferWater, aquiferConc);
        for (int j = 1; j <= L; ++j) {
            if (evaporating)
                U[j] = held[j] > NoWater ? amounts[j] / held[j] : U[j];
            else
                U[j] = amounts[j];
        }
    }

    // Decay of everything stored.
    if (kind.Decay != 1) {
        const double pond = evaporating ? w.PondEnd : 1.0;
        loads.Decay += U[0] * pond * (1 - kind.Decay);
        U[0] *= kind.Decay;
        for (int j = 1; j <= L; ++j) {
            const double amount = evaporating ? U[j] * water(w.thetaNew, j) : U[j];
            loads.Decay += amount * (1 - kind.Decay);
            U[j] *= kind.Decay;
        }
    }
    return loads;
}

}  // namespace unsatzon
