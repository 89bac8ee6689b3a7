#pragma once
// The unsaturated-zone (soil) model and the tables it hands to the lateral
// models and the routing: the runoff tables per subbasin, the river-flow
// records and its subbasin table.
//
// This is the sub-model's shell: construction, the section switch, the
// wiring operations and the tables exist; the soil physics, the storage
// content section and the outputs are still to come.

#include <cstdint>
#include <string>
#include <vector>

#include "framework/teilmod.h"
#include "framework/zonetable.h"

struct IrrigationRule;
struct StatisticsTableEntry;

// Rows 0..rows-1 of `columns` values each, carved from one zero-filled block.
// Rows() hands the table out as row pointers (null while it is not allocated);
// the owner keeps it until Release.
template <typename T>
class ExchangeTable {
public:
    void Allocate(int rows, int columns) {
        Block.assign(static_cast<size_t>(rows) * static_cast<size_t>(columns), T{});
        RowPointers.assign(static_cast<size_t>(rows), nullptr);
        for (int r = 0; r < rows; ++r)
            RowPointers[static_cast<size_t>(r)] = Block.data() + static_cast<size_t>(r) * columns;
    }
    void Release() {
        Block.clear();
        Block.shrink_to_fit();
        RowPointers.clear();
        RowPointers.shrink_to_fit();
    }
    T** Rows() { return RowPointers.empty() ? nullptr : RowPointers.data(); }

private:
    std::vector<T> Block;
    std::vector<T*> RowPointers;
};

// Runoff per subbasin (`Qg`, `QD`, `QI`, `QBb`): row 0 water [mm per step],
// rows 1..T the tracer concentrations; columns 0..n by subbasin rank (column
// 0 unused).
using RunoffTable = double**;

// One record per subbasin rank 1..n (record 0 unused). The routing fills the
// flows, the soil columns add their river withdrawal, irrigation lowers the
// flows. It exists only while the soil model and the groundwater model are on.
struct riverflow_table {
    double flow_mm[10] = {};  // routed outflow: [0] water [mm per step], [1..9] tracer concentrations
    double flowm3s = 0;       // discharge [m3/s]
    double speed = 0;         // flow velocity [m/s]
    double area = 0;          // channel catchment area [km2]
    double withdrawn = 0;     // river water taken in the step [m3/s]
    double reserved = 0;      // kept 0
    int32_t description = 0;  // routing description that routes the subbasin; 0: not routed
    int32_t channel = 0;      // channel index within that description
};

// The soil model's zone table of subbasins, handed to irrigation, groundwater
// and routing in place of the application's zone table. A view: the records
// and the code-to-rank table stay owned by whoever built them.
struct SubbasinTable {
    ZoneRecord* Records = nullptr;  // ranks 0..Count; record 0 holds the total area [km2] in `rel`
    int* CodeToRank = nullptr;      // codes 0..LargestCode
    int Count = 0;                  // number of subbasins n
    int LargestCode = 0;
};

class unsatzonmodellklasse : public teilmodellklasse {
public:
    // Section "unsatzon_model". `subSteps` comes from
    // "[soil_surface_groundwater_substeps]". The status is 0, or the code of
    // a failure inside the body (103 for anything but a code); a missing
    // section or an unreadable switch or interval is thrown by the base.
    unsatzonmodellklasse(int* status, DiagnosticsWriter* writer, StatisticsTableEntry* statisticsTable,
                         int statisticsTableSize, const std::string& sectionName, const ModelSettings& settings,
                         MemoryGrid* gridTable, IrrigationRule* irrigationTable, int subSteps);

    // Set by the application before the tracer set-up: 1 when the
    // groundwater model is on.
    int GroundwaterActive = 0;

    virtual void UpdateMaxPumping();
    virtual void SetDumpMode(int dumpMode, int closeAfterDump);
    // Allocates the runoff tables and, with the groundwater model on, the
    // river-flow records. Off: status 0 and nothing else.
    void InitTracers(int* status, int n, TracerInfo* table, StatisticsTableEntry* statisticsTable,
                     int statisticsTableSize) override;
    void ReleaseTracers() override;
    virtual void SetSurfaceRoutingActive(int active);

    // Null when off. When on, a table that does not exist yet ends the run
    // (code 57).
    virtual RunoffTable GetQg();
    virtual RunoffTable GetQBb();
    // Recession constants [min] per subbasin rank; null when off.
    virtual double* GetKelsqd();
    virtual double* GetKelsqi();
    // Null when off or when the groundwater model is off.
    virtual riverflow_table* GetRiverflowTable();
    // Null when off.
    virtual const std::string* GetStorageFileName();
    // The subbasin table that irrigation, groundwater and routing receive.
    SubbasinTable GetSubbasinTable();

    virtual void BeginTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    // One sub-step.
    void RunTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year) override;
    virtual void EndTimeStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void ApplyExternalGWTable(int externalTimeStep);
    virtual void PreSpinUpStep(int64_t hour, int64_t day, int64_t month, int64_t year);
    virtual void FinishPreSpinUp();
    virtual void FlushOutputs();
    // End of run in place of DeleteModule. `append` is 1 when an earlier
    // section has already created the storage content file.
    virtual void FinishRun(int append);

    int DumpMode = 0;
    int CloseAfterDump = 0;
    int SurfaceRoutingActive = 0;
    int HeatTransferActive = 0;
    std::string StorageFileName;
    StatisticsTableEntry* StatisticsTable = nullptr;
    int StatisticsTableSize = 0;
    IrrigationRule* IrrigationTable = nullptr;

private:
    RunoffTable CheckedTable(ExchangeTable<double>& table, const char* name);

    SubbasinTable Subbasins;
    std::vector<double> Kelsqd, Kelsqi;
    ExchangeTable<double> Qg, QBb;
    std::vector<riverflow_table> RiverFlows;
};
