#include "surface/snowmod.h"

#include <cstdio>
#include <string>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/zonalstatistic.h"
#include "parameters/multilayer_landuse.h"

schneemodellklasse::schneemodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                                       int statisticsTableSize, const std::string& sectionName,
                                       const ModelSettings& settings, MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    storageFirstRow = 1;
    storageLastRow = NRows;
    *status = 0;
    if (Method == 0) return;
    ConstructOrRelease([this] { Construct(); }, [this] { ReleaseAll(); });
}

schneemodellklasse::~schneemodellklasse() { ReleaseAll(); }

bool schneemodellklasse::SlideMethod() const {
    return method == 6 || method == 7 || method == 8 || method == 9 || method == 12 || method == 14;
}

bool schneemodellklasse::EnergyBalanceMethod() const {
    return method == 5 || method == 6 || method == 7 || method == 11;
}

bool schneemodellklasse::DepositionMethod() const {
    return method == 7 || method == 9 || method == 10 || method == 11 || method == 13 || method == 14;
}

void schneemodellklasse::ThrowFatal(const std::string& text, int code) {
    if (Writer) *Writer << text << "[end-entry]";
    throw code;
}

void schneemodellklasse::Construct() {
    if (Writer) {
        *Writer << "file "
                << "snowmod"
                << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    }
    elevationGrid = GridTable[2].Data;
    Subbasins = RankZones(&subbasinGrid);
    regionGrid = OptionalGrid("MPIRegions");
    nLayers = VegetationLayerCount(Settings.MultilayerLanduseTable, Settings.MultilayerLanduseCount);
    landuseGrids.assign(static_cast<size_t>(nLayers) + 1, nullptr);

    ReadSection();
    if (SlideMethod()) {
        storageAllRows = true;
        storageFirstRow = 1;
        storageLastRow = NRows;
    }
    if (method > 4) ReadSlideSettings();
    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) ThrowFatal("FATAL: cannot close " + ControlFilePath, 11);

    CreateStatistics();
    rmfAmplitude = (RMFMAX - RMFMIN) * 0.5;
    rmfMean = rmfAmplitude + RMFMIN;
    seasonalFrequency = 0.017214206;
    seasonalDayShift = -80;

    albedoGrid = RequiredGrid("albedo");
    snowEvaporationGrid = OptionalGrid("snow_evaporation");
    for (int k = 1; k <= nLayers; ++k) landuseGrids[static_cast<size_t>(k)] = RequiredGrid("landuse" + std::to_string(k));

    if (FindGrid("ice_firn") > 0 || FindGrid("GlacierizedCells") > 0) ReadGlacierSection();

    LookUpInputs();
    NextEntry = FindFreeGridEntry(GridTable);
    if (NextEntry == NoFreeGridEntry) {
        if (Writer) {
            *Writer << "FATAL: no free grid left. Please contact the author to set the number of available grids to "
                       "a larger number "
                    << 1000 << "[end-entry]";
        }
        throw 12;
    }
    if (SlideMethod()) {
        for (int k = 1; k <= 4; ++k) slideFractionGrids[k] = RequiredGrid("slidefraction" + std::to_string(k));
        slopeAngleGrid = RequiredGrid("slope_angle");
    }
    if (DepositionMethod()) depositionIndexGrid = RequiredGrid("deposition_index");
    if (EnergyBalanceMethod()) {
        cloudinessGrid = RequiredGrid("cloudiness");
        airHumidityGrid = RequiredGrid("air_humidity");
        correctedGlobalRadiationGrid = RequiredGrid("AspectCorrectedGlobalRadiation");
        surfaceTemperatureGrid = OptionalGrid("surfacetemperature");
    }
    CreateStateGrids();
    if (SlideMethod()) CreateSlideGrids();
    CreateOutputGrids();
    if (glacierFractionGrid) CreateGlacierGrids();
    if (FindGrid("ThawCoeffPermaFrost") > 0 && FindGrid("PermafrostThawDepth") > 0) SetUpPermafrost();

    if (T0 > T0R) {
        if (Writer) {
            *Writer << "ERROR: \n-----------------------------------------------------------------------\n"
                    << "   T0R (threshold temperature rain/snow) < T0 (threshold temperature snow melt)  \n"
                    << "   because these thresholds are contradicting each other, T0R was set to T0!                  "
                       "  \n"
                    << "-----------------------------------------------------------------------"
                    << "[end-entry]";
        }
        T0R = T0;
    }
    SetStatus(0);
    if (FindGrid("MasterHydrologicResponseUnits") > 0 || FindGrid("HydrologicResponseUnits") > 0) {
        hruGrid = RequiredGrid("HydrologicResponseUnits");
        masterHruGrid = RequiredGrid("MasterHydrologicResponseUnits");
    }
}

