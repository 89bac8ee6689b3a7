// The step of potential evapotranspiration: sun geometry once per step, then
// every cell of the grid by the method of the settings.

#include <algorithm>
#include <cmath>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/parallel_rows.h"
#include "framework/zonalstatistic.h"
#include "parameters/multilayer_landuse.h"
#include "surface/etpetr.h"
#include "surface/etpetr_physics.h"

namespace {
constexpr double TwoPi = 2.0 * 3.14159265359;
}

void verdunstungsmodellklasse::PotentialEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (Method == 0) return;
    StepDay = day;
    StepMonth = month;
    StepYear = year;
    StepHour = static_cast<int64_t>(static_cast<double>(hour) + Settings.TimeShift);

    const int64_t shifted = static_cast<int64_t>(TimeShiftHours) + hour;
    if (Writer && (LogInterval <= 1 || shifted % LogInterval == 0)) {
        Writer->SetWidth(20);
        *Writer << "pot. evaptranspir." << " " << day << "." << month << "." << year << " " << hour << ". h "
                << "(time of meteo data)" << "[end-entry]";
    }
    const int d = static_cast<int>(day), m = static_cast<int>(month);
    int doy = d;
    for (int i = 1; i < m && i <= 12; ++i) doy += DaysPerMonth[i];

    for (int k = 0; k <= LayerCount; ++k) {
        PotTranspirationStats[k]->ResetStep();
        PotInterceptionStats[k]->ResetStep();
    }
    PotEvaporationStats->ResetStep();
    RadiationStats->ResetStep();
    CloudinessStats->ResetStep();

    SunshineFraction();
    const double beta = SunlitFraction;
    if (EtpMethod == 2 || EtpMethod == 4) {
        NightFlag = 1;
        SubStepCount = 0;
    } else if (NightFlag || (Radiation && Sunshine)) {
        SubStepCount = 0;
    } else {
        const double g = TimeInterval / 60 * beta;
        // The table holds 24 sub-steps; longer steps share them out.
        SubStepCount = std::clamp(static_cast<int>(std::ceil(g - 0.001)), 1, 24);
        SubStepHours = g / SubStepCount;
        const double start = static_cast<double>(StepHour) + TimeShiftHours - TimeInterval / 60 +
                             DarkHoursBeforeSunrise;
        for (int i = 1; i <= SubStepCount; ++i) {
            double azimuth = 0, elevation = 0;
            SunAzimuth(d, m, &azimuth, &elevation, Latitude, Longitude, start + (i - 0.5) * SubStepHours);
            CosZenith[i] = std::cos(0.5 * Pi - elevation);
        }
    }
    Tau = etpetr::Transmissivity(T0, T1, d, m);

    if (TimeInterval < 720) {
        const bool bright = beta > 0.05;
        if (bright && !BrightPartBegun) {
            for (int32_t i = 1; i <= NRows; ++i)
                for (int32_t j = 1; j <= NCols; ++j)
                    if (ActiveCell(i, j)) SsdTemp[i][j] = 0;
            BrightPartBegun = true;
            BrightSteps = 1;
        } else if (bright) {
            ++BrightSteps;
        } else if (BrightPartBegun) {
            for (int32_t i = 1; i <= NRows; ++i)
                for (int32_t j = 1; j <= NCols; ++j)
                    if (ActiveCell(i, j)) SsdTemp[i][j] = BrightSteps < 1 ? 0.5 : SsdTemp[i][j] / BrightSteps;
            BrightPartBegun = false;
        }
    }
    if (EtpMethod == 1 && TimeInterval > 720) {
        DayAmplitude = etpetr::TemperatureAmplitudeOfDay(AmplitudeTable, d, m, DaysPerMonth[std::clamp(m, 1, 12)]);
        SeasonalTerm = AnnualVariability * std::cos(doy / 365.0 * TwoPi);
    }

    // One region: every row is computed, then unit cells take their master's
    // values (a master may lie in a later row) and each row gathers its zone
    // sums, which the statistics fold in row order.
#pragma omp parallel if (WorthThreads(static_cast<int64_t>(NRows) * NCols))
    {
#pragma omp for schedule(static, 1)
        for (int32_t i = 1; i <= NRows; ++i) ComputeRows(i);
#pragma omp for schedule(static, 1)
        for (int32_t i = 1; i <= NRows; ++i) GatherRowStatistics(i);
    }

    StepHour = hour;
    std::vector<int> indices;
    for (int k = 0; k <= LayerCount; ++k) {
        PotTranspirationStats[k]->CloseStep(year, month, day, hour);
        indices.push_back(PotTranspirationIndex[k]);
        PotInterceptionStats[k]->CloseStep(year, month, day, hour);
        indices.push_back(PotInterceptionIndex[k]);
    }
    PotEvaporationStats->CloseStep(year, month, day, hour);
    indices.push_back(PotEvaporationIndex);
    // The sums of every grid in one pass over the rows, then the grids.
    WriteGridsByCode(indices.data(), static_cast<int>(indices.size()), true, false);
    RadiationStats->CloseStep(year, month, day, hour);
    CloudinessStats->CloseStep(year, month, day, hour);
}

