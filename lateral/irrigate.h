#pragma once
// The irrigation model and its demand table for the routing.
//
// This is the sub-model's shell: construction, the section switch, the
// wiring checks and the demand table exist; the irrigation step and its
// statistics are still to come.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "routing/abfluss.h"
#include "soil/unsatzon.h"

struct IrrigationRule;
struct StatisticsTableEntry;

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
                    MemoryGrid* gridTable, IrrigationRule* irrigationTable, const SubbasinTable& subbasins);

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

private:
    [[noreturn]] void MissingRoutingTable(const char* first, const char* detail);

    std::vector<ZoneRecord> DemandRecords;
};
