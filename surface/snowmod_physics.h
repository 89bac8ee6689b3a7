#pragma once
// Snow physics on plain values: rain and snow, melt laws, refreezing, liquid
// water retention, albedo, the energy balance of a snow pack and the slide
// deposition capacity. Storages and fluxes in mm, air temperatures in degC,
// energy-balance temperatures in K (273.16 K = 0 degC), fluxes in W/m2, the
// time interval `dt` in minutes, `spd` steps per day.

namespace snowphys {

constexpr double Melting = 273.16;  // [K]

// Deposition capacity of a slide cell: factor * (1 - slope / maxSlope), never
// below 0, and 0 everywhere for a maximum slope of 0.
double DepositionCapacity(double factor, double slopeDegrees, double maxSlopeDegrees);

// Share of precipitation that falls as snow at air temperature `t`; a step at
// `t0r` for a transition zone of 0.
double SnowFraction(double t, double t0r, double transzone);

// Day of the year from a 1-based days-per-month table.
int DayOfYear(int day, int month, const int daysPerMonth[13]);
// mean + amplitude * sin((n - 80) * 0.017214206).
double SeasonalFactor(double mean, double amplitude, int dayOfYear);

// [hPa] over ice at `t` [degC]: 6.1078 exp(21.874 t / (t + 265.5)).
double SaturationVapourPressureIce(double t);

// Potential melt [mm per step] above `t0`.
double DegreeDayMelt(double c0, double t, double t0, double spd);
double TemperatureWindMelt(double c1, double c2, double u, double t, double t0, double spd);
// Radiation index (methods 3 and 4): the rain-on-snow formula above 2.4 mm a
// day with vapour pressure `e` [hPa], else (t - t0) * rmf * kr / spd.
double RadiationIndexMelt(double p, double t, double t0, double spd, double rmf, double kr, double kw, double e);

// Refreezing of methods 3 and 4 at or below `t0`: moves up to
// |crfr * rmf * (t - t0) / spd| * w from the liquid to the solid storage.
void Refreeze(double crfr, double rmf, double t, double t0, double spd, double w, double* ss, double* sl);

// Moves the melt m = max(-sl, min(ss, melt)) from solid to liquid and lets
// the liquid water above cwh * ss leave. Returns the outflow [mm]; `moved`
// receives m.
double Retain(double melt, double cwh, double* ss, double* sl, double* moved);

// min + (max - min) * exp(k * age), k = -0.05 above 0 degC, else -0.12.
double SnowAlbedo(double albedoMin, double albedoMax, double ageDays, double t);

// Inputs of one energy-balance evaluation of a pack.
struct EnergyInputs {
    double T = 0;          // air temperature [degC]
    double h = 0;          // relative humidity [fraction]
    double N = 0;          // cloudiness [fraction]
    double P = 0;          // precipitation at the cell [mm]
    double u = 0;          // wind speed [m/s]
    double G = 0;          // global radiation
    double albedo = 0;
    double dt = 60;        // [min]
    double rain = 0;       // rain and snowfall of the step [mm], not weighted
    double snow = 0;
    double z = 0;          // elevation [m]
    double lwIn = 1, lwOut = 1;
    bool prescribedSurface = false;  // a "surfacetemperature" grid exists
    double Ts0 = Melting;            // its start value [K]
};

// Saturation vapour pressure of the air [hPa] at `tc` [degC]; the ice
// formula at or below 0 degC.
double AirSaturationVapourPressure(double tc);
// Vapour pressure over ice [hPa] at the surface temperature `ts` [K].
double SurfaceIceVapourPressure(double ts);
// Energy balance B(Ts) [W/m2] of the surface; `latent` receives LE(Ts).
double SurfaceBalance(const EnergyInputs& in, double ts, double* latent);
// Wet-bulb temperature [degC] at air temperature `t`, vapour pressure `ea`
// and air pressure `p` [hPa].
double WetBulbTemperature(double t, double ea, double p);

struct EnergyResult {
    double melt = 0;         // [mm], for melt evaluations
    double sublimation = 0;  // [mm] out of the pack (negative: condensation)
    double balance = 0;      // last B [W/m2]
    int evaluations = 0;
};

// Energy balance without melt (t <= T0, ss > 0). `tp` is the working pack
// temperature, `ts` the surface temperature [K]; both are updated (nodata when
// the pack empties).
EnergyResult EnergyBalanceNoMelt(const EnergyInputs& in, double w, double* ss, double* sl, double* tp, double* ts,
                                 double noData);
// Energy balance with melt (t > T0, ss > 0); the result's melt is the melt of
// the evaluation (linear in w).
EnergyResult EnergyBalanceMelt(const EnergyInputs& in, double w, double* ss, double* sl, double* tp, double* ts,
                               double noData);

}  // namespace snowphys
