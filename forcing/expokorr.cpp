#include "forcing/expokorr.h"

#include <cmath>
#include <cstdio>

#include "forcing/expokorr_physics.h"
#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/parallel_rows.h"

expokorrklasse::expokorrklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                               int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                               MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
    try {
        Construct();
    } catch (int code) {
        *status = code;
    } catch (...) {
        *status = 103;
    }
    if (*status != 0 && ControlFile) {
        std::fclose(ControlFile);
        ControlFile = nullptr;
    }
}

expokorrklasse::~expokorrklasse() { ReleaseOwnGrids(); }

void expokorrklasse::Construct() {
    Regions = OptionalGrid("MPIRegions");
    if (Method != 0) {
        if (Writer) {
            *Writer << "file "
                    << "expokorr"
                    << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
        }
        ReadSection();
        Elevation = RequiredGrid("[elevation_model]");
        Aspect = RequiredGrid("slope_aspect");
        Slope = RequiredGrid("slope_angle");
        if (FindGrid("HydrologicResponseUnits") > 0 || FindGrid("MasterHydrologicResponseUnits") > 0) {
            RequiredGrid("HydrologicResponseUnits");
            MasterGrid = RequiredGrid("MasterHydrologicResponseUnits");
        }
        Sunshine = OptionalGrid("sunshine_duration");
    }
    Temperature = OptionalGrid("temperature");
    if (!Temperature) Temperature = OptionalGrid("temperature_14");

    if (Method != 0) {
        CorrectedRadiation = CreateGrid(RatioIndex, RatioFileName, "radiation_correction", RatioWriteCode, 1, NRows);
        ShadowGrid = CreateGrid(ShadowIndex, ShadowFileName, "Shadow", ShadowWriteCode, ShadowFirstRow, ShadowLastRow);
        SlopeRadiationSum = CreateGrid(SlopeRadiationIndex, "Ieff_max", "Ieff_max", 0, 1, NRows);
        if (TemperatureCorrected() && Temperature) {
            CorrectedTemperatureGrid = CreateGrid(TemperatureIndex, TemperatureFileName, "corr_temperature",
                                                  TemperatureWriteCode, 1, NRows);
        }
        StepCounter = StepsPerComputation;
    }
    NightTemperature = Temperature;
    if (TimeInterval > 720 && Temperature) {
        NightTemperature = CreateGrid(NightIndex, "$$temperature_night$$", "temperature_night", 0, 1, NRows);
    }
}

void expokorrklasse::ReadSection() {
    const std::string section = "[" + ModuleName + "]";
    FILE* f = ControlFile;
    ReadValue(f, "%d", &CorrectionMethod, "methode of correction for " + section, &LineBuffer);
    ReadValue(f, "%s", &TemperatureFileName, "name of the TKORR-Grid for" + section, &LineBuffer);
    ReadValue(f, "%d", &TemperatureWriteCode, "Writegrid EXKORR for " + section, &LineBuffer);
    ReadValue(f, "%lf", &TemperatureScaling, "scaling factor for Tkorr for " + section, &LineBuffer);
    ReadValue(f, "%s", &RatioFileName, "name of the EXKORR-Grids for" + section, &LineBuffer);
    ReadValue(f, "%d", &RatioWriteCode, "Writegrid EXKORR for " + section, &LineBuffer);
    ReadValue(f, "%s", &ShadowFileName, "name of the SHAPE-Grid for" + section, &LineBuffer);
    ReadValue(f, "%d", &ShadowWriteCode, "Writegrid SHAPE for " + section, &LineBuffer);
    ReadValue(f, "%d", &StepsPerComputation, "number if timesteps for " + section, &LineBuffer);
    ReadValue(f, "%d", &Splittings, "number of splittings for " + section, &LineBuffer);
    // Without a sub-step there is nothing to divide the step into.
    if (Splittings < 1) ControlFileError("number of splittings for " + section, ModuleName);
    if (CorrectionMethod < 1 || CorrectionMethod > 4) CorrectionMethod = 2;
    ShadowFirstRow = 1;
    ShadowLastRow = NRows;

    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing control file " << ControlFilePath << "[end-entry]";
        throw 11;
    }
}

