// The soil model's solutes: their set-up (stacks, grids, statistics, point
// files, the first baseflow concentrations), their transport through every
// column in the cell step, their sums per subbasin and the outlet values of
// every step, and their release.

#include <algorithm>
#include <cmath>
#include <cstdio>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/signals.h"
#include "framework/state_checks.h"
#include "framework/tracer_info.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_cell.h"
#include "soil/unsatzon_tracer_physics.h"

namespace {

std::string Cut(const std::string& text, size_t n) { return text.substr(0, n); }

std::string Printed(const char* format, int k, const char* text) {
    char name[200];
    std::snprintf(name, sizeof name, format, k, text);
    return name;
}

}  // namespace

void unsatzonmodellklasse::InitSoilTracers(TracerInfo* table, StatisticsTableEntry* statisticsTable,
                                           int statisticsTableSize) {
    const int T = TracerCount, L = maxLayers, n = Subbasins.Count;
    const int S = std::max(1, SubSteps);
    SoilTracers.clear();
    SoilTracers.resize(static_cast<size_t>(T) + 1);
    const std::string module = ModuleName;
    const size_t cells = (static_cast<size_t>(NRows) + 1) * (static_cast<size_t>(NCols) + 1);
    for (int k = 1; k <= T; ++k) {
        TracerInfo& tracer = table[k];
        SoilTracer& st = SoilTracers[static_cast<size_t>(k)];
        // The soil model's own factor for one sub-step; the shared record
        // shows it until another sub-model's set-up writes its own.
        if (tracer.radioactive == 1) {
            st.DecayPerSubStep = unsatzon::TracerDecayFactor(60.0 * TimeInterval / S, tracer.half_time);
            tracer.decay_factor = st.DecayPerSubStep;
        }
        st.ZoneSums.assign(static_cast<size_t>(n) + 1, ZoneRecord{});
        for (int s = 0; s <= n && Subbasins.Records; ++s) {
            st.ZoneSums[static_cast<size_t>(s)].zonenwert = Subbasins.Records[s].zonenwert;
            st.ZoneSums[static_cast<size_t>(s)].rel = Subbasins.Records[s].rel;
        }
        st.StatisticsFileName = tracer.path + Cut(tracer.name, 3) + Cut(module, 5) + "." + tracer.statext;
        int statisticsStatus = 0;
        st.Statistics = std::make_unique<zonalstatistic>(
            &statisticsStatus, Writer, statisticsTable, statisticsTableSize, RelCellArea, NRows, NCols,
            st.ZoneSums.data(), n, tracer.statcode, 99, st.StatisticsFileName, OutputDirectory,
            Settings.OutputListCount, Settings.OutputListCodes);
        if (statisticsStatus != 0) throw statisticsStatus;
        char title[300];
        std::snprintf(title, sizeof title, "tracer concentration for tracer %d (%s) ", k, tracer.name.c_str());
        st.Statistics->WriteHeader(title, module, statisticsTable, statisticsTableSize);

        const int input = FindOneOfFourGrids(Printed("concflux_tracer_%1d_%s", k, "interception_model"),
                                             Printed("concflux_tracer_%1d_%s", k, "snow_model"),
                                             Printed("concflux_tracer_%1d_%s", k, "irrigation"),
                                             Printed("concflux_tracer_%1d_%s", k, "input"));
        st.Input = GridTable[input].Data;

        if (PointOutput) {
            st.PointCapacity = ControlPointCapacity(L + 1);
            st.PointValues.assign(static_cast<size_t>(st.PointCapacity) * static_cast<size_t>(L + 1), 0.0);
            st.PointRows.assign(static_cast<size_t>(st.PointCapacity) + 1, DatedRow{});
            for (int64_t r = 1; r <= st.PointCapacity; ++r)
                st.PointRows[static_cast<size_t>(r)].Values =
                    st.PointValues.data() + static_cast<size_t>(r - 1) * static_cast<size_t>(L + 1);
            st.PointFill = 0;
            st.PointFileName = tracer.path + Cut(tracer.name, 3) + "point" + "." + tracer.statext;
            FILE* file = std::fopen(st.PointFileName.c_str(), "wt");
            bool ok = file != nullptr;
            if (ok) {
                ok = std::fprintf(file, "YY\tMM\tDD\tHH\t%s[%d][%d]", title, controlRow, controlColumn) >= 0;
                for (int j = 1; j <= L && ok; ++j) ok = std::fprintf(file, "[%d]\t", j) >= 0;
                if (ok) ok = std::fputc('\n', file) != EOF;
            }
            if (file && std::fclose(file) != 0) ok = false;
            if (!ok) {
                if (Writer) *Writer << "FATAL: error opening tracer concentration file " << st.PointFileName << "[end-entry]";
                throw 65;
            }
        }

        auto freeEntry = [&] {
            const int entry = FindFreeGridEntry(GridTable);
            if (entry < FirstGridIndex || entry > LastGridIndex) {
                if (Writer) {
                    *Writer << "FATAL: no free grid left. please contact the author to set the number of grids to a "
                               "larger value "
                            << 1000 << "[end-entry]";
                }
                throw 12;
            }
            return entry;
        };
        const std::string stackName = Printed("concstor_tracer_%d_%s", k, module.c_str());
        st.StackFileName = tracer.path + Cut(tracer.name, 3) + Cut(module, 5) + "." + tracer.gridext;
        if (readgrid == 1) {
            GridStack stack = nullptr;
            const int levels = ReadStack(st.StackFileName, stack);
            if (levels != L) {
                if (stack) free_matrix3d(stack, 1, NRows);
                if (Writer) {
                    *Writer << "FATAL: wrong number of levels in stack " << st.StackFileName << " (there are "
                            << levels << " levels, it must be " << L << "[end-entry]";
                }
                throw 13;
            }
            st.Stack = stack;
            statecheck::CheckStack(*this, statecheck::InputPath(*this, st.StackFileName), stack, 0, L,
                                   "tracer content", [](long, long, int) {
                                       return statecheck::Range{0, statecheck::MaxConcentration};
                                   });
        } else {
            st.Stack = matrix3d(1, NRows, 1, NCols, L, NRows);
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
            for (int i = 1; i <= NRows; ++i) {
                for (int j = 1; j <= NCols; ++j) {
                    double* U = st.Stack[i][j];
                    U[0] = 0;
                    if (!OwnModelCell(i, j)) {
                        for (int l = 1; l <= L; ++l) U[l] = NoData;
                        continue;
                    }
                    const SoilType& soil = CellSoil(i, j);
                    const int g = std::clamp(static_cast<int>(GroundwaterLevel[i][j]), 1, L);
                    for (int l = 1; l <= L; ++l) {
                        U[l] = l < g ? tracer.soilini : tracer.gwini;
                        if (!tracer.evaporating)
                            U[l] *= 1000 * Theta[i][j][l] * soil.thickness[static_cast<size_t>(l)];
                    }
                }
            }
        }
        st.Concentration = matrix(1, NRows, 1, NCols, NRows);
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(Cells()))
        for (int i = 1; i <= NRows; ++i)
            for (int j = 1; j <= NCols; ++j) st.Concentration[i][j] = OwnModelCell(i, j) ? 0.0 : NoData;
        st.StackIndex = freeEntry();
        StoreGrid(st.StackIndex, st.StackFileName, st.Concentration, st.Stack, L, stackName, tracer.gridcode, 1,
                  NRows);
        st.SiltingFlux = OptionalGrid(Printed("concflux_tracer_%d_%s", k, "SiltingUpModel"));

        // Direct runoff and interflow concentrations, each in the next entry
        // that is really free.
        auto runoffGrid = [&](const char* format, int& index) {
            double** grid = matrix(1, NRows, 1, NCols, NRows);
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(Cells()))
            for (int i = 1; i <= NRows; ++i)
                for (int j = 1; j <= NCols; ++j) grid[i][j] = OwnModelCell(i, j) ? 0.0 : NoData;
            index = freeEntry();
            char name[64];
            std::snprintf(name, sizeof name, format, k);
            StoreGrid(index, "", grid, nullptr, 1, name, 0, 1, NRows);
            return grid;
        };
        st.QDConc = runoffGrid("_CONC_QD_%i_", st.QDIndex);
        st.QIConc = runoffGrid("_CONC_QI_%i_", st.QIIndex);
        st.BaseflowLoad.assign(cells, 0.0);
        st.BaseflowWater.assign(cells, 0.0);
        st.BaseSum.assign(static_cast<size_t>(n) + 1, 0.0);
        st.BaseWeight.assign(static_cast<size_t>(n) + 1, 0.0);
    }
    // The groundwater model's layer-1 concentrations that it read from its
    // state files: a warm start goes on with them, not with the soil's.
    std::vector<bool> groundwaterRead(static_cast<size_t>(T) + 1, false);
    if (GroundwaterActive == 1) {
        for (int k = 1; k <= T; ++k) {
            const std::string name = Printed("concstor_tracer_%d_layer_1_%s", k, "groundwater_flow");
            SoilTracers[static_cast<size_t>(k)].Groundwater = RequiredGrid(name);
            groundwaterRead[static_cast<size_t>(k)] = GridTable[FindGrid(name)].ReadCode == 1;
        }
        TracerRiverLinks = OptionalGrid("river_links");
        TracerAquiferThickness = OptionalGrid("aquifer_thickness_1");
    }

    // The concentration at the groundwater layer, and with it the first
    // baseflow concentrations per subbasin. The cells are independent; the
    // sums per subbasin then run in row order on one thread.
    double** qg = Qg.Rows();
    for (int k = 1; k <= T; ++k) {
        const TracerInfo& tracer = table[k];
        SoilTracer& st = SoilTracers[static_cast<size_t>(k)];
        const bool seedGroundwater = st.Groundwater && !groundwaterRead[static_cast<size_t>(k)];
#pragma omp parallel for schedule(static, 1) if (WorthThreads(Cells()))
        for (int i = 1; i <= NRows; ++i) {
            for (int j = 1; j <= NCols; ++j) {
                if (SubbasinGrid[i][j] == NoData || !OwnModelCell(i, j)) continue;
                const int g = std::clamp(static_cast<int>(GroundwaterLevel[i][j]), 1, L);
                double cg = st.Stack[i][j][g];
                if (!tracer.evaporating) {
                    const double water = Theta[i][j][g] * 1000 * CellSoil(i, j).thickness[static_cast<size_t>(g)];
                    cg = water > 0 ? cg / water : 0.0;
                    if (tracer.max_conc > 0 && cg > tracer.max_conc) cg = tracer.max_conc;
                }
                st.Concentration[i][j] = cg;
                if (seedGroundwater) st.Groundwater[i][j] = cg;
            }
        }
        std::vector<double> sum(static_cast<size_t>(n) + 1, 0.0), weight(static_cast<size_t>(n) + 1, 0.0);
        for (int i = 1; i <= NRows; ++i) {
            for (int j = 1; j <= NCols; ++j) {
                if (SubbasinGrid[i][j] == NoData || !OwnModelCell(i, j)) continue;
                const int s = SubbasinRankOfCell(i, j);
                if (s < 1) continue;
                const double cg = st.Concentration[i][j];
                const double w = CellWeight(i, j);
                const double o = Baseflow[i][j];
                sum[static_cast<size_t>(s)] += w * o * cg;
                weight[static_cast<size_t>(s)] += w * o;
            }
        }
        for (int s = 1; s <= n; ++s)
            qg[k][s] = weight[static_cast<size_t>(s)] > 0 ? sum[static_cast<size_t>(s)] / weight[static_cast<size_t>(s)]
                                                          : 0.0;
    }
}

