#include <cstdio>

#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "framework/writecode.h"

namespace {

// A whole number with at least `width` digits, leading zeros added.
std::string Digits(int64_t value, int width) {
    char text[32];
    std::snprintf(text, sizeof text, "%0*lld", width, static_cast<long long>(value));
    return text;
}

int64_t TwoDigitYear(int64_t year) { return ((year % 100) + 100) % 100; }

}  // namespace

bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }

int64_t LastDayOfMonth(int64_t year, int64_t month, const int* daysPerMonth) {
    if (month < 1 || month > 12) return 0;
    if (month == 2) return IsLeapYear(year) ? 29 : 28;
    return daysPerMonth[month];
}

WriteMoments WriteMomentsAt(int64_t year, int64_t month, int64_t day, int64_t hour, double timeShiftHours,
                            int64_t endKey, const int* daysPerMonth) {
    WriteMoments moments;
    if (year == 0 && month == 0 && day == 0 && hour == 0) return moments;
    moments.DayEnd = hour + static_cast<int64_t>(timeShiftHours) == 24;
    moments.MonthEnd = moments.DayEnd && day == LastDayOfMonth(year, month, daysPerMonth);
    moments.YearEnd = moments.DayEnd && day == 31 && month == 12;
    moments.RunEnd = DateKey(year, month, day, hour) >= endKey;
    return moments;
}

std::string PrefixedName(const std::string& fileName, const std::string& tail) {
    const size_t slash = fileName.rfind('/');
    const size_t baseStart = slash == std::string::npos ? 0 : slash + 1;
    const size_t dot = fileName.find('.', baseStart);
    const size_t prefixEnd = dot == std::string::npos ? fileName.size() : dot;
    return fileName.substr(0, prefixEnd) + tail;
}

std::string DatedTail(int64_t year, int64_t month, int64_t day, int64_t hour, int64_t repeat) {
    std::string tail = "_";
    tail += Digits(year, 4);
    tail += Digits(month, 2);
    tail += Digits(day, 2);
    tail += '.';
    tail += Digits(hour, 3);
    if (repeat > 0) {
        tail += '_';
        tail += Digits(repeat, 3);
    }
    return tail;
}

std::string SumTail(int tensDigit, int64_t year, int64_t month, int64_t day) {
    const bool mean = tensDigit >= 5;
    const std::string kind = mean ? "mit" : "sum";
    std::string tail;
    if (tensDigit == 1 || tensDigit == 5) {
        tail.push_back('.');
        tail += kind;
        return tail;
    }
    tail.push_back('_');
    tail += Digits(TwoDigitYear(year), 2);
    switch (tensDigit) {
        case 2:
        case 6:
            tail += "00.";
            tail += kind;
            break;
        case 3:
        case 7:
            tail += Digits(month, 2);
            tail += '.';
            tail += kind;
            break;
        case 4:
        case 8:
            tail += Digits(month, 2);
            tail += '.';
            tail += Digits(day, 2);
            tail += mean ? 'm' : 's';
            break;
        default:
            tail.clear();
    }
    return tail;
}

std::string VegetationTail(bool mean, int64_t year) {
    std::string tail = "_";
    tail += Digits(TwoDigitYear(year), 4);
    tail += mean ? "_vegper.mit" : "_vegper.sum";
    return tail;
}

int64_t NextDatedRepeat(MemoryGrid& entry, int64_t year, int64_t month, int64_t day, int64_t hour) {
    if (entry.LastDatedYear == year && entry.LastDatedMonth == month && entry.LastDatedDay == day &&
        entry.LastDatedHour == hour) {
        return ++entry.DatedWriteCounter;
    }
    entry.LastDatedYear = year;
    entry.LastDatedMonth = month;
    entry.LastDatedDay = day;
    entry.LastDatedHour = hour;
    entry.DatedWriteCounter = 0;
    return 0;
}

bool SnapshotDue(int unitsDigit, int highestUnits, const WriteMoments& at, bool* dated) {
    *dated = false;
    if (unitsDigit < 1 || unitsDigit > highestUnits) return false;
    switch (unitsDigit) {
        case 1:
        case 8:
            return true;
        case 2:
            return *dated = true;
        case 3:
            return at.RunEnd;
        case 4:
            return at.DayEnd;
        case 5:
            return *dated = at.DayEnd;
        case 6:
            return *dated = at.MonthEnd;
        case 7:
            return *dated = at.YearEnd;
        default:
            return false;
    }
}
