#pragma once
// The simulated time span: calendar helpers and the normalisation of the
// dates written in "[model_time]".

#include <cstdint>

struct ModelDate {
    int64_t hour = 0;
    int64_t day = 0;
    int64_t month = 0;
    int64_t year = 0;
};

// Gregorian leap year.
constexpr bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

// Days of `month` (1 to 12) in `year`.
constexpr int DaysInMonth(int64_t year, int64_t month) {
    constexpr int days[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2) return IsLeapYear(year) ? 29 : 28;
    return days[month];
}

// Two-digit (and any other up to 999) years gain 1900; months are clamped to
// 1..12; days to 1..the length of their month in their own year.
void NormaliseModelDate(ModelDate& date);

// The earliest and latest year and hour the set-up accepts after the
// normalisation: dated grid names carry four-digit years, and the date key
// orders hours 0 to 24 only.
constexpr int64_t MinModelYear = 1;
constexpr int64_t MaxModelYear = 9999;
constexpr int64_t MaxModelHour = 24;