void unsatzonmodellklasse::ReleaseSoilTracers() {
    for (size_t k = 1; k < SoilTracers.size(); ++k) {
        SoilTracer& st = SoilTracers[k];
        if (st.Stack) {
            free_matrix3d(st.Stack, 1, NRows);
            st.Stack = nullptr;
        }
        if (st.Concentration) {
            free_matrix(st.Concentration, 1, NRows, 1, NCols);
            st.Concentration = nullptr;
        }
        if (GridTable && st.StackIndex > 0) ReleaseGrid(st.StackIndex);
        for (auto [grid, index] : {std::pair{&st.QDConc, st.QDIndex}, std::pair{&st.QIConc, st.QIIndex}}) {
            if (*grid) free_matrix(*grid, 1, NRows, 1, NCols);
            *grid = nullptr;
            if (GridTable && index > 0) ReleaseGrid(index);
        }
        if (st.Statistics) {
            st.Statistics->Close();
            st.Statistics.reset();
        }
    }
    SoilTracers.clear();
}

void unsatzonmodellklasse::TracerCellBegin(int i, int j) {
    const size_t cell = static_cast<size_t>(i) * (static_cast<size_t>(NCols) + 1) + static_cast<size_t>(j);
    for (size_t k = 1; k < SoilTracers.size(); ++k) {
        SoilTracer& st = SoilTracers[k];
        st.QDConc[i][j] = st.QIConc[i][j] = 0;
        st.BaseflowLoad[cell] = st.BaseflowWater[cell] = 0;
    }
}

