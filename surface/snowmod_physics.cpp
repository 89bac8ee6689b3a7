#include "surface/snowmod_physics.h"

#include <algorithm>
#include <cmath>

namespace snowphys {

namespace {
constexpr double Sigma = 5.67e-8;         // [W/(m2 K4)]
constexpr double LatentFusion = 337500;   // [J/kg] as used for melt and refreezing
constexpr double LatentSublime = 2835500; // [J/kg]
constexpr double HeatIce = 2100;          // [J/(kg K)]
constexpr double HeatWater = 4180;
}  // namespace

double DepositionCapacity(double factor, double slopeDegrees, double maxSlopeDegrees) {
    if (!(maxSlopeDegrees > 0)) return 0;
    return std::max(0.0, factor * (1 - slopeDegrees / maxSlopeDegrees));
}

double SnowFraction(double t, double t0r, double transzone) {
    if (t > t0r + transzone) return 0;
    if (t <= t0r - transzone) return 1;
    return (t0r + transzone - t) / (2 * transzone);
}

int DayOfYear(int day, int month, const int daysPerMonth[13]) {
    int n = day;
    for (int m = 1; m < month && m <= 12; ++m) n += daysPerMonth[m];
    return n;
}

double SeasonalFactor(double mean, double amplitude, int dayOfYear) {
    return mean + amplitude * std::sin((dayOfYear - 80) * 0.017214206);
}

double SaturationVapourPressureIce(double t) { return 6.1078 * std::exp(21.874 * t / (t + 265.5)); }

double DegreeDayMelt(double c0, double t, double t0, double spd) { return c0 * (t - t0) / spd; }

double TemperatureWindMelt(double c1, double c2, double u, double t, double t0, double spd) {
    return (c1 + c2 * u) * (t - t0) / spd;
}

double RadiationIndexMelt(double p, double t, double t0, double spd, double rmf, double kr, double kw, double e) {
    if (p > 2.4 / spd) return 0.6 * t / spd + kw * t / spd + (e - 6.11) * kw / (0.662 * spd) + 0.006 * p * t;
    return (t - t0) * rmf * kr / spd;
}

void Refreeze(double crfr, double rmf, double t, double t0, double spd, double w, double* ss, double* sl) {
    const double r = std::fabs(crfr * rmf * (t - t0) / spd) * w;
    if (*sl >= r) {
        *sl -= r;
        *ss += r;
    } else {
        *ss += *sl;
        *sl = 0;
    }
}

double Retain(double melt, double cwh, double* ss, double* sl, double* moved) {
    // A negative melt (refreezing) moves back at most the liquid present.
    const double m = std::max(-*sl, std::min(*ss, melt));
    *sl += m;
    *ss -= m;
    if (moved) *moved = m;
    double outflow = 0;
    if (*sl > cwh * *ss) {
        outflow = *sl - cwh * *ss;
        *sl = cwh * *ss;
    }
    return outflow;
}

double SnowAlbedo(double albedoMin, double albedoMax, double ageDays, double t) {
    const double k = t > 0 ? -0.05 : -0.12;
    return albedoMin + (albedoMax - albedoMin) * std::exp(k * ageDays);
}

double AirSaturationVapourPressure(double tc) {
    if (tc + Melting > Melting) return 6.1078 * std::exp(17.08085 * tc / (tc + 234.175));
    return 6.1071 * std::exp(22.4429 * tc / (tc + 272.44));
}

double SurfaceIceVapourPressure(double ts) {
    const double tc = ts - Melting;
    return 6.1071 * std::exp(22.4429 * tc / (tc + 272.44));
}

namespace {

struct Terms {
    double ea = 0, fu = 0, lwIn = 0, shortwave = 0, precipitation = 0, ta = 0;
};

Terms CommonTerms(const EnergyInputs& in) {
    Terms t;
    t.ta = in.T + Melting;
    t.ea = AirSaturationVapourPressure(in.T) * in.h;
    double k = 0.24;
    if (in.P == 0) k = in.N <= 0.2 ? 0.08 : (in.N < 0.6 ? 0.17 : 0.2);
    t.lwIn = in.lwIn * Sigma * std::pow(t.ta, 4) * (0.61 + 0.05 * std::sqrt(std::max(0.0, t.ea))) *
             (1 + k * in.N * in.N);
    t.fu = 0.098 * in.u + 0.18;
    t.shortwave = (1 - in.albedo) * in.G * 60 / in.dt;
    t.precipitation = (t.ta - Melting) * HeatWater * in.rain / (60 * in.dt) +
                      (t.ta - Melting) * HeatIce * in.snow / (60 * in.dt);
    return t;
}

double Balance(const EnergyInputs& in, const Terms& t, double ts, double latent) {
    const double lwOut = -in.lwOut * Sigma * std::pow(ts, 4);
    const double sensible = 18.85 * t.fu * (t.ta - ts);
    return t.shortwave + t.lwIn + lwOut + sensible + latent + t.precipitation + 1;
}

// Sublimation out of the pack (m < 0) takes solid, then liquid water, never
// more than there is. Returns the mass exchanged (negative: sublimated).
double Exchange(double m, double* ss, double* sl) {
    *ss += m;
    if (*ss < 0) {
        *sl += *ss;
        *ss = 0;
        if (*sl < 0) {
            m -= *sl;
            *sl = 0;
        }
    }
    return m;
}

}  // namespace

double SurfaceBalance(const EnergyInputs& in, double ts, double* latent) {
    const Terms t = CommonTerms(in);
    const double le = 32.82 * t.fu * (t.ea - SurfaceIceVapourPressure(ts));
    if (latent) *latent = le;
    return Balance(in, t, ts, le);
}

double WetBulbTemperature(double t, double ea, double p) {
    const double e = std::max(ea, 1e-6);  // dry air: the search runs to its limit
    const double m = 0.622 * e / (p - e);
    const double x = std::log(p * m / ((m + 0.622) * 6.112));
    double tw = (272.62 * x / (22.46 - x) + 2 * t) / 3;
    double d = (t + tw) / 2;
    for (int pass = 1; pass <= 15; ++pass) {
        const double ew = 6.1115 * std::exp(22.46 * tw / (272.62 + tw)) - 0.00066 * p * (t - tw) * (1 + 0.00115 * tw);
        d = ew > e ? -d : std::fabs(d) / 2;
        tw += d;
        if (std::fabs(d) <= 0.025) break;
    }
    return tw;
}

EnergyResult EnergyBalanceNoMelt(const EnergyInputs& in, double w, double* ss, double* sl, double* tp, double* ts,
                                 double noData) {
    EnergyResult result;
    const Terms t = CommonTerms(in);
    const double s = *ss + *sl;
    double surface;
    if (*sl > 0 || t.ta > Melting + 2)
        surface = Melting;
    else
        surface = in.prescribedSurface ? in.Ts0 : t.ta - 2;

    auto latentAt = [&](double x) { return 32.82 * t.fu * (t.ea - SurfaceIceVapourPressure(x)); };
    double d = -10, previous = 0, b = 0, le = 0;
    bool signChanged = false;
    for (int i = 1;; ++i) {
        le = latentAt(surface);
        b = Balance(in, t, surface, le);
        result.evaluations = i;
        if (std::fabs(b) <= 0.25 || i == 151 || *sl > 0) break;
        double q;
        if (i == 1 && b >= 0) {
            q = -1;
        } else if ((b < 0 && previous > 0) || (b >= 0 && previous <= 0 && i > 1)) {
            const double rho = std::fabs(b / (b - previous));
            q = rho < 1 ? -rho : -0.5;
            signChanged = true;
        } else {
            q = signChanged ? 0.5 : 1;
        }
        d *= q;
        surface += d;
        previous = b;
        if (in.prescribedSurface) break;
    }
    if (!in.prescribedSurface) {
        if (t.ta - surface > 13) {
            surface = t.ta - 13;
            le = latentAt(surface);
        }
        if (surface > Melting) {
            le = 32.82 * t.fu * (t.ea - 6.1071);
            surface = Melting;
        }
    }
    // Conduction into the pack, never past the surface temperature.
    double pack = *tp + 0.3 * (surface - *tp) * (2 * 0.3 * w * in.dt * 60 * 1000) / (HeatIce * s * s);
    pack = std::clamp(pack, std::min(*tp, surface), std::max(*tp, surface));
    pack = std::min(pack, Melting);

    const double exchanged = Exchange(le * 60 * in.dt * w / LatentSublime, ss, sl);
    result.sublimation = -exchanged;

    const double f = -b * w * in.dt * 60 / LatentFusion;
    if (f > 0 && *sl > 0) {
        if (*sl >= f) {
            *sl -= f;
            *ss += f;
        } else {
            *ss += *sl;
            pack -= (f - *sl) * LatentFusion / (HeatIce * *ss);
            *sl = 0;
            pack = std::min(std::max(pack, surface - 3), Melting);
        }
    }
    result.balance = b;
    *ts = surface;
    *tp = pack;
    if (*ss + *sl <= 0) {
        *tp = noData;
        *ts = noData;
    }
    return result;
}

EnergyResult EnergyBalanceMelt(const EnergyInputs& in, double w, double* ss, double* sl, double* tp, double* ts,
                               double noData) {
    EnergyResult result;
    const Terms t = CommonTerms(in);
    const double s = *ss + *sl;
    const double surface = in.prescribedSurface ? in.Ts0 : Melting;
    const double le = 32.82 * t.fu * (t.ea - 6.1071);
    double sublimationMass = le * 60 * in.dt * w / LatentSublime;
    const double b = Balance(in, t, surface, le);
    result.balance = b;
    result.evaluations = 1;
    double pack = *tp;
    if (b > 0) {
        const double delta = b * w * in.dt * 60 / s;
        pack += delta / HeatIce;
        if (*sl > 0) pack += delta / HeatWater;
    }
    const double p = 1013.25 * std::pow(1 - 0.0065 * in.z / 288.15, 5.255);
    const double tw = WetBulbTemperature(in.T, t.ea, p);
    double melt = 0;
    if (pack > Melting) {
        const double u = (pack - Melting) * HeatIce * *ss;
        if (tw > 0)
            melt = u / LatentFusion;
        else
            sublimationMass -= u / LatentSublime;
        pack = Melting;
    }
    if (sublimationMass < 0) result.sublimation = -Exchange(sublimationMass, ss, sl);
    result.melt = melt;
    *ts = surface;
    *tp = pack;
    if (*ss + *sl <= 0) {
        *tp = noData;
        *ts = noData;
    }
    return result;
}

}  // namespace snowphys
