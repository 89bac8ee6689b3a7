#include "framework/solar_geometry.h"

#include <algorithm>
#include <cmath>

namespace solar {

namespace {

constexpr double DegreesToRadians = Pi / 180;

int ClampMonth(int month) { return std::clamp(month, 1, 12); }

// Remainder of x / m in [0, m).
double PositiveRemainder(double x, double m) {
    double r = std::fmod(x, m);
    if (r < 0) r += m;
    if (r >= m) r = 0;
    return r;
}

// Keeps an argument of acos or asin that rounding pushed just past +-1 in range.
double ClampUnit(double x) { return std::clamp(x, -1.0, 1.0); }

// Length of daylight [h] of a day with these sunrise and sunset hours.
double DayLength(double sunrise, double sunset) { return std::clamp(sunset - sunrise, 0.0, 24.0); }

bool SunIsUp(double hour, double sunrise, double sunset) {
    const double dayLength = DayLength(sunrise, sunset);
    if (dayLength >= 24) return true;
    if (dayLength <= 0) return false;
    return PositiveRemainder(hour - sunrise, 24) < dayLength;
}

}  // namespace

int DaysBeforeMonth(int month) {
    int days = 0;
    for (int m = 1; m < ClampMonth(month); ++m) days += MonthLengths[m];
    return days;
}

int DayOfYear(int day, int month) { return DaysBeforeMonth(month) + day; }

double SolarDeclination(int day, int month) {
    // 58.09155423 = 365 / 2pi
    return -23.4 * std::cos((DayOfYear(day, month) + 10) / 58.09155423);
}

double EquationOfTime(int day, int month) {
    const int m = ClampMonth(month);
    const double length = MonthLengths[m];
    return (length - day + 1) / length * EquationOfTimeTable[m] / 60 +
           (day - 1) / length * EquationOfTimeTable[m + 1] / 60;
}

double SolarTime(double hour, double longitude, double referenceMeridian, double equationOfTime) {
    return hour - (referenceMeridian - longitude) / 15 + equationOfTime;
}

double HourAngle(double solarTime) { return (12 - solarTime) / 12 * Pi; }

double SunElevation(int day, int month, double latitude, double longitude, double hour, double referenceMeridian) {
    const double phi = latitude * DegreesToRadians;
    const double d = SolarDeclination(day, month) * DegreesToRadians;
    const double h = HourAngle(SolarTime(hour, longitude, referenceMeridian, EquationOfTime(day, month)));
    // sin(elevation) = sin(phi) sin(d) + cos(phi) cos(d) cos(H)
    const double x = std::sin(phi) * std::sin(d) + std::cos(phi) * std::cos(d) * std::cos(h);
    const double zenith = std::acos(ClampUnit(x)) * 180 / Pi;
    return 90 - zenith;
}

SunPosition SunPositionAt(double latitude, double declination, double solarTime) {
    const double phi = latitude * DegreesToRadians;
    const double d = declination * DegreesToRadians;
    const double h = HourAngle(solarTime);
    const double u = ClampUnit(std::sin(phi) * std::sin(d) + std::cos(phi) * std::cos(d) * std::cos(h));

    SunPosition position;
    position.Elevation = 0.5 * Pi - std::acos(u);

    // cos(azimuth) = (cos(phi) sin(d) - cos(d) sin(phi) cos(H)) / cos(elevation)
    const double cosElevation = std::sqrt(1 - u * u);
    if (!(cosElevation > 0)) {
        position.Azimuth = 3.14159265359;  // zenith or nadir: no defined direction
        return position;
    }
    const double x = (std::cos(phi) * std::sin(d) - std::cos(d) * std::sin(phi) * std::cos(h)) / cosElevation;
    if (x >= 1) {
        position.Azimuth = 0;  // due north, in the morning and the afternoon alike
        return position;
    }
    position.Azimuth = x > -1 ? std::acos(x) : 3.14159265359;
    if (solarTime > 12) position.Azimuth = 6.28318530718 - position.Azimuth;
    return position;
}

void SunAzimuth(int day, int month, double& azimuth, double& elevation, double latitude, double longitude, double hour,
                double referenceMeridian) {
    latitude = std::fmod(latitude, 360);
    longitude = std::fmod(longitude, 360);
    const double t =
        PositiveRemainder(SolarTime(hour, longitude, referenceMeridian, EquationOfTime(day, month)) + 24, 24);
    const SunPosition position = SunPositionAt(latitude, SolarDeclination(day, month), t);
    azimuth = position.Azimuth;
    elevation = position.Elevation;
}

double CosIncidence(double azimuth1, double zenith1, double azimuth2, double zenith2) {
    return ClampUnit(std::cos(zenith1) * std::cos(zenith2) +
                     std::sin(zenith1) * std::sin(zenith2) * std::cos(azimuth2 - azimuth1));
}

SunTimes SunTimesInSolarTime(double latitude, double declination) {
    const double phi = latitude * DegreesToRadians;
    const double d = declination * DegreesToRadians;
    // cos of the sunrise hour angle measured from midnight
    const double x = (std::sin(phi) / std::cos(phi)) * (std::sin(d) / std::cos(d));

    SunTimes times;
    if (x > 1) {
        times = {0, 24, DayKind::PolarDay};
    } else if (x < -1) {
        times = {24, 0, DayKind::PolarNight};
    } else if (x == 0 || x != x) {
        // x is not a number only at a pole on a day without declination
        times = {6, 18, DayKind::Normal};
    } else {
        const double sunrise = 12 / Pi * std::acos(x);
        times = {sunrise, 24 - sunrise, DayKind::Normal};
    }
    return times;
}

SunTimes SunTimesOfDay(int day, int month, double latitude, double longitude, double referenceMeridian) {
    latitude = std::fmod(latitude, 360);
    longitude = std::fmod(longitude, 360);
    SunTimes times = SunTimesInSolarTime(latitude, SolarDeclination(day, month));
    if (times.Kind == DayKind::Normal) {
        const double shift = (referenceMeridian - longitude) / 15 - EquationOfTime(day, month);
        times.Sunrise += shift;
        times.Sunset += shift;
    }
    return times;
}

void SunriseSunset(int day, int month, double& sunrise, double& sunset, double latitude, double longitude,
                   double referenceMeridian) {
    const SunTimes times = SunTimesOfDay(day, month, latitude, longitude, referenceMeridian);
    sunrise = times.Sunrise;
    sunset = times.Sunset;
}

DarkHours DarkHoursOfInterval(double start, double end, double sunrise, double sunset) {
    if (!std::isfinite(start) || !std::isfinite(end) || !std::isfinite(sunrise) || !std::isfinite(sunset) ||
        !(end > start))
        return {};
    const double length = end - start;
    const double dayLength = DayLength(sunrise, sunset);
    if (dayLength >= 24) return {0, 0};
    if (dayLength <= 0) return {0, length};

    // Daylight repeats as [sunrise + 24n, sunrise + 24n + dayLength]; whole
    // days of the interval hold one daylight each, the rest at most three.
    const double wholeDays = std::floor(length / 24);
    const double restStart = start + wholeDays * 24;
    double lit = wholeDays * dayLength;
    const double firstCycle = std::floor((restStart - sunrise - dayLength) / 24);
    for (int i = 0; i < 4; ++i) {
        const double rise = sunrise + 24 * (firstCycle + i);
        const double set = rise + dayLength;
        lit += std::max(0.0, std::min(end, set) - std::max(restStart, rise));
    }
    const double dark = length - std::clamp(lit, 0.0, length);

    // The dark lead-in: the interval starts at night and the sun rises inside it.
    double before = 0;
    const double nextSunrise = sunrise + 24 * std::ceil((start - sunrise) / 24);
    const bool startsDark = nextSunrise <= start || start >= nextSunrise - 24 + dayLength;
    if (startsDark && nextSunrise < end) before = std::clamp(nextSunrise - start, 0.0, dark);
    return {before, dark - before};
}

void SunAzimuth(SolarState& state, int day, int month, double latitude, double longitude, double hour,
                double referenceMeridian) {
    SunAzimuth(day, month, state.SunAzimuthAngle, state.SunElevationAngle, latitude, longitude, hour,
               referenceMeridian);
    state.SunZenithAngle = 0.5 * Pi - state.SunElevationAngle;
}

void SunshineFraction(SolarState& state, double stepHour, int stepDay, int stepMonth, double timeShiftHours,
                      double timeInterval, double latitude, double longitude, double referenceMeridian) {
    const SunTimes day = SunTimesOfDay(stepDay, stepMonth, latitude, longitude, referenceMeridian);
    state.SunriseHour = PositiveRemainder(day.Sunrise, 24);
    state.SunsetHour = PositiveRemainder(day.Sunset, 24);

    const double end = stepHour + timeShiftHours;
    const double stepHours = timeInterval <= 1440 ? timeInterval / 60 : 24;
    double dark;
    if (stepHours > 0) {
        const DarkHours hours = DarkHoursOfInterval(end - stepHours, end, day.Sunrise, day.Sunset);
        state.DarkHoursBeforeSunrise = hours.BeforeSunrise;
        state.DarkHoursAfterSunset = hours.AfterSunset;
        dark = (hours.BeforeSunrise + hours.AfterSunset) / stepHours;
    } else {
        // a step without length: dark or lit as the sun stands at its end
        state.DarkHoursBeforeSunrise = 0;
        state.DarkHoursAfterSunset = 0;
        dark = SunIsUp(end, day.Sunrise, day.Sunset) ? 0 : 1;
    }

    if (dark > 0.95) {
        state.DarkFraction = 1;
        state.SunlitFraction = 0;
        state.NightFlag = 1;
    } else {
        state.DarkFraction = dark;
        state.SunlitFraction = 1 - dark;
        state.NightFlag = state.SunlitFraction < 0.05 ? 1 : 0;
    }
}

}  // namespace solar