// One value at the start of the next line of the section; the rest of the
// line is free text.
void schneemodellklasse::ReadRealLine(double& target, const std::string& description) {
    ReadValue(ControlFile, "%lf", &target, description, &LineBuffer);
}

void schneemodellklasse::ReadIntegerLine(int& target, const std::string& description) {
    ReadValue(ControlFile, "%d", &target, description, &LineBuffer);
}

void schneemodellklasse::ReadWordLine(std::string& target, const std::string& description) {
    ReadValue(ControlFile, "%s", &target, description, &LineBuffer);
}

// A statistics line: the file name, then its code.
void schneemodellklasse::ReadStatisticsLine(OutputLine& line, const std::string& description) {
    if (!ReadWord(ControlFile, &line.Statistics)) ControlFileError(description, ModuleName);
    ReadValue(ControlFile, "%d", &line.StatisticsCode, description, &LineBuffer);
}

void schneemodellklasse::ReadSection() {
    ReadIntegerLine(method, "method for ");
    if (method < 1 || method > 14) {
        if (Writer) {
            *Writer << "FATAL: method for " << ModuleName << " must lie within 1 to 14. Here: " << method
                    << "[end-entry]";
        }
        throw 17;
    }
    // Each parameter within its physical range: temperatures [degC] and the
    // transition width [K] within what air temperatures span, fractions and
    // albedos within 0 to 1, factors and the roughness length [m] not negative.
    auto ranged = [&](double& target, double lowest, double highest, const char* description) {
        ReadValueInRange(ControlFile, &target, lowest, highest, description, &LineBuffer);
    };
    ranged(transzone, 0, 100, "transzone for ");
    ranged(T0R, -100, 100, "T0R for ");
    ranged(T0, -100, 100, "T0 for ");
    ranged(CWH, 0, 1, "CWH for ");
    ranged(CRFR, 0, 1e3, "CRFR for ");
    ranged(C0, 0, 1e3, "C0 for ");
    ranged(C1, 0, 1e3, "C1 for ");
    ranged(C2, 0, 1e3, "C2 for ");
    ranged(z0, 0, 100, "z0 for ");
    ranged(RMFMIN, 0, 1e3, "RMFMIN for ");
    ranged(RMFMAX, 0, 1e3, "RMFMAX for ");
    ranged(ALBsnow_min, 0, 1, "ALBsnow_min for ");
    ranged(ALBsnow_max, 0, 1, "ALBsnow_max for ");
    ReadWordLine(rainLine.Grid, "Name of the rain-grid for ");
    ReadIntegerLine(rainLine.WriteCode, "Writegrid of rain-grid for ");
    ReadStatisticsLine(rainLine, "Name of the rain statistics for ");
    ReadWordLine(snowLine.Grid, "Name of the snow grid for ");
    ReadIntegerLine(snowLine.WriteCode, "Writegrid of the snow grid for ");
    ReadStatisticsLine(snowLine, "Name of the snow statistics for ");
    ReadWordLine(snowDaysLine.Grid, "Name of the snowdays grid for ");
    ReadIntegerLine(snowDaysLine.WriteCode, "Writegrid of the snowdays grid for ");
    ReadStatisticsLine(snowDaysLine, "Name of the snowdays statistics for ");
    ReadWordLine(snowAgeLine.Grid, "Name of the snow age grid for ");
    ReadIntegerLine(snowAgeLine.WriteCode, "Writegrid of the snow age grid for ");
    ReadStatisticsLine(snowAgeLine, "Name of the snow age statistics for ");
    ReadStatisticsLine(albedoLine, "name of the albedo statistics for ");
    ReadWordLine(outflowLine.Grid, "Name of the snow outflow grid for ");
    ReadIntegerLine(outflowLine.WriteCode, "Writegrid of the snow outflow grid for ");
    ReadStatisticsLine(outflowLine, "Name of the snow outflow statistics for ");
    ReadWordLine(meltOnlyLine.Grid, "Name of the snow melt only outflow grid for ");
    ReadIntegerLine(meltOnlyLine.WriteCode, "Writegrid of the snow melt only outflow grid for ");
    ReadStatisticsLine(meltOnlyLine, "Name of the snow melt only outflow statistics for ");
    ReadWordLine(solidLine.Grid, "Name of the snow storage grids for ");
    ReadIntegerLine(solidLine.WriteCode, "Writegrid of the snow storage grids for ");
    ReadWordLine(liquidLine.Grid, "Name of the liquid storage grids for ");
    ReadIntegerLine(liquidLine.WriteCode, "Writegrid of the liquid storage grids for ");
    ReadStatisticsLine(totalStatLine, "Name of the total snow storage statistics for ");
    ReadWordLine(totalLine.Grid, "name of the total snow storage grid for ");
    ReadIntegerLine(totalLine.WriteCode, "Writegrid of the total snow storage grid for ");
    ReadIntegerLine(readStorageGrids, "readgrid forr storage grids for ");
    ReadGridsCode = readStorageGrids;
}

