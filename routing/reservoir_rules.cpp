// Release rules of reservoirs: parsing of a rule section, the season blend,
// the week-day and hour switch and the release over one step in sub-steps.

#include "routing/reservoir_rules.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// The numbers at the start of `text`, up to the first word that is none.
std::vector<double> LeadingNumbers(const char* text) {
    std::vector<double> values;
    for (;;) {
        char* end = nullptr;
        const double v = std::strtod(text, &end);
        if (end == text) break;
        // A number must end at a blank, a tab or the end of the line.
        if (*end != '\0' && !std::isspace(static_cast<unsigned char>(*end))) break;
        values.push_back(v);
        text = end;
    }
    return values;
}

bool IsWhole(double v) { return std::isfinite(v) && v == std::floor(v) && std::fabs(v) < 1e15; }

// The m integers after the first "=" of a line that holds `key`; -1 each when
// the line does not hold it. False when the key is there but its values are
// not m whole numbers.
bool KeyedIntegers(const std::string& line, const char* key, int m, std::vector<int64_t>& out) {
    out.assign(static_cast<size_t>(m + 1), -1);
    if (line.find(key) == std::string::npos) return true;
    const size_t eq = line.find('=');
    if (eq == std::string::npos) return false;
    const std::vector<double> values = LeadingNumbers(line.c_str() + eq + 1);
    if (static_cast<int>(values.size()) < m) return false;
    for (int j = 1; j <= m; ++j) {
        if (!IsWhole(values[static_cast<size_t>(j - 1)])) return false;
        out[static_cast<size_t>(j)] = static_cast<int64_t>(values[static_cast<size_t>(j - 1)]);
    }
    return true;
}

// Days since 1 March of year 0 in the proleptic Gregorian calendar.
int64_t DaysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe;
}

}  // namespace

std::string ParseRuleTable(const std::vector<std::string>& lines, int minimumRows, RuleTable& table) {
    auto line = [&](size_t i) -> std::string { return i < lines.size() ? lines[i] : std::string(); };
    table = RuleTable{};
    const std::vector<double> head = LeadingNumbers(line(0).c_str());
    if (!head.empty() && std::isfinite(head[0]) && head[0] > 1e6) return "the number of rows is too large";
    if (head.empty() || !IsWhole(head[0])) return "the first line does not start with the number of rows";
    if (head[0] < minimumRows) {
        return "the table has " + std::to_string(static_cast<long long>(head[0])) + " rows, at least " +
               std::to_string(minimumRows) + " are needed";
    }
    if (head[0] > 1e6) return "the number of rows is too large";
    const int r = static_cast<int>(head[0]);
    const int m = head.size() > 1 ? static_cast<int>(head.size()) - 1 : 1;
    table.Rows = r;
    table.Columns = m;
    table.DayKey.assign(static_cast<size_t>(m + 1), 1);
    if (m > 1) {
        for (int j = 1; j <= m; ++j) {
            const double key = head[static_cast<size_t>(j)];
            if (!IsWhole(key)) return "the day key of column " + std::to_string(j) + " is not a whole number";
            table.DayKey[static_cast<size_t>(j)] = static_cast<int>(key);
            // Equal keys would divide by zero in the blend of two columns.
            if (j > 1 && table.DayKey[static_cast<size_t>(j)] <= table.DayKey[static_cast<size_t>(j - 1)])
                return "the day keys are not strictly ascending";
        }
    }
    table.x.assign(static_cast<size_t>(r + 1), 0.0);
    table.y.assign(static_cast<size_t>(m + 1), std::vector<double>(static_cast<size_t>(r + 1), 0.0));
    table.slope = table.y;
    for (int i = 1; i <= r; ++i) {
        const std::vector<double> row = LeadingNumbers(line(static_cast<size_t>(i)).c_str());
        if (static_cast<int>(row.size()) < m + 1) {
            return "row " + std::to_string(i) + " holds " + std::to_string(row.size()) + " numbers, " +
                   std::to_string(m + 1) + " are needed";
        }
        for (double v : row)
            if (!std::isfinite(v)) return "row " + std::to_string(i) + " holds a value that is not a number";
        table.x[static_cast<size_t>(i)] = row[0];
        for (int j = 1; j <= m; ++j) table.y[static_cast<size_t>(j)][static_cast<size_t>(i)] = row[static_cast<size_t>(j)];
        if (i > 1 && table.x[static_cast<size_t>(i)] < table.x[static_cast<size_t>(i - 1)])
            return "the volume of row " + std::to_string(i) + " is below the one of the row before";
    }
    for (int j = 1; j <= m; ++j) {
        std::vector<double>& s = table.slope[static_cast<size_t>(j)];
        const std::vector<double>& y = table.y[static_cast<size_t>(j)];
        for (int i = 1; i < r; ++i) {
            const double dx = table.x[static_cast<size_t>(i + 1)] - table.x[static_cast<size_t>(i)];
            s[static_cast<size_t>(i)] = dx == 0 ? 0.0 : (y[static_cast<size_t>(i + 1)] - y[static_cast<size_t>(i)]) / dx;
        }
        s[static_cast<size_t>(r)] = 0.0;
    }
    std::vector<int64_t> values;
    if (!KeyedIntegers(line(static_cast<size_t>(r + 1)), "WeekDays", m, values))
        return "the WeekDays line does not hold " + std::to_string(m) + " masks";
    table.Mask = values;
    if (!KeyedIntegers(line(static_cast<size_t>(r + 2)), "start_hour", m, values))
        return "the start_hour line does not hold " + std::to_string(m) + " hours";
    table.StartHour.assign(values.begin(), values.end());
    if (!KeyedIntegers(line(static_cast<size_t>(r + 3)), "stop_hour", m, values))
        return "the stop_hour line does not hold " + std::to_string(m) + " hours";
    table.StopHour.assign(values.begin(), values.end());
    return "";
}

