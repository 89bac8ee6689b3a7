// Comparison of routed with observed discharge: the observed-discharge file,
// its window of 21 steps around the current one (each row the observation of
// its own date, also before the run's start, or missing), the efficiency
// sums per shift and subbasin, the substitution of observed for routed
// discharge, and the efficiency tables at the end of the run.

#include <cmath>
#include <cstdint>

#include "framework/diagnostics_writer.h"
#include "framework/routstatistic.h"
#include "routing/abfluss.h"

namespace {

constexpr uint64_t ObservedBufferBytes = 1000000;
constexpr double Missing = -9999;

int FullYear(int64_t year) { return static_cast<int>(year < 1000 ? year + 1900 : year); }

// Minutes from 1970-01-01 00:00 to a date (proleptic Gregorian calendar).
int64_t MinuteOf(int64_t year, int64_t month, int64_t day, int64_t hour) {
    const int64_t y = month <= 2 ? year - 1 : year;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t mp = (month + 9) % 12;
    const int64_t doy = (153 * mp + 2) / 5 + day - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    const int64_t days = era * 146097 + doe - 719468;
    return days * 1440 + hour * 60;
}

}  // namespace

void abflussmodellklasse::SetUpObservedDischarge() {
    RowsPastEnd = 10;
    ObservedWindow = nullptr;
    const int n = Subbasins.Count;
    SubstituteMm.assign(static_cast<size_t>(n) + 1, -1.0);
    ObservedReader = std::make_unique<TimeSeriesTableReader>();
    ObservedReader->Open(ObservedFileName, 0, ObservedBufferBytes);
    const int status = ObservedReader->GetStatus();
    if (status == TimeSeriesTableReader::CannotOpen || status == TimeSeriesTableReader::NotOpened) {
        if (Writer) {
            *Writer << "INFO: error opening " << ObservedFileName
                    << "\nRouting will be done without comparison to observed discharge data!" << "[end-entry]";
        }
        ObservedReader.reset();
        return;
    }
    if (status == TimeSeriesTableReader::BadData) {
        if (Writer) {
            *Writer << "FATAL: error analysing or reading " << ObservedFileName << " at row "
                    << ObservedReader->GetBadRow()
                    << " or before \n(e.g. due to wrong formatting or wrong number of columns or start date not found)"
                    << "[end-entry]";
        }
        throw 203;
    }
    const int V = static_cast<int>(ObservedReader->GetColumnCount());
    ObservedColumns = V;
    for (int& g : GaugeColumns)
        if (g > V || g < 0) g = 0;
    ObservedRows.assign(21 * static_cast<size_t>(V + 1), Missing);
    ObservedRowPointers.assign(21, nullptr);
    for (size_t r = 0; r < 21; ++r) ObservedRowPointers[r] = ObservedRows.data() + r * static_cast<size_t>(V + 1);
    ObservedWindow = ObservedRowPointers.data();
    RowsPastEnd = 0;
    ObservedReader->SetRow(0);
    // Row r: the observation of the step r - 10 steps from the start, the
    // ten steps before the start included, where the file has them. Only
    // rows from the start on count as filled past the file's end.
    const int64_t start = MinuteOf(Settings.StartYear, Settings.StartMonth, Settings.StartDay, Settings.StartHour);
    for (int r = 0; r <= 20; ++r) {
        if (r == 10) RowsPastEnd = 0;
        FillObservedRow(ObservedWindow[r], start + static_cast<int64_t>(std::llround((r - 10) * TimeInterval)));
    }
    SetSubstitutes();
}

void abflussmodellklasse::FillObservedRow(double* row, int64_t minute) {
    const int V = ObservedColumns;
    for (int j = 1; j <= V; ++j) row[j] = Missing;
    TimeSeriesTableReader& reader = *ObservedReader;
    while (reader.GetStatus() != TimeSeriesTableReader::PastLastRow) {
        int y = 0, m = 0, d = 0, h = 0;
        reader.GetDate(y, m, d, h);
        const int64_t at = MinuteOf(FullYear(y), m, d, h);
        if (at > minute) return;  // a gap: no observation for this date
        if (at == minute) {
            for (int j = 1; j <= V; ++j) row[j] = reader.GetValue(j - 1);
            reader.NextRow();
            if (reader.GetStatus() == TimeSeriesTableReader::PastLastRow && Writer)
                *Writer << "INFO: end of discharge file reached!" << "[end-entry]";
            return;
        }
        reader.NextRow();
    }
    ++RowsPastEnd;
}

