#include "soil/unsatzon_heat_physics.h"

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>

namespace unsatzon {

double LayerConductivity(double phi, double theta, double f, double lambdaS, double lambdaW, double lambdaI) {
    const bool frozen = f < 0.99;
    if (phi - theta < 0.01) {
        if (frozen)
            return std::pow(lambdaS, 1 - phi) * std::pow(lambdaW, f * theta) * std::pow(lambdaI, (1 - f) * theta);
        return std::pow(lambdaS, 1 - phi) * std::pow(lambdaW, phi);
    }
    const double e = theta + (1 - phi);
    double solid = e * std::pow(lambdaS, (1 - phi) / e) * std::pow(lambdaW, f * theta / e);
    if (frozen) solid *= std::pow(lambdaI, (1 - f) * theta / e);
    return AirConductivity * (phi - theta) + solid;
}

namespace {

// The same argument, bit for bit (so that 0 and -0 count apart).
bool Same(double a, double b) { return std::bit_cast<uint64_t>(a) == std::bit_cast<uint64_t>(b); }

}  // namespace

double RememberedLayerConductivity(ConductivityMemo& m, double phi, double theta, double f, double lambdaS,
                                   double lambdaW, double lambdaI) {
    // The same branch as LayerConductivity takes for the nearly saturated,
    // unfrozen layer.
    if (!(f < 0.99) && phi - theta < 0.01) {
        if (!(m.saturatedValid && Same(m.saturatedPhi, phi) && Same(m.saturatedLambdaS, lambdaS) &&
              Same(m.saturatedLambdaW, lambdaW))) {
            m.saturatedValue = LayerConductivity(phi, theta, f, lambdaS, lambdaW, lambdaI);
            m.saturatedPhi = phi;
            m.saturatedLambdaS = lambdaS;
            m.saturatedLambdaW = lambdaW;
            m.saturatedValid = true;
        }
        return m.saturatedValue;
    }
    if (!(m.valid && Same(m.phi, phi) && Same(m.theta, theta) && Same(m.f, f) && Same(m.lambdaS, lambdaS) &&
          Same(m.lambdaW, lambdaW) && Same(m.lambdaI, lambdaI))) {
        m.value = LayerConductivity(phi, theta, f, lambdaS, lambdaW, lambdaI);
        m.phi = phi;
        m.theta = theta;
        m.f = f;
        m.lambdaS = lambdaS;
        m.lambdaW = lambdaW;
        m.lambdaI = lambdaI;
        m.valid = true;
    }
    return m.value;
}

void ThermalConductivity(std::span<double> conductivity, int layers, std::span<const double> thetaSat,
                         std::span<const double> dryConductivity, std::span<const double> unfrozenFraction,
                         std::span<const double> theta, double lambdaW, double lambdaI,
                         std::span<ConductivityMemo> memo) {
    if (memo.size() > static_cast<size_t>(std::max(layers, 0))) {
        for (int k = 1; k <= layers; ++k)
            conductivity[k] = RememberedLayerConductivity(memo[static_cast<size_t>(k)], thetaSat[k], theta[k],
                                                          unfrozenFraction[k], dryConductivity[k], lambdaW, lambdaI);
        return;
    }
    for (int k = 1; k <= layers; ++k)
        conductivity[k] = LayerConductivity(thetaSat[k], theta[k], unfrozenFraction[k], dryConductivity[k],
                                            lambdaW, lambdaI);
}

void LatentHeat(int layers, std::span<const double> theta, std::span<const double> thetaRes, double latentHeat,
                double waterDensity, std::span<double> freezingSlope) {
    for (int k = 1; k <= layers; ++k)
        freezingSlope[k] =
            theta[k] > thetaRes[k] ? latentHeat * waterDensity * (theta[k] - thetaRes[k]) * freezingSlope[k] : 0.0;
}

void HeatFluxes(std::span<double> heatFlux, int layers, std::span<const double> l, std::span<const double> dz,
                std::span<const double> T, double lowerTemperature, double airTemperature, double nFactor) {
    const int n = layers;
    if (n < 1) return;
    heatFlux[0] = -2 * l[1] / dz[1] * (nFactor * airTemperature - T[1]);
    for (int k = 1; k <= n - 1; ++k) heatFlux[k] = -2 * l[k] * (T[k] - T[k + 1]) / (dz[k] + dz[k + 1]);
    heatFlux[n] = -2 * l[n] / dz[n] * (T[n] - lowerTemperature);
}

void TemperatureChange(std::span<double> change, int layers, std::span<const double> heatFlux,
                       std::span<const double> dz, std::span<const double> C, long seconds) {
    for (int k = 1; k <= layers; ++k)
        change[k] = static_cast<double>(seconds) / (dz[k] * C[k]) * (heatFlux[k] - heatFlux[k - 1]);
}

void ApplyTemperatureChange(int layers, std::span<double> T, std::span<const double> start,
                            std::span<const double> change, std::span<const double> heatFlux, bool limiter,
                            double lowerTemperature, double airTemperature) {
    const int n = layers;
    for (int k = n; k >= 1; --k) {
        double t = T[k] + change[k];
        if (limiter) {
            const double U = k == 1 ? airTemperature : start[k - 1];
            const double L = k == n ? lowerTemperature : start[k + 1];
            const double Ft = heatFlux[k - 1], Fb = heatFlux[k];
            if (Ft >= 0 && Fb >= 0)
                t = std::min(t, L);
            else if (Ft >= 0)
                t = std::max(t, std::min(U, L));
            else if (Fb >= 0)
                t = std::min(t, std::max(U, L));
            else
                t = std::min(t, U);
        }
        T[k] = t;
    }
}

double LowerBoundaryValue(bool fluxBoundary, double boundaryTemperature, double heatFluxIn, double bottomThickness,
                          double bottomConductivity, double bottomStartTemperature) {
    if (!fluxBoundary) return boundaryTemperature;
    return heatFluxIn * bottomThickness / (2 * bottomConductivity) + bottomStartTemperature;
}

void SolveHeatConduction(int layers, std::span<const double> l, std::span<const double> C,
                         std::span<const double> dz, const ImplicitHeatStep& s, std::span<const double> T0,
                         std::span<const double> macroporeInflow, std::span<const double> W, std::span<double> a,
                         std::span<double> b, std::span<double> c, std::span<double> r, std::span<double> T) {
    const int n = layers;
    if (n < 1) return;
    const double h = 2 * s.dt;
    for (int k = 1; k <= n; ++k) {
        const double omega = WaterHeatCapacity * s.dt / (dz[k] * C[k]);
        a[k] = k > 1 ? -h * l[k - 1] / ((dz[k - 1] + dz[k]) * dz[k] * C[k]) : 0.0;
        c[k] = k < n ? -h * l[k] / ((dz[k + 1] + dz[k]) * dz[k] * C[k]) : 0.0;
        b[k] = 1 - a[k] - c[k];
        r[k] = T0[k];
        double top = k == 1 ? h * l[1] / (dz[1] * dz[1] * C[1]) : 0.0;  // towards the air
        double bottom = k == n ? h * l[n] / (dz[n] * dz[n] * C[n]) : 0.0;  // towards the lower boundary
        if (s.advection) {
            const double fromAbove = W[k - 1] < 0 ? -W[k - 1] * omega : 0.0;
            const double fromBelow = W[k] > 0 ? W[k] * omega : 0.0;
            if (k == 1)
                top += fromAbove;  // surface water at the air's temperature
            else {
                a[k] -= fromAbove;
                b[k] += fromAbove;
            }
            if (k == n)
                bottom += fromBelow;
            else {
                c[k] -= fromBelow;
                b[k] += fromBelow;
            }
            const double macro = macroporeInflow[k] > 0 ? macroporeInflow[k] * omega : 0.0;
            b[k] += macro;
            r[k] += macro * s.inflowTemperature;
        }
        b[k] += top + bottom;
        r[k] += top * s.airTemperature * s.nFactor + bottom * s.lowerValue;
    }
    for (int j = 2; j <= n; ++j) {
        const double m = a[j] / b[j - 1];
        b[j] -= c[j - 1] * m;
        r[j] -= m * r[j - 1];
    }
    T[n] = r[n] / b[n];
    for (int j = n - 1; j >= 1; --j) T[j] = (r[j] - c[j] * T[j + 1]) / b[j];
}

void InitialTemperatureProfile(int layers, std::span<const double> z, double lowerTemperature,
                               double airTemperature, std::span<double> T) {
    T[0] = lowerTemperature;
    const double depth = z[0] - z[layers];
    for (int k = 1; k <= layers; ++k) {
        const double A = depth != 0 ? (z[0] - (z[k - 1] + z[k]) / 2) / depth : 0.0;
        T[k] = A * lowerTemperature + (1 - A) * airTemperature;
    }
}

}  // namespace unsatzon
