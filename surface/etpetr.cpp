#include "surface/etpetr.h"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/hru_cells.h"
#include "framework/parallel_rows.h"
#include "framework/zonalstatistic.h"
#include "parameters/multilayer_landuse.h"
#include "surface/etpetr_physics.h"
#include "surface/glacier_share.h"
#include "surface/layer_file_name.h"

namespace {

const char* const ErrorHeader = "FATAL: \n---------------------- error in evapotranspiration model ------------------- \n";
const char* const ErrorFooter = "\n\n-----------------------------------------------------------------------\n";

}  // namespace

verdunstungsmodellklasse::verdunstungsmodellklasse(int* status, DiagnosticsWriter* writer,
                                                   StatisticsTableEntry* statisticsTable, int statisticsTableSize,
                                                   const std::string& sectionName, const ModelSettings& settings,
                                                   MemoryGrid* gridTable)
    : teilmodellklasse(writer, sectionName, settings, gridTable, 1),
      StatisticsTable(statisticsTable),
      StatisticsTableSize(statisticsTableSize) {
    *status = 0;
    if (Method == 0) return;
    ConstructOrRelease([this] { Construct(); }, [this] { ReleaseAll(); });
}

verdunstungsmodellklasse::~verdunstungsmodellklasse() { ReleaseAll(); }

void verdunstungsmodellklasse::Construct() {
    if (Writer) {
        *Writer << "file "
                << "etpetr"
                << ", compiled at " << __DATE__ << ", " << __TIME__ << "[end-entry]";
    }
    Regions = OptionalGrid("MPIRegions");
    LayerCount = VegetationLayerCount(Settings.MultilayerLanduseTable, Settings.MultilayerLanduseCount);
    ReadSection();
    SelectInputs();
    CreateGridsAndStatistics();
    GlacierFraction = OptionalGrid("GlacierizedCells");
    if (!GlacierFraction) GlacierFraction = OptionalGrid("ice_firn");
    if (FindGrid("HydrologicResponseUnits") > 0 && FindGrid("MasterHydrologicResponseUnits") > 0) {
        UnitGrid = RequiredGrid("HydrologicResponseUnits");
        MasterGrid = RequiredGrid("MasterHydrologicResponseUnits");
        HruMasters = FindHruMasterCells(MasterGrid, NRows, NCols, NoData);
    }
}

void verdunstungsmodellklasse::ReadMonthlyTable(double table[14], bool pec) {
    for (int m = 1; m <= 12; ++m) {
        std::string text;
        long line = 0;
        // Each value a whole, finite word.
        const bool read = ScanNumberWord(ControlFile, &table[m], &text, &line) == WordScan::Read &&
                          RangeFault(table[m], -1e6, 1e6).empty();
        if (!read) {
            if (Writer) {
                *Writer << ErrorHeader << "there have to be 12 (monthly) values for the "
                        << (pec ? "PEC-parameter for \nHAMON-evaporation" : "fh-parameter for \nHAUDE-evaporation")
                        << " in the control file." << ErrorFooter << "[end-entry]";
            }
            throw 45;
        }
    }
    table[0] = table[12];
    table[13] = table[1];
}

