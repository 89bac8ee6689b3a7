// Travel-time zones of surface routing: the zones of every subbasin from
// "flow_times", the sums of every sub-step, the shift at the start of a step
// and the outlet runoff through the two linear storages into `Qg`.

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <exception>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/tracer_info.h"
#include "framework/zonalstatistic.h"
#include "framework/zonetable.h"
#include "lateral/surfrout.h"

namespace {

std::pair<int32_t, int32_t> ColumnRange(const RowExtent* extents, int32_t row, int32_t ncols) {
    if (!extents) return {1, ncols};
    return {std::max<int32_t>(1, extents[row].first), std::min<int32_t>(ncols, extents[row].last)};
}

// Zone of a "flow_times" value: its integer part; a value below 1 (a travel
// time of 0, nodata) counts as zone 1.
int ZoneOfValue(double value) {
    if (!(value >= 1)) return 1;
    if (value > unsatzon::MaxFlowTimeZones + 1.0) return unsatzon::MaxFlowTimeZones + 1;
    return static_cast<int>(value);
}

void SetRecord(zonalstatistic* statistic, int j, double value) {
    if (!statistic || !statistic->GetZones()) return;
    ZoneRecord& record = statistic->GetZones()[j];
    record.n = record.rel;
    record.RelCellSum = record.rel;
    record.sx = value * record.rel;
}

}  // namespace

double surfaceroutingclass::CellWeight(int32_t row, int32_t col) const {
    if (!RelCellArea) return 1.0;
    const double w = RelCellArea[row][col];
    return w > -9999 ? w : 1.0;
}

int surfaceroutingclass::ZoneOfCell(int32_t row, int32_t col, int subbasin) const {
    if (!FlowTimes) return 1;
    const int z = ZoneOfValue(FlowTimes[row][col]);
    const int last = static_cast<int>(maxzeit[static_cast<size_t>(subbasin)]);
    return std::min(z, std::max(1, last));
}