double** expokorrklasse::CreateGrid(int& index, const std::string& fileName, const std::string& name, int writeCode,
                                    int32_t firstRow, int32_t lastRow) {
    const int entry = FindFreeGridEntry(GridTable);
    if (entry < FirstGridIndex || entry > LastGridIndex) {
        if (Writer) *Writer << "FATAL: no free grid left" << 1000 << "[end-entry]";
        throw 12;
    }
    double** grid = matrix(firstRow, lastRow, 1, NCols, NRows);
    for (int32_t i = firstRow; i <= lastRow; ++i) {
        for (int32_t j = 1; j <= NCols; ++j) grid[i][j] = ValidCell(i, j) ? 0 : NoData;
    }
    index = entry;
    StoreGrid(entry, fileName, grid, nullptr, 1, name, writeCode, firstRow, lastRow);
    return grid;
}

bool expokorrklasse::ValidCell(int32_t row, int32_t col) const {
    if (ZoneGrid[row][col] == NoData) return false;
    if (Regions && Regions[row][col] != ProcessNumber) return false;
    if (MasterGrid && MasterGrid[row][col] == NoData) return false;
    return true;
}

double** expokorrklasse::GetCorrectedRadiationGrid() { return Method == 1 ? CorrectedRadiation : nullptr; }

void expokorrklasse::RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) {
    if (NightIndex > 0) {
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(static_cast<int64_t>(NRows) * NCols))
        for (int32_t i = 1; i <= NRows; ++i) {
            for (int32_t j = 1; j <= NCols; ++j) {
                if (ValidCell(i, j)) NightTemperature[i][j] = Temperature[i][j];
            }
        }
    }
    if (Method == 0) return;
    if (StepCounter < StepsPerComputation) {
        ++StepCounter;
        return;
    }
    StepCounter = 1;

    teilmodellklasse::RunTimeStep(hour, day, month, year);
    HorizontalSum = 0;
    const int d = static_cast<int>(day), m = static_cast<int>(month);
    double sunrise = 0, sunset = 0;
    SunriseSunset(d, m, &sunrise, &sunset, Latitude, Longitude);
    SunriseHour = std::fmod(24 + sunrise, 24);
    SunsetHour = std::fmod(24 + sunset, 24);

    // Exactly s sub-steps of length L cover the step that ends at T.
    const double stepHours = TimeInterval / 60;
    const double length = stepHours / Splittings;
    const double end = static_cast<double>(hour) + TimeShiftHours + Settings.TimeShift;
    const bool march = ShadowsComputed() && !MasterGrid && ProcessNumber == 0;
    for (int k = 1; k <= Splittings; ++k) {
        const double a = end - stepHours + (k - 1) * length;
        const expokorr::SubStepSun sun = expokorr::SunOfSubStep(a, a + length, sunrise, sunset);
        DarkHoursBeforeSunrise = sun.BeforeSunrise;
        DarkHoursAfterSunset = sun.AfterSunset;
        DarkFraction = sun.DarkFraction;
        SunlitFraction = sun.SunFraction;
        Night = sun.Night;
        NightFlag = Night ? 1 : 0;
        double cosZenith = 1;
        if (Night) {
            SunAzimuthAngle = 0;
            BeamEnergy = 0;
        } else {
            SunAzimuth(d, m, &SunAzimuthAngle, &SunElevationAngle, Latitude, Longitude, sun.SunTime);
            SunZenithAngle = 0.5 * Pi - SunElevationAngle;
            BeamEnergy = expokorr::BeamEnergy(length, SunlitFraction, SunElevationAngle);
            cosZenith = BeamEnergy > 0 ? std::cos(SunZenithAngle) : 1;
        }
        HorizontalSum += BeamEnergy * (BeamEnergy > 0 ? cosZenith : 0);
        SubStep(k == 1, k == Splittings, march && !Night, cosZenith);
        WriteGridByCode(ShadowIndex, true, k < Splittings);
    }

    WriteGridByCode(RatioIndex, true, false);
    if (TemperatureIndex > 0) WriteGridByCode(TemperatureIndex, true, false);
}

void expokorrklasse::SubStep(bool first, bool last, bool shade, double cosZenith) {
    if (shade) shade = Shadows.Lay(NRows, NCols, CellSize, SunAzimuthAngle, SunElevationAngle);
    const int32_t rays = shade ? Shadows.Count() : 0;
    const double horizontal = HorizontalSum;
#pragma omp parallel if (WorthThreads(static_cast<int64_t>(NRows) * NCols))
    {
        // The rays overlap; the march keeps in every cell the mark of the
        // latest ray, whichever thread marched it (see ShadowMarch).
#pragma omp for schedule(dynamic, 16)
        for (int32_t i = 0; i < rays; ++i) Shadows.MarchRay(i, Elevation, ZoneGrid, NoData);
#pragma omp for schedule(static, 1)
        for (int32_t i = 1; i <= NRows; ++i) {
            if (first) ClearStepRow(i);
            ShadeRow(i, shade);
            AccumulateSlopeRadiationRow(i, cosZenith);
            if (last) FinishCorrectionRow(i, horizontal);
        }
    }
}

