// The snow model's time step: the cell physics over the rows, the copy to the
// cells of hydrologic response units, the statistics and the output grids
// (the snow slides are in snowmod_slides.cpp).

#include <algorithm>
#include <cmath>
#include <iterator>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/zonalstatistic.h"
#include "parameters/landuse.h"
#include "setup/tracer_ini.h"
#include "surface/snowmod.h"
#include "surface/snowmod_physics.h"


double schneemodellklasse::CellSnowBalance(double T, double w, int row, int col, double* f, double* Ss, double* Sl,
                                           double* S, double* Tp, double* Ts, double* snowEvaporation,
                                           bool partitionGiven) {
    double P = precipitationGrid[row][col];
    const bool lake = lakeFlag != 0 && lakeCodesGrid && pondingStorageGrid && lakeCodesGrid[row][col] > 0 &&
                      pondingStorageGrid[row][col] > 0;
    const double fraction = lake ? 0.0 : snowphys::SnowFraction(T, T0R, transzone);
    *f = fraction;
    double s, r;
    if (!partitionGiven) {
        s = fraction * P;
        r = (1 - fraction) * P;
        snowFractionGrid[row][col] = s;
        rainFractionGrid[row][col] = r;
        if (DepositionMethod()) {
            const double d = depositionIndexGrid[row][col];
            P += d * s;
            precipitationGrid[row][col] = P;
            s *= 1 + d;
            snowFractionGrid[row][col] = s;
        }
    } else {
        s = snowFractionGrid[row][col];
        r = rainFractionGrid[row][col];
    }
    *Ss += w * s;
    *Sl += w * r;
    *S = *Ss + *Sl;

    const bool energy = EnergyBalanceMethod();
    snowphys::EnergyInputs in;
    double packTemperature = *Tp;
    if (energy) {
        const double ta = T + snowphys::Melting;
        if (*Ts == NoData || *Ts == 0) *Ts = ta - 3;
        double ts0 = *Ts;
        if (surfaceTemperatureGrid) {
            ts0 = surfaceTemperatureGrid[row][col];
            if (ts0 < 100) ts0 += snowphys::Melting;
        }
        in.Ts0 = std::min(ts0, snowphys::Melting);
        in.prescribedSurface = surfaceTemperatureGrid != nullptr;
        if (*Tp == NoData || *Tp == 0) packTemperature = std::min(ta, snowphys::Melting);
        in.T = T;
        in.h = airHumidityGrid[row][col];
        in.N = cloudinessGrid[row][col];
        in.P = P;
        in.u = windSpeedGrid[row][col];
        in.G = correctedGlobalRadiationGrid[row][col];
        in.albedo = albedoGrid[row][col];
        in.dt = TimeInterval;
        in.rain = r;
        in.snow = s;
        in.z = elevationGrid[row][col];
        in.lwIn = LWINcorr;
        in.lwOut = LWOUTcorr;
    }

    if (T <= T0) {
        if (method == 3 || method == 4) {
            snowphys::Refreeze(CRFR, RMF, T, T0, StepsPerDay, w, Ss, Sl);
            *S = *Ss + *Sl;
        } else if (energy) {
            if (*Ss <= 0) {
                *Ts = NoData;
                *Tp = NoData;
            } else {
                *Tp = packTemperature;
                const auto result = snowphys::EnergyBalanceNoMelt(in, w, Ss, Sl, Tp, Ts, NoData);
                *snowEvaporation += result.sublimation;
                *S = *Ss + *Sl;
            }
        }
        return 0;
    }
    if (*Ss <= 0) {
        if (energy) {
            *Ts = NoData;
            *Tp = NoData;
        }
        return 0;
    }
    const double u = windSpeedGrid ? windSpeedGrid[row][col] : 0.0;
    switch (method) {
        case 1: case 8: case 9: case 10:
            return snowphys::DegreeDayMelt(C0, T, T0, StepsPerDay) * w;
        case 2: case 12: case 13: case 14:
            return snowphys::TemperatureWindMelt(C1, C2, u, T, T0, StepsPerDay) * w;
        case 3: case 4: {
            const double kr = correctedRadiationGrid ? (1 + correctedRadiationGrid[row][col]) / 2 : 1.0;
            const double e = method == 3 ? SaturationVapourPressureIce(T) : vapourPressureGrid[row][col];
            return snowphys::RadiationIndexMelt(P, T, T0, StepsPerDay, RMF, kr, C1 + C2 * u, e) * w;
        }
        default: {
            *Tp = packTemperature;
            const auto result = snowphys::EnergyBalanceMelt(in, w, Ss, Sl, Tp, Ts, NoData);
            *snowEvaporation += result.sublimation;
            *S = *Ss + *Sl;
            return result.melt;  // already linear in w
        }
    }
}

