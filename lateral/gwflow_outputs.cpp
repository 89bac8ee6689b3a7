// Tracer set-up and release, wiring, the outputs of a step and the control
// point file of the groundwater model.

#include <algorithm>
#include <cstdio>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/signals.h"
#include "framework/state_checks.h"
#include "framework/tracer_info.h"
#include "framework/zonalstatistic.h"
#include "lateral/gwflow.h"
#include "lateral/gwflow_physics.h"
#include "lateral/gwflow_text.h"

using gwflow::Format;
using gwflow::ModuleText;

// --- Tracers -------------------------------------------------------------

void gwflowclass::InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                              int statisticsTableSize) {
    *status = 0;
    if (Method == 0 || n <= 0) return;
    try {
        TracerCount = n;
        Tracers = table;
        const size_t count = static_cast<size_t>(n) + 1;
        const size_t layers = static_cast<size_t>(Layers) + 1;
        DecayPerSubStep.assign(count, 1.0);
        Concentration.assign(count, std::vector<double**>(layers, nullptr));
        ConcentrationIndex.assign(count, std::vector<int>(layers, 0));
        TracerStatistics.assign(count, std::vector<zonalstatistic*>(layers, nullptr));
        TracerTemporary.assign(count, nullptr);
        for (int t = 1; t <= n; ++t) {
            TracerInfo& tracer = table[t];
            for (int k = 1; k <= Layers; ++k) {
                if (tracer.radioactive) {
                    // Kept here: the shared record is overwritten by later set-ups.
                    DecayPerSubStep[static_cast<size_t>(t)] =
                        gwflow::DecayFactor(TimeInterval, SubSteps, tracer.half_time);
                    tracer.decay_factor = DecayPerSubStep[static_cast<size_t>(t)];
                }
                const int zones = Subbasins.Records ? Subbasins.Count : 0;
                const std::string fileName = Format("%s%.3s%.4s%.1d.%s", tracer.path.c_str(), tracer.name.c_str(),
                                                    ModuleText, k, tracer.statext.c_str());
                TracerStatistics[static_cast<size_t>(t)][static_cast<size_t>(k)] = CreateOwnedStatistics(
                    ZoneKeys(Subbasins.Records, zones), zones, statisticsTable, statisticsTableSize, tracer.statcode,
                    5, fileName, Settings.DefaultOutputDirectory,
                    Format("tracer concentration for tracer %d in layer %d (%s) ", t, k, tracer.name.c_str()),
                    ModuleName);

                const int entry = FindFreeGridEntry(GridTable);
                if (entry == NoFreeGridEntry) {
                    if (Writer) *Writer << "FATAL: no free grid left " << 1000 << "[end-entry]";
                    throw 12;
                }
                const std::string name = Format("concstor_tracer_%d_layer_%d_%s", t, k, ModuleText);
                const std::string gridFile = Format("%s%.3s%.1d%.4s.%s", tracer.path.c_str(), tracer.name.c_str(), k,
                                                    ModuleText, tracer.gridext.c_str());
                double** grid = nullptr;
                if (GridReadCode == 1) {
                    ReadGrid(gridFile, grid, 0, true, true, 0, false);
                    statecheck::CheckGrid(*this, statecheck::InputPath(*this, gridFile), grid, "tracer storage",
                                          {0, statecheck::MaxConcentration});
                } else {
                    grid = NewGrid();
                    for (int32_t r = 1; r <= NRows; ++r) {
                        for (int32_t c = 1; c <= NCols; ++c) {
                            if (!ModelCell(r, c)) {
                                grid[r][c] = NoData;
                            } else if (tracer.evaporating) {
                                grid[r][c] = tracer.gwini;
                            } else {
                                grid[r][c] = Thickness[k][r][c] * StorageCoeff[k][r][c] * 1000 * tracer.gwini;
                            }
                        }
                    }
                }
                int index = 0;
                Register(grid, gridFile, name, tracer.gridcode, &index);
                // Read from the file, the layer-1 concentrations are a state the
                // soil model's set-up must keep instead of starting them anew.
                GridTable[index].ReadCode = GridReadCode == 1 ? 1 : 0;
                Concentration[static_cast<size_t>(t)][static_cast<size_t>(k)] = grid;
                ConcentrationIndex[static_cast<size_t>(t)][static_cast<size_t>(k)] = index;
            }
            const std::string temporary = Format("concflux_tracer_%d_%s", t, ModuleText);
            if (FindFreeGridEntry(GridTable) == NoFreeGridEntry) {
                if (Writer) *Writer << "FATAL: no free grid left " << 1000 << "[end-entry]";
                throw 12;
            }
            TracerTemporary[static_cast<size_t>(t)] = Register(NewGrid(), temporary, temporary, 0);
        }
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
}

void gwflowclass::ReleaseTracerStorage() {
    ReleaseOwnedStatistics();
    TracerStatistics.clear();
    // The grids are among the owned grids; forget the views.
    Concentration.clear();
    ConcentrationIndex.clear();
    TracerTemporary.clear();
}

void gwflowclass::ReleaseTracers() {
    if (Method == 0) return;
    std::vector<double**> tracerGrids;
    for (auto& layers : Concentration)
        for (double** g : layers)
            if (g) tracerGrids.push_back(g);
    for (double** g : TracerTemporary)
        if (g) tracerGrids.push_back(g);
    ReleaseTracerStorage();
    for (auto it = OwnGrids.begin(); it != OwnGrids.end();) {
        if (std::find(tracerGrids.begin(), tracerGrids.end(), it->Data) != tracerGrids.end()) {
            if (GridTable && it->Index > 0) ReleaseGrid(it->Index);
            free_matrix(it->Data, 1, NRows, 1, NCols);
            it = OwnGrids.erase(it);
        } else {
            ++it;
        }
    }
    TracerCount = 0;
}

// --- Wiring and outputs ----------------------------------------------------

void gwflowclass::SetRiverflowTable(riverflow_table* table) {
    if (Method != 0) RiverFlows = table;
}

void gwflowclass::SetQg(RunoffTable qg) {
    if (Method != 0) Qg = qg;
}

void gwflowclass::SetSubSteps(int n) { SubSteps = n; }

void gwflowclass::BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    teilmodellklasse::RunTimeStep(hour, day, month, year);
    StepFixedHeadVolume = StepResidualVolume = 0;
}

