#include "parameters/soil.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "parameters/soil_physics.h"

const double SoilType::SuctionAxis[SoilType::TablePoints + 1] = {
    0,   0,   0.0005, 0.001, 0.002, 0.005, 0.007, 0.01, 0.02, 0.03, 0.05, 0.07, 0.1, 0.15, 0.2, 0.3,
    0.4, 0.6, 0.8,    1.2,   1.6,   2.6,   3.45,  6.9,  20,   35,   50,   75,   100, 125,  150};

SoilType::SoilType() = default;

SoilType::SoilType(int code) : Code(code) {}

void SoilType::LayerMissing(int layer, const char* file, int line) const {
    std::fprintf(stderr, "%s:%d: soil type %d has no layer %d (layers 0..%d)\n", file, line, Code, layer,
                 LayerCount);
    std::abort();
}

void SoilType::CreateLayers(int layers, double fill) {
    LayerCount = layers;
    const size_t n = static_cast<size_t>(layers) + 1;
    for (auto* list : {&ksat, &thickness, &theta_sat, &theta_res, &Par_n, &Par_m, &alpha, &Par_tau, &k_recession,
                       &DryHeatCapacity, &DryDensity, &DryThermalConduct}) {
        list->assign(n, fill);
    }
    SolidConductivityPower.assign(n, -1);
    WaterConductivityPower.assign(n, -1);
    WaterContentSuction.assign(n * Row, 0);
    SuctionSteepness.assign(n, -1);
    WaterContentConduct.assign(n * Row, 0);
    RelativeConduct.assign(n * Row, 0);
    const size_t freezing = n * static_cast<size_t>(FreezingRow());
    UnfrozenFraction.assign(freezing, 0);
    UnfrozenSlope.assign(freezing, 0);
    FreezingShift.assign(freezing, 0);
    FreezingMade.assign(n, 0);
    FieldCapacityContent.assign(n, 0);
    for (int l = 0; l <= layers; ++l) KeepFieldCapacityContent(l);
}

void SoilType::KeepFieldCapacityContent(int layer) {
    FieldCapacityContent[static_cast<size_t>(layer)] = ThetaFromSuctionInTable(layer, FieldCapacitySuction);
}

void SoilType::MakeHydraulicTables(int layer) {
    CheckLayer(layer, __FILE__, __LINE__);
    const double ts = theta_sat[layer], tr = theta_res[layer];
    const double a = alpha[layer], n = Par_n[layer], m = Par_m[layer], tau = Par_tau[layer];
    double* w = &WaterContentSuction[static_cast<size_t>(layer) * Row];
    double* v = &WaterContentConduct[static_cast<size_t>(layer) * Row];
    double* k = &RelativeConduct[static_cast<size_t>(layer) * Row];
    w[0] = v[0] = ts;
    w[TablePoints] = v[TablePoints] = tr;
    k[0] = 1;  // not part of the table; the saturated end of the curve
    for (int i = 1; i < TablePoints; ++i) {
        const double se = soilphysics::VanGenuchtenSaturation(SuctionAxis[i], a, n, m);
        w[i] = v[i] = soilphysics::WaterContentFromSaturation(se, ts, tr);
        k[i] = soilphysics::MualemRelativeConductivity(se, m, tau);
    }
    // The dry end holds the residual water content and no conductivity, not
    // the curve's value at 150 m.
    k[TablePoints] = 0;
    double steepest = 0;
    for (int i = 1; i < TablePoints; ++i) {
        const double gap = w[i] - w[i + 1];
        if (!(gap >= 0)) {
            steepest = -1;
            break;
        }
        const double rise = SuctionAxis[i + 1] - SuctionAxis[i];
        steepest = std::max(steepest, gap > 0 ? rise / gap : std::numeric_limits<double>::infinity());
    }
    SuctionSteepness[static_cast<size_t>(layer)] = steepest;
    KeepFieldCapacityContent(layer);
    ConductTablePoints = TablePoints;
    SuctionTablePoints = TablePoints;
}