void schneemodellklasse::ComputeRow(int row, int64_t day, int64_t month, int64_t year, double nightWeight,
                                    double dayWeight) {
    int first = 1, last = NCols;
    if (RowExtents) {
        first = std::max(1, RowExtents[row].first);
        last = std::min(static_cast<int>(NCols), RowExtents[row].last);
    }
    const double step = 1.0 / StepsPerDay;
    for (int c = first; c <= last; ++c) {
        if (!ActiveCell(row, c)) continue;
        if (masterHruGrid && masterHruGrid[row][c] == NoData) continue;
        snowcoverOutflowGrid[row][c] = 0;
        meltFromSnowcoverGrid[row][c] = 0;
        double ss = solidStorageGrid[row][c], sl = liquidStorageGrid[row][c], s = ss + sl;
        const double T = temperatureGrid[row][c];
        const double g = GlacierShare(row, c);
        if (glacierSnowMeltGrid) glacierSnowMeltGrid[row][c] = 0;
        // The glacier pack's sublimation of this step only.
        if (glacierSnowEvaporationGrid && EnergyBalanceMethod()) glacierSnowEvaporationGrid[row][c] = 0;
        if (glacierFractionGrid) {
            meltFromFirnGrid[row][c] = 0;
            meltFromIceGrid[row][c] = 0;
            if (oldGlacierFractionGrid) oldGlacierFractionGrid[row][c] = glacierFractionGrid[row][c];
        }

        auto landuseAlbedo = [&]() {
            const double value = landuseGrids.size() > 1 && landuseGrids[1] ? landuseGrids[1][row][c] : NoData;
            if (!(value >= 1) || !Settings.LanduseTable || !(value < Settings.LanduseCount + 1.0))
                return albedoGrid[row][c];
            return Settings.LanduseTable[static_cast<int>(value)].GetAlbedoAtDate(
                Writer, static_cast<int>(day), static_cast<int>(month), static_cast<int>(year), 1,
                elevationGrid[row][c], row, c);
        };
        albedoGrid[row][c] = ss + sl > 2.5 ? snowphys::SnowAlbedo(ALBsnow_min, ALBsnow_max, snowAgeGrid[row][c], T)
                                           : landuseAlbedo();

        if (g > 0) {
            GlacierCell(row, c, T, &ss, &sl, nightWeight, dayWeight);
        } else {
            if (glacierSolidStorageGrid)
                glacierSolidStorageGrid[row][c] = glacierLiquidStorageGrid[row][c] = glacierTotalStorageGrid[row][c] = 0;
            const double p0 = precipitationGrid[row][c];
            for (int i = 1; i <= TracerCount && i < static_cast<int>(TracerStorage.size()); ++i) {
                double** storage = TracerStorage[static_cast<size_t>(i)].StorageGrid;
                if (!storage) continue;
                if (Tracers[i].radioactive) storage[row][c] *= TracerDecay[static_cast<size_t>(i)];
                if (p0 > 0) {
                    const double cin = TracerInput[static_cast<size_t>(i)] ? TracerInput[static_cast<size_t>(i)][row][c] : 0;
                    if (Tracers[i].evaporating)
                        storage[row][c] = MixConcentration(storage[row][c], cin, ss + sl, p0);
                    else
                        storage[row][c] += p0 * cin;
                }
            }

            double scratchTp = 0, scratchTs = 0, scratchEvaporation = 0;
            double* tp = snowTempGrid ? &snowTempGrid[row][c] : &scratchTp;
            double* ts = surfTempGrid ? &surfTempGrid[row][c] : &scratchTs;
            double* evaporation = snowEvaporationGrid ? &snowEvaporationGrid[row][c] : &scratchEvaporation;
            double f = 0, melt = 0;
            if (TimeInterval <= 720) {
                melt = CellSnowBalance(T, 1, row, c, &f, &ss, &sl, &s, tp, ts, evaporation, false);
            } else {
                melt = CellSnowBalance(nightTemperatureGrid[row][c], nightWeight, row, c, &f, &ss, &sl, &s, tp, ts,
                                       evaporation, false);
                melt += CellSnowBalance(T, dayWeight, row, c, &f, &ss, &sl, &s, tp, ts, evaporation, false);
            }
            double moved = 0;
            const double outflow = snowphys::Retain(melt, CWH, &ss, &sl, &moved);
            snowcoverOutflowGrid[row][c] = outflow;
            if (moved > 0) meltFromSnowcoverGrid[row][c] = outflow;
            const double P = precipitationGrid[row][c];
            snowFractionGrid[row][c] = P * f;
            rainFractionGrid[row][c] = (1 - f) * P;

            for (int i = 1; i <= TracerCount && i < static_cast<int>(TracerStorage.size()); ++i) {
                TracerStorageRecord& record = TracerStorage[static_cast<size_t>(i)];
                if (!record.StorageGrid || !record.FluxGrid) continue;
                double& storage = record.StorageGrid[row][c];
                if (Tracers[i].evaporating) {
                    record.FluxGrid[row][c] = storage;
                    continue;
                }
                const double share = outflow + sl + ss > 0 ? storage * outflow / (outflow + sl + ss) : 0;
                const double taken = std::min(share, outflow * Tracers[i].max_conc);
                storage -= taken;
                record.FluxGrid[row][c] = outflow > 0 ? taken / outflow : 0;
            }
        }
        const double P = precipitationGrid[row][c];
        const double swe = ss + sl;
        snowDaysGrid[row][c] = swe > 5 ? step : 0;
        if (T <= T0R + transzone && P > 1 && swe > 5)
            snowAgeGrid[row][c] = 0;
        else
            snowAgeGrid[row][c] += step;
        albedoGrid[row][c] =
            swe > 5 ? snowphys::SnowAlbedo(ALBsnow_min, ALBsnow_max, snowAgeGrid[row][c], T) : landuseAlbedo();
        solidStorageGrid[row][c] = ss;
        liquidStorageGrid[row][c] = sl;
        totalStorageGrid[row][c] = swe;
        if (glacierTotalStorageGrid)
            glacierTotalStorageGrid[row][c] = glacierSolidStorageGrid[row][c] + glacierLiquidStorageGrid[row][c];

        if (permafrost) {
            const double coefficient = thawCoeffGrid[row][c];
            // A cell without a thaw coefficient or thaw depth has no permafrost.
            if (coefficient == NoData || thawDepthGrid[row][c] == NoData) continue;
            double& root = rootDepthGrid[row][c];
            if (swe > Max_SWE_SnowFree) {
                snowCoverDaysGrid[row][c] += step;
                if (snowCoverDaysGrid[row][c] >= Min_Snow_Age_Refreeze) {
                    snowFreeDaysGrid[row][c] = 0;
                    thawDepthGrid[row][c] = 0;
                    root = std::min(root, 0.0);
                } else {
                    root = std::min(root, thawDepthGrid[row][c]);
                }
            } else {
                snowCoverDaysGrid[row][c] = 0;
                snowFreeDaysGrid[row][c] += step;
                if (snowFreeDaysGrid[row][c] > 0)
                    thawDepthGrid[row][c] = coefficient * std::sqrt(snowFreeDaysGrid[row][c]);
                root = std::min(root, thawDepthGrid[row][c]);
            }
        }
    }
}

