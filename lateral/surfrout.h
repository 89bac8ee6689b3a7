#pragma once
// Surface routing: water on the soil surface between cells, and direct
// runoff and interflow through travel-time zones to the subbasin outlets.
//
// This is the sub-model's shell: construction, the section switch, the
// wiring operations and its runoff table exist; the surface flow, the
// travel-time zones and the storage content section are still to come.

#include <cstdint>
#include <string>

#include "framework/teilmod.h"
#include "soil/unsatzon.h"

struct StatisticsTableEntry;

class surfaceroutingclass : public teilmodellklasse {
public:
    // Section "SurfaceRoutingModel"; `subSteps` is the count of
    // "[soil_surface_groundwater_substeps]". The status is 0, or the code of
    // a failure inside the body (103 for anything but a code); failures of
    // the base are thrown.
    surfaceroutingclass(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                        int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                        MemoryGrid* gridTable, int subSteps);

    // The base tracer set-up and the runoff table `Qg`. Off: status 0 and
    // nothing else.
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;

    // The soil model's tables, kept while on.
    virtual void SetQBb(RunoffTable qbb);
    virtual void SetKelsqd(double* kelsqd);
    virtual void SetKelsqi(double* kelsqi);
    // Null when off. When on, a table that does not exist yet ends the run
    // (code 57).
    virtual RunoffTable GetQg();

    virtual void BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    // One sub-step of surface flow.
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    virtual void RouteZonesToSubbasins(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void FlushStatistics();
    // End of run in place of DeleteModule. `append` is 1 when an earlier
    // section has already created the storage content file.
    virtual void FinishRun(int append);

    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    RunoffTable QBb = nullptr;
    double* Kelsqd = nullptr;
    double* Kelsqi = nullptr;

private:
    ExchangeTable<double> Qg;
};
