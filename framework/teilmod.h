#pragma once
// Base of every sub-model: the section switch and time interval, sub-steps,
// the floating-point report, solar geometry, per-tracer storage and flux
// grids with their concentration statistics, and the base time step.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/model_settings.h"
#include "framework/modelobject.h"
#include "framework/solar_geometry.h"
#include "framework/zonetable.h"

class zonalstatistic;
struct StatisticsTableEntry;
struct TracerInfo;

// Copies of zone records 0..count with only their code, share and area sum;
// empty when there are no zones.
std::vector<ZoneRecord> ZoneKeys(const ZoneRecord* zones, int count);

// Per-tracer storage of a sub-model.
struct TracerStorageRecord {
    std::vector<ZoneRecord> ZoneSums;  // zone records 0..zone count for the statistics
    std::unique_ptr<zonalstatistic> Statistics;
    std::string StatisticsFileName;
    std::string GridFileName;
    int StorageGridIndex = 0;  // grid-table entry "concstor_tracer_%d_%s"
    int FluxGridIndex = 0;     // grid-table entry "concflux_tracer_%d_%s"
    double** StorageGrid = nullptr;
    double** FluxGrid = nullptr;
    TracerStorageRecord();
    ~TracerStorageRecord();
    TracerStorageRecord(TracerStorageRecord&&) noexcept;
    TracerStorageRecord& operator=(TracerStorageRecord&&) noexcept;
};

class teilmodellklasse : public modelobject, public solar::SolarState {
public:
    // Reads the switch and the interval of section [sectionName]. A missing
    // section ends the run (code 17) unless it is not required; then the
    // sub-model is off.
    teilmodellklasse(DiagnosticsWriter* writer, const std::string& sectionName, const ModelSettings& settings,
                     MemoryGrid* gridTable, int subSteps, bool required = true);
    ~teilmodellklasse() override;

    virtual int GetMethod();
    virtual int GetTimeStep();
    virtual int GetSubSteps();
    virtual void SetSubSteps(int n);
    virtual void ReportFpe(int i1, int i2, int i3, int i4, double a1, double a2, double a3, double a4, double a5);

    virtual double SolarDeclination(int day, int month);
    virtual double EquationOfTime(int day, int month);
    virtual double SunElevation(int day, int month, double latitude, double longitude, double hour);
    virtual void SunAzimuth(int day, int month, double* azimuth, double* elevation, double latitude,
                            double longitude, double hour);
    virtual double CosIncidence(double azimuth1, double zenith1, double azimuth2, double zenith2);
    virtual void SunriseSunset(int day, int month, double* sunrise, double* sunset, double latitude,
                               double longitude);
    virtual void SunshineFraction();

    // `table` is 1-based with `n` tracers; the status is 0 or the failure code.
    virtual void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                             int statisticsTableSize);
    static double ScaleValue(double x, double y) { return x * y; }
    static double MixConcentration(double x1, double x2, double q1, double q2);
    static double ConcentrateByLoss(double x, double q, double loss);
    virtual void ReleaseTracers();
    virtual void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year);

    // Ranks the zones of the grid "zonegrid_soilmodel" into a sub-model's own
    // subbasin table.
    ZoneTable RankZones(double*** zoneGrid);

    int TracerCount = 0;
    TracerInfo* Tracers = nullptr;
    std::vector<TracerStorageRecord> TracerStorage;  // 1-based, entry 0 unused
    int Method = 0;
    int ReadGridsCode = 0;
    volatile int FpeFlag = 0;
    double TimeInterval = 0;  // [min]
    double StepsPerDay = 0;
    int SubSteps = 1;
    double Latitude = 0, Longitude = 0, ReferenceMeridian = 0;  // [deg]
    double Pi = solar::Pi;
    double DegreesPerRadian = solar::DegreesPerRadian;
    double EquationOfTimeTable[14] = {};
    double** ZoneGrid = nullptr;  // data of grid-table entry 1
    ModelSettings Settings;

    // The rank of the cell's zone in the model's zone table; 0 for a code
    // outside the table. Read from a grid of ranks found once at
    // construction while the zone grid and the table are those it was found
    // from (the cell loops ask for it for every cell and statistic).
    int ZoneRankOfCell(int row, int col) const {
        if (ZoneRankSource == ZoneGrid && ZoneRankTable == Settings.ZoneRank && row >= 0 && row <= NRows &&
            col >= 0 && col <= NCols && !ZoneRanks.empty())
            return ZoneRanks[static_cast<size_t>(row) * (static_cast<size_t>(NCols) + 1) + static_cast<size_t>(col)];
        return LookUpZoneRank(row, col);
    }
    // Finds the rank of every cell anew (after the zone grid changed).
    void FindZoneRanks();

    // Runs a sub-model's construction; when it fails, the control file is
    // closed and what was built is released before the failure is passed on.
    template <class Build, class Release>
    void ConstructOrRelease(Build build, Release release) {
        try {
            build();
        } catch (...) {
            CloseControlFile();
            release();
            throw;
        }
    }
    void CloseControlFile();

    // A statistics writer over the zone records `zones` (records 0..count;
    // none: no zones), owned by this sub-model. Its header names `title` and
    // `subModel`. Flushed by FlushOwnedStatistics; closed and freed, in the
    // order of creation, by ReleaseOwnedStatistics.
    zonalstatistic* CreateOwnedStatistics(std::vector<ZoneRecord> zones, int count, StatisticsTableEntry* table,
                                          int tableSize, int code, int precision, const std::string& fileName,
                                          const std::string& directory, const std::string& title,
                                          const std::string& subModel);
    void FlushOwnedStatistics();
    void ReleaseOwnedStatistics();
    // The models that work on a fixed land surface refuse the grids of a
    // glacier that changes its extent: FATAL naming `module`, code 2.
    void RefuseChangingGlacier(const char* module);

private:
    struct OwnedStatistics;
    std::vector<std::unique_ptr<OwnedStatistics>> OwnedStatisticsList;
    void CheckTimeShift();
    int LookUpZoneRank(int row, int col) const;
    std::vector<int32_t> ZoneRanks;  // (NRows + 1) x (NCols + 1), row major
    double** ZoneRankSource = nullptr;
    const int* ZoneRankTable = nullptr;
};
