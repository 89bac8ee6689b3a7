// The soil-column cell step: per active cell and sub-step the water offered
// to the surface, the pond, macropores, root uptake and soil evaporation,
// baseflow at the groundwater table, the iteration of the column solver, the
// table inside its layer, the recharge, the split of the surface water and
// the cell's output grids.

#include "soil/unsatzon_cell.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <span>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "soil/unsatzon.h"
#include "soil/unsatzon_column.h"
#include "soil/unsatzon_heat.h"
#include "soil/unsatzon_river.h"
#include "soil/unsatzon_uptake.h"

namespace unsatzon {

ColumnWork::ColumnWork(int layers, int vegetationLayers) : Layers(layers), VegetationLayers(vegetationLayers) {
    const size_t n = static_cast<size_t>(layers) + 1;
    for (auto* v : {&thetaStart, &thetaIter, &thetaTrial, &layerInterflow, &riverInfiltration, &riverExfiltration,
                    &suctionStart, &layerTranspiration, &layerEvaporation, &layerEtr, &rootFraction, &rootWeight,
                    &capillarySupply, &baseflowWithdrawal, &macroporeCapacity, &macroporeInflow})
        v->assign(n, 0.0);
    potTranspirationStep.assign(static_cast<size_t>(vegetationLayers) + 1, 0.0);
    realTranspirationStep.assign(static_cast<size_t>(vegetationLayers) + 1, 0.0);
    thetaBefore.assign(n, 0.0);
    tracerScratch.assign(3 * n, 0.0);
}

std::string DumpFileName(bool heat, bool theta, bool baseflow, int row, int column, int step, int64_t year,
                         int64_t month, int64_t day, int64_t hour) {
    char tail[96];
    std::snprintf(tail, sizeof tail, "dump_row_%d_col_%d_substep_%d_%" PRId64 "%02" PRId64 "%02" PRId64 "%02" PRId64
                  ".dmp", row, column, step, year, month, day, hour);
    return std::string(heat ? "h_" : "") + (theta ? "th_" : "") + (baseflow ? "dgw_" : "") + tail;
}

int64_t DumpFileSize(int layers, int vegetationLayers) {
    const int64_t n1 = layers + 1, V = vegetationLayers;
    return 4 + 3 * 8 + 8 * (V + 1) + 8 * 7 * n1 + 8 * 6 * n1 + 8 * n1 + 4 + 8 * V + 4 * 4 + 8 + 8;
}

bool WriteDumpFile(const std::string& name, const DumpSnapshot& s) {
    FILE* f = std::fopen(name.c_str(), "wb");
    if (!f) return false;
    bool ok = true;
    auto put = [&](const void* data, size_t size, size_t count) {
        if (count > 0 && std::fwrite(data, size, count, f) != count) ok = false;
    };
    put(&s.rootLayers, 4, 1);
    put(&s.meanSuction, 8, 1);
    put(&s.surfaceInfiltration, 8, 1);
    put(&s.baseflow, 8, 1);
    put(s.realTranspiration.data(), 8, s.realTranspiration.size());
    put(s.columnsA.data(), 8, s.columnsA.size());
    put(s.columnsB.data(), 8, s.columnsB.size());
    put(s.thetaNew.data(), 8, s.thetaNew.size());
    if (s.heat) {
        put(s.heatColumns.data(), 8, s.heatColumns.size());
        put(&s.heatStepSeconds, 8, 1);
    }
    put(&s.soilIndex, 4, 1);
    put(s.landuse.data(), 8, s.landuse.size());
    put(s.date, 4, 4);
    put(&s.iterationSteps, 8, 1);
    put(&s.stepSeconds, 8, 1);
    if (s.heat) {
        put(&s.heatSteps, 8, 1);
        put(&s.heatStepsPerIterationStep, 4, 1);
        put(&s.airTemperature, 8, 1);
    }
    if (std::fclose(f) != 0) ok = false;
    return ok;
}

bool TemperatureOutOfLine(int layers, const double* before, const double* after, double airAboveSurface) {
    constexpr double margin = 0.001;
    for (int k = 1; k <= layers - 1; ++k) {
        const double t = after[k];
        if (t < -50 || t > 50) return true;
        const double upBefore = k == 1 ? airAboveSurface : before[k - 1];
        const double upAfter = k == 1 ? airAboveSurface : after[k - 1];
        const double others[] = {before[k], upBefore, upAfter, before[k + 1], after[k + 1]};
        bool high = true, low = true;
        for (double o : others) {
            if (!(t > o + margin)) high = false;
            if (!(t < o - margin)) low = false;
        }
        if (high || low) return true;
    }
    return false;
}

std::string IterationReportLine(int64_t day, int64_t month, int64_t hour, int row, int column, int passes,
                                double lastChange) {
    char line[160];
    std::snprintf(line, sizeof line, "%2d.%2d., %2d h r=%3d, c=%3d : ziter=%3d, max_err = %lg \n",
                  static_cast<int>(day), static_cast<int>(month), static_cast<int>(hour), row, column, passes,
                  lastChange);
    return line;
}

}  // namespace unsatzon

