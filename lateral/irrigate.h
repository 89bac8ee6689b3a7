#pragma once
// The irrigation model and its demand table for the routing.
//
// In every step each cell irrigates by the rule of its irrigation code, from
// groundwater (capped by the pumping capacity) or from surface water (limited
// by what the routing left in rivers and reservoirs in the step before); the
// water is added to "precipitation" before snow, interception and soil.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonalstatistic_rows.h"
#include "routing/abfluss.h"
#include "soil/unsatzon.h"

struct IrrigationRule;
struct StatisticsTableEntry;
class zonalstatistic;

// `IrrigationDemandTable`: the zone records 0..n of the surface-water
// statistic; [2] code and [3] area fraction copied from the subbasin table.
using IrrigationDemandTable = ZoneRecord*;

class irrigationclass : public teilmodellklasse {
public:
    // Section "irrigation". `subbasins` is the soil model's subbasin table.
    // The status is 0, or the code of a failure inside the body (103 for
    // anything but a code); failures of the base are thrown.
    irrigationclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                    int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                    MemoryGrid* gridTable, IrrigationRule* irrigationTable, const SubbasinTable& subbasins,
                    int spinUpSwitch = 0);
    ~irrigationclass() override;

    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;

    // The setters store only when on.
    virtual void SetRiverflowTable(riverflow_table* table);
    virtual void SetQg(RunoffTable qg);
    // The demand table when on, else null.
    virtual IrrigationDemandTable GetIrrigationDemand();
    virtual void LinkGroundwaterTracerStorage();
    // When on, a null table ends the run (code 60): irrigation needs routing.
    virtual void SetMaxIrrigTables(IrrigationAvailability maxIrrig, IrrigationAvailability maxIrrigFromReservoirs);
    virtual void SetRoutingTargetTable(RoutingTargetTable table);
    virtual void SetAbfrel(AreaFractionTable abfrel);

    virtual void FlushStatistics();
    void DeleteModule() override;
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    IrrigationRule* IrrigationTable = nullptr;
    SubbasinTable Subbasins;
    riverflow_table* RiverFlows = nullptr;
    RunoffTable Qg = nullptr;
    IrrigationAvailability MaxIrrig = nullptr;
    IrrigationAvailability MaxIrrigFromReservoirs = nullptr;
    RoutingTargetTable RoutingTargets = nullptr;
    AreaFractionTable Abfrel = nullptr;

    int SpinUpSwitch = 0;

    // Rank 1..n of a zone code in the subbasin table, 0 for a code it does
    // not hold.
    int SubbasinRank(double zoneCode) const;

private:
    [[noreturn]] void MissingRoutingTable(const char* first, const char* detail);
    bool Active() const { return Method != 0 && SpinUpSwitch != 1; }
    // Refuses (code 29) an event amount that is no number from 0 to 10000 mm/day.
    void CheckEventAmounts();
    void Construct();
    std::unique_ptr<zonalstatistic> CreateStatistics(const std::string& fileName, int code,
                                                     std::vector<ZoneRecord>& records, const std::string& header);
    const IrrigationRule* RuleOf(int row, int col) const;
    // The passes of a step over rows `first` to `last`.
    void DemandRow(int row, int64_t month, int64_t day);
    void ScaleRow(int row, const std::vector<double>& factor);
    void ApplyRow(int row);
    void FoldDemand();

    // Grids of the grid table.
    double** Precipitation = nullptr;
    double** IrrigationCodes = nullptr;
    double** MaxPumping = nullptr;
    double** Amounts = nullptr;
    double** SB1 = nullptr;
    double** SBLow = nullptr;
    double** SBHigh = nullptr;
    double** EtrToEtp = nullptr;
    double** RootDepth = nullptr;
    double** SoilTypes = nullptr;  // optional: limits the root depth to the profile
    int AmountsIndex = 0;
    int RuleCount = 0;

    std::string GroundwaterFileName, SurfaceFileName;
    int GroundwaterCode = 0, SurfaceCode = 0;
    std::vector<ZoneRecord> GroundwaterRecords, SurfaceRecords;
    std::unique_ptr<zonalstatistic> GroundwaterStatistics, SurfaceStatistics;
    // Handed to the routing; accumulated whatever the surface-water
    // statistic's write code, one step at a time.
    std::vector<ZoneRecord> DemandRecords;
    ZoneRowSums DemandRows;

    std::vector<double**> TracerInput;       // 1..T
    std::vector<double**> SoilConcentration; // 1..T
};
