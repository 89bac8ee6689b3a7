#pragma once
// Potential evapotranspiration (Penman-Monteith per vegetation layer, Hamon,
// Wendling, Haude) and the bookkeeping of real evapotranspiration.
//
// Construction reads the section "[evapotranspiration]", selects the input
// grids of the method and creates the per-layer grids and statistics.

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonetable.h"

struct StatisticsTableEntry;
class zonalstatistic;
class StorageSectionReader;
class StorageContentStage;

class verdunstungsmodellklasse : public teilmodellklasse {
public:
    // Section "evapotranspiration". The status is 0; failures are thrown.
    verdunstungsmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                             int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                             MemoryGrid* gridTable);
    ~verdunstungsmodellklasse() override;

    // The grids may be null; they are kept only while on.
    virtual void SetCorrectedRadiationGrid(double** grid);
    virtual void SetSnowStorageGrid(double** grid);
    virtual void SetSnowMethod(int method);
    // `sectionName` is "[lake_model]".
    virtual void InitLakes(const std::string& sectionName);

    virtual void PotentialEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void SnowEvaporation(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void BeginRealEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void RunSubstep(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void SumRealEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void FlushStatistics();
    // Real evapotranspiration of its own from the soil storage grids; the
    // soil model computes it instead, so nothing calls these two.
    virtual void LinkSoilStorageGrids();
    virtual void RealEvapotranspiration(int64_t hour, int64_t day, int64_t month, int64_t year);
    void DeleteModule() override;

    // The state section of the storage content file `fileName` (read from
    // the initial-state directory in read modes 1 and 3, written to the
    // output directory at the end of the run). A missing file or section is
    // a cold start with a warning; a section that does not fit is code 71.
    virtual void ReadStorageContent(const std::string* fileName, int readMode);
    void WriteStorageContent();
    // The albedo lines of the section, read after the sunshine grid.
    void ReadAlbedo(StorageSectionReader& reader);
    void SetStorageContentStage(StorageContentStage* stage) { StorageStage = stage; }

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    double** CorrectedRadiation = nullptr;  // "radiation_correction", ratio chi
    double** SnowStorage = nullptr;
    int SnowMethod = 0;

    // Settings.
    int EtpMethod = 0;             // 1 Penman-Monteith, 2 Hamon, 3 Wendling, 4 Haude
    int LayerCount = 1;            // L
    double PecTable[14] = {};      // 0 December, 1..12, 13 January
    double FhTable[14] = {};
    double AmplitudeTable[14] = {};
    double CoastFactor = 0;        // fk
    double RadiationPoly[4] = {};  // a0..a3, a0 the diffuse fraction
    double SunshinePoly[4] = {};   // CS[0..3]
    double SunshineThreshold = 0;
    double T0 = 0, T1 = 0;         // transmissivity
    double AmplitudeScaleHeight = 0;  // H [m]
    double DayFraction = 0, NightFraction = 1, AnnualVariability = 0;  // f, 1 - f, v
    double SigmaDt = 0;            // 5.67e-8 interval/60

    // Grids of the layers 0..L (created).
    std::vector<double**> PotTranspiration, RealTranspiration, PotInterception;
    double** PotEvaporation = nullptr;
    double** RealEvaporation = nullptr;
    double** SnowEvaporationGrid = nullptr;
    double** CorrectedGlobalRadiation = nullptr;  // "AspectCorrectedGlobalRadiation"
    double** Cloudiness = nullptr;
    double** SsdTemp = nullptr;

    // Per-step sun geometry.
    int SubStepCount = 0;     // n
    double SubStepHours = 0;  // h
    double CosZenith[25] = {};
    double Tau = 0;
    double DayAmplitude = 0, SeasonalTerm = 0;  // A_d, V
    bool BrightPartBegun = false;
    int BrightSteps = 0;
    std::string StorageFileName;  // empty: no state section
    StorageContentStage* StorageStage = nullptr;

    // Lakes ("[lake_model]"): a lake cell has a lake code and a ponding
    // storage above 0 and evaporates as open water.
    int LakeSwitch = 0;
    int LakeInitMethod = 0;
    double OpenWaterAlbedo = 0;
    double OpenWaterRoughness = 0;  // [m]
    double** LakeCodes = nullptr;
    double** Ponding = nullptr;     // "ponding_storage" or "ponding_storage_top"
    bool LakeCell(int32_t row, int32_t col) const {
        return LakeCodes && Ponding && LakeCodes[row][col] > 0 && Ponding[row][col] > 0;
    }

    // Snow on the glacier part of a cell (snow model), looked up at the first
    // snow-evaporation step.
    double** GlacierSnowEvaporation = nullptr;  // "SnowEvaporation_onGlacier"
    double** GlacierSnowStorage = nullptr;      // "SolidSnowStorage_onGlacier"
    bool FirstSnowEvaporation = true;
    // Interception's total evaporation "interception_evaporation0", once found.
    double** InterceptionTotal = nullptr;
    bool InterceptionFound = false;
    double** SoilStorage = nullptr;
    double** AvailableSoilMoisture = nullptr;

private:
    struct OwnGrid {
        int Index = 0;
        double** Data = nullptr;
    };
    struct CellInputs;

    void Construct();
    void ReadSection();
    void ReadMonthlyTable(double table[14], bool pec);
    void SelectInputs();
    void CreateGridsAndStatistics();
    double** CreateGrid(const std::string& fileName, const std::string& name, int writeCode, double activeValue,
                        const char* fullMessage);
    zonalstatistic* CreateStatistics(const std::string& fileName, int code, int precision, const std::string& header,
                                     const std::string& suffix);
    bool ActiveCell(int32_t row, int32_t col) const;
    double GlacierFractionOf(int32_t row, int32_t col) const;
    bool LayerPresent(int k, int32_t row, int32_t col) const {
        return !Landuse[k] || Landuse[k][row][col] != NoData;
    }
    // In hydrologic-response-unit mode a cell that is not its unit's master.
    bool CopiesMaster(int32_t row, int32_t col) const { return MasterGrid && MasterGrid[row][col] == NoData; }
    std::pair<int32_t, int32_t> MasterOf(int32_t row, int32_t col) const;
    void CopyPotentialsFromMaster(int32_t row, int32_t col);
    void ComputeRows(int32_t row);
    // Unit cells copied from their masters; the row's zone sums.
    void GatherRowStatistics(int32_t row);
    // One row of the snow evaporation; `potentials` holds layers 0 to the
    // layer count for the row's own use.
    void SnowEvaporationRow(int32_t row, double* potentials);
    // One row of the real-evapotranspiration total and its zone sums.
    void SumRealEvapotranspirationRow(int32_t row);
    void PenmanMonteithCell(int32_t row, int32_t col, double sunshine, double shortwave, double beta);
    void ReleaseAll();

    bool NetRadiation = false;
    double** Regions = nullptr;
    double** MasterGrid = nullptr;
    double** UnitGrid = nullptr;
    std::vector<std::pair<int32_t, int32_t>> HruMasters;  // per unit id its master cell
    double** Elevation = nullptr;
    double** Temperature = nullptr;
    double** NightTemperature = nullptr;
    double** Radiation = nullptr;  // net or global radiation
    double** Sunshine = nullptr;
    double** VapourPressure = nullptr;
    double** Humidity = nullptr;
    double** AirPressure = nullptr;
    double** WindSpeed = nullptr;
    double** Albedo = nullptr;
    double** SoilResistance = nullptr;
    double** GlacierFraction = nullptr;
    std::vector<double**> Landuse, LeafArea, RootDepth, Coverage, CanopyResistance, InterceptResistance, Roughness;

    std::vector<OwnGrid> OwnGrids;
    std::vector<zonalstatistic*> PotTranspirationStats, RealTranspirationStats, PotInterceptionStats;
    zonalstatistic* PotEvaporationStats = nullptr;
    zonalstatistic* RealEvaporationStats = nullptr;
    zonalstatistic* SnowEvaporationStats = nullptr;
    zonalstatistic* RadiationStats = nullptr;
    zonalstatistic* CloudinessStats = nullptr;
    std::vector<int> PotTranspirationIndex, PotInterceptionIndex, RealTranspirationIndex;
    int PotEvaporationIndex = 0, RealEvaporationIndex = 0, SnowEvaporationIndex = 0;

    // Section values: grid file names, write codes, statistics names and codes.
    std::string EtpName, EtrName, EvapName, EvarName, SnowEvapName, EipName;
    int EtpWrite = 0, EtrWrite = 0, EvapWrite = 0, EvarWrite = 0, SnowEvapWrite = 0, EipWrite = 0;
    std::string EtpStat, EtrStat, EvapStat, EvarStat, SnowEvapStat, EipStat, RadStat, CloudStat;
    int EtpStatCode = 0, EtrStatCode = 0, EvapStatCode = 0, EvarStatCode = 0, SnowEvapStatCode = 0,
        EipStatCode = 0, RadStatCode = 0, CloudStatCode = 0;
};
