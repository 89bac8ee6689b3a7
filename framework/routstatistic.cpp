#include "framework/routstatistic.h"

#include <new>

#include "framework/diagnostics_writer.h"
#include "framework/signals.h"

namespace {

constexpr const char* TableRule = "----------------------\n";

// Labels of the four tables: at shift 0 and at the other shifts.
constexpr const char* TableLabels[4][2] = {
    {"LIN. R-SQUARE\t%d", "lin. R-square\t%d"},
    {"LOG. R-SQUARE\t%d", "log. R-square\t%d"},
    {"COEFF.VAR.LIN\t%d", "coeff.var.lin\t%d"},
    {"COEFF.VAR.LOG\t%d", "coeff.var.log\t%d"},
};

}  // namespace

double ObservedVariance(double count, double sum, double sumSquares) {
    if (!(count > 2)) return 0.0;
    return (sumSquares - sum * sum / count) / (count - 1);
}

namespace {

// The variance of the observations when the sums support a criterion, else 0.
double UsableVariance(const double* sums) {
    if (!sums || !(sums[PairCount] >= 3)) return 0.0;
    const double variance = ObservedVariance(sums[ObservedCount], sums[ObservedSum], sums[ObservedSquares]);
    return variance > 0 ? variance : 0.0;
}

}  // namespace

double EfficiencyRSquare(const double* sums) {
    const double variance = UsableVariance(sums);
    if (variance == 0) return EfficiencyMissing;
    const double n = sums[PairCount];
    return 1.0 - (sums[DeviationSquares] / (n - 1)) / variance;
}

double EfficiencyCoefficient(const double* sums) {
    const double variance = UsableVariance(sums);
    if (variance == 0) return EfficiencyMissing;
    const double n = sums[PairCount];
    const double d = sums[DeviationSum];
    return 1.0 - ((sums[DeviationSquares] - d * d / n) / (n - 1)) / variance;
}

routstatistic::routstatistic(int* status, DiagnosticsWriter* writer, double** relCellArea, int gridRows,
                             int gridCols, ZoneRecord* zones, const double* weights, int zoneCount, int modeCode,
                             int precision, std::string& fileName, const std::string& outputDirectory,
                             int listedCount, const int* listedCodes)
    : routstatistic(status, writer, nullptr, 0, relCellArea, gridRows, gridCols, zones, weights, zoneCount,
                    modeCode, precision, fileName, outputDirectory, listedCount, listedCodes) {}

routstatistic::routstatistic(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* table, int tableEntries,
                             double** relCellArea, int gridRows, int gridCols, ZoneRecord* zones,
                             const double* weights, int zoneCount, int modeCode, int precision,
                             std::string& fileName, const std::string& outputDirectory, int listedCount,
                             const int* listedCodes)
    : zonalstatistic(status, writer, table, tableEntries, relCellArea, gridRows, gridCols, zones, zoneCount,
                     modeCode, precision, fileName, outputDirectory, listedCount, listedCodes) {
    if (*status != 0 || !IsOn()) return;
    // No total column. The table's value count keeps one more than the
    // columns, so that readers (who use 1 to count - 1) see every subbasin.
    const int columns = ZoneColumnCount();
    ValuesPerRow = columns;
    ValueCount = columns + 1;
    ObsValueCount = ValueCount;
    try {
        // The routing writes observed values by subbasin rank: room for every rank.
        const size_t size = static_cast<size_t>(ZoneCount) + 2;
        ObsCurrentValues.assign(size, 0.0);
        ObsReaderSums.assign(size, 0.0);
        ObsWeights.assign(size, 0.0);
        ObsColumnCodes.assign(size, 0);
        ObsNameText = "observed Runoff";
        Weights.assign(static_cast<size_t>(ZoneCount) + 1, 0.0);
        for (int i = 0; i <= ZoneCount; ++i) Weights[i] = weights ? weights[i] : zones[i].rel;
    } catch (const std::bad_alloc&) {
        if (Writer) *Writer << "FATAL: no free memory in zonalstatistik::zonalstatistik " << "[end-entry]";
        ReleaseBuffers();
        TurnOff();
        Ready = 0;
        *status = 1;
    }
}

StatisticsTableEntry routstatistic::ObservedEntry() {
    StatisticsTableEntry entry;
    entry.Year = ObsYear;
    entry.Month = ObsMonth;
    entry.Day = ObsDay;
    entry.Hour = ObsHour;
    entry.ValueCount = ObsValueCount;
    entry.CurrentValues = ObsCurrentValues.data();
    entry.ReaderSums = ObsReaderSums.data();
    entry.AreaFractions = ObsWeights.data();
    entry.NameText = ObsNameText.data();
    entry.ColumnCodes = ObsColumnCodes.data();
    return entry;
}

