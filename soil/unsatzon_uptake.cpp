#include "soil/unsatzon_uptake.h"

#include <algorithm>
#include <cmath>

#include "parameters/soil.h"

namespace unsatzon {

namespace {

// Linear interpolation between (x0, y0) and (x1, y1); y0 when x0 = x1.
double Interpolate(double x0, double y0, double x1, double y1, double x) {
    if (x1 == x0) return y0;
    return (x - x0) / (x1 - x0) * y1 + (x1 - x) / (x1 - x0) * y0;
}

}  // namespace

int RootWaterUptake(const SoilType& soil, const RootParameters& p, double evaporationRate, double dt,
                    double evapMaxDepth, double& rootDepth, double cover, double transpirationRate, int layers,
                    std::span<const double> layerThickness, std::span<const double> thetaSat,
                    std::span<const double> thetaRes, std::span<const double> theta,
                    std::span<const double> boundaryElevation, std::span<double> rootFraction,
                    std::span<double> layerTranspiration, std::span<double> layerEtr, std::span<double> rootWeight,
                    std::span<double> layerEvaporation, int groundwaterLayer) {
    const int n = layers;
    if (n < 1) return 0;
    const double R = std::max(rootDepth, layerThickness[1]);
    rootDepth = R;
    const double a = p.rootDist;
    const double bottom = boundaryElevation[0] - R - 1e-5;

    // Root layers and their weights.
    int N = 0;
    double sum = 0;
    for (int k = 1; k <= n; ++k) {
        double D, z;
        const bool whole = boundaryElevation[k] > bottom;
        if (whole) {
            D = layerThickness[k];
            z = (boundaryElevation[0] - boundaryElevation[k]) - D / 2;
        } else {
            D = boundaryElevation[k - 1] - bottom - 1e-5;
            z = R - D / 2;
        }
        rootFraction[k] = R > 0 ? D / R : 0;
        rootWeight[k] = R > 0 ? (1 - z / R) * (1 + a * z / R) * D / R : 0;
        sum += rootWeight[k];
        N = k;
        if (!whole) break;
    }
    for (int k = 1; k <= N; ++k) rootWeight[k] = sum > 0 ? rootWeight[k] / sum : 0;

    // Reduction for wetness or dryness; the lost weight moves down or is lost.
    double lost = 0;
    for (int k = 1; k <= N; ++k) {
        double dry = soil.ThetaFromSuction(k, p.hReduDry);
        if (thetaRes[k] >= dry) dry = (2 * thetaRes[k] + thetaSat[k]) / 3;
        double f = 1;
        const double wet = p.tReduWet * thetaSat[k];
        if (theta[k] > wet) {
            f = Interpolate(wet, 1, thetaSat[k], p.limitReduWet, std::min(thetaSat[k], theta[k]));
        } else if (theta[k] < dry) {
            f = theta[k] > thetaRes[k] ? (theta[k] - thetaRes[k]) / (dry - thetaRes[k]) : 0;
        }
        if (f < 1) {
            const double M = (1 - f) * rootWeight[k];
            if (k < groundwaterLayer && k < N) {
                const double W = rootWeight[k + 1];
                if (M > 2 * W) {
                    rootWeight[k + 1] = 3 * W;
                    lost += M - 2 * W;
                } else {
                    rootWeight[k + 1] = W + M;
                }
            } else {
                lost += M;
            }
            rootWeight[k] -= M;
        }
    }

    for (int k = 1; k <= N; ++k) {
        layerTranspiration[k] = cover * transpirationRate * rootWeight[k];
        layerEtr[k] += layerTranspiration[k];
    }

    // Soil evaporation from the top layers.
    double E = lost * transpirationRate * cover + evaporationRate;
    double depth = 0;
    for (int k = 1; k <= n && (k == 1 || depth < evapMaxDepth); ++k) {
        const double dz = layerThickness[k];
        const double r = thetaSat[k] > 0 ? (thetaSat[k] - theta[k]) / thetaSat[k] : 1;
        double P = (1 - r * r) * E;
        if (!(theta[k] > (layerTranspiration[k] * cover + P) * dt / dz)) P = (1 - cover) * theta[k] * dz / dt;
        const double t = std::min(E, P);
        layerEvaporation[k] = t;
        layerEtr[0] += t;
        E -= t;
        depth += dz;
    }
    return N;
}

double ApplyRootUptake(const SoilType& soil, int rootLayers, int groundwaterLayer, int layers, double dt,
                       std::span<const double> layerThickness, std::span<const double> thetaRes,
                       std::span<double> thetaNew, std::span<double> layerTranspiration) {
    const int m = std::min(rootLayers, layers);
    const int g = groundwaterLayer;
    double taken = 0;
    int s = g;  // source layer for root layers below g
    for (int j = 1; j <= m; ++j) {
        const double dz = layerThickness[j];
        if (!(dz > 0)) continue;
        if (j <= g) {
            thetaNew[j] -= layerTranspiration[j] * dt / dz;
            if (thetaNew[j] < 0) {
                const double floor = j == 1 ? 0.0 : thetaRes[j];
                layerTranspiration[j] -= (floor - thetaNew[j]) * dz / dt;
                thetaNew[j] = floor;
            }
            taken += layerTranspiration[j];
            continue;
        }
        if (s < 1 || s > m || !(layerThickness[s] > 0)) continue;
        double a = layerTranspiration[j] * dt / layerThickness[s];
        if (!(a > 0)) continue;
        const double thetaFc = soil.ThetaFromSuction(s, FieldCapacitySuctionM);
        while (true) {
            const double dzs = layerThickness[s];
            if (thetaNew[s] - a >= thetaFc) {
                const double flux = a * dzs / dt;
                layerTranspiration[j] -= flux;
                layerTranspiration[s] += flux;
                thetaNew[s] -= a;
                taken += flux;
                break;
            }
            if (thetaNew[s] > thetaFc) {
                const double part = thetaNew[s] - thetaFc;
                const double flux = part * dzs / dt;
                layerTranspiration[j] -= flux;
                layerTranspiration[s] += flux;
                thetaNew[s] = thetaFc;
                taken += flux;
                ++s;
                if (s > m) break;
                a -= part;
                if (layerThickness[s] > 0) a *= layerThickness[s - 1] / layerThickness[s];
                continue;
            }
            ++s;
            break;
        }
    }
    return taken;
}

double ApplySoilEvaporation(int rootLayers, double dt, std::span<const double> layerThickness,
                            std::span<const double> layerEvaporation, std::span<double> thetaNew, int& deepest) {
    double taken = 0;
    if (!(layerEvaporation[1] > 0)) return 0;
    for (int j = 1; j <= rootLayers && layerEvaporation[j] > 0; ++j) {
        if (!(layerThickness[j] > 0)) break;
        thetaNew[j] -= layerEvaporation[j] * dt / layerThickness[j];
        taken += layerEvaporation[j];
        deepest = std::max(deepest, j);
    }
    return taken;
}

double MacroporeInfiltration(double& infiltration, const SoilType& soil, int layers,
                             std::span<const double> layerThickness, std::span<double> macroporeCapacity,
                             std::span<const double> thetaSat, double scale, std::span<double> theta,
                             std::span<double> macroporeInflow) {
    if (!(infiltration > soil.PMacroThresh) || layers < 1 || !(scale > 0)) return 0;
    int K = 0;
    if (soil.MacroDepth - layerThickness[1] / 2 > 0) {
        double depth = 0;
        for (int k = 1; k <= layers; ++k) {
            depth += layerThickness[k];
            macroporeCapacity[k] = soil.MacroCapacity * std::pow(soil.CapacityRedu, depth - layerThickness[k] / 2);
            K = k;
            // The next layer is looked at only when there is one.
            if (!(k < layers && depth < soil.MacroDepth - layerThickness[k + 1] / 2)) break;
        }
    }
    double q = std::min(soil.MacroCapacity, infiltration - soil.PMacroThresh);
    double total = 0;  // [mm]
    for (int k = K; k >= 1 && q > 0; --k) {
        const double dz = layerThickness[k];
        const double room = (thetaSat[k] - theta[k]) * dz * 1000;  // [mm]
        if (!(room > 0)) continue;
        const double capacity = macroporeCapacity[k];
        if (q * scale > room && capacity * scale > room) {
            theta[k] = thetaSat[k];
            macroporeInflow[k] = room / scale;
            q -= room / scale;
            total += room;
        } else if (q > capacity) {
            theta[k] += capacity * scale / (1000 * dz);
            macroporeInflow[k] = capacity;
            total += capacity * scale;
            q -= capacity;
        } else {
            theta[k] += q * scale / (1000 * dz);
            macroporeInflow[k] = q;
            total += q * scale;
            break;
        }
    }
    infiltration -= total / scale;
    return total;
}

double BaseflowLaw(double q0, double distance, double kelsqlat) {
    if (std::isinf(kelsqlat)) return distance < 0 ? 0.0 : q0;
    return q0 * std::exp(distance * kelsqlat);
}

void SupplyFromBelow(double supply, int layers, double dt, std::span<const double> layerThickness,
                     std::span<const double> thetaSat, std::span<double> thetaNew, std::span<double> capillarySupply) {
    double rest = supply;
    int k = layers;
    while (k >= 1 && thetaNew[k] > SaturatedShare * thetaSat[k]) --k;
    for (; k >= 1 && rest > 0; --k) {
        const double dz = layerThickness[k];
        if (!(dz > 0)) continue;
        const double room = (thetaSat[k] - thetaNew[k]) * dz / dt;
        if (!(room > 0)) continue;
        const double take = std::min(room, rest);
        capillarySupply[k] += take;
        thetaNew[k] += take * dt / dz;
        rest -= take;
    }
    if (rest > 0) capillarySupply[0] += rest;
}

int GroundwaterLayerOf(int layers, std::span<const double> thetaSat, std::span<const double> thetaNew) {
    for (int k = layers; k >= 1; --k)
        if (thetaNew[k] <= SaturatedShare * thetaSat[k]) return k;
    return 1;
}

double DrainBaseflow(const SoilType& soil, double baseflow, int& groundwaterLayer, int layers, double dt,
                     std::span<const double> layerThickness, std::span<double> thetaNew,
                     std::span<double> baseflowWithdrawal) {
    double rest = baseflow;
    int g = groundwaterLayer;
    for (int k = std::max(groundwaterLayer, 1); k <= layers && rest > 0; ++k) {
        const double dz = layerThickness[k];
        const double thetaFc = soil.ThetaFromSuction(k, FieldCapacitySuctionM);
        if (!(dz > 0) || thetaNew[k] <= thetaFc) {
            ++g;
            continue;
        }
        if (thetaNew[k] - rest * dt / dz >= thetaFc) {
            baseflowWithdrawal[k] += rest;
            thetaNew[k] -= rest * dt / dz;
            rest = 0;
            break;
        }
        const double give = (thetaNew[k] - thetaFc) * dz / dt;
        baseflowWithdrawal[k] += give;
        thetaNew[k] = thetaFc;
        rest -= give;
        ++g;
    }
    groundwaterLayer = std::min(g, layers);
    return rest > 0 ? rest : 0.0;
}

double DrainBelowFieldCapacity(double rest, int layers, double dt, std::span<const double> layerThickness,
                               std::span<const double> thetaRes, std::span<double> thetaNew,
                               std::span<double> baseflowWithdrawal) {
    for (int k = layers; k >= 1 && rest > 0; --k) {
        const double dz = layerThickness[k];
        if (!(dz > 0) || thetaNew[k] <= thetaRes[k]) continue;
        const double held = (thetaNew[k] - thetaRes[k]) * dz / dt;
        if (held > rest) {
            baseflowWithdrawal[k] += rest;
            thetaNew[k] -= rest * dt / dz;
            return 0.0;
        }
        baseflowWithdrawal[k] += held;
        thetaNew[k] = thetaRes[k];
        rest -= held;
    }
    return rest > 0 ? rest : 0.0;
}

double GroundwaterTableElevation(int g, std::span<const double> boundaryElevation, std::span<const double> thetaNew,
                                 std::span<const double> thetaSat, std::span<const double> layerThickness,
                                 double thetaInGwLevel) {
    const std::span<const double>& e = boundaryElevation;
    if (g == 1 && thetaNew[1] > SaturatedShare * thetaSat[1]) return e[0];
    if (thetaSat[g] - thetaInGwLevel > 0.0001) {
        const double z = e[g] + (thetaNew[g] - thetaInGwLevel) * layerThickness[g] / (thetaSat[g] - thetaInGwLevel);
        return std::clamp(z, e[g], e[g - 1]);
    }
    return e[g - 1];
}

double GroundwaterRecharge(bool externalTable, int k, double h0, double h1, double scale,
                           std::span<const double> boundaryElevation, std::span<const double> thetaNew,
                           std::span<const double> thetaSat, std::span<const double> thetaStart,
                           std::span<const double> layerThickness, std::span<const double> interfaceFlux,
                           double saturatedOutflow) {
    if (externalTable) return k >= 2 ? -scale * interfaceFlux[k - 1] : 0.0;
    const std::span<const double>& e = boundaryElevation;
    double storage = 0;  // [mm]
    if (h1 <= h0) {
        if (e[k - 1] != h1) {
            const double unsaturated = (layerThickness[k] * thetaNew[k] - (h1 - e[k]) * thetaSat[k]) / (e[k - 1] - h1);
            storage = (h1 - h0) * (thetaSat[k] - unsaturated) * 1000;
        }
    } else if (e[k - 1] != h0) {
        const double unsaturated = (layerThickness[k] * thetaStart[k] - (h0 - e[k]) * thetaSat[k]) / (e[k - 1] - h0);
        storage = (h1 - h0) * (thetaSat[k] - unsaturated) * 1000;
    }
    return saturatedOutflow * scale + storage;
}

int DynamicIterationSteps(double subStepSeconds, double minimumStep, double shortestTravelTime) {
    const double t = std::isfinite(shortestTravelTime) && shortestTravelTime > 0 ? shortestTravelTime : subStepSeconds;
    const double step = std::max(minimumStep, t);
    if (!(step > 0) || !(subStepSeconds > 0)) return 1;
    const double u = std::ceil(subStepSeconds / step);
    // A step shorter than a second gains nothing and would only stall the run.
    return static_cast<int>(std::clamp(u, 1.0, std::max(1.0, std::ceil(subStepSeconds))));
}

int ReconcileHeatSteps(int& iterationSteps, int& heatSteps) {
    int& U = iterationSteps;
    int& s = heatSteps;
    if (2 * U < s) {
        s = (s / U + 1) * U;
        return s / U;
    }
    if (s > U) U = s;
    s = U;
    return 1;
}

}  // namespace unsatzon
