// The silting-up model's time step: per cell the time since tillage, the rain
// pause, the kinetic energy, the disposition and the capacity, the split of the
// water reaching the surface, the tracers; then the copies within hydrologic
// response units, the statistics and the grids.

#include <algorithm>
#include <cmath>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"
#include "framework/zonalstatistic.h"
#include "lateral/siltingup.h"
#include "lateral/siltingup_parser.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "setup/tracer_ini.h"

namespace {

// Day of the year with February by the Gregorian rule, for a run without a
// land-use table.
int PlainDayOfYear(int day, int month, int year) {
    static const int lengths[13] = {0, 31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    int d = day;
    for (int m = 1; m < month && m <= 12; ++m) d += lengths[m] + (m == 2 && leap ? 1 : 0);
    return d;
}

const char* const ParameterNames[10] = {"A", "B", "C", "D", "E", "F", "G", "H", "I", "J"};

}  // namespace

bool siltingupclass::CellIsModelled(int32_t row, int32_t col) const {
    if (ZoneGrid[row][col] == NoData) return false;
    return !Regions || Regions[row][col] == ProcessNumber;
}

bool siltingupclass::CellIsComputed(int32_t row, int32_t col) const {
    if (!CellIsModelled(row, col)) return false;
    return !MasterGrid || MasterGrid[row][col] != NoData;
}

bool siltingupclass::Evaluate(ExpressionParser& parser, VariableList& variables, size_t first, size_t last,
                              int32_t row, int32_t col, CellFailure& failure) {
    for (size_t k = first; k < last; ++k) {
        const std::string& result = parser.Parse(Expressions[k]);
        double value = 0;
        const bool error = result.find("Error") != std::string::npos;
        // A result that is no finite number (log(-1), 1/0, 171!) would reach
        // the grids and the statistics.
        if (error || (variables.GetValue("Ans", value) && !std::isfinite(value))) {
            failure.Row = row;
            failure.Col = col;
            failure.Code = 403;
            failure.Expression = Expressions[k];
            failure.Result = result;
            failure.NotFinite = !error;
            failure.Value = value;
            return false;
        }
    }
    return true;
}

bool siltingupclass::ResultVariable(VariableList& variables, const char* name, double& value, int32_t row,
                                    int32_t col, CellFailure& failure) {
    if (!variables.GetValue(name, value)) value = 0;
    if (std::isfinite(value)) return true;
    failure.Row = row;
    failure.Col = col;
    failure.Code = 403;
    failure.Expression = name;
    failure.NotFinite = true;
    failure.Value = value;
    return false;
}

void siltingupclass::ComputeCell(int32_t i, int32_t j, ExpressionParser* parser, VariableList* variables,
                                 CellFailure& failure) {
    const double dt = TimeInterval;
    double& S = SurfaceStorage[i][j];
    if (!SurfaceRoutingPresent) S = 0;
    const double pin = WaterInput[i][j];
    // The soil works on the ice-free part of a cell: the surface water (mm
    // over the whole cell) reaches it as mm over that part. A cell all
    // glacier keeps its surface water, which surface routing carries on.
    double iceFree = 1;
    if (IceShare && IceShare[i][j] != NoData && std::isfinite(IceShare[i][j]))
        iceFree = 1 - std::clamp(IceShare[i][j], 0.0, 1.0);
    if (!(iceFree > 0)) {
        Grids[DirectRunoff][i][j] = 0;
        return;
    }
    const double surface = S / iceFree;

    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
        if (!record.StorageGrid || !TracerInput[static_cast<size_t>(n)]) continue;
        double& stored = record.StorageGrid[i][j];
        if (Tracers[n].radioactive) stored *= TracerDecay[static_cast<size_t>(n)];
        if (pin > 0) {
            const double cin = TracerInput[static_cast<size_t>(n)][i][j];
            stored = Tracers[n].evaporating ? MixConcentration(stored, cin, surface, pin) : stored + pin * cin;
        }
    }

