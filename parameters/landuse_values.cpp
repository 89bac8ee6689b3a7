// Values of a land-use class at a day for one cell: the day of the year, the
// fix-point days shifted for altitude and dynamic start, the interpolation
// between fix points, the monthly resistances of the fixed method, the
// vegetation period of the balance and the n-factor.
//
// Every operation here is const and works on local values only, so the cell
// loops may call them concurrently on one record.

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "framework/diagnostics_writer.h"
#include "parameters/landuse.h"

namespace {

// Internal invariant broken by a caller (not by input): stop at once.
[[noreturn]] void LanduseInvariant(const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: internal error: %s\n", file, line, what);
    std::abort();
}

// A day held as a double truncated toward zero; values far outside any
// calendar (and NaN) become a day that fails every range check.
long TruncatedDay(double value) {
    if (!(value > -1e9 && value < 1e9)) return value < 0 ? -1000000000L : 1000000000L;
    return static_cast<long>(std::trunc(value));
}

bool IsDynamicStartMethod(int method) {
    return method == LanduseMethodDynamicPhenology1 || method == LanduseMethodDynamicPhenology2;
}

bool IsSampleDayMethod(int method) {
    return method == LanduseMethodDynamicPhenology3 || method == LanduseMethodDynamicPhenology4;
}

// A year whose February has 28 days, for resistances asked at a day of the year.
constexpr int CommonYear = 2001;

}  // namespace

// ----- calendar -------------------------------------------------------------------

int LanduseType::MonthLength(int month, int year) const {
    if (month == 2) return IsGregorianLeapYear(year) ? 29 : 28;
    return DaysPerMonth[month];
}

int LanduseType::DayOfYear(int day, int month, int year) const {
    long dayOfYear = day;
    for (int m = 1; m < month && m <= 11; ++m) dayOfYear += MonthLength(m, year);
    if (dayOfYear > 366 || dayOfYear < 0) ThrowError150();
    return static_cast<int>(dayOfYear);
}

// ----- per-cell inputs ------------------------------------------------------------

void LanduseType::CheckLayer(int layer) const {
    if (layer < 1 || layer > LayerCount) LanduseInvariant("land-use layer outside the attached layers", __FILE__, __LINE__);
}

void LanduseType::CheckList(const std::vector<double>& values, int needed) const {
    if (FixPointCount < 1 || static_cast<long>(JulDays.size()) <= FixPointCount ||
        static_cast<long>(AltDep.size()) <= FixPointCount || static_cast<long>(values.size()) < needed) {
        LanduseInvariant("value asked of a land-use record without its fix points", __FILE__, __LINE__);
    }
}

long LanduseType::CellDynamicStart(int layer, int row, int col) const {
    // Without the cell grids the class-wide start stands for every cell.
    if (!DynamicStartGrids) return TStart;
    CheckLayer(layer);
    return TruncatedDay(DynamicStartGrids[layer][row][col]);
}

double LanduseType::CellSampleDay(int i, int layer, int row, int col, double altitude) const {
    if (SampleDayStacks) {
        CheckLayer(layer);
        return SampleDayStacks[layer][row][col][i];
    }
    // Without the stacks: the fix points where they stand before the season.
    if (i == 0) return 0;
    return static_cast<double>(JulDays[i] + TruncatedDay((altitude - 400) * AltDep[i]));
}

double LanduseType::CellForcingSum(int layer, int row, int col) const {
    if (!ForcingSumGrids) return 0;
    CheckLayer(layer);
    return ForcingSumGrids[layer][row][col];
}

// ----- fix-point days -------------------------------------------------------------

long LanduseType::ActualDay(int i, long dynamicStart, double altitude) const {
    if (i == 0) return JulDays[FixPointCount] - 366L;
    if (IsDynamicStartMethod(Method) && TStartIndex >= 1) {
        if (i == TStartIndex) return dynamicStart;
        if (i == TStartIndex + 1) return JulDays[i] + dynamicStart;
    }
    return JulDays[i] + TruncatedDay((altitude - 400) * AltDep[i]);
}

void LanduseType::CheckFixPointDays(DiagnosticsWriter* log, long dynamicStart, double altitude) const {
    for (int i = 1; i <= FixPointCount; ++i) {
        const long day = ActualDay(i, dynamicStart, altitude);
        if (day >= -1 && day <= 366) continue;
        const char* cause = "FATAL: \n---ERROR--\naltitude correction resulted in a Julian day of ";
        if (IsDynamicStartMethod(Method) && TStartIndex >= 1) {
            if (i == TStartIndex) {
                cause = "FATAL: \n---ERROR--\ndynamic phenology (method 1 or 2 at TStart) resulted in a Julian day of ";
            } else if (i == TStartIndex + 1) {
                cause = "FATAL: \n---ERROR--\ndynamic phenology (method 1 or 2 after TStart) resulted in a Julian day of ";
            }
        }
        if (log) {
#pragma omp critical(RuvexDiagnosticsEntry)
            *log << cause << day << " for fix point " << i << " (JD should be between 1 and 366)" << "[end-entry]";
        }
        throw 152;
    }
}

