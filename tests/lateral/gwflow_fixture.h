#pragma once
// A groundwater model on a small grid with the inputs the set-up and the soil
// model would provide, filled by hand: the soil is one layer of `SoilDepth` m,
// the surface at `Surface` m, the table `Depth` m below it, so that layer 1's
// head is Surface - Depth and layer 2's top Surface - SoilDepth.

#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "framework/diagnostics_writer.h"
#include "framework/gridtable.h"
#include "framework/memory_handling.h"
#include "framework/model_settings.h"
#include "framework/statistics_table.h"
#include "framework/zonetable.h"
#include "lateral/gwflow.h"
#include "parameters/soil.h"
#include "support/test_support.h"
#include "support/test_grid_table.h"

namespace gwtest {

struct Section {
    int method = 1;
    int maxSweeps = 10000;
    double tolerance = 1e-13;
    double alpha = 1;
    double sor = 1;
    int readCode = 0;
    int layers = 2;
    int controlRow = 0, controlColumn = 0;
    std::string controlFile = "cp.txt";
    std::string pondLine;  // the optional Use-Pond-Flag line, with its line end
    int headWriteCode = 0;
    std::string Text() const {
        std::ostringstream t;
        t << "[groundwater_flow]\n" << method << " switch\n60 interval\n1 method\n" << maxSweeps << " maxiter\n"
          << tolerance << " maxerror\n" << alpha << " alpha\n" << sor << " sor\n" << readCode << " read\n" << layers
          << " layers\n" << controlRow << " " << controlColumn << " control point\n" << controlFile << "\n"
          << pondLine;
        for (int k = 1; k <= layers; ++k) {
            t << "head" << k << ".asc\n" << headWriteCode << "\nfx" << k << ".asc\n0\nfy" << k << ".asc\n0\nbal" << k
              << ".asc\n0\n";
        }
        return t.str();
    }
};

struct Fixture : testsupport::TestGridTable {
    static constexpr double Surface = 85;
    static constexpr double Depth = 1;
    static constexpr double SoilDepth = 2;

    testsupport::TempDir dir;
    std::ostringstream console;
    DiagnosticsWriter writer{dir.file("d.xml"), DiagDebug, console};
    StatisticsTableEntry statistics[StatisticsTableSize + 1] = {};
    ModelSettings settings;
    std::vector<SoilType> soils;
    std::vector<RowExtent> extents;
    std::vector<ZoneRecord> records;
    std::vector<int> codeToRank;
    SubbasinTable subbasins;
    int rows, cols, layers;
    std::string extraSections;
    std::unique_ptr<gwflowclass> model;
    int status = -1;

    // Zone 1 everywhere, zone 2 from column `zone2From` on (0: none).
    Fixture(int rowCount, int colCount, int layerCount, int zone2From = 0)
        : TestGridTable(rowCount, colCount), rows(rowCount), cols(colCount), layers(layerCount) {
        settings.NRows = rows;
        settings.NCols = cols;
        settings.FirstRow = 1;
        settings.LastRow = rows;
        settings.CellSize = 100;
        settings.NoData = -9999;
        settings.DefaultOutputDirectory = dir.path() + "/";
        settings.InitialStateDirectory = dir.path() + "/";
        soils.assign(2, SoilType());
        soils[1].TotalDepth = SoilDepth;
        settings.SoilTable = soils.data();
        settings.SoilCount = 1;
        double** zone = Add("zone_grid", 1);
        if (zone2From > 0)
            for (int r = 1; r <= rows; ++r)
                for (int c = zone2From; c <= cols; ++c) zone[r][c] = 2;
        extents = DeriveRowExtents(zone, rows, cols, -9999);
        settings.RowExtents = extents.data();
        records.assign(3, ZoneRecord{});
        records[1].zonenwert = 1;
        records[2].zonenwert = 2;
        codeToRank = {0, 1, 2};
        subbasins.Records = records.data();
        subbasins.CodeToRank = codeToRank.data();
        subbasins.Count = zone2From > 0 ? 2 : 1;
        subbasins.LargestCode = 2;
        Add("[elevation_model]", Surface);
        Add("groundwater_recharge", 0);
        Add("groundwater_distance", -Depth);
        Add("soil_types", 1);
        Add("baseflow", 0);
        for (int k = 1; k <= layers; ++k) {
            const std::string s = std::to_string(k);
            Add("aquifer_thickness_" + s, 10);
            Add("gw_k_x_" + s, 1e-4);
            Add("gw_k_y_" + s, 1e-4);
            Add("gw_storage_coeff_" + s, k == 1 ? 0.1 : 1e-3);
            Add("gw_boundary_fix_h_" + s, -9999);
            Add("gw_boundary_fix_q_" + s, -9999);
            if (k < layers) Add("gw_kolmation_" + s, 0);
        }
    }
    ~Fixture() {
        model.reset();
    }
    double** Grid(const std::string& name) { return TestGridTable::Grid(name, true); }
    void Fill(const std::string& name, double value) {
        double** g = Grid(name);
        for (int r = 1; r <= rows; ++r)
            for (int c = 1; c <= cols; ++c) g[r][c] = value;
    }
    int Make(const Section& section, int subSteps = 1, int spinUp = 0) {
        testsupport::WriteFile(dir.file("model.ctl"), section.Text() + extraSections);
        settings.CompiledControlFile = dir.file("model.ctl");
        model = std::make_unique<gwflowclass>(&status, &writer, statistics, StatisticsTableSize, "groundwater_flow",
                                              settings, table.get(), nullptr, subbasins, subSteps, spinUp);
        return status;
    }
    void Step(int64_t hour = 1) {
        model->BeginTimeStep(hour, 1, 1, 2020);
        model->RunTimeStep(hour, 1, 1, 2020);
    }
    std::string Diagnostics() const { return console.str(); }
};

}  // namespace gwtest