int RuleDayOfYear(int month, int day) {
    static const int lengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int d = day;
    for (int m = 1; m < month && m <= 12; ++m) d += lengths[m];
    return d;
}

int RuleWeekDay(int year, int month, int day, int hour) {
    // Hours before 0 or from 24 on fall on neighbouring days.
    const int64_t h = static_cast<int64_t>(hour) - 1;
    const int64_t shift = h >= 0 ? h / 24 : -((-h + 23) / 24);
    const int64_t days = DaysFromCivil(year, month, day) + shift;
    // Day 0 (1 March of year 0) was a Wednesday.
    const int64_t w = ((days + 2) % 7 + 7) % 7;  // 0 = Monday
    return static_cast<int>(w) + 1;
}

void RuleColumns(const RuleTable& table, int d, int& k, double& w) {
    const int m = table.Columns;
    if (m <= 1 || d <= table.DayKey[1]) {
        k = 1;
        w = 1.0;
        return;
    }
    k = m;
    for (int j = 2; j <= m; ++j) {
        if (table.DayKey[static_cast<size_t>(j)] >= d) {
            k = j;
            break;
        }
    }
    const double a = table.DayKey[static_cast<size_t>(k - 1)], b = table.DayKey[static_cast<size_t>(k)];
    w = (d - a) / (b - a);
}

double BlendedRelease(const RuleTable& table, int k, double w, int i, int z, double V) {
    const size_t ki = static_cast<size_t>(k), ii = static_cast<size_t>(i), zi = static_cast<size_t>(z);
    const double dx = V - table.x[ii];
    double q = w * (table.y[ki][ii] + table.slope[ki][zi] * dx);
    if (k > 1) q += (1 - w) * (table.y[ki - 1][ii] + table.slope[ki - 1][zi] * dx);
    return q;
}

bool RuleSwitchOn(const RuleTable& table, int k, int year, int month, int day, int hour) {
    if (month <= 0) return false;
    const int64_t mask = table.Mask[static_cast<size_t>(k)];
    if (mask == -1) return true;
    const std::string digits = std::to_string(mask);
    const char weekDay = static_cast<char>('0' + RuleWeekDay(year, month, day, hour));
    if (digits.find(weekDay) == std::string::npos) return false;
    return table.StartHour[static_cast<size_t>(k)] <= hour && hour <= table.StopHour[static_cast<size_t>(k)];
}

double RuleRelease(const RuleTable& table, double volume, double inflow, double stepMinutes, double dTmin,
                   int year, int month, int day, int hour, const LakeRelease* lake,
                   const std::vector<std::function<double(double volume)>>& draws, std::vector<double>& drawn) {
    drawn.assign(draws.size(), 0.0);
    const int r = table.Rows;
    if (r < 1 || !(dTmin > 0)) return 0.0;
    const double steps = std::floor(stepMinutes * 60.0 / dTmin);
    if (!(steps >= 1)) return 0.0;
    const int t = static_cast<int>(steps);
    int k = 1;
    double w = 1.0;
    RuleColumns(table, RuleDayOfYear(month, day), k, w);
    const bool on = RuleSwitchOn(table, k, year, month, day, hour);
    const double top = table.x[static_cast<size_t>(r)];
    double Vs = volume > 0 ? volume : 0.0;
    double sum = 0;
    for (int s = 1; s <= t; ++s) {
        const double Vt = Vs + inflow * dTmin;
        double Q = 0;
        if (Vt > top) {
            if (lake) {
                Q = BlendedRelease(table, k, w, r, r - 1, Vt);
                if (inflow > Q && lake->Level && lake->Level(Vt) > lake->ThresholdLevel + 0.5) Q = inflow;
            } else {
                Q = inflow;
            }
        } else if (on) {
            for (int i = r - 1; i >= 1; --i) {
                if (Vt > table.x[static_cast<size_t>(i)]) {
                    Q = BlendedRelease(table, k, w, i, i, Vt);
                    break;
                }
            }
        }
        // Never a negative release, never more than is there.
        if (!(Q > 0) || Vt <= 0) Q = 0;
        Vs = Vt - Q * dTmin;
        if (Vs < 0) {
            Q = Vt / dTmin;
            Vs = 0;
        }
        sum += Q / t;
        for (size_t j = 0; j < draws.size(); ++j) {
            const double a = draws[j] ? draws[j](Vs) : 0.0;
            double v = a > 0 ? a * dTmin : 0.0;
            if (v > Vs) v = Vs;
            Vs -= v;
            drawn[j] += v;
        }
    }
    return sum;
}
