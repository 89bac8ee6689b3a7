// Construction of the routing model: the section's settings, the exchange
// tables, the routed-discharge statistics and the flow arrays. The routing
// descriptions themselves are read in abfluss_descriptions.cpp.

#include <cmath>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/routstatistic.h"
#include "routing/abfluss.h"
#include "routing/routing_text.h"

namespace {

// The most time sub-intervals of one routing step.
constexpr int MaxSubIntervals = 1000;

}  // namespace

void SubIntervalFlowArray::Allocate(int tracers, int subIntervals, int entries) {
    const size_t t = static_cast<size_t>(tracers), s = static_cast<size_t>(subIntervals + 1),
                 n = static_cast<size_t>(entries);
    Block.assign(t * s * n, 0.0);
    Intervals.assign(t * s, nullptr);
    Tracers.assign(t, nullptr);
    for (size_t i = 0; i < t * s; ++i) Intervals[i] = Block.data() + i * n;
    for (size_t i = 0; i < t; ++i) Tracers[i] = Intervals.data() + i * s;
}

void SubIntervalFlowArray::Release() { *this = SubIntervalFlowArray{}; }

abflussmodellklasse::abflussmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                         int statisticsTableSize, const std::string& sectionName,
                                         const ModelSettings& settings, MemoryGrid* gridTable,
                                         const SubbasinTable& subbasins, int tracerCount, TracerInfo* tracers,
                                         int soilReadCode)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize),
      Subbasins(subbasins),
      RoutingTracerCount(tracerCount > 0 ? tracerCount : 0),
      RoutingTracers(tracers),
      SoilReadCode(soilReadCode) {
    *status = 0;
    if (Method == 0) return;
    try {
        Construct();
        if (RoutingTracers && RoutingTracerCount > 0) {
            int tracerStatus = 0;
            InitTracers(&tracerStatus, RoutingTracerCount, RoutingTracers, StatisticsTable, StatisticsTableSize);
            if (tracerStatus != 0) throw tracerStatus;
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
    if (*status != 0 && ControlFile) {
        std::fclose(ControlFile);
        ControlFile = nullptr;
    }
}

abflussmodellklasse::~abflussmodellklasse() { ReleaseAll(false); }

void abflussmodellklasse::Construct() {
    if (Writer) {
        *Writer << "file "
                << "abfluss"
                << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    }
    Substitution = Method == 2 ? 1 : 0;
    const int n = Subbasins.Count > 0 ? Subbasins.Count : 0;
    TargetList.assign(static_cast<size_t>(2 * n + 1), 0);
    TargetOfSubbasin.assign(static_cast<size_t>(n + 1), 0);
    DescriptionOfOutlet.assign(static_cast<size_t>(n + 1), 0);
    TargetRows[0] = TargetList.data();
    TargetRows[1] = TargetOfSubbasin.data();
    TargetRows[2] = DescriptionOfOutlet.data();
    // Area fractions from the subbasin table (entry 0: the total area),
    // area factors 1.
    Abfrel.Allocate(2, n + 1);
    double** abfrel = Abfrel.Rows();
    for (int i = 0; i <= n; ++i) {
        abfrel[0][i] = Subbasins.Records ? Subbasins.Records[i].rel : 0.0;
        abfrel[1][i] = 1.0;
    }
    GaugeColumns.assign(static_cast<size_t>(n + 1), 0);
    GridReadMode = SoilReadCode;

    ReadSettings();
    CountDescriptions();
    // The tracer statistics of the routing are set up with the routing step.
    MaxIrrig.Allocate(RoutingTracerCount + 1, n + 1);
    MaxIrrigFromReservoirs.Allocate(RoutingTracerCount + 1, n + 1);
    FurtherPerSubbasin.Allocate(1, n + 1);
    Descriptions.clear();
    Descriptions.resize(static_cast<size_t>(DescriptionCount + 1));
    ReadLakeModel("[lake_model]");

    PrecOnLakesIndex = FindFreeGridEntry(GridTable);
    if (PrecOnLakesIndex < FirstGridIndex || PrecOnLakesIndex > LastGridIndex) {
        PrecOnLakesIndex = 0;
        if (Writer) *Writer << "FATAL: no more free grids in memory, (max. " << 1000 << ")!" << "[end-entry]";
        throw 12;
    }
    PrecOnLakes = matrix(1, NRows, 1, NCols, NRows);
    for (int r = 1; r <= NRows; ++r)
        for (int c = 1; c <= NCols; ++c)
            if (ZoneGrid && ZoneGrid[r][c] == NoData) PrecOnLakes[r][c] = NoData;
    StoreGrid(PrecOnLakesIndex, "PrecOnLakes", PrecOnLakes, nullptr, 1, "PrecOnLakes", 0, 1, NRows);

    EfficiencyPlain.assign(static_cast<size_t>(21 * (n + 1) * 6), 0.0);
    EfficiencyLog.assign(EfficiencyPlain.size(), 0.0);
    BuildDescriptions();

    for (int k = 1; k <= DescriptionCount; ++k) {
        Descriptions[static_cast<size_t>(k)]->InitReservoirs(ControlFile);
        Descriptions[static_cast<size_t>(k)]->InitAbstractionRules(ControlFile);
    }
    for (int k = 1; k <= DescriptionCount; ++k) {
        routingclass& d = *Descriptions[static_cast<size_t>(k)];
        d.CheckSubbasinAreas();
        d.WriteWQTables();
        d.SetMaxIrrigTables(MaxIrrig.Rows(), MaxIrrigFromReservoirs.Rows());
    }
    CreateTablesAndStatistics();
    SetUpObservedDischarge();
    CloseControlFile();
}

void abflussmodellklasse::ReadSettings() {
    FILE* f = ControlFile;
    double qMin = 0, qMax = 0, intervals = 0, subIntervals = 0;
    ReadRestOfLine(f, &LineBuffer);
    {
        // Four whole numbers; the rest of the line is a comment.
        size_t at = 0;
        const bool read = routingtext::ReadWholeNumber(LineBuffer, at, qMin) &&
                          routingtext::ReadWholeNumber(LineBuffer, at, qMax) &&
                          routingtext::ReadWholeNumber(LineBuffer, at, intervals) &&
                          routingtext::ReadWholeNumber(LineBuffer, at, subIntervals);
        // Every table row takes logarithms of both bounds and the channel
        // step divides by the intervals: the bounds must be ordered and
        // positive.
        const bool usable = read && qMin > 0 && qMax > qMin && intervals >= 1 && intervals < 1e6 &&
                            subIntervals == std::floor(subIntervals);
        if (!usable) {
            if (Writer) {
                *Writer << "FATAL: values for min/max specific discharge and/or discharge and time interval "
                           "splitting   \nnot found in control file"
                        << "[end-entry]";
            }
            throw 17;
        }
        // Every channel holds its storage elements per sub-interval and
        // every step loops over them: at most MaxSubIntervals.
        if (!(subIntervals >= 1 && subIntervals <= MaxSubIntervals)) {
            if (Writer) {
                *Writer << "FATAL: the number of time sub-intervals per routing step " << routingtext::NumberText(subIntervals)
                        << " in line 3 of [routing_model] in " << ControlFilePath << " lies outside 1 to "
                        << MaxSubIntervals << "[end-entry]";
            }
            throw 17;
        }
    }
    QMinSpecific = qMin;
    QMaxSpecific = qMax;
    WqIntervals = intervals;
    SubIntervals = static_cast<int>(subIntervals);

    if (!ReadWord(f, &QstatName)) ControlFileError("name of the Qstatfiles for ", ModuleName);
    ReadValue(f, "%d", &QstatCode, "name of the Qstatfiles for ", &LineBuffer);
    ReadValue(f, "%s", &ObservedFileName, "name of spec.discharge files for ", &LineBuffer);
    int descriptors = 0;
    ReadValue(f, "%d", &descriptors, "number column descriptors for", &LineBuffer);
    // A negative count would misplace the second pass over the descriptions.
    if (descriptors < 0) ControlFileError("number column descriptors for", ModuleName);
    DescriptorCount = descriptors;
    for (int j = 0; j < descriptors; ++j) {
        // Subbasin code and column, each a whole integer; the rest of the
        // line is a comment.
        int code = 0, column = 0;
        ReadRestOfLine(f, &LineBuffer);
        size_t at = 0;
        double value = 0;
        auto integer = [&](int& target) {
            if (!routingtext::ReadWholeNumber(LineBuffer, at, value) || value != std::floor(value) ||
                std::fabs(value) > 2147483647.0)
                return false;
            target = static_cast<int>(value);
            return true;
        };
        const std::string codeText = routingtext::TokenAt(LineBuffer, at);
        if (!integer(code)) {
            if (Writer) {
                *Writer << "FATAL: error reading a subbasin index for column indexing in routing model (\""
                        << codeText << "\" in descriptor " << j + 1 << " of " << ControlFilePath << ")"
                        << "[end-entry]";
            }
            throw 17;
        }
        const std::string columnText = routingtext::TokenAt(LineBuffer, at);
        if (!integer(column)) {
            if (Writer) {
                *Writer << "FATAL: error reading a column number for column indexing in routing model (\""
                        << columnText << "\" in descriptor " << j + 1 << " of " << ControlFilePath << ")"
                        << "[end-entry]";
            }
            throw 17;
        }
        // A code outside the code-to-rank table or a negative column is no
        // gauge.
        const int rank = SubbasinRank(code);
        if (rank > 0 && column >= 0) GaugeColumns[static_cast<size_t>(rank)] = column;
    }
    ReadValue(f, "%d", &RSquareOffset, "Zeitoffset fuer Beginn der R-square-Berechnung fuer ", &LineBuffer);
}

void abflussmodellklasse::CreateTablesAndStatistics() {
    const int n = Subbasins.Count > 0 ? Subbasins.Count : 0;
    int status = 0;
    if (Subbasins.Records) {
        RoutedRecords.assign(Subbasins.Records, Subbasins.Records + n + 1);
    } else {
        RoutedRecords.assign(static_cast<size_t>(n + 1), ZoneRecord{});
    }
    for (ZoneRecord& record : RoutedRecords) record.n = record.sx = 0;
    RoutedStatistics = std::make_unique<routstatistic>(
        &status, Writer, StatisticsTable, StatisticsTableSize, nullptr, 1, 1, RoutedRecords.data(), Abfrel.Rows()[0],
        n, QstatCode, 5, QstatName, OutputDirectory, Settings.OutputListCount, Settings.OutputListCodes);
    FindSection("[output_interval]", true);
    ReadRestOfLine(ControlFile, &LineBuffer);
    ReadRestOfLine(ControlFile, &LineBuffer);
    ReadValue(ControlFile, "%d", &OutputUnit, "output unit of routed discharge for ", &LineBuffer);
    if (status != 0) throw status;
    const char* title = OutputUnit == 0   ? "routed discharge [mm per subbasin] "
                        : OutputUnit == 1 ? "routed discharge [ m3 per sec ] "
                                          : "routed discharge (unknown measure)";
    ObservedStatisticsEntry = RoutedStatistics->WriteHeader(title, ModuleName, StatisticsTable, StatisticsTableSize);

    const int entries = n + Totals.ZL + 1;
    StorageElements.assign(static_cast<size_t>(RoutingTracerCount + 1),
                           std::vector<std::vector<double>>(static_cast<size_t>(entries)));
    SubIntervalFlows.Allocate(RoutingTracerCount + 1, SubIntervals, entries);
}


void abflussmodellklasse::SetOutputUnit(int unit) {
    if (Method != 0) OutputUnit = unit;
}

void abflussmodellklasse::ReleaseAll(bool teardown) {
    if (teardown) {
        for (auto& d : Descriptions)
            if (d) d->DeleteModule();
        if (RoutedStatistics) RoutedStatistics->Close();
    }
    Descriptions.clear();
    RoutedStatistics.reset();
    StepFlows.Release();
    SubIntervalFlows.Release();
    StorageElements.clear();
    EfficiencyPlain.clear();
    EfficiencyLog.clear();
    GaugeColumns.clear();
    MaxIrrig.Release();
    MaxIrrigFromReservoirs.Release();
    FurtherPerSubbasin.Release();
    Abfrel.Release();
    TargetList.clear();
    TargetOfSubbasin.clear();
    DescriptionOfOutlet.clear();
    TargetRows[0] = TargetRows[1] = TargetRows[2] = nullptr;
    if (PrecOnLakes) {
        if (PrecOnLakesIndex > 0 && GridTable) ReleaseGrid(PrecOnLakesIndex);
        free_matrix(PrecOnLakes, 1, NRows, 1, NCols);
        PrecOnLakes = nullptr;
        PrecOnLakesIndex = 0;
    }
}
