#include "framework/zonalstatistic.h"

#include <algorithm>
#include <cerrno>
#include <cinttypes>
#include <cmath>
#include <cstdarg>
#include <new>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/parallel_rows.h"
#include "framework/signals.h"
#include "framework/zonetable.h"

namespace {

bool IsAbsolutePath(const std::string& name) { return !name.empty() && (name[0] == '/' || name[0] == '~'); }

}  // namespace

void zonalstatistic::AppendFormat(std::string& text, const char* format, ...) {
    char small[128];
    va_list args;
    va_start(args, format);
    const int length = std::vsnprintf(small, sizeof small, format, args);
    va_end(args);
    if (length < 0) return;
    if (static_cast<size_t>(length) < sizeof small) {
        text.append(small, static_cast<size_t>(length));
        return;
    }
    std::string large(static_cast<size_t>(length) + 1, '\0');
    va_start(args, format);
    std::vsnprintf(large.data(), large.size(), format, args);
    va_end(args);
    text.append(large.data(), static_cast<size_t>(length));
}

zonalstatistic::zonalstatistic(int* status, DiagnosticsWriter* writer, double** relCellArea, int gridRows,
                               int gridCols, ZoneRecord* zones, int zoneCount, int modeCode, int precision,
                               std::string& fileName, const std::string& outputDirectory, int listedCount,
                               const int* listedCodes)
    : zonalstatistic(status, writer, nullptr, 0, relCellArea, gridRows, gridCols, zones, zoneCount, modeCode,
                     precision, fileName, outputDirectory, listedCount, listedCodes) {}

zonalstatistic::zonalstatistic(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* table,
                               int tableEntries, double** relCellArea, int gridRows, int gridCols,
                               ZoneRecord* zones, int zoneCount, int modeCode, int precision,
                               std::string& fileName, const std::string& outputDirectory, int listedCount,
                               const int* listedCodes)
    : Writer(writer),
      Zones(zones),
      RelCellArea(relCellArea),
      GridRows(gridRows),
      GridCols(gridCols),
      ZoneCount(zoneCount),
      Precision(precision),
      OutputDirectory(outputDirectory),
      DefaultTable(table),
      DefaultTableEntries(tableEntries) {
    *status = 0;
    Ready = 0;
    if (modeCode <= 1000) {
        Mode = -1;
        FileName = fileName;
        Ready = 1;
        return;
    }
    const int mode = modeCode / 1000;
    Interval = modeCode % 1000;

    if (!zones || zoneCount < 0) {
        if (Writer) *Writer << "FATAL: no zone table for the statistics " << fileName << "[end-entry]";
        *status = 1;
        return;
    }

    ListedCount = listedCodes ? std::min(zoneCount, std::max(listedCount, 0)) : 0;

    if (!OutputDirectory.empty() && !IsAbsolutePath(fileName)) fileName = OutputDirectory + fileName;
    FileName = fileName;

    try {
        // Listed codes are ascending: each one is searched after the rank of
        // the one before it, so the columns of the header and of the rows
        // always match.
        ListedCodes.assign(static_cast<size_t>(ListedCount) + 1, 0);
        ListedRanks.assign(static_cast<size_t>(ListedCount) + 1, 0);
        int previousRank = 0;
        for (int j = 1; j <= ListedCount; ++j) {
            const int code = listedCodes[j];
            ListedCodes[j] = code;
            int found = 0;
            for (int i = previousRank + 1; i <= zoneCount; ++i) {
                if (ZoneCode(zones[i]) == code) {
                    found = i;
                    break;
                }
            }
            if (found == 0) {
                if (Writer)
                    *Writer << "\n\n ------ error ------\n\n there is a code in the output list which no zone exists for ("
                            << code << ")" << "[end-entry]";
                *status = 1;
                return;
            }
            ListedRanks[j] = found;
            previousRank = found;
        }

        Mode = mode;
        const bool totalOnly = !HasAllZoneColumns() && !HasListedZoneColumns();
        int64_t v;
        if (totalOnly) {
            v = 1;
            Capacity = TotalOnlyCapacity;
            ValueCount = 2;
        } else {
            v = HasAllZoneColumns() ? int64_t(zoneCount) + 1 : int64_t(ListedCount) + 1;
            Capacity = std::max<int64_t>(1, BufferBytes / (v * 8 + 32));
            ValueCount = v;
        }
        ValuesPerRow = v;
        BufferValuesPerRow = v;

        const int64_t rowLength = totalOnly ? 2 : v + 1;
        RowValues = std::make_unique_for_overwrite<double[]>(static_cast<size_t>((Capacity + 1) * rowLength));
        // The rows are made when they are first used: touching the whole
        // buffer of every statistic at once took a tenth of a large basin's
        // set-up. The capacity is reserved, so a row never reallocates.
        RowLength = rowLength;
        Rows.clear();
        Rows.reserve(static_cast<size_t>(Capacity) + 1);
        Rows.push_back(DatedRow{});
        CurrentValues.assign(static_cast<size_t>(v) + 1, 0.0);
        ReaderSums.assign(static_cast<size_t>(v) + 1, 0.0);
        AreaFractions.assign(static_cast<size_t>(v) + 1, 0.0);
        ColumnCodes.assign(static_cast<size_t>(v) + 1, 0);

        for (int i = 0; i <= zoneCount; ++i) zones[i].n = zones[i].sx = zones[i].RelCellSum = 0;
        RowSums.Resize(GridRows, zoneCount);

        if (Interval >= 2) {
            AccSx.assign(static_cast<size_t>(zoneCount) + 1, 0.0);
            AccN.assign(static_cast<size_t>(zoneCount) + 1, 0.0);
            AccRelCellSum.assign(static_cast<size_t>(zoneCount) + 1, 0.0);
        }
    } catch (const std::bad_alloc&) {
        if (Writer) *Writer << "FATAL: no free memory in zonalstatistik::zonalstatistik " << "[end-entry]";
        ReleaseBuffers();
        Mode = -1;
        *status = 1;
        return;
    }
    Ready = 1;
}