void verdunstungsmodellklasse::ReadSection() {
    FILE* f = ControlFile;
    auto word = [&](std::string& target, const std::string& description) {
        ReadValue(f, "%s", &target, description, &LineBuffer);
    };
    auto integer = [&](int& target, const std::string& description) {
        ReadValue(f, "%d", &target, description, &LineBuffer);
    };
    auto statistics = [&](std::string& name, int& code, const std::string& description) {
        if (!ReadWord(f, &name)) ControlFileError(description, ModuleName);
        ReadValue(f, "%d", &code, description, &LineBuffer);
    };
    auto reals = [&](double* target, int n, const std::string& description) {
        for (int i = 0; i < n; ++i) {
            ReadFloating(f, &target[i], -1e6, 1e6, description);
        }
        ReadRestOfLine(f, nullptr);
    };

    integer(EtpMethod, "Methode fuer ");
    if (EtpMethod > 1 && LayerCount > 1) {
        if (Writer) {
            *Writer << ErrorHeader
                    << "\nModelling evapotranspiration after HAMON, WENDLING or HAUDE is only possible\nfor unlayered "
                       "Vegetation. Actual parameters: method: "
                    << EtpMethod << ", number of layers: " << LayerCount << ErrorFooter << "[end-entry]";
        }
        throw 44;
    }
    if (EtpMethod > 1 && TimeInterval < 1440) {
        if (Writer) {
            *Writer << ErrorHeader
                    << "\nModelling evapotranspiration after HAMON, WENDLING or HAUDE is only possible\nfor daily "
                       "time steps or larger. The actual time step is less than 1440 min.\nactual parameters: "
                       "method: "
                    << EtpMethod << ", timestep: " << TimeInterval << " minutes" << ErrorFooter << "[end-entry]";
        }
        throw 44;
    }
    ReadMonthlyTable(PecTable, true);
    ReadMonthlyTable(FhTable, false);
    ReadValue(f, "%lf", &CoastFactor, "fk - Coastfactor (WENDLING) for", &LineBuffer);
    word(EtpName, "Name of the ETP-Grids for ");
    integer(EtpWrite, "Writegrid ETP for ");
    statistics(EtpStat, EtpStatCode, "Name of ETP-stat.file for ");
    word(EtrName, "Name of the ETR-Grids for ");
    integer(EtrWrite, "Writegrid ETR for    ");
    statistics(EtrStat, EtrStatCode, "Name of the ETR-stat.file for ");
    word(EvapName, "Name of the evaporation_potential-grid for ");
    integer(EvapWrite, "Writegrid EVAP for    ");
    statistics(EvapStat, EvapStatCode, "Name of the evaporation_potential-stat.files for ");
    word(EvarName, "Name of the evaporation_real grid for ");
    integer(EvarWrite, "Writegrid evaporation real for    ");
    statistics(EvarStat, EvarStatCode, "Name of the evaporation_real-stat.files for ");
    word(SnowEvapName, "Name of the snow evaporation grid for ");
    integer(SnowEvapWrite, "Writegrid snow evaporation for    ");
    statistics(SnowEvapStat, SnowEvapStatCode, "Name of the evaporation_real-stat.files for ");
    word(EipName, "Name of the EIP-Grids for ");
    integer(EipWrite, "Writegrid ETP for ");
    statistics(EipStat, EipStatCode, "Name of EIP-stat.file for ");
    statistics(RadStat, RadStatCode, "Name of the RGEX-stat.file for ");
    reals(RadiationPoly, 4, "radiation coefficients a0, a1, a2, a3 for ");
    reals(SunshinePoly, 4, "sunshine duration coefficients CS[0..3] for ");
    double transmissivity[2] = {};
    reals(transmissivity, 2, "transmissivity T0, T1 for ");
    T0 = transmissivity[0];
    T1 = transmissivity[1];
    reals(&AmplitudeScaleHeight, 1, "scale height of the temperature amplitude for ");
    reals(AmplitudeTable + 1, 12, "monthly temperature amplitudes for ");
    AmplitudeTable[0] = AmplitudeTable[12];
    AmplitudeTable[13] = AmplitudeTable[1];
    std::string dayText, variabilityText;
    const bool pairRead = ScanNumberWord(f, &DayFraction, &dayText) == WordScan::Read &&
                          RangeFault(DayFraction, -1e300, 1e300).empty() &&
                          ScanNumberWord(f, &AnnualVariability, &variabilityText) == WordScan::Read &&
                          RangeFault(AnnualVariability, -1e6, 1e6).empty();
    if (!pairRead) {
        if (Writer) {
            *Writer << "FATAL: error reading fraction for temperature amplitude for day/night\n"
                    << "or the annual variability\n"
                    << "[end-entry]";
        }
        throw 10;
    }
    ReadRestOfLine(f, nullptr);
    std::string line;
    ReadRestOfLine(f, &line);
    CloudStat = "cloudiness";
    CloudStatCode = 0;
    if (line.size() >= 3) {
        std::istringstream in(line);
        std::string name;
        int code = 0;
        if (in >> name) {
            CloudStat = name;
            if (!(in >> code)) code = 0;
            CloudStatCode = code;
        }
    }

    if (!(DayFraction >= 0 && DayFraction <= 1)) {
        if (Writer) {
            *Writer << "FATAL: \n---------------------------- error in control file --------------------\n\nThe "
                       "splitting of the temperature amplitude between day and night\nhas to be done in a way that "
                       "the fraction for the bright day is between 0..1\nread: amplitude_fraction_day: "
                    << DayFraction << ErrorFooter << "[end-entry]";
        }
        throw 10;
    }
    NightFraction = 1 - DayFraction;
    const double a0 = RadiationPoly[0];
    if (a0 < 0.05 || a0 > 0.5) {
        if (Writer) {
            *Writer << "FATAL: fraction of diffuse radiation is too " << (a0 < 0.05 ? "small" : "large") << ": " << a0
                    << " (should be 0.05 ... 0.5)\n"
                    << "[end-entry]";
        }
        throw 10;
    }
    const double sum = RadiationPoly[0] + RadiationPoly[1] + RadiationPoly[2] + RadiationPoly[3];
    if (!(std::fabs(sum - 1) <= 0.01 + 1e-12)) {
        if (Writer) {
            *Writer << "FATAL: die Koeffizienten fuer die Modellierung der Globalstrahlung muessen in ihrer Summe 1 "
                       "ergeben\n"
                    << " derzeitige Summe: " << RadiationPoly[0] << " + " << RadiationPoly[1] << " + "
                    << RadiationPoly[2] << " + " << RadiationPoly[3] << " = " << sum << "[end-entry]";
        }
        throw 10;
    }
    const double* cs = SunshinePoly;
    const etpetr::ThresholdResult root = etpetr::SunshineThresholdRoot(SunshinePoly, SunshineThreshold);
    if (root == etpetr::ThresholdResult::NotAtLeastLinear) {
        if (Writer) {
            *Writer << "FATAL: The coefficients for sunshine duration modelling are wrong!\nThere must be at minimum "
                       "a linear relationship\nbetween radiation and sunshine duration\nCS[0]="
                    << cs[0] << ", CS[1]=" << cs[1] << ", CS[2]=" << cs[2] << ", CS[3]=" << cs[3] << "\n\n"
                    << "[end-entry]";
        }
        throw 10;
    }
    if (root == etpetr::ThresholdResult::NoRootInUnitInterval) {
        if (Writer) {
            *Writer << "FATAL: \n----------------------------!! Error !! -----------------------\nThe coefficients "
                       "for sunshine duration modelling are wrong!\nNo null point (root) was found between 0 and "
                       "1!\nCS[0]="
                    << cs[0] << ", CS[1]=" << cs[1] << ", CS[2]=" << cs[2] << ", CS[3]=" << cs[3]
                    << "\n\nuse e.g.: CS[0]=0.072, CS[1]=-0.808, CS[2]=1.749, CS[3]=-0.239\n"
                       "----------------------------------------------------------------"
                    << "[end-entry]";
        }
        throw 10;
    }

    const int closed = std::fclose(ControlFile);
    ControlFile = nullptr;
    if (closed != 0) {
        if (Writer) *Writer << "FATAL: error closing " << ControlFilePath << "[end-entry]";
        throw 11;
    }
}