void surfaceroutingclass::InitFlowTimeZones() {
    if (Writer) *Writer << "looking for longest flow travel time" << "[end-entry]";
    const int n = Settings.Zones ? Settings.ZoneCount : 0;
    const int t = std::max(TracerCount, 0);
    maxzeit.assign(static_cast<size_t>(n) + 1, 0.0);
    std::string flowTimeFile;
    if (FlowTimes) {
        const int entry = FindGrid("flow_times");
        if (entry > 0) flowTimeFile = GridTable[entry].FileName;
    }
    for (int32_t i = 1; i <= NRows && FlowTimes; ++i) {
        const auto [first, last] = ColumnRange(RowExtents, i, NCols);
        for (int32_t j = first; j <= last; ++j) {
            if (!IsModelCell(i, j)) continue;
            const int s = ZoneRankOfCell(i, j);
            if (s < 1) continue;
            const int z = ZoneOfValue(FlowTimes[i][j]);
            if (z > unsatzon::MaxFlowTimeZones) {
                if (Writer) {
                    *Writer << "FATAL: the flow travel time zone " << FlowTimes[i][j] << " in " << flowTimeFile
                            << " (row " << i << ", column " << j << ") is beyond " << unsatzon::MaxFlowTimeZones
                            << " zones" << "[end-entry]";
                }
                throw 22;
            }
            maxzeit[static_cast<size_t>(s)] = std::max(maxzeit[static_cast<size_t>(s)], static_cast<double>(z));
        }
    }
    std::vector<int> zones(static_cast<size_t>(n) + 1, 1);
    for (int s = 1; s <= n; ++s) {
        if (!FlowTimes) maxzeit[static_cast<size_t>(s)] = 1;
        zones[static_cast<size_t>(s)] = std::max(1, static_cast<int>(maxzeit[static_cast<size_t>(s)]));
    }
    zoneFZT_QD.Allocate(zones, t);
    zoneFZT_QI.Allocate(zones, t);
    const std::string logName = "modell_" + std::to_string(ProcessNumber) + ".log";

    if (!FlowTimes) {
        for (int k = 0; k <= t; ++k)
            for (int s = 1; s <= n; ++s)
                for (unsatzon::FlowTimeQueues* q : {&zoneFZT_QD, &zoneFZT_QI}) q->Zones(k, s)[1].rel = 1;
        if (ProcessNumber == 0) {
            if (FILE* log = std::fopen(logName.c_str(), "a")) {
                std::fputs("flow time distribution will not be calculated (no flow time grid provided)\n", log);
                std::fclose(log);
            } else if (Writer) {
                *Writer << "WARNING: log-file " << logName << " could not be opened" << "[end-entry]";
            }
        }
    } else {
        std::string dots;
        for (int32_t i = 1; i <= NRows; ++i) {
            const auto [first, last] = ColumnRange(RowExtents, i, NCols);
            for (int32_t j = first; j <= last; ++j) {
                if (!IsModelCell(i, j)) continue;
                const int s = ZoneRankOfCell(i, j);
                if (s < 1) continue;
                const int z = ZoneOfCell(i, j, s);
                const double w = CellWeight(i, j);
                for (unsatzon::FlowTimeQueues* q : {&zoneFZT_QD, &zoneFZT_QI}) {
                    q->Zones(0, s)[z].n += w;
                    q->Zones(0, s)[z].RelCellSum += w;
                }
            }
            dots += ".";
        }
        if (Writer) *Writer << dots << "[end-entry]";
        FILE* log = nullptr;
        if (ProcessNumber == 0) {
            log = std::fopen(logName.c_str(), "a");
            if (!log && Writer) *Writer << "WARNING:warning: error opening log-file " << logName << "[end-entry]";
            if (log) std::fputs("Flow time distribution:\n", log);
        }
        auto fail = [&](const std::string& text, int code) {
            if (log) std::fclose(log);
            if (Writer) *Writer << text << "[end-entry]";
            throw code;
        };
        for (int s = 1; s <= n; ++s) {
            const int count = zones[static_cast<size_t>(s)];
            const int code = static_cast<int>(Settings.Zones[s].zonenwert);
            if (log) std::fprintf(log, "TG\t%4d\t(%3d\tZonen):", code, count);
            double o = 0;
            const unsatzon::FlowTimeZone* water = zoneFZT_QD.Zones(0, s);
            for (int z = 1; z <= count; ++z) o += water[z].n;
            if (!(maxzeit[static_cast<size_t>(s)] >= 1) || o == 0) {
                fail("FATAL: all cells in " + flowTimeFile + ", subbasin " + std::to_string(code) + " are NODATA!", 6);
            }
            for (int z = 1; z <= count; ++z) {
                const double rel = zoneFZT_QD.Zones(0, s)[z].n / o;
                for (int k = 0; k <= t; ++k) {
                    for (unsatzon::FlowTimeQueues* q : {&zoneFZT_QD, &zoneFZT_QI}) {
                        q->Zones(k, s)[z].rel = rel;
                        q->Zones(k, s)[z].zonenwert = z;
                    }
                }
                if (log) std::fprintf(log, "\t%5.3f", rel);
                if (z == 1 && rel <= 0) {
                    fail("FATAL: in flow-travel-time grid: the first time zone of subbasin " + std::to_string(s) +
                             " has no cells!",
                         61);
                }
                zoneFZT_QD.Zones(0, s)[z].n = 0;
            }
            if (log) std::fputs("\n", log);
        }
        if (log) std::fclose(log);
    }
    // The weights of the cells whose water has not yet reached a zone stand
    // in for it at a cold start; every sub-step adds them once.
    for (int s = 1; s <= n; ++s) {
        zoneFZT_QD.Zones(0, s)[1].zonenwert = 1;
        zoneFZT_QI.Zones(0, s)[1].zonenwert = 1;
        unsatzon::PrefillQueue(zoneFZT_QD.Zones(0, s), zones[static_cast<size_t>(s)], std::max(1, SubSteps));
        unsatzon::PrefillQueue(zoneFZT_QI.Zones(0, s), zones[static_cast<size_t>(s)], std::max(1, SubSteps));
    }
}

