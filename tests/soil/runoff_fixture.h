#pragma once
// A small soil model for the runoff tests: 4 x 6 cells, subbasin 1 in columns
// 1..3 and subbasin 2 in columns 4..6, three layers of loam. The cells' runoff
// grids ("directflow", "interflow", "baseflow", ...) are filled by hand
// between the operations of a step, in place of the cell step. The test runs
// in its own working directory, where the model writes "modell_0.log".

#include <cmath>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/statistics_table.h"
#include "parameters/soil.h"
#include "setup/irrigation_table.h"
#include "soil/unsatzon.h"
#include "support/test_support.h"
#include "support/test_grid_table.h"

namespace runofftest {

constexpr int Rows = 4, Cols = 6, Layers = 3;

// "[unsatzon_model]" after the switch and the interval, in groups a case can
// replace.
struct Section {
    std::string Head = "2 method\n0 surface water\n0 pond\n0 drainage\n0 clay\n1e-8 ksat clay\n2 ini_gw_level\n";
    std::string Statistics;
    std::string Pairs;
    std::string Control = "0 0 control point\n";
    std::string Points = "qb.txt\ntheta.txt\nhhyd.txt\nother.txt\netr.txt\ninterflow.txt\n";
    std::string Codes = "1 2 codes\n";
    std::string Parameters = "2 2 kelsqd\n2 2 kelsqi\n5 6 density\n0 0 kelsqlat\n0 0 Q0\n0 0 snow\n";
    std::string Tail = "0 readgrid\nstorage.txt\n";

    explicit Section(int statisticsCode = 2001) {
        const char* stats[] = {"qdrain", "gwstand", "gwn", "sb1", "sb2", "root", "infex", "pond",
                               "qd",     "qi",      "qb",  "qg",  "gwin", "gwex", "macro", "infilt"};
        for (const char* s : stats) Statistics += std::string(s) + ".sta " + std::to_string(statisticsCode) + "\n";
        const char* pairs[] = {"sb05", "sb1", "wurz", "theta.stk", "hh.stk", "hgeo.stk", "qunten.stk", "gwstand.asc",
                               "gwtheta.asc", "gwn", "gwlevel.asc", "qdrain", "satt", "infex", "qd", "qi",
                               "deltagw.asc", "gwin", "gwex", "pond.asc", "uprise", "percol", "macro", "irrig"};
        for (const char* p : pairs) Pairs += std::string(p) + "\n0\n";
    }
    void SetStatistic(const std::string& name, int code) {
        const size_t at = Statistics.find(name + ".sta ");
        const size_t end = Statistics.find('\n', at);
        Statistics.replace(at, end - at, name + ".sta " + std::to_string(code));
    }
    std::string Text() const { return Head + Statistics + Pairs + Control + Points + Codes + Parameters + Tail; }
};

inline SoilType Loam() {
    SoilType soil(1);
    soil.CreateLayers(Layers, 0);
    for (int l = 0; l <= Layers; ++l) {
        soil.theta_sat[l] = 0.45;
        soil.theta_res[l] = 0.05;
        soil.alpha[l] = 2;
        soil.Par_n[l] = 1.5;
        soil.Par_m[l] = 1 - 1 / 1.5;
        soil.Par_tau[l] = 0.5;
        soil.ksat[l] = 1e-5;
        soil.thickness[l] = 0.1;
        soil.MakeHydraulicTables(l);
        soil.DryDensity[l] = soil.DryHeatCapacity[l] = soil.DryThermalConduct[l] = -1;
    }
    return soil;
}

struct Fixture : testsupport::TestGridTable {
    testsupport::TempDir dir;
    std::string previousDirectory = std::filesystem::current_path().string();
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<SoilType> soils{SoilType(), Loam()};
    std::vector<RowExtent> extents;
    std::unique_ptr<unsatzonmodellklasse> model;
    int status = -1;
    int64_t hour = 0, day = 1, month = 6, year = 2020;
    std::string ExtraSections;  // further sections of the control file, after "[unsatzon_model]"

    Fixture() : TestGridTable(Rows, Cols) {
        std::filesystem::current_path(dir.path());
        settings.NRows = Rows;
        settings.NCols = Cols;
        settings.FirstRow = 1;
        settings.LastRow = Rows;
        settings.CellSize = 100;
        settings.NoData = -9999;
        settings.SoilTable = soils.data();
        settings.SoilCount = 1;
        settings.DefaultOutputDirectory = dir.path() + "/";
        settings.InitialStateDirectory = dir.path() + "/";
        double** zone = Add("zone_grid", 1);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 4; c <= Cols; ++c) zone[r][c] = 2;
        table[FindGridEntry(table.get(), "zone_grid", true)].InternalName = "zonegrid_soilmodel";
        double** dem = Add("[elevation_model]", 0);
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c) dem[r][c] = 600 - r;
        extents = DeriveRowExtents(zone, Rows, Cols, -9999);
        settings.RowExtents = extents.data();
        for (const char* name :
             {"landuse1", "root_depth1", "vegetation_coverage_degree1", "leaf_area_index1", "SurfaceCanopyResistance1",
              "SurfaceIntercepResistance1", "RoughnessLength1", "pot_transpiration0", "pot_transpiration1",
              "real_transpiration0", "real_transpiration1", "SurfaceEvaporationResistance", "albedo",
              "potential_evaporation", "real_evaporation", "precipitation"})
            Add(name, 1);
        Add("slope_angle", 45);
        Add("soil_types", 1);
    }
    ~Fixture() {
        model.reset();
        std::filesystem::current_path(previousDirectory);
    }
    // Builds the model with `subSteps` sub-steps and runs its tracer set-up;
    // the status of the first that fails.
    int Make(const Section& section, int subSteps = 1, IrrigationRule* irrigation = nullptr) {
        testsupport::WriteFile(dir.file("model.ctl"),
                               "[unsatzon_model]\n1 switch\n60 interval\n" + section.Text() + ExtraSections);
        settings.CompiledControlFile = dir.file("model.ctl");
        model = std::make_unique<unsatzonmodellklasse>(&status, &writer, statistics, StatisticsTableSize,
                                                       "unsatzon_model", settings, table.get(), irrigation, subSteps);
        if (status != 0) return status;
        model->InitTracers(&status, 0, nullptr, statistics, StatisticsTableSize);
        if (status == 0) model->SetStatus(1);
        return status;
    }
    // One model step: `fill(substep)` sets the cells' grids in place of the
    // cell step before each sub-step's runoff sums.
    void Step(const std::function<void(int)>& fill) {
        model->BeginTimeStep(hour, day, month, year);
        for (int j = 1; j <= model->SubSteps; ++j) {
            fill(j);
            model->RunoffAfterColumns();
        }
        model->EndTimeStep(hour, day, month, year);
        if (++hour == 24) {
            hour = 0;
            ++day;
        }
    }
    void SetAll(double** grid, double value) {
        for (int r = 1; r <= Rows; ++r)
            for (int c = 1; c <= Cols; ++c)
                if (grid[r][c] != -9999) grid[r][c] = value;
    }
    std::string Diagnostics() const { return console.str(); }
    double Qg(int s) { return model->GetQg()[0][s]; }
    double QD(int s) { return model->GetQD()[0][s]; }
    double QI(int s) { return model->GetQI()[0][s]; }
    double QBb(int s) { return model->GetQBb()[0][s]; }
    double QDd(int s) { return model->QDd.Rows()[0][s]; }
    double QIi(int s) { return model->QIi.Rows()[0][s]; }
};

}  // namespace runofftest