void verdunstungsmodellklasse::SelectInputs() {
    const bool pm = EtpMethod == 1, haude = EtpMethod == 4;
    bool radiation = false, sunshine = false, vapour = false, humidity = false, pressure = false;
    std::string vapourName = "vapor_pressure", humidityName = "air_humidity";
    if (haude) {
        vapourName = "vapor_pressure_14";
        humidityName = "air_humidity_14";
    }
    if (pm || haude) {
        vapour = FindGrid(vapourName) > 0;
        humidity = FindGrid(humidityName) > 0;
    }
    if (pm) pressure = FindGrid("air_pressure") > 0;
    std::string radiationName = "global_radiation";
    if (pm || EtpMethod == 3) {
        if (FindGrid("net_radiation") > 0) {
            NetRadiation = true;
            radiation = true;
            radiationName = "net_radiation";
        } else {
            radiation = FindGrid("global_radiation") > 0;
        }
        sunshine = FindGrid("sunshine_duration") > 0;
    }
    if (EtpMethod != 2 && EtpMethod != 4 && !radiation && !sunshine) {
        if (Writer) {
            *Writer << "FATAL: --------------------------- ERROR ----------------------------------------\n"
                    << "Evapotranspiration requires at least one of the following entities\n"
                    << "erlative sunshine duration (SSD, in 1/1)  or global radiation  (RG, in Wh/m^2).\n"
                    << "or net radiation (RN, in Wh/m^2) (either RG or RN!)\n"
                    << "-------------------------------------------------------------------\n"
                    << "[end-entry]";
        }
        throw 46;
    }
    if ((pm || haude) && !vapour && !humidity) {
        if (Writer) {
            *Writer << "FATAL: ---------------------------- ERROR ---------------------------------------\n"
                    << "Evapotranspiration requires at least one of the following entities\n"
                    << "vapor pressure (e, in mbar) or relative air humidity (RLF, in 1/1).\n"
                    << "-------------------------------------------------------------------\n"
                    << "[end-entry]";
        }
        throw 46;
    }
    if (haude) {
        Temperature = RequiredGrid("temperature_14");
    } else {
        const int t = FindOneOfThreeGrids("corr_temperature", "temperature", "temperature");
        Temperature = GridTable[t].Data;
    }
    Elevation = RequiredGrid("[elevation_model]");

    const size_t layers = static_cast<size_t>(LayerCount) + 1;
    Landuse.assign(layers, nullptr);
    if (LayerCount > 1) {
        Landuse[0] = RequiredGrid("landuse");
        for (int k = 1; k <= LayerCount; ++k) Landuse[k] = RequiredGrid("landuse" + std::to_string(k));
    }
    LeafArea.assign(layers, nullptr);
    RootDepth.assign(layers, nullptr);
    Coverage.assign(layers, nullptr);
    CanopyResistance.assign(layers, nullptr);
    InterceptResistance.assign(layers, nullptr);
    Roughness.assign(layers, nullptr);
    if (pm) {
        WindSpeed = RequiredGrid("wind_speed");
        for (int k = 1; k <= LayerCount; ++k) {
            const std::string n = std::to_string(k);
            LeafArea[k] = RequiredGrid("leaf_area_index" + n);
            RootDepth[k] = RequiredGrid("root_depth" + n);
            Coverage[k] = RequiredGrid("vegetation_coverage_degree" + n);
            CanopyResistance[k] = RequiredGrid("SurfaceCanopyResistance" + n);
            InterceptResistance[k] = RequiredGrid("SurfaceIntercepResistance" + n);
            Roughness[k] = RequiredGrid("RoughnessLength" + n);
        }
        SoilResistance = RequiredGrid("SurfaceEvaporationResistance");
    }
    if (pm || EtpMethod == 3) Albedo = RequiredGrid("albedo");
    NightTemperature = Temperature;
    if (TimeInterval > 720 && pm) NightTemperature = RequiredGrid("temperature_night");
    if (radiation) Radiation = RequiredGrid(radiationName);
    if (sunshine) Sunshine = RequiredGrid("sunshine_duration");
    if (vapour) VapourPressure = RequiredGrid(vapourName);
    if (humidity) Humidity = RequiredGrid(humidityName);
    if (pressure) AirPressure = RequiredGrid("air_pressure");
    SigmaDt = TimeInterval / 60 * 5.67e-8;
}

