// The soil model's runoff per subbasin: set-up of the flow-time zones and the
// runoff tables, the begin of a step and the sums of a sub-step.

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/hru_cells.h"
#include "framework/invariant.h"
#include "framework/parallel_rows.h"
#include "setup/irrigation_table.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_runoff.h"

namespace {

// Columns of `row` that may hold model cells.
std::pair<int, int> ColumnsOf(const RowExtent* extents, int row, int cols) {
    if (!extents) return {1, cols};
    return {std::max(1, static_cast<int>(extents[row].first)), std::min(cols, static_cast<int>(extents[row].last))};
}

std::string LogName(int process) { return "modell_" + std::to_string(process) + ".log"; }

}  // namespace

int unsatzonmodellklasse::SubbasinRankOfCell(int row, int column) const {
    const double code = ZoneCodeOf(SubbasinGrid[row][column]);
    if (!(code >= 0 && code <= Subbasins.LargestCode)) return 0;
    return Subbasins.CodeToRank[static_cast<int>(code)];
}

double unsatzonmodellklasse::CellWeight(int row, int column) const {
    if (!RelCellArea) return 1.0;
    const double a = RelCellArea[row][column];
    return a > zonalstatistic::Missing ? a : 1.0;
}

double unsatzonmodellklasse::GlacierShare(int row, int column) const {
    if (!GlacierFraction) return 0.0;
    return std::clamp(GlacierFraction[row][column], 0.0, 1.0);
}