void unsatzonmodellklasse::TracerStepBegin(int i, int j, unsatzon::ColumnWork& w, std::span<const double> theta) {
    const int L = maxLayers;
    std::copy(theta.begin(), theta.end(), w.thetaBefore.begin());
    if (GroundwaterActive != 1) return;
    // Below the groundwater layer the water is the groundwater model's.
    const SoilType& soil = CellSoil(i, j);
    const int g = static_cast<int>(GroundwaterLevel[i][j]);
    for (size_t k = 1; k < SoilTracers.size(); ++k) {
        SoilTracer& st = SoilTracers[k];
        if (!st.Groundwater) continue;
        const double cgw = st.Groundwater[i][j];
        double* U = st.Stack[i][j];
        for (int l = std::max(1, g + 1); l <= L; ++l)
            U[l] = Tracers[k].evaporating ? cgw : 1000 * cgw * theta[l] * soil.thickness[static_cast<size_t>(l)];
    }
}

void unsatzonmodellklasse::TracerColumnStep(int i, int j, int step, int g, int iterationSteps, double mm,
                                            unsatzon::ColumnWork& w, std::span<const double> theta,
                                            std::span<const double> interfaceFlux, double pondStart, double pondEnd,
                                            const TracerSurface& surface) {
    const int L = maxLayers;
    const size_t n1 = static_cast<size_t>(L) + 1;
    const SoilType& soil = CellSoil(i, j);
    unsatzon::TracerColumnWater water;
    water.Layers = L;
    water.GroundwaterLayer = std::clamp(g, 1, L);
    water.mmPerRate = mm;
    water.thickness = std::span<const double>(soil.thickness.data(), n1);
    water.thetaBefore = w.thetaBefore;
    water.thetaStart = w.thetaStart;
    water.thetaNew = theta;
    water.thetaSat = std::span<const double>(soil.theta_sat.data(), n1);
    water.interfaceFlux = interfaceFlux;
    water.layerInterflow = w.layerInterflow;
    water.riverInfiltration = w.riverInfiltration;
    water.riverExfiltration = w.riverExfiltration;
    water.capillarySupply = w.capillarySupply;
    water.baseflowWithdrawal = w.baseflowWithdrawal;
    water.macroporeInflow = w.macroporeInflow;
    water.PondStart = pondStart;
    water.Rain = surface.Rain;
    water.SurfaceSilting = std::max(0.0, surface.Silting - surface.DirectSilting);
    water.DirectSilting = surface.DirectSilting;
    water.SurfaceLeft = surface.SurfaceLeft;
    water.DirectRunoff = surface.Direct;
    water.PondEnd = pondEnd;
    // Water of the aquifer below the column [mm] per unit of its water
    // content: the solutes held as concentrations count the pore volume of
    // the lowest layer, those held as amounts that of the groundwater layer.
    double aquiferDepth = 0;
    if (GroundwaterActive == 1 && TracerAquiferThickness) {
        const double below = GeodeticHeads[i][j][0] - GeodeticHeads[i][j][L];
        aquiferDepth = std::max(0.0, 1000 * (TracerAquiferThickness[i][j] - below));
    }
    double baseflowWater = 0;
    for (int l = 1; l <= L; ++l) baseflowWater += std::max(0.0, w.baseflowWithdrawal[static_cast<size_t>(l)]) * mm;
    double exfiltration = 0;
    for (int l = 1; l <= L; ++l) exfiltration += std::max(0.0, w.riverExfiltration[static_cast<size_t>(l)]) * mm;
    int riverRank = 0;
    if (TracerRiverLinks && !RiverFlows.empty()) {
        const double code = TracerRiverLinks[i][j];
        if (code >= 1 && code <= Subbasins.LargestCode) riverRank = Subbasins.CodeToRank[static_cast<int>(code)];
        if (riverRank < 1 || riverRank > Subbasins.Count) riverRank = 0;
    }
    const size_t cell = static_cast<size_t>(i) * (static_cast<size_t>(NCols) + 1) + static_cast<size_t>(j);

    for (size_t k = 1; k < SoilTracers.size(); ++k) {
        SoilTracer& st = SoilTracers[k];
        const TracerInfo& tracer = Tracers[k];
        std::span<double> U(st.Stack[i][j], n1);
        unsatzon::TracerKind kind;
        kind.Evaporating = tracer.evaporating != 0;
        kind.MaxConc = tracer.max_conc;
        // Once per sub-step, like the aquifer in the groundwater model:
        // decaying a little in every iteration step would mix loads of
        // different ages with the aquifer whenever a sub-step has more than
        // one iteration step.
        kind.Decay = tracer.radioactive == 1
                         ? unsatzon::TracerDecayOfIterationStep(st.DecayPerSubStep, step, iterationSteps)
                         : 1.0;
        unsatzon::TracerInflowConcentrations in;
        in.Input = st.Input ? st.Input[i][j] : 0.0;
        in.Silting = st.SiltingFlux ? st.SiltingFlux[i][j] : in.Input;
        water.AquiferWater =
            aquiferDepth * soil.theta_sat[static_cast<size_t>(kind.Evaporating ? L : water.GroundwaterLayer)];
        double* aquifer = st.Groundwater && water.AquiferWater > 0 ? &st.Groundwater[i][j] : nullptr;
        if (st.Groundwater) {
            in.Supply = st.Groundwater[i][j];
        } else {
            // Without a groundwater model the water from below is that of the lowest layer.
            const double lowest = 1000 * w.thetaBefore[static_cast<size_t>(L)] * soil.thickness[static_cast<size_t>(L)];
            in.Supply = kind.Evaporating ? U[L] : (lowest > 0 ? U[L] / lowest : 0.0);
        }
        if (riverRank > 0) in.River = RiverFlows[static_cast<size_t>(riverRank)].flow_mm[k];
        const double before = TracerObserver ? unsatzon::TracerColumnAmount(U, kind.Evaporating, w.thetaBefore,
                                                                          water.thickness, L, pondStart)
                                             : 0.0;
        const unsatzon::TracerColumnLoads loads =
            unsatzon::TransportTracerColumn(water, in, kind, U, aquifer, w.tracerScratch);
        // Loads of the sub-step; concentrations follow at the cell's end.
        st.QDConc[i][j] += loads.Direct;
        st.QIConc[i][j] += loads.Interflow;
        if (GroundwaterActive == 1) {
            st.BaseflowLoad[cell] += loads.Exfiltration;
            st.BaseflowWater[cell] += exfiltration;
        } else {
            st.BaseflowLoad[cell] += loads.Baseflow;
            st.BaseflowWater[cell] += baseflowWater;
        }
        if (TracerObserver) {
            TracerStepRecord record;
            record.Row = i;
            record.Column = j;
            record.Tracer = static_cast<int>(k);
            record.Step = step;
            record.Before = before;
            record.After = unsatzon::TracerColumnAmount(U, kind.Evaporating, theta, water.thickness, L, pondEnd);
            record.Loads = loads;
            TracerObserver(record);
        }
    }
}

