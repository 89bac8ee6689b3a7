#include "soil/unsatzon_tracer_physics.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace unsatzon {

namespace {

// Water below this [mm] carries nothing and dilutes nothing.
constexpr double NoWater = 1e-300;

// Concentration an outflow carries from a store of concentration c.
double Carried(double c, const TracerKind& kind) {
    if (kind.Evaporating) return c;
    return std::min(c, std::max(kind.MaxConc, 0.0));
}

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
    std::span<double> M = scratch.subspan(0, n1);          // amounts
    std::span<double> cOut = scratch.subspan(n1, n1);      // concentration carried out of a store in stage B
    std::span<double> done = scratch.subspan(2 * n1, n1);  // 1 once a store of stage B is mixed
    const double tau = w.mmPerRate;
    const bool evaporating = kind.Evaporating;

    // Stage A, the surface: the input mixes with the pond; transpiration
    // draws from it, macropores take their water.
    const double pondAmount = evaporating ? U[0] * w.PondStart : U[0];
    double surfaceWater = w.PondStart + w.Rain + w.SurfaceSilting;
    const double inputLoad = in.Input * w.Rain + in.Silting * w.SurfaceSilting;
    loads.Input = inputLoad + in.Silting * w.DirectSilting;
    double surfaceAmount = pondAmount + inputLoad;
    const double transpired = std::max(0.0, surfaceWater - w.SurfaceLeft);
    const double mixing = evaporating ? surfaceWater : surfaceWater - transpired;
    double c = mixing > NoWater ? surfaceAmount / mixing : 0.0;
    double macroporeWater = 0;
    for (int j = 1; j <= L; ++j) macroporeWater += std::max(0.0, w.macroporeInflow[j]) * tau;
    {
        double out = evaporating ? c * transpired : 0.0;
        loads.Evapotranspiration += out;
        const double carried = Carried(c, kind);
        out += carried * macroporeWater;
        surfaceAmount -= out;
        cOut[0] = carried;
    }
    // Stage A, the layers.
    const double supplyConc = in.Supply;
    for (int j = 1; j <= L; ++j) {
        const double dz = w.thickness[j];
        const double before = 1000 * dz * w.thetaBefore[j];
        const double macro = std::max(0.0, w.macroporeInflow[j]) * tau;
        const double supply = std::max(0.0, w.capillarySupply[j]) * tau;
        const double drained = std::max(0.0, w.baseflowWithdrawal[j]) * tau;
        // What the roots and the soil evaporation took: the rest of the change.
        const double taken = std::max(0.0, before + macro + supply - drained - 1000 * dz * w.thetaStart[j]);
        double amount = (evaporating ? U[j] * before : U[j]) + cOut[0] * macro + supplyConc * supply;
        loads.Supply += supplyConc * supply;
        const double water = before + macro + supply;
        const double share = evaporating ? water : water - taken;
        const double cj = share > NoWater ? amount / share : 0.0;
        if (evaporating) {
            loads.Evapotranspiration += cj * taken;
            amount -= cj * taken;
        }
        const double base = Carried(cj, kind) * drained;
        loads.Baseflow += base;
        amount -= base;
        M[j] = amount;
    }
    M[0] = surfaceAmount;

    // Stage B: the solver's fluxes, each store mixed once everything that
    // flows into it is known. A boundary carries water one way only, so the
    // stores of the chain can always be ordered.
    const double directWater = std::max(0.0, w.DirectRunoff - w.DirectSilting);
    auto F = [&](int b) { return w.interfaceFlux[b] * tau; };  // positive upward
    auto ready = [&](int n) {
        if (n >= 1 && F(n - 1) < 0 && done[n - 1] == 0) return false;
        if (n < L && F(n) > 0 && done[n + 1] == 0) return false;
        return true;
    };
    auto mix = [&](int n) {
        double water = n == 0 ? std::max(0.0, w.SurfaceLeft - macroporeWater) : 1000 * w.thickness[n] * w.thetaStart[n];
        double amount = M[n];
        if (n >= 1 && F(n - 1) < 0) {
            water -= F(n - 1);
            amount -= F(n - 1) * cOut[n - 1];
        }
        if (n < L && F(n) > 0) {
            water += F(n);
            amount += F(n) * cOut[n + 1];
        }
        if (n == L && F(L) > 0) {
            water += F(L);
            amount += F(L) * supplyConc;
            loads.Deep -= F(L) * supplyConc;
        }
        if (n == 0) {
            const double supply = std::max(0.0, w.capillarySupply[0]) * tau;
            water += supply;
            amount += supplyConc * supply;
            loads.Supply += supplyConc * supply;
        } else {
            const double river = std::max(0.0, w.riverInfiltration[n]) * tau;
            water += river;
            amount += in.River * river;
            loads.River += in.River * river;
        }
        const double cn = water > NoWater ? amount / water : 0.0;
        const double carried = Carried(cn, kind);
        cOut[n] = carried;
        if (n >= 1 && F(n - 1) > 0) amount -= carried * F(n - 1);
        if (F(n) < 0) {
            const double down = -carried * F(n);
            amount -= down;
            if (n == L) loads.Deep += down;
        }
        if (n >= 1) {
            const double inter = carried * std::max(0.0, w.layerInterflow[n]) * tau;
            const double exf = carried * std::max(0.0, w.riverExfiltration[n]) * tau;
            loads.Interflow += inter;
            loads.Exfiltration += exf;
            amount -= inter + exf;
        } else {
            // Direct runoff; what it leaves is the pond's (without a pond
            // and with concentrations, nothing stays at the surface).
            const double direct = evaporating && !(w.PondEnd > 0) ? amount : std::min(amount, carried * directWater);
            loads.Direct += direct;
            amount -= direct;
        }
        M[n] = amount;
        done[n] = 1;
    };
    std::fill(done.begin(), done.end(), 0.0);
    for (int pass = 0, left = L + 1; left > 0 && pass <= 2 * (L + 1); ++pass) {
        for (int n = 0; n <= L; ++n)
            if (done[n] == 0 && ready(n)) {
                mix(n);
                --left;
            }
        for (int n = L; n >= 0; --n)
            if (done[n] == 0 && ready(n)) {
                mix(n);
                --left;
            }
    }
    loads.Direct += in.Silting * w.DirectSilting;
    const double surfaceConc = cOut[0];

    // The saturated zone mixes with itself and the aquifer.
    {
        double* water = cOut.data();  // reused: the water per layer at the end
        water[0] = 0;
        for (int j = 1; j <= L; ++j) water[j] = 1000 * w.thickness[j] * w.thetaNew[j];
        loads.Aquifer = MixSaturatedZone(w.GroundwaterLayer, L, M, std::span<const double>(water, n1), w.AquiferWater,
                                         aquiferConc);
    }

    // Decay of everything stored.
    if (kind.Decay != 1) {
        for (int j = 0; j <= L; ++j) {
            const double lost = M[j] * (1 - kind.Decay);
            loads.Decay += lost;
            M[j] -= lost;
        }
    }

    // Back to the stored form.
    if (evaporating) {
        U[0] = w.PondEnd > 0 ? M[0] / w.PondEnd : surfaceConc * kind.Decay;
        for (int j = 1; j <= L; ++j) {
            const double water = 1000 * w.thickness[j] * w.thetaNew[j];
            U[j] = water > NoWater ? M[j] / water : 0.0;
        }
    } else {
        for (int j = 0; j <= L; ++j) U[j] = M[j];
    }
    return loads;
}

}  // namespace unsatzon
