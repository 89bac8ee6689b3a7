// Soil heat in the cell step: the trial over the model step that sets the
// number of heat steps, one heat step after an iteration step, the thaw
// depth, and the first temperature profile.

#include "soil/unsatzon_heat.h"

#include <algorithm>
#include <cmath>
#include <span>

#include "framework/gridtable.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_heat_physics.h"

namespace unsatzon {

HeatWork::HeatWork(int layers) {
    const size_t n1 = static_cast<size_t>(std::max(layers, 1)) + 1;
    for (auto* v : {&unfrozen, &conductivity, &slope, &capacity, &flux, &change, &start, &trial, &a, &b, &c, &r})
        v->assign(n1, 0.0);
    std::fill(unfrozen.begin(), unfrozen.end(), 1.0);
    conductivityMemo.assign(n1, ConductivityMemo{});
}

int HeatStepCount(double trialChange, double airTemperature, double topTemperature, double stepSeconds,
                  double shortest, double longest) {
    const int most = static_cast<int>(std::clamp(std::floor(stepSeconds), 1.0, 1e6));
    int s = 1;
    while (s < most && ((std::fabs(trialChange) > std::fabs((airTemperature - topTemperature) * 0.25 * s) &&
                         stepSeconds / s > shortest) ||
                        stepSeconds / s > longest))
        ++s;
    return s;
}

void FreezingPointsOfSoil(const SoilType& soil, int layers, double unfrozenShare, double* out) {
    const int N = soil.FreezingSteps;
    const double per = N / 10.0;
    for (int l = 1; l <= layers; ++l) {
        double tf = -1 / (per > 0 ? per : 1);
        if (N > 1) {
            const double* table = soil.UnfrozenFractionTable(l);
            if (!(table[1] <= unfrozenShare)) {
                tf = soil.FreezingMinTemperature;
                for (int k = 2; k <= N; ++k) {
                    if (table[k] <= unfrozenShare) {
                        tf = -k / per;
                        break;
                    }
                }
            }
        }
        out[l] = tf;
    }
    out[0] = layers >= 1 ? out[1] : 0;
}

const double* FreezingPointCache::Of(const SoilType& soil, int layers, double unfrozenShare) {
    auto matches = [&](const Entry& e) {
        return e.soil == &soil && e.layers == layers && e.share == unfrozenShare;
    };
    if (Last < Entries.size() && matches(Entries[Last])) return Entries[Last].points.data();
    for (size_t k = 0; k < Entries.size(); ++k) {
        if (matches(Entries[k])) {
            Last = k;
            return Entries[k].points.data();
        }
    }
    Entry entry{&soil, layers, unfrozenShare, std::vector<double>(static_cast<size_t>(std::max(layers, 0)) + 1)};
    FreezingPointsOfSoil(soil, layers, unfrozenShare, entry.points.data());
    Entries.push_back(std::move(entry));
    Last = Entries.size() - 1;
    return Entries[Last].points.data();
}

double ThawDepthOfColumn(int layers, const double* T, const double* Tf, double lowerTemperature, const double* z) {
    const int n = layers;
    double depth = 0;
    for (int i = 1; i <= n - 1; ++i) {
        if (T[i] > Tf[i] && Tf[i] >= T[i + 1]) {
            const double zi = (z[i - 1] + z[i]) / 2, zj = (z[i] + z[i + 1]) / 2;
            const double at = zi + (Tf[i] - T[i]) * (zj - zi) / (T[i + 1] - T[i]);
            depth = at - z[0];
        }
    }
    if (n >= 1 && T[n] > Tf[n] && lowerTemperature <= Tf[n]) depth = z[n] - z[0];
    return depth;
}

}  // namespace unsatzon

double unsatzonmodellklasse::CellNFactor(int landuse, double airTemperature) const {
    double nf = -1;
    if (landuse >= 1 && Settings.LanduseTable) {
        const LanduseType& use = Settings.LanduseTable[landuse];
        const size_t points = static_cast<size_t>(std::max(0, use.FixPointCount));
        if (points >= 1 && use.NFactor.size() > points && use.JulDays.size() > points && use.AltDep.size() > points)
            nf = use.GetNFactorAtDate(nullptr, static_cast<int>(StepDay), static_cast<int>(StepMonth),
                                      static_cast<int>(StepYear));
        if (nf < 0) nf = airTemperature < 0 ? use.GetNfFreezing() : use.GetNfThawing();
    }
    if (nf < 0) nf = airTemperature < 0 ? dTModNFactorFreezing : dTModNFactorThawing;
    return nf;
}

void unsatzonmodellklasse::HeatProperties(const SoilType& soil, const double* T, const double* theta,
                                          unsatzon::HeatWork& h) const {
    const int n = maxLayers;
    const size_t n1 = static_cast<size_t>(n) + 1;
    soil.CalcUnfrozenFractionAndSlope(h.unfrozen.data(), h.slope.data(), T, theta);
    unsatzon::ThermalConductivity(h.conductivity, n, std::span<const double>(soil.theta_sat.data(), n1),
                                  std::span<const double>(soil.DryThermalConduct.data(), n1), h.unfrozen,
                                  std::span<const double>(theta, n1), dTModLamWat, dTModLamIce,
                                  h.conductivityMemo);
    unsatzon::LatentHeat(n, std::span<const double>(theta, n1), std::span<const double>(soil.theta_res.data(), n1),
                         dTModLatHeat, dTModRhoWater, h.slope);
    soil.CalcHeatCapacity(T, h.capacity.data(), h.unfrozen.data(), h.slope.data(), theta, dTModRhoWater,
                          dTModCWater, dTModCIce0, dTModCIce20);
}

