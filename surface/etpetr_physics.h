#pragma once
// Kernels of potential evapotranspiration: Penman-Monteith per vegetation
// layer and part of the step, Hamon, Wendling, Haude, and the radiation and
// sunshine relations they share. Pure functions on plain values.
//
// Units: temperatures [deg C], pressures [hPa], radiation [Wh/m2 per step],
// water [mm per step], resistances [s/m], wind [m/s], lengths [m].

namespace etpetr {

// Saturation vapour pressure over water [hPa]:
// e_s = 6.1078 exp(17.269 T / (T + 237.3)).
double SaturationVapourPressure(double temperature);

// Real roots of x^2 + a x + b = 0; returns their count (0, 1 or 2), x1 <= x2.
// With D = a^2/4 - b: D > 0 two roots, D = 0 one (x1 = x2 = -a/2), otherwise
// (also D not a number) none with x1 = x2 = 0.
int SolveQuadratic(double a, double b, double& x1, double& x2);

enum class ThresholdResult { Found, NoRootInUnitInterval, NotAtLeastLinear };

// Threshold of the sunshine polynomial s(x) = cs[0] + cs[1] x + cs[2] x^2 +
// cs[3] x^3: the relative radiation in [0, 1] below which no sunshine is
// counted (for a cubic the extremum of s in [0, 1], else the zero of s).
ThresholdResult SunshineThresholdRoot(const double cs[4], double& root);

// Linear interpolation through (x0, y0) and (x1, y1) at x.
double InterpolateLinear(double x0, double y0, double x1, double y1, double x);

// Hamon's monthly factor for the day, interpolated between mid-month points;
// `table` has 14 entries (0 December, 1..12 the months, 13 January).
double HamonMonthlyFactor(const double table[14], int day, int month, int daysOfMonth);

// Day/night temperature amplitude [K] of the day from the monthly table (14
// entries like the Hamon table); the first half of a month starts at -15.5.
double TemperatureAmplitudeOfDay(const double table[14], int day, int month, int daysOfMonth);

// Hamon [mm per step]: 0.1651 PEC 2 beta 216.7 e_s(T) / (273.3 + T),
// beta the bright fraction of the step.
double HamonEtp(double pec, double brightFraction, double temperature);

// Wendling [mm per step]: (0.36 R (1.1 - albedo) + 93 fk) (22 + T) /
// (150 (123 + T)), R the corrected global radiation [Wh/m2].
double WendlingEtp(double radiation, double albedo, double coastFactor, double temperature);

// Saturation vapour pressure of Haude [hPa]: over ice below 0 deg C, over
// water from 0 deg C on.
double HaudeSaturationVapourPressure(double temperature);

// Saturation deficit fraction of Haude from relative humidity [1/1]; the
// humidity is taken within [0, 1].
double HaudeDeficitFromHumidity(double relativeHumidity);

// Saturation deficit fraction of Haude from vapour pressure e and e_s:
// 1 for e/e_s < 0, 0 for e/e_s > 1, else 1 - e/e_s.
double HaudeDeficitFromVapourPressure(double vapourPressure, double saturationPressure);

// Haude [mm per day]: e_s fh d, at most 7.
double HaudeEtp(double saturationPressure, double fh, double deficit);

// Air pressure [hPa] from elevation z [m] and temperature:
// 1013 exp(-z / (29.33 T + 7991)).
double AirPressureFromElevation(double elevation, double temperature);

// Clear-sky radiation [Wh/m2 per step] summed over `n` sub-steps of `hours`
// length: sum of 1367 h tau^(P/1013/cosZ_i) cosZ_i. `cosZenith` holds n
// values (index 0 the first sub-step). Sub-steps with the sun at or below
// the horizon (cos Z <= 0) contribute nothing.
double ClearSkyRadiation(int n, double hours, double transmissivity, double airPressure,
                         const double* cosZenith);

// Transmissivity of the day: T0 + T1 cos(((month - 1) 30.5 + 10 + day) 2 pi / 365).
double Transmissivity(double t0, double t1, int day, int month);

// Cubic a[0] + a[1] x + a[2] x^2 + a[3] x^3.
double Cubic(const double a[4], double x);

// Relative sunshine duration from relative radiation B (already in [0, 1]):
// 0 unless B exceeds the threshold, else the sunshine polynomial clamped to
// [0, 1].
double SunshineFromRelativeRadiation(const double cs[4], double threshold, double relativeRadiation);

// Relative radiation B = radiation / clear-sky radiation within [0, 1], 0
// when the clear-sky radiation is not positive.
double RelativeRadiation(double radiation, double clearSky);

// Cloudiness from relative radiation: 0 for B > 1, else
// min(1, 0.997 + 0.4473 B - 1.4059 B^2).
double Cloudiness(double relativeRadiation);

// Slope of the saturation curve Delta = 25029 exp(17.26 T/(237.3+T))/(237.3+T)^2
// [hPa/K] over the psychrometric term gamma = 1.6158 P / (2500.8 - 2.372 T).
double DeltaOverGamma(double temperature, double airPressure);

// Latent heat divisor turning Wh/m2 into mm: 694.67 - 0.6589 T.
double LatentHeatDivisor(double temperature);

// Net longwave loss [Wh/m2 per part]:
// (0.48 - 0.065 sqrt(e)) (a0 + (1 - a0) s) b sigmaDt (T + 273.15)^4.
// A negative vapour pressure counts as 0.
double NetLongwaveLoss(double vapourPressure, double a0, double sunshine, double partFraction,
                       double sigmaDt, double temperature);

// Aerodynamic resistance of the top layer [s/m]: 25/(0.54 u + 1) for
// z0 > 2 m, else 4.72 ln(20/z0)^2/(0.54 u + 1). Negative wind counts as 0 and
// the roughness is at least 1 mm.
double AerodynamicResistanceTop(double roughnessLength, double windSpeed);

// Surface resistance [s/m] of a layer for the day (dayPart true) or night:
// LAI > 0, VCF > 0, rsc > 0: day rsc/(1 - 0.6^(LAI VCF)), night
// 1/(0.0004 LAI VCF); LAI > 0, VCF > 0, rsc <= 0: 0; otherwise 2500 for
// rsc > 0, else 0.
double SurfaceResistance(double leafAreaIndex, double coverage, double canopyResistance, bool dayPart);

// Vapour term [mm per part]: b dt 60 0.216876 max(0, e_s - e)/(T + 273.15)/ra,
// dt the interval in minutes.
double VapourTerm(double partFraction, double intervalMinutes, double saturationPressure,
                  double vapourPressure, double temperature, double aerodynamicResistance);

// Penman-Monteith combination (Q eps + D)/(1 + eps + rs/ra).
double Combination(double availableEnergy, double deltaOverGamma, double vapourTerm, double surfaceResistance,
                   double aerodynamicResistance);

// One vegetation layer and one part (night or day) of the step.
struct PenmanMonteithLayer {
    bool topLayer = true;      // k = 1
    bool lowestLayer = true;   // no layer below holds leaves
    bool openWater = false;    // lowest layer over a ponded lake cell
    bool netRadiationInput = false;
    bool dayPart = true;
    double partFraction = 1;   // b: share of the step of this part
    double intervalMinutes = 1440;
    double sigmaDt = 0;        // 5.67e-8 interval/60
    double temperature = 0;
    double airPressure = 1013;
    double vapourPressure = 0;
    double saturationPressure = 0;
    double windSpeed = 0;
    double coverage = 0;        // VCF [1/1]
    double leafAreaIndex = 0;   // LAI [m2/m2]
    double canopyResistance = 0;      // rsc
    double interceptionResistance = 0;  // rsi
    double soilResistance = 0;        // r_se
    double roughnessLength = 0.1;     // z0 (open-water value on lakes)
    double extinction = 0.3;          // kappa
    double leafAreaScale = 10;        // sigma_L
    double leafAreaAbove = 0;         // Lambda
    double netRadiation = 0;          // Rn of the whole step [Wh/m2], net input only; the part takes b Rn
    double shortwave = 0;             // SW [Wh/m2]
    double sunshine = 0;              // s [1/1]
    double a0 = 0.23;
};

struct PenmanMonteithResult {
    double transpiration = 0;
    double interception = 0;
    double soilEvaporation = 0;
};

// Evaluates one layer and part. `topResistance` and `radiationLeft` [mm] are
// carried through the layers of a cell (one rest per part): the top layer
// sets both, lower layers read and update them.
PenmanMonteithResult PenmanMonteith(const PenmanMonteithLayer& in, double& topResistance, double& radiationLeft);

}  // namespace etpetr