int LanduseType::IntervalIndex(int julDay, long dynamicStart, double altitude) const {
    const int n = FixPointCount;
    if (n < 1) return 1;
    for (int i = 1; i <= n; ++i) {
        const long day = ActualDay(i, dynamicStart, altitude);
        if (day >= julDay || day < 0) return i;
    }
    return n + 1;
}

std::vector<int> LanduseType::ComputeFixPointDays(DiagnosticsWriter* log, int dynamicStartDay,
                                                  double altitude) const {
    CheckList(AltDep, FixPointCount + 1);
    CheckFixPointDays(log, dynamicStartDay, altitude);
    std::vector<int> days(static_cast<size_t>(FixPointCount) + 1);
    for (int i = 0; i <= FixPointCount; ++i) days[i] = static_cast<int>(ActualDay(i, dynamicStartDay, altitude));
    return days;
}

int LanduseType::FindFixPointInterval(DiagnosticsWriter* log, int julDay, int dynamicStartDay,
                                      double altitude) const {
    if (FixPointCount < 1) return 1;
    CheckList(AltDep, FixPointCount + 1);
    CheckFixPointDays(log, dynamicStartDay, altitude);
    return IntervalIndex(julDay, dynamicStartDay, altitude);
}

// ----- values ---------------------------------------------------------------------

double LanduseType::SampleDayValue(const std::vector<double>& values, int julDay, int layer, int row, int col,
                                   double altitude) const {
    const int n = FixPointCount;
    auto s = [&](int i) { return CellSampleDay(i, layer, row, col, altitude); };
    int u = 1;
    const double first = s(1);
    if (!(julDay < first || n < 2 || first <= 0)) {
        u = n;
        for (int k = 2; k <= n; ++k) {
            const double day = s(k);
            if (julDay < day || day <= 0) {
                u = k;
                break;
            }
        }
    }
    if (Method == LanduseMethodDynamicPhenology3 && ForcingThreshold[u] > 0) {
        return InterpolateLinear(s(0), values[u - 1], ForcingThreshold[u], values[u],
                                 CellForcingSum(layer, row, col));
    }
    return InterpolateLinear(s(u - 1), values[u - 1], s(u), values[u], julDay);
}

double LanduseType::ValueAtJulDay(const std::vector<double>& values, DiagnosticsWriter* log, int julDay, int layer,
                                  int row, int col, double altitude) const {
    const int n = FixPointCount;
    CheckList(values, n + 1);
    if (IsSampleDayMethod(Method)) {
        if (Method == LanduseMethodDynamicPhenology3) CheckList(ForcingThreshold, n + 1);
        return SampleDayValue(values, julDay, layer, row, col, altitude);
    }
    const long start = IsDynamicStartMethod(Method) ? CellDynamicStart(layer, row, col) : -1;
    CheckFixPointDays(log, start, altitude);
    int i = IntervalIndex(julDay, start, altitude);
    double day = julDay;
    if (i == n + 1) {
        day = julDay - 366.0;
        i = 1;
    }
    // Before the dynamic start the value of the fix point before it is held.
    if (IsDynamicStartMethod(Method) && i == TStartIndex) return values[i - 1];
    return InterpolateLinear(static_cast<double>(ActualDay(i - 1, start, altitude)), values[i - 1],
                             static_cast<double>(ActualDay(i, start, altitude)), values[i], day);
}

double LanduseType::MonthlyValue(const std::vector<double>& values, int day, int month, int year) const {
    if (values.size() < 14) LanduseInvariant("monthly values asked of a record without them", __FILE__, __LINE__);
    if (month < 1 || month > 12) throw 154;
    // Entry m holds for the 15th of month m; between two 15ths the value
    // changes by equal daily steps.
    int k, length;
    double d;
    if (day >= 15) {
        k = month;
        d = day - 15.0;
        length = MonthLength(month, year);
    } else {
        k = month - 1;
        length = MonthLength(month - 1, year);
        d = static_cast<double>(day) + length - 15.0;
    }
    if (length == 0) return values[k];
    return values[k] * (length - d) / length + values[k + 1] * d / length;
}

double LanduseType::MonthlyValueAtJulDay(const std::vector<double>& values, int julDay) const {
    // The monthly values belong to dates; a bare day of the year is taken
    // in a year without 29 February.
    int month = 1;
    int day = julDay;
    while (month < 12 && day > DaysPerMonth[month]) {
        day -= DaysPerMonth[month];
        ++month;
    }
    return MonthlyValue(values, day, month, CommonYear);
}

