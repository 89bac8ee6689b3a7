#pragma once
// A soil model on a 3 x 4 grid of one subbasin (cell (3, 4) outside), six
// layers of 0.2 m of one loam, one meadow, a river through every cell:
// for the river, groundwater-table, heat and pre-run tests.

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/memory_handling.h"
#include "framework/statistics_table.h"
#include "parameters/landuse.h"
#include "parameters/soil.h"
#include "setup/irrigation_table.h"
#include "soil/unsatzon.h"
#include "support/test_support.h"
#include "support/test_grid_table.h"

namespace soiltest {

using namespace testsupport;

constexpr int Rows = 3, Cols = 4, Layers = 6;
constexpr double Dz = 0.2;

// `ksatTop` is the conductivity of layers 1 and 2 [m/s] (5e-6 below).
inline SoilType Loam(int layers, double dz, double ksatTop = 5e-6) {
    SoilType soil(1);
    soil.CreateLayers(layers, 0);
    for (int l = 0; l <= layers; ++l) {
        soil.theta_sat[l] = 0.45;
        soil.theta_res[l] = 0.05;
        soil.alpha[l] = 2;
        soil.Par_n[l] = 1.5;
        soil.Par_m[l] = 1 - 1 / 1.5;
        soil.Par_tau[l] = 0.5;
        soil.ksat[l] = l <= 2 ? ksatTop : 5e-6;
        soil.thickness[l] = dz;
        soil.MakeHydraulicTables(l);
        soil.DryDensity[l] = soil.DryHeatCapacity[l] = soil.DryThermalConduct[l] = -1;
    }
    soil.maxratio = 1000;
    soil.EvapMaxDepth = 0.3;
    return soil;
}

struct Section {
    std::string Head = "2 method\n2 surface water\n0 pond\n0 drainage\n0 clay\n1e-8 ksat clay\n2 ini_gw_level\n";
    std::string Text() const {
        std::string stats, pairs;
        for (const char* s : {"qdrain", "gwstand", "gwn", "sb1", "sb2", "root", "infex", "pond", "qd", "qi", "qb",
                              "qg", "gwin", "gwex", "macro", "infilt"})
            stats += std::string(s) + ".sta 0\n";
        for (int k = 1; k <= 24; ++k) pairs += "grid" + std::to_string(k) + ".asc\n0\n";
        return Head + stats + pairs + "0 0 control point\nqb.txt\ntheta.txt\nhhyd.txt\nother.txt\netr.txt\n"
               "interflow.txt\n1 codes\n1 kelsqd\n3 kelsqi\n0.01 density\n2 kelsqlat\n0.05 Q0\n0.2 snow\n"
               "0 readgrid\nstorage.txt\n";
    }
};

inline LanduseType Meadow() {
    LanduseType use;
    use.RootDist = 1;
    use.HReduDry = 150;
    use.TReduWet = 0.95;
    use.LimitReduWet = 0.5;
    return use;
}

// The grids, tables and settings of a soil model on the 3 x 4 grid: one
// subbasin (code 1), cell (3, 4) outside, elevation falling by 1 m per row,
// potential transpiration and evaporation [mm per step] as given.
struct SoilGridFixture : TestGridTable {
    TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<SoilType> soils;
    std::vector<LanduseType> uses{LanduseType(), Meadow()};
    std::vector<RowExtent> extents;

    SoilGridFixture(const SoilType& soil, double transpiration, double evaporation)
        : TestGridTable(Rows, Cols), soils{SoilType(), soil} {
        settings.NRows = Rows;
        settings.NCols = Cols;
        settings.FirstRow = 1;
        settings.LastRow = Rows;
        settings.CellSize = 100;
        settings.NoData = -9999;
        settings.SoilTable = soils.data();
        settings.SoilCount = 1;
        settings.LanduseTable = uses.data();
        settings.LanduseCount = 1;
        settings.DefaultOutputDirectory = dir.path() + "/";
        settings.InitialStateDirectory = dir.path() + "/";
        double** zone = Add("zone_grid", 1);
        zone[Rows][Cols] = -9999;
        table[FindGridEntry(table.get(), "zone_grid", true)].InternalName = "zonegrid_soilmodel";
        double** dem = Add("[elevation_model]", 0);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) dem[r][c] = 600 - r;
        extents = DeriveRowExtents(zone, Rows, Cols, -9999);
        settings.RowExtents = extents.data();
        for (const char* name : {"leaf_area_index1", "SurfaceCanopyResistance1", "SurfaceIntercepResistance1",
                                 "RoughnessLength1", "real_transpiration0", "real_transpiration1",
                                 "SurfaceEvaporationResistance", "albedo", "real_evaporation", "precipitation"})
            Add(name, 0);
        Add("landuse1", 1);
        Add("root_depth1", 0.5);
        Add("vegetation_coverage_degree1", 0.8);
        Add("pot_transpiration0", transpiration);
        Add("pot_transpiration1", transpiration);
        Add("potential_evaporation", evaporation);
        Add("slope_angle", 20);
        Add("soil_types", 1);
    }
};

// One subbasin (code 1) whose river crosses every cell; cell (3, 4) lies
// outside. The groundwater model is on unless `groundwater` is 0 before Make.
struct SoilModelFixture : SoilGridFixture {
    std::unique_ptr<unsatzonmodellklasse> model;
    int status = -1;
    int groundwater = 1;         // the groundwater model is on
    IrrigationRule* irrigation = nullptr;  // the irrigation table, if any
    std::string extraSections;  // appended to the control file

    SoilModelFixture() : SoilGridFixture(Loam(Layers, Dz), 0.2, 0.05) {
        Add("river_depth", 0.5);
        Add("river_width", 10);
        Add("river_links", 1);
        Add("kolmation", 1e-5);
    }
    int Make(int subSteps = 1, const Section& section = Section()) {
        WriteFile(dir.file("model.ctl"), "[unsatzon_model]\n1 switch\n60 interval\n" + section.Text() + extraSections);
        settings.CompiledControlFile = dir.file("model.ctl");
        model = std::make_unique<unsatzonmodellklasse>(&status, &writer, statistics, StatisticsTableSize,
                                                       "unsatzon_model", settings, table.get(), irrigation, subSteps);
        if (status != 0) return status;
        model->GroundwaterActive = groundwater;
        model->InitTracers(&status, 0, nullptr, statistics, StatisticsTableSize);
        return status;
    }
    double SoilWater(int r, int c) const {
        double sum = 0;
        for (int k = 1; k <= Layers; ++k) sum += model->Theta[r][c][k] * Dz;
        return 1000 * sum;
    }
    // River beds: in columns 1 and 2 above the table (the river infiltrates),
    // in columns 3 and 4 below it (groundwater exfiltrates).
    void PlaceBeds() {
        double** depth = Grid("river_depth");
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c)
                if (model->OwnModelCell(r, c))
                    depth[r][c] = std::max(0.05, -model->GroundwaterDistance[r][c] + (c <= 2 ? -0.3 : 0.3));
    }
};

}  // namespace soiltest
