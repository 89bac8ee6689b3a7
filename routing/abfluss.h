#pragma once
// The discharge routing model and the exchange tables it owns for
// irrigation.
//
// This is the sub-model's shell: construction, the section switch, the
// wiring checks and the exchange tables exist; the routing descriptions, the
// routing step, the outputs and the storage content section are still to
// come.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "soil/unsatzon.h"

struct StatisticsTableEntry;
struct TracerInfo;

// `maxirrig` and `maxirrigFromReservoirs`: rows 0..T (0 water [mm per step],
// 1..T tracer concentrations), columns 0..n by subbasin rank.
using IrrigationAvailability = double**;
// `RoutingTargetTable`: [0] the tributary list (2n+1 entries), [1] the target
// subbasin of each subbasin (n+1), [2] the description whose outlet a
// subbasin is (n+1).
using RoutingTargetTable = int**;
// `abfrel`: [0][i] area fraction of subbasin i ([0][0] total area [km2]),
// [1][i] the area factor of its values.
using AreaFractionTable = double**;

class abflussmodellklasse : public teilmodellklasse {
public:
    // Section "routing_model". `subbasins` is the soil model's subbasin
    // table, `soilReadCode` its read code for storage grids. The status is 0,
    // or the code of a failure inside the body (103 for anything but a code);
    // failures of the base are thrown.
    abflussmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                        int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                        MemoryGrid* gridTable, const SubbasinTable& subbasins, int tracerCount, TracerInfo* tracers,
                        int soilReadCode);

    // The runoff table to route; when on, a null table ends the run (code 43).
    virtual void SetQg(RunoffTable qg);
    virtual void LinkLakeGrids();
    virtual void InitRouting();
    virtual void SetIrrigationDemand(ZoneRecord* demand);
    virtual void SetRiverflowTable(riverflow_table* table);
    // `fileName` may be null (the soil model is off).
    virtual void ReadStorageFile(const std::string* fileName, int readCode);

    // The exchange tables when on, else null.
    virtual IrrigationAvailability GetMaxIrrig();
    virtual IrrigationAvailability GetMaxIrrigFromReservoirs();
    virtual RoutingTargetTable GetRoutingTargetTable();
    virtual AreaFractionTable GetAbfrel();

    virtual void FlushOutputs();
    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    SubbasinTable Subbasins;
    int RoutingTracerCount = 0;
    TracerInfo* RoutingTracers = nullptr;
    int SoilReadCode = 0;
    RunoffTable Qg = nullptr;
    ZoneRecord* IrrigationDemand = nullptr;
    riverflow_table* RiverFlows = nullptr;

private:
    ExchangeTable<double> MaxIrrig, MaxIrrigFromReservoirs, Abfrel;
    std::vector<int> TargetList, TargetOfSubbasin, DescriptionOfOutlet;
    int* TargetRows[3] = {nullptr, nullptr, nullptr};
};
