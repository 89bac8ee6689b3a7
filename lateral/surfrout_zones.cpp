// Travel-time zones of surface routing: the zones of every subbasin from
// "flow_times", the sums of every sub-step, the shift at the start of a step
// and the outlet runoff through the two linear storages into `Qg`.

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
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

void surfaceroutingclass::AddZoneSums() {
    const double nsub = std::max(1, SubSteps);
    for (int32_t i = 1; i <= NRows; ++i) {
        const auto [first, last] = ColumnRange(RowExtents, i, NCols);
        for (int32_t j = first; j <= last; ++j) {
            if (!IsModelCell(i, j)) continue;
            for (int k = 1; k <= TracerCount; ++k) {
                double& c = TracerStorage[static_cast<size_t>(k)].StorageGrid[i][j];
                TracerSurface[static_cast<size_t>(k)][i][j] = c;
                c = 0;
            }
            const bool river = IsRiverCell(i, j);
            const double direct = DirectFlow[i][j];
            if (river) {
                for (int k = 1; k <= TracerCount; ++k) {
                    double& qd = TracerQD[static_cast<size_t>(k)][i][j];
                    qd = direct > 0 ? qd / direct : 0.0;
                }
            }
            const int s = ZoneRankOfCell(i, j);
            if (s < 1) continue;
            if (Stats[4]) Stats[4]->AddValue(i, j, s, Surface[i][j], 1);
            const int z = ZoneOfCell(i, j, s);
            const double w = CellWeight(i, j);
            unsatzon::FlowTimeZone& d = zoneFZT_QD.Zones(0, s)[z];
            if (river) d.sx += w * direct * nsub;
            d.n += 1;
            d.RelCellSum += w;
            // "interflow" is the water of the sub-step as "directflow" is.
            unsatzon::FlowTimeZone& f = zoneFZT_QI.Zones(0, s)[z];
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