void schneemodellklasse::SnowCellLoop(int64_t day, int64_t month, int64_t year, bool releaseSlides) {
    SunshineFraction();
    const double night = DarkFraction > 0.95 ? 1.0 : DarkFraction;
    const double dayWeight = 1 - night;
    if (releaseSlides && Slides.Number.empty()) BuildSlideWalk();
    // Small grids run on one thread: a parallel region costs more than it saves.
    const bool parallel = WorthThreads(static_cast<int64_t>(NRows) * NCols);
#pragma omp parallel for schedule(static, 1) if (parallel)
    for (int r = 1; r <= NRows; ++r) {
        ComputeRow(r, day, month, year, night, dayWeight);
        if (releaseSlides) ReleaseSlideRow(r);
    }
    CopyHruMasterStates();
}

void schneemodellklasse::CopyHruMasterStates() {
    if (!masterHruGrid || !hruGrid) return;
    if (HruMasterRow.empty()) {
        int units = 0;
        for (int r = 1; r <= NRows; ++r)
            for (int c = 1; c <= NCols; ++c)
                if (hruGrid[r][c] != NoData) units = std::max(units, static_cast<int>(hruGrid[r][c]));
        HruMasterRow.assign(static_cast<size_t>(units) + 1, 0);
        HruMasterCol.assign(static_cast<size_t>(units) + 1, 0);
        for (int r = 1; r <= NRows; ++r)
            for (int c = 1; c <= NCols; ++c)
                if (masterHruGrid[r][c] != NoData && hruGrid[r][c] >= 1) {
                    HruMasterRow[static_cast<size_t>(hruGrid[r][c])] = r;
                    HruMasterCol[static_cast<size_t>(hruGrid[r][c])] = c;
                }
    }
    double** grids[] = {totalStorageGrid, solidStorageGrid,  liquidStorageGrid,    snowDaysGrid,
                        snowAgeGrid,      snowFractionGrid,  rainFractionGrid,     albedoGrid,
                        snowcoverOutflowGrid, meltFromSnowcoverGrid, snowTempGrid, surfTempGrid,
                        inputMassGrid,    mobileMassGrid,    depositionGrid, meltFromFirnGrid, meltFromIceGrid,
                        firnWEGrid,       massBalanceGrid,   oldMassBalanceGrid, glacierSolidStorageGrid,
                        glacierLiquidStorageGrid, glacierTotalStorageGrid, glacierSnowMeltGrid, glacierSurfTempGrid,
                        glacierSnowTempGrid, glacierSnowEvaporationGrid};
    const bool parallel = WorthThreads(static_cast<int64_t>(NRows) * NCols);
#pragma omp parallel for schedule(static, 1) if (parallel)
    for (int r = 1; r <= NRows; ++r) {
        for (int c = 1; c <= NCols; ++c) {
            if (!ActiveCell(r, c) || masterHruGrid[r][c] != NoData || !(hruGrid[r][c] >= 1)) continue;
            const size_t unit = static_cast<size_t>(hruGrid[r][c]);
            if (unit >= HruMasterRow.size() || HruMasterRow[unit] == 0) continue;
            const int mr = HruMasterRow[unit], mc = HruMasterCol[unit];
            for (double** g : grids)
                if (g) g[r][c] = g[mr][mc];
            if (firnStack)
                for (int k = 0; k <= firn_levels; ++k) firnStack[r][c][k] = firnStack[mr][mc][k];
        }
    }
}