double LanduseType::ResistanceAtJulDay(const std::vector<double>& values, DiagnosticsWriter* log, int julDay,
                                       int layer, int row, int col, double altitude) const {
    if (Method == LanduseMethodFixed) return MonthlyValueAtJulDay(values, julDay);
    return ValueAtJulDay(values, log, julDay, layer, row, col, altitude);
}

double LanduseType::ResistanceAtDate(const std::vector<double>& values, DiagnosticsWriter* log, int day, int month,
                                     int year, int layer, double altitude, int row, int col) const {
    if (Method == LanduseMethodFixed) return MonthlyValue(values, day, month, year);
    return ValueAtJulDay(values, log, DayOfYear(day, month, year), layer, row, col, altitude);
}

double LanduseType::GetRscAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                   double altitude) const {
    return ResistanceAtJulDay(rsc, log, julDay, layer, row, col, altitude);
}
double LanduseType::GetRscAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                 int row, int col) const {
    return ResistanceAtDate(rsc, log, day, month, year, layer, altitude, row, col);
}
double LanduseType::GetRsInterceptionAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                              double altitude) const {
    return ResistanceAtJulDay(rs_interception, log, julDay, layer, row, col, altitude);
}
double LanduseType::GetRsInterceptionAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer,
                                            double altitude, int row, int col) const {
    return ResistanceAtDate(rs_interception, log, day, month, year, layer, altitude, row, col);
}
double LanduseType::GetRsEvaporationAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                             double altitude) const {
    return ResistanceAtJulDay(rs_evaporation, log, julDay, layer, row, col, altitude);
}
double LanduseType::GetRsEvaporationAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer,
                                           double altitude, int row, int col) const {
    return ResistanceAtDate(rs_evaporation, log, day, month, year, layer, altitude, row, col);
}

double LanduseType::GetZ0AtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                  double altitude) const {
    return ValueAtJulDay(Z0, log, julDay, layer, row, col, altitude);
}
double LanduseType::GetZ0AtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                int row, int col) const {
    return GetZ0AtJulDay(log, DayOfYear(day, month, year), layer, row, col, altitude);
}
double LanduseType::GetLAIAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                   double altitude) const {
    return ValueAtJulDay(LAI, log, julDay, layer, row, col, altitude);
}
double LanduseType::GetLAIAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                 int row, int col) const {
    return GetLAIAtJulDay(log, DayOfYear(day, month, year), layer, row, col, altitude);
}
double LanduseType::GetVCFAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                   double altitude) const {
    return ValueAtJulDay(VCF, log, julDay, layer, row, col, altitude);
}
double LanduseType::GetVCFAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                 int row, int col) const {
    return GetVCFAtJulDay(log, DayOfYear(day, month, year), layer, row, col, altitude);
}

double LanduseType::GetRootDepthAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                         double altitude) const {
    try {
        return ValueAtJulDay(RootDepth, log, julDay, layer, row, col, altitude);
    } catch (int code) {
        if (code == 152 && log) {
#pragma omp critical(RuvexDiagnosticsEntry)
            *log << "FATAL: Coordinates: i=" << row << ", j=" << col << "\nLayer=" << layer << "\nAltitude=" << altitude
                 << "m\nJulday=" << julDay << "\nLanduse Code=" << Code << "\nTStart=" << TStart << "[end-entry]";
        }
        throw;
    }
}
double LanduseType::GetRootDepthAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer,
                                       double altitude, int row, int col) const {
    return GetRootDepthAtJulDay(log, DayOfYear(day, month, year), layer, row, col, altitude);
}
double LanduseType::GetAlbedoAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                      double altitude) const {
    return ValueAtJulDay(Albedo, log, julDay, layer, row, col, altitude);
}
double LanduseType::GetAlbedoAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer, double altitude,
                                    int row, int col) const {
    return GetAlbedoAtJulDay(log, DayOfYear(day, month, year), layer, row, col, altitude);
}
double LanduseType::GetSRStemDiameterAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                              double altitude) const {
    return ValueAtJulDay(SR_StemDiameter, log, julDay, layer, row, col, altitude);
}
double LanduseType::GetSRStemDiameterAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer,
                                            double altitude, int row, int col) const {
    return GetSRStemDiameterAtJulDay(log, DayOfYear(day, month, year), layer, row, col, altitude);
}
double LanduseType::GetSRResidCovrgAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                            double altitude) const {
    return ValueAtJulDay(SR_ResidCovrg, log, julDay, layer, row, col, altitude);
}
double LanduseType::GetSRResidCovrgAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer,
                                          double altitude, int row, int col) const {
    return GetSRResidCovrgAtJulDay(log, DayOfYear(day, month, year), layer, row, col, altitude);
}