void unsatzonmodellklasse::TracerCellEnd(int i, int j) {
    const double direct = DirectFlow[i][j], inter = InterFlow[i][j];
    for (size_t k = 1; k < SoilTracers.size(); ++k) {
        if (!Tracers[k].evaporating) continue;
        SoilTracer& st = SoilTracers[k];
        // Concentrations of the sub-step's water.
        st.QDConc[i][j] = direct > 0 ? st.QDConc[i][j] / direct : 0.0;
        st.QIConc[i][j] = inter > 0 ? st.QIConc[i][j] / inter : 0.0;
    }
}

void unsatzonmodellklasse::AddTracerRunoff(unsatzon::RunoffPartial& p, int row, int column, double A, double w) {
    // A cell of a response unit runs off like its master, solutes included.
    int r = row, c = column;
    if (MasterHydrologicResponseUnits && HydrologicResponseUnits && MasterHydrologicResponseUnits[r][c] == NoData) {
        const double unit = HydrologicResponseUnits[r][c];
        if (unit >= 1 && unit < static_cast<double>(HruMasters.size()) &&
            HruMasters[static_cast<size_t>(unit)].first > 0) {
            r = HruMasters[static_cast<size_t>(unit)].first;
            c = HruMasters[static_cast<size_t>(unit)].second;
        }
    }
    const size_t cell = static_cast<size_t>(r) * (static_cast<size_t>(NCols) + 1) + static_cast<size_t>(c);
    const double qD = DirectFlow[r][c], qI = InterFlow[r][c];
    for (size_t k = 1; k < SoilTracers.size() && k < 10; ++k) {
        const SoilTracer& st = SoilTracers[k];
        unsatzon::RunoffPartial::Solute& s = p.Solutes[k];
        // Loads and flows weighted alike: sx / RelCellSum is a concentration.
        const bool evaporating = Tracers[k].evaporating != 0;
        s.DirectSx += A * (evaporating ? st.QDConc[r][c] * qD : st.QDConc[r][c]) * w;
        s.DirectN += qD * w;
        s.DirectWeight += A * qD * w;
        s.InterSx += A * (evaporating ? st.QIConc[r][c] * qI : st.QIConc[r][c]) * w;
        s.InterN += qI * w;
        s.InterWeight += A * qI * w;
        const double Q = st.BaseflowWater[cell];
        if (Q > 0) {
            s.BaseSx += A * st.BaseflowLoad[cell] * w;
            s.BaseWeight += A * Q * w;
        }
    }
}