int surfaceroutingclass::KeyOfCell(int32_t row, int32_t col) const {
    if (!IsModelCell(row, col)) return 0;
    const int s = ZoneRankOfCell(row, col);
    if (s < 1 || s + 1 >= static_cast<int>(ZoneCells.KeyBase.size())) return 0;
    return ZoneCells.KeyBase[static_cast<size_t>(s)] + ZoneOfCell(row, col, s);
}

void surfaceroutingclass::PrepareZoneCells() {
    const int n = Settings.Zones ? Settings.ZoneCount : 0;
    std::vector<int>& base = ZoneCells.KeyBase;
    const size_t size = static_cast<size_t>(n) + 2;
    bool same = base.size() == size;
    if (!same) base.assign(size, 0);
    int keys = 0;
    for (int s = 1; s <= n; ++s) {
        same = same && base[static_cast<size_t>(s)] == keys;
        base[static_cast<size_t>(s)] = keys;
        const double last = static_cast<size_t>(s) < maxzeit.size() ? maxzeit[static_cast<size_t>(s)] : 1.0;
        keys += std::max(1, static_cast<int>(last));
    }
    same = same && base[size - 1] == keys;
    base[size - 1] = keys;
    const size_t cells = static_cast<size_t>(std::max(NRows, 0)) * static_cast<size_t>(std::max(NCols, 0));
    if (ZoneCells.CellKey.size() != cells) {
        ZoneCells.CellKey.assign(cells, 0);
        same = false;
    }
    if (!same) ZoneCells.Built = false;
    ZoneCells.RowChanged.assign(static_cast<size_t>(std::max(NRows, 0)) + 1, 0);
    ZoneSumFailures.assign(ZoneCells.Tasks.size(), nullptr);
}

void surfaceroutingclass::CloseCellsRow(int32_t i) {
    const auto [first, last] = ColumnRange(RowExtents, i, NCols);
    int* noted = ZoneCells.CellKey.data() + static_cast<size_t>(i - 1) * static_cast<size_t>(NCols) - 1;
    bool changed = false;
    for (int32_t j = first; j <= last; ++j) {
        const int key = KeyOfCell(i, j);
        if (noted[j] != key) {
            noted[j] = key;
            changed = true;
        }
        if (!IsModelCell(i, j)) continue;
        for (int k = 1; k <= TracerCount; ++k) {
            double& c = TracerStorage[static_cast<size_t>(k)].StorageGrid[i][j];
            TracerSurface[static_cast<size_t>(k)][i][j] = c;
            c = 0;
        }
        if (IsRiverCell(i, j)) {
            const double direct = DirectFlow[i][j];
            for (int k = 1; k <= TracerCount; ++k) {
                double& qd = TracerQD[static_cast<size_t>(k)][i][j];
                qd = direct > 0 ? qd / direct : 0.0;
            }
        }
    }
    ZoneCells.RowChanged[static_cast<size_t>(i)] = changed;
}