    // Land use: tillage dates and residues of layer 1, the top layer T.
    auto landuseAt = [&](double position) -> const LanduseType* {
        if (!Settings.LanduseTable || !(position >= 1 && position <= Settings.LanduseCount)) return nullptr;
        return &Settings.LanduseTable[static_cast<int>(position)];
    };
    const LanduseType* layer1 = landuseAt(Landuse[1][i][j]);
    static const std::vector<int32_t> noDates{-9999};
    const std::vector<int32_t>* days = &noDates;
    int n = 0;
    if (layer1) n = layer1->GetSoilTillage(&days);
    int top = 1;
    for (int k = LayerCount; k >= 1; --k) {
        if (static_cast<int>(Landuse[static_cast<size_t>(k)][i][j]) != static_cast<int>(NoData)) {
            top = k;
            break;
        }
    }
    const int day = static_cast<int>(StepDay), month = static_cast<int>(StepMonth), year = static_cast<int>(StepYear);
    const double residue = layer1 ? layer1->GetSRResidCovrgAtDate(CellLog, day, month, year, 1, Elevation[i][j], i, j)
                                  : 0.0;
    const double vegetation = Coverage[static_cast<size_t>(top)][i][j];
    const double cover = std::clamp(residue + (vegetation == NoData ? 0.0 : vegetation), 0.0, 1.0);

    // Soil.
    siltingup::GrainSizes grains;
    double suPar[11] = {};
    const double soilPosition = SoilTypes[i][j];
    if (Settings.SoilTable && soilPosition >= 1 && soilPosition <= Settings.SoilCount) {
        const SoilType& soil = Settings.SoilTable[static_cast<int>(soilPosition)];
        grains.sand = soil.GrainSizeDist[0];
        grains.silt = soil.GrainSizeDist[1];
        grains.clay = soil.GrainSizeDist[2];
        for (int k = 0; k < 4; ++k) grains.stones[k] = soil.GrainSizeDist[3 + k];
        for (int k = 1; k <= 10; ++k) suPar[k] = soil.SU_PAR[k];
    }
    const double dg = siltingup::GeometricMeanDiameter(grains);

    const LanduseType* topLanduse = landuseAt(Landuse[static_cast<size_t>(top)][i][j]);
    if (!topLanduse) topLanduse = layer1;
    const int d = topLanduse ? topLanduse->DayOfYear(day, month, year) : PlainDayOfYear(day, month, year);
    const bool tilled = siltingup::HasTillageDates(*days);
    const double tst = siltingup::TimeSinceTillage(*days, n, d);
    double& tstCell = Grids[TimeSinceTillage][i][j];
    tstCell = tst;

    const double intensity = pin / (dt / 60.0);
    double& rp = Grids[RainPause][i][j];
    rp = siltingup::RainPauseAfter(rp, intensity, dt);

    double& ke = Grids[KineticEnergy][i][j];
    double cv = 0, e = 0, x = Parameters.A, y = 0;
    if (ComputationMethod != 3) {
        y = siltingup::FinalRate(Parameters, dg, grains.sand);
        e = siltingup::EnergyPerMm(intensity);
        cv = siltingup::Disposition(Parameters, grains.sand, dg, tst);
    } else {
        for (int k = 1; k <= 10; ++k) variables->Set(ParameterNames[k - 1], suPar[k]);
        variables->Set("K", dg);
        variables->Set("L", grains.sand);
        variables->Set("M", grains.clay);
        variables->Set("N", grains.silt);
        variables->Set("O", tst);
        variables->Set("P", intensity);
        variables->Set("Q", ke);
        variables->Set("R", dt);
        if (!Evaluate(*parser, *variables, 0, SecondBatch, i, j, failure)) return;
        // A list that never defines Z leaves no disposition: 0.
        if (!ResultVariable(*variables, "Z", cv, i, j, failure)) return;
        if (!ResultVariable(*variables, "W", e, i, j, failure)) return;
    }
    Grids[Disposition][i][j] = cv;

    const int rank = ZoneRankOfCell(i, j);
    const double minimum =
        rank >= 1 && static_cast<size_t>(rank) < MinimumRainPause.size() ? MinimumRainPause[static_cast<size_t>(rank)]
                                                                         : 0.0;
    ke = siltingup::KineticEnergyAfter(ke, tst, intensity, e, cover, rp, minimum, dt);

