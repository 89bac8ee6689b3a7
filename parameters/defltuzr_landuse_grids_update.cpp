// The per-step update of the daily land-use parameter grids: daily and 7-day
// mean temperature, the dynamic phenology, the parameters at the end of each
// day, the table-wide balance days and the duration of the vegetation period.

#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/modelobject.h"
#include "parameters/defltuzr_landuse_grids.h"
#include "parameters/defltuzr_landuse_grids_rows.h"
#include "parameters/defltuzr_phenology.h"
#include "setup/model_time.h"

namespace {

bool IsDynamicMethod(int method) {
    return method >= LanduseMethodDynamicPhenology1 && method <= LanduseMethodDynamicPhenology4;
}

}  // namespace

void LanduseParameterGrids::LookUpWeather() {
    if (Temperature) return;
    const int index = Setup.FindGrid("temperature");
    if (index == 0) {
        if (Setup.Writer) {
            *Setup.Writer << "FATAL: could not find grid with label \"" << "temperature"
                          << "\". \nThis grid must be present (either by interpolating "
                          << "or by reading or as standard grid) for using dynamic phenology" << "[end-entry]";
        }
        throw 33;
    }
    Temperature = Setup.GridTable[index].Data;
    const int theta = Setup.FindGrid("MeanThetaInRootZone");
    MeanTheta = theta > 0 ? Setup.GridTable[theta].Data : nullptr;
}

void LanduseParameterGrids::CalcActualLanduseParameters(long hour, long day, long month, long year,
                                                        int periodMinutes) {
    auto forOwnCells = [&](auto cellBody) {
        ForEachRow(1, Setup.NRows, ValidCells(), [&](int r) {
            const int last = LastColumn(r);
            for (int c = FirstColumn(r); c <= last; ++c) {
                if (InsideZone(r, c) && Own(r, c)) cellBody(r, c);
            }
        });
    };

    if (DynamicPhenology) {
        LookUpWeather();
        const double weight = periodMinutes / 1440.0;
        forOwnCells([&](int r, int c) { TemperatureSum[r][c] += weight * Temperature[r][c]; });
    }

    const long shift = static_cast<long>(std::trunc(Setup.GetTimeShift()));
    if (hour + shift == 24) {
        LogDayEnd(hour, day, month, year);
        if (Layers > 0) {
            // The 7-day mean is written by its write code at this step's
            // date, not at the date of the step before.
            Setup.StepHour = hour;
            Setup.StepDay = day;
            Setup.StepMonth = month;
            Setup.StepYear = year;
        }
        if (DynamicPhenology) UpdateMovingMean();
        if (Layers > 0) {
            const int dayOfYear = ModelDayOfYear(day, month);
            if (DynamicPhenology) UpdateDynamicPhenology(dayOfYear, Layers);
            forOwnCells([&](int r, int c) {
                for (int k = 1; k <= Layers; ++k) DailyValuesOfCell(k, r, c, day, month, year);
            });
        }
        if (DynamicPhenology) forOwnCells([&](int r, int c) { TemperatureSum[r][c] = 0; });
        RaiseVegetationFlags();
    }
    if (Layers > 0) CountVegetationDuration();
}

void LanduseParameterGrids::LogDayEnd(long hour, long day, long month, long year) {
    DiagnosticsWriter* w = Setup.Writer;
    if (!w) return;
    int interval = Setup.GetLogInterval();
    if (interval < 1) interval = 1;
    if (interval == 1) {
        *w << "INFO: ";
        w->SetWidth(20);
        *w << "actual parameters" << " " << day << "." << month << "." << year << " " << hour << ". h"
           << "[end-entry]";
        return;
    }
    const long shift = static_cast<long>(std::trunc(Setup.GetTimeShift()));
    if ((static_cast<long>(Setup.StepHour) + shift) % interval != 0) return;
    *w << "INFO: ";
    w->SetWidth(20);
    *w << "actual parameters" << " " << day << "." << month << "." << year << " " << hour << ". h "
       << "(time of meteo data)" << "[end-entry]";
}

void LanduseParameterGrids::UpdateMovingMean() {
    MovingMeanDays = MovingMeanDays + 1 < 7 ? MovingMeanDays + 1 : 7;
    const double days = MovingMeanDays;
    ForEachRow(1, Setup.NRows, ValidCells(), [&](int r) {
        const int last = LastColumn(r);
        for (int c = FirstColumn(r); c <= last; ++c) {
            if (!InsideZone(r, c) || !Own(r, c)) continue;
            double* level = MovingMeanStack[r][c];
            for (int l = 7; l >= 2; --l) level[l] = level[l - 1];
            level[1] = TemperatureSum[r][c];
            double sum = 0;
            for (int l = 1; l <= 7; ++l) sum += level[l];
            MovingMean[r][c] = sum / days;
        }
    });
    Setup.WriteGridByCode(MovingMeanIndex, true, false);
}