zonalstatistic::~zonalstatistic() {
    if (File) std::fclose(File);
}

int64_t zonalstatistic::ZoneCode(const ZoneRecord& record) {
    return static_cast<int64_t>(ZoneCodeOf(record.zonenwert));
}

int zonalstatistic::ZoneColumnCount() const {
    if (HasAllZoneColumns()) return ZoneCount;
    if (HasListedZoneColumns()) return ListedCount;
    return 0;
}

int zonalstatistic::ZoneColumnRank(int column) const {
    return HasAllZoneColumns() ? column : ListedRanks[column];
}

void zonalstatistic::Open(const char* mode) {
    if (File) {
        std::fclose(File);
        File = nullptr;
    }
    File = std::fopen(FileName.c_str(), mode);
    if (!File) {
        if (Writer) *Writer << "FATAL: error opening \n" << FileName << "[end-entry]";
        throw 15;
    }
}

void zonalstatistic::CloseFile() {
    FILE* file = File;
    File = nullptr;
    if (!file) return;
    if (std::fclose(file) != 0) {
        if (Writer) *Writer << "FATAL: cannot close " << FileName << "[end-entry]";
        throw 16;
    }
}

void zonalstatistic::WriteText(const std::string& text) {
    if (text.empty()) return;
    if (std::fwrite(text.data(), 1, text.size(), File) != text.size()) {
        const int error = errno;
        std::fclose(File);
        File = nullptr;
        if (Writer) *Writer << "FATAL: write error " << FileName << " ! (" << error << ")" << "[end-entry]";
        throw 18;
    }
}