void schneemodellklasse::ReadSlideSettings() {
    FILE* f = ControlFile;
    auto bounds = [&](bool ok, const char* text, double value, int code) {
        if (ok) return;
        if (Writer) *Writer << text << value << "[end-entry]";
        throw code;
    };

    // The snow temperature grid name is the first word of the next whole line.
    std::string line;
    ReadRestOfLine(f, &line);
    if (line.size() < 3) {
        ThrowFatal("FATAL: cannot read additional parameters for snow model methods 5 to 11 from " +
                       ControlFilePath,
                   404);
    }
    {
        const size_t begin = line.find_first_not_of(" \t\r\n");
        const size_t end = begin == std::string::npos ? begin : line.find_first_of(" \t\r\n", begin);
        snowTempLine.Grid = begin == std::string::npos ? std::string() : line.substr(begin, end - begin);
    }
    ReadIntegerLine(snowTempLine.WriteCode, "Writegrid of the snow pack temperature grid for ");
    ReadStatisticsLine(snowTempLine, "Name of the snow pack temperature statistics for ");
    ReadWordLine(surfTempLine.Grid, "Name of the snow surface temperature grid for ");
    ReadIntegerLine(surfTempLine.WriteCode, "Writegrid of the snow surface temperature grid for ");
    ReadStatisticsLine(surfTempLine, "Name of the snow surface temperature statistics for ");
    ReadWordLine(inputMassLine.Grid, "Name of the input mass grid for ");
    ReadIntegerLine(inputMassLine.WriteCode, "Writegrid of the input mass grid for ");
    ReadStatisticsLine(inputMassLine, "Name of the input mass statistics for ");
    ReadWordLine(mobileMassLine.Grid, "Name of the mobile mass grid for ");
    ReadIntegerLine(mobileMassLine.WriteCode, "Writegrid of the mobile mass grid for ");
    ReadStatisticsLine(mobileMassLine, "Name of the mobile mass statistics for ");
    ReadWordLine(depositionLine.Grid, "Name of the deposition grid for ");
    ReadIntegerLine(depositionLine.WriteCode, "Writegrid of the deposition grid for ");
    ReadStatisticsLine(depositionLine, "Name of the deposition statistics for ");
    ReadRealLine(maxDepositionSlope, "maximum slope for deposition for ");
    bounds(maxDepositionSlope >= 0 && maxDepositionSlope <= 90,
           "FATAL: maxDepositionSlope not within parameter bounds of [0...90] Here: ", maxDepositionSlope, 405);
    ReadRealLine(maxDepositionFactor, "maximum deposition factor for ");
    bounds(maxDepositionFactor > 0, "FATAL: maxDepositionFactor not within parameter bounds of (0...inf). Here: ",
           maxDepositionFactor, 406);
    ReadRealLine(minSlideSlope, "minimum slope for slides for ");
    bounds(minSlideSlope > 0 && minSlideSlope <= 90,
           "FATAL: minSlideSlope not within parameter bounds of [0...90]. Here: ", minSlideSlope, 407);
    ReadRealLine(slideMassFrac, "slide mass fraction for ");
    bounds(slideMassFrac > 0 && slideMassFrac <= 1,
           "FATAL: slideMassFrac not within parameter bounds of (0...1.0]. Here: ", slideMassFrac, 408);
    ReadRealLine(LWINcorr, "incoming long wave radiation correction factor for ");
    bounds(LWINcorr > 0 && LWINcorr <= 3,
           "FATAL: incoming long wave radiation correction factor LWINcorr not within parameter bounds of "
           "(0...3.0]. Here: ",
           LWINcorr, 408);
    ReadRealLine(LWOUTcorr, "outgoing long wave radiation correction factor for ");
    bounds(LWOUTcorr > 0 && LWOUTcorr <= 3,
           "FATAL: outgoing long wave radiation correction factor LWOUTcorr not within parameter bounds of "
           "(0...3.0]. Here: ",
           LWOUTcorr, 408);
}