void expokorrklasse::ClearStepRow(int32_t i) {
    for (int32_t j = 1; j <= NCols; ++j) {
        if (!ValidCell(i, j)) continue;
        if (CorrectedTemperatureGrid) CorrectedTemperatureGrid[i][j] = Temperature[i][j];
        CorrectedRadiation[i][j] = 0;
        SlopeRadiationSum[i][j] = 0;
    }
}

void expokorrklasse::ShadeRow(int32_t i, bool shade) {
    if (i < ShadowFirstRow || i > ShadowLastRow) return;
    // With terrain shadows every region's cells take part in the march.
    const bool anyRegion = ShadowsComputed() && ProcessNumber == 0;
    for (int32_t j = 1; j <= NCols; ++j) {
        if (ZoneGrid[i][j] != NoData && (anyRegion || !Regions || Regions[i][j] == ProcessNumber) &&
            (!MasterGrid || MasterGrid[i][j] != NoData))
            ShadowGrid[i][j] = 0;
        if (!shade) continue;
        const int mark = Shadows.Mark(i, j);
        if (mark >= 0) ShadowGrid[i][j] = mark;
    }
}

void expokorrklasse::AccumulateSlopeRadiationRow(int32_t i, double cosZenith) {
    if (!(BeamEnergy > 0)) return;  // night or a sun too low: nothing reaches any cell
    const double toRadians = Pi / 180;
    const double azimuth = SunAzimuthAngle, zenith = SunZenithAngle, beam = BeamEnergy;
    for (int32_t j = 1; j <= NCols; ++j) {
        if (!ValidCell(i, j)) continue;
        const bool shadowed = !(ShadowGrid[i][j] < 0.5);
        // A cell without slope or aspect counts as flat.
        const bool flat = Slope[i][j] == NoData || Aspect[i][j] == NoData;
        const double incidence =
            flat ? cosZenith : CosIncidence(Aspect[i][j] * toRadians, Slope[i][j] * toRadians, azimuth, zenith);
        const bool overcast = Sunshine && Sunshine[i][j] != NoData && Sunshine[i][j] < 0.1;
        CorrectedRadiation[i][j] += expokorr::SlopeRadiation(incidence, cosZenith, beam, shadowed, overcast);
    }
}

void expokorrklasse::FinishCorrectionRow(int32_t i, double horizontal) {
    for (int32_t j = 1; j <= NCols; ++j) {
        if (!ValidCell(i, j)) continue;
        SlopeRadiationSum[i][j] = CorrectedRadiation[i][j];
        const double ratio = expokorr::CorrectionRatio(CorrectedRadiation[i][j], horizontal);
        CorrectedRadiation[i][j] = ratio;
        if (!CorrectedTemperatureGrid) continue;
        const double t = Temperature[i][j];
        if (t == NoData) continue;
        const double sunshine = Sunshine && Sunshine[i][j] != NoData ? Sunshine[i][j] : 0.5;
        CorrectedTemperatureGrid[i][j] = expokorr::CorrectedTemperature(t, ratio, TemperatureScaling, sunshine, horizontal);
    }
}

void expokorrklasse::ReleaseOwnGrids() {
    struct Own {
        int& Index;
        double**& Grid;
        int32_t First, Last;
    };
    Own grids[] = {{NightIndex, NightTemperature, 1, NRows},
                   {TemperatureIndex, CorrectedTemperatureGrid, 1, NRows},
                   {ShadowIndex, ShadowGrid, ShadowFirstRow, ShadowLastRow},
                   {RatioIndex, CorrectedRadiation, 1, NRows},
                   {SlopeRadiationIndex, SlopeRadiationSum, 1, NRows}};
    for (Own& g : grids) {
        if (g.Index <= 0) continue;
        if (GridTable) ReleaseGrid(g.Index);
        free_matrix(g.Grid, g.First, g.Last, 1, NCols);
        g.Index = 0;
        g.Grid = nullptr;
    }
    NightTemperature = Temperature;
}

void expokorrklasse::DeleteModule() {
    if (Deleted()) return;
    ReleaseOwnGrids();
    modelobject::DeleteModule();
}