int gwflowclass::RankOfZone(int32_t row, int32_t col) const {
    if (!Subbasins.CodeToRank) return 0;
    const int code = static_cast<int>(ZoneGrid[row][col]);
    // A code the subbasin table does not hold belongs to no subbasin.
    if (code < 0 || code > Subbasins.LargestCode) return 0;
    return Subbasins.CodeToRank[code];
}

void gwflowclass::WriteOutput(int64_t, int64_t, int64_t, int64_t) {
    if (Method == 0) return;
    // The sums of every grid in one pass over the rows, then the grids in
    // their order.
    std::vector<int> indices;
    if (BaseflowIndex > 0) indices.push_back(BaseflowIndex);
    for (int k = 1; k <= Layers; ++k)
        for (int index : {HeadIndex[k], HeadStartIndex[k], FlowXIndex[k], FlowYIndex[k], BalanceIndex[k]})
            indices.push_back(index);
    WriteGridsByCode(indices.data(), static_cast<int>(indices.size()), true, false);
    if (TracerCount <= 0 || TracerStatistics.empty()) return;
    // The statistics describe the last sub-step: the mixed concentrations
    // of every balanced cell, per subbasin of its zone. One pass over the
    // rows gathers the row sums of every tracer and layer; the statistics
    // are closed and the grids written afterwards, in their order.
    struct Gathered {
        zonalstatistic* Statistic;
        double** Concentration;
    };
    std::vector<Gathered> gathered;
    for (int t = 1; t <= TracerCount; ++t) {
        for (int k = 1; k <= Layers; ++k) {
            zonalstatistic* s = TracerStatistics[static_cast<size_t>(t)][static_cast<size_t>(k)];
            if (!s || !s->IsOn()) continue;
            s->ResetStep();
            gathered.push_back({s, Concentration[static_cast<size_t>(t)][static_cast<size_t>(k)]});
        }
    }
    if (!gathered.empty()) {
#pragma omp parallel for schedule(static, 1) if (Parallel())
        for (int32_t r = 1; r <= NRows; ++r) {
            for (int32_t c = 1; c <= NCols; ++c) {
                if (!ModelCell(r, c) || !(ZoneGrid[r][c] > NoData) || GlacierOf(r, c) >= 1) continue;
                const int rank = RankOfZone(r, c);
                if (rank < 1) continue;
                for (const Gathered& g : gathered) g.Statistic->AddToRow(r, c, rank, g.Concentration[r][c], 1.0);
            }
        }
    }
    for (int t = 1; t <= TracerCount; ++t) {
        for (int k = 1; k <= Layers; ++k) {
            WriteGridByCode(ConcentrationIndex[static_cast<size_t>(t)][static_cast<size_t>(k)], true, false);
            zonalstatistic* s = TracerStatistics[static_cast<size_t>(t)][static_cast<size_t>(k)];
            if (s && s->IsOn()) s->CloseStep(StepYear, StepMonth, StepDay, StepHour);
        }
    }
}

void gwflowclass::FlushOutputs() {
    if (Method == 0) return;
    for (auto& layers : TracerStatistics)
        for (zonalstatistic* s : layers)
            if (s && s->IsOn()) s->Flush();
    if (ControlRow > 0) WriteControlPointFluxes();
}

void gwflowclass::WriteControlPointFluxes() {
    if (ControlCount == 0) return;
    CtrlCIgnored quiet;
    const int64_t bytes = (48 * static_cast<int64_t>(Layers) + 40) * ControlCount;
    if (Writer) *Writer << "write " << ControlPointFileName;
    FILE* f = std::fopen(ControlPointFileName.c_str(), "a+");
    if (!f) {
        if (Writer) {
            *Writer << "[end-entry]";
            *Writer << "FATAL: error opening file " << ControlPointFileName << "[end-entry]";
        }
        throw 65;
    }
    bool ok = true;
    for (int64_t i = 1; i <= ControlCount && ok; ++i) {
        const ControlPointRecord& record = ControlRecords[static_cast<size_t>(i)];
        ok = std::fprintf(f, "%ld\t%ld\t%ld\t%ld", static_cast<long>(record.Year), static_cast<long>(record.Month),
                          static_cast<long>(record.Day), static_cast<long>(record.Hour)) > 0;
        for (int v = 1; v <= 6 * Layers && ok; ++v) ok = std::fprintf(f, "\t%g", record.Values[v]) > 0;
        ok = ok && std::fputc('\n', f) != EOF;
    }
    ok = std::fclose(f) == 0 && ok;
    if (!ok) {
        if (Writer) {
            *Writer << "[end-entry]";
            *Writer << "FATAL: error writing file " << ControlPointFileName << "[end-entry]";
        }
        throw 65;
    }
    if (Writer) *Writer << "(" << static_cast<long long>(bytes) << " of " << 2097152 << " buffer-bytes)" << "[end-entry]";
    ControlCount = 0;
}

