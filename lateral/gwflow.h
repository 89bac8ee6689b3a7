#pragma once
// The layered groundwater flow model.
//
// This is the sub-model's shell: construction, the section switch and the
// wiring operations exist; the aquifer set-up, the solver and the outputs
// are still to come.

#include <cstdint>
#include <string>

#include "framework/teilmod.h"
#include "soil/unsatzon.h"

struct IrrigationRule;
struct StatisticsTableEntry;

class gwflowclass : public teilmodellklasse {
public:
    // Section "groundwater_flow". `subbasins` is the soil model's subbasin
    // table, `subSteps` the count of "[soil_surface_groundwater_substeps]".
    // The status is 0, or the code of a failure inside the body (103 for
    // anything but a code); failures of the base are thrown.
    gwflowclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable, int statisticsTableSize,
                const std::string& sectionName, const ModelSettings& settings, MemoryGrid* gridTable,
                IrrigationRule* irrigationTable, const SubbasinTable& subbasins, int subSteps);

    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    // Kept while on; the groundwater model does not read them.
    virtual void SetRiverflowTable(riverflow_table* table);
    virtual void SetQg(RunoffTable qg);

    // The base step: date and progress line.
    virtual void BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    // One sub-step of the solver.
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    virtual void WriteOutput(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void FlushOutputs();
    void DeleteModule() override;

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    IrrigationRule* IrrigationTable = nullptr;
    SubbasinTable Subbasins;
    riverflow_table* RiverFlows = nullptr;
    RunoffTable Qg = nullptr;
};