void schneemodellklasse::AddStatistics(bool slides) {
    const bool glaciers = glacierFractionGrid != nullptr;
    if (glaciers) StartGlacierStatistics();
    std::vector<size_t> tracers;
    for (size_t i = 1; i < TracerStorage.size(); ++i) {
        const TracerStorageRecord& record = TracerStorage[i];
        if (record.Statistics && record.Statistics->IsOn() && record.StorageGrid) tracers.push_back(i);
    }
    // One team of threads: first the zones' walks of the slides, then one
    // pass over the rows, each taking its cells' share of the slides and
    // gathering its own zone sums, which the statistics fold in row order.
    const int zones = slides ? static_cast<int>(Slides.Schedule.size()) : 0;
    int outOfMemory = 0;
#pragma omp parallel if (WorthThreads(static_cast<int64_t>(NRows) * NCols))
    {
#pragma omp for schedule(dynamic, 1)
        for (int k = 0; k < zones; ++k) WalkSlideZone(k);
#pragma omp for schedule(static, 1) reduction(max : outOfMemory)
        for (int r = 1; r <= NRows; ++r) {
            if (slides) ReceiveSlideRow(r);
            AddStatisticsRow(r);
            if (glaciers && !AddGlacierStatisticsRow(r)) outOfMemory = 1;
            if (!tracers.empty()) AddTracerStatisticsRow(r, tracers);
        }
    }
    if (glaciers) FinishGlacierStatistics(outOfMemory != 0);
}