namespace {

const char* const CloseAfterDumpText =
    "FATAL: \n\n -------- command line option -closeAfterDump active! "
    "---------------------------------------------\n\n"
    " a dumpfile has been written and Ruvex aborts now.\n"
    "-------------------------------------------------------------\n\n";

double ColumnWater(std::span<const double> theta, std::span<const double> thickness, int n) {
    double sum = 0;
    for (int k = 1; k <= n; ++k) sum += theta[k] * thickness[k];
    return 1000 * sum;
}

}  // namespace

// A soil column costs some 10 us a sub-step (the bench's soil phase: 0.1
// million cell-steps per second on one thread), about 300 times the cell of
// the inverse-distance pass that the parallel threshold was measured with:
// a few dozen columns already pay for a team of threads.
constexpr int64_t SoilColumnCostFactor = 256;

// The rows of soil columns go to whichever thread is free, one at a time: a
// column's cost follows its number of iteration steps, which rain, frost and
// the water table change from row to row and from step to step, and each row
// writes only its own cells, failure and report, so the result is the same
// whoever computes it. On the 400 x 300 valley over one day (8 threads, a
// machine shared with other work) the pass took 18.9 s with blocks of rows,
// 13.2 s with rows dealt out in turn and 10.0 s handed out on demand; the
// busiest thread's share of the work was 2.3 times the mean with blocks.

void unsatzonmodellklasse::SoilColumnRows(int64_t hour, int64_t day, int64_t month, int64_t year) {
    const int first = std::max(1, FirstRow), last = std::min(LastRow, NRows);
    std::vector<RowFailure> failures(static_cast<size_t>(NRows) + 1);
    std::vector<std::string> reports(static_cast<size_t>(NRows) + 1);
    auto runRow = [&](int row, bool riverCells) {
        RowFailure& failure = failures[static_cast<size_t>(row)];
        if (failure.Code != 0) return;
        try {
            SoilColumnRow(row, hour, day, month, year, failure, reports[static_cast<size_t>(row)], riverCells);
        } catch (...) {
            if (failure.Code == 0) {
                failure.Code = 103;
                failure.Message = "FATAL: kein Speicher mehr in the soil column step of row " + std::to_string(row);
            }
        }
    };
#pragma omp parallel for schedule(dynamic, 1) if (WorthThreads(Cells() * SoilColumnCostFactor))
    for (int row = first; row <= last; ++row) runRow(row, false);
    // The cells that take water from a river's flow, one after the other in
    // row and column order: each takes what it can of what is left.
    for (int row = first; row <= last; ++row)
        if (static_cast<size_t>(row) < RiverRows.size() && RiverRows[static_cast<size_t>(row)]) runRow(row, true);
    std::string report;
    for (const std::string& r : reports) report += r;
    if (!report.empty() && ProcessNumber == 0) {
        const std::string name = "modell_" + std::to_string(ProcessNumber) + ".log";
        FILE* log = std::fopen(name.c_str(), "a");
        bool ok = log && std::fwrite(report.data(), 1, report.size(), log) == report.size();
        if (log && std::fclose(log) != 0) ok = false;
        if (!ok) {
            if (Writer) *Writer << "FATAL: error opening log-file " << name << "[end-entry]";
            throw 5;
        }
    }
    for (const RowFailure& f : failures) {
        if (f.Code == 0) continue;
        if (Writer) *Writer << f.Message << "[end-entry]";
        throw f.Code;
    }
}

void unsatzonmodellklasse::ZeroCellOutputs(int i, int j) {
    if (DrainageFlow) DrainageFlow[i][j] = 0;
    if (RiverInfiltration) RiverInfiltration[i][j] = 0;
    if (RiverExfiltration) RiverExfiltration[i][j] = 0;
    for (int v = 0; v <= vegetationLayers; ++v) RealTranspiration[v][i][j] = 0;
    RealEvaporation[i][j] = 0;
    InfiltrationExcess[i][j] = 0;
    TotalInfiltration[i][j] = 0;
    DirectFlow[i][j] = 0;
    InterFlow[i][j] = 0;
    if (PondingStorage) PondingStorage[i][j] = 0;
    Percolation[i][j] = 0;
    CapillarUprise[i][j] = 0;
    GroundwaterRecharge[i][j] = 0;
    MacroporeInfiltration[i][j] = 0;
    if (NumberOfSubsteps) NumberOfSubsteps[i][j] = 0;
    Baseflow[i][j] = 0;
}