bool verdunstungsmodellklasse::ActiveCell(int32_t row, int32_t col) const {
    if (ZoneGrid[row][col] == NoData) return false;
    return !Regions || Regions[row][col] == ProcessNumber;
}

double verdunstungsmodellklasse::GlacierFractionOf(int32_t row, int32_t col) const {
    return GlacierShareOf(GlacierFraction, row, col);
}

std::pair<int32_t, int32_t> verdunstungsmodellklasse::MasterOf(int32_t row, int32_t col) const {
    return HruMasterOf(HruMasters, UnitGrid[row][col]);
}

void verdunstungsmodellklasse::CopyPotentialsFromMaster(int32_t i, int32_t j) {
    const auto [r, c] = MasterOf(i, j);
    for (int k = 0; k <= LayerCount; ++k) {
        PotTranspiration[k][i][j] = PotTranspiration[k][r][c];
        PotInterception[k][i][j] = PotInterception[k][r][c];
    }
    PotEvaporation[i][j] = PotEvaporation[r][c];
    CorrectedGlobalRadiation[i][j] = CorrectedGlobalRadiation[r][c];
    Cloudiness[i][j] = Cloudiness[r][c];
}

double** verdunstungsmodellklasse::CreateGrid(const std::string& fileName, const std::string& name, int writeCode,
                                              double activeValue, const char* fullMessage) {
    const int entry = FindFreeGridEntry(GridTable);
    if (entry < FirstGridIndex || entry > LastGridIndex) {
        if (Writer) *Writer << fullMessage << "[end-entry]";
        throw 12;
    }
    double** grid = matrix(1, NRows, 1, NCols, NRows);
#pragma omp parallel for schedule(static, 1) if (WorthThreadsForLightPass(static_cast<int64_t>(NRows) * NCols))
    for (int32_t i = 1; i <= NRows; ++i) {
        for (int32_t j = 1; j <= NCols; ++j) grid[i][j] = ActiveCell(i, j) ? activeValue : NoData;
    }
    StoreGrid(entry, fileName, grid, nullptr, 1, name, writeCode, 1, NRows);
    OwnGrids.push_back({entry, grid});
    return grid;
}