void schneemodellklasse::LookUpInputs() {
    if (method == 4) vapourPressureGrid = RequiredGrid("vapor_pressure");
    if (method != 1 && method != 8 && method != 9 && method != 10) windSpeedGrid = RequiredGrid("wind_speed");
    const int t = FindOneOfThreeGrids("corr_temperature", "temperature", "temperature_14");
    temperatureGrid = GridTable[t].Data;
    precipitationGrid = RequiredGrid("precipitation");
    nightTemperatureGrid = TimeInterval > 720 ? RequiredGrid("temperature_night") : temperatureGrid;
}

void schneemodellklasse::CreateStatistics() {
    statOutflow = MakeStatistics(outflowLine, 4, "snow_melt_(effective_outflow_from_snow_cover)___");
    statMeltOnly = MakeStatistics(meltOnlyLine, 4, "snow_melt_only(effective_outflow_from_snow_cover)___");
    statSnowStorage = MakeStatistics(totalStatLine, 3, "snow_storage_in_mm___");
    statSnowDays = MakeStatistics(snowDaysLine, 3, "snow_days____");
    statSnowAge = MakeStatistics(snowAgeLine, 3, "snow_age____");
    statSnowFraction = MakeStatistics(snowLine, 3, "p_snow____");
    statRainFraction = MakeStatistics(rainLine, 3, "p_rain____");
    statAlbedo = MakeStatistics(albedoLine, 3, "albedo____");
    if (EnergyBalanceMethod()) {
        statSnowTemp = MakeStatistics(snowTempLine, 3, "snowtemp____");
        statSurfTemp = MakeStatistics(surfTempLine, 3, "surftemp____");
    }
    if (SlideMethod()) {
        statInputMass = MakeStatistics(inputMassLine, 3, "input_mass____");
        statMobileMass = MakeStatistics(mobileMassLine, 3, "mobile_mass____");
        statDeposition = MakeStatistics(depositionLine, 3, "deposition____");
    }
}

zonalstatistic* schneemodellklasse::MakeStatistics(const OutputLine& line, int precision, const std::string& title) {
    const int zoneCount = Settings.Zones ? Settings.ZoneCount : 0;
    return CreateOwnedStatistics(ZoneKeys(Settings.Zones, zoneCount), zoneCount, StatisticsTable, StatisticsTableSize,
                                 line.StatisticsCode, precision, line.Statistics, Settings.DefaultOutputDirectory,
                                 title, ModuleName);
}