int routstatistic::WriteHeader(const std::string& name, const std::string& subModel, StatisticsTableEntry* table,
                               int entries) {
    if (!IsOn()) return 0;

    if (TableIndex < 0) NameText = name + "_submodel:" + subModel;

    const int columns = ZoneColumnCount();
    std::string codes = "YY\tMM\tDD\tHH";
    std::string weights = "--\t--\t--\t--";
    for (int j = 1; j <= columns; ++j) {
        const int rank = ZoneColumnRank(j);
        const int64_t code = ZoneCode(Zones[rank]);
        AppendFormat(codes, "\t\"%.0lf\"", static_cast<double>(code));
        AppendFormat(weights, "\t%.7lf", Weights[rank]);
        CurrentValues[j] = 0;
        ObsCurrentValues[j] = 0;
        ColumnCodes[j] = ObsColumnCodes[j] = code;
        AreaFractions[j] = ObsWeights[j] = Weights[rank];
    }
    codes += "\n";
    weights += "\n";

    {
        CtrlCIgnored quiet;
        Open("wt");
        const int index = Register(table, entries, OwnEntry());
        if (index >= 0 && ObservedIndex < 0 && index + 1 < entries && table[index + 1].ValueCount == 0) {
            table[index + 1] = ObservedEntry();
            ObservedIndex = index + 1;
        }
        WriteText(codes + name + "_submodel:" + subModel + "\n" + weights);
        CloseFile();
    }
    ResetCtrlCHandler();
    return GetObservedTableIndex();
}

void routstatistic::CloseStep(int64_t year, int64_t month, int64_t day, int64_t hour) {
    CloseRoutedStep(year, month, day, hour);
}

void routstatistic::CloseRoutedStep(int64_t year, int64_t month, int64_t day, int64_t hour) {
    if (!IsOn()) return;
    FoldRows();
    const bool due = Interval > 0 && StepCounter >= Interval;
    if (Interval >= 2) {
        AddAccumulators(1);
        if (!due) {
            SaveAccumulators();
            return;
        }
    } else if (!due) {
        return;
    }

    DatedRow* row = BeginRow(year, month, day, hour);
    ObsYear = year;
    ObsMonth = month;
    ObsDay = day;
    ObsHour = hour;

    int nextListed = 1;
    for (int i = 1; i <= ZoneCount; ++i) {
        const ZoneRecord& zone = Zones[i];
        const double value =
            (zone.n > 0 && zone.RelCellSum != 0) ? (zone.sx / zone.n) * (zone.n / zone.RelCellSum) : 0.0;
        if (HasAllZoneColumns()) {
            AppendValue(row, value);
        } else if (HasListedZoneColumns() && nextListed <= ListedCount && ListedRanks[nextListed] == i) {
            AppendValue(row, value);
            ++nextListed;
        }
    }

    if (Interval >= 2) ClearAccumulators();
    StepCounter = 0;
    if (RowsInUse >= Capacity) Flush();
}

void routstatistic::WriteEfficiency(const double* const* linear, const double* const* logarithmic) {
    if (!IsOn()) return;
    Flush();

    auto block = [](const double* const* sums, int shiftIndex, int rank) -> const double* {
        if (!sums || !sums[shiftIndex]) return nullptr;
        return sums[shiftIndex] + static_cast<size_t>(rank) * EfficiencySumCount;
    };

    const int columns = ZoneColumnCount();
    std::string text;
    for (int table = 0; table < 4; ++table) {
        const double* const* sums = (table % 2 == 0) ? linear : logarithmic;
        const bool coefficient = table >= 2;
        text += TableRule;
        for (int index = 0; index < EfficiencyShiftCount; ++index) {
            const int shift = index - EfficiencyMaxShift;
            AppendFormat(text, TableLabels[table][shift == 0 ? 0 : 1], shift);
            if (table == 2 && shift == 0) {
                // The zero-shift linear coefficients stay in the zone table.
                for (int i = 1; i <= ZoneCount; ++i) {
                    Zones[i].sx = EfficiencyCoefficient(block(sums, index, i));
                    Zones[i].n = 1;
                }
            }
            for (int j = 1; j <= columns; ++j) {
                const double* values = block(sums, index, ZoneColumnRank(j));
                const double value = coefficient ? EfficiencyCoefficient(values) : EfficiencyRSquare(values);
                AppendFormat(text, "\t%.*lf", Precision - 1, value);
            }
            text += '\n';
        }
    }
    text += TableRule;

    {
        CtrlCIgnored quiet;
        Open("a+");
        WriteText(text);
        CloseFile();
    }
    ResetCtrlCHandler();
}

void routstatistic::Close() {
    if (!IsOn()) return;
    if (ObservedIndex > 0) ClearEntry(Table, ObservedIndex, ObsCurrentValues.data());
    ObservedIndex = -1;
    ObsCurrentValues = {};
    ObsReaderSums = {};
    ObsWeights = {};
    ObsNameText = {};
    ObsColumnCodes = {};
    zonalstatistic::Close();
}