zonalstatistic* verdunstungsmodellklasse::CreateStatistics(const std::string& fileName, int code, int precision,
                                                           const std::string& header, const std::string& suffix) {
    const int zoneCount = Settings.Zones ? Settings.ZoneCount : 0;
    return CreateOwnedStatistics(ZoneKeys(Settings.Zones, zoneCount), zoneCount, StatisticsTable, StatisticsTableSize,
                                 code, precision, fileName, Settings.DefaultOutputDirectory, header, suffix);
}

void verdunstungsmodellklasse::CreateGridsAndStatistics() {
    static const char* const MethodNames[] = {"(unknown_method)_", "(Penman/Monteith)_", "(HAMON)_", "(WENDLING)_",
                                              "(HAUDE)_"};
    const char* methodName = EtpMethod >= 1 && EtpMethod <= 4 ? MethodNames[EtpMethod] : MethodNames[0];
    const size_t layers = static_cast<size_t>(LayerCount) + 1;
    PotTranspiration.assign(layers, nullptr);
    RealTranspiration.assign(layers, nullptr);
    PotInterception.assign(layers, nullptr);
    PotTranspirationStats.assign(layers, nullptr);
    RealTranspirationStats.assign(layers, nullptr);
    PotInterceptionStats.assign(layers, nullptr);
    PotTranspirationIndex.assign(layers, 0);
    PotInterceptionIndex.assign(layers, 0);
    RealTranspirationIndex.assign(layers, 0);

    std::string etp = EtpName, etpStat = EtpStat, eip = EipName, eipStat = EipStat, etr = EtrName, etrStat = EtrStat;
    for (int k = 0; k <= LayerCount; ++k) {
        const std::string n = std::to_string(k);
        PotTranspiration[k] = CreateGrid(etp, "pot_transpiration" + n, EtpWrite, 0, "FATAL: no free grid left1000");
        PotTranspirationIndex[k] = OwnGrids.back().Index;
        PotTranspirationStats[k] =
            CreateStatistics(etpStat, EtpStatCode, 5, "pot_transpiration" + n + methodName, ModuleName);
        RealTranspiration[k] =
            CreateGrid(etr, "real_transpiration" + n, EtrWrite, 0, "FATAL: no free grid left of 1000!\n");
        RealTranspirationIndex[k] = OwnGrids.back().Index;
        RealTranspirationStats[k] = CreateStatistics(
            etrStat, EtrStatCode, 5,
            k == 0 ? std::string("total_Evapotranspiration_as_sum_of_ETR1..n_EI1..n_EVAR_and_EVRS_")
                   : "real_transpiration" + n,
            ModuleName);
        PotInterception[k] =
            CreateGrid(eip, "potential_InterceptionEvap" + n, EipWrite, 0, "FATAL: no free ghrid left of 1000!\n");
        PotInterceptionIndex[k] = OwnGrids.back().Index;
        PotInterceptionStats[k] =
            CreateStatistics(eipStat, EipStatCode, 5, "potential_InterceptionEvap" + n, ModuleName);
        if (k < LayerCount) {
            etp = LayerFileName(EtpName, k + 1);
            etpStat = LayerFileName(EtpStat, k + 1);
            eip = LayerFileName(EipName, k + 1);
            eipStat = LayerFileName(EipStat, k + 1);
            etr = LayerFileName(EtrName, k + 1);
            etrStat = LayerFileName(EtrStat, k + 1);
        }
    }
    const char* full = "FATAL: no free grid left of 1000!\n";
    PotEvaporation = CreateGrid(EvapName, "potential_evaporation", EvapWrite, 0, full);
    PotEvaporationIndex = OwnGrids.back().Index;
    RealEvaporation = CreateGrid(EvarName, "real_evaporation", EvarWrite, 0, full);
    RealEvaporationIndex = OwnGrids.back().Index;
    SnowEvaporationGrid = CreateGrid(SnowEvapName, "snow_evaporation", SnowEvapWrite, 0, full);
    SnowEvaporationIndex = OwnGrids.back().Index;
    CorrectedGlobalRadiation = CreateGrid("correctedradiation", "AspectCorrectedGlobalRadiation", 0, 0, full);
    Cloudiness = CreateGrid("cloudiness", "cloudiness", 0, 0, full);
    SsdTemp = CreateGrid("SSDTemp", "SSDTemp", 0, 0.5, full);

    PotEvaporationStats = CreateStatistics(EvapStat, EvapStatCode, 5, "potential_evaporation", "");
    RealEvaporationStats = CreateStatistics(EvarStat, EvarStatCode, 5, "real_evaporation", "");
    SnowEvaporationStats = CreateStatistics(SnowEvapStat, SnowEvapStatCode, 5, "snow_evaporation", "");
    RadiationStats =
        CreateStatistics(RadStat, RadStatCode, 2, "Global_Radiation_corrected_by_Exposition_", ModuleName);
    CloudinessStats = CreateStatistics(CloudStat, CloudStatCode, 2, "cloudiness", ModuleName);
}