void schneemodellklasse::AddStatisticsRow(int r) {
    const bool slides = SlideMethod() && inputMassGrid;
    zonalstatistic* common[] = {statSnowStorage, statOutflow, statMeltOnly, statSnowDays,
                                statSnowAge,     statSnowFraction, statRainFraction, statAlbedo};
    for (int c = 1; c <= NCols; ++c) {
        if (!ActiveCell(r, c)) continue;
        const int zone = ZoneRankOfCell(r, c);
        const double values[] = {solidStorageGrid[r][c] + liquidStorageGrid[r][c], snowcoverOutflowGrid[r][c],
                                 meltFromSnowcoverGrid[r][c], snowDaysGrid[r][c], snowAgeGrid[r][c],
                                 snowFractionGrid[r][c], rainFractionGrid[r][c], albedoGrid[r][c]};
        for (size_t k = 0; k < 8; ++k)
            if (common[k] && common[k]->IsOn()) common[k]->AddToRow(r, c, zone, values[k], 1);
        if (statSnowTemp && statSnowTemp->IsOn() && snowTempGrid[r][c] > NoData + 1)
            statSnowTemp->AddToRow(r, c, zone, snowTempGrid[r][c], 1);
        if (statSurfTemp && statSurfTemp->IsOn() && surfTempGrid[r][c] > NoData + 1)
            statSurfTemp->AddToRow(r, c, zone, surfTempGrid[r][c], 1);
        if (slides) {
            if (statInputMass->IsOn()) statInputMass->AddToRow(r, c, zone, inputMassGrid[r][c], 1);
            if (statMobileMass->IsOn()) statMobileMass->AddToRow(r, c, zone, mobileMassGrid[r][c], 1);
            if (statDeposition->IsOn()) statDeposition->AddToRow(r, c, zone, depositionGrid[r][c], 1);
        }
        if (statThawDepth && statThawDepth->IsOn()) statThawDepth->AddToRow(r, c, zone, thawDepthGrid[r][c], 1);
    }
}

// The tracers' storage in the snow per zone, weighted with the snow's water
// where the tracer evaporates. Only ice-free cells count: a glacier cell's
// snow carries no tracer storage of its own.
void schneemodellklasse::AddTracerStatisticsRow(int r, const std::vector<size_t>& tracers) {
    for (int c = 1; c <= NCols; ++c) {
        if (!ActiveCell(r, c) || GlacierShare(r, c) > 0) continue;
        const int zone = ZoneRankOfCell(r, c);
        const double water = solidStorageGrid[r][c] + liquidStorageGrid[r][c];
        for (size_t i : tracers) {
            TracerStorageRecord& record = TracerStorage[i];
            record.Statistics->AddToRow(r, c, zone, record.StorageGrid[r][c], Tracers[i].evaporating ? water : 1.0);
        }
    }
}