double unsatzonmodellklasse::HeatTrial(int i, int j, const SoilType& soil, const double* theta, double nFactor,
                                       unsatzon::HeatWork& h) const {
    const int n = maxLayers;
    const double* T = SoilTemperature[i][j];
    HeatProperties(soil, T, theta, h);
    std::copy(T, T + n + 1, h.trial.begin());
    unsatzon::HeatFluxes(h.flux, n, h.conductivity, std::span<const double>(soil.thickness.data(), n + 1), h.trial,
                         LowerBoundaryTemperature[i][j], AirTemperature[i][j], nFactor);
    unsatzon::TemperatureChange(h.change, n, h.flux, std::span<const double>(soil.thickness.data(), n + 1),
                                h.capacity, static_cast<long>(60 * TimeInterval));
    return h.change[1];
}

void unsatzonmodellklasse::HeatStep(int i, int j, const SoilType& soil, const double* theta, const double* waterFlux,
                                    const double* macroporeInflow, double nFactor, double seconds,
                                    unsatzon::HeatWork& h) const {
    const int n = maxLayers;
    const size_t n1 = static_cast<size_t>(n) + 1;
    double* T = SoilTemperature[i][j];
    HeatProperties(soil, T, theta, h);
    std::copy(T, T + n + 1, h.start.begin());
    const double air = AirTemperature[i][j];
    const double low = LowerBoundaryTemperature[i][j];
    std::span<const double> dz(soil.thickness.data(), n1);
    if (heatMethod <= 10) {
        unsatzon::HeatFluxes(h.flux, n, h.conductivity, dz, h.start, low, air, nFactor);
        unsatzon::TemperatureChange(h.change, n, h.flux, dz, h.capacity, static_cast<long>(seconds));
        unsatzon::ApplyTemperatureChange(n, std::span<double>(T, n1), h.start, h.change, h.flux, true, low, air);
    } else {
        unsatzon::ImplicitHeatStep s;
        s.dt = seconds;
        s.nFactor = nFactor;
        s.airTemperature = air;
        s.inflowTemperature = SnowStorage && SnowStorage[i][j] > 0 ? 0.0 : air;
        s.lowerValue = unsatzon::LowerBoundaryValue(HeatFluxLowerGrid != nullptr, low,
                                                    HeatFluxLowerGrid ? HeatFluxLowerGrid[i][j] : 0.0, dz[n],
                                                    h.conductivity[static_cast<size_t>(n)], h.start[n1 - 1]);
        s.advection = heatMethod >= 12;
        unsatzon::SolveHeatConduction(n, h.conductivity, h.capacity, dz, s, h.start,
                                      std::span<const double>(macroporeInflow, n1),
                                      std::span<const double>(waterFlux, n1), h.a, h.b, h.c, h.r,
                                      std::span<double>(T, n1));
    }
    // The liquid share the next water step sees.
    soil.CalcUnfrozenFraction(h.unfrozen.data(), T, theta);
}

void unsatzonmodellklasse::ThawDepthOfCell(int i, int j, const SoilType& soil, int g, unsatzon::HeatWork& h) {
    const int n = maxLayers;
    const double* freezingPoint = h.freezingPoints.Of(soil, n, dTModSEForStat);
    const double* T = SoilTemperature[i][j];
    const double* z = GeodeticHeads[i][j];
    const double depth = unsatzon::ThawDepthOfColumn(n, T, freezingPoint, LowerBoundaryTemperature[i][j], z);
    if (ThawDepth) ThawDepth[i][j] = depth;
    if (FrozenSoilInGroundwater && GroundwaterActive == 1) {
        double frozen = 0;
        for (int l = std::max(1, g); l <= n; ++l)
            if (T[l] <= freezingPoint[l] && z[l] - z[0] < depth)
                frozen += soil.thickness[static_cast<size_t>(l)];
        FrozenSoilInGroundwater[i][j] = frozen;
    }
}

void unsatzonmodellklasse::PrepareHeat() {
    if (heatTransferSwitch <= 0 || heatMethod <= 0) return;
    HeatFluxLowerGrid = HeatFluxLowerBoundary ? OptionalGrid("HeatFlux_Lower_Boundary_Condition") : nullptr;
    if (!LowerBoundaryTemperature) LowerBoundaryTemperature = OptionalGrid("T_Lower_Boundary_Condition");
}

void unsatzonmodellklasse::SetInitialTemperatureProfile() {
    if (!InitialTemperatureProfile || heatTransferSwitch <= 0 || !SoilTemperature) return;
    InitialTemperatureProfile = 0;
    const int n = maxLayers;
    const size_t n1 = static_cast<size_t>(n) + 1;
    const int first = std::max(1, FirstRow), last = std::min(LastRow, NRows);
    for (int i = first; i <= last; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            double* T = SoilTemperature[i][j];
            if (!OwnModelCell(i, j) || !LowerBoundaryTemperature || !AirTemperature) {
                for (int k = 1; k <= n; ++k) T[k] = NoData;
                continue;
            }
            unsatzon::InitialTemperatureProfile(n, std::span<const double>(GeodeticHeads[i][j], n1),
                                                LowerBoundaryTemperature[i][j], AirTemperature[i][j],
                                                std::span<double>(T, n1));
        }
    }
}