void verdunstungsmodellklasse::GatherRowStatistics(int32_t i) {
    for (int32_t j = 1; j <= NCols; ++j) {
        if (!ActiveCell(i, j)) continue;
        if (CopiesMaster(i, j)) CopyPotentialsFromMaster(i, j);
        const int zone = ZoneRankOfCell(i, j);
        if (EtpMethod == 1) {
            for (int k = 1; k <= LayerCount; ++k) {
                const bool none = Landuse[k] && Landuse[k][i][j] == NoData;
                PotTranspirationStats[k]->AddToRow(i, j, zone, none ? 0 : PotTranspiration[k][i][j], 1);
                PotInterceptionStats[k]->AddToRow(i, j, zone, none ? 0 : PotInterception[k][i][j], 1);
            }
        }
        PotTranspirationStats[0]->AddToRow(i, j, zone, PotTranspiration[0][i][j], 1);
        PotInterceptionStats[0]->AddToRow(i, j, zone, PotInterception[0][i][j], 1);
        PotEvaporationStats->AddToRow(i, j, zone, PotEvaporation[i][j], 1);
        RadiationStats->AddToRow(i, j, zone, CorrectedGlobalRadiation[i][j], 1);
        CloudinessStats->AddToRow(i, j, zone, Cloudiness[i][j], 1);
    }
}

void verdunstungsmodellklasse::ComputeRows(int32_t i) {
    const double beta = SunlitFraction;
    const double* a = RadiationPoly;
    for (int32_t j = 1; j <= NCols; ++j) {
        if (!ActiveCell(i, j) || (MasterGrid && MasterGrid[i][j] == NoData)) {
            for (int k = 0; k <= LayerCount; ++k) PotTranspiration[k][i][j] = PotInterception[k][i][j] = NoData;
            continue;
        }
        const double t = Temperature[i][j];
        double s = 0, b = 0, sw = 0, r = 0;
        if (NightFlag) {
            s = SsdTemp[i][j];
            Cloudiness[i][j] = 0.5;
            CorrectedGlobalRadiation[i][j] = 0;
        } else {
            double clearSky = 0;
            if (!(Radiation && Sunshine) && SubStepCount > 0 && CosZenith[SubStepCount / 2 + 1] > 0.017) {
                const double p = AirPressure ? AirPressure[i][j] : etpetr::AirPressureFromElevation(Elevation[i][j], t);
                clearSky = etpetr::ClearSkyRadiation(SubStepCount, SubStepHours, Tau, p, CosZenith + 1);
            }
            if (Sunshine) {
                s = Sunshine[i][j];
                b = etpetr::Cubic(a, s);
            } else if (clearSky > 0 && Radiation) {
                b = etpetr::RelativeRadiation(Radiation[i][j], clearSky);
                s = etpetr::SunshineFromRelativeRadiation(SunshinePoly, SunshineThreshold, b);
            }
            const double chi = CorrectedRadiation ? CorrectedRadiation[i][j] : 1;
            if (Radiation) {
                r = Radiation[i][j];
                if (CorrectedRadiation) {
                    r = (1 + (1 - a[0]) * s * (chi - 1)) * r;
                    Radiation[i][j] = r;
                }
            } else if (CorrectedRadiation) {
                r = (a[0] + (a[1] * s + a[2] * s * s + a[3] * s * s * s) * chi) * clearSky;
            } else {
                r = clearSky * b;
            }
            SsdTemp[i][j] += s;
            r = std::min(r, 1260 * TimeInterval / 60 * beta);
            CorrectedGlobalRadiation[i][j] = r;
            sw = (1 - (LakeCell(i, j) ? OpenWaterAlbedo : Albedo[i][j])) * r;
            Cloudiness[i][j] = etpetr::Cloudiness(b);
        }
        PotEvaporation[i][j] = 0;
        RealEvaporation[i][j] = 0;
        SnowEvaporationGrid[i][j] = 0;

        double etp = 0;
        switch (EtpMethod) {
            case 1:
                if (TimeInterval > 720 && !NightFlag) {
                    const double decay = AmplitudeScaleHeight > 0 ? std::exp(-Elevation[i][j] / AmplitudeScaleHeight) : 0;
                    const double f = decay * b * DayAmplitude;
                    Temperature[i][j] = t + (DayFraction + SeasonalTerm) * f;
                    NightTemperature[i][j] -= (NightFraction - SeasonalTerm) * f;
                }
                PenmanMonteithCell(i, j, s, sw, beta);
                continue;
            case 2: {
                const int m = static_cast<int>(StepMonth), d = static_cast<int>(StepDay);
                const double pec = etpetr::HamonMonthlyFactor(PecTable, d, m, DaysPerMonth[m]);
                etp = etpetr::HamonEtp(pec, beta, t);
                break;
            }
            case 3:
                etp = etpetr::WendlingEtp(r, LakeCell(i, j) ? OpenWaterAlbedo : Albedo[i][j], CoastFactor, t);
                break;
            case 4: {
                const double es = etpetr::HaudeSaturationVapourPressure(t);
                const double deficit = Humidity ? etpetr::HaudeDeficitFromHumidity(Humidity[i][j])
                                                : etpetr::HaudeDeficitFromVapourPressure(VapourPressure[i][j], es);
                etp = etpetr::HaudeEtp(es, FhTable[StepMonth], deficit);
                break;
            }
            default:
                etp = PotTranspiration[0][i][j];
        }
        etp = std::max(0.0, etp);
        PotTranspiration[0][i][j] = PotInterception[0][i][j] = etp;
        RealTranspiration[0][i][j] = RealTranspiration[1][i][j] = 0;
        PotTranspiration[1][i][j] = PotTranspiration[0][i][j];
        PotInterception[1][i][j] = PotInterception[0][i][j];
    }
}