// Sorts the cells by key and by subbasin, each in row order, and cuts the
// keys into groups of about the same number of cells.
void surfaceroutingclass::BuildZoneCells() {
    ZoneCellLists& lists = ZoneCells;
    const int n = static_cast<int>(lists.KeyBase.size()) - 2;
    const int keys = lists.KeyBase.back();
    lists.KeyStart.assign(static_cast<size_t>(keys) + 1, 0);
    lists.SubbasinStart.assign(static_cast<size_t>(n) + 2, 0);
    std::vector<int> subbasinOfKey(static_cast<size_t>(keys), 0);
    for (int s = 1; s <= n; ++s)
        for (int key = lists.KeyBase[static_cast<size_t>(s)]; key < lists.KeyBase[static_cast<size_t>(s) + 1]; ++key)
            subbasinOfKey[static_cast<size_t>(key)] = s;
    auto forEachCell = [&](auto visit) {
        for (int32_t i = 1; i <= NRows; ++i) {
            const auto [first, last] = ColumnRange(RowExtents, i, NCols);
            const int* noted = lists.CellKey.data() + static_cast<size_t>(i - 1) * static_cast<size_t>(NCols) - 1;
            for (int32_t j = first; j <= last; ++j)
                if (noted[j] > 0) visit(i, j, noted[j] - 1);
        }
    };
    forEachCell([&](int32_t, int32_t, int key) {
        ++lists.KeyStart[static_cast<size_t>(key) + 1];
        ++lists.SubbasinStart[static_cast<size_t>(subbasinOfKey[static_cast<size_t>(key)]) + 1];
    });
    for (size_t k = 1; k < lists.KeyStart.size(); ++k) lists.KeyStart[k] += lists.KeyStart[k - 1];
    for (size_t s = 1; s < lists.SubbasinStart.size(); ++s) lists.SubbasinStart[s] += lists.SubbasinStart[s - 1];
    const size_t total = lists.KeyStart.back();
    lists.KeyCells.assign(total, ZoneCell{});
    lists.SubbasinCells.assign(total, ZoneCell{});
    std::vector<size_t> keyNext(lists.KeyStart.begin(), lists.KeyStart.end() - 1);
    std::vector<size_t> subbasinNext(lists.SubbasinStart.begin(), lists.SubbasinStart.end() - 1);
    forEachCell([&](int32_t i, int32_t j, int key) {
        lists.KeyCells[keyNext[static_cast<size_t>(key)]++] = ZoneCell{i, j};
        const int s = subbasinOfKey[static_cast<size_t>(key)];
        lists.SubbasinCells[subbasinNext[static_cast<size_t>(s)]++] = ZoneCell{i, j};
    });

    // The storage statistic of a subbasin is one long chain: those go first,
    // the largest first, while the zones fill the other threads.
    lists.Tasks.clear();
    for (int s = 1; s <= n; ++s)
        if (lists.SubbasinStart[static_cast<size_t>(s) + 1] > lists.SubbasinStart[static_cast<size_t>(s)])
            lists.Tasks.push_back(ZoneSumTask{s, 0, 0});
    auto cellsOf = [&](const ZoneSumTask& task) {
        return lists.SubbasinStart[static_cast<size_t>(task.Subbasin) + 1] -
               lists.SubbasinStart[static_cast<size_t>(task.Subbasin)];
    };
    std::stable_sort(lists.Tasks.begin(), lists.Tasks.end(),
                     [&](const ZoneSumTask& a, const ZoneSumTask& b) { return cellsOf(a) > cellsOf(b); });
    const size_t target = std::max<size_t>(512, total / 64);
    int begin = 0;
    while (begin < keys) {
        int end = begin;
        size_t cells = 0;
        while (end < keys && cells < target) {
            cells += lists.KeyStart[static_cast<size_t>(end) + 1] - lists.KeyStart[static_cast<size_t>(end)];
            ++end;
        }
        if (cells > 0) lists.Tasks.push_back(ZoneSumTask{0, begin, end});
        begin = end;
    }
    lists.KeySubbasin = std::move(subbasinOfKey);
    lists.Built = true;
    std::fill(lists.RowChanged.begin(), lists.RowChanged.end(), 0);
    ZoneSumFailures.assign(lists.Tasks.size(), nullptr);
}

bool surfaceroutingclass::ZoneCellsCurrent() const {
    if (!ZoneCells.Built) return false;
    for (const char row : ZoneCells.RowChanged)
        if (row != 0) return false;
    return true;
}

// Every zone of the queues belongs to one key and the storage statistic's
// record of a subbasin to one task, so the groups run side by side; each adds
// its cells in row order.
void surfaceroutingclass::AddZoneSumsInTeam() {
    const std::vector<ZoneSumTask>& tasks = ZoneCells.Tasks;
    const int count = static_cast<int>(tasks.size());
    const double nsub = std::max(1, SubSteps);
#pragma omp for schedule(dynamic, 1)
    for (int t = 0; t < count; ++t) {
        const ZoneSumTask& task = tasks[static_cast<size_t>(t)];
        try {
            if (task.Subbasin > 0) {
                AddStorageStatistic(task.Subbasin);
            } else {
                for (int key = task.FirstKey; key < task.EndKey; ++key) AddKeyZoneSums(key, nsub);
            }
        } catch (...) {
            ZoneSumFailures[static_cast<size_t>(t)] = std::current_exception();
        }
    }
}