int zonalstatistic::Register(StatisticsTableEntry* table, int entries, const StatisticsTableEntry& words) {
    if (TableIndex >= 0) return TableIndex;  // a second header keeps the first entry
    const int index = FirstFreeStatisticsEntry(table, entries);
    if (index < 0) return -1;
    table[index] = words;
    Table = table;
    TableIndex = index;
    return index;
}

void zonalstatistic::ClearEntry(StatisticsTableEntry* table, int index, const double* values) {
    if (!table || index < 0) return;
    if (table[index].CurrentValues == values) table[index] = StatisticsTableEntry{};
}

StatisticsTableEntry zonalstatistic::OwnEntry() {
    StatisticsTableEntry entry;
    entry.Year = LastYear;
    entry.Month = LastMonth;
    entry.Day = LastDay;
    entry.Hour = LastHour;
    entry.ValueCount = ValueCount;
    entry.CurrentValues = CurrentValues.data();
    entry.ReaderSums = ReaderSums.data();
    entry.AreaFractions = AreaFractions.data();
    entry.NameText = NameText.data();
    entry.ColumnCodes = ColumnCodes.data();
    return entry;
}

int zonalstatistic::WriteHeader(const std::string& name, const std::string& subModel) {
    return WriteHeader(name, subModel, DefaultTable, DefaultTableEntries);
}

int zonalstatistic::WriteHeader(const std::string& name, const std::string& subModel, StatisticsTableEntry* table,
                                int entries) {
    if (!IsOn()) return -1;

    // The name text is final before the entry points to it.
    if (TableIndex < 0) NameText = name + "_submodel:" + subModel;

    const int columns = ZoneColumnCount();
    std::string codes = "YY\tMM\tDD\tHH";
    std::string fractions = "--\t--\t--\t--";
    for (int j = 1; j <= columns; ++j) {
        const ZoneRecord& zone = Zones[ZoneColumnRank(j)];
        const int64_t code = ZoneCode(zone);
        AppendFormat(codes, "\t\"%.0lf\"", static_cast<double>(code));
        AppendFormat(fractions, "\t%.7lf", zone.rel);
        CurrentValues[j] = 0;
        ReaderSums[j] = 0;
        ColumnCodes[j] = code;
        AreaFractions[j] = zone.rel;
    }
    codes += "\ttot_average\n";
    fractions += "\t1.0000\n";
    const int total = columns + 1;
    CurrentValues[total] = 0;
    ReaderSums[total] = 0;
    ColumnCodes[total] = 0;
    AreaFractions[total] = 1.0;

    int index;
    {
        CtrlCIgnored quiet;
        Open("wt");
        index = Register(table, entries, OwnEntry());
        WriteText(codes + name + "_submodel:" + subModel + "\n" + fractions);
        CloseFile();
    }
    ResetCtrlCHandler();
    return index;
}

void zonalstatistic::ResetStep() {
    if (!IsOn()) return;
    ++StepCounter;
    for (int i = 0; i <= ZoneCount; ++i) Zones[i].n = Zones[i].sx = Zones[i].RelCellSum = 0;
    RowSums.Clear();
}

zonalstatistic::FoldFailure zonalstatistic::FoldRowsQuietly() noexcept {
    FoldFailure failure;
    if (!IsOn()) return failure;
    // One pass: a failed row stops it, and the step ends with the failure.
    failure.Row = RowSums.FoldUntilFailure(
        [this](const ZonePartial& partial) {
            ZoneRecord& record = Zones[partial.Zone];
            record.n += partial.Weight;
            record.RelCellSum += partial.Area;
            record.sx += partial.Sum;
        },
        &failure.Zone, &failure.OutOfMemory);
    RowSums.Clear();
    return failure;
}

void zonalstatistic::RaiseFoldFailure(const FoldFailure& failure) {
    if (failure.Row < 0) return;
    if (failure.OutOfMemory) {
        if (Writer) *Writer << "FATAL: no free memory in zonalstatistik::AddValue " << "[end-entry]";
        throw 1;
    }
    if (Writer)
        *Writer << "FATAL: zone index " << failure.Zone << " outside 0 to " << ZoneCount << " in the statistics "
                << FileName << "[end-entry]";
    throw 3;
}