void unsatzonmodellklasse::InitFlowTimeZones() {
    if (Writer) *Writer << "looking for longest flow travel time" << "[end-entry]";
    const int n = Subbasins.Count;
    maxzeit.assign(static_cast<size_t>(n) + 1, 0.0);
    std::vector<int> zones(static_cast<size_t>(n) + 1, 0);
    std::vector<int64_t> timedCells(static_cast<size_t>(n) + 1, 0);
    MissingFlowTimeCells = 0;
    std::string flowTimeFile;
    if (!FlowTimes || !SubbasinGrid) {
        for (int s = 1; s <= n; ++s) zones[static_cast<size_t>(s)] = 1;
    } else {
        const int entry = FindGrid("flow_times");
        if (entry > 0) flowTimeFile = GridTable[entry].FileName;
        for (int r = 1; r <= NRows; ++r) {
            const auto [first, last] = ColumnsOf(RowExtents, r, NCols);
            for (int c = first; c <= last; ++c) {
                if (!OwnModelCell(r, c)) continue;
                const int s = SubbasinRankOfCell(r, c);
                if (s < 1) continue;
                bool missing = false;
                const int k = unsatzon::FlowTimeZoneIndex(FlowTimes[r][c], TimeInterval, NoData, &missing);
                if (k > unsatzon::MaxFlowTimeZones) {
                    if (Writer) {
                        *Writer << "FATAL: the flow travel time " << FlowTimes[r][c] << " s in " << flowTimeFile
                                << " (row " << r << ", column " << c << ") needs more than "
                                << unsatzon::MaxFlowTimeZones << " flow time zones" << "[end-entry]";
                    }
                    throw 22;
                }
                FlowTimes[r][c] = k;
                if (missing) {
                    ++MissingFlowTimeCells;
                } else {
                    ++timedCells[static_cast<size_t>(s)];
                }
                zones[static_cast<size_t>(s)] = std::max(zones[static_cast<size_t>(s)], k);
            }
        }
        if (MissingFlowTimeCells > 0 && Writer) {
            *Writer << "WARNING: " << MissingFlowTimeCells << " cells of the soil model have a negative or no "
                    << "flow travel time in " << flowTimeFile
                    << "; their runoff reaches the subbasin outlet in the step it is formed" << "[end-entry]";
        }
    }
    for (int s = 1; s <= n; ++s) maxzeit[static_cast<size_t>(s)] = zones[static_cast<size_t>(s)];
    // A subbasin without any cell keeps one zone, so that its queue exists.
    for (int s = 1; s <= n; ++s) zones[static_cast<size_t>(s)] = std::max(1, zones[static_cast<size_t>(s)]);
    const int tracers = TracerCount > 0 ? TracerCount : 0;
    zoneFZT_QD.Allocate(zones, tracers);
    zoneFZT_QI.Allocate(zones, tracers);

    const std::string logName = LogName(ProcessNumber);
    if (!FlowTimes || !SubbasinGrid) {
        for (int t = 0; t <= tracers; ++t) {
            for (int s = 1; s <= n; ++s) {
                for (unsatzon::FlowTimeQueues* q : {&zoneFZT_QD, &zoneFZT_QI}) {
                    q->Zones(t, s)[1].rel = 1;
                    q->Zones(t, s)[1].zonenwert = 1;
                }
            }
        }
        FILE* log = std::fopen(logName.c_str(), "a");
        if (log) {
            std::fputs("flow time distribution will not be calculated since no flow time grid was provided\n", log);
            std::fclose(log);
        } else if (Writer) {
            *Writer << "WARNING: log file " << logName << " could not be opened" << "[end-entry]";
        }
    } else {
        std::string dots;
        for (int r = 1; r <= NRows; ++r) {
            const auto [first, last] = ColumnsOf(RowExtents, r, NCols);
            for (int c = first; c <= last; ++c) {
                if (!OwnModelCell(r, c)) continue;
                const int s = SubbasinRankOfCell(r, c);
                if (s < 1) continue;
                const int k = static_cast<int>(FlowTimes[r][c]);
                const double w = CellWeight(r, c);
                for (unsatzon::FlowTimeQueues* q : {&zoneFZT_QD, &zoneFZT_QI}) {
                    q->Zones(0, s)[k].n += w;
                    q->Zones(0, s)[k].RelCellSum += w;
                }
            }
            dots += ".";
        }
        if (Writer) *Writer << dots << "[end-entry]";
        FILE* log = std::fopen(logName.c_str(), "a");
        if (log) {
            std::fputs("flow time distribution:\n", log);
        } else if (Writer) {
            *Writer << "WARNING: error opening log-file " << logName << "[end-entry]";
        }
        auto fail = [&](const std::string& text, int code) {
            if (log) std::fclose(log);
            if (Writer) *Writer << text << "[end-entry]";
            throw code;
        };
        for (int s = 1; s <= n; ++s) {
            const int code = static_cast<int>(Subbasins.Records[s].zonenwert);
            const int last = static_cast<int>(maxzeit[static_cast<size_t>(s)]);
            if (log) std::fprintf(log, "TG\t%4d\t(%3d\tZonen):", code, last);
            unsatzon::FlowTimeZone* d = zoneFZT_QD.Zones(0, s);
            unsatzon::FlowTimeZone* i = zoneFZT_QI.Zones(0, s);
            double total = 0;
            for (int k = 1; k <= last; ++k) total += d[k].n;
            if (last < 1 || total == 0 || timedCells[static_cast<size_t>(s)] == 0) {
                fail("FATAL: all cells in " + flowTimeFile + ", subbasin " + std::to_string(code) + " are NODATA!",
                     6);
            }
            for (int k = 1; k <= last; ++k) {
                d[k].rel = i[k].rel = d[k].n / total;
                d[k].zonenwert = i[k].zonenwert = k;
                if (log) std::fprintf(log, "\t%5.3f", d[k].rel);
                if (!(d[1].rel > 0)) {
                    fail("FATAL: in flow-travel-time grid: the first time zone of subbasin " + std::to_string(s) +
                             " has no cells!",
                         61);
                }
                d[k].n = 0;
            }
            for (int t = 1; t <= tracers; ++t) {
                for (unsatzon::FlowTimeQueues* q : {&zoneFZT_QD, &zoneFZT_QI}) {
                    unsatzon::FlowTimeZone* z = q->Zones(t, s);
                    for (int k = 1; k <= last; ++k) {
                        z[k].rel = d[k].rel;
                        z[k].zonenwert = k;
                    }
                }
            }
            if (log) std::fputs("\n", log);
        }
        if (log) std::fclose(log);
    }
    for (int s = 1; s <= n; ++s) {
        unsatzon::PrefillQueue(zoneFZT_QD.Zones(0, s), zoneFZT_QD.ZoneCount(s), SubSteps);
        unsatzon::PrefillQueue(zoneFZT_QI.Zones(0, s), zoneFZT_QI.ZoneCount(s), SubSteps);
    }
}

void unsatzonmodellklasse::InitRunoffTables(int tracers) {
    const int rows = (tracers > 0 ? tracers : 0) + 1;
    const int n = Subbasins.Count;
    const int columns = n + 1;
    for (ExchangeTable<double>* table : {&Qg, &QBb, &QD, &QDd, &QI, &QIi, &GlacierRunoff})
        table->Allocate(rows, columns);
    BaseflowSum.assign(static_cast<size_t>(columns), 0.0);
    BaseflowWeight.assign(static_cast<size_t>(columns), 0.0);
    BaseflowDeficit.assign(static_cast<size_t>(columns), 0.0);
    SubbasinCellWeight.assign(static_cast<size_t>(columns), 0.0);
    RiverExfiltration = GroundwaterActive == 1 ? OptionalGrid("river_exfiltration") : nullptr;
    RiverInfiltration = GroundwaterActive == 1 ? OptionalGrid("river_infiltration") : nullptr;

    // Initial baseflow: the baseflow law without a groundwater model, the
    // grid as it stands with one; its weighted mean per subbasin is the
    // first `Qg`.
    std::vector<double> sum(static_cast<size_t>(columns), 0.0), weight(static_cast<size_t>(columns), 0.0);
    // A model whose construction failed has no cells to start from.
    const int rowsToScan = SubbasinGrid && Baseflow && GroundwaterDistance ? NRows : 0;
    for (int r = 1; r <= rowsToScan; ++r) {
        const auto [first, last] = ColumnsOf(RowExtents, r, NCols);
        for (int c = first; c <= last; ++c) {
            if (!OwnModelCell(r, c)) continue;
            const int s = SubbasinRankOfCell(r, c);
            if (s < 1) continue;
            const size_t i = static_cast<size_t>(s);
            const double w = CellWeight(r, c);
            double o = Baseflow[r][c];
            if (GroundwaterActive != 1) {
                o = unsatzon::BaselineBaseflow(qbRedFaktor[i], GroundwaterDistance[r][c], kelsqlat[i]);
                Baseflow[r][c] = o;
            }
            sum[i] += o * w;
            weight[i] += w;
            SubbasinCellWeight[i] += w;
        }
    }
    double** qg = Qg.Rows();
    for (int s = 1; s <= n; ++s) {
        const size_t i = static_cast<size_t>(s);
        qg[0][s] = weight[i] != 0 ? sum[i] / weight[i] : 0.0;
    }
}