void surfaceroutingclass::RethrowZoneSumFailure() {
    for (std::exception_ptr& failure : ZoneSumFailures) {
        if (!failure) continue;
        const std::exception_ptr first = failure;
        ZoneSumFailures.assign(ZoneSumFailures.size(), nullptr);
        std::rethrow_exception(first);
    }
}

void surfaceroutingclass::AddStorageStatistic(int s) {
    if (!Stats[4]) return;
    const ZoneCellLists& lists = ZoneCells;
    const size_t end = lists.SubbasinStart[static_cast<size_t>(s) + 1];
    for (size_t at = lists.SubbasinStart[static_cast<size_t>(s)]; at < end; ++at) {
        const ZoneCell cell = lists.SubbasinCells[at];
        Stats[4]->AddValue(cell.Row, cell.Col, s, Surface[cell.Row][cell.Col], 1);
    }
}

void surfaceroutingclass::AddKeyZoneSums(int key, double nsub) {
    const ZoneCellLists& lists = ZoneCells;
    const int s = lists.KeySubbasin[static_cast<size_t>(key)];
    const int z = key - lists.KeyBase[static_cast<size_t>(s)] + 1;
    unsatzon::FlowTimeZone& d = zoneFZT_QD.Zones(0, s)[z];
    unsatzon::FlowTimeZone& f = zoneFZT_QI.Zones(0, s)[z];
    const size_t end = lists.KeyStart[static_cast<size_t>(key) + 1];
    for (size_t at = lists.KeyStart[static_cast<size_t>(key)]; at < end; ++at) {
        const int32_t i = lists.KeyCells[at].Row, j = lists.KeyCells[at].Col;
        const bool river = IsRiverCell(i, j);
        const double direct = DirectFlow[i][j];
        const double w = CellWeight(i, j);
        if (river) d.sx += w * direct * nsub;
        d.n += 1;
        d.RelCellSum += w;
        // "interflow" is the water of the sub-step as "directflow" is.
        f.sx += w * InterFlow[i][j] * nsub;
        f.n += 1;
        f.RelCellSum += w;
        for (int k = 1; k <= TracerCount; ++k) {
            const bool evaporating = Tracers && Tracers[k].evaporating;
            if (river) {
                // The load handed to the river: its concentration times
                // the water that carried it, whatever kind of tracer, so
                // that sx / RelCellSum is the concentration of the water.
                unsatzon::FlowTimeZone& dk = zoneFZT_QD.Zones(k, s)[z];
                dk.sx += w * TracerQD[static_cast<size_t>(k)][i][j] * direct;
                dk.n += direct;
                dk.RelCellSum += w * direct;
            }
            unsatzon::FlowTimeZone& ik = zoneFZT_QI.Zones(k, s)[z];
            const double inter = InterFlow[i][j];
            ik.sx += w * TracerQI[static_cast<size_t>(k)][i][j] * (evaporating ? inter : 1.0);
            ik.n += inter;
            ik.RelCellSum += w * inter;
        }
    }
}

void surfaceroutingclass::BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    teilmodellklasse::RunTimeStep(hour, day, month, year);
    if (Method == 0) return;
    for (zonalstatistic* s : Stats)
        if (s) s->ResetStep();
    for (size_t k = 1; k < TracerStorage.size(); ++k)
        if (TracerStorage[k].Statistics) TracerStorage[k].Statistics->ResetStep();
    zoneFZT_QD.Advance();
    zoneFZT_QI.Advance();
    NetInflow.assign(static_cast<size_t>(NRows + 2) * static_cast<size_t>(NCols + 2), 0.0);
}