void verdunstungsmodellklasse::SetCorrectedRadiationGrid(double** grid) {
    if (Method != 0) CorrectedRadiation = grid;
}

void verdunstungsmodellklasse::SetSnowStorageGrid(double** grid) {
    if (Method != 0) SnowStorage = grid;
}

void verdunstungsmodellklasse::SetSnowMethod(int method) { SnowMethod = method; }


void verdunstungsmodellklasse::FlushStatistics() { FlushOwnedStatistics(); }

void verdunstungsmodellklasse::ReleaseAll() {
    ReleaseOwnedStatistics();
    for (OwnGrid& g : OwnGrids) {
        if (GridTable && g.Index > 0) ReleaseGrid(g.Index);
        free_matrix(g.Data, 1, NRows, 1, NCols);
    }
    OwnGrids.clear();
    PotTranspiration.clear();
    RealTranspiration.clear();
    PotInterception.clear();
    PotTranspirationStats.clear();
    RealTranspirationStats.clear();
    PotInterceptionStats.clear();
    PotEvaporation = RealEvaporation = SnowEvaporationGrid = CorrectedGlobalRadiation = Cloudiness = SsdTemp = nullptr;
    PotEvaporationStats = RealEvaporationStats = SnowEvaporationStats = RadiationStats = CloudinessStats = nullptr;
}

void verdunstungsmodellklasse::DeleteModule() {
    if (Deleted()) return;
    if (Status != 0) WriteStorageContent();
    ReleaseAll();
    CorrectedRadiation = nullptr;
    SnowStorage = nullptr;
    modelobject::DeleteModule();
}