void unsatzonmodellklasse::SoilColumnRow(int i, int64_t hour, int64_t day, int64_t month, int64_t year,
                                         RowFailure& failure, std::string& report, bool riverCells) {
    const RowExtent& extent = RowExtents[i];
    if (extent.last < extent.first) return;
    const int n = maxLayers;
    const int V = vegetationLayers;
    const size_t n1 = static_cast<size_t>(n) + 1;
    const int S = std::max(1, SubSteps);
    const double subStepSeconds = 60 * TimeInterval / S;
    unsatzon::ColumnWork w(n, V);
    unsatzon::DumpSnapshot dump;
    const bool heat = heatTransferSwitch > 0 && SoilTemperature && AirTemperature && LowerBoundaryTemperature;
    unsatzon::HeatWork heatWork(heat ? n : 0);

    const bool anyRiver = static_cast<size_t>(i) < RiverRows.size() && RiverRows[static_cast<size_t>(i)];
    for (int j = extent.first; j <= extent.last; ++j) {
        if ((anyRiver && OwnModelCell(i, j) && DrawsOnRiver(i, j)) != riverCells) continue;
        // Every cell shows the flux through its surface as a grid.
        auto copyTopFlux = [&] {
            if (QDownGrid) QDownGrid[i][j] = QDown[i][j][0];
            if (QDownExt) QDownExt[i][j] = QDown[i][j][0];
        };
        if (!OwnModelCell(i, j)) {
            copyTopFlux();
            continue;
        }
        const double glacier = GlacierFraction ? std::clamp(GlacierFraction[i][j], 0.0, 1.0) : 0.0;
        const bool master = !MasterHydrologicResponseUnits || MasterHydrologicResponseUnits[i][j] != NoData;
        if (!master) {
            copyTopFlux();
            continue;
        }
        if (glacier >= 1) {
            ZeroCellOutputs(i, j);
            copyTopFlux();
            continue;
        }

        // Cell set-up.
        if (DrainageFlow) DrainageFlow[i][j] = 0;
        if (RiverInfiltration) RiverInfiltration[i][j] = 0;
        if (RiverExfiltration) RiverExfiltration[i][j] = 0;
        DirectFlow[i][j] = InterFlow[i][j] = MacroporeInfiltration[i][j] = GroundwaterRecharge[i][j] = 0;
        Percolation[i][j] = CapillarUprise[i][j] = InfiltrationExcess[i][j] = TotalInfiltration[i][j] = 0;
        std::fill(w.layerTranspiration.begin(), w.layerTranspiration.end(), 0.0);
        std::fill(w.layerEvaporation.begin(), w.layerEvaporation.end(), 0.0);
        std::fill(w.layerEtr.begin(), w.layerEtr.end(), 0.0);
        std::fill(w.rootFraction.begin(), w.rootFraction.end(), 0.0);

        const int code = static_cast<int>(SubbasinGrid[i][j]);
        const int rank = code >= 0 && code <= Subbasins.LargestCode ? Subbasins.CodeToRank[code] : 0;
        if (rank < 1 || rank > Subbasins.Count) {
            failure = {22, "FATAL: the soil model finds no subbasin for the zone code " + std::to_string(code) +
                               " in row " + std::to_string(i) + ", column " + std::to_string(j)};
            return;
        }
        const SoilType& soil = CellSoil(i, j);
        const int soilIndex = static_cast<int>(SoilTypeGrid[i][j]);
        const double drainSpacing = DrainageDistance ? DrainageDistance[i][j] : 0;
        std::span<const double> thickness(soil.thickness.data(), n1);
        std::span<const double> thetaSat(soil.theta_sat.data(), n1);
        std::span<const double> thetaRes(soil.theta_res.data(), n1);
        std::span<double> theta(Theta[i][j], n1);
        std::span<double> head(HydraulicHeads[i][j], n1);
        std::span<const double> elevation(GeodeticHeads[i][j], n1);
        std::span<double> flux(QDown[i][j], n1);

        // Land use of each vegetation layer (0: none).
        int landuse[64] = {};
        for (int v = 1; v <= V && v < 64; ++v) {
            const double position = Landuse[v][i][j];
            if (!(position > NoData)) continue;
            if (!(position >= 1 && position <= Settings.LanduseCount) || !Settings.LanduseTable) {
                failure = {22, "FATAL: the land use " + std::to_string(position) + " of vegetation layer " +
                                   std::to_string(v) + " in row " + std::to_string(i) + ", column " +
                                   std::to_string(j) + " is not in the land-use table"};
                return;
            }
            landuse[v] = static_cast<int>(position);
        }

        // Soil heat: a trial over the whole model step sets the heat steps.
        double nFactor = 1;
        int heatSteps = 1;
        if (heat) {
            nFactor = CellNFactor(landuse[1], AirTemperature[i][j]);
            const double trial = HeatTrial(i, j, soil, theta.data(), nFactor, heatWork);
            heatSteps = unsatzon::HeatStepCount(trial, AirTemperature[i][j], SoilTemperature[i][j][1],
                                                60 * TimeInterval, dTModShortestStep, dTModLongestStep);
        }

        // Step lengths.
        const double input = WaterInput && WaterInput[i][j] > 0 ? WaterInput[i][j] : 0.0;
        int U = 1;
        if (solverMethod >= 3) {
            double shortest = std::numeric_limits<double>::infinity();
            const int g0 = static_cast<int>(GroundwaterLevel[i][j]);
            for (int k = 1; k <= n && (k == 1 || k < g0); ++k) {
                const double f = heat ? std::max(0.5, heatWork.unfrozen[static_cast<size_t>(k)]) : 1.0;
                const double krel = input != 0 ? 1.0 : soil.KrelFromTheta(k, theta[k], f);
                if (!(krel > 0) || !(soil.ksat[static_cast<size_t>(k)] > 0)) continue;
                shortest = std::min(shortest, thickness[k] / (krel * soil.ksat[static_cast<size_t>(k)]));
            }
            U = unsatzon::DynamicIterationSteps(subStepSeconds, dParameterMinStep, shortest);
        }
        const int heatStepsPerIterationStep = unsatzon::ReconcileHeatSteps(U, heatSteps);
        const double heatSeconds = 60 * TimeInterval / S / heatSteps;
        const double dt = subStepSeconds / U;
        const double mm = 60000 * TimeInterval / S / U;

        // The cell's river, when the groundwater model is on.
        int riverRank = 0;
        const bool river = GroundwaterActive == 1 && RiverOfCell(i, j, riverRank);
        unsatzon::RiverCell riverCell;
        if (river) {
            riverCell = {RiverDepth[i][j], RiverWidth[i][j], Kolmation[i][j], CellSize,
                         surfaceWaterInteraction == 2 && riverRank > 0};
            if (riverCell.infiltration) {
                const riverflow_table& r = RiverFlows[static_cast<size_t>(riverRank)];
                riverCell.flowm3s = r.flowm3s;
                riverCell.speed = r.speed;
            }
        }

        // With the groundwater model on, the saturated zone of the column is
        // its first layer: what its flows between cells and layers took from
        // that layer (negative: gave to it) in the last sub-step, as a rate
        // [m/s] in "baseflow", is drained from (or supplied to) the column.
        // The groundwater model counts that rate over the whole cell; on a
        // partly glacierized cell the whole of it falls on the ice-free
        // column.
        double groundwaterRate = 0;
        if (GroundwaterActive == 1 && std::isfinite(Baseflow[i][j]) && Baseflow[i][j] != NoData)
            groundwaterRate = Baseflow[i][j] / (1 - glacier);
        double baseflowSum = 0;  // [mm] withdrawn (negative: supplied) over the iteration steps
        double largestRoot = 0;
        if (!SoilTracers.empty()) TracerCellBegin(i, j);
        for (int step = 1; step <= U; ++step) {
            IterationStepRecord record;
            record.Row = i;
            record.Column = j;
            record.Step = step;
            record.SoilStart = ColumnWater(theta, thickness, n);
            if (!SoilTracers.empty()) TracerStepBegin(i, j, w, theta);

            // Potentials and amounts of the iteration step [mm].
            for (int v = 0; v <= V; ++v) {
                w.potTranspirationStep[static_cast<size_t>(v)] = std::max(0.0, PotTranspiration[v][i][j]) / S / U;
                w.realTranspirationStep[static_cast<size_t>(v)] = 0;
            }
            const double potEvaporation = std::max(0.0, PotEvaporation[i][j]) / S / U;
            double silting = 0;
            if (SiltingUp && SiltingUp[i][j] > 0) {
                if (!SiltingUpIsSurfaceStorage)
                    silting = SiltingUp[i][j] / (S * U);  // direct runoff of the whole model step
                else if (SurfaceRoutingActive)  // refilled by surface routing every sub-step; mm over
                    silting = SiltingUp[i][j] / U / (1 - glacier);  // the cell to its ice-free part
            }
            for (auto* v : {&w.layerInterflow, &w.riverInfiltration, &w.riverExfiltration, &w.capillarySupply,
                            &w.baseflowWithdrawal, &w.layerEvaporation, &w.layerTranspiration, &w.layerEtr,
                            &w.macroporeInflow})
                std::fill(v->begin(), v->end(), 0.0);
            std::fill(flux.begin(), flux.end(), 0.0);

            int clayLayer = 0;
            if (ClayDepth && ClayDepth[i][j] > 0) {
                double depth = 0;
                for (int k = 1; k <= n; ++k) {
                    depth += thickness[k];
                    clayLayer = k;
                    if (depth >= ClayDepth[i][j]) break;
                }
                if (depth < ClayDepth[i][j]) clayLayer = 0;
            }

            double X = input / S / U;
            record.Offered = X + silting;
            TracerSurface tracerSurface{X, silting};
            double W = 0;  // snowmelt runoff [mm]
            if (SnowStorage && SnowStorage[i][j] > 10 && X > 0) {
                W = SnowRunoff_fraction[static_cast<size_t>(rank)] * X;
                X -= W;
            }
            // The pond or the silting-up amount first serves the transpiration.
            auto supplyTranspiration = [&](double& source) {
                for (int v = 1; v <= V; ++v) {
                    if (!landuse[v]) continue;
                    double& pot = w.potTranspirationStep[static_cast<size_t>(v)];
                    const double take = std::min(source, pot);
                    if (!(take > 0)) continue;
                    source -= take;
                    pot -= take;
                    w.realTranspirationStep[static_cast<size_t>(v)] += take;
                }
            };
            const bool ponding = MaxPonding && PondingStorage && MaxPonding[i][j] > 0;
            double directSilting = 0;  // [mm]
            if (ponding) {
                double& pond = PondingStorage[i][j];
                record.PondStart = pond;
                pond += silting + W;
                supplyTranspiration(pond);
                X += pond;
                pond = X;
                silting = W = 0;
            } else if (SiltingUpIsSurfaceStorage) {
                supplyTranspiration(silting);
                X += silting;
            } else {
                directSilting = silting;
            }
            double surfaceInfiltration = X / mm;  // [m/s], downward
            const double directRate = W / mm;
            tracerSurface.SurfaceLeft = (surfaceInfiltration + directRate) * mm;
            tracerSurface.DirectSilting = directSilting;

            double macropores = 0;
            // No macropores under a lake that holds water.
            const bool lakeWithWater = LakeCodes && LakeCodes[i][j] != NoData && PondingStorage &&
                                       PondingStorage[i][j] >= 1;
            if (LakesActive == 0 || (LakesActive == 1 && !lakeWithWater))
                macropores = unsatzon::MacroporeInfiltration(surfaceInfiltration, soil, n, thickness,
                                                             w.macroporeCapacity, thetaSat, mm, theta,
                                                             w.macroporeInflow);
            int inputDepthLayer = 1;

            // Root uptake and soil evaporation.
            int g = std::clamp(static_cast<int>(GroundwaterLevel[i][j]), 1, n);
            double evaporation = 0;  // [mm]
            int rootLayers = 0;
            for (int v = 1; v <= V; ++v) {
                if (!landuse[v]) continue;
                const LanduseType& use = Settings.LanduseTable[landuse[v]];
                const double transpirationRate = w.potTranspirationStep[static_cast<size_t>(v)] / mm;
                const double cover = std::max(0.0, Coverage[v][i][j]);
                double rootDepth = RootDepth[v][i][j];
                const bool lowest = v == V || Landuse[v + 1][i][j] == NoData;
                const double evaporationRate = lowest ? potEvaporation / mm : 0.0;
                std::fill(w.layerTranspiration.begin(), w.layerTranspiration.end(), 0.0);
                std::fill(w.layerEvaporation.begin(), w.layerEvaporation.end(), 0.0);
                const unsatzon::RootParameters p{use.GetRootDist(), use.GetHReduDry(), use.GetTReduWet(),
                                                 use.GetLimitReduWet()};
                rootLayers = unsatzon::RootWaterUptake(soil, p, evaporationRate, dt, soil.EvapMaxDepth, rootDepth,
                                                       cover, transpirationRate, n, thickness, thetaSat, thetaRes,
                                                       theta, elevation, w.rootFraction, w.layerTranspiration,
                                                       w.layerEtr, w.rootWeight, w.layerEvaporation, g);
                largestRoot = std::max(largestRoot, rootDepth);
                const double taken = unsatzon::ApplyRootUptake(soil, rootLayers, g, n, dt, thickness, thetaRes,
                                                               theta, w.layerTranspiration);
                const double evaporated = unsatzon::ApplySoilEvaporation(rootLayers, dt, thickness,
                                                                         w.layerEvaporation, theta, inputDepthLayer);
                w.realTranspirationStep[static_cast<size_t>(v)] += taken * mm;
                evaporation += evaporated * mm;
            }
            double realTotal = evaporation;
            for (int v = 1; v <= V; ++v)
                if (landuse[v]) realTotal += w.realTranspirationStep[static_cast<size_t>(v)];
            w.realTranspirationStep[0] = realTotal;

            // Baseflow at the groundwater table [m/s].
            // With the groundwater model on, the saturated zone drains there.
            double baseflow = groundwaterRate;
            if (GroundwaterActive == 0) {
                baseflow = unsatzon::BaseflowLaw(qbRedFaktor[static_cast<size_t>(rank)], GroundwaterDistance[i][j],
                                                 kelsqlat[static_cast<size_t>(rank)]) /
                           (S * mm * U);
            }
            if (baseflow < 0) unsatzon::SupplyFromBelow(-baseflow, n, dt, thickness, thetaSat, theta, w.capillarySupply);
            g = unsatzon::GroundwaterLayerOf(n, thetaSat, theta);
            if (baseflow > 0) {
                double unmet = unsatzon::DrainBaseflow(soil, baseflow, g, n, dt, thickness, theta,
                                                       w.baseflowWithdrawal);
                // The groundwater model has already moved this water on: a
                // column without water above field capacity gives it from
                // below, or the water moved on would come from nowhere.
                if (unmet > 0 && GroundwaterActive == 1)
                    unmet = unsatzon::DrainBelowFieldCapacity(unmet, n, dt, thickness, thetaRes, theta,
                                                              w.baseflowWithdrawal);
                baseflow -= unmet;
            }
            GroundwaterLevel[i][j] = g;
            Baseflow[i][j] = baseflow;
            baseflowSum += baseflow * mm;

            std::copy(theta.begin(), theta.end(), w.thetaStart.begin());
            std::copy(theta.begin(), theta.end(), w.thetaIter.begin());
            std::copy(theta.begin(), theta.end(), w.thetaTrial.begin());

            unsatzon::SoilColumn c;
            c.LayerCount = n;
            c.GroundwaterLayer = g;
            c.InputDepthLayer = inputDepthLayer;
            c.thetaStart = w.thetaStart;
            c.thetaIter = w.thetaIter;
            c.thetaNew = theta;
            c.thetaTrial = w.thetaTrial;
            c.interfaceFlux = flux;
            c.layerInterflow = w.layerInterflow;
            c.riverInfiltration = w.riverInfiltration;
            c.riverExfiltration = w.riverExfiltration;
            c.layerThickness = thickness;
            c.boundaryElevation = elevation;
            c.hydraulicHead = head;
            c.suctionStart = w.suctionStart;
            c.thetaSat = thetaSat;
            c.thetaRes = thetaRes;
            if (heat) c.unfrozenFraction = heatWork.unfrozen;

            if (DumpMode) {
                dump.rootLayers = rootLayers;
                dump.surfaceInfiltration = surfaceInfiltration;
                dump.baseflow = baseflow;
                dump.realTranspiration = w.realTranspirationStep;
                dump.columnsA.clear();
                for (const std::vector<double>* v : {&w.riverInfiltration, &w.riverExfiltration, &w.suctionStart,
                                                     &w.thetaStart, &w.thetaIter})
                    dump.columnsA.insert(dump.columnsA.end(), v->begin(), v->end());
                dump.columnsA.insert(dump.columnsA.end(), head.begin(), head.end());
                dump.columnsA.insert(dump.columnsA.end(), elevation.begin(), elevation.end());
                dump.columnsB.assign(flux.begin(), flux.end());
                dump.columnsB.insert(dump.columnsB.end(), w.layerInterflow.begin(), w.layerInterflow.end());
                dump.columnsB.insert(dump.columnsB.end(), thetaSat.begin(), thetaSat.end());
                dump.columnsB.insert(dump.columnsB.end(), thickness.begin(), thickness.end());
                dump.columnsB.insert(dump.columnsB.end(), w.thetaTrial.begin(), w.thetaTrial.end());
                dump.columnsB.insert(dump.columnsB.end(), thetaRes.begin(), thetaRes.end());
                dump.thetaNew.assign(theta.begin(), theta.end());
                dump.soilIndex = soilIndex;
                dump.landuse.assign(static_cast<size_t>(V), 0.0);
                for (int v = 1; v <= V; ++v) dump.landuse[static_cast<size_t>(v - 1)] = Landuse[v][i][j];
                dump.date[0] = static_cast<int32_t>(StepHour);
                dump.date[1] = static_cast<int32_t>(StepDay);
                dump.date[2] = static_cast<int32_t>(StepMonth);
                dump.date[3] = static_cast<int32_t>(StepYear);
                dump.iterationSteps = U;
                dump.stepSeconds = dt;
                dump.heat = heat;
                if (heat) {
                    const double* T = SoilTemperature[i][j];
                    dump.heatColumns.clear();
                    for (const std::vector<double>* v : {&heatWork.unfrozen})
                        dump.heatColumns.insert(dump.heatColumns.end(), v->begin(), v->end());
                    dump.heatColumns.insert(dump.heatColumns.end(), T, T + n1);
                    for (const std::vector<double>* v : {&heatWork.conductivity, &heatWork.slope, &heatWork.capacity,
                                                         &heatWork.flux, &heatWork.start})
                        dump.heatColumns.insert(dump.heatColumns.end(), v->begin(), v->end());
                    dump.heatStepSeconds = heatSeconds;
                    dump.heatSteps = heatSteps;
                    dump.heatStepsPerIterationStep = heatStepsPerIterationStep;
                    dump.airTemperature = AirTemperature[i][j];
                }
            }

            // The iteration.
            unsatzon::FluxSettings fs;
            fs.permafrost = PermafrostThawDepth && PermafrostThawDepth[i][j] > NoData;
            fs.permafrostThawDepth = fs.permafrost ? PermafrostThawDepth[i][j] : 0;
            fs.permafrostKsat = reducedKsatPermafrost;
            fs.clayLayer = clayLayer;
            fs.clayKsat = ksatClay;
            fs.drainageDensity = channelNetworkDensity[static_cast<size_t>(rank)];
            fs.tanBeta = TangensBeta[i][j];
            fs.drainage = DrainageFlow && DrainageLevel;
            fs.drainageLevel = DrainageLevel ? static_cast<int>(DrainageLevel[i][j]) : 0;
            fs.drainSpacing = drainSpacing;
            fs.cellSize = CellSize;
            const unsatzon::RiverSettings rs{GroundwaterActive == 1, surfaceWaterInteraction};
            const double distance = GroundwaterDistance[i][j];
            // What the river has left of the model step's water, as a rate
            // over this iteration step [m3/s].
            if (riverCell.infiltration)
                riverCell.available = RiverQuota[static_cast<size_t>(riverRank)] * (60 * TimeInterval) / dt;
            int passCount = 0;
            const unsatzon::IterationResult it =
                unsatzon::Iterate(max_error, max_iterations, [&](int pass) {
                    unsatzon::HydraulicHeads(soil, c, pass - 1, distance);
                    if (river) unsatzon::RiverExchange(soil, c, riverCell, distance, dt);
                    unsatzon::ComputeFluxes(soil, c, fs, surfaceInfiltration, dt);
                    unsatzon::RedistributeExcessWater(c, rs, 10, dt);
                    return unsatzon::UpdateTheta(c, pass, dt, passCount);
                });
            record.Passes = it.passes;
            bool temperatureFlag = false;
            if (heat && DumpMode) std::copy(SoilTemperature[i][j], SoilTemperature[i][j] + n1, heatWork.trial.begin());
            if (heat)
                for (int h = 0; h < heatStepsPerIterationStep; ++h)
                    HeatStep(i, j, soil, theta.data(), flux.data(), w.macroporeInflow.data(), nFactor, heatSeconds,
                             heatWork);
            if (heat && DumpMode)
                temperatureFlag = unsatzon::TemperatureOutOfLine(n, heatWork.trial.data(), SoilTemperature[i][j],
                                                                 AirTemperature[i][j] * nFactor);
            if (DumpMode) {
                const int last = unsatzon::HeadsLastLayer(c);
                if (last >= 1)
                    dump.meanSuction = (soil.SuctionFromTheta(last, w.thetaIter[static_cast<size_t>(last)]) +
                                        w.suctionStart[static_cast<size_t>(last)]) / 2;
            }

            // Dump mode: a column outside its plausible range is written out.
            if (DumpMode) {
                const bool dgw = Baseflow[i][j] < -10 || Baseflow[i][j] > 10;
                bool th = false;
                for (int k = 1; k <= n; ++k)
                    if (theta[k] < 0 || theta[k] > thetaSat[k] + 0.001) th = true;
                if (dgw || th || temperatureFlag) {
                    const std::string name =
                        unsatzon::DumpFileName(temperatureFlag, th, dgw, i, j, step, year, month, day, hour);
                    if (!unsatzon::WriteDumpFile(name, dump)) {
                        failure = {21, "FATAL: the dump file " + name + " could not be written"};
                        return;
                    }
                    if (CloseAfterDump) {
                        failure = {199, CloseAfterDumpText};
                        return;
                    }
                }
            }
            if (it.passes > unsatzon::ReportedPasses && ProcessNumber == 0)
                report += unsatzon::IterationReportLine(StepDay, StepMonth, StepHour, i, j, it.passes, it.lastChange);

            // The groundwater table inside its layer.
            const double tableBefore = GroundwaterDistance[i][j] + elevation[0];
            double interflow = 0;
            for (int k = 1; k <= n; ++k) interflow += w.layerInterflow[static_cast<size_t>(k)];
            const double dzg = thickness[g];
            const double loss = flux[g - 1] + w.layerTranspiration[static_cast<size_t>(g)] +
                                w.layerEvaporation[static_cast<size_t>(g)] + baseflow +
                                w.layerInterflow[static_cast<size_t>(g)] +
                                (GroundwaterActive == 1 ? w.riverExfiltration[static_cast<size_t>(g)] -
                                                              w.riverInfiltration[static_cast<size_t>(g)]
                                                        : 0.0);
            if (loss > 0 && dzg > 0) {
                const double fieldCapacity = soil.ThetaFromSuction(g, unsatzon::FieldCapacitySuctionM);
                const double lowered = ThetaInGwLevel[i][j] - loss * dt / dzg;
                ThetaInGwLevel[i][j] = std::max(lowered, std::min(ThetaInGwLevel[i][j], fieldCapacity));
            }
            const double tableAfter =
                unsatzon::GroundwaterTableElevation(g, elevation, theta, thetaSat, thickness, ThetaInGwLevel[i][j]);
            GroundwaterDistance[i][j] = tableAfter - elevation[0];
            const double recharge = unsatzon::GroundwaterRecharge(
                ExternalTableFlag != 0, g, tableBefore, tableAfter, mm, elevation, theta, thetaSat, w.thetaStart,
                thickness, flux,
                baseflow + w.capillarySupply[0] +
                    (GroundwaterActive == 1 ? c.riverExfiltrationTotal - c.riverInfiltrationTotal : 0.0));
            // River water the column took, booked as a mean rate over the
            // model step [m3/s], so that the routing removes exactly that water.
            if (riverCell.infiltration && c.riverInfiltrationTotal != 0) {
                const double taken = c.riverInfiltrationTotal * CellSize * CellSize * dt / (60 * TimeInterval);
                RiverWithdrawal[static_cast<size_t>(i) * static_cast<size_t>(NCols + 1) + j] += taken;
                double& left = RiverQuota[static_cast<size_t>(riverRank)];
                left = std::max(0.0, left - taken);
            }

            // The surface water of the step [mm].
            const double q0 = flux[0];
            const double infiltrated = q0 < 0 ? -q0 * mm : 0.0;
            double excess = 0, direct = 0;
            if (ponding) {
                double& pond = PondingStorage[i][j];
                const double pondNow = (w.capillarySupply[0] + surfaceInfiltration + q0) * mm;
                const double maximum = MaxPonding[i][j];
                direct = std::max(0.0, pondNow - maximum);
                pond = std::min(pondNow, maximum);
                record.PondEnd = pond;
            } else {
                const double offered = (surfaceInfiltration + directRate) * mm;
                excess = std::max(0.0, offered + std::min(q0, 0.0) * mm);
                // Water pushed up through the surface runs off as well.
                direct = excess + w.capillarySupply[0] * mm + std::max(q0, 0.0) * mm + directSilting;
            }

            // Output grids of the iteration step.
            if (largestRoot > 0) {
                SB1[i][j] = unsatzon::MeanWaterContent(thickness, theta, thetaSat, n, 1, 0, largestRoot, NoData) /
                            largestRoot;
            } else {
                SB1[i][j] = theta[1];
            }
            MeanThetaInRootZone[i][j] = soil.SuctionFromTheta(1, SB1[i][j]);
            SB2[i][j] = 1000 * unsatzon::MeanWaterContent(thickness, theta, thetaSat, n, 1, 0, 9999, NoData);
            RootGrid[i][j] = 1000 * largestRoot;
            if (DrainageFlow) DrainageFlow[i][j] += c.drainageFlux * mm;
            if (RiverInfiltration) RiverInfiltration[i][j] += c.riverInfiltrationTotal * mm;
            if (RiverExfiltration) RiverExfiltration[i][j] += c.riverExfiltrationTotal * mm;
            DirectFlow[i][j] += direct;
            InterFlow[i][j] += interflow * mm;
            MacroporeInfiltration[i][j] += macropores;
            for (int v = 0; v <= V; ++v) {
                if (v > 0 && !landuse[v]) continue;
                RealTranspiration[v][i][j] += w.realTranspirationStep[static_cast<size_t>(v)];
            }
            GroundwaterRecharge[i][j] += recharge;
            if (recharge >= 0)
                Percolation[i][j] += recharge;
            else
                CapillarUprise[i][j] += recharge;
            RealEvaporation[i][j] += evaporation;
            InfiltrationExcess[i][j] += excess;
            TotalInfiltration[i][j] += infiltrated;
            if (NumberOfSubsteps) NumberOfSubsteps[i][j] = U;
            if (!SoilTracers.empty()) {
                tracerSurface.Direct = direct;
                TracerColumnStep(i, j, step, g, U, mm, w, theta, flux, record.PondStart, record.PondEnd,
                                 tracerSurface);
            }

            if (StepObserver) {
                record.SoilEnd = ColumnWater(theta, thickness, n);
                record.Transpiration = w.realTranspirationStep[0];
                record.DirectRunoff = direct;
                record.Interflow = interflow * mm;
                record.Baseflow = baseflow * mm;
                record.RiverInfiltration = c.riverInfiltrationTotal * mm;
                record.RiverExfiltration = c.riverExfiltrationTotal * mm;
                StepObserver(record);
            }
        }

        if (!SoilTracers.empty()) TracerCellEnd(i, j);
        // After the last iteration step.
        const int g = std::clamp(static_cast<int>(GroundwaterLevel[i][j]), 1, n);
        if (GwStorageCoeff)
            GwStorageCoeff[i][j] =
                std::max(0.01, thetaSat[g] - soil.ThetaFromSuction(g, unsatzon::FieldCapacitySuctionM));
        if (heat) ThawDepthOfCell(i, j, soil, g, heatWork);
        // The water actually withdrawn or supplied in the sub-step.
        Baseflow[i][j] = baseflowSum;
        if (irrigationRules && Etr2Etp) {
            double ratio = 1;
            if (SBHigh && SBHigh[i][j] > SB1[i][j]) {
                double real = 0, potential = 0;
                for (int v = 1; v <= V; ++v) {
                    real += RealTranspiration[v][i][j];
                    potential += PotTranspiration[v][i][j];
                }
                ratio = potential == 0 ? 1.0 : real / potential;
            }
            Etr2Etp[i][j] = ratio;
        }
        if (IsControlCell(i, j)) AppendControlCellRecords(i, j, w.layerEtr, w.layerInterflow, flux[0], mm);
        if (glacier >= 1) ZeroCellOutputs(i, j);
        copyTopFlux();
    }
}
