#include "framework/solar_geometry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>
#include <vector>

namespace {

constexpr double Pi = solar::Pi;

TEST(SolarCalendar, DayOfYearCountsFebruaryWith28Days) {
    struct Case {
        int day, month, expected;
    };
    const std::vector<Case> cases = {
        {1, 1, 1},
        {31, 1, 31},
        {28, 2, 59},
        {1, 3, 60},
        {21, 6, 172},
        {31, 12, 365},
        {29, 2, 60},   // a 29 February falls on the day of 1 March
        {1, 13, 335},  // a month past December stays in December
        {1, 0, 1},     // a month before January stays in January
    };
    for (const auto& c : cases) EXPECT_EQ(solar::DayOfYear(c.day, c.month), c.expected) << c.day << "." << c.month;
}

TEST(SolarCalendar, Declination) {
    // -23.4 cos((doy + 10) / 58.09155423)
    struct Case {
        int day, month;
        double expected;
    };
    const std::vector<Case> cases = {
        {1, 1, -22.9817392},  // cos(11 / 58.0916) = 0.982125
        {21, 6, 23.3991332},  // cos(182 / 58.0916) = -0.999963
        {21, 12, -23.4},      // (355 + 10) / 58.0916 = 2 pi
    };
    for (const auto& c : cases)
        EXPECT_NEAR(solar::SolarDeclination(c.day, c.month), c.expected, 1e-6) << c.day << "." << c.month;
}

TEST(SolarCalendar, EquationOfTimeInterpolatesBetweenMonthStarts) {
    struct Case {
        int day, month;
        double expectedHours;
    };
    const std::vector<Case> cases = {
        {1, 3, -12.6 / 60},                                        // first of the month: the table value
        {16, 2, 13.0 / 28 * -13.6 / 60 + 15.0 / 28 * -12.6 / 60},  // -0.2177381
        {21, 6, -0.025},                                           // (10 x 2.5 - 20 x 3.5) / 30 / 60
        {31, 12, -0.0455376},                                      // (11.3 - 30 x 3.2) / 31 / 60
        {1, 1, -3.2 / 60},
    };
    for (const auto& c : cases)
        EXPECT_NEAR(solar::EquationOfTime(c.day, c.month), c.expectedHours, 1e-7) << c.day << "." << c.month;
}

TEST(SunriseSunset, At47_5NorthOn21June) {
    // x = tan 47.5 x tan 23.39913 = 1.0913085 x 0.4327207 = 0.4722318;
    // acos x = 1.0789754 rad; sunrise = 12 / pi x 1.0789754 = 4.1213825 h.
    const solar::SunTimes solarTime = solar::SunTimesInSolarTime(47.5, solar::SolarDeclination(21, 6));
    EXPECT_EQ(solarTime.Kind, solar::DayKind::Normal);
    EXPECT_NEAR(solarTime.Sunrise, 4.1213825, 1e-6);
    EXPECT_NEAR(solarTime.Sunset, 19.8786175, 1e-6);

    // A site at 10 E keeping the time of 15 E: + 5 / 15 h for the meridian,
    // + 0.025 h for the equation of time (-1.5 min on 21 June).
    double sunrise = 0, sunset = 0;
    solar::SunriseSunset(21, 6, sunrise, sunset, 47.5, 10, 15);
    EXPECT_NEAR(sunrise, 4.1213825 + 0.3583333, 1e-6);
    EXPECT_NEAR(sunset, 19.8786175 + 0.3583333, 1e-6);

    // On its own meridian only the equation of time moves them.
    solar::SunriseSunset(21, 6, sunrise, sunset, 47.5, 15, 15);
    EXPECT_NEAR(sunrise, 4.1213825 + 0.025, 1e-6);
    EXPECT_NEAR(sunset, 19.8786175 + 0.025, 1e-6);
}

TEST(SunriseSunset, ShiftsAndSpecialDays) {
    struct Case {
        const char* what;
        int day, month;
        double latitude, longitude, meridian;
        double sunrise, sunset;  // before the equation-of-time shift
        solar::DayKind kind;
        bool shifted;
    };
    const std::vector<Case> cases = {
        {"equator", 10, 4, 0, 15, 15, 6, 18, solar::DayKind::Normal, true},
        {"equator 7.5 deg west", 10, 4, 0, 7.5, 15, 6.5, 18.5, solar::DayKind::Normal, true},
        {"equator 15 deg east", 10, 4, 0, 30, 15, 5, 17, solar::DayKind::Normal, true},
        {"polar day 75 N", 21, 6, 75, 10, 15, 0, 24, solar::DayKind::PolarDay, false},
        {"polar night 75 N", 21, 12, 75, 10, 15, 24, 0, solar::DayKind::PolarNight, false},
        {"polar night 70 S", 21, 6, -70, 10, 15, 24, 0, solar::DayKind::PolarNight, false},
        {"polar day 70 S", 21, 12, -70, 10, 15, 0, 24, solar::DayKind::PolarDay, false},
        {"latitude reduced by 360", 10, 4, 360, 375, 15, 6, 18, solar::DayKind::Normal, true},
    };
    for (const auto& c : cases) {
        const solar::SunTimes t = solar::SunTimesOfDay(c.day, c.month, c.latitude, c.longitude, c.meridian);
        const double eot = c.shifted ? solar::EquationOfTime(c.day, c.month) : 0;
        EXPECT_EQ(t.Kind, c.kind) << c.what;
        EXPECT_NEAR(t.Sunrise, c.sunrise - eot, 1e-9) << c.what;
        EXPECT_NEAR(t.Sunset, c.sunset - eot, 1e-9) << c.what;
        double sunrise = -1, sunset = -1;
        solar::SunriseSunset(c.day, c.month, sunrise, sunset, c.latitude, c.longitude, c.meridian);
        EXPECT_EQ(sunrise, t.Sunrise) << c.what;
        EXPECT_EQ(sunset, t.Sunset) << c.what;
    }
}

// Distance of two azimuths on the circle [rad].
double AzimuthDistance(double a, double b) {
    const double d = std::fabs(std::fmod(a - b, 2 * std::numbers::pi));
    return std::min(d, 2 * std::numbers::pi - d);
}

// Clock hour of solar noon at a site.
double SolarNoon(int day, int month, double longitude, double meridian) {
    return 12 + (meridian - longitude) / 15 - solar::EquationOfTime(day, month);
}

TEST(SunPosition, AtSolarNoon) {
    // Sun south of the site: azimuth pi, elevation 90 - latitude + declination;
    // sun north of the site: azimuth 0, elevation 90 - (declination - latitude).
    struct Case {
        const char* what;
        int day, month;
        double latitude;
        double azimuth;
        double elevationDegrees;
    };
    const double june = 23.3991332, january = -22.9817392, december = -23.4;
    const std::vector<Case> cases = {
        {"47.5 N in June", 21, 6, 47.5, Pi, 90 - 47.5 + june},
        {"47.5 N in January", 1, 1, 47.5, Pi, 90 - 47.5 + january},
        {"equator in December", 21, 12, 0, Pi, 90 + december},
        {"10 N in June", 21, 6, 10, 0, 90 - (june - 10)},
        {"30 S in June", 21, 6, -30, 0, 90 - (june + 30)},
        {"30 S in December", 21, 12, -30, 0, 90 - (december + 30)},
    };
    for (const auto& c : cases) {
        double azimuth = -1, elevation = -1;
        solar::SunAzimuth(c.day, c.month, azimuth, elevation, c.latitude, 10, SolarNoon(c.day, c.month, 10, 15), 15);
        EXPECT_LT(AzimuthDistance(azimuth, c.azimuth), 1e-6) << c.what << ": " << azimuth;
        EXPECT_NEAR(elevation * 180 / Pi, c.elevationDegrees, 1e-6) << c.what;
        EXPECT_NEAR(solar::SunElevation(c.day, c.month, c.latitude, 10, SolarNoon(c.day, c.month, 10, 15), 15),
                    c.elevationDegrees, 1e-6)
            << c.what;
    }
}

TEST(SunPosition, MorningEastAfternoonWestMirrored) {
    for (double latitude : {-40.0, 0.0, 47.5, 60.0}) {
        for (double offset : {1.0, 3.0, 5.0}) {
            const solar::SunPosition morning = solar::SunPositionAt(latitude, 15, 12 - offset);
            const solar::SunPosition afternoon = solar::SunPositionAt(latitude, 15, 12 + offset);
            EXPECT_GT(morning.Azimuth, 0) << latitude << " " << offset;
            EXPECT_LT(morning.Azimuth, Pi) << latitude << " " << offset;
            EXPECT_GT(afternoon.Azimuth, Pi) << latitude << " " << offset;
            EXPECT_LT(afternoon.Azimuth, 2 * Pi) << latitude << " " << offset;
            EXPECT_NEAR(morning.Azimuth + afternoon.Azimuth, 6.28318530718, 1e-9);
            EXPECT_NEAR(morning.Elevation, afternoon.Elevation, 1e-12);
        }
    }
    // At the equator on a day without declination the sun rises due east and
    // sets due west.
    const solar::SunPosition rise = solar::SunPositionAt(0, 0, 6);
    EXPECT_NEAR(rise.Azimuth, Pi / 2, 1e-8);
    EXPECT_NEAR(rise.Elevation, 0, 1e-8);
    EXPECT_NEAR(solar::SunPositionAt(0, 0, 18).Azimuth, 1.5 * Pi, 1e-8);
}

TEST(SunPosition, ElevationIsNegativeBelowTheHorizon) {
    // Solar midnight at 47.5 N on 21 June: elevation = 47.5 + 23.39913 - 90.
    const double midnight = SolarNoon(21, 6, 10, 15) + 12;
    EXPECT_NEAR(solar::SunElevation(21, 6, 47.5, 10, midnight, 15), -19.1008668, 1e-6);
    double azimuth = 0, elevation = 0;
    solar::SunAzimuth(21, 6, azimuth, elevation, 47.5, 10, midnight, 15);
    EXPECT_NEAR(elevation * 180 / Pi, -19.1008668, 1e-6);
    // The sun at solar midnight stands due north.
    EXPECT_NEAR(std::cos(azimuth), 1, 1e-9);
}

TEST(SunPosition, SolarTimeWrapsIntoOneDay) {
    // 350 W is 10 E: the same sun at every hour, also where the solar time
    // would come out before midnight of the previous day.
    for (double hour : {0.0, 0.2, 6.0, 13.0, 23.9}) {
        double azimuthWest = 0, elevationWest = 0, azimuthEast = 0, elevationEast = 0;
        solar::SunAzimuth(21, 6, azimuthWest, elevationWest, 47.5, -350, hour, 15);
        solar::SunAzimuth(21, 6, azimuthEast, elevationEast, 47.5, 10, hour, 15);
        EXPECT_NEAR(azimuthWest, azimuthEast, 1e-9) << hour;
        EXPECT_NEAR(elevationWest, elevationEast, 1e-9) << hour;
    }
}

TEST(SunPosition, NeverNotANumber) {
    // Near the meridian and in the zenith the acos arguments land on or just
    // past +-1.
    for (double latitude = -90; latitude <= 90; latitude += 0.7) {
        for (double declination : {-23.4, -10.3, 0.0, 7.77, 23.4, latitude}) {
            for (double t : {0.0, 6.0, 11.999999999, 12.0, 12.000000001, 18.0, 23.99}) {
                const solar::SunPosition p = solar::SunPositionAt(latitude, declination, t);
                ASSERT_TRUE(std::isfinite(p.Azimuth)) << latitude << " " << declination << " " << t;
                ASSERT_TRUE(std::isfinite(p.Elevation)) << latitude << " " << declination << " " << t;
                ASSERT_GE(p.Azimuth, 0);
                ASSERT_LT(p.Azimuth, 6.28318530718);
            }
        }
    }
    // The sun in the zenith, where the azimuth has no meaning.
    const solar::SunPosition zenith = solar::SunPositionAt(20, 20, 12);
    EXPECT_NEAR(zenith.Elevation, 0.5 * Pi, 1e-7);
    for (int day = 1; day <= 31; ++day) {
        ASSERT_TRUE(std::isfinite(solar::SunElevation(day, 3, 90, 0, 12, 0)));
        ASSERT_TRUE(std::isfinite(solar::SunElevation(day, 3, -90, 0, 0, 0)));
    }
}

TEST(SunPosition, StateHoldsAzimuthElevationAndZenith) {
    solar::SolarState state;
    solar::SunAzimuth(state, 21, 6, 47.5, 10, SolarNoon(21, 6, 10, 15), 15);
    EXPECT_NEAR(state.SunAzimuthAngle, Pi, 1e-6);
    EXPECT_NEAR(state.SunElevationAngle * 180 / Pi, 90 - 47.5 + 23.3991332, 1e-6);
    EXPECT_NEAR(state.SunZenithAngle * 180 / Pi, 47.5 - 23.3991332, 1e-6);
}

TEST(CosIncidence, AngleBetweenTwoDirections) {
    struct Case {
        double a1, z1, a2, z2, expected;
    };
    const std::vector<Case> cases = {
        {0, 0, 1.3, 0.7, std::cos(0.7)},        // level ground: cosine of the zenith angle
        {0.5 * Pi, 0.5 * Pi, Pi, 0.5 * Pi, 0},  // east wall, sun on the southern horizon
        {Pi, 0.3, 0, 0.3, std::cos(0.6)},       // slopes facing apart
        {Pi, 0.6, Pi, 0.2, std::cos(0.4)},      // slope and sun in one plane
    };
    for (const auto& c : cases) EXPECT_NEAR(solar::CosIncidence(c.a1, c.z1, c.a2, c.z2), c.expected, 1e-9);

    // A surface facing the sun: exactly 1 at most, so that acos stays defined.
    for (double azimuth : {0.0, 0.4, Pi, 4.0, 6.2}) {
        for (double zenith : {0.0, 0.1, 0.7853981633974483, 1.2, 1.5707963}) {
            const double c = solar::CosIncidence(azimuth, zenith, azimuth, zenith);
            EXPECT_NEAR(c, 1, 1e-12) << azimuth << " " << zenith;
            EXPECT_LE(c, 1);
            EXPECT_FALSE(std::isnan(std::acos(c)));
        }
    }
}

TEST(DarkHoursOfInterval, SplitsTheDarkPartOfAnInterval) {
    struct Case {
        const char* what;
        double start, end, sunrise, sunset;
        double before, after;
    };
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::vector<Case> cases = {
        {"day ending at midnight", 0, 24, 6, 18, 6, 6},
        {"hour after sunset", 22, 23, 6, 18, 0, 1},
        {"hour before sunrise", 3, 4, 6, 18, 0, 1},
        {"sunrise inside", 5, 7, 6, 18, 1, 0},
        {"sunset inside", 17, 19, 6, 18, 0, 1},
        {"ends exactly at sunset", 17, 18, 6, 18, 0, 0},
        {"begins exactly at sunrise", 6, 7, 6, 18, 0, 0},
        {"day ending at 7 h", -17, 7, 6, 18, 0, 12},
        {"day ending at 3 h", -21, 3, 6, 18, 3, 9},
        {"night across midnight", -4, 8, 6, 18, 10, 0},
        {"two days", 0, 48, 6, 18, 6, 18},
        {"sunset after midnight", 0, 24, 22, 34, 0, 12},
        {"sunset after midnight, lit hour", -1, 0, 3, 24.5, 0, 0},
        {"sunset after midnight, half hour", 0, 1, 3, 24.5, 0, 0.5},
        {"sunset after midnight, dawn", 2, 4, 3, 24.5, 1, 0},
        {"polar day", 0, 24, 0, 24, 0, 0},
        {"polar day, hour", 13, 14, 0, 24, 0, 0},
        {"polar night", 0, 24, 24, 0, 0, 24},
        {"polar night, hour", 10, 11, 24, 0, 0, 1},
        {"empty interval", 5, 5, 6, 18, 0, 0},
        {"reversed interval", 7, 5, 6, 18, 0, 0},
        {"not a number", nan, 5, 6, 18, 0, 0},
    };
    for (const auto& c : cases) {
        const solar::DarkHours h = solar::DarkHoursOfInterval(c.start, c.end, c.sunrise, c.sunset);
        EXPECT_NEAR(h.BeforeSunrise, c.before, 1e-12) << c.what;
        EXPECT_NEAR(h.AfterSunset, c.after, 1e-12) << c.what;
    }
}

TEST(SunshineFraction, FractionsOfAStep) {
    // On the equator sunrise and sunset are 6 and 18 in solar time; a
    // longitude that cancels the equation of time keeps them at 6 and 18.
    const int day = 10, month = 4;
    const double longitude = 15 - 15 * solar::EquationOfTime(day, month);
    struct Case {
        const char* what;
        double latitude;
        int day, month;
        double hour, shift, interval;
        double before, after, dark, sunlit;
        int night;
    };
    const std::vector<Case> cases = {
        {"daily step ending at 24", 0, day, month, 24, 0, 1440, 6, 6, 0.5, 0.5, 0},
        {"daily step by a time shift", 0, day, month, 0, 24, 1440, 6, 6, 0.5, 0.5, 0},
        {"hour 22 to 23", 0, day, month, 23, 0, 60, 0, 1, 1, 0, 1},
        {"hour 12 to 13", 0, day, month, 13, 0, 60, 0, 0, 0, 1, 0},
        {"hour of sunrise", 0, day, month, 6.5, 0, 60, 0.5, 0, 0.5, 0.5, 0},
        {"hour ending at sunset", 0, day, month, 18, 0, 60, 0, 0, 0, 1, 0},
        {"daily step ending at 7", 0, day, month, 7, 0, 1440, 0, 12, 0.5, 0.5, 0},
        {"three days: the last 24 hours", 0, day, month, 24, 0, 4320, 6, 6, 0.5, 0.5, 0},
        {"dark above 0.95", 0, day, month, 6.04, 0, 60, 0.96, 0, 1, 0, 1},
        {"step without length, night", 0, day, month, 3, 0, 0, 0, 0, 1, 0, 1},
        {"step without length, day", 0, day, month, 9, 0, 0, 0, 0, 0, 1, 0},
    };
    for (const auto& c : cases) {
        solar::SolarState s;
        solar::SunshineFraction(s, c.hour, c.day, c.month, c.shift, c.interval, c.latitude, longitude, 15);
        EXPECT_NEAR(s.SunriseHour, 6, 1e-9) << c.what;
        EXPECT_NEAR(s.SunsetHour, 18, 1e-9) << c.what;
        EXPECT_NEAR(s.DarkHoursBeforeSunrise, c.before, 1e-9) << c.what;
        EXPECT_NEAR(s.DarkHoursAfterSunset, c.after, 1e-9) << c.what;
        EXPECT_NEAR(s.DarkFraction, c.dark, 1e-9) << c.what;
        EXPECT_NEAR(s.SunlitFraction, c.sunlit, 1e-9) << c.what;
        EXPECT_EQ(s.NightFlag, c.night) << c.what;
    }
}

TEST(SunshineFraction, PolarDayAndPolarNightAt75North) {
    struct Case {
        const char* what;
        int day, month;
        double hour, interval;
        double dark;
        int night;
    };
    const std::vector<Case> cases = {
        {"polar day, daily", 21, 6, 24, 1440, 0, 0},
        {"polar day, hour after midnight", 21, 6, 1, 60, 0, 0},
        {"polar day, hour before noon", 21, 6, 12, 60, 0, 0},
        {"polar day, two days", 21, 6, 24, 2880, 0, 0},
        {"polar night, daily", 21, 12, 24, 1440, 1, 1},
        {"polar night, hour at noon", 21, 12, 13, 60, 1, 1},
        {"polar night, hour after midnight", 21, 12, 1, 60, 1, 1},
        {"polar night, 2000 minutes", 21, 12, 24, 2000, 1, 1},
    };
    for (const auto& c : cases) {
        solar::SolarState s;
        s.NightFlag = 7;  // every field is overwritten
        s.DarkFraction = s.SunlitFraction = -3;
        solar::SunshineFraction(s, c.hour, c.day, c.month, 0, c.interval, 75, 10, 15);
        EXPECT_EQ(s.DarkFraction, c.dark) << c.what;
        EXPECT_EQ(s.SunlitFraction, 1 - c.dark) << c.what;
        EXPECT_EQ(s.NightFlag, c.night) << c.what;
        EXPECT_EQ(s.DarkHoursBeforeSunrise, 0) << c.what;
        const double stepHours = c.interval <= 1440 ? c.interval / 60 : 24;
        EXPECT_EQ(s.DarkHoursAfterSunset, c.dark * stepHours) << c.what;
        EXPECT_EQ(s.SunriseHour, 0) << c.what;
        EXPECT_EQ(s.SunsetHour, 0) << c.what;
    }
}

TEST(SunshineFraction, DaylightOverADayMatchesSunriseToSunset) {
    // The lit hours of 24 hourly steps add up to the length of daylight at
    // 47.5 N on 21 June, also when a time shift moves a step across midnight.
    for (double shift : {0.0, 0.5, -0.3}) {
        double lit = 0;
        for (int hour = 1; hour <= 24; ++hour) {
            solar::SolarState s;
            solar::SunshineFraction(s, hour, 21, 6, shift, 60, 47.5, 10, 15);
            lit += 1 - s.DarkHoursBeforeSunrise - s.DarkHoursAfterSunset;
        }
        EXPECT_NEAR(lit, 19.8786175 - 4.1213825, 1e-6) << shift;
    }
}

}  // namespace