    double capacity = 0;
    if (ComputationMethod != 3) {
        capacity = siltingup::Capacity(cv, ke, x, y, dt);
    } else {
        variables->Add("Q", ke);
        if (!Evaluate(*parser, *variables, SecondBatch, Expressions.size(), i, j, failure)) return;
        if (!ResultVariable(*variables, "V", capacity, i, j, failure)) return;
    }

    // The water reaching the surface leaves it: infiltration stays in the
    // input water grid, the rest is direct runoff.
    const double u = pin + surface;
    const siltingup::Partition split = siltingup::Split(u, capacity, tilled);
    const double dr = split.directRunoff;
    WaterInput[i][j] = split.infiltration;
    Grids[DirectRunoff][i][j] = dr;

    if (dr > 0) {
        for (int t = 1; t <= TracerCount && static_cast<size_t>(t) < TracerStorage.size(); ++t) {
            TracerStorageRecord& record = TracerStorage[static_cast<size_t>(t)];
            if (!record.StorageGrid || !record.FluxGrid) continue;
            double& stored = record.StorageGrid[i][j];
            double& outflow = record.FluxGrid[i][j];
            if (Tracers[t].evaporating) {
                outflow = stored;
            } else {
                const double m = dr + u > 0 ? u * stored / (dr + u) : 0.0;
                const double amount = std::min(m, u * Tracers[t].max_conc);
                stored -= amount;
                outflow = amount / dr;
            }
        }
    }
    S = 0;
}

void siltingupclass::SiltingUpRows(int32_t i, CellFailure& failure) {
    std::unique_ptr<VariableList> variables;
    std::unique_ptr<ExpressionParser> parser;
    if (ComputationMethod == 3) {
        variables = std::make_unique<VariableList>();
        parser = std::make_unique<ExpressionParser>(*variables);
    }
    const RowExtent& extent = RowExtents ? RowExtents[i] : RowExtent{1, NCols};
    for (int32_t j = extent.first; j <= extent.last; ++j) {
        if (CellIsComputed(i, j)) {
            try {
                ComputeCell(i, j, parser.get(), variables.get(), failure);
            } catch (int code) {
                failure.Row = i;
                failure.Col = j;
                failure.Code = code;
            } catch (...) {
                failure.Row = i;
                failure.Col = j;
                failure.Code = 103;
            }
        }
        if (variables) variables->Clear();
        if (failure.Code != 0) return;
    }
}

// The HRU copy of the seven grids and the zone sums of one row. Masters keep
// their values in this pass, so rows may run on any thread.
void siltingupclass::CopyFromMasterAndGather(int32_t i) {
    const RowExtent& extent = RowExtents ? RowExtents[i] : RowExtent{1, NCols};
    for (int32_t j = extent.first; j <= extent.last; ++j) {
        if (!CellIsModelled(i, j)) continue;
        if (MasterGrid && MasterGrid[i][j] == NoData) {
            const auto [mr, mc] = HruMasterOf(HruMasters, UnitGrid[i][j]);
            for (double** g : {SurfaceStorage, Grids[TimeSinceTillage], Grids[RainPause], Grids[KineticEnergy],
                               Grids[Disposition], WaterInput, Grids[DirectRunoff]}) {
                g[i][j] = g[mr][mc];
            }
        }
        const int zone = ZoneRankOfCell(i, j);
        const double dr = Grids[DirectRunoff][i][j];
        DispositionStatistics->AddToRow(i, j, zone, Grids[Disposition][i][j], 1.0);
        RunoffStatistics->AddToRow(i, j, zone, dr, 1.0);
        for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
            TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
            if (record.Statistics && record.FluxGrid) record.Statistics->AddToRow(i, j, zone, record.FluxGrid[i][j], dr);
        }
    }
}