void zonalstatistic::FoldRows() { RaiseFoldFailure(FoldRowsQuietly()); }

void zonalstatistic::FoldRowsOf(zonalstatistic* const* statistics, int count) {
    if (count <= 0) return;
    std::vector<FoldFailure> failures(static_cast<size_t>(count));
    int64_t cells = 0;
    for (int k = 0; k < count; ++k) {
        if (statistics[k]) cells = std::max<int64_t>(cells, int64_t(statistics[k]->GridRows) * statistics[k]->GridCols);
    }
    // The rows of a statistic were summed by all threads; one thread each
    // reads them instead of the main thread reading all.
#pragma omp parallel for schedule(dynamic, 1) if (count > 1 && WorthThreads(cells))
    for (int k = 0; k < count; ++k) {
        if (statistics[k]) failures[static_cast<size_t>(k)] = statistics[k]->FoldRowsQuietly();
    }
    for (int k = 0; k < count; ++k) {
        if (statistics[k]) statistics[k]->RaiseFoldFailure(failures[static_cast<size_t>(k)]);
    }
}

void zonalstatistic::AddValue(int row, int column, int zone, double value, double weight) {
    if (!IsOn()) return;
    if (zone < 0 || zone > ZoneCount) {
        if (Writer)
            *Writer << "FATAL: zone index " << zone << " outside 0 to " << ZoneCount << " in the statistics "
                    << FileName << "[end-entry]";
        throw 3;
    }
    ZoneRecord& record = Zones[zone];
    record.n += weight;
    if (RelCellArea && row >= 1 && row <= GridRows && column >= 1 && column <= GridCols) {
        const double area = RelCellArea[row][column];
        if (area > Missing) {
            record.RelCellSum += area * weight;
            record.sx += value * area * weight;
            return;
        }
    }
    record.RelCellSum += weight;
    record.sx += value * weight;
}

void zonalstatistic::AddAccumulators(int first) {
    const bool all = IsMeanMode();
    for (int i = first; i <= ZoneCount; ++i) {
        Zones[i].sx += AccSx[i];
        if (all) {
            Zones[i].n += AccN[i];
            Zones[i].RelCellSum += AccRelCellSum[i];
        }
    }
}

void zonalstatistic::SaveAccumulators() {
    for (int i = 0; i <= ZoneCount; ++i) {
        AccSx[i] = Zones[i].sx;
        AccN[i] = Zones[i].n;
        AccRelCellSum[i] = Zones[i].RelCellSum;
    }
}

void zonalstatistic::ClearAccumulators() {
    std::fill(AccSx.begin(), AccSx.end(), 0.0);
    std::fill(AccN.begin(), AccN.end(), 0.0);
    std::fill(AccRelCellSum.begin(), AccRelCellSum.end(), 0.0);
}

DatedRow* zonalstatistic::BeginRow(int64_t year, int64_t month, int64_t day, int64_t hour) {
    ++RowsInUse;
    while (static_cast<int64_t>(Rows.size()) <= RowsInUse) {
        Rows.push_back(DatedRow{});
        Rows.back().Values = RowValues.get() + (static_cast<int64_t>(Rows.size()) - 1) * RowLength;
    }
    DatedRow* row = &Rows[static_cast<size_t>(RowsInUse)];
    row->Year = LastYear = year;
    row->Month = LastMonth = month;
    row->Day = LastDay = day;
    row->Hour = LastHour = hour;
    ValuesInRow = 0;
    return row;
}

void zonalstatistic::AppendValue(DatedRow* row, double value) {
    if (ValuesInRow >= ValuesPerRow) return;
    ++ValuesInRow;
    row->Values[ValuesInRow] = value;
    CurrentValues[static_cast<size_t>(ValuesInRow)] = value;
}