// The observation of the current step in mm over each gauged subbasin's
// area, as the routed discharge is converted into the output unit; -1 where
// there is none to substitute.
void abflussmodellklasse::SetSubstitutes() {
    const int n = Subbasins.Count;
    for (int i = 1; i <= n; ++i) {
        double& q = SubstituteMm[static_cast<size_t>(i)];
        q = -1.0;
        const int g = GaugeColumns[static_cast<size_t>(i)];
        if (Substitution != 1 || !ObservedWindow || g <= 0) continue;
        const double v = ObservedWindow[10][g];
        if (!(v >= 0)) continue;
        q = v / RoutedDischargeFactor(i);
    }
}

double abflussmodellklasse::RoutedDischargeFactor(int i) {
    if (OutputUnit != 1) return 1.0;
    double** abfrel = Abfrel.Rows();
    const double factor = abfrel[0][0] * abfrel[0][i] * 16.6666667 / TimeInterval;
    const int k = static_cast<size_t>(i) < DescriptionOfOutlet.size() ? DescriptionOfOutlet[static_cast<size_t>(i)] : 0;
    return k > 0 ? factor / Descriptions[static_cast<size_t>(k)]->AreaFactor : factor;
}

void abflussmodellklasse::CompareObservedDischarge(int64_t year, int64_t month, int64_t day, int64_t hour) {
    if (!ObservedWindow || !ObservedReader) return;
    const int n = Subbasins.Count;
    ++ObservedSteps;
    double* series = RoutedStatistics ? RoutedStatistics->ObservedValues() : nullptr;
    const int code = QstatCode;
    const bool publish = (code >= 2000 && code <= 2999) || (code >= 4000 && code <= 4999);
    const bool firstOnly = code >= 5000 && code <= 6999;
    const size_t block = static_cast<size_t>(n + 1) * EfficiencySumCount;
    for (int j = 1; j <= n; ++j) {
        const int g = GaugeColumns[static_cast<size_t>(j)];
        // The statistics table gets the observation of the step after this one.
        const double next = g > 0 ? ObservedWindow[11][g] : Missing;
        const bool first = Settings.OutputListCount >= 1 && Settings.OutputListCodes &&
                           Settings.OutputListCodes[1] == static_cast<int>(Subbasins.Records[j].zonenwert);
        if (series && (publish || (firstOnly && first))) series[j] = next;
        if (g == 0 || ObservedSteps <= RSquareOffset) continue;
        const double s = RoutedDischarge(j);
        for (int r = 0; r <= 20; ++r) {
            const double o = ObservedWindow[r][g];
            if (!(o > 0)) continue;
            double* p = EfficiencyPlain.data() + static_cast<size_t>(r) * block + static_cast<size_t>(j) * EfficiencySumCount;
            p[ObservedCount] += 1;
            p[ObservedSum] += o;
            p[PairCount] += 1;
            p[ObservedSquares] += o * o;
            p[DeviationSum] += s - o;
            p[DeviationSquares] += (s - o) * (s - o);
            if (s > 0) {
                double* l = EfficiencyLog.data() + static_cast<size_t>(r) * block + static_cast<size_t>(j) * EfficiencySumCount;
                const double L = std::log(o);
                l[ObservedCount] += 1;
                l[ObservedSum] += L;
                l[ObservedSquares] += L * L;
                l[PairCount] += 1;
                const double G = std::log(s) - L;
                l[DeviationSum] += G;
                l[DeviationSquares] += G * G;
            }
        }
    }
    if (RowsPastEnd > 10 && Writer) {
        int y = 0, m = 0, d = 0, h = 0;
        ObservedReader->GetDate(y, m, d, h);
        *Writer << "INFO: observed runoff: actual date " << day << "." << month << "." << year << " " << hour
                << "h not found (end of discharge file at " << d << "." << m << "." << FullYear(y) << ", " << h << "h)"
                << "[end-entry]";
    }
    // Shift: the old row 0 becomes row 20, for the step ten steps ahead.
    double* oldest = ObservedWindow[0];
    for (int r = 0; r < 20; ++r) ObservedWindow[r] = ObservedWindow[r + 1];
    ObservedWindow[20] = oldest;
    FillObservedRow(ObservedWindow[20], MinuteOf(year, month, day, hour) +
                                            static_cast<int64_t>(std::llround(11 * TimeInterval)));
    SetSubstitutes();
}

void abflussmodellklasse::WriteEfficiencyTables() {
    if (!ObservedReader || !ObservedWindow || !RoutedStatistics) return;
    const int n = Subbasins.Count;
    const size_t block = static_cast<size_t>(n + 1) * EfficiencySumCount;
    const double* plain[21];
    const double* logarithmic[21];
    for (size_t r = 0; r < 21; ++r) {
        plain[r] = EfficiencyPlain.data() + r * block;
        logarithmic[r] = EfficiencyLog.data() + r * block;
    }
    RoutedStatistics->WriteEfficiency(plain, logarithmic);
}
