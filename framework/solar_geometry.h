#pragma once
// Position of the sun for a site: declination, equation of time, solar time,
// elevation and azimuth, incidence on a sloped surface, sunrise and sunset,
// and the dark and sunlit parts of a time step.
//
// Latitudes and longitudes in degrees (longitudes positive towards east),
// hours of the day 0..24 in the time of the reference meridian. The day of the
// year always counts February with 28 days. Every function is pure; the
// functions taking a `SolarState` fill it and touch nothing else.

#include <cstdint>

namespace solar {

// The value of pi used for every conversion between degrees and radians here.
inline constexpr double Pi = 3.141592653;
inline constexpr double DegreesPerRadian = 57.29577952383886;  // 180 / Pi

// Equation of time [min] on the first day of December of the previous year,
// of January to December, and of January of the next year.
inline constexpr double EquationOfTimeTable[14] = {11.3, -3.2, -13.6, -12.6, -4.2, 2.8,  2.5,
                                                   -3.5, -6.3, -0.3,  10,    16.4, 11.3, -3.2};

// Month lengths [days] of the calendar used here (entry 0 unused).
inline constexpr int MonthLengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

// Days of the months before `month` (0 for January). A month outside 1..12
// is taken as the nearest of January and December.
int DaysBeforeMonth(int month);

// Day of the year, 1 on 1 January, 365 on 31 December, never a 29 February.
int DayOfYear(int day, int month);

// Declination [deg]: -23.4 cos((doy + 10) / (365 / 2pi)).
double SolarDeclination(int day, int month);

// Equation of time [h], apparent minus mean solar time, interpolated linearly
// between the table values of the first days of this and the next month.
double EquationOfTime(int day, int month);

// Apparent solar time [h] at a clock hour of the reference meridian:
// t = hour - (referenceMeridian - longitude) / 15 + equationOfTime.
double SolarTime(double hour, double longitude, double referenceMeridian, double equationOfTime);

// Hour angle [rad]: (12 - t) / 12 x Pi, positive before solar noon.
double HourAngle(double solarTime);

// Sun elevation [deg] at a clock hour, negative while the sun is below the
// horizon.
double SunElevation(int day, int month, double latitude, double longitude, double hour, double referenceMeridian);

// Sun azimuth [rad, clockwise from north, 0 <= a < 2pi] and elevation [rad].
struct SunPosition {
    double Azimuth = 0;
    double Elevation = 0;
};

// Sun position for a latitude and declination [deg] at a solar time [h].
// A sun due north has azimuth 0, due south Pi; a sun in the zenith (or the
// nadir), whose azimuth is undefined, gets Pi.
SunPosition SunPositionAt(double latitude, double declination, double solarTime);

// Azimuth and elevation [rad] at a clock hour of the day.
void SunAzimuth(int day, int month, double& azimuth, double& elevation, double latitude, double longitude, double hour,
                double referenceMeridian);

// Cosine of the angle between the directions (azimuth1, zenith1) and
// (azimuth2, zenith2), all in radians:
// cos z1 cos z2 + sin z1 sin z2 cos(a2 - a1), kept within [-1, 1].
double CosIncidence(double azimuth1, double zenith1, double azimuth2, double zenith2);

enum class DayKind {
    Normal,      // the sun rises and sets
    PolarDay,    // the sun stays above the horizon all day
    PolarNight,  // the sun stays below the horizon all day
};

// Sunrise and sunset [h] of a day. A polar day reads sunrise 0 and sunset 24,
// a polar night sunrise 24 and sunset 0; the length of daylight is always
// Sunset - Sunrise, clamped to 0..24.
struct SunTimes {
    double Sunrise = 0;
    double Sunset = 0;
    DayKind Kind = DayKind::Normal;
};

// Sunrise and sunset in apparent solar time for a latitude and declination
// [deg]: sunrise = 12 / Pi x acos(tan(lat) tan(decl)), sunset = 24 - sunrise.
SunTimes SunTimesInSolarTime(double latitude, double declination);

// Sunrise and sunset of a day in the time of the reference meridian: the
// solar-time values moved by (referenceMeridian - longitude) / 15 - EoT. The
// fixed values of a polar day or night are not moved.
SunTimes SunTimesOfDay(int day, int month, double latitude, double longitude, double referenceMeridian);

// The same as two out values.
void SunriseSunset(int day, int month, double& sunrise, double& sunset, double latitude, double longitude,
                   double referenceMeridian);

// Dark hours of the interval [start, end] (hours, may reach into the days
// before and after) for a day with the given sunrise and sunset (as
// `SunriseSunset` gives them, repeated every 24 hours). `BeforeSunrise` is
// the dark lead-in from the start up to a sunrise inside the interval (0 when
// the interval starts in daylight or holds no sunrise), `AfterSunset` the
// rest of the dark hours (the whole interval when it is all dark).
struct DarkHours {
    double BeforeSunrise = 0;
    double AfterSunset = 0;
};
DarkHours DarkHoursOfInterval(double start, double end, double sunrise, double sunset);

// The solar state of a sub-model. Everything starts at 0.
struct SolarState {
    double SunAzimuthAngle = 0;         // [rad] clockwise from north
    double SunElevationAngle = 0;       // [rad] above the horizon
    double SunZenithAngle = 0;          // [rad] 0.5 Pi - elevation
    double SunlitFraction = 0;          // sunlit part of the current step, 0..1
    double DarkFraction = 0;            // dark part of the current step, 0..1
    double DarkHoursBeforeSunrise = 0;  // [h] part of the step before sunrise
    double DarkHoursAfterSunset = 0;    // [h] other dark part of the step
    int32_t NightFlag = 0;              // 1 when the step is (almost) all dark
    double SunriseHour = 0;             // [h] 0..24, sunrise of the current day
    double SunsetHour = 0;              // [h] 0..24, sunset of the current day
};

// Azimuth, elevation and zenith angle of the sun at a clock hour into the state.
void SunAzimuth(SolarState& state, int day, int month, double latitude, double longitude, double hour,
                double referenceMeridian);

// The solar state of the step that ends at stepHour + timeShiftHours on the
// given day: sunrise and sunset (reduced to 0..24), the dark hours of the step
// and the dark and sunlit fractions with the night flag. The step lasts
// timeInterval [min], or its last 24 hours when it is longer than a day. A
// dark fraction above 0.95 counts as a whole dark step.
void SunshineFraction(SolarState& state, double stepHour, int stepDay, int stepMonth, double timeShiftHours,
                      double timeInterval, double latitude, double longitude, double referenceMeridian);

}  // namespace solar