void verdunstungsmodellklasse::PenmanMonteithCell(int32_t i, int32_t j, double sunshine, double shortwave,
                                                  double beta) {
    const int layers = LayerCount;
    PotTranspiration[0][i][j] = PotInterception[0][i][j] = RealTranspiration[0][i][j] = 0;
    double topResistance = 0, leftNight = 0, leftDay = 0, leafAbove = 0;

    // The set-up has renumbered "landuse" to positions in the multilayer
    // table, so the cell value is the entry itself.
    double extinction = 0.3, leafScale = 10;
    if (layers > 1 && Landuse[0]) {
        const double position = ZoneCodeOf(Landuse[0][i][j]);
        if (position >= 1 && position <= Settings.MultilayerLanduseCount) {
            const MultilayerLanduseType& entry = Settings.MultilayerLanduseTable[static_cast<int>(position)];
            extinction = entry.k_extinct;
            leafScale = entry.LAI_scale;
        }
    }
    const double pressure = AirPressure ? AirPressure[i][j]
                                        : etpetr::AirPressureFromElevation(Elevation[i][j], Temperature[i][j]);
    etpetr::PenmanMonteithLayer in;
    in.netRadiationInput = NetRadiation;
    in.intervalMinutes = TimeInterval;
    in.sigmaDt = SigmaDt;
    in.airPressure = pressure;
    in.windSpeed = WindSpeed[i][j];
    in.soilResistance = SoilResistance[i][j];
    in.extinction = extinction;
    in.leafAreaScale = leafScale;
    in.netRadiation = NetRadiation ? Radiation[i][j] : 0;
    in.shortwave = shortwave;
    in.sunshine = sunshine;
    in.a0 = RadiationPoly[0];

    for (int k = 1; k <= layers; ++k) {
        if (Landuse[k] && Landuse[k][i][j] == NoData) {
            PotTranspiration[k][i][j] = PotInterception[k][i][j] = 0;
            continue;
        }
        // A layer above without leaves (nodata) adds no leaf area.
        if (k >= 2) leafAbove += std::max(0.0, LeafArea[k - 1][i][j]);
        in.topLayer = k == 1;
        in.lowestLayer = layers == 1 || k == layers || LeafArea[k + 1][i][j] == NoData;
        in.openWater = in.lowestLayer && LakeCell(i, j);
        in.coverage = Coverage[k][i][j];
        in.leafAreaIndex = LeafArea[k][i][j];
        in.canopyResistance = CanopyResistance[k][i][j];
        in.interceptionResistance = InterceptResistance[k][i][j];
        in.roughnessLength = in.openWater ? OpenWaterRoughness : Roughness[k][i][j];
        in.leafAreaAbove = leafAbove;

        etpetr::PenmanMonteithResult night, dayPart;
        auto part = [&](bool isDay, double temperature, double fraction, double& left) {
            in.dayPart = isDay;
            in.temperature = temperature;
            in.partFraction = fraction;
            in.saturationPressure = etpetr::SaturationVapourPressure(temperature);
            in.vapourPressure = VapourPressure ? VapourPressure[i][j]
                                               : std::clamp(Humidity[i][j], 0.0, 1.0) * in.saturationPressure;
            return etpetr::PenmanMonteith(in, topResistance, left);
        };
        if (1 - beta >= 0.01) night = part(false, NightTemperature[i][j], 1 - beta, leftNight);
        if (beta >= 0.01) dayPart = part(true, Temperature[i][j], beta, leftDay);

        PotTranspiration[k][i][j] = std::max(0.0, night.transpiration + dayPart.transpiration);
        PotInterception[k][i][j] = std::max(0.0, night.interception + dayPart.interception);
        PotEvaporation[i][j] += night.soilEvaporation + dayPart.soilEvaporation;
        RealTranspiration[k][i][j] = 0;
        PotTranspiration[0][i][j] += PotTranspiration[k][i][j];
        PotInterception[0][i][j] += PotInterception[k][i][j];
    }
    PotTranspiration[0][i][j] += PotEvaporation[i][j];
}