void LanduseParameterGrids::UpdateDynamicPhenology(int dayOfYear, int layerCount) {
    if (!DynamicPhenology || !Table) return;
    std::vector<LanduseType>& table = *Table;
    EndFirstSeasons(table, dayOfYear);
    const int layers = layerCount < Layers ? layerCount : Layers;
    const double noData = Setup.NoData;
    ForEachRow(1, Setup.NRows, ValidCells(), [&](int r) {
        const int last = LastColumn(r);
        for (int c = FirstColumn(r); c <= last; ++c) {
            if (!InsideZone(r, c) || !Own(r, c)) continue;
            for (int k = 1; k <= layers; ++k) {
                const int position = Position(LayerCells[k][r][c]);
                if (position == 0) continue;
                const LanduseType& R = table[position];
                if (!IsDynamicMethod(R.Method)) continue;
                PhenologyCellWeather weather;
                weather.MeanTemperature = TemperatureSum[r][c];
                weather.MovingMeanTemperature = MovingMean[r][c];
                weather.StressFactor = PhenologyStressFactor(MeanTheta != nullptr, MeanTheta ? MeanTheta[r][c] : 0,
                                                             R.HReduDry);
                PhenologyCellState state;
                state.ForcingSum = At(ForcingSumGrid, k, r, c);
                state.StartDay = At(PhenoStartGrid, k, r, c);
                state.ChillingSum = At(ChillingSumGrid, k, r, c);
                state.ForcingThreshold = At(ForcingThresholdGrid, k, r, c);
                state.LeafFallDay = LeafFall[r][c];
                state.ColdDayCount = MovingMeanStack[r][c][0];
                state.SampleDays = SampleDayStacks[k] ? SampleDayStacks[k][r][c] : nullptr;
                AdvancePhenologyDay(R, dayOfYear, LargestFixPoints, noData, weather, state);
                At(ForcingSumGrid, k, r, c) = state.ForcingSum;
                At(PhenoStartGrid, k, r, c) = state.StartDay;
                At(ChillingSumGrid, k, r, c) = state.ChillingSum;
                At(ForcingThresholdGrid, k, r, c) = state.ForcingThreshold;
                LeafFall[r][c] = state.LeafFallDay;
                MovingMeanStack[r][c][0] = state.ColdDayCount;
            }
        }
    });
}

void LanduseParameterGrids::DailyParametersOfCell(int k, int r, int c, long dayOfMonth, long monthOfYear,
                                                  long yearAD) {
    const double noData = Setup.NoData;
    double& rootDepth = At(RootDepthGrid, k, r, c);
    double& lai = At(LeafAreaIndexGrid, k, r, c);
    double& vcf = At(VegetationCoverageGrid, k, r, c);
    double& rsc = At(CanopyResistanceGrid, k, r, c);
    double& rsi = At(InterceptionResistanceGrid, k, r, c);
    double& z0 = At(RoughnessLengthGrid, k, r, c);
    const int position = Position(LayerCells[k][r][c]);
    if (position == 0) {
        if (k == 1) {
            Albedo[r][c] = noData;
            EvaporationResistance[r][c] = noData;
        }
        rootDepth = lai = vcf = rsi = rsc = z0 = noData;
        return;
    }

    const LanduseType& R = (*Table)[position];
    DiagnosticsWriter* log = Setup.Writer;
    const int day = static_cast<int>(dayOfMonth), month = static_cast<int>(monthOfYear), year = static_cast<int>(yearAD);
    const int doy = R.DayOfYear(day, month, year);
    const double altitude = Elevation[r][c];
    const int mask = R.InternalParameterMask;
    if (k == 1) {
        if (mask & 1) Albedo[r][c] = R.GetAlbedoAtDate(log, day, month, year, k, altitude, r, c);
        if (mask & 2) EvaporationResistance[r][c] = R.GetRsEvaporationAtDate(log, day, month, year, k, altitude, r, c);
    }
    if (mask & 64) rootDepth = R.GetRootDepthAtJulDay(log, doy, k, r, c, altitude);
    if (mask & 16) lai = R.GetLAIAtJulDay(log, doy, k, r, c, altitude);
    if (mask & 32) vcf = R.GetVCFAtJulDay(log, doy, k, r, c, altitude);
    if (mask & 4) rsc = R.GetRscAtDate(log, day, month, year, k, altitude, r, c);
    if (mask & 8) rsi = R.GetRsInterceptionAtDate(log, day, month, year, k, altitude, r, c);
    if (mask & 128) z0 = R.GetZ0AtJulDay(log, doy, k, r, c, altitude);
    if (rootDepth < 0.01) rootDepth = 0.01;
    if (vcf < 0) vcf = 0;
    if (vcf > 1) vcf = 1;
    if (lai < 0) lai = 0;
    if (rsi < 0) rsi = 0;
    if (z0 <= 0) z0 = 0.01;
}