void schneemodellklasse::RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    teilmodellklasse::RunTimeStep(hour, day, month, year);
    if (Method == 0) return;
    RMF = SeasonalMeltFactor(static_cast<int>(day), static_cast<int>(month));
    Asnow = SeasonalSnowRadiationFactor(static_cast<int>(day), static_cast<int>(month));
    Aice = SeasonalIceRadiationFactor(static_cast<int>(day), static_cast<int>(month));
    std::vector<zonalstatistic*> writers = {statSnowStorage, statOutflow,  statMeltOnly,   statSnowDays,
                                            statSnowAge,     statSnowFraction, statRainFraction, statAlbedo,
                                            statSnowTemp,    statSurfTemp, statInputMass,  statMobileMass,
                                            statDeposition,  statThawDepth, statSnowStorageNoGlacier,
                                            statFirnMelt,    statIceMelt,  statSnowOnIceMelt, statFirnWE,
                                            statMassBalance, statMassBalanceGlacier};
    for (zonalstatistic* s : writers)
        if (s && s->IsOn()) s->ResetStep();
    if (statGlacierMelt && statGlacierMelt->IsOn()) statGlacierMelt->ResetStep();
    for (size_t i = 1; i < TracerStorage.size(); ++i)
        if (TracerStorage[i].Statistics && TracerStorage[i].Statistics->IsOn()) TracerStorage[i].Statistics->ResetStep();

    // The slides release the snow of a row with its cell physics; every
    // zone's walk and the packs' receiving go with the statistics pass.
    const bool slides = !masterHruGrid && SlideMethod();
    SnowCellLoop(day, month, year, slides);
    AddStatistics(slides);
    for (zonalstatistic* s : writers)
        if (s && s->IsOn()) s->CloseStep(year, month, day, hour);
    if (glacierFractionGrid) {
        GlacierRunoffStorages();
        if (statGlacierMelt && statGlacierMelt->IsOn()) statGlacierMelt->CloseStep(year, month, day, hour);
    }
    // Once a year, in the step that ends the evaluation day.
    if (GlacierEvaluationStep(hour, day, month)) AnnualGlacierUpdate();

    // The sums of each group of grids in one pass over the rows, then its
    // grids in their order.
    const int snowGrids[] = {totalIndex,      solidIndex,      liquidIndex,     daysIndex,
                             ageIndex,        snowFractionIndex, rainFractionIndex, outflowIndex,
                             meltIndex,       inputMassIndex,  mobileMassIndex, depositionIndex,
                             snowTempIndex,   surfTempIndex,   meltFromFirnIndex, meltFromIceIndex};
    WriteGridsByCode(snowGrids, static_cast<int>(std::size(snowGrids)), true, false);
    if (firnStackIndex > 0) WriteStackByCode(firnStackIndex);
    const int glacierGrids[] = {massBalanceIndex,     oldMassBalanceIndex,  glacierSolidIndex,
                                glacierLiquidIndex,   glacierTotalIndex,    glacierSnowMeltIndex,
                                glacierSurfTempIndex, glacierSnowTempIndex, glacierSnowEvaporationIndex};
    WriteGridsByCode(glacierGrids, static_cast<int>(std::size(glacierGrids)), true, false);

    for (size_t i = 1; i < TracerStorage.size(); ++i) {
        TracerStorageRecord& record = TracerStorage[i];
        if (record.Statistics && record.Statistics->IsOn()) record.Statistics->CloseStep(year, month, day, hour);
        if (record.StorageGridIndex > 0) WriteGridByCode(record.StorageGridIndex, true, false);
    }
}