void unsatzonmodellklasse::FoldTracerRunoff(const unsatzon::RunoffPartial& p) {
    for (size_t k = 1; k < SoilTracers.size() && k < 10; ++k) {
        const unsatzon::RunoffPartial::Solute& s = p.Solutes[k];
        unsatzon::FlowTimeZone& d = zoneFZT_QD.Zones(static_cast<int>(k), p.Subbasin)[p.Zone];
        unsatzon::FlowTimeZone& i = zoneFZT_QI.Zones(static_cast<int>(k), p.Subbasin)[p.Zone];
        d.n += s.DirectN;
        d.sx += s.DirectSx;
        d.RelCellSum += s.DirectWeight;
        i.n += s.InterN;
        i.sx += s.InterSx;
        i.RelCellSum += s.InterWeight;
        SoilTracer& st = SoilTracers[k];
        st.BaseSum[static_cast<size_t>(p.Subbasin)] += s.BaseSx;
        st.BaseWeight[static_cast<size_t>(p.Subbasin)] += s.BaseWeight;
    }
}

void unsatzonmodellklasse::EndTimeStepTracers() {
    if (SoilTracers.size() < 2) return;
    const int n = Subbasins.Count;
    double** qb = QBb.Rows();
    double** qii = QIi.Rows();
    double** qdd = QDd.Rows();
    double** qg = Qg.Rows();
    // The top layer's concentration of every tracer, in one pass over the
    // rows (every cell of the subbasin grid, within the row extents or not).
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(Cells()))
    for (int i = 1; i <= NRows; ++i) {
        for (int j = 1; j <= NCols; ++j) {
            if (!OwnModelCell(i, j)) continue;
            const double theta = Theta[i][j][1];
            const double water = theta * 1000 * CellSoil(i, j).thickness[1];
            for (size_t k = 1; k < SoilTracers.size(); ++k) {
                SoilTracer& st = SoilTracers[k];
                const double U1 = st.Stack[i][j][1];
                if (Tracers[k].evaporating != 0) {
                    st.Concentration[i][j] = U1;
                } else {
                    st.Concentration[i][j] = theta > 0.0001 ? U1 / water : 99999;
                }
            }
        }
    }
    for (size_t k = 1; k < SoilTracers.size(); ++k) {
        SoilTracer& st = SoilTracers[k];
        if (st.StackIndex > 0) WriteStackByCode(st.StackIndex);
        for (int s = 1; s <= n; ++s) {
            const size_t r = static_cast<size_t>(s);
            qb[k][s] = st.BaseWeight[r] > 0 ? st.BaseSum[r] / st.BaseWeight[r] : 0.0;
            st.BaseSum[r] = st.BaseWeight[r] = 0;
            const double Q = qb[0][s] + qii[0][s] + qdd[0][s];
            qg[k][s] = Q > 0 ? (qb[k][s] * qb[0][s] + qii[0][s] * qii[k][s] + qdd[0][s] * qdd[k][s]) / Q : 0.0;
            ZoneRecord& z = st.ZoneSums[r];
            z.n = 1;
            z.sx = qg[k][s];
            z.RelCellSum = 1;
        }
        if (st.Statistics) st.Statistics->CloseStep(StepYear, StepMonth, StepDay, StepHour);
    }
}