void surfaceroutingclass::RouteZonesToSubbasins(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    const int n = Settings.Zones ? Settings.ZoneCount : 0;
    const int t = std::max(TracerCount, 0);
    double** qd = QD.Rows();
    double** qdd = QDd.Rows();
    double** qi = QI.Rows();
    double** qii = QIi.Rows();
    double** qg = Qg.Rows();
    auto route = [&](unsatzon::FlowTimeQueues& queue, double** arriving, double** storage, const double* k,
                     int j) {
        for (int i = 0; i <= t; ++i) arriving[i][j] = unsatzon::OutletValue(queue.Zones(i, j)[1]);
        const double recession = k ? k[j] : 0.0;
        const double B = std::exp(-TimeInterval / recession);
        const double q = arriving[0][j] * (1 - B) + B * storage[0][j];
        for (int i = 1; i <= t; ++i) {
            storage[i][j] = q > 0 ? (arriving[0][j] * arriving[i][j] * (1 - B) + storage[0][j] * storage[i][j] * B) / q
                                  : 0.0;
        }
        storage[0][j] = q;
    };
    for (int j = 1; j <= n; ++j) {
        route(zoneFZT_QD, qd, qdd, Kelsqd, j);
        route(zoneFZT_QI, qi, qii, Kelsqi, j);
        const double base = QBb ? QBb[0][j] : 0.0;
        // The glacier runoff of the step leaves with the subbasin's runoff.
        double glacier = 0;
        if (GlacierRunoff && GlacierRunoff[0]) {
            glacier = GlacierRunoff[0][j];
            GlacierRunoff[0][j] = 0;
        }
        qg[0][j] = qdd[0][j] + qii[0][j] + base + glacier;
        SetRecord(Stats[0], j, qdd[0][j]);
        SetRecord(Stats[1], j, qii[0][j]);
        SetRecord(Stats[2], j, base);
        SetRecord(Stats[3], j, qg[0][j]);
    }
    for (int s : {0, 1, 3, 2, 4})
        if (Stats[s]) Stats[s]->CloseStep(year, month, day, hour);
    for (int k = 1; k <= t; ++k) {
        for (int j = 1; j <= n; ++j) {
            const double b = QBb ? QBb[0][j] : 0.0, bk = QBb ? QBb[k][j] : 0.0;
            const double W = b + qii[0][j] + qdd[0][j];
            qg[k][j] = W > 0 ? (b * bk + qii[0][j] * qii[k][j] + qdd[0][j] * qdd[k][j]) / W : 0.0;
            if (TracerStorage[static_cast<size_t>(k)].Statistics && TracerStorage[static_cast<size_t>(k)].Statistics->GetZones()) {
                ZoneRecord& r = TracerStorage[static_cast<size_t>(k)].Statistics->GetZones()[j];
                r.sx = qg[k][j];
                r.n = 1;
                r.RelCellSum = 1;
            }
        }
        if (TracerStorage[static_cast<size_t>(k)].Statistics)
            TracerStorage[static_cast<size_t>(k)].Statistics->CloseStep(year, month, day, hour);
        if (const int entry = TracerSurfaceEntry[static_cast<size_t>(k)]; entry > 0) {
            WriteGridByCode(entry, false, false);
        } else {
            // The own storage grid is read back at a warm start; an own
            // surface-water grid shares its file and is written instead.
            if (const int own = TracerStorage[static_cast<size_t>(k)].StorageGridIndex; own > 0)
                WriteGridByCode(own, false, false);
        }
        // The silting-up model's storage concentration was last set above
        // (end of the step): it is written here, by its own write code.
        if (const int shared = TracerSharedEntry[static_cast<size_t>(k)]; shared > 0)
            WriteGridByCode(shared, true, false);
    }
    if (const int v = FindGrid("SurfaceRoutingVelocity"); v > 0) WriteStackByCode(v);
    if (const int f = FindGrid("SurfaceRoutingFluxes"); f > 0) WriteStackByCode(f);
}
