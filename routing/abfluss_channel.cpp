// A routing description's construction, its area fractions, the links to the
// routing model's flow arrays, the initial channel state, the river-flow
// records and the teardown.

#include <algorithm>
#include <cmath>
#include <new>

#include "framework/diagnostics_writer.h"
#include "framework/zonetable.h"
#include "routing/abfluss_routingclass.h"
#include "soil/unsatzon.h"

routingclass::routingclass(int* status, const RoutingDescriptionLinks& links, double catchmentArea,
                           double areaFactor, const ElementCounts& counts, int outletCode, int descriptionNumber)
    : modelobject(links.Writer, links.ControlFilePath, false, false, links.InputDirectory, links.OutputDirectory),
      Links(links),
      Counts(counts),
      OutletCode(outletCode),
      DescriptionNumber(descriptionNumber),
      TimeStep(links.TimeStep),
      CatchmentArea(catchmentArea),
      AreaFactor(areaFactor) {
    *status = 0;
    ModuleName = "routingmodel";
    GridTable = links.GridTable;
    RowExtents = links.RowExtents;
    NRows = links.NRows;
    NCols = links.NCols;
    XllCorner = links.XllCorner;
    YllCorner = links.YllCorner;
    CellSize = links.CellSize;
    NoData = links.NoData;
    ChannelCount = counts.OL + counts.SUMTRIB + counts.ZL;
    int step = 0;
    try {
        const size_t k = static_cast<size_t>(ChannelCount + 1);
        Code.assign(k, 0);
        ++step;
        Tributaries.assign(k, {});
        for (auto* values : {&RetentionMain, &RetentionPlain, &MainWidth, &PlainWidth, &MainDepth, &MainManning,
                             &PlainManning, &RootSlope, &Length, &ChannelArea, &QMin, &QMax, &Intervals, &LogStep}) {
            ++step;
            values->assign(k, 0.0);
        }
        ++step;
        Weights.assign(static_cast<size_t>(counts.OL + counts.SUMTRIB + counts.Ampersand + counts.ZL + 1), 0.0);
        ++step;
        Tables.assign(k, wqtab{});
        const size_t tracerRows = static_cast<size_t>(links.TracerCount + 1);
        ElementRows.assign(tracerRows, nullptr);
        InputRows.assign(tracerRows, nullptr);
        DecayFactors.assign(tracerRows, 1.0);
        StoreValues.assign(tracerRows, 0.0);
        TracerLoads.assign(tracerRows, 0.0);
        Code[0] = outletCode;
        const int rank = RankOf(outletCode);
        Weights[0] = links.Abfrel && rank > 0 ? links.Abfrel[0][rank] : 0.0;
        if (counts.ZL > 0) {
            const size_t z = static_cast<size_t>(counts.ZL + 1);
            InflowNumber.assign(z, 0);
            InflowMode.assign(z, 0);
            InflowColumn.assign(z, 0);
            InflowStartRow.assign(z, 0);
            InflowFile.assign(z, std::string());
            InflowValue.assign(static_cast<size_t>(links.TracerCount + 1), std::vector<double>(z, 0.0));
        }
    } catch (const std::bad_alloc&) {
        if (Writer) *Writer << "FATAL: routing: memory allocation error " << step << "[end-entry]";
        *status = 1;
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

int routingclass::BlockLength(int e) const {
    const wqtab& w = Tables[static_cast<size_t>(e)];
    int largest = 0;
    for (int r = 1; r <= w.Rows; ++r) largest = std::max(largest, w.delta[static_cast<size_t>(r)]);
    return largest + SubIntervals;
}

int routingclass::RankOf(int code) const {
    if (!Links.CodeToRank || code < 0 || code > Links.LargestCode) return 0;
    return Links.CodeToRank[code];
}

int routingclass::IndexOf(int e) const {
    const int code = Code[static_cast<size_t>(e)];
    return IsZL(e) ? Links.SubbasinCount + code : RankOf(code);
}

std::vector<int> routingclass::SubbasinRanksOf(int e) const {
    std::vector<int> ranks;
    const std::vector<int>& list = Tributaries[static_cast<size_t>(e)];
    const int m = list.empty() ? 0 : list[0];
    for (int j = 1; j <= m; ++j) ranks.push_back(RankOf(list[static_cast<size_t>(j)]));
    ranks.push_back(RankOf(Code[static_cast<size_t>(e)]));
    return ranks;
}

double routingclass::ConvertToMm(double discharge, double area, double dt) { return discharge * 0.06 * dt / area; }

double routingclass::ConvertToM3s(double flowMm, double area, double dt) { return flowMm * area * 16.6666667 / dt; }

double routingclass::ScaleValue(double a, double b) { return a * b; }

double routingclass::MixConcentration(double x1, double x2, double w1, double w2) {
    const double sum = std::fabs(w1) + std::fabs(w2);
    return sum == 0 ? 0.0 : (x1 * std::fabs(w1) + x2 * std::fabs(w2)) / sum;
}

double routingclass::ConcentrateByLoss(double x, double volume, double loss) {
    return volume == loss ? 0.0 : x * volume / (volume - loss);
}

double routingclass::GetMaxOfSubIntervals(const double* values) {
    double m = values[1];
    for (int s = 2; s <= SubIntervals; ++s) m = std::max(m, values[s]);
    return m;
}

double routingclass::GetAbstractionSum() { return AbstractionSum; }

// The channel routing, the routing state, inflow files, reservoirs and
// abstractions build on this set-up.
void routingclass::CheckSubbasinAreas() {
    double** abfrel = Links.Abfrel;
    const int a = Counts.OL, b = Counts.SUMTRIB;
    const int outletRank = RankOf(OutletCode);
    double sum = 0;
    for (int e = 0; e <= a; ++e) {
        const int i = RankOf(Code[static_cast<size_t>(e)]);
        double& w = Weights[static_cast<size_t>(e)];
        w = (e > 0 && i == outletRank) || i <= 0 ? 0.0 : abfrel[0][i];
        sum += w;
    }
    for (int e = a + 1; e <= a + b; ++e) {
        double w = 0;
        for (int i : SubbasinRanksOf(e)) w += i > 0 ? abfrel[0][i] : 0.0;
        Weights[static_cast<size_t>(e)] = w;
        sum += w;
    }
    for (int e = 0; e <= a + b; ++e) {
        double& w = Weights[static_cast<size_t>(e)];
        w = sum > 0 ? w / sum * AreaFactor : (e == 0 ? AreaFactor : 0.0);
    }
    abfrel[0][outletRank] = sum;
    abfrel[1][outletRank] = AreaFactor;
    if (abfrel[0][0] > 0) {
        const double zoneArea = abfrel[0][0] * sum;
        if (CatchmentArea < zoneArea - 0.001 || CatchmentArea > zoneArea + 0.001) {
            if (Writer) {
                *Writer << "INFO: Basin " << OutletCode << ": area in contr.file: " << CatchmentArea
                        << " <-> zone-grid " << zoneArea << " (adjusted to the latter)" << "[end-entry]";
            }
            RescaleAbstractions(CatchmentArea / zoneArea, zoneArea);
            CatchmentArea = zoneArea;
        }
    }
}

void routingclass::SetMaxIrrigTables(double** maxIrrig, double** maxIrrigFromReservoirs) {
    MaxIrrig = maxIrrig;
    MaxIrrigFromReservoirs = maxIrrigFromReservoirs;
}

void routingclass::SetIrrigationDemand(ZoneRecord* demand) { Demand = demand; }

void routingclass::SetFlowArrays(double** F, double*** Fs, StorageElementArrays* E, double** window,
                                 const int* gaugeColumns) {
    StepFlows = F;
    SubIntervalFlows = Fs;
    Storage = E;
    // A description without channels still routes its outlet's own runoff.
    if (OutletFlows.empty()) {
        const size_t rows = static_cast<size_t>(Links.TracerCount + 1);
        OutletFlows.assign(rows, std::vector<double>(static_cast<size_t>(SubIntervals + 1), 0.0));
        ChannelFlows = OutletFlows;
    }
    Window = window;
    GaugeColumns = gaugeColumns;
    const int n = Links.SubbasinCount;
    const int T = Links.TracerCount;
    for (int e = 1; e <= ChannelCount; ++e) {
        if (!IsZL(e)) continue;
        const int z = Code[static_cast<size_t>(e)];
        const size_t k = static_cast<size_t>(e - Counts.OL - Counts.SUMTRIB);
        F[0][n + z] = ConvertToMm(InflowValue[0][k], ChannelArea[static_cast<size_t>(e)], TimeStep);
    }
    try {
        size_t longest = 0;
        for (int e = 1; e <= ChannelCount; ++e) longest = std::max(longest, static_cast<size_t>(BlockLength(e)));
        TranslationScratch.assign(static_cast<size_t>(T + 1) * longest, 0.0);
        for (int e = 1; e <= ChannelCount; ++e) {
            const size_t length = static_cast<size_t>(Tables[static_cast<size_t>(e)].StorageElements) +
                                  static_cast<size_t>(SubIntervals) + 1;
            const std::vector<int> indices = IsZL(e) ? std::vector<int>{IndexOf(e)} : SubbasinRanksOf(e);
            for (int i : indices) {
                const bool observed =
                    !IsZL(e) && Substitution == 1 && i <= n && SubstituteMm && SubstituteMm[i] >= 0;
                for (int t = 0; t <= T; ++t) {
                    const double value = observed && t == 0 ? SubstituteMm[i] : F[t][i];
                    std::vector<double>& elements = (*E)[static_cast<size_t>(t)][static_cast<size_t>(i)];
                    elements.assign(length, 0.0);
                    std::fill(elements.begin() + 1, elements.end(), value);
                }
            }
        }
    } catch (const std::bad_alloc&) {
        if (Writer) *Writer << "FATAL: error allocating memory for flow-arrays" << "[end-entry]";
        throw 1;
    }
}

void routingclass::InitStorageElements() {
    if (!StepFlows) return;
    const int Ns = SubIntervals;
    for (int e = 1; e <= ChannelCount; ++e) {
        wqtab& w = Tables[static_cast<size_t>(e)];
        const double flow = StepFlows[0][IndexOf(e)];
        const int r = GetTableRow(e, flow);
        const int S = static_cast<int>(w.S);
        const int Lb = BlockLength(e);
        for (int s = 1; s <= S; ++s) {
            for (auto* out : {&w.Qaus, &w.QausMain}) {
                std::vector<double>& row = (*out)[static_cast<size_t>(s)];
                std::fill(row.begin() + 1, row.begin() + 1 + Ns, flow);
            }
            std::vector<double>& plain = w.QausPlain[static_cast<size_t>(s)];
            std::fill(plain.begin() + 1, plain.begin() + 1 + Ns, 0.0);
            w.qvzuq[static_cast<size_t>(s)] = 0.0;
            w.FillPosition[static_cast<size_t>(s)] = Ns + (s - 1) * Lb + w.delta[static_cast<size_t>(r)];
        }
    }
}

void routingclass::FillRiverflowRecords(bool setUp) {
    if (!RiverFlows || !StepFlows) return;
    double** abfrel = Links.Abfrel;
    const int T = std::min(Links.TracerCount, 9);
    for (int e = 1; e <= Counts.OL + Counts.SUMTRIB; ++e) {
        for (int i : SubbasinRanksOf(e)) {
            if (i <= 0) continue;
            riverflow_table& record = RiverFlows[i];
            if (setUp) {
                record.channel = e;
                record.description = RiverflowDescription;
                // The area over which this subbasin's flow is counted: its own
                // area, or its routed catchment over its area factor.
                record.area = abfrel[1][i] != 0 ? abfrel[0][0] * abfrel[0][i] / abfrel[1][i] : 0.0;
            }
            const double flow = StepFlows[0][i];
            const int r = GetTableRow(e, flow);
            record.withdrawn = 0.0;
            record.reserved = 0.0;
            for (int t = 0; t <= T; ++t) record.flow_mm[t] = StepFlows[t][i];
            record.flowm3s = ConvertToM3s(flow, record.area, TimeStep);
            record.speed = Tables[static_cast<size_t>(e)].v[static_cast<size_t>(r)];
            HandCarriedToSoil(i);
        }
    }
}

// The soil withdrawal this subbasin's river could not supply yet, as a rate
// over the step: the soil columns leave it in the river.
void routingclass::HandCarriedToSoil(int i) {
    if (!RiverFlows || i <= 0) return;
    riverflow_table& record = RiverFlows[i];
    const double owed = Exchange && static_cast<size_t>(i) < Exchange->SoilDeficit.size()
                            ? Exchange->SoilDeficit[static_cast<size_t>(i)]
                            : 0.0;
    record.carried = owed > 0 && record.area > 0 && TimeStep > 0 ? ConvertToM3s(owed, record.area, TimeStep) : 0.0;
}

void routingclass::HandCarriedToSoil() {
    if (!RiverFlows) return;
    for (int e = 1; e <= Counts.OL + Counts.SUMTRIB; ++e)
        for (int i : SubbasinRanksOf(e)) HandCarriedToSoil(i);
}

void routingclass::SetRiverflowTable(riverflow_table* table, int descriptionNumber) {
    RiverFlows = table;
    RiverflowDescription = descriptionNumber;
    FillRiverflowRecords(true);
}

void routingclass::UpdateRiverflowTable() { FillRiverflowRecords(false); }

// Reservoirs and abstractions flush their buffers here.
void routingclass::FlushOutputs() {
    FlushReservoirs();
    FlushAbstractions();
}

void routingclass::DeleteModule() {
    if (Deleted()) return;
    if (Writer) *Writer << " free memory TG " << OutletCode;
    for (int e = 1; e <= ChannelCount; ++e) {
        const size_t k = static_cast<size_t>(e);
        if (Storage) {
            const std::vector<int> indices = IsZL(e) ? std::vector<int>{IndexOf(e)} : SubbasinRanksOf(e);
            for (auto& tracer : *Storage) {
                for (int i : indices) {
                    if (i > 0 && static_cast<size_t>(i) < tracer.size()) {
                        tracer[static_cast<size_t>(i)].clear();
                        tracer[static_cast<size_t>(i)].shrink_to_fit();
                    }
                }
            }
        }
        if (Writer) {
            if (IsZL(e)) {
                *Writer << ", (only ZL's)";
            } else {
                *Writer << ", OL " << e << " (Subb. " << Code[k];
                const std::vector<int>& list = Tributaries[k];
                for (size_t j = 1; !list.empty() && j <= static_cast<size_t>(list[0]); ++j) *Writer << ", " << list[j];
                *Writer << ")";
            }
        }
        if (e == 1) {
            OutletFlows.clear();
            ChannelFlows.clear();
        }
        Tables[k].Release();
        Tributaries[k].clear();
    }
    if (Counts.ZL > 0) {
        if (Writer) {
            *Writer << ", --> ZLs...";
            for (int z = 1; z <= Counts.ZL; ++z) *Writer << " " << InflowNumber[static_cast<size_t>(z)] << ",";
        }
        InflowNumber.clear();
        InflowMode.clear();
        InflowColumn.clear();
        InflowStartRow.clear();
        InflowFile.clear();
        InflowValue.clear();
        InflowReaders.clear();
    }
    if (!Abstractions.empty()) {
        if (Writer) *Writer << ", --> ALs...";
        for (size_t k = 1; k < Abstractions.size(); ++k) {
            Abstractions[k]->FlushBuffer(1);
            if (Writer) *Writer << " " << k << ",";
        }
        Abstractions.clear();
    }
    ReleaseReservoirs();
    if (Writer) *Writer << " Rest... ok" << "[end-entry]";
    for (auto* values : {&RetentionMain, &RetentionPlain, &MainWidth, &PlainWidth, &MainDepth, &MainManning,
                         &PlainManning, &RootSlope, &Length, &ChannelArea, &QMin, &QMax, &Intervals, &LogStep,
                         &Weights})
        values->clear();
    Code.clear();
    Tables.clear();
    StepFlows = nullptr;
    SubIntervalFlows = nullptr;
    Storage = nullptr;
    RiverFlows = nullptr;
    modelobject::DeleteModule();
}