void unsatzonmodellklasse::AppendTracerPointRecords(bool writeFull) {
    if (!PointOutput) return;
    const int r = controlRow, c = controlColumn, L = maxLayers;
    for (size_t k = 1; k < SoilTracers.size(); ++k) {
        SoilTracer& st = SoilTracers[k];
        if (st.PointCapacity == 0) continue;
        if (st.PointFill < st.PointCapacity) {
            DatedRow& row = st.PointRows[static_cast<size_t>(++st.PointFill)];
            row.Year = StepYear;
            row.Month = StepMonth;
            row.Day = StepDay;
            row.Hour = StepHour;
            const SoilType& soil = CellSoil(r, c);
            for (int l = 1; l <= L; ++l) {
                const double U = st.Stack[r][c][l];
                if (Tracers[k].evaporating) {
                    row.Values[l] = U;
                } else {
                    const double theta = Theta[r][c][l];
                    row.Values[l] = theta > 1e-5 ? U / (soil.thickness[static_cast<size_t>(l)] * 1000 * theta) : 1e9;
                }
            }
        }
        if (writeFull && st.PointFill >= st.PointCapacity)
            WritePointBuffer(nullptr, st.PointFileName, &st.PointFill, st.PointRows.data(), 1, 0);
    }
}

void unsatzonmodellklasse::WriteTracerPointBuffers() {
    if (!PointOutput) return;
    for (size_t k = 1; k < SoilTracers.size(); ++k) {
        SoilTracer& st = SoilTracers[k];
        if (st.PointCapacity > 0)
            WritePointBuffer(nullptr, st.PointFileName, &st.PointFill, st.PointRows.data(), 1, 0);
    }
}

void unsatzonmodellklasse::FlushTracerStatistics() {
    for (size_t k = 1; k < SoilTracers.size(); ++k) {
        zonalstatistic* s = SoilTracers[k].Statistics.get();
        if (s && s->IsOn()) s->Flush();
    }
}