void LanduseParameterGrids::DailyValuesOfCell(int k, int r, int c, long dayOfMonth, long monthOfYear, long yearAD) {
    DailyParametersOfCell(k, r, c, dayOfMonth, monthOfYear, yearAD);
    const double noData = Setup.NoData;
    double& vegStart = At(VegetationStartGrid, k, r, c);
    double& vegStop = At(VegetationStopGrid, k, r, c);
    const int position = Position(LayerCells[k][r][c]);
    if (position == 0) {
        vegStart = vegStop = noData;
        return;
    }
    const LanduseType& R = (*Table)[position];
    DiagnosticsWriter* log = Setup.Writer;
    const int doy = R.DayOfYear(static_cast<int>(dayOfMonth), static_cast<int>(monthOfYear), static_cast<int>(yearAD));
    const double altitude = Elevation[r][c];
    if (doy == R.JDVegetationResetForBalance) {
        vegStart = -1;
        vegStop = -1;
        At(VegetationDurationGrid, k, r, c) = 0;
    }
    if (vegStart <= 0) vegStart = R.BalancePeriodDayAtJulDay(log, doy, k, r, c, altitude);
    if (vegStop < 0) vegStop = R.BalanceStopDayAtJulDay(log, doy, k, r, c, altitude);
}

void LanduseParameterGrids::ResumeParameters(long hour, long day, long month, long year) {
    if (Layers < 1 || !Table) return;
    // The parameters change at the last step of a day (hour plus the
    // truncated time shift = 24); before it a day still runs on the values
    // of the day before.
    const long shift = static_cast<long>(std::trunc(Setup.GetTimeShift()));
    if (hour + shift <= 24) {
        if (--day < 1) {
            if (--month < 1) {
                month = 12;
                --year;
            }
            day = DaysInMonth(year, month);
        }
    }
    ForEachRow(1, Setup.NRows, ValidCells(), [&](int r) {
        const int last = LastColumn(r);
        for (int c = FirstColumn(r); c <= last; ++c) {
            if (!InsideZone(r, c) || !Own(r, c)) continue;
            for (int k = 1; k <= Layers; ++k) DailyParametersOfCell(k, r, c, day, month, year);
        }
    });
}

void LanduseParameterGrids::RaiseVegetationFlags() {
    if (!Table || Table->empty() || !Setup.GridTable) return;
    const LanduseType& noLanduse = (*Table)[0];
    const int dayOfYear = noLanduse.DayOfYear(static_cast<int>(Setup.StepDay), static_cast<int>(Setup.StepMonth),
                                              static_cast<int>(Setup.StepYear));
    const bool reset = dayOfYear == noLanduse.JDVegetationResetForBalance;
    const bool output = dayOfYear == noLanduse.JDVegetationWriteForBalance;
    if (!reset && !output) return;
    for (int i = FirstGridIndex; i <= LastGridIndex; ++i) {
        MemoryGrid& entry = Setup.GridTable[i];
        if (!entry.EverUsed && entry.InternalName.empty()) break;  // never held a name: end of the table
        if (reset) entry.VegResetDue = 1;
        if (output) entry.VegOutputDue = 1;
    }
}

void LanduseParameterGrids::CountVegetationDuration() {
    const double noData = Setup.NoData;
    ForEachRow(1, Setup.NRows, ValidCells(), [&](int r) {
        const int last = LastColumn(r);
        for (int c = FirstColumn(r); c <= last; ++c) {
            const bool inside = InsideZone(r, c);
            // Zone cells of another process are that process's business.
            if (inside && !Own(r, c)) continue;
            for (int k = 1; k <= Layers; ++k) {
                double& duration = At(VegetationDurationGrid, k, r, c);
                if (!inside) {
                    duration = noData;
                } else if (At(VegetationStartGrid, k, r, c) >= 0 && At(VegetationStopGrid, k, r, c) <= 0) {
                    duration += 1;
                }
            }
        }
    });
}