// ----- vegetation period of the balance -------------------------------------------

namespace {

// Index of the last sample day reached (methods 5 and 6), 0 before the first.
template <typename SampleDay>
int LastSampleReached(int julDay, int n, SampleDay s) {
    const double first = s(1);
    if (julDay < first || n < 2 || first <= 0) return 0;
    int j = 2;
    while (!(julDay < s(j) || s(j) <= 0 || j == n)) ++j;
    return j - 1;
}

}  // namespace

double LanduseType::BalancePeriodDayAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                             double altitude) const {
    const int S = StartVegetationPeriodForBalance;
    const int E = StopVegetationPeriodForBalance;
    if (S == 0) return 0;
    const int n = FixPointCount;
    CheckList(AltDep, n + 1);
    if (IsSampleDayMethod(Method)) {
        auto s = [&](int i) { return CellSampleDay(i, layer, row, col, altitude); };
        const int i = LastSampleReached(julDay, n, s);
        return (S <= i && (i < E || E < S) && julDay >= s(i)) ? julDay : -1;
    }
    const long start = IsDynamicStartMethod(Method) ? CellDynamicStart(layer, row, col) : -1;
    CheckFixPointDays(log, start, altitude);
    int i = IntervalIndex(julDay, start, altitude);
    long day = julDay;
    if (i == n + 1) {
        i = 1;
        day = julDay - 366L;
    }
    const long fixPointDay = ActualDay(i, start, altitude);
    return (S <= i && (i < E || E < S) && day >= fixPointDay && fixPointDay > 0) ? julDay : -1;
}

double LanduseType::BalancePeriodDayAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer,
                                           double altitude, int row, int col) const {
    return BalancePeriodDayAtJulDay(log, DayOfYear(day, month, year), layer, row, col, altitude);
}

double LanduseType::BalanceStopDayAtJulDay(DiagnosticsWriter* log, int julDay, int layer, int row, int col,
                                           double altitude) const {
    const int E = StopVegetationPeriodForBalance;
    if (E == 0) return 0;
    const int n = FixPointCount;
    CheckList(AltDep, n + 1);
    if (IsSampleDayMethod(Method)) {
        auto s = [&](int i) { return CellSampleDay(i, layer, row, col, altitude); };
        const double first = s(1);
        if (julDay < first || n < 2 || first <= 0) return -1;
        const int i = LastSampleReached(julDay, n, s);
        return (i == E && julDay == s(E)) ? julDay : -1;
    }
    const long start = IsDynamicStartMethod(Method) ? CellDynamicStart(layer, row, col) : -1;
    CheckFixPointDays(log, start, altitude);
    int i = IntervalIndex(julDay, start, altitude);
    long day = julDay;
    if (i == n + 1) {
        i = 1;
        day = julDay - 366L;
    }
    return (i == E && day == ActualDay(E, start, altitude)) ? julDay : -1;
}

double LanduseType::BalanceStopDayAtDate(DiagnosticsWriter* log, int day, int month, int year, int layer,
                                         double altitude, int row, int col) const {
    return BalanceStopDayAtJulDay(log, DayOfYear(day, month, year), layer, row, col, altitude);
}

// ----- n-factor and the latest dynamic start ---------------------------------------

double LanduseType::GetNFactorAtJulDay(DiagnosticsWriter* /*log*/, int julDay) const {
    const int n = FixPointCount;
    CheckList(NFactor, n + 1);
    // The nominal days: no altitude shift, no dynamic start, no hold.
    int i = n + 1;
    for (int k = 1; k <= n; ++k) {
        if (JulDays[k] >= julDay || JulDays[k] < 0) {
            i = k;
            break;
        }
    }
    double day = julDay;
    if (i == n + 1) {
        i = 1;
        day = julDay - 366.0;
    }
    return InterpolateLinear(JulDays[i - 1], NFactor[i - 1], JulDays[i], NFactor[i], day);
}

double LanduseType::GetNFactorAtDate(DiagnosticsWriter* log, int day, int month, int year) const {
    return GetNFactorAtJulDay(log, DayOfYear(day, month, year));
}

void LanduseType::CheckMaxStartDay(int day, int month, int year) {
    if (Method != LanduseMethodDynamicPhenology1 && Method != LanduseMethodDynamicPhenology2 &&
        Method != LanduseMethodDynamicPhenology4) {
        return;
    }
    DynamicPhenology = true;
    const int dayOfYear = DayOfYear(day, month, year);
    const int next = TStartIndex + 1;
    if (dayOfYear > maxStartJDforDP1 && next >= 0 && next < static_cast<int>(JulDays.size())) {
        TStart = maxStartJDforDP1 - JulDays[next];
    }
}