void SoilType::MakeFreezingTables(int layer, double factor) {
    CheckLayer(layer, __FILE__, __LINE__);
    const int nf = FreezingSteps;
    const double b = FreezingMinTemperature / nf;
    const double a = alpha[layer], n = Par_n[layer], m = Par_m[layer];
    double* f = &UnfrozenFraction[static_cast<size_t>(layer) * FreezingRow()];
    double* s = &UnfrozenSlope[static_cast<size_t>(layer) * FreezingRow()];
    double* z = &FreezingShift[static_cast<size_t>(layer) * FreezingRow()];

    f[0] = 1;
    s[0] = 0;
    double steepest = 0, steepestTemperature = 0;
    for (int i = 1; i <= nf; ++i) {
        const double t = i * b;
        const double u = std::fabs(factor * t) * a;
        f[i] = soilphysics::UnfrozenFraction(u, n, m);
        s[i] = soilphysics::UnfrozenFractionSlope(u, a, factor, n, m);
        if (s[i] > steepest) {
            steepest = s[i];
            steepestTemperature = t;
        }
    }

    // For each target slope, the temperature on the cold side of the steepest
    // point at which the slope has fallen to it. Targets grow with i, so the
    // index found can only move towards the warm end: one pass suffices.
    int k = nf - 1;
    for (int i = 0; i <= nf; ++i) {
        const double target = i * (1.0 / nf) * steepest;
        double slopeTemperature;
        if (s[nf] >= target) {
            slopeTemperature = nf * b;
        } else {
            while (k > 0 && !(s[k] >= target)) --k;
            const double w = (target - s[k + 1]) / (s[k] - s[k + 1]);
            slopeTemperature = k * w * b + (1 - w) * (k + 1) * b;
        }
        z[i] = soilphysics::FreezingShift(slopeTemperature, steepestTemperature);
    }
    FreezingMade[layer] = 1;
}

bool SoilType::FreezingTablesReady(int layer) const {
    return layer >= 0 && static_cast<size_t>(layer) < FreezingMade.size() && FreezingMade[layer] != 0;
}

void SoilType::PrepareConductivityPowers(double waterConductivity) {
    for (int l = 0; l <= LayerCount && static_cast<size_t>(l) < SolidConductivityPower.size(); ++l) {
        SolidConductivityPower[l] = std::pow(DryThermalConduct[l], 1 - theta_sat[l]);
        WaterConductivityPower[l] = std::pow(waterConductivity, theta_sat[l]);
    }
}

const double* SoilType::ThetaSuctionTable(int layer) const {
    CheckLayer(layer, __FILE__, __LINE__);
    return &WaterContentSuction[static_cast<size_t>(layer) * Row];
}

double SoilType::SuctionCurveSteepness(int layer) const {
    CheckLayer(layer, __FILE__, __LINE__);
    return SuctionSteepness[static_cast<size_t>(layer)];
}

const double* SoilType::ThetaConductTable(int layer) const {
    CheckLayer(layer, __FILE__, __LINE__);
    return &WaterContentConduct[static_cast<size_t>(layer) * Row];
}

const double* SoilType::KrelTable(int layer) const {
    CheckLayer(layer, __FILE__, __LINE__);
    return &RelativeConduct[static_cast<size_t>(layer) * Row];
}

const double* SoilType::UnfrozenFractionTable(int layer) const {
    CheckLayer(layer, __FILE__, __LINE__);
    return &UnfrozenFraction[static_cast<size_t>(layer) * FreezingRow()];
}

const double* SoilType::UnfrozenSlopeTable(int layer) const {
    CheckLayer(layer, __FILE__, __LINE__);
    return &UnfrozenSlope[static_cast<size_t>(layer) * FreezingRow()];
}

const double* SoilType::FreezingShiftTable(int layer) const {
    CheckLayer(layer, __FILE__, __LINE__);
    return &FreezingShift[static_cast<size_t>(layer) * FreezingRow()];
}