void zonalstatistic::CloseStep(int64_t year, int64_t month, int64_t day, int64_t hour) {
    if (!IsOn()) return;
    FoldRows();
    const bool accumulating = Interval >= 2;
    if (accumulating) AddAccumulators(0);

    // A step counter past the interval (a step opened twice) still ends the
    // interval instead of never writing again.
    const bool due = Interval > 0 && StepCounter >= Interval;
    DatedRow* row = due ? BeginRow(year, month, day, hour) : nullptr;

    double valueSum = 0, areaSum = 0;
    int nextListed = 1;
    for (int i = 1; i <= ZoneCount; ++i) {
        const ZoneRecord& zone = Zones[i];
        // A zone whose cells all carry zero weight has no mean: it shows 0.
        const double value = (zone.n > 0 && zone.RelCellSum != 0) ? zone.sx / zone.RelCellSum : 0.0;
        valueSum += zone.sx;
        areaSum += zone.RelCellSum;
        if (!due) continue;
        if (HasAllZoneColumns()) {
            AppendValue(row, value);
        } else if (HasListedZoneColumns() && nextListed <= ListedCount && ListedRanks[nextListed] == i) {
            AppendValue(row, value);
            ++nextListed;
        }
    }
    const double total = areaSum > 0 ? valueSum / areaSum : 0.0;

    if (accumulating) SaveAccumulators();
    if (!due) return;
    AppendValue(row, total);
    if (accumulating) ClearAccumulators();
    StepCounter = 0;
    if (RowsInUse >= Capacity) Flush();
}

void zonalstatistic::Flush() {
    if (!IsOn() || RowsInUse == 0) return;
    std::string text;
    text.reserve(static_cast<size_t>(RowsInUse * (16 + ValuesPerRow * 12)));
    for (int64_t r = 1; r <= RowsInUse; ++r) {
        const DatedRow& row = Rows[static_cast<size_t>(r)];
        AppendFormat(text, "%2" PRId64 "\t%2" PRId64 "\t%2" PRId64 "\t%2" PRId64, row.Year, row.Month, row.Day,
                     row.Hour);
        for (int64_t j = 1; j <= ValuesPerRow; ++j) {
            if (Precision <= 98) {
                AppendFormat(text, "\t%.*f", Precision, row.Values[j]);
            } else {
                AppendFormat(text, "\t%.6g", row.Values[j]);
            }
        }
        text += '\n';
    }
    {
        CtrlCIgnored quiet;
        if (Writer) *Writer << "write " << FileName;
        Open("a+");
        WriteText(text);
        CloseFile();
        if (Writer)
            *Writer << "(" << static_cast<long long>((BufferValuesPerRow * 8 + 32) * RowsInUse) << " of "
                    << static_cast<long long>(BufferBytes) << " buffer-bytes)" << "[end-entry]";
    }
    ArmCtrlCHandler();
    RowsInUse = 0;
    ValuesInRow = 0;
}

void zonalstatistic::ReleaseBuffers() {
    Rows.clear();
    Rows.shrink_to_fit();
    RowValues.reset();
    CurrentValues = {};
    ReaderSums = {};
    AreaFractions = {};
    NameText = {};
    ColumnCodes = {};
    ListedRanks = {};
    AccSx = {};
    AccN = {};
    AccRelCellSum = {};
    RowSums.Resize(0, -1);
    ValueCount = 0;
    RowsInUse = 0;
    ValuesInRow = 0;
}

void zonalstatistic::Close() {
    if (!IsOn()) return;
    if (RowsInUse > 0 && Ready) Flush();
    // No reader of the table may follow the arrays freed below.
    ClearEntry(Table, TableIndex, CurrentValues.data());
    Table = nullptr;
    TableIndex = -1;
    ReleaseBuffers();
    TurnOff();
}