void siltingupclass::RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    teilmodellklasse::RunTimeStep(hour, day, month, year);
    if (Method == 0) return;
    if (!SurfaceRoutingChecked) {
        SurfaceRoutingPresent = FindGrid("SurfaceRoutingWeights") > 0;
        SurfaceRoutingChecked = true;
    }
    DispositionStatistics->ResetStep();
    RunoffStatistics->ResetStep();
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        if (TracerStorage[static_cast<size_t>(n)].Statistics) TracerStorage[static_cast<size_t>(n)].Statistics->ResetStep();
    }

    const int32_t first = std::max<int32_t>(1, FirstRow);
    const int32_t last = std::min<int32_t>(NRows, LastRow > 0 ? LastRow : NRows);
    std::vector<CellFailure> failures(static_cast<size_t>(NRows) + 1);
    // The threshold was measured for some 30 ns a cell; a cell of the built-in
    // laws costs several times that, an expression list far more.
    CellLog = nullptr;
    const int64_t cells = static_cast<int64_t>(NRows) * NCols * (ComputationMethod == 3 ? 16 : 1);
    const bool parallel = WorthThreads(cells);
#pragma omp parallel for schedule(static, 1) if (parallel)
    for (int32_t i = first; i <= last; ++i) SiltingUpRows(i, failures[static_cast<size_t>(i)]);

    for (int32_t i = first; i <= last; ++i) {
        const CellFailure& f = failures[static_cast<size_t>(i)];
        if (f.Code == 0) continue;
        if (f.Code == 403 && f.NotFinite) {
            if (Writer) {
                char value[40];
                if (std::isnan(f.Value)) {
                    std::snprintf(value, sizeof value, "nan");
                } else {
                    std::snprintf(value, sizeof value, "%g", f.Value);
                }
                *Writer << "FATAL: \n-----------------error------------\nin instance " << ModuleName
                        << "\nexpression " << f.Expression << " gives " << value << " in the cell of row " << f.Row
                        << ", column " << f.Col << "; the expressions must give finite numbers" << "[end-entry]";
            }
            throw f.Code;
        }
        if (f.Code == 403) {
            if (Writer) {
                *Writer << "FATAL: \n-----------------error------------\nin instance " << ModuleName
                        << "\nexpression " << f.Expression << " could not be parsed correctly. "
                        << "Parser message: " << f.Result << "[end-entry]";
            }
            throw f.Code;
        }
        // Another failure of the lowest failing cell: once more on this
        // thread, now with the log, so that its entry is written once and
        // does not depend on the threads.
        CellLog = Writer;
        CellFailure again;
        std::unique_ptr<VariableList> variables;
        std::unique_ptr<ExpressionParser> parser;
        if (ComputationMethod == 3) {
            variables = std::make_unique<VariableList>();
            parser = std::make_unique<ExpressionParser>(*variables);
        }
        ComputeCell(f.Row, f.Col, parser.get(), variables.get(), again);
        throw f.Code;
    }

    // A master may lie in another row, so the copies wait for the whole grid.
    const bool light = WorthThreadsForLightPass(static_cast<int64_t>(NRows) * NCols);
#pragma omp parallel for schedule(static, 1) if (light)
    for (int32_t i = first; i <= last; ++i) CopyFromMasterAndGather(i);

    DispositionStatistics->CloseStep(year, month, day, hour);
    RunoffStatistics->CloseStep(year, month, day, hour);
    // The sums of every grid in one pass over the rows, then the grids.
    WriteGridsByCode(GridIndex, GridCount, true, false);
    for (int n = 1; n <= TracerCount && static_cast<size_t>(n) < TracerStorage.size(); ++n) {
        TracerStorageRecord& record = TracerStorage[static_cast<size_t>(n)];
        if (record.Statistics) record.Statistics->CloseStep(year, month, day, hour);
        if (record.FluxGridIndex > 0) WriteGridByCode(record.FluxGridIndex, true, false);
        // The storage concentration carries to the next run. With surface
        // routing the surface water's concentration is set again at the end
        // of its step, so surface routing writes the grid then.
        if (!SurfaceRoutingPresent && record.StorageGridIndex > 0)
            WriteGridByCode(record.StorageGridIndex, true, false);
    }
}
