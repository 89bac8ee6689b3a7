#include "surface/etpetr_physics.h"

#include <algorithm>
#include <cmath>

namespace etpetr {

namespace {
bool InUnitInterval(double x) { return x >= 0.0 && x <= 1.0; }
constexpr double TwoPi = 2.0 * 3.14159265359;
}  // namespace

double SaturationVapourPressure(double temperature) {
    return 6.1078 * std::exp(17.269 * temperature / (temperature + 237.3));
}

int SolveQuadratic(double a, double b, double& x1, double& x2) {
    const double d = a * a / 4.0 - b;
    if (d > 0.0) {
        const double root = std::sqrt(d);
        x1 = -a / 2.0 - root;
        x2 = -a / 2.0 + root;
        return 2;
    }
    if (d == 0.0) {
        x1 = x2 = -a / 2.0;
        return 1;
    }
    x1 = x2 = 0.0;
    return 0;
}

ThresholdResult SunshineThresholdRoot(const double cs[4], double& root) {
    root = 0.0;
    if (cs[3] != 0.0) {
        // Extremum of the cubic: s'(x) = 0.
        const double p = 2.0 * cs[2] / (3.0 * cs[3]);
        const double q = cs[1] / (3.0 * cs[3]);
        const double d = p * p / 4.0 - q;
        if (d > 0.0) {
            const double x2 = -p / 2.0 + std::sqrt(d);
            const double x1 = -p / 2.0 - std::sqrt(d);
            if (InUnitInterval(x2)) {
                root = x2;
                return ThresholdResult::Found;
            }
            if (InUnitInterval(x1)) {
                root = x1;
                return ThresholdResult::Found;
            }
        } else if (d == 0.0 && InUnitInterval(-p / 2.0)) {
            root = -p / 2.0;
            return ThresholdResult::Found;
        }
        return ThresholdResult::NoRootInUnitInterval;
    }
    if (cs[2] != 0.0) {
        double x1 = 0.0;
        double x2 = 0.0;
        const int count = SolveQuadratic(cs[1] / cs[2], cs[0] / cs[2], x1, x2);
        if (count == 2) {
            if (InUnitInterval(x2)) {
                root = x2;
                return ThresholdResult::Found;
            }
            if (InUnitInterval(x1)) {
                root = x1;
                return ThresholdResult::Found;
            }
        } else if (count == 1 && InUnitInterval(x1)) {
            root = x1;
            return ThresholdResult::Found;
        }
        return ThresholdResult::NoRootInUnitInterval;
    }
    if (cs[1] != 0.0) {
        const double x = -cs[0] / cs[1];
        if (InUnitInterval(x)) {
            root = x;
            return ThresholdResult::Found;
        }
        return ThresholdResult::NoRootInUnitInterval;
    }
    return ThresholdResult::NotAtLeastLinear;
}

double InterpolateLinear(double x0, double y0, double x1, double y1, double x) {
    return y0 + (y1 - y0) * (x - x0) / (x1 - x0);
}

double HamonMonthlyFactor(const double table[14], int day, int month, int daysOfMonth) {
    if (day <= 15) return InterpolateLinear(-15.0, table[month - 1], 15.0, table[month], day);
    return InterpolateLinear(16.0, table[month], daysOfMonth + 16.0, table[month + 1], day);
}

double TemperatureAmplitudeOfDay(const double table[14], int day, int month, int daysOfMonth) {
    if (day <= 15) return InterpolateLinear(-15.5, table[month - 1], 15.0, table[month], day);
    return InterpolateLinear(16.0, table[month], daysOfMonth + 15.0, table[month + 1], day);
}

double HamonEtp(double pec, double brightFraction, double temperature) {
    return 0.1651 * pec * 2.0 * brightFraction * 216.7 * SaturationVapourPressure(temperature) /
           (273.3 + temperature);
}

double WendlingEtp(double radiation, double albedo, double coastFactor, double temperature) {
    return (0.36 * radiation * (1.1 - albedo) + 93.0 * coastFactor) * (22.0 + temperature) /
           (150.0 * (123.0 + temperature));
}

double HaudeSaturationVapourPressure(double temperature) {
    if (temperature < 0.0) return 6.11 * std::exp(22.46 * temperature / (temperature + 272.46));
    return 6.11 * std::exp(17.62 * temperature / (temperature + 243.12));
}

double HaudeDeficitFromHumidity(double relativeHumidity) {
    return 1.0 - std::clamp(relativeHumidity, 0.0, 1.0);
}

double HaudeDeficitFromVapourPressure(double vapourPressure, double saturationPressure) {
    const double r = vapourPressure / saturationPressure;
    if (r < 0.0) return 1.0;
    if (r > 1.0) return 0.0;
    return 1.0 - r;
}

double HaudeEtp(double saturationPressure, double fh, double deficit) {
    return std::min(7.0, saturationPressure * fh * deficit);
}

double AirPressureFromElevation(double elevation, double temperature) {
    return 1013.0 * std::exp(-elevation / (29.33 * temperature + 7991.0));
}

double ClearSkyRadiation(int n, double hours, double transmissivity, double airPressure,
                         const double* cosZenith) {
    double sum = 0.0;
    for (int i = 0; i < n; ++i) {
        const double cosZ = cosZenith[i];
        if (cosZ <= 0.0) continue;
        sum += 1367.0 * hours * std::pow(transmissivity, airPressure / 1013.0 / cosZ) * cosZ;
    }
    return sum;
}

double Transmissivity(double t0, double t1, int day, int month) {
    return t0 + t1 * std::cos(((month - 1) * 30.5 + 10.0 + day) * TwoPi / 365.0);
}

double Cubic(const double a[4], double x) { return a[0] + a[1] * x + a[2] * x * x + a[3] * x * x * x; }

double SunshineFromRelativeRadiation(const double cs[4], double threshold, double relativeRadiation) {
    if (!(relativeRadiation > threshold)) return 0.0;
    return std::clamp(Cubic(cs, relativeRadiation), 0.0, 1.0);
}

double RelativeRadiation(double radiation, double clearSky) {
    if (!(clearSky > 0.0)) return 0.0;
    return std::clamp(radiation / clearSky, 0.0, 1.0);
}

double Cloudiness(double relativeRadiation) {
    if (relativeRadiation > 1.0) return 0.0;
    const double b = relativeRadiation;
    return std::min(1.0, 0.997 + 0.4473 * b - 1.4059 * b * b);
}

double DeltaOverGamma(double temperature, double airPressure) {
    const double t = 237.3 + temperature;
    const double delta = 25029.0 * std::exp(17.26 * temperature / t) / (t * t);
    const double gamma = 1.6158 * airPressure / (2500.8 - 2.372 * temperature);
    return delta / gamma;
}

double LatentHeatDivisor(double temperature) { return 694.67 - 0.6589 * temperature; }

double NetLongwaveLoss(double vapourPressure, double a0, double sunshine, double partFraction,
                       double sigmaDt, double temperature) {
    const double kelvin = temperature + 273.15;
    const double k2 = kelvin * kelvin;
    return (0.48 - 0.065 * std::sqrt(std::max(0.0, vapourPressure))) * (a0 + (1.0 - a0) * sunshine) *
           partFraction * sigmaDt * k2 * k2;
}

double AerodynamicResistanceTop(double roughnessLength, double windSpeed) {
    const double u = std::max(0.0, windSpeed);
    if (roughnessLength > 2.0) return 25.0 / (0.54 * u + 1.0);
    const double z0 = std::max(0.001, roughnessLength);
    const double l = std::log(20.0 / z0);
    return 4.72 * l * l / (0.54 * u + 1.0);
}

double SurfaceResistance(double leafAreaIndex, double coverage, double canopyResistance, bool dayPart) {
    if (leafAreaIndex > 0.0 && coverage > 0.0) {
        if (!(canopyResistance > 0.0)) return 0.0;
        if (dayPart) return canopyResistance / (1.0 - std::pow(0.6, leafAreaIndex * coverage));
        return 1.0 / (0.0004 * leafAreaIndex * coverage);
    }
    return canopyResistance > 0.0 ? 2500.0 : 0.0;
}

double VapourTerm(double partFraction, double intervalMinutes, double saturationPressure,
                  double vapourPressure, double temperature, double aerodynamicResistance) {
    return partFraction * intervalMinutes * 60.0 * 0.216876 * std::max(0.0, saturationPressure - vapourPressure) /
           (temperature + 273.15) / aerodynamicResistance;
}

double Combination(double availableEnergy, double deltaOverGamma, double vapourTerm, double surfaceResistance,
                   double aerodynamicResistance) {
    return (availableEnergy * deltaOverGamma + vapourTerm) /
           (1.0 + deltaOverGamma + surfaceResistance / aerodynamicResistance);
}

PenmanMonteithResult PenmanMonteith(const PenmanMonteithLayer& in, double& topResistance, double& radiationLeft) {
    double coverage = in.coverage;
    double lai = in.leafAreaIndex;
    double rsc = in.canopyResistance;
    if (in.openWater) {
        coverage = 0.0;
        lai = 0.0;
        rsc = 0.0;
    }
    const double t = in.temperature;

    // Radiation available to this layer [mm] and its absorbed part.
    double available = radiationLeft;
    if (in.topLayer) {
        if (in.netRadiationInput) {
            // Each part gets its share b of the step's net radiation, so that
            // night and day together receive it once.
            available = in.partFraction * in.netRadiation / LatentHeatDivisor(t);
        } else {
            const double lw =
                NetLongwaveLoss(in.vapourPressure, in.a0, in.sunshine, in.partFraction, in.sigmaDt, t);
            available = in.dayPart ? 0.9 * (in.shortwave - lw) / LatentHeatDivisor(t) : -lw / LatentHeatDivisor(t);
        }
    }
    double absorbed = coverage * available * (1.0 - std::exp(-in.extinction * lai));
    radiationLeft = std::max(0.0, available - absorbed);

    const double eps = DeltaOverGamma(t, in.airPressure);
    double ra = 0.0;
    if (in.topLayer) {
        ra = AerodynamicResistanceTop(in.roughnessLength, in.windSpeed);
        topResistance = ra;
    } else {
        ra = in.leafAreaScale * in.leafAreaAbove + topResistance;
    }
    const double rs = SurfaceResistance(lai, coverage, rsc, in.dayPart);
    const double d = VapourTerm(in.partFraction, in.intervalMinutes, in.saturationPressure, in.vapourPressure, t, ra);

    PenmanMonteithResult out;
    if (in.openWater) {
        absorbed += radiationLeft;
        out.transpiration = Combination(absorbed, eps, d, rs, ra);
        return out;
    }
    out.transpiration = Combination(absorbed, eps, d, rs, ra);
    out.interception = Combination(absorbed, eps, d, in.interceptionResistance, ra);
    if (in.lowestLayer) out.soilEvaporation = Combination(radiationLeft, eps, d, in.soilResistance, ra);
    return out;
}

}  // namespace etpetr