void unsatzonmodellklasse::PrepareHruCopy() {
    HruMasters.clear();
    if (!MasterHydrologicResponseUnits || !HydrologicResponseUnits || !SubbasinGrid) return;
    HruMasters = FindHruMasterCells(MasterHydrologicResponseUnits, NRows, NCols, NoData);
    // Every other cell of a unit copies its master: a unit without one is
    // refused here rather than left with a state of its own.
    for (int r = 1; r <= NRows; ++r) {
        for (int c = 1; c <= NCols; ++c) {
            if (!OwnModelCell(r, c) || MasterHydrologicResponseUnits[r][c] != NoData) continue;
            const double unit = HydrologicResponseUnits[r][c];
            const bool known = unit >= 1 && unit < static_cast<double>(HruMasters.size()) &&
                               unit == std::floor(unit) && HruMasters[static_cast<size_t>(unit)].first > 0;
            if (known) continue;
            if (Writer) {
                *Writer << "FATAL: the cell in row " << r << ", column " << c << " belongs to the hydrologic "
                        << "response unit " << unit << ", which has no master cell in MasterHydrologicResponseUnits"
                        << "[end-entry]";
            }
            throw 22;
        }
    }
}

RunoffTable unsatzonmodellklasse::GetQD() { return CheckedTable(QD, "QD"); }
RunoffTable unsatzonmodellklasse::GetQI() { return CheckedTable(QI, "QI"); }
RunoffTable unsatzonmodellklasse::GetGlacierRunoff() { return Method == 0 ? nullptr : GlacierRunoff.Rows(); }

void unsatzonmodellklasse::BeginTimeStepRunoff() {
    if (zoneFZT_QD.Allocated()) zoneFZT_QD.Advance();
    if (zoneFZT_QI.Allocated()) zoneFZT_QI.Advance();
    std::fill(BaseflowSum.begin(), BaseflowSum.end(), 0.0);
    std::fill(BaseflowWeight.begin(), BaseflowWeight.end(), 0.0);
    for (zonalstatistic* s : Statistics)
        if (s) s->ResetStep();
    for (SoilTracer& t : SoilTracers)
        if (t.Statistics) t.Statistics->ResetStep();
}

double unsatzonmodellklasse::StoredRunoff(int s) const {
    const double weight = SubbasinCellWeight.empty() ? 0.0 : SubbasinCellWeight[static_cast<size_t>(s)];
    double stored = 0;
    // A zone's water is spread over the weight it carries at the outlet:
    // every cell of the subbasin, S times.
    const double outletWeight = weight * (SubSteps > 0 ? SubSteps : 1);
    for (const unsatzon::FlowTimeQueues* q : {&zoneFZT_QD, &zoneFZT_QI}) {
        if (!q->Allocated() || outletWeight <= 0) continue;
        const unsatzon::FlowTimeZone* z = q->Zones(0, s);
        for (int k = 2; k <= q->ZoneCount(s); ++k) stored += z[k].sx / outletWeight;
    }
    const bool bypassed = SurfaceRoutingActive != 0;
    auto content = [&](const ExchangeTable<double>& table, const std::vector<double>& k) {
        const double* const* rows = table.Rows();
        if (!rows) return 0.0;
        const double m = unsatzon::StorageFactor(TimeInterval, k[static_cast<size_t>(s)], bypassed);
        return unsatzon::StorageContent(rows[0][s], m);
    };
    stored += content(QDd, kelsqd) + content(QIi, kelsqi);
    if (static_cast<size_t>(s) < BaseflowDeficit.size()) stored -= BaseflowDeficit[static_cast<size_t>(s)];
    return stored;
}
